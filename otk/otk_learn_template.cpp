// otk_learn_template: a template of strong, separated elements picked from
// the mean pooled responses of aligned examples.
#include <cmath>
#include <cstddef>

#include "alloc.h"
#include "interrupt.h"
#include "learn.h"
#include "otk_args.h"

namespace {

enum LearnArg { ARG_MAPS = 0, ARG_K = 1, ARG_FIRST_OPTION = 2 };
enum LearnOption {
    OPT_SHIFT_RANGE,
    OPT_ORI_RANGE,
    OPT_SHIFT_STEP,
    OPT_SATURATION,
    OPT_RADIUS,
    OPT_SEPARATION,
    OPT_BIAS_FRACTION,
    LEARN_OPTIONS
};

// A 1 x n row of the first n values.
mxArray* row(const double* values, long long n)
{
    mxArray* a = mxCreateDoubleMatrix(1, static_cast<mwSize>(n), mxREAL);
    double* to = hostDoubles(a);
    for (long long k = 0; k < n; ++k) to[k] = values[k];
    return a;
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    const OtkCall c = {"otk_learn_template", nrhs, prhs};
    const InterruptWatch interrupt(c.name);
    requireOtkInputs(c, 2, "MAPS and K");
    requireOtkOutputs(c, nlhs, 1);
    const OtkMaps maps = readMaps(c, prhs[ARG_MAPS], "MAPS (argument 1)", LAYOUT_STACKS);
    requireMapsNotEmpty(c, maps, "MAPS (argument 1)");
    LearnState s;
    s.K = static_cast<long long>(readScalar(c, prhs[ARG_K], "K (argument 2)", KIND_POSITIVE_INTEGER));
    OptionSlot options[LEARN_OPTIONS] = {{"ShiftRange", nullptr}, {"OriRange", nullptr},   {"ShiftStep", nullptr},
                                         {"Saturation", nullptr}, {"Radius", nullptr},     {"Separation", nullptr},
                                         {"BiasFraction", nullptr}};
    readOptions(c, ARG_FIRST_OPTION, options, LEARN_OPTIONS);
    readPoolingOptions(c, options, maps, 1, 1, s.pool);
    s.radius = INFINITY;
    s.separation = 3;
    double biasFraction = 0.5;
    if (options[OPT_RADIUS].value)
        s.radius = readScalar(c, options[OPT_RADIUS].value, "Radius (option)", KIND_NONNEGATIVE);
    if (options[OPT_SEPARATION].value)
        s.separation = readScalar(c, options[OPT_SEPARATION].value, "Separation (option)", KIND_NONNEGATIVE);
    if (options[OPT_BIAS_FRACTION].value)
        biasFraction = readScalar(c, options[OPT_BIAS_FRACTION].value, "BiasFraction (option)", KIND_REAL);

    // No more picks than positions: each takes its own position away.
    const long long positions = static_cast<long long>(maps.nRows) * maps.nCols;
    const long long most = s.K < positions ? s.K : positions;
    s.rows = allocDoubles(static_cast<std::size_t>(most));
    s.cols = allocDoubles(static_cast<std::size_t>(most));
    s.oris = allocDoubles(static_cast<std::size_t>(most));
    s.means = allocDoubles(static_cast<std::size_t>(most));
    s.K = most;
    learnTemplate(s);
    interrupt.check({});

    const long long n = s.picked;
    double* ones = allocDoubles(static_cast<std::size_t>(n));
    double* biases = allocDoubles(static_cast<std::size_t>(n));
    for (long long k = 0; k < n; ++k) {
        ones[k] = 1;
        biases[k] = biasFraction * s.means[k];
    }
    static const char* names[6] = {"orientation", "row", "column", "weight", "bias", "meanPooled"};
    mxArray* tpl = mxCreateStructMatrix(1, 1, 6, names);
    mxSetField(tpl, 0, "orientation", row(s.oris, n));
    mxSetField(tpl, 0, "row", row(s.rows, n));
    mxSetField(tpl, 0, "column", row(s.cols, n));
    mxSetField(tpl, 0, "weight", row(ones, n));
    mxSetField(tpl, 0, "bias", row(biases, n));
    mxSetField(tpl, 0, "meanPooled", row(s.means, n));
    plhs[0] = tpl;
}
