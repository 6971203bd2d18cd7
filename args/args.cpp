#include "args.h"

#include "alloc.h"
#include "pages.h"
#include "threads.h"

#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// A batch of maps in one array is read at scattered places (the samples of
// the poolings), and with 4 KB pages nearly every sample also misses the
// processor's address cache. Asked to, the system moves such an array onto
// 2 MB pages in the background while the caller keeps it (a loop over one
// batch): 64 MB of maps took some 45 s, after which a Halvery call on them
// was 7 % faster. Only whole large pages inside the array are named, so no
// other storage of the host is touched; nothing is copied or waited for (the
// request costs some 0.3 us), and where the system has no such request, or
// refuses it, nothing changes.
constexpr long long LARGE_PAGE_ARRAY_BYTES = 8LL << 21;

void adviseLargeMaps(const double* data, long long count)
{
    if (data == nullptr || count < LARGE_PAGE_ARRAY_BYTES / static_cast<long long>(sizeof(double))) return;
    adviseLargePages(const_cast<double*>(data), static_cast<std::size_t>(count) * sizeof(double));
}

std::string argLabel(const Gateway& g, int pos)
{
    char buf[160];
    const char* name = g.argNames ? g.argNames[pos] : nullptr;
    if (name != nullptr)
        std::snprintf(buf, sizeof buf, "%s (argument %d)", name, pos + 1);
    else
        std::snprintf(buf, sizeof buf, "argument %d", pos + 1);
    return buf;
}

[[noreturn]] void raise(const Gateway& g, const char* mnemonic, const std::string& message)
{
    char id[128];
    std::snprintf(id, sizeof id, "%s:%s", g.component != nullptr ? g.component : g.name, mnemonic);
    // The host copies the message before unwinding; "%s" keeps a '%' in an
    // argument name from being read as a format.
    mexErrMsgIdAndTxt(id, "%s", message.c_str());
    std::abort();  // mexErrMsgIdAndTxt does not return
}

std::string vformat(const char* fmt, va_list ap)
{
    char buf[512];
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    return buf;
}

bool isRealScalar(const mxArray* a)
{
    return a != nullptr && (mxIsNumeric(a) || mxIsLogical(a)) && !mxIsComplex(a) && !mxIsSparse(a) &&
           mxGetNumberOfElements(a) == 1;
}

double scalarValue(const Gateway& g, int pos)
{
    const mxArray* a = g.prhs[pos];
    if (!isRealScalar(a)) argError(g, pos, "notScalar", "must be a real, full numeric scalar");
    return mxGetScalar(a);
}

int integerValue(const Gateway& g, int pos, double v)
{
    if (!std::isfinite(v)) argError(g, pos, "notFinite", "must be finite");
    if (v < -2147483648.0 || v > 2147483647.0)
        argError(g, pos, "intRange", "does not fit a 32-bit int");
    return static_cast<int>(v);
}

bool isRealDouble(const mxArray* a)
{
    return a != nullptr && mxIsDouble(a) && !mxIsComplex(a) && !mxIsSparse(a);
}

}  // namespace

void gatewayError(const Gateway& g, const char* mnemonic, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    std::string message = vformat(fmt, ap);
    va_end(ap);
    raise(g, mnemonic, message);
}

void argError(const Gateway& g, int pos, const char* mnemonic, const char* fmtWhat, ...)
{
    va_list ap;
    va_start(ap, fmtWhat);
    std::string what = vformat(fmtWhat, ap);
    va_end(ap);
    raise(g, mnemonic, argLabel(g, pos) + " " + what);
}

void requireInputs(const Gateway& g, int count)
{
    if (g.nrhs < count)
        gatewayError(g, "nargin", "expects %d inputs, got %d", count, g.nrhs);
}

void requireAtMostInputs(const Gateway& g, int count)
{
    if (g.nrhs > count)
        gatewayError(g, "nargin", "takes at most %d inputs, got %d", count, g.nrhs);
}

bool isDefaultValue(const mxArray* a)
{
    return a != nullptr && mxIsDouble(a) && !mxIsSparse(a) && !mxIsComplex(a) && mxGetNumberOfElements(a) == 0;
}

void rejectOutputs(const Gateway& g, int nlhs, const char* returningFunction)
{
    if (nlhs > 0)
        gatewayError(g, "nargout",
                     "returns no output: its results are written into the arrays you pass as inputs. "
                     "Call it without an output, or call %s, which returns the results in new arrays",
                     returningFunction);
}

int roundArg(const Gateway& g, int pos)
{
    const double v = scalarValue(g, pos);
    return integerValue(g, pos, std::floor(v + 0.5));
}

int floorArg(const Gateway& g, int pos)
{
    const double v = scalarValue(g, pos);
    return integerValue(g, pos, std::floor(v));
}

int countArg(const Gateway& g, int pos)
{
    const int v = roundArg(g, pos);
    if (v < 0) argError(g, pos, "negativeCount", "must not be negative (it is %d)", v);
    return v;
}

double rawArg(const Gateway& g, int pos)
{
    return scalarValue(g, pos);
}

double* dataArg(const Gateway& g, int pos, long long minCount)
{
    const mxArray* a = g.prhs[pos];
    if (!isRealDouble(a)) argError(g, pos, "notDouble", "must be a real, full double array");
    const long long have = static_cast<long long>(mxGetNumberOfElements(a));
    if (have < minCount)
        argError(g, pos, "tooShort", "must have at least %lld elements (it has %lld)", minCount, have);
    return hostDoubles(a);
}

MapGrid mapsInArray(double* base, int R, int C, long long mapSize)
{
    const long long cells = static_cast<long long>(R) * C;
    MapGrid grid = static_cast<MapGrid>(allocZeroed(static_cast<std::size_t>(cells), sizeof(double*)));
    for (long long r = 0; r < R; ++r)
        for (long long c = 0; c < C; ++c) grid[r + R * c] = base + (c + C * r) * mapSize;
    return grid;
}

// A call given a grid of this many doubles of maps (1 MB) or more is
// mostly one that takes a second thread, so its helpers are woken as the
// grid is read (see wakeHelpers), which for a cell grid takes the host
// 0.28 us a cell. When the call stays on one thread after all, a woken
// helper spins out its spin time on the other core, or sleeps again at
// once when it was put on the caller's.
constexpr double WAKE_HELPERS_DOUBLES = 1 << 17;

MapGrid readMapGrid(const Gateway& g, int pos, int R, int C, long long minElems)
{
    const mxArray* a = g.prhs[pos];
    if (!g.serialOnly &&
        static_cast<double>(R) * static_cast<double>(C) * static_cast<double>(minElems) >= WAKE_HELPERS_DOUBLES)
        wakeHelpers(configuredThreads());
    if (isRealDouble(a)) {
        // Maps one after another, no host cell in between: for a grid of
        // nImages x N stacks that is the nRows x nCols x N x nImages array.
        const double need = static_cast<double>(R) * static_cast<double>(C) * static_cast<double>(minElems);
        const long long have = static_cast<long long>(mxGetNumberOfElements(a));
        if (R < 0 || C < 0 || static_cast<double>(have) < need)
            argError(g, pos, "tooFewMaps",
                     "must hold %d x %d maps of %lld elements each, one after another (it has %lld elements)", R, C,
                     minElems, have);
        double* base = hostDoubles(a);
        adviseLargeMaps(base, have);
        return mapsInArray(base, R, C, minElems);
    }
    if (a == nullptr || !mxIsCell(a))
        argError(g, pos, "notCell", "must be a cell array of maps or a double array holding them");
    const long long cells = static_cast<long long>(R) * C;
    const long long have = static_cast<long long>(mxGetNumberOfElements(a));
    if (have < cells)
        argError(g, pos, "tooFewCells", "must have at least %d x %d cells (it has %lld)", R, C, have);
    MapGrid grid = static_cast<MapGrid>(allocZeroed(static_cast<std::size_t>(cells), sizeof(double*)));
    for (long long k = 0; k < cells; ++k) {
        const mxArray* cell = mxGetCell(a, static_cast<mwIndex>(k));
        if (!isRealDouble(cell))
            argError(g, pos, "badCell", "cell %lld must hold a real, full double matrix", k + 1);
        const long long elems = static_cast<long long>(mxGetNumberOfElements(cell));
        if (elems < minElems)
            argError(g, pos, "cellTooSmall", "cell %lld must hold at least %lld elements (it has %lld)",
                     k + 1, minElems, elems);
        grid[k] = hostDoubles(cell);
    }
    return grid;
}

void requireIntValues(const Gateway& g, int pos, const double* values, long long count)
{
    for (long long k = 0; k < count; ++k) {
        const double v = values[k];
        // Truncation toward zero fits an int exactly on (INT_MIN - 1, INT_MAX + 1).
        if (!(v > -2147483649.0 && v < 2147483648.0))
            argError(g, pos, "badValue", "entry %lld (%g) does not fit a 32-bit int after truncation",
                     k + 1, v);
    }
}
