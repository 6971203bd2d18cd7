// The thread layer: every chunk runs exactly once whatever the thread count,
// the setting is read from the environment at each call, and neither a
// throwing chunk nor a forked child takes the process down.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#include "threads.h"

namespace {

struct EnvGuard {
    ~EnvGuard() { unsetenv(THREADS_VARIABLE); }
};

std::vector<int> runCounted(long long chunks, int threads)
{
    std::vector<std::atomic<int>> runs(static_cast<std::size_t>(chunks));
    auto body = [&](long long c) { runs[static_cast<std::size_t>(c)].fetch_add(1); };
    EXPECT_TRUE(forEachChunk(chunks, threads, body));
    std::vector<int> out;
    for (auto& r : runs) out.push_back(r.load());
    return out;
}

}  // namespace

TEST(Threads, EveryChunkRunsExactlyOnce)
{
    for (int threads : {1, 2, 3, 8})
        for (long long chunks : {0LL, 1LL, 5LL, 1000LL}) {
            const std::vector<int> runs = runCounted(chunks, threads);
            for (long long c = 0; c < chunks; ++c)
                ASSERT_EQ(runs[static_cast<std::size_t>(c)], 1) << "chunk " << c << " of " << chunks << ", "
                                                                << threads << " threads";
        }
}

TEST(Threads, OneThreadRunsInOrderOnTheCaller)
{
    std::vector<long long> order;
    auto body = [&](long long c) { order.push_back(c); };
    ASSERT_TRUE(forEachChunk(4, 1, body));
    EXPECT_EQ(order, (std::vector<long long>{0, 1, 2, 3}));
}

TEST(Threads, SettingIsReadAtEachCall)
{
    EnvGuard guard;
    const int cores = availableCores();
    ASSERT_GE(cores, 1);
    unsetenv(THREADS_VARIABLE);
    EXPECT_EQ(configuredThreads(), cores);
    setenv(THREADS_VARIABLE, "3", 1);
    EXPECT_EQ(configuredThreads(), 3);
    setenv(THREADS_VARIABLE, " 5 ", 1);
    EXPECT_EQ(configuredThreads(), 5) << "blanks around the number are allowed";
    for (const char* bad : {"0", "-2", "abc", "", "2x", "1e3"}) {
        setenv(THREADS_VARIABLE, bad, 1);
        EXPECT_EQ(configuredThreads(), cores) << "'" << bad << "' falls back to the cores";
    }
    setenv(THREADS_VARIABLE, "999999", 1);
    EXPECT_EQ(configuredThreads(), 4096);
}

TEST(Threads, SmallWorkStaysOnTheCaller)
{
    EnvGuard guard;
    setenv(THREADS_VARIABLE, "4", 1);
    EXPECT_EQ(threadsFor(0, 100), 1);
    EXPECT_EQ(threadsFor(199, 100), 1);
    EXPECT_EQ(threadsFor(250, 100), 2);
    EXPECT_EQ(threadsFor(1e12, 100), 4);
    setenv(THREADS_VARIABLE, "1", 1);
    EXPECT_EQ(threadsFor(1e12, 100), 1);
}

TEST(Threads, AThrowingChunkIsContained)
{
    std::atomic<int> ran{0};
    auto body = [&](long long c) {
        ran.fetch_add(1);
        if (c == 7) throw std::runtime_error("chunk failure");
    };
    const bool ok = forEachChunk(64, 4, body);
    // Caught on whichever thread ran the chunk, the caller's included, and
    // reported; the other chunks still run.
    EXPECT_FALSE(ok);
    EXPECT_EQ(ran.load(), 64);
}

TEST(Threads, AForkedChildWorksWithoutTheParentsHelpers)
{
    runCounted(100, 4);  // the parent now has helpers
    ASSERT_GE(poolHelpers(), 1);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::vector<std::atomic<int>> runs(200);
        auto body = [&](long long c) { runs[static_cast<std::size_t>(c)].fetch_add(1); };
        const bool ok = forEachChunk(200, 4, body);
        for (auto& r : runs)
            if (r.load() != 1) _exit(2);
        _exit(ok ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
