// otk_transform_points: carries oriented points through the toolbox's point
// transform (common/transform.h), so that a template moved from the host
// language lands exactly where Wendlow's search placed it. There is one
// transform routine in the toolbox; this gateway only loops over it.
#include <cmath>
#include <cstddef>

#include "args.h"
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

// One call: the transform's parameters and the caller's points; results go
// to three arrays of count doubles.
struct PointsJob {
    int N;
    int centreRow;
    int centreCol;
    int rowShift;
    int colShift;
    int rotation;
    long long count;
    const double* rows;
    const double* cols;
    const double* orientations;
    double* newRows;
    double* newCols;
    double* newOrientations;
};

}  // namespace

void transformPoints(const PointsJob& job)
{
    for (long long k = 0; k < job.count; ++k) {
        long long xyo[3];
        geometricTransform(job.N, job.centreRow, job.centreCol, static_cast<int>(job.rows[k]),
                           static_cast<int>(job.cols[k]), static_cast<int>(job.orientations[k]),
                           job.rowShift, job.colShift, job.rotation, xyo);
        job.newRows[k] = static_cast<double>(xyo[0]);
        job.newCols[k] = static_cast<double>(xyo[1]);
        job.newOrientations[k] = static_cast<double>(xyo[2]);
    }
}

namespace {

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
    const Gateway g = {"otk_transform_points", nrhs, prhs, argNames};
    requireInputs(g, POINTS_ARGS);
    if (nlhs > 3) gatewayError(g, "nargout", "returns at most 3 outputs, %d requested", nlhs);

    PointsJob job;
    job.N = wholeScalar(g, ARG_N);
    if (job.N < 1) argError(g, ARG_N, "N", "must be at least 1 (it is %d)", job.N);
    job.centreRow = wholeScalar(g, ARG_CENTRE_ROW);
    job.centreCol = wholeScalar(g, ARG_CENTRE_COL);
    job.count = static_cast<long long>(mxGetNumberOfElements(prhs[ARG_ROWS]));
    job.rows = wholeArray(g, ARG_ROWS, job.count);
    job.cols = wholeArray(g, ARG_COLS, job.count);
    job.orientations = wholeArray(g, ARG_ORIENTATIONS, job.count);
    job.rowShift = wholeScalar(g, ARG_ROW_SHIFT);
    job.colShift = wholeScalar(g, ARG_COL_SHIFT);
    job.rotation = wholeScalar(g, ARG_ROTATION);

    // The results take the shape of the rows given.
    const mwSize nd = mxGetNumberOfDimensions(prhs[ARG_ROWS]);
    const mwSize* dims = mxGetDimensions(prhs[ARG_ROWS]);
    mxArray* out[3];
    for (int k = 0; k < 3; ++k) out[k] = mxCreateUninitNumericArray(nd, dims, mxDOUBLE_CLASS, mxREAL);
    job.newRows = hostDoubles(out[0]);
    job.newCols = hostDoubles(out[1]);
    job.newOrientations = hostDoubles(out[2]);
    transformPoints(job);
    for (int k = 0; k < 3 && k < (nlhs > 0 ? nlhs : 1); ++k) plhs[k] = out[k];
}
