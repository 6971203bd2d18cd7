#include "otk_args.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "alloc.h"
#include "args.h"
#include "interrupt.h"
#include "threads.h"

namespace {

std::string vformat(const char* fmt, va_list ap)
{
    char buf[1024];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    return buf;
}

std::string format(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    return text;
}

// On Octave an argument is handed over as the host's own value, and the
// array API allocates its dimensions (mxGetDimensions, and through them
// mxGetNumberOfDimensions and mxGetN) on the first request. Those blocks
// are lost, 16 to 80 bytes a call for ever, when the array is asked for its
// dimensions and then turned into the API's form (a cell or a struct at the
// first mxGetCell or mxGetField), or copied with mxDuplicateArray (a
// template's fields). So a cell is taken before its dimensions are asked,
// and the fields of a template are sized by rows and element count alone
// (mxGetM, mxGetNumberOfElements), which allocate nothing.

// Size along dimension k (0-based), 1 beyond the last.
long long dimAt(const mxArray* a, mwSize k)
{
    const mwSize nd = mxGetNumberOfDimensions(a);
    if (k == 0) return static_cast<long long>(mxGetM(a));
    if (k == 1 && nd <= 2) return static_cast<long long>(mxGetN(a));
    return k < nd ? static_cast<long long>(mxGetDimensions(a)[k]) : 1;
}

// "5x5x2": the size as the host prints it; with topLevel false (a map in a
// cell) "5x10 (3 dimensions)": the rows, the product of the rest and how
// many there are, without asking for the dimensions themselves.
std::string dimsText(const mxArray* a, bool topLevel = true)
{
    const mwSize nd = mxGetNumberOfDimensions(a);
    if (nd <= 2 || !topLevel)
        return std::to_string(static_cast<unsigned long long>(mxGetM(a))) + "x" +
               std::to_string(static_cast<unsigned long long>(mxGetN(a))) +
               (nd > 2 ? " (" + std::to_string(static_cast<unsigned long long>(nd)) + " dimensions)" : "");
    const mwSize* d = mxGetDimensions(a);
    std::string text;
    for (mwSize k = 0; k < nd; ++k) {
        if (k > 0) text += "x";
        text += std::to_string(static_cast<unsigned long long>(d[k]));
    }
    return text;
}

bool isVectorShape(const mxArray* a)
{
    return mxGetNumberOfDimensions(a) == 2 && (mxGetM(a) == 1 || mxGetN(a) == 1);
}

// A row or a column, from the rows and the element count alone: one row,
// or as many rows as elements (a 1 x 1 x n field passes as a row).
bool isVectorByCount(const mxArray* a)
{
    return mxGetM(a) == 1 || mxGetM(a) == mxGetNumberOfElements(a);
}

// A size as an int: no host array has a dimension beyond this that the
// kernels could address with int sizes.
int sizeAsInt(const OtkCall& c, long long v, const char* label)
{
    if (v > 2147483647LL) otkError(c, "badSize", "%s: %s has a dimension beyond 2^31-1 (%lld)", c.name, label, v);
    return static_cast<int>(v);
}

// Values converted per chunk: a few milliseconds, so that converting a large
// array can be stopped between chunks (runChunks).
constexpr long long CONVERTED_PER_CHUNK = 1 << 20;

template <class T>
void convert(const void* from, double* to, long long n)
{
    const T* v = static_cast<const T*>(from);
    auto chunk = [&](long long c) {
        const long long end = std::min(n, (c + 1) * CONVERTED_PER_CHUNK);
        for (long long k = c * CONVERTED_PER_CHUNK; k < end; ++k) to[k] = static_cast<double>(v[k]);
    };
    forEachChunk((n + CONVERTED_PER_CHUNK - 1) / CONVERTED_PER_CHUNK, 1, chunk);
}

// The values of a real numeric or logical array as doubles, converted into
// a block of this call unless they already are.
const double* asDoubles(const mxArray* a, long long n)
{
    if (mxIsDouble(a)) return hostDoubles(a);
    if (n == 0) return nullptr;
    double* to = allocDoubles(static_cast<std::size_t>(n));
    const void* from = mxGetData(a);
    switch (mxGetClassID(a)) {
    case mxSINGLE_CLASS: convert<float>(from, to, n); break;
    case mxINT8_CLASS: convert<std::int8_t>(from, to, n); break;
    case mxUINT8_CLASS: convert<std::uint8_t>(from, to, n); break;
    case mxINT16_CLASS: convert<std::int16_t>(from, to, n); break;
    case mxUINT16_CLASS: convert<std::uint16_t>(from, to, n); break;
    case mxINT32_CLASS: convert<std::int32_t>(from, to, n); break;
    case mxUINT32_CLASS: convert<std::uint32_t>(from, to, n); break;
    case mxINT64_CLASS: convert<std::int64_t>(from, to, n); break;
    case mxUINT64_CLASS: convert<std::uint64_t>(from, to, n); break;
    case mxLOGICAL_CLASS: convert<mxLogical>(from, to, n); break;
    default: break;  // not numeric: refused before this
    }
    // Stopped part way: no check may read the values left unconverted.
    if (chunksStopped()) raiseInterrupt(mexFunctionName());
    return to;
}

bool isWholeInt(double v)
{
    return std::isfinite(v) && v == std::floor(v) && std::fabs(v) <= 2147483647.0;
}

// An option name as text: a char row, or a MATLAB string scalar.
bool optionName(const mxArray* a, std::string& name)
{
    mxArray* converted = nullptr;
    if (!mxIsChar(a) && std::strcmp(mxGetClassName(a), "string") == 0 && mxGetNumberOfElements(a) == 1) {
        mxArray* in = const_cast<mxArray*>(a);
        if (mexCallMATLAB(1, &converted, 1, &in, "char") != 0) return false;
        a = converted;
    }
    const bool ok = mxIsChar(a) && mxGetNumberOfDimensions(a) == 2 && mxGetM(a) == 1;
    if (ok) {
        char* text = mxArrayToString(a);
        name = text != nullptr ? text : "";
        mxFree(text);
        // The text ends at a NUL: 'ShiftRange' char(0) 'junk' must not read
        // as ShiftRange. The mark cannot match any option.
        if (name.size() != static_cast<std::size_t>(mxGetN(a))) name += "\\0...";
    }
    if (converted != nullptr) mxDestroyArray(converted);
    return ok;
}

bool sameName(const std::string& given, const char* name)
{
    if (given.size() != std::strlen(name)) return false;
    for (std::size_t k = 0; k < given.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(given[k])) != std::tolower(static_cast<unsigned char>(name[k])))
            return false;
    return true;
}

std::string optionList(const OptionSlot* slots, int nSlots)
{
    std::string list;
    for (int k = 0; k < nSlots; ++k) {
        if (k > 0) list += ", ";
        list += slots[k].name;
    }
    return list;
}

// Where cell k of a grid with rowsOfGrid rows is, for messages.
std::string cellLabel(const char* label, long long k, long long rowsOfGrid)
{
    return format("%s cell {%lld,%lld}", label, k % rowsOfGrid + 1, k / rowsOfGrid + 1);
}

// One map of a cell: a real matrix, its values as doubles. A double matrix
// is taken at once; the label is only made for the checks of anything else,
// as a grid may hold thousands of maps. With shapeOf, a cell after the
// first is measured by its rows and its element count alone: Octave makes
// and keeps a block for the dimensions of every cell asked for them, and
// through its call tracking that cost 0.3 us a cell (otk_search_transform
// on 32 x 16 cells of 16^2 took 1.18x the raw Wendlow call, 0.97x
// without). Such a cell holding nRows x a x b values with a*b = nCols is
// read as the nRows x nCols map its values are, in the same order.
const double* cellMap(const OtkCall& c, const mxArray* cellArray, long long k, const char* label,
                      long long rowsOfGrid, long long& rows, long long& cols, bool shapeOf = false)
{
    const mxArray* map = mxGetCell(cellArray, static_cast<mwIndex>(k));
    if (map == nullptr) {  // an unset cell holds []
        rows = cols = 0;
        return nullptr;
    }
    const double* data;
    if (mxIsDouble(map) && !mxIsComplex(map) && !mxIsSparse(map)) {
        data = hostDoubles(map);
    } else {
        data = readReal(c, map, cellLabel(label, k, rowsOfGrid).c_str()).data;
    }
    if (shapeOf) {
        rows = static_cast<long long>(mxGetM(map));
        const long long count = static_cast<long long>(mxGetNumberOfElements(map));
        cols = rows > 0 ? count / rows : 0;
        if (rows > 0 && cols * rows == count) return data;
    }
    if (mxGetNumberOfDimensions(map) > 2)
        otkError(c, "badMapSize", "%s: %s must be a matrix (it is %s)", c.name, cellLabel(label, k, rowsOfGrid).c_str(),
                 dimsText(map, false).c_str());
    rows = static_cast<long long>(mxGetM(map));
    cols = static_cast<long long>(mxGetN(map));
    return data;
}

OtkMaps readCellMaps(const OtkCall& c, const mxArray* a, const char* label, MapLayout layout)
{
    OtkMaps m;
    m.isCell = true;
    m.array = a;
    const long long n = static_cast<long long>(mxGetNumberOfElements(a));
    // Octave hands a cell argument over as its own value and turns it into
    // a cell array of the array API at the first mxGetCell; dimensions asked
    // before that are allocated for the old form and lost with it (80 bytes
    // a call). Taking a cell first reads them from the new form.
    if (n > 0) (void)mxGetCell(a, 0);
    if (layout != LAYOUT_STACKS) {
        if (layout == LAYOUT_LIST && n > 0 && !isVectorShape(a))
            otkError(c, "badSize", "%s: %s must be a cell vector of maps (it is %s)", c.name, label,
                     dimsText(a).c_str());
        m.nImages = sizeAsInt(c, n, label);
        m.N = 1;
    } else {
        if (mxGetNumberOfDimensions(a) > 2)
            otkError(c, "badSize", "%s: %s must be an nImages x N cell grid (it is %s)", c.name, label,
                     dimsText(a).c_str());
        m.nImages = sizeAsInt(c, dimAt(a, 0), label);
        m.N = sizeAsInt(c, dimAt(a, 1), label);
    }
    m.nRows = m.nCols = 0;
    m.grid = static_cast<MapGrid>(allocZeroed(static_cast<std::size_t>(n), sizeof(double*)));
    const long long rowsOfGrid = layout != LAYOUT_STACKS ? n : m.nImages;
    for (long long k = 0; k < n; ++k) {
        long long rows = 0, cols = 0;
        const double* data = cellMap(c, a, k, label, rowsOfGrid, rows, cols, k > 0);
        if (k == 0) {
            m.nRows = sizeAsInt(c, rows, label);
            m.nCols = sizeAsInt(c, cols, label);
        } else if (rows != m.nRows || cols != m.nCols) {
            cellMap(c, a, k, label, rowsOfGrid, rows, cols);  // its own shape in the message
            otkError(c, "badMapSize", "%s: %s is %lldx%lld; every map must be %dx%d like the first", c.name,
                     cellLabel(label, k, rowsOfGrid).c_str(), rows, cols, m.nRows, m.nCols);
        }
        m.grid[k] = const_cast<double*>(data);
    }
    return m;
}

OtkMaps readArrayMaps(const OtkCall& c, const mxArray* a, const char* label, MapLayout layout)
{
    OtkMaps m;
    m.isCell = false;
    m.array = a;
    RealArray values = readReal(c, a, label);
    const mwSize maxDims = layout == LAYOUT_LIST ? 3 : 4;
    if (mxGetNumberOfDimensions(a) > maxDims)
        otkError(c, "badSize", layout == LAYOUT_LIST ? "%s: %s must be nRows x nCols x n (it is %s)"
                                                     : "%s: %s must be nRows x nCols x N x nImages (it is %s)",
                 c.name, label, dimsText(a).c_str());
    m.nRows = sizeAsInt(c, dimAt(a, 0), label);
    m.nCols = sizeAsInt(c, dimAt(a, 1), label);
    if (layout == LAYOUT_LIST) {
        m.N = 1;
        m.nImages = sizeAsInt(c, dimAt(a, 2), label);
    } else {
        m.N = sizeAsInt(c, dimAt(a, 2), label);
        m.nImages = sizeAsInt(c, dimAt(a, 3), label);
    }
    m.grid = mapsInArray(const_cast<double*>(values.data), m.nImages, m.N, mapElements(m.nRows, m.nCols));
    return m;
}

}  // namespace

void otkError(const OtkCall& c, const char* mnemonic, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string message = vformat(fmt, ap);
    va_end(ap);
#if !defined(MATLAB_MEX_FILE)
    // Messages start with the function's name, as MATLAB users read them
    // under "Error using ..."; Octave puts the name in front of a compiled
    // function's message itself, so it is not given twice there.
    const std::string prefix = std::string(c.name) + ": ";
    if (message.compare(0, prefix.size(), prefix) == 0) message.erase(0, prefix.size());
#else
    (void)c;
#endif
    char id[96];
    std::snprintf(id, sizeof id, "otk:%s", mnemonic);
    mexErrMsgIdAndTxt(id, "%s", message.c_str());
    std::abort();  // mexErrMsgIdAndTxt does not return
}

void requireOtkInputs(const OtkCall& c, int count, const char* expected)
{
    if (c.nrhs < count) otkError(c, "nargin", "%s: expects %s (got %d inputs)", c.name, expected, c.nrhs);
}

void limitOtkInputs(const OtkCall& c, int most, const char* expected)
{
    if (c.nrhs > most)
        otkError(c, "nargin", "%s: takes at most %s (got %d inputs)", c.name, expected, c.nrhs);
}

void requireOtkOutputs(const OtkCall& c, int nlhs, int most)
{
    if (nlhs <= most) return;
    if (most == 1) otkError(c, "nargout", "%s: returns one output (%d requested)", c.name, nlhs);
    otkError(c, "nargout", "%s: returns at most %d outputs (%d requested)", c.name, most, nlhs);
}

RealArray readReal(const OtkCall& c, const mxArray* a, const char* label)
{
    if (!(mxIsNumeric(a) || mxIsLogical(a)))
        otkError(c, "notNumeric", "%s: %s must be numeric, not %s", c.name, label, mxGetClassName(a));
    if (mxIsComplex(a)) otkError(c, "notReal", "%s: %s must be real, not complex", c.name, label);
    if (mxIsSparse(a)) otkError(c, "sparse", "%s: %s must be a full array, not sparse", c.name, label);
    RealArray r;
    r.array = a;
    r.count = static_cast<long long>(mxGetNumberOfElements(a));
    r.data = asDoubles(a, r.count);
    return r;
}

double readScalar(const OtkCall& c, const mxArray* a, const char* label, ScalarKind kind)
{
    RealArray r = readReal(c, a, label);
    if (r.count != 1)
        otkError(c, "notScalar", "%s: %s must be a scalar (it has %lld elements)", c.name, label, r.count);
    const double v = r.data[0];
    if (std::isnan(v)) otkError(c, "notFinite", "%s: %s must not be NaN", c.name, label);
    if (kind == KIND_REAL) return v;
    if (kind == KIND_NONNEGATIVE) {
        if (v < 0) otkError(c, "negative", "%s: %s must not be negative (it is %g)", c.name, label, v);
        return v;
    }
    if (kind == KIND_POSITIVE) {
        if (!std::isfinite(v) || v <= 0)
            otkError(c, "notPositive", "%s: %s must be a finite number above 0 (it is %g)", c.name, label, v);
        return v;
    }
    if (!std::isfinite(v)) otkError(c, "notFinite", "%s: %s must be finite", c.name, label);
    if (v != std::floor(v)) otkError(c, "notInteger", "%s: %s must be a whole number (it is %g)", c.name, label, v);
    if (std::fabs(v) > 2147483647.0)
        otkError(c, "outOfRange", "%s: %s must fit a 32-bit int (it is %g)", c.name, label, v);
    if (kind == KIND_COUNT && v < 0)
        otkError(c, "negative", "%s: %s must not be negative (it is %g)", c.name, label, v);
    if (kind == KIND_POSITIVE_INTEGER && v < 1)
        otkError(c, "notPositive", "%s: %s must be at least 1 (it is %g)", c.name, label, v);
    return v;
}

const double* readWhole(const OtkCall& c, const mxArray* a, const char* label, long long count, long long* n)
{
    RealArray r = readReal(c, a, label);
    const double* v = r.data;
    long long have = r.count;
    if (count >= 0 && have != count) {
        if (have != 1)
            otkError(c, "badSize", "%s: %s must be a scalar or have %lld elements, one per map (it has %lld)",
                     c.name, label, count, have);
        double* repeated = allocDoubles(static_cast<std::size_t>(count));
        for (long long k = 0; k < count; ++k) repeated[k] = v[0];
        v = repeated;
        have = count;
    }
    for (long long k = 0; k < have; ++k)
        if (!isWholeInt(v[k]))
            otkError(c, "notInteger", "%s: %s must hold whole numbers fitting a 32-bit int; entry %lld is %g", c.name,
                     label, k + 1, v[k]);
    if (n != nullptr) *n = have;
    return v;
}

OtkMaps readMaps(const OtkCall& c, const mxArray* a, const char* label, MapLayout layout)
{
    return mxIsCell(a) ? readCellMaps(c, a, label, layout) : readArrayMaps(c, a, label, layout);
}

void requireMapsNotEmpty(const OtkCall& c, const OtkMaps& m, const char* label)
{
    if (m.nImages == 0 || m.N == 0 || m.nRows == 0 || m.nCols == 0)
        otkError(c, "empty",
                 "%s: %s holds no maps to work on (%d images of %d orientations of %dx%d); give at least one image",
                 c.name, label, m.nImages, m.N, m.nRows, m.nCols);
}

// Octave copies an array made with mxCreate* into one of its own when the
// function returns: for a 32 MB result that copy (fresh pages, faulted in,
// then filled) took 24 ms here, more than most kernels. An array that the
// host makes itself is handed back as it is, so large results come from
// its zeros (mkoctfile builds have no MATLAB_MEX_FILE; MATLAB keeps what
// mxCreate* makes and needs none of this). Below this size the call into
// the interpreter costs more than the copy.
#if !defined(MATLAB_MEX_FILE)
constexpr double HOST_ARRAY_BYTES = 1 << 16;

double bytesOf(mwSize ndims, const mwSize* dims)
{
    double bytes = sizeof(double);
    for (mwSize k = 0; k < ndims; ++k) bytes *= static_cast<double>(dims[k]);
    return bytes;
}

mxArray* hostZeros(mwSize ndims, const mwSize* dims)
{
    mxArray* size = mxCreateDoubleMatrix(1, ndims, mxREAL);
    for (mwSize k = 0; k < ndims; ++k) hostDoubles(size)[k] = static_cast<double>(dims[k]);
    mxArray* out = nullptr;
    const int failed = mexCallMATLAB(1, &out, 1, &size, "zeros");
    mxDestroyArray(size);
    if (failed != 0 || out == nullptr) return nullptr;
    // Whatever "zeros" the path holds must have made exactly this array; a
    // user's own function of that name must not decide what is written.
    bool exact = mxIsDouble(out) && !mxIsComplex(out) && !mxIsSparse(out);
    for (mwSize k = 0; exact && k < ndims; ++k) exact = dimAt(out, k) == static_cast<long long>(dims[k]);
    exact = exact && static_cast<double>(mxGetNumberOfElements(out)) == bytesOf(ndims, dims) / sizeof(double);
    if (!exact) {
        mxDestroyArray(out);
        return nullptr;
    }
    return out;
}
#endif

mxArray* createDoubles(mwSize ndims, const mwSize* dims, bool zeroed)
{
#if !defined(MATLAB_MEX_FILE)
    if (bytesOf(ndims, dims) >= HOST_ARRAY_BYTES) {
        mxArray* out = hostZeros(ndims, dims);
        if (out != nullptr) return out;
    }
#endif
    // The interleaved and the separate API both create real doubles here.
    return zeroed ? mxCreateNumericArray(ndims, dims, mxDOUBLE_CLASS, mxREAL)
                  : mxCreateUninitNumericArray(ndims, dims, mxDOUBLE_CLASS, mxREAL);
}

mxArray* createMaps(const OtkMaps& m, MapLayout layout, bool zeroed, MapGrid* grid, const mxArray* cellShape)
{
    const long long maps = static_cast<long long>(m.nImages) * m.N;
    *grid = static_cast<MapGrid>(allocZeroed(static_cast<std::size_t>(maps), sizeof(double*)));
    if (m.isCell) {
        const mwSize gridDims[2] = {static_cast<mwSize>(m.nImages), static_cast<mwSize>(m.N)};
        mxArray* out = cellShape != nullptr ? mxCreateCellArray(mxGetNumberOfDimensions(cellShape), mxGetDimensions(cellShape))
                                            : mxCreateCellArray(2, gridDims);
        const mwSize mapDims[2] = {static_cast<mwSize>(m.nRows), static_cast<mwSize>(m.nCols)};
        for (long long k = 0; k < maps; ++k) {
            mxArray* map = createDoubles(2, mapDims, zeroed);
            (*grid)[k] = hostDoubles(map);
            mxSetCell(out, static_cast<mwIndex>(k), map);
        }
        return out;
    }
    mwSize dims[4] = {static_cast<mwSize>(m.nRows), static_cast<mwSize>(m.nCols), static_cast<mwSize>(m.N),
                      static_cast<mwSize>(m.nImages)};
    mxArray* out;
    if (layout == LAYOUT_LIST) {
        dims[2] = static_cast<mwSize>(m.nImages);
        out = createDoubles(3, dims, zeroed);
    } else {
        out = createDoubles(4, dims, zeroed);
    }
    const long long mapSize = mapElements(m.nRows, m.nCols);
    double* base = hostDoubles(out);
    for (long long i = 0; i < m.nImages; ++i)
        for (long long o = 0; o < m.N; ++o) (*grid)[i + m.nImages * o] = base + (o + m.N * i) * mapSize;
    return out;
}

void readOptions(const OtkCall& c, int firstPos, OptionSlot* slots, int nSlots)
{
    for (int k = 0; k < nSlots; ++k) slots[k].value = nullptr;
    const int given = c.nrhs - firstPos;
    if (given <= 0) return;
    if (given % 2 != 0)
        otkError(c, "badOption", "%s: options come in name-value pairs; argument %d has no value", c.name, c.nrhs);
    for (int p = firstPos; p < c.nrhs; p += 2) {
        std::string name;
        if (!optionName(c.prhs[p], name))
            otkError(c, "badOption", "%s: argument %d must be an option name (one of %s)", c.name, p + 1,
                     optionList(slots, nSlots).c_str());
        int hit = -1;
        for (int k = 0; k < nSlots && hit < 0; ++k)
            if (sameName(name, slots[k].name)) hit = k;
        if (hit < 0)
            otkError(c, "unknownOption", "%s: unknown option '%s' (argument %d); the options are %s", c.name,
                     name.c_str(), p + 1, optionList(slots, nSlots).c_str());
        slots[hit].value = c.prhs[p + 1];
    }
}

void readTemplateStruct(const OtkCall& c, const mxArray* a, int N, const char* label, Template& tpl)
{
    static const char* const fields[5] = {"orientation", "row", "column", "weight", "bias"};
    if (!mxIsStruct(a) || mxGetNumberOfElements(a) != 1)
        otkError(c, "badTemplate",
                 "%s: %s must be a scalar struct with the fields orientation, row, column, weight, bias "
                 "(see otk_template)",
                 c.name, label);
    for (const char* field : fields)
        if (mxGetFieldNumber(a, field) < 0)
            otkError(c, "badTemplate", "%s: %s has no field %s (see otk_template)", c.name, label, field);
    const mxArray* orientation = mxGetField(a, 0, "orientation");
    const long long count = orientation != nullptr ? static_cast<long long>(mxGetNumberOfElements(orientation)) : 0;
    const double* values[5];
    for (int f = 0; f < 5; ++f) {
        const std::string where = format("%s.%s", label, fields[f]);
        const mxArray* field = mxGetField(a, 0, fields[f]);
        if (field == nullptr) {  // an unset field holds []
            if (count != 0)
                otkError(c, "badTemplate",
                         "%s: %s must be a vector of %lld elements, one per element like .orientation (it is 0x0)",
                         c.name, where.c_str(), count);
            values[f] = nullptr;
            continue;
        }
        RealArray r = readReal(c, field, where.c_str());
        if (r.count != count || (r.count > 0 && !isVectorByCount(field)))
            otkError(c, "badTemplate",
                     "%s: %s must be a vector of %lld elements, one per element like .orientation (it is %lldx%lld)",
                     c.name, where.c_str(), count, static_cast<long long>(mxGetM(field)),
                     static_cast<long long>(mxGetN(field)));
        if (f < 3)
            for (long long k = 0; k < count; ++k)
                if (!isWholeInt(r.data[k]))
                    otkError(c, "notInteger",
                             "%s: %s must hold whole numbers fitting a 32-bit int; entry %lld is %g", c.name,
                             where.c_str(), k + 1, r.data[k]);
        values[f] = r.data;
    }
    for (long long k = 0; k < count; ++k)
        if (values[0][k] < 0 || values[0][k] >= N)
            otkError(c, "badOrientation",
                     "%s: %s.orientation must hold orientation indexes in 0..N-1 (N is %d); entry %lld is %g", c.name,
                     label, N, k + 1, values[0][k]);
    if (count > 2147483647LL)
        otkError(c, "badTemplate", "%s: %s has more than 2^31-1 elements", c.name, label);
    tpl.nElements = static_cast<int>(count);
    tpl.elemOri = values[0];
    tpl.elemX = values[1];
    tpl.elemY = values[2];
    tpl.elemWeight = values[3];
    tpl.elemBias = values[4];
}

void readPoolingOptions(const OtkCall& c, const OptionSlot* slots, const OtkMaps& m, int shiftRange, int oriRange,
                        PoolState& pool)
{
    double range = shiftRange, turns = oriRange, step = 1, saturation = INFINITY;
    if (slots[0].value) range = readScalar(c, slots[0].value, "ShiftRange (option)", KIND_COUNT);
    if (slots[1].value) turns = readScalar(c, slots[1].value, "OriRange (option)", KIND_COUNT);
    if (slots[2].value) step = readScalar(c, slots[2].value, "ShiftStep (option)", KIND_INTEGER);
    if (slots[3].value) saturation = readScalar(c, slots[3].value, "Saturation (option)", KIND_REAL);
    if (turns > m.N)
        otkError(c, "outOfRange", "%s: OriRange (option) must not exceed N (it is %.0f, N is %d)", c.name, turns, m.N);
    if (range > 1073741823 || range * std::fabs(step) > 2147483647)
        otkError(c, "outOfRange", "%s: ShiftRange times |ShiftStep| (options) must fit a 32-bit int (%.0f x %.0f does not)",
                 c.name, range, step);
    pool.nImages = m.nImages;
    pool.N = m.N;
    pool.nRows = m.nRows;
    pool.nCols = m.nCols;
    pool.shiftRange = static_cast<int>(range);
    pool.oriRange = static_cast<int>(turns);
    pool.shiftStep = static_cast<int>(step);
    pool.saturation = saturation;
    pool.responseMaps = m.grid;
    pool.sinTheta = pool.cosTheta = nullptr;
    pool.shiftX = pool.shiftY = nullptr;
    pool.shiftAt = nullptr;
}

Transforms readTransforms(const OtkCall& c, int first, long long n)
{
    Transforms t;
    t.dX = readWhole(c, c.prhs[first], "ROWSHIFT (argument 2)", n, nullptr);
    t.dY = readWhole(c, c.prhs[first + 1], "COLUMNSHIFT (argument 3)", n, nullptr);
    t.dO = readWhole(c, c.prhs[first + 2], "ROTATION (argument 4)", n, nullptr);
    return t;
}

OtkMaps readTemplateCall(const OtkCall& c, OptionSlot* slots, int nSlots, int shiftRange, int oriRange,
                         PoolState& pool, Template& tpl)
{
    const OtkMaps maps = readMaps(c, c.prhs[OTK_ARG_MAPS], "MAPS (argument 1)", LAYOUT_STACKS);
    readTemplateStruct(c, c.prhs[OTK_ARG_TEMPLATE], maps.N, "TEMPLATE (argument 2)", tpl);
    readOptions(c, OTK_ARG_FIRST_OPTION, slots, nSlots);
    readPoolingOptions(c, slots, maps, shiftRange, oriRange, pool);
    return maps;
}

void readResponseCall(const OtkCall& c, ResponseState& s)
{
    enum ResponseOption { OPT_WAVELENGTH, OPT_SIGMA_ALONG, OPT_SIGMA_ACROSS, OPT_HALF_SIZE, RESPONSE_OPTIONS };
    const char* const label = "IMAGES (argument 1)";
    requireOtkInputs(c, 2, "IMAGES and N");
    const mxArray* images = c.prhs[RESPONSE_ARG_IMAGES];
    const RealArray values = readReal(c, images, label);
    if (mxGetNumberOfDimensions(images) > 3)
        otkError(c, "badSize", "%s: %s must be nRows x nCols x nImages (it is %s)", c.name, label,
                 dimsText(images).c_str());
    s.nRows = sizeAsInt(c, dimAt(images, 0), label);
    s.nCols = sizeAsInt(c, dimAt(images, 1), label);
    s.nImages = sizeAsInt(c, dimAt(images, 2), label);
    s.images = values.data;
    s.N = static_cast<int>(readScalar(c, c.prhs[RESPONSE_ARG_N], "N (argument 2)", KIND_POSITIVE_INTEGER));

    OptionSlot options[RESPONSE_OPTIONS] = {
        {"Wavelength", nullptr}, {"SigmaAlong", nullptr}, {"SigmaAcross", nullptr}, {"HalfSize", nullptr}};
    readOptions(c, RESPONSE_ARG_FIRST_OPTION, options, RESPONSE_OPTIONS);
    const auto positive = [&](int k, const char* name, double fallback) {
        return options[k].value ? readScalar(c, options[k].value, name, KIND_POSITIVE) : fallback;
    };
    s.wavelength = positive(OPT_WAVELENGTH, "Wavelength (option)", DEFAULT_WAVELENGTH);
    s.sigmaAlong = positive(OPT_SIGMA_ALONG, "SigmaAlong (option)", DEFAULT_SIGMA_ALONG);
    s.sigmaAcross = positive(OPT_SIGMA_ACROSS, "SigmaAcross (option)", DEFAULT_SIGMA_ACROSS);
    s.halfSize = options[OPT_HALF_SIZE].value
                     ? static_cast<int>(readScalar(c, options[OPT_HALF_SIZE].value, "HalfSize (option)", KIND_COUNT))
                     : DEFAULT_HALF_SIZE;
    s.responses = nullptr;
}
