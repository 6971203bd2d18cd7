// otk_transform_points: carries oriented points through the toolbox's point
// transform (common/transform.h), so that a template moved from the host
// language lands exactly where Wendlow's search placed it. There is one
// transform routine in the toolbox (movePoints over geometricTransform);
// this gateway only reads and checks.
#include <cmath>
#include <cstddef>

#include "args.h"
#include "interrupt.h"
#include "transform.h"

namespace {

enum PointsArg {
    ARG_N = 0,
    ARG_CENTRE_ROW = 1,
    ARG_CENTRE_COL = 2,
    ARG_ROWS = 3,
    ARG_COLS = 4,
    ARG_ORIENTATIONS = 5,
    ARG_ROW_SHIFT = 6,
    ARG_COL_SHIFT = 7,
    ARG_ROTATION = 8,
    POINTS_ARGS = 9
};

const char* const argNames[POINTS_ARGS] = {"N",    "centreRow",    "centreCol",
                                           "rows", "cols",         "orientations",
                                           "rowShift", "colShift", "rotation"};

bool isWholeInt(double v)
{
    return std::floor(v) == v && v >= -2147483648.0 && v <= 2147483647.0;
}

// The points are used as they are: a value that is not a whole number fitting
// an int is a wrong call, not something to truncate.
int wholeScalar(const Gateway& g, int pos)
{
    const double v = rawArg(g, pos);
    if (!isWholeInt(v)) argError(g, pos, "notInteger", "must be a whole number fitting a 32-bit int (it is %g)", v);
    return static_cast<int>(v);
}

const double* wholeArray(const Gateway& g, int pos, long long count)
{
    const mxArray* a = g.prhs[pos];
    if (static_cast<long long>(mxGetNumberOfElements(a)) != count)
        argError(g, pos, "sizeMismatch", "must have as many elements as rows (%lld, it has %lld)", count,
                 static_cast<long long>(mxGetNumberOfElements(a)));
    const double* v = dataArg(g, pos, count);
    for (long long k = 0; k < count; ++k)
        if (!isWholeInt(v[k]))
            argError(g, pos, "notInteger", "entry %lld (%g) must be a whole number fitting a 32-bit int", k + 1,
                     v[k]);
    return v;
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    Gateway g = {"otk_transform_points", nrhs, prhs, argNames};
    g.component = "otk";
    const InterruptWatch interrupt(g.name);
    requireInputs(g, POINTS_ARGS);
    requireAtMostInputs(g, POINTS_ARGS);
    if (nlhs > 3) gatewayError(g, "nargout", "returns at most 3 outputs, %d requested", nlhs);

    PointMove move;
    move.N = wholeScalar(g, ARG_N);
    if (move.N < 1) argError(g, ARG_N, "N", "must be at least 1 (it is %d)", move.N);
    move.centreRow = wholeScalar(g, ARG_CENTRE_ROW);
    move.centreCol = wholeScalar(g, ARG_CENTRE_COL);
    const long long count = static_cast<long long>(mxGetNumberOfElements(prhs[ARG_ROWS]));
    const double* rows = wholeArray(g, ARG_ROWS, count);
    const double* cols = wholeArray(g, ARG_COLS, count);
    const double* orientations = wholeArray(g, ARG_ORIENTATIONS, count);
    move.rowShift = wholeScalar(g, ARG_ROW_SHIFT);
    move.colShift = wholeScalar(g, ARG_COL_SHIFT);
    move.rotation = wholeScalar(g, ARG_ROTATION);

    // The results take the shape of the rows given.
    const mwSize nd = mxGetNumberOfDimensions(prhs[ARG_ROWS]);
    const mwSize* dims = mxGetDimensions(prhs[ARG_ROWS]);
    mxArray* out[3];
    for (int k = 0; k < 3; ++k) out[k] = mxCreateUninitNumericArray(nd, dims, mxDOUBLE_CLASS, mxREAL);
    movePoints(move, count, rows, cols, orientations, hostDoubles(out[0]), hostDoubles(out[1]), hostDoubles(out[2]));
    interrupt.check({out[0], out[1], out[2]});
    for (int k = 0; k < 3 && k < (nlhs > 0 ? nlhs : 1); ++k) plhs[k] = out[k];
}
