// otk_threads: reports and sets how many threads the plug-ins use. The
// setting is the environment variable the plug-ins read at every call, so it
// holds for the session (and for processes it starts) and nothing is cached.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "args.h"
#include "threads.h"

namespace {

enum ThreadsArg { ARG_COUNT = 0, THREADS_ARGS = 1 };

const char* const argNames[THREADS_ARGS] = {"count"};

// 0 asks for the default; otherwise a whole number of threads.
int requestedCount(const Gateway& g)
{
    const mxArray* a = g.prhs[ARG_COUNT];
    if (mxGetNumberOfElements(a) == 0) return 0;
    const double v = rawArg(g, ARG_COUNT);
    if (!(v >= 0 && v <= 4096) || v != std::floor(v))
        argError(g, ARG_COUNT, "badCount", "must be a whole number of threads from 1 to 4096, or 0 for the default");
    return static_cast<int>(v);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    const Gateway g = {"otk_threads", nrhs, prhs, argNames};
    if (nlhs > 1) gatewayError(g, "nargout", "returns one output, the thread count");
    if (nrhs > THREADS_ARGS) gatewayError(g, "nargin", "takes at most one input");
    const int before = configuredThreads();
    if (nrhs == 1) {
        const int count = requestedCount(g);
        if (count == 0) {
            unsetenv(THREADS_VARIABLE);
        } else {
            char text[16];
            std::snprintf(text, sizeof text, "%d", count);
            setenv(THREADS_VARIABLE, text, 1);
        }
    }
    // Setting returns the count that held before, as a query returns the
    // current one: n = otk_threads(1); ...; otk_threads(n) restores.
    if (nlhs == 1 || nrhs == 0) plhs[0] = mxCreateDoubleScalar(before);
}
