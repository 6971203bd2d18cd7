// A second copy of the thread layer, built as a library of its own and
// loaded by the thread tests as the host loads a second plug-in: its pool
// and the test program's are two pools of one process.
#include "threads.h"

extern "C" {

int peerRun(long long chunks, int threads)
{
    auto body = [](long long) {};
    return forEachChunk(chunks, threads, body) ? 1 : 0;
}

int peerHelpers()
{
    return poolHelpers();
}

int peerSleeping()
{
    return poolSleeping();
}

long long peerTurnsLost()
{
    return poolTurnsLost();
}

int peerHasSpinTurn()
{
    return poolHasSpinTurn() ? 1 : 0;
}
}
