// Question: what does each core give a plug-in's call right now, and so what
// can two threads gain at most?
// Figure: the "paired", "both" and "of both" columns of the back-to-back rows
// (bench/probes/host_floors.m, part backtoback).
//
// floor_core(k)
// floor_core(-1)
//
// Keeps the host's thread on the k-th core of those this process may run on
// (0 for the first), or, with -1, lets it run on all of them again. The
// back-to-back rows of bench/probes/host_floors.m time a plug-in's 1-thread call
// on each core in turn, right beside its loops at 1 and 2 threads: on this
// virtual machine each core's speed for a plug-in's work moves on its own,
// up to 1.8x, in spells of a tenth of a second to seconds, which the
// floor_threads probes, whose loops hold a few instructions, do not see. A
// call on 2 threads can gain at most what the two cores give together at
// that moment. Only 1-thread calls run while the thread is held, so no
// plug-in's helpers start on one core with it. Built into build/bench-mex
// only; never shipped.
#include <sched.h>

#include "args.h"

namespace {

enum CoreArg { ARG_CORE = 0, CORE_ARGS = 1 };

const char* const argNames[CORE_ARGS] = {"core"};

cpu_set_t allowed;
bool known = false;

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)plhs;
    const Gateway g = {"floor_core", nrhs, prhs, argNames};
    rejectOutputs(g, nlhs, "floor_core");
    requireInputs(g, CORE_ARGS);
    const int k = roundArg(g, ARG_CORE);
    if (!known) {
        CPU_ZERO(&allowed);
        if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) mexErrMsgIdAndTxt("floor_core:affinity", "cannot read the cores");
        known = true;
    }
    if (k < 0) {
        if (sched_setaffinity(0, sizeof allowed, &allowed) != 0) mexErrMsgIdAndTxt("floor_core:affinity", "cannot restore the cores");
        return;
    }
    int seen = 0;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed) || seen++ != k) continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        if (sched_setaffinity(0, sizeof one, &one) != 0) mexErrMsgIdAndTxt("floor_core:affinity", "cannot hold core %d", k);
        return;
    }
    mexErrMsgIdAndTxt("floor_core:core", "argument 1 (core): this process may run on %d cores", seen);
}
