#include "threads.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// One parallel call. Helpers hold it through a shared pointer, so one that
// wakes after the call has returned still finds valid counters; it never
// runs the body then, because every chunk is already claimed.
struct Job {
    void (*body)(void*, long long) = nullptr;
    void* context = nullptr;
    long long chunks = 0;
    std::atomic<long long> next{0};  // next chunk to claim
    std::atomic<long long> done{0};  // chunks finished
    std::atomic<int> seats{0};       // helpers still allowed to join
    std::atomic<bool> failed{false};
    std::mutex m;
    std::condition_variable finished;
};

// Claims and runs chunks until none is left.
void work(Job& job)
{
    for (;;) {
        const long long c = job.next.fetch_add(1, std::memory_order_relaxed);
        if (c >= job.chunks) return;
        try {
            job.body(job.context, c);
        } catch (...) {
            job.failed.store(true);
        }
        if (job.done.fetch_add(1, std::memory_order_acq_rel) + 1 == job.chunks) {
            std::lock_guard<std::mutex> lock(job.m);
            job.finished.notify_all();
        }
    }
}

struct Pool {
    std::mutex m;
    std::condition_variable wake;
    std::shared_ptr<Job> job;
    unsigned long long generation = 0;
    bool stopping = false;
    std::vector<std::thread> helpers;
    std::mutex submit;  // one parallel call at a time; others run serially
    pid_t owner = getpid();
};

void helperLoop(Pool* pool)
{
    unsigned long long seen = 0;
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock<std::mutex> lock(pool->m);
            pool->wake.wait(lock, [&] { return pool->stopping || pool->generation != seen; });
            if (pool->stopping) return;
            seen = pool->generation;
            job = pool->job;
        }
        if (job && job->seats.fetch_sub(1) > 0) work(*job);
    }
}

// The pool of this process. A child made by fork (Octave's parcellfun) has
// none of the parent's threads: it forgets the parent's pool without touching
// it (its locks may be held) and builds its own when it needs one.
Pool* pool = nullptr;
std::once_flag forkHandler;

void forgetPoolInChild()
{
    pool = nullptr;  // deliberately leaked: it belongs to the parent
}

void stopPool()
{
    if (pool == nullptr || pool->owner != getpid()) return;
    {
        std::lock_guard<std::mutex> lock(pool->m);
        pool->stopping = true;
    }
    pool->wake.notify_all();
    for (std::thread& t : pool->helpers)
        if (t.joinable()) t.join();
    delete pool;
    pool = nullptr;
}

// Helpers must be gone before the plug-in's code is unmapped (clear mex,
// host exit): the library's static destructors run at both.
struct PoolOwner {
    ~PoolOwner() { stopPool(); }
} poolOwner;

// Grows the pool to `wanted` helpers where the OS lets it.
Pool& poolWith(int wanted)
{
    std::call_once(forkHandler, [] { pthread_atfork(nullptr, nullptr, forgetPoolInChild); });
    if (pool == nullptr) pool = new Pool;
    while (static_cast<int>(pool->helpers.size()) < wanted) {
        try {
            pool->helpers.emplace_back(helperLoop, pool);
        } catch (...) {
            break;  // no thread to be had: run with the helpers we have
        }
    }
    return *pool;
}

int positiveInt(const char* text)
{
    if (text == nullptr) return 0;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    while (end != nullptr && (*end == ' ' || *end == '\t')) ++end;
    if (end == text || (end != nullptr && *end != '\0') || errno != 0 || v < 1) return 0;
    return v > 4096 ? 4096 : static_cast<int>(v);
}

}  // namespace

int availableCores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n >= 1) return n;
    }
    const unsigned n = std::thread::hardware_concurrency();
    return n >= 1 ? static_cast<int>(n) : 1;
}

int configuredThreads()
{
    const int requested = positiveInt(std::getenv(THREADS_VARIABLE));
    return requested >= 1 ? requested : availableCores();
}

int threadsFor(double work, double minPerThread)
{
    // Small calls must not pay for reading the setting (a system call).
    if (!(work >= 2 * minPerThread)) return 1;
    const int most = configuredThreads();
    if (most <= 1) return 1;
    const double deserved = work / minPerThread;
    return deserved >= most ? most : static_cast<int>(deserved);
}

bool runChunks(long long chunks, int threads, void (*body)(void*, long long), void* context)
{
    if (chunks <= 0) return true;
    if (threads > chunks) threads = static_cast<int>(chunks < INT_MAX ? chunks : INT_MAX);
    if (threads <= 1) {
        for (long long c = 0; c < chunks; ++c) body(context, c);
        return true;
    }
    Pool& p = poolWith(threads - 1);
    std::unique_lock<std::mutex> turn(p.submit, std::try_to_lock);
    if (!turn.owns_lock() || p.helpers.empty()) {
        for (long long c = 0; c < chunks; ++c) body(context, c);
        return true;
    }

    auto job = std::make_shared<Job>();
    job->body = body;
    job->context = context;
    job->chunks = chunks;
    job->seats.store(threads - 1);
    {
        std::lock_guard<std::mutex> lock(p.m);
        p.job = job;
        ++p.generation;
    }
    p.wake.notify_all();

    work(*job);  // the caller works too, and alone if no helper comes
    {
        std::unique_lock<std::mutex> lock(job->m);
        job->finished.wait(lock, [&] { return job->done.load() == job->chunks; });
    }
    {
        std::lock_guard<std::mutex> lock(p.m);
        if (p.job == job) p.job.reset();
    }
    return !job->failed.load();
}

int poolHelpers()
{
    return pool == nullptr ? 0 : static_cast<int>(pool->helpers.size());
}
