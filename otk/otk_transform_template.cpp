// otk_transform_template: a template moved by a search answer, through the
// toolbox's one point transform, so that it lands exactly where the search
// placed it.
#include "otk_args.h"
#include "interrupt.h"
#include "transform.h"

namespace {

enum MoveArg { ARG_TEMPLATE = 0, ARG_TRANSFORM = 1, MOVE_ARGS = 2 };

const char* const TRANSFORM_LABEL = "TRANSFORM (argument 2)";

const mxArray* transformField(const OtkCall& c, const mxArray* t, const char* name)
{
    const mxArray* v = mxGetField(t, 0, name);
    if (v == nullptr)  // an unset field holds []
        otkError(c, "notScalar", "%s: TRANSFORM.%s (argument 2) must be a scalar (it has 0 elements)", c.name, name);
    return v;
}

// The answer's geometry: N, the centre, the shift and the rotation.
PointMove readMove(const OtkCall& c, const mxArray* t)
{
    static const char* const fields[5] = {"rowShift", "columnShift", "rotation", "orientations", "centre"};
    bool ok = mxIsStruct(t) && mxGetNumberOfElements(t) == 1;
    for (int f = 0; ok && f < 5; ++f) ok = mxGetFieldNumber(t, fields[f]) >= 0;
    if (!ok)
        otkError(c, "badTransform",
                 "%s: %s must be a scalar struct with the fields rowShift, columnShift, rotation, orientations, centre",
                 c.name, TRANSFORM_LABEL);
    PointMove m;
    m.N = static_cast<int>(readScalar(c, transformField(c, t, "orientations"), "TRANSFORM.orientations (argument 2)",
                                      KIND_POSITIVE_INTEGER));
    const mxArray* centre = mxGetField(t, 0, "centre");
    long long count = 0;
    const double* at = centre ? readWhole(c, centre, "TRANSFORM.centre (argument 2)", -1, &count) : nullptr;
    if (count != 2) otkError(c, "badTransform", "%s: TRANSFORM.centre (argument 2) must be [row, column]", c.name);
    m.centreRow = static_cast<int>(at[0]);
    m.centreCol = static_cast<int>(at[1]);
    m.rowShift = static_cast<int>(
        readScalar(c, transformField(c, t, "rowShift"), "TRANSFORM.rowShift (argument 2)", KIND_INTEGER));
    m.colShift = static_cast<int>(
        readScalar(c, transformField(c, t, "columnShift"), "TRANSFORM.columnShift (argument 2)", KIND_INTEGER));
    m.rotation = static_cast<int>(
        readScalar(c, transformField(c, t, "rotation"), "TRANSFORM.rotation (argument 2)", KIND_INTEGER));
    return m;
}

// A new double array shaped like the template's field, for the moved values:
// rows x elements/rows, which is the field's shape for the vectors the
// template holds. Its dimensions are not asked for: on Octave that
// allocates a block the copy of the template loses (see otk_args.cpp).
double* replaceField(mxArray* moved, const mxArray* original, const char* name)
{
    const mxArray* field = mxGetField(original, 0, name);
    const mwSize rows = field ? static_cast<mwSize>(mxGetM(field)) : 0;
    const mwSize elements = field ? static_cast<mwSize>(mxGetNumberOfElements(field)) : 0;
    const mwSize dims[2] = {rows, rows > 0 ? elements / rows : 0};
    mxArray* values = createDoubles(2, dims, false);
    mxArray* old = mxGetField(moved, 0, name);
    if (old != nullptr) mxDestroyArray(old);
    mxSetField(moved, 0, name, values);
    return hostDoubles(values);
}

}  // namespace

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[])
{
    const OtkCall c = {"otk_transform_template", nrhs, prhs};
    const InterruptWatch interrupt(c.name);
    requireOtkInputs(c, MOVE_ARGS, "TEMPLATE and TRANSFORM");
    limitOtkInputs(c, MOVE_ARGS, "TEMPLATE and TRANSFORM");
    requireOtkOutputs(c, nlhs, 1);
    const PointMove m = readMove(c, prhs[ARG_TRANSFORM]);
    Template tpl;
    readTemplateStruct(c, prhs[ARG_TEMPLATE], m.N, "TEMPLATE (argument 1)", tpl);

    // The template as given, extra fields and all, with the three moved.
    mxArray* moved = mxDuplicateArray(prhs[ARG_TEMPLATE]);
    double* rows = replaceField(moved, prhs[ARG_TEMPLATE], "row");
    double* cols = replaceField(moved, prhs[ARG_TEMPLATE], "column");
    double* oris = replaceField(moved, prhs[ARG_TEMPLATE], "orientation");
    movePoints(m, elementCount(tpl), tpl.elemX, tpl.elemY, tpl.elemOri, rows, cols, oris);
    interrupt.check({moved});
    plhs[0] = moved;
}
