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

const char* const answerFields[6] = {"score", "rowShift", "columnShift", "rotation", "orientations", "centre"};

// One struct per image, with the search's geometry in every one.
mxArray* answersByFields(const OtkMaps& m, mxArray* const results[4])
{
    mxArray* out = mxCreateStructMatrix(static_cast<mwSize>(m.nImages), 1, 6, const_cast<const char**>(answerFields));
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

#if !defined(MATLAB_MEX_FILE)
// Images from which Octave's own struct() makes the answers: filled field
// by field through the array API they took some 8 us an image (six new
// arrays each, tracked, then converted on return), a quarter of a search of
// 32 images on 16^2 maps; the call into the interpreter costs some tens.
constexpr int HOST_STRUCT_IMAGES = 8;

// builtin(name, args...): the host's own function, whatever the path holds.
mxArray* callBuiltin(const char* name, int nArgs, mxArray** args)
{
    mxArray* in[13];
    in[0] = mxCreateString(name);
    for (int k = 0; k < nArgs; ++k) in[k + 1] = args[k];
    mxArray* out = nullptr;
    const int failed = mexCallMATLAB(1, &out, nArgs + 1, in, "builtin");
    mxDestroyArray(in[0]);
    return failed != 0 ? nullptr : out;
}

// The same struct array from struct('score', num2cell(scores), ...,
// 'orientations', N, 'centre', [row column]); nullptr when the host does
// not give exactly that.
mxArray* answersByHost(const OtkMaps& m, mxArray* const results[4])
{
    mxArray* in[12] = {};
    bool ok = true;
    for (int f = 0; f < 4; ++f) {
        in[2 * f] = mxCreateString(answerFields[f]);
        mxArray* column = results[f];
        in[2 * f + 1] = callBuiltin("num2cell", 1, &column);
        ok = ok && in[2 * f + 1] != nullptr;
    }
    in[8] = mxCreateString(answerFields[4]);
    in[9] = mxCreateDoubleScalar(m.N);  // not a cell: every struct gets it
    in[10] = mxCreateString(answerFields[5]);
    in[11] = mxCreateDoubleMatrix(1, 2, mxREAL);
    hostDoubles(in[11])[0] = std::floor(m.nRows / 2.0);
    hostDoubles(in[11])[1] = std::floor(m.nCols / 2.0);
    mxArray* out = ok ? callBuiltin("struct", 12, in) : nullptr;
    for (mxArray* a : in)
        if (a != nullptr) mxDestroyArray(a);
    if (out != nullptr && (!mxIsStruct(out) || mxGetNumberOfElements(out) != static_cast<std::size_t>(m.nImages) ||
                           mxGetNumberOfFields(out) != 6)) {
        mxDestroyArray(out);
        out = nullptr;
    }
    return out;
}
#endif

mxArray* answers(const OtkMaps& m, mxArray* const results[4])
{
#if !defined(MATLAB_MEX_FILE)
    if (m.nImages >= HOST_STRUCT_IMAGES) {
        mxArray* out = answersByHost(m, results);
        if (out != nullptr) return out;
    }
#endif
    return answersByFields(m, results);
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
