// otk_search_transform: for every image the rotation and one-pixel shift
// under which a template scores best, in new arrays. The same kernel as
// Wendlow's, reached without a cell grid in between.
#include <cmath>

#include "interrupt.h"
#include "otk_args.h"
#include "wendlow.h"

namespace {

enum SearchOption { SEARCH_OPTIONS = 4 };

mxArray* column(int n, bool zeroed)
{
    const mwSize dims[2] = {static_cast<mwSize>(n), 1};
    return createDoubles(2, dims, zeroed);
}

// A shift or rotation stays NaN for an image no candidate wins.
mxArray* notFound(int n)
{
    mxArray* a = column(n, false);
    double* v = hostDoubles(a);
    for (int i = 0; i < n; ++i) v[i] = NAN;
    return a;
}

// One struct per image, with the search's geometry in every one.
mxArray* answers(const OtkMaps& m, mxArray* const results[4])
{
    static const char* names[6] = {"score", "rowShift", "columnShift", "rotation", "orientations", "centre"};
    mxArray* out = mxCreateStructMatrix(static_cast<mwSize>(m.nImages), 1, 6, names);
    for (int i = 0; i < m.nImages; ++i) {
        for (int f = 0; f < 4; ++f) mxSetFieldByNumber(out, i, f, mxCreateDoubleScalar(hostDoubles(results[f])[i]));
        mxSetFieldByNumber(out, i, 4, mxCreateDoubleScalar(m.N));
        mxArray* centre = mxCreateDoubleMatrix(1, 2, mxREAL);
        hostDoubles(centre)[0] = std::floor(m.nRows / 2.0);
        hostDoubles(centre)[1] = std::floor(m.nCols / 2.0);
        mxSetFieldByNumber(out, i, 5, centre);
    }
    return out;
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    const OtkCall c = {"otk_search_transform", nrhs, prhs};
    const InterruptWatch interrupt(c.name);
    requireOtkInputs(c, 2, "MAPS and TEMPLATE");
    requireOtkOutputs(c, nlhs, 4);

    WendlowState s;
    OptionSlot options[SEARCH_OPTIONS] = {
        {"ShiftRange", nullptr}, {"OriRange", nullptr}, {"ShiftStep", nullptr}, {"Saturation", nullptr}};
    const OtkMaps maps = readTemplateCall(c, options, SEARCH_OPTIONS, 0, 0, s.pool, s.tpl);
    if (maps.N > WENDLOW_MAX_ORIENTATIONS)
        otkError(c, "outOfRange", "%s: MAPS (argument 1) has more than %d orientations", c.name,
                 WENDLOW_MAX_ORIENTATIONS);

    const int n = maps.nImages;
    mxArray* results[4] = {column(n, false), notFound(n), notFound(n), notFound(n)};  // every score is written
    s.bestScores = hostDoubles(results[0]);
    s.bestDeltaX = hostDoubles(results[1]);
    s.bestDeltaY = hostDoubles(results[2]);
    s.bestDeltaOri = hostDoubles(results[3]);
    searchTransform(s);
    interrupt.check({results[0], results[1], results[2], results[3]});

    if (nlhs > 1) {
        for (int k = 0; k < 4; ++k) {
            if (k < nlhs) plhs[k] = results[k];
            else mxDestroyArray(results[k]);
        }
        return;
    }
    plhs[0] = answers(maps, results);
    for (mxArray* r : results) mxDestroyArray(r);
}
