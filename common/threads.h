// The one thread layer of the toolbox. No host calls here: workers run plain
// kernel code only, and nothing they run may call the host.
//
// A parallel call splits its work into chunks that are claimed one at a time
// by the calling thread and by helper threads of a small pool that lives as
// long as the plug-in is loaded. The caller always works too and waits only
// for chunks that a helper has actually claimed, so a helper that the OS does
// not schedule (a busy machine, a parfor worker sharing cores) never holds a
// call up: the caller simply does that helper's share itself. A helper that
// cannot be started means fewer threads, never an error. After a call a
// helper stays awake for a while (OTK_SPIN_US) before it sleeps, so that a
// loop of calls does not pay for waking it each time. Each plug-in has a
// pool of its own; the pools of a process take turns at staying awake.
#pragma once

// The environment variable that sets the thread count, read at every call.
constexpr const char* THREADS_VARIABLE = "OTK_NUM_THREADS";

// The environment variable that sets how long, in microseconds, a helper
// stays awake after a call before it sleeps, read at every parallel call.
// Loops of calls are the common case, and waking a sleeping thread costs
// about as much as a small call; a helper still awake when the next call
// comes starts at once. 0: helpers sleep as soon as a call's chunks are
// taken. The default outlasts what an Octave loop commonly does between
// two calls (making the next call's arrays, a plain call of a few tenths
// of a millisecond): only one plug-in's helpers stay awake at a time, so a
// longer wait no longer takes cores from another plug-in's calls.
constexpr const char* SPIN_VARIABLE = "OTK_SPIN_US";
constexpr int DEFAULT_SPIN_US = 2000;
constexpr int MAX_SPIN_US = 1000000;

// Threads a call may use: OTK_NUM_THREADS when it holds a positive integer,
// otherwise the cores this process may run on (its affinity mask, so a
// container or a parfor worker limited to fewer cores gets fewer). At least 1.
int configuredThreads();

// Microseconds a helper stays awake after a call: OTK_SPIN_US when it holds
// a whole number from 0 to MAX_SPIN_US, otherwise DEFAULT_SPIN_US.
int configuredSpin();

// The cores this process may run on (at least 1).
int availableCores();

// How many threads work of this size deserves: one per minPerThread units
// of work, at least 1 and at most configuredThreads(). Kernels measure
// minPerThread so that small calls stay on the caller's thread.
int threadsFor(double work, double minPerThread);

// Runs body(context, c) for every chunk c in 0..chunks-1, each exactly once,
// on at most `threads` threads, the caller being one of them, which takes
// chunks from the first up while helpers take them from the last down (a
// loop of like calls keeps each thread on much the same chunks). Returns
// when every chunk has run. Chunks must be independent of each other: they
// may run in any order and concurrently. With threads <= 1 or a single
// chunk, the chunks run in ascending order on the caller's thread.
//
// Returns false when a chunk ended by an exception on a helper thread (it is
// caught there and never reaches the host); kernels do not throw, so this
// only guards against the unforeseen.
bool runChunks(long long chunks, int threads, void (*body)(void* context, long long chunk), void* context);

// Stopping a call. A gateway installs a poll for the duration of a call
// (the host's "is an interrupt pending?"); runChunks asks it on the calling
// thread only, before each chunk that thread takes and while it waits for
// helpers, never from a helper. When it answers true the call is stopped:
// no chunk is started any more by anyone, the chunks already claimed run to
// their end, runChunks returns once they have, and every later runChunks of
// the thread returns at once without running a chunk until the poll is
// installed again. The results of a stopped call are incomplete: the
// gateway discards them (chunksStopped). A kernel whose work may be long
// splits it into chunks of bounded duration even on one thread, so that
// the poll is asked often enough. Nothing changes for a thread without a
// poll (the plug-ins that write in place finish what they start).
typedef bool (*StopPoll)();

// Installs poll for this thread's calls (nullptr removes it) and clears the
// thread's stop mark.
void setStopPoll(StopPoll poll);

// Whether a call of this thread has stopped since setStopPoll.
bool chunksStopped();

// The same for any callable f(long long chunk).
template <class F>
bool forEachChunk(long long chunks, int threads, F& f)
{
    return runChunks(chunks, threads, [](void* context, long long c) { (*static_cast<F*>(context))(c); }, &f);
}

// Wakes the helpers a call of `threads` threads will want, if they sleep,
// without giving them work: they then stay awake for the spin time, looking
// for the call. A call whose arguments take a while to read asks for them
// first: a helper asleep on a core that has been idle may take tens of
// microseconds or more to start (on a virtual machine, milliseconds), and
// woken at the start of the reading it is ready when the chunks come.
// Nothing happens with threads <= 1, with a spin of 0, when no helper
// sleeps, or while waits sleep at once (cores found busy). Returns whether
// it woke helpers. Changes no result.
bool wakeHelpers(int threads);

// Number of helper threads the pool holds now (for tests).
int poolHelpers();

// Helpers asleep now, waiting for a call (for tests).
int poolSleeping();

// Times a helper has begun to stay awake after a call, and times a helper
// has gone to sleep, since the pool started (for tests).
long long poolSpins();
long long poolNaps();

// Times a helper of this plug-in's pool has ended its spin because another
// plug-in's pool made a call, and whether this pool's helpers have the turn
// at staying awake now (for tests).
long long poolTurnsLost();
bool poolHasSpinTurn();
