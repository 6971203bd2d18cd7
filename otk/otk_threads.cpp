// otk_threads: reports and sets how many threads the plug-ins use, and how
// long their helper threads stay awake after a call. Each setting is the
// environment variable the plug-ins read at every call, so it holds for the
// session (and for processes it starts) and nothing is cached.
#include <strings.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "args.h"
#include "threads.h"

namespace {

enum ThreadsArg { ARG_COUNT = 0, THREADS_ARGS = 1 };
enum SpinArg { ARG_SETTING = 0, ARG_SPIN = 1, SPIN_ARGS = 2 };

const char* const argNames[THREADS_ARGS] = {"count"};
const char* const spinArgNames[SPIN_ARGS] = {"setting", "spin"};

// 0 asks for the default; otherwise a whole number of threads.
int requestedCount(const Gateway& g)
{
    if (isDefaultValue(g.prhs[ARG_COUNT])) return 0;
    const double v = rawArg(g, ARG_COUNT);
    if (!(v >= 0 && v <= 4096) || v != std::floor(v))
        argError(g, ARG_COUNT, "badCount", "must be a whole number of threads from 1 to 4096, or 0 for the default");
    return static_cast<int>(v);
}

// -1 asks for the default (an empty value); otherwise whole microseconds,
// 0 included (helpers sleep at once).
int requestedSpin(const Gateway& g)
{
    if (isDefaultValue(g.prhs[ARG_SPIN])) return -1;
    const double v = rawArg(g, ARG_SPIN);
    if (!(v >= 0 && v <= MAX_SPIN_US) || v != std::floor(v))
        argError(g, ARG_SPIN, "badSpin", "must be a whole number of microseconds from 0 to %d, or [] for the default",
                 MAX_SPIN_US);
    return static_cast<int>(v);
}

void setVariable(const char* variable, int value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    setenv(variable, text, 1);
}

// otk_threads('spin') and otk_threads('spin', us): the second setting goes
// by name, so that every numeric form keeps meaning the thread count.
void spinSetting(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    Gateway g = {"otk_threads", nrhs, prhs, spinArgNames};
    g.component = "otk";
    char name[8] = "";
    // The whole text: 'spin' followed by a NUL and more is not 'spin'.
    if (mxGetString(prhs[ARG_SETTING], name, sizeof name) != 0 || strcasecmp(name, "spin") != 0 ||
        mxGetNumberOfElements(prhs[ARG_SETTING]) != 4)
        argError(g, ARG_SETTING, "badSetting", "must be 'spin' (or a thread count)");
    if (nrhs > SPIN_ARGS) gatewayError(g, "nargin", "takes at most two inputs: 'spin' and microseconds");
    const int before = configuredSpin();
    if (nrhs == SPIN_ARGS) {
        const int us = requestedSpin(g);
        if (us < 0)
            unsetenv(SPIN_VARIABLE);
        else
            setVariable(SPIN_VARIABLE, us);
    }
    if (nlhs == 1 || nrhs == 1) plhs[0] = mxCreateDoubleScalar(before);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    Gateway g = {"otk_threads", nrhs, prhs, argNames};
    g.component = "otk";
    if (nlhs > 1) gatewayError(g, "nargout", "returns one output, the thread count");
    if (nrhs >= 1 && mxIsChar(prhs[0])) {
        spinSetting(nlhs, plhs, nrhs, prhs);
        return;
    }
    if (nrhs > THREADS_ARGS) gatewayError(g, "nargin", "takes at most one input, or 'spin' and microseconds");
    const int before = configuredThreads();
    if (nrhs == 1) {
        const int count = requestedCount(g);
        if (count == 0)
            unsetenv(THREADS_VARIABLE);
        else
            setVariable(THREADS_VARIABLE, count);
    }
    // Setting returns the value that held before, as a query returns the
    // current one: n = otk_threads(1); ...; otk_threads(n) restores.
    if (nlhs == 1 || nrhs == 0) plhs[0] = mxCreateDoubleScalar(before);
}
