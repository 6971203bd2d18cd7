#include "threads.h"

#include <dirent.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    std::atomic<long long> claimed{0};  // chunks claimed so far, by anyone
    long long front = 0;                 // claimed by the caller: 0 .. front-1
    std::atomic<long long> back{0};      // claimed by helpers: the last `back`
    std::atomic<long long> done{0};      // chunks finished
    std::atomic<long long> target{0};    // chunks the call waits for: all, or those claimed when it stopped
    std::atomic<int> seats{0};           // helpers still allowed to join
    std::atomic<bool> failed{false};
    bool stopped = false;  // by the caller's poll (the caller's alone)
    std::mutex m;
    std::condition_variable finished;
};

// Ends the claims of a job: every ticket taken from now on lies beyond the
// chunks, and the call waits only for the chunks claimed before (a ticket
// below the count is a chunk claimed). A helper that finishes the last of
// them sees the new target (both are sequentially consistent: the caller
// sets the target before it looks at done, the helper counts done before
// it looks at the target).
void stop(Job& job)
{
    const long long taken = job.claimed.exchange(LLONG_MAX / 2);
    job.target.store(std::min(taken, job.chunks));
    job.stopped = true;
}

// Claims and runs chunks until none is left; returns how many it ran. The
// caller claims from the first chunk up, helpers from the last down, so a
// loop of like calls gives each thread much the same chunks, whose data its
// core's caches still hold from the call before (a loop of 16-image Wendlow
// calls at 2 threads: 155 us against 175 with claims taken by turns, which
// moved every image from core to core). A claim first takes a ticket: while
// tickets stay below the count, the caller's chunks and the helpers' do not
// meet, as together they are no more than the tickets taken.
//
// The caller asks poll (when there is one) before each claim; when it
// answers true, stop() ends the claims of everyone.
long long work(Job& job, bool caller, StopPoll poll = nullptr)
{
    for (long long ran = 0;; ++ran) {
        if (poll != nullptr && poll()) {
            stop(job);
            return ran;
        }
        if (job.claimed.fetch_add(1, std::memory_order_relaxed) >= job.chunks) return ran;
        const long long c = caller ? job.front++ : job.chunks - 1 - job.back.fetch_add(1, std::memory_order_relaxed);
        try {
            job.body(job.context, c);
        } catch (...) {
            job.failed.store(true);
        }
        if (job.done.fetch_add(1) + 1 == job.target.load()) {
            std::lock_guard<std::mutex> lock(job.m);
            job.finished.notify_all();
        }
    }
}

// Every plug-in is a library of its own, loaded apart from the others, with
// a pool of its own. Helpers of two pools spinning at once take the cores
// from each other's calls and from the host's thread: a loop of two
// plug-ins' calls at 2 threads, with helpers awake for 3 ms, took 40 % longer
// than with 0.3 ms, where the same loop of one plug-in took 40 % less. So
// the pools of a process take turns: a parallel call, or a wake-up ahead of
// one, makes its pool the one whose helpers may stay awake, and the helpers
// of any other pool go to sleep within a round of looks.
struct SpinTurn {
    unsigned long long pools;    // numbers handed out to pools so far
    unsigned long long spinner;  // the number of the pool whose helpers may stay awake
};

struct Pool {
    SpinTurn* turn = nullptr;  // the turn shared by the process's pools
    unsigned long long number = 0;  // this pool's number in it
    std::mutex m;
    std::condition_variable wake;
    std::shared_ptr<Job> job;
    // Changed under m; read without it by helpers that stay awake.
    std::atomic<unsigned long long> generation{0};
    bool stopping = false;
    int spinUs = 0;    // how long helpers stay awake after the latest call
    int sleeping = 0;  // helpers waiting on `wake`
    long long naps = 0;  // times a helper began to wait on `wake`
    std::atomic<long long> spins{0};
    std::atomic<long long> turnsLost{0};
    std::vector<std::thread> helpers;
    std::mutex submit;  // one parallel call at a time; others run serially
    pid_t owner = getpid();
    int wakerCpu = -1;  // the core of the caller that woke helpers ahead of a call (under m)
};

// Tells the core that this thread is waiting, so that a sibling hardware
// thread gets the core's resources meanwhile.
inline void pauseBriefly()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__) || defined(__arm__)
    __asm__ __volatile__("yield");
#endif
}

// Looks between reads of the clock: a look is a load and a pause, a read of
// the clock (and the offer of the core) far more, so they come only every
// few microseconds.
constexpr int LOOKS_PER_ROUND = 256;

// A round takes a few microseconds; one that took this long means the OS ran
// something else on this core meanwhile.
constexpr auto PREEMPTED = std::chrono::microseconds(100);

// How long every wait sleeps at once after one has found its core taken.
// On a machine whose cores are busy a thread that sleeps is the better
// choice: the OS runs a thread it wakes at once, while a thread that stays
// awake waits for the end of another's time slice (milliseconds) whenever it
// has lost its core, and a call can then wait for a chunk it has claimed.
// A core taken once is not yet a busy machine: the system's own threads
// take one now and then on an idle one (here every few seconds), and a
// pause of BUSY_PAUSE each time made some 200 calls of a loop wake their
// helpers. So the first time costs FIRST_PAUSE, and BUSY_PAUSE only when
// it happens again within BUSY_WINDOW, as it does beside busy loops.
constexpr auto BUSY_PAUSE = std::chrono::milliseconds(50);
constexpr auto FIRST_PAUSE = std::chrono::milliseconds(5);
constexpr auto BUSY_WINDOW = std::chrono::milliseconds(200);

// Until when (steady_clock ticks) waits sleep at once.
std::atomic<long long> sleepUntil{0};

// When (steady_clock ticks) a wait last found its core taken.
std::atomic<long long> lastTaken{0};

// Every wait sleeps at once for a while from now: see BUSY_PAUSE.
void coreWasTaken(std::chrono::steady_clock::time_point now)
{
    using Ticks = std::chrono::steady_clock::duration;
    const long long at = now.time_since_epoch().count();
    const long long last = lastTaken.exchange(at, std::memory_order_relaxed);
    const bool again = last != 0 && at - last < std::chrono::duration_cast<Ticks>(BUSY_WINDOW).count();
    const auto pause = again ? std::chrono::duration_cast<Ticks>(BUSY_PAUSE) : std::chrono::duration_cast<Ticks>(FIRST_PAUSE);
    sleepUntil.store((now + pause).time_since_epoch().count(), std::memory_order_relaxed);
}

// Times the OS has taken this thread's core for another thread so far
// (involuntary switches), or -1 when it cannot tell.
long coreTakenCount()
{
    struct rusage usage;
    if (getrusage(RUSAGE_THREAD, &usage) != 0) return -1;
    return usage.ru_nivcsw;
}

// Waits awake, for up to `budget`, until ready() holds; false
// when it did not, and the thread then sleeps. A thread that has to wait
// anyway sleeps only when nothing came in that time, so a loop of calls
// never pays for waking it.
//
// With the cores busy the wait must cost the others nothing: it ends as soon
// as a round shows that the OS ran something else on this core meanwhile,
// and then every wait sleeps at once for a while (see BUSY_PAUSE).
// A helper also offers its core to others (sched_yield) after every round:
// the caller of the next call is often the thread it would take the core
// from, in this process's share of a busy machine. The caller's own wait
// (for chunks a helper is running) does not: yielding there can hand its
// core to another process for a whole time slice.
//
// givenUp() says, at the start and once a round, that the wait is no
// longer wanted, which ends it whatever else the round saw.
template <class Ready, class GivenUp>
bool stayAwake(std::chrono::nanoseconds budget, bool yielding, Ready ready, GivenUp givenUp)
{
    if (budget.count() <= 0) return false;
    if (givenUp()) return ready();
    auto now = std::chrono::steady_clock::now();
    if (now.time_since_epoch().count() < sleepUntil.load(std::memory_order_relaxed)) return false;
    const long takenBefore = coreTakenCount();
    const auto until = now + budget;
    for (;;) {
        for (int i = 0; i < LOOKS_PER_ROUND; ++i) {
            if (ready()) return true;
            pauseBriefly();
        }
        if (yielding) std::this_thread::yield();
        if (givenUp()) return ready();  // before the look at the clock: a turn lost is no busy core
        const auto before = now;
        now = std::chrono::steady_clock::now();
        if (now - before >= PREEMPTED) {
            // A long round with no switch is the virtual machine pausing
            // this core, which says nothing about other work here: seen
            // two or three times a second on an idle host, and when it sent
            // every helper to sleep a tenth of a loop's calls woke them.
            const long takenNow = coreTakenCount();
            if (takenNow < 0 || takenBefore < 0 || takenNow != takenBefore) {
                coreWasTaken(now);
                return ready();
            }
        }
        if (now >= until) return ready();
    }
}

// What the caller waits awake for a helper's last chunk beyond two chunks'
// time: the end of a chunk and the look that sees it.
constexpr auto CHUNK_SLACK = std::chrono::microseconds(20);

void helperLoop(Pool* pool)
{
    unsigned long long seen = 0;
    int spinUs = 0;
    for (;;) {
        if (spinUs > 0) {
            pool->spins.fetch_add(1, std::memory_order_relaxed);
            auto called = [&] { return pool->generation.load(std::memory_order_acquire) != seen; };
            auto otherPoolsTurn = [&] {
                const bool lost = __atomic_load_n(&pool->turn->spinner, __ATOMIC_RELAXED) != pool->number;
                if (lost) pool->turnsLost.fetch_add(1, std::memory_order_relaxed);
                return lost;
            };
            stayAwake(std::chrono::microseconds(spinUs), true, called, otherPoolsTurn);
        }
        std::shared_ptr<Job> job;
        {
            std::unique_lock<std::mutex> lock(pool->m);
            auto called = [&] { return pool->stopping || pool->generation.load() != seen; };
            if (!called()) {
                ++pool->sleeping;
                ++pool->naps;
                pool->wake.wait(lock, called);
                --pool->sleeping;
            }
            if (pool->stopping) return;
            seen = pool->generation.load();
            job = pool->job;
            spinUs = pool->spinUs;
            // Woken ahead of a call onto the caller's own core (where a
            // busy machine's scheduler puts it), spinning would only slow
            // the caller: sleep again and let the call wake it if it wants.
            if (!job && pool->wakerCpu >= 0 && sched_getcpu() == pool->wakerCpu) spinUs = 0;
        }
        if (job && job->seats.fetch_sub(1) > 0) work(*job, false);
    }
}

// The pool of this process. A child made by fork (Octave's parcellfun) has
// none of the parent's threads: it forgets the parent's pool without touching
// it (its locks may be held) and builds its own when it needs one.
Pool* pool = nullptr;
std::once_flag forkHandler;

// The parent's pool as the child inherited it, never used nor freed (it
// belongs to the parent); kept reachable so that a leak check at the child's
// exit does not report it.
Pool* parentsPool = nullptr;

// The turn as this plug-in found it, and the one it uses where no turn can
// be shared.
SpinTurn* turnOfProcess = nullptr;
SpinTurn turnOfThisPlugin;

void forgetPoolInChild()
{
    if (pool != nullptr) parentsPool = pool;
    pool = nullptr;
    turnOfProcess = nullptr;  // the parent's: the child finds or makes its own
}

// The process's turn lives in a memory file named after the process, which
// every plug-in finds among the process's open files: libraries loaded
// apart share nothing else, and the file (kept open, never unmapped)
// outlives the plug-in that made it, which `clear mex` may unload. The name
// holds the process id, so a forked child, which inherits the parent's
// file, makes its own. Where no file can be had the plug-in keeps a turn of
// its own, and its helpers spin as if no other plug-in were loaded (so
// also where the C library is too old to make memory files).
SpinTurn* findTurnOfProcess()
{
#if defined(__linux__) && defined(MFD_CLOEXEC)
    char name[64];
    std::snprintf(name, sizeof name, "otk-spin-turn-%ld", static_cast<long>(getpid()));
    char wanted[96];
    std::snprintf(wanted, sizeof wanted, "/memfd:%s (deleted)", name);
    int fd = -1;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return &turnOfThisPlugin;  // no other plug-in could find a file either
    while (const dirent* entry = readdir(dir)) {
        char target[sizeof wanted + 1];
        const ssize_t n = readlinkat(dirfd(dir), entry->d_name, target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        if (std::strcmp(target, wanted) == 0) {
            fd = std::atoi(entry->d_name);
            break;
        }
    }
    closedir(dir);
    const bool made = fd < 0;
    if (made) {
        fd = memfd_create(name, MFD_CLOEXEC);
        if (fd >= 0 && ftruncate(fd, sizeof(SpinTurn)) != 0) {
            close(fd);
            fd = -1;
        }
    }
    if (fd >= 0) {
        void* page = mmap(nullptr, sizeof(SpinTurn), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (page != MAP_FAILED) return static_cast<SpinTurn*>(page);  // a new file reads as zeros
        if (made) close(fd);
    }
#endif
    return &turnOfThisPlugin;
}

// Makes p's helpers the ones that may stay awake.
void takeSpinTurn(Pool& p)
{
    __atomic_store_n(&p.turn->spinner, p.number, __ATOMIC_RELAXED);
}

void stopPool()
{
    if (pool == nullptr || pool->owner != getpid()) return;
    {
        std::lock_guard<std::mutex> lock(pool->m);
        pool->stopping = true;
        pool->generation.fetch_add(1);  // ends the wait of helpers awake
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
    if (pool == nullptr) {
        if (turnOfProcess == nullptr) turnOfProcess = findTurnOfProcess();
        pool = new Pool;
        pool->turn = turnOfProcess;
        pool->number = __atomic_add_fetch(&turnOfProcess->pools, 1, __ATOMIC_RELAXED);
    }
    while (static_cast<int>(pool->helpers.size()) < wanted) {
        try {
            pool->helpers.emplace_back(helperLoop, pool);
        } catch (...) {
            break;  // no thread to be had: run with the helpers we have
        }
    }
    return *pool;
}

// A whole number from 0 to most, or -1.
int wholeNumber(const char* text, int most)
{
    if (text == nullptr) return -1;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    while (end != nullptr && (*end == ' ' || *end == '\t')) ++end;
    if (end == text || (end != nullptr && *end != '\0') || errno != 0 || v < 0 || v > most) return -1;
    return static_cast<int>(v);
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

int configuredSpin()
{
    const int us = wholeNumber(std::getenv(SPIN_VARIABLE), MAX_SPIN_US);
    return us >= 0 ? us : DEFAULT_SPIN_US;
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

namespace {

// The poll of this thread's calls and whether one of them has stopped.
// Thread-local: a helper has neither, so only a caller ever asks the host.
thread_local StopPoll installedPoll = nullptr;
thread_local bool stopMark = false;

// How often a caller that sleeps until helpers finish their chunks asks the
// poll.
constexpr auto POLL_INTERVAL = std::chrono::milliseconds(5);

// Whether the installed poll says stop; marks the thread's call stopped.
bool stopAsked()
{
    if (installedPoll == nullptr || !installedPoll()) return false;
    stopMark = true;
    return true;
}

// The chunks in ascending order on the caller's thread, the poll asked before each.
void runSerially(long long chunks, void (*body)(void*, long long), void* context)
{
    for (long long c = 0; c < chunks; ++c) {
        if (stopAsked()) return;
        body(context, c);
    }
}

}  // namespace

void setStopPoll(StopPoll poll)
{
    installedPoll = poll;
    stopMark = false;
}

bool chunksStopped()
{
    return stopMark;
}

bool runChunks(long long chunks, int threads, void (*body)(void*, long long), void* context)
{
    if (chunks <= 0 || stopMark) return true;
    if (threads > chunks) threads = static_cast<int>(chunks < INT_MAX ? chunks : INT_MAX);
    if (threads <= 1) {
        runSerially(chunks, body, context);
        return true;
    }
    Pool& p = poolWith(threads - 1);
    std::unique_lock<std::mutex> turn(p.submit, std::try_to_lock);
    if (!turn.owns_lock() || p.helpers.empty()) {
        runSerially(chunks, body, context);
        return true;
    }

    const int spinUs = configuredSpin();
    auto job = std::make_shared<Job>();
    job->body = body;
    job->context = context;
    job->chunks = chunks;
    job->target.store(chunks);
    job->seats.store(threads - 1);
    bool wakeSleepers = false;
    {
        std::lock_guard<std::mutex> lock(p.m);
        p.job = job;
        p.spinUs = spinUs;
        p.wakerCpu = -1;  // a call: every helper may join and spin after it
        takeSpinTurn(p);
        p.generation.fetch_add(1);
        // Helpers still awake from the call before find this one by
        // themselves; sleepers are woken only for seats those cannot fill.
        // All of them then, not one signal per seat: with single signals a
        // helper was seen to stay asleep through a call meant for it.
        const int awake = static_cast<int>(p.helpers.size()) - p.sleeping;
        wakeSleepers = p.sleeping > 0 && awake < threads - 1;
    }
    if (wakeSleepers) p.wake.notify_all();

    const auto started = std::chrono::steady_clock::now();
    const StopPoll poll = installedPoll;
    const long long ran = work(*job, true, poll);  // the caller works too, and alone if no helper comes
    // What is left are chunks helpers are running, each about as long as the
    // caller's own: worth waiting for awake, for a couple of chunks' time at
    // most (and never beyond the spin time), rather than paying for a
    // wake-up. A helper that takes longer has lost its core, and a caller
    // that slept then leaves the core to it.
    auto allDone = [&] { return job->done.load() == job->target.load(); };
    if (!allDone()) {
        std::chrono::nanoseconds chunkTime{0};
        if (ran > 0) chunkTime = (std::chrono::steady_clock::now() - started) / ran;
        const std::chrono::nanoseconds budget = std::min<std::chrono::nanoseconds>(std::chrono::microseconds(spinUs),
                                                                                   2 * chunkTime + CHUNK_SLACK);
        if (!stayAwake(budget, false, allDone, [] { return false; })) {
            // Every chunk is claimed by now; asked while the caller sleeps,
            // the poll can only mark the call stopped, which ends the
            // kernel's later steps.
            std::unique_lock<std::mutex> lock(job->m);
            if (poll == nullptr) job->finished.wait(lock, allDone);
            else while (!job->finished.wait_for(lock, POLL_INTERVAL, allDone)) {
                if (job->stopped) continue;
                lock.unlock();
                job->stopped = poll();
                lock.lock();
            }
        }
    }
    if (job->stopped) stopMark = true;
    {
        std::lock_guard<std::mutex> lock(p.m);
        if (p.job == job) p.job.reset();
    }
    return !job->failed.load();
}

bool wakeHelpers(int threads)
{
    if (threads <= 1) return false;
    const int spinUs = configuredSpin();
    if (spinUs <= 0) return false;  // they would sleep again at once
    // Not while waits sleep at once (cores found busy): see coreWasTaken.
    if (std::chrono::steady_clock::now().time_since_epoch().count() < sleepUntil.load(std::memory_order_relaxed))
        return false;
    Pool& p = poolWith(threads - 1);
    {
        std::lock_guard<std::mutex> lock(p.m);
        takeSpinTurn(p);  // helpers awake now stay so
        if (p.sleeping == 0) return false;
        p.wakerCpu = sched_getcpu();
        // A new generation with the job as it stands: between calls none,
        // so a woken helper finds nothing to join and spins until the call
        // comes (a call in flight from another thread it may join, as any
        // helper may while the call has seats).
        p.spinUs = spinUs;
        p.generation.fetch_add(1);
    }
    p.wake.notify_all();
    return true;
}

int poolHelpers()
{
    return pool == nullptr ? 0 : static_cast<int>(pool->helpers.size());
}

int poolSleeping()
{
    if (pool == nullptr) return 0;
    std::lock_guard<std::mutex> lock(pool->m);
    return pool->sleeping;
}

long long poolSpins()
{
    return pool == nullptr ? 0 : pool->spins.load();
}

long long poolTurnsLost()
{
    return pool == nullptr ? 0 : pool->turnsLost.load();
}

bool poolHasSpinTurn()
{
    return pool != nullptr && __atomic_load_n(&pool->turn->spinner, __ATOMIC_RELAXED) == pool->number;
}

long long poolNaps()
{
    if (pool == nullptr) return 0;
    std::lock_guard<std::mutex> lock(pool->m);
    return pool->naps;
}
