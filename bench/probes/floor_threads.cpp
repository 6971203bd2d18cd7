// Question: what can the cores give a call whose work divides perfectly?
// Figure: the "cores", "memory" and "wide" gains beside each back-to-back row
// (bench/probes/host_floors.m, part backtoback).
//
// floor_threads(chunks, steps, sink)
// floor_threads(chunks, passes, sink, data)
// floor_threads(chunks, steps, sink, [], wide)
//
// What the cores give a call whose work divides perfectly. With three
// inputs, `chunks` chunks of `steps` dependent multiply-adds each (no memory
// touched); with a fourth, chunk c reads its share of data (the c-th of
// `chunks` equal parts, every entry) `passes` times; with an empty fourth
// and a fifth that is not 0, eight independent chains of `steps` each. All
// run through the toolbox's thread layer on as many threads as the thread
// setting allows, and each chunk's result is added to sink(c) in place.
//
// Through the host, its gain from the second core, timed in the same rounds
// as a plug-in's with as much work, bounds that plug-in's gain: the first
// form is what the processor gives a chain that waits on each step (near 2
// on an idle machine), the second what the way to memory gives a call that
// reads the plug-in's own maps (on this virtual machine, far less), the
// third what the processor gives work that keeps its arithmetic busy, as a
// kernel does (another guest on the same physical core would take more of
// it than of the first form's). Built into build/bench-mex only; never
// shipped.
#include "args.h"
#include "threads.h"

namespace {

enum ProbeArg { ARG_CHUNKS = 0, ARG_STEPS = 1, ARG_SINK = 2, ARG_DATA = 3, ARG_WIDE = 4, PROBE_ARGS = 5 };

const char* const argNames[PROBE_ARGS] = {"chunks", "steps", "sink", "data", "wide"};

// A chain no compiler can shorten: each step needs the one before.
double chain(long long steps, double seed)
{
    double v = seed;
    for (long long k = 0; k < steps; ++k) v = v * 0.999999 + 0.5;
    return v;
}

// Eight chains at once: as many multiply-adds in flight as the processor
// has arithmetic for, none of them waiting on memory.
double chains(long long steps, double seed)
{
    double v[8];
    for (int j = 0; j < 8; ++j) v[j] = seed + j;
    for (long long k = 0; k < steps; ++k)
        for (int j = 0; j < 8; ++j) v[j] = v[j] * 0.999999 + 0.5;
    return ((v[0] + v[1]) + (v[2] + v[3])) + ((v[4] + v[5]) + (v[6] + v[7]));
}

// Four sums, so that the reads and not the additions set the pace.
double readAll(const double* data, long long count, long long passes)
{
    double s[4] = {0, 0, 0, 0};
    for (long long p = 0; p < passes; ++p) {
        long long k = 0;
        for (; k + 4 <= count; k += 4)
            for (int j = 0; j < 4; ++j) s[j] += data[k + j];
        for (; k < count; ++k) s[0] += data[k];
    }
    return (s[0] + s[1]) + (s[2] + s[3]);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    (void)plhs;
    const Gateway g = {"floor_threads", nrhs, prhs, argNames};
    rejectOutputs(g, nlhs, "floor_threads");
    requireInputs(g, ARG_DATA);
    const int chunks = countArg(g, ARG_CHUNKS);
    const int steps = countArg(g, ARG_STEPS);
    double* sink = dataArg(g, ARG_SINK, chunks);
    const double* data = nullptr;
    long long count = 0;
    const bool wide = nrhs > ARG_WIDE && rawArg(g, ARG_WIDE) != 0;
    if (nrhs > ARG_DATA && !wide) {
        data = dataArg(g, ARG_DATA, chunks);
        count = static_cast<long long>(mxGetNumberOfElements(prhs[ARG_DATA]));
    }
    auto run = [&](long long c) {
        if (wide) {
            sink[c] += chains(steps, static_cast<double>(c));
            return;
        }
        if (data == nullptr) {
            sink[c] += chain(steps, static_cast<double>(c));
            return;
        }
        const long long first = count * c / chunks;
        const long long last = count * (c + 1) / chunks;
        sink[c] += readAll(data + first, last - first, steps);
    };
    forEachChunk(chunks, configuredThreads(), run);
}
