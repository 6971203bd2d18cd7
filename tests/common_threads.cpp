// The thread layer: every chunk runs exactly once whatever the thread count
// and spin time, the caller and the helpers claim from opposite ends, the
// settings are read from the environment at each call, helpers that stay
// awake after a call do go to sleep, and neither a throwing chunk nor a
// forked child takes the process down; the pools of plug-ins loaded apart
// take turns at staying awake.
#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "threads.h"
#include "waiting.h"

namespace {

struct EnvGuard {
    ~EnvGuard()
    {
        unsetenv(THREADS_VARIABLE);
        unsetenv(SPIN_VARIABLE);
    }
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

// Sets 4 threads and runs a call on them, so that the pool has its helpers;
// returns how many it has.
int poolOfFour()
{
    setenv(THREADS_VARIABLE, "4", 1);
    runCounted(100, 4);
    return poolHelpers();
}

// How many memory files of this process bear the name of the turn that the
// pools of process `pid` share.
int turnFiles(pid_t pid)
{
    const std::string wanted = "/memfd:otk-spin-turn-" + std::to_string(pid) + " (deleted)";
    int found = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    while (const dirent* entry = readdir(dir)) {
        char target[256];
        const ssize_t n = readlinkat(dirfd(dir), entry->d_name, target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        found += wanted == target;
    }
    closedir(dir);
    return found;
}

}  // namespace

TEST(Threads, EveryChunkRunsExactlyOnce)
{
    EnvGuard guard;
    // Helpers that sleep at once, and helpers awake when the next call comes.
    for (const char* spin : {"0", "1000", "1000000"}) {
        setenv(SPIN_VARIABLE, spin, 1);
        for (int threads : {1, 2, 3, 8})
            for (long long chunks : {0LL, 1LL, 5LL, 1000LL}) {
                const std::vector<int> runs = runCounted(chunks, threads);
                for (long long c = 0; c < chunks; ++c)
                    ASSERT_EQ(runs[static_cast<std::size_t>(c)], 1) << "chunk " << c << " of " << chunks << ", "
                                                                    << threads << " threads, spin " << spin;
            }
    }
}

TEST(Threads, TheCallerTakesTheFirstChunksAndHelpersTheLast)
{
    // Whoever runs which chunk, the caller's are 0..k-1 and the helpers'
    // the rest, so that like calls in a loop find their data where the
    // call before left it. Chunks take a little while, so helpers join.
    EnvGuard guard;
    setenv(SPIN_VARIABLE, "1000", 1);
    const std::thread::id caller = std::this_thread::get_id();
    bool helped = false;
    for (int call = 0; call < 50 && !helped; ++call) {
        const long long chunks = 64;
        std::vector<char> byCaller(chunks);
        auto body = [&](long long c) {
            byCaller[static_cast<std::size_t>(c)] = std::this_thread::get_id() == caller;
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        };
        ASSERT_TRUE(forEachChunk(chunks, 2, body));
        long long prefix = 0;
        while (prefix < chunks && byCaller[static_cast<std::size_t>(prefix)]) ++prefix;
        for (long long c = prefix; c < chunks; ++c)
            ASSERT_FALSE(byCaller[static_cast<std::size_t>(c)]) << "call " << call << ": chunk " << c
                                                                << " on the caller after a helper's " << prefix;
        helped = prefix < chunks;
    }
    EXPECT_TRUE(helped);  // a helper did run chunks in some call
}

TEST(Threads, OneThreadRunsInOrderOnTheCaller)
{
    std::vector<long long> order;
    auto body = [&](long long c) { order.push_back(c); };
    ASSERT_TRUE(forEachChunk(4, 1, body));
    EXPECT_EQ(order, (std::vector<long long>{0, 1, 2, 3}));
}

namespace {

// A poll that says stop from its `after`-th question on, and notes whether
// any question came from a thread other than the test's.
struct StopAfter {
    static int asked;
    static int after;
    static std::thread::id caller;
    static std::atomic<bool> askedElsewhere;
    static bool poll()
    {
        if (std::this_thread::get_id() != caller) askedElsewhere.store(true);
        return ++asked >= after;
    }
};
int StopAfter::asked = 0;
int StopAfter::after = 0;
std::thread::id StopAfter::caller;
std::atomic<bool> StopAfter::askedElsewhere{false};

}  // namespace

TEST(Threads, AnInstalledPollStopsTheCallAndClaimedChunksFinish)
{
    // On 1 and 2 threads, the poll saying stop at its first, third or
    // tenth question: fewer chunks run than the call has, every chunk begun
    // has ended when runChunks returns (helpers' included), only the caller
    // was asked, and the thread's later calls run nothing until the poll is
    // installed again.
    EnvGuard guard;
    setenv(SPIN_VARIABLE, "1000", 1);
    const long long chunks = 200;
    for (int threads : {1, 2})
        for (int after : {1, 3, 10}) {
            std::atomic<long long> begun{0}, ended{0};
            auto body = [&](long long) {
                begun.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::microseconds(300));
                ended.fetch_add(1);
            };
            StopAfter::asked = 0;
            StopAfter::after = after;
            StopAfter::caller = std::this_thread::get_id();
            StopAfter::askedElsewhere.store(false);
            setStopPoll(StopAfter::poll);
            EXPECT_FALSE(chunksStopped());
            ASSERT_TRUE(forEachChunk(chunks, threads, body));
            const std::string call = std::to_string(threads) + " threads, stop at question " + std::to_string(after);
            EXPECT_TRUE(chunksStopped()) << call;
            EXPECT_EQ(begun.load(), ended.load()) << call;
            EXPECT_LT(begun.load(), chunks / 2) << call;
            if (threads == 1) {
                EXPECT_EQ(begun.load(), after - 1) << call;
            }
            EXPECT_FALSE(StopAfter::askedElsewhere.load()) << call;
            const long long before = begun.load();
            ASSERT_TRUE(forEachChunk(chunks, threads, body));
            EXPECT_EQ(begun.load(), before) << call << ": a call after the stop ran chunks";
            setStopPoll(nullptr);
            EXPECT_FALSE(chunksStopped());
            ASSERT_TRUE(forEachChunk(chunks, threads, body));
            EXPECT_EQ(begun.load(), before + chunks) << call << ": the call after the poll was removed";
        }
}

TEST(Threads, APollThatNeverStopsChangesNothing)
{
    EnvGuard guard;
    StopAfter::asked = 0;
    StopAfter::after = 1 << 30;
    StopAfter::caller = std::this_thread::get_id();
    setStopPoll(StopAfter::poll);
    for (int threads : {1, 2, 3}) {
        const std::vector<int> runs = runCounted(1000, threads);
        for (int r : runs) ASSERT_EQ(r, 1) << threads << " threads";
    }
    EXPECT_FALSE(chunksStopped());
    EXPECT_GT(StopAfter::asked, 0);
    setStopPoll(nullptr);
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

    unsetenv(SPIN_VARIABLE);
    EXPECT_EQ(configuredSpin(), DEFAULT_SPIN_US);
    const struct {
        const char* text;
        int us;
    } spins[] = {{"0", 0}, {"1", 1}, {" 250 ", 250}, {"1000000", 1000000}, {"-1", DEFAULT_SPIN_US},
                 {"1000001", DEFAULT_SPIN_US}, {"abc", DEFAULT_SPIN_US}, {"", DEFAULT_SPIN_US},
                 {"2x", DEFAULT_SPIN_US}, {"1e3", DEFAULT_SPIN_US}, {"99999999999999999999", DEFAULT_SPIN_US}};
    for (const auto& s : spins) {
        setenv(SPIN_VARIABLE, s.text, 1);
        EXPECT_EQ(configuredSpin(), s.us) << "OTK_SPIN_US='" << s.text << "'";
    }
}

// Every helper, woken by calls that want them all, stays awake for the
// spin time (none at 0) and then goes to sleep: a spin never keeps a core
// once the calls stop. A helper woken by an earlier call may still act on
// that call's setting once, hence the allowance of one spin per helper.
TEST(Threads, HelpersSleepAfterTheirSpin)
{
    EnvGuard guard;
    const int helpers = poolOfFour();
    ASSERT_GE(helpers, 3);
    const int calls = 10;
    for (const int spin : {0, 2000, 20000}) {
        ASSERT_TRUE(eventually([&] { return poolSleeping() == helpers; }))
            << "helpers still awake before spin " << spin;
        setenv(SPIN_VARIABLE, std::to_string(spin).c_str(), 1);
        const long long spins = poolSpins();
        for (int call = 0; call < calls; ++call) {
            const long long naps = poolNaps();
            runCounted(1000, helpers + 1);
            ASSERT_TRUE(eventually([&] { return poolNaps() >= naps + helpers; }))
                << "with a spin of " << spin << " us, helpers never went back to sleep: " << poolNaps() - naps
                << " of " << helpers;
        }
        if (spin == 0)
            EXPECT_LE(poolSpins(), spins + helpers) << "a spin of 0 sleeps at once";
        else
            EXPECT_TRUE(eventually([&] { return poolSpins() >= spins + helpers; }))
                << "every helper stays awake before it sleeps: " << poolSpins() - spins << " of " << helpers;
        EXPECT_TRUE(eventually([&] { return poolSleeping() == helpers; }));
    }
}

// Helpers woken ahead of a call wake without work (and spin for the spin
// time unless on the caller's core), then sleep again when no call comes; a
// call still runs every chunk once after them. One thread, or a spin of 0,
// wakes nobody.
TEST(Threads, HelpersWokenAheadSpinThenSleep)
{
    EnvGuard guard;
    const int helpers = poolOfFour();
    ASSERT_GE(helpers, 3);
    ASSERT_TRUE(eventually([&] { return poolSleeping() == helpers; }));
    EXPECT_FALSE(wakeHelpers(1));
    // A wake-up also declines while waits sleep at once (an earlier wait
    // found its core taken), so a spin of 0 is tried right before a long
    // spin that does wake the sleeping helpers: only the spin set them apart.
    int zeroSpinWakes = 0;
    EXPECT_TRUE(eventually([&] {
        if (poolSleeping() != helpers) return false;
        setenv(SPIN_VARIABLE, "0", 1);
        zeroSpinWakes += wakeHelpers(4);
        setenv(SPIN_VARIABLE, "20000", 1);
        return wakeHelpers(4);
    })) << "a wake-up with a spin of 20 ms never woke the sleeping helpers";
    EXPECT_EQ(zeroSpinWakes, 0) << "a spin of 0 wakes nobody";
    // Each woken helper naps again once, whether it spun or not (on a loaded
    // machine it may share the caller's core): its nap counts the wake. The
    // wake is asked again while a loaded machine has waits sleep at once.
    const long long naps = poolNaps();
    bool woke = false;
    EXPECT_TRUE(eventually([&] {
        woke = woke || wakeHelpers(4);
        return woke && poolNaps() >= naps + helpers && poolSleeping() == helpers;
    })) << "woken helpers never went back to sleep: " << poolNaps() - naps << " of " << helpers;
    for (const int runs : runCounted(1000, 4)) ASSERT_EQ(runs, 1);
}

// Two plug-ins, each with a pool of its own (the test program's thread layer
// and a copy loaded as the host loads a plug-in), share one turn at staying
// awake: a parallel call of either takes it, and the other's helpers, awake
// for a spin of 1 s after a call of their own, go to sleep long before that
// ends, so that two pools never spin at once and take the cores from each
// other. On a loaded machine helpers may sleep at once after every call (or
// just before the other's), so each round tries again until a helper seen
// spinning has lost its turn; the turn itself is checked at every call.
TEST(Threads, PluginsTakeTurnsAtStayingAwake)
{
    EnvGuard guard;
    void* peer = dlopen(THREADS_PEER, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(peer, nullptr) << dlerror();
    const auto peerRun = reinterpret_cast<int (*)(long long, int)>(dlsym(peer, "peerRun"));
    const auto peerHelpers = reinterpret_cast<int (*)()>(dlsym(peer, "peerHelpers"));
    const auto peerSleeping = reinterpret_cast<int (*)()>(dlsym(peer, "peerSleeping"));
    const auto peerHasSpinTurn = reinterpret_cast<int (*)()>(dlsym(peer, "peerHasSpinTurn"));
    const auto peerTurnsLost = reinterpret_cast<long long (*)()>(dlsym(peer, "peerTurnsLost"));
    ASSERT_TRUE(peerRun != nullptr && peerHelpers != nullptr && peerSleeping != nullptr && peerHasSpinTurn != nullptr &&
                peerTurnsLost != nullptr);
    setenv(THREADS_VARIABLE, "2", 1);
    struct Side {
        const char* name;
        std::function<void()> call;
        std::function<int()> helpers, sleeping;
        std::function<bool()> hasTurn;
        std::function<long long()> turnsLost;
    };
    const Side sides[2] = {
        {"the test program", [] { runCounted(100, 2); }, poolHelpers, poolSleeping, poolHasSpinTurn, poolTurnsLost},
        {"the loaded copy", [&] { ASSERT_EQ(peerRun(100, 2), 1); }, peerHelpers, peerSleeping,
         [&] { return peerHasSpinTurn() == 1; }, peerTurnsLost}};
    for (int round = 0; round < 6; ++round) {
        const Side& other = sides[round % 2];
        const Side& mine = sides[1 - round % 2];
        bool seenSpinning = false, lostTurn = false;
        for (int attempt = 0; attempt < 20 && !lostTurn; ++attempt) {
            setenv(SPIN_VARIABLE, "1000000", 1);
            other.call();
            ASSERT_TRUE(other.hasTurn() && !mine.hasTurn()) << "round " << round << ": a call of " << other.name
                                                           << " did not take the turn";
            holdsWithin(0.002, [] { return false; });
            const bool spinning = other.helpers() >= 1 && other.sleeping() == 0;
            seenSpinning = seenSpinning || spinning;
            const long long lost = other.turnsLost();
            // Helpers that sleep at once after this call: ones awake beside
            // the other's would send both to sleep as on a busy machine.
            setenv(SPIN_VARIABLE, "0", 1);
            mine.call();
            ASSERT_TRUE(mine.hasTurn() && !other.hasTurn()) << "round " << round << ": a call of " << mine.name
                                                           << " did not take the turn";
            lostTurn = spinning && holdsWithin(0.1, [&] { return other.turnsLost() > lost; });
            ASSERT_TRUE(eventually([&] { return other.sleeping() == other.helpers(); }));
        }
        if (seenSpinning) {
            EXPECT_TRUE(lostTurn) << "round " << round << ": " << other.name
                                  << " spun on after calls of " << mine.name;
        }
    }
    // A wake-up ahead of a call takes the turn as the call does (asked
    // again while a loaded machine has waits sleep at once, which wakes
    // nobody).
    setenv(SPIN_VARIABLE, "1000000", 1);
    EXPECT_TRUE(eventually([&] {
        EXPECT_EQ(peerRun(100, 2), 1);
        wakeHelpers(2);
        return poolHasSpinTurn() && peerHasSpinTurn() == 0;
    })) << "helpers woken ahead of a call did not take the turn";
    EXPECT_EQ(turnFiles(getpid()), 1) << "the second plug-in made a turn of its own";
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

TEST(Threads, ACallWhileThePoolIsTakenRunsOnItsCaller)
{
    // Another thread's call holds the pool until this one is done: this one
    // must neither wait for it nor lose a chunk, and runs in order here.
    std::atomic<bool> inside{false}, done{false};
    auto hold = [&](long long) {
        inside = true;
        for (int k = 0; k < 10000 && !done; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    std::thread other([&] { forEachChunk(2, 2, hold); });
    for (int k = 0; k < 10000 && !inside; ++k) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::vector<long long> order;
    bool here = true;
    const std::thread::id caller = std::this_thread::get_id();
    auto body = [&](long long c) {
        order.push_back(c);
        here = here && std::this_thread::get_id() == caller;
    };
    const bool ok = forEachChunk(4, 2, body);
    done = true;
    other.join();
    ASSERT_TRUE(inside.load());
    EXPECT_TRUE(ok);
    EXPECT_TRUE(here);
    EXPECT_EQ(order, (std::vector<long long>{0, 1, 2, 3}));
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

// Why the child of a parent with helpers ended, by its exit status.
enum ChildStatus {
    CHILD_OK = 0,
    CHILD_INHERITED_HELPERS = 2,
    CHILD_NO_HELPER_RAN = 3,
    CHILD_WRONG_RESULTS = 4,
    CHILD_FAILED_CALL = 5,
    CHILD_NO_POOL = 6,
    CHILD_NO_TURN_OF_ITS_OWN = 7
};

// In a forked child: the pool starts empty, a parallel call gets helpers of
// its own, and the results are right.
int childRun()
{
    if (poolHelpers() != 0) return CHILD_INHERITED_HELPERS;
    const long long chunks = 200;
    const std::thread::id caller = std::this_thread::get_id();
    std::vector<double> out(static_cast<std::size_t>(chunks), -1.0);
    std::vector<std::atomic<int>> runs(static_cast<std::size_t>(chunks));
    std::atomic<int> elsewhere{0};
    auto body = [&](long long c) {
        if (std::this_thread::get_id() != caller) elsewhere.fetch_add(1);
        // The first chunk holds its thread until some chunk has run off the
        // caller's thread, so a pool that has helpers on paper only cannot
        // pass by the caller doing everything.
        if (c == 0) eventually([&] { return elsewhere.load() > 0; }, 10);
        runs[static_cast<std::size_t>(c)].fetch_add(1);
        out[static_cast<std::size_t>(c)] = 0.5 * static_cast<double>(c) * static_cast<double>(c) + 1;
    };
    if (!forEachChunk(chunks, 4, body)) return CHILD_FAILED_CALL;
    if (poolHelpers() < 1) return CHILD_NO_POOL;
    if (turnFiles(getpid()) != 1) return CHILD_NO_TURN_OF_ITS_OWN;
    if (elsewhere.load() == 0) return CHILD_NO_HELPER_RAN;
    for (long long c = 0; c < chunks; ++c)
        if (runs[static_cast<std::size_t>(c)].load() != 1 ||
            out[static_cast<std::size_t>(c)] != 0.5 * static_cast<double>(c) * static_cast<double>(c) + 1)
            return CHILD_WRONG_RESULTS;
    return CHILD_OK;
}

TEST(Threads, AForkedChildWorksWithoutTheParentsHelpers)
{
    EnvGuard guard;
    const int helpers = poolOfFour();  // the parent now has helpers
    ASSERT_GE(helpers, 3);
    for (const char* spin : {"0", "1000000"}) {
        // At the fork the parent's helpers are asleep, or awake after a call
        // (as they are when a host forks between calls); each has let go of
        // the call it ran, which a leak check in the child would report.
        setenv(SPIN_VARIABLE, spin, 1);
        const long long spins = poolSpins(), naps = poolNaps();
        runCounted(100, helpers + 1);
        if (std::string(spin) == "0")
            ASSERT_TRUE(eventually([&] { return poolNaps() >= naps + helpers; }));
        else
            ASSERT_TRUE(eventually([&] { return poolSpins() >= spins + helpers; }));
        std::fflush(nullptr);  // nothing buffered is written twice
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // exit, not _exit: the static destructors stop the child's own
            // helpers, and a child that cannot stop them never ends.
            std::exit(childRun());
        }
        int status = 0;
        pid_t ended = 0;
        const bool exited = eventually([&] { return (ended = waitpid(child, &status, WNOHANG)) != 0; });
        if (!exited) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            FAIL() << "the forked child (spin " << spin << ") did not end within 30 s";
        }
        ASSERT_EQ(ended, child);
        ASSERT_TRUE(WIFEXITED(status)) << "the forked child ended by signal "
                                       << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        EXPECT_EQ(WEXITSTATUS(status), CHILD_OK)
            << "2: it inherited the parent's helpers, 3: no chunk ran on a helper, 4: wrong results, "
               "5: a chunk failed, 6: no pool of its own, 7: no turn of its own";
    }
}
