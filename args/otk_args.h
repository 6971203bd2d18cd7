// What the otk_ functions read: values of any real numeric class, maps as
// one numeric array or a cell array of maps with exact shapes, template
// structs and name-value options. Every error is "otk:<mnemonic>" with a
// message that starts with the function's name and names the argument as
// the user counts it. Readers only read: a function that calls them all
// before its kernel writes nothing (and returns nothing) on a wrong call.
#pragma once

#include <cstddef>

#include "host.h"
#include "maps.h"
#include "pooling.h"
#include "responses.h"
#include "template.h"

// One call of an otk_ function.
struct OtkCall {
    const char* name;
    int nrhs;
    const mxArray* const* prhs;
    CallBlocks blocks{};  // the call's blocks, freed as it ends (host.h)
};

[[noreturn]] void otkError(const OtkCall& c, const char* mnemonic, const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Fewer than count inputs: otk:nargin with what the function expects.
void requireOtkInputs(const OtkCall& c, int count, const char* expected);

// More than most inputs: otk:nargin with what the function takes. A
// surplus input is a mistake (a misplaced option, a value too many), never
// something to ignore.
void limitOtkInputs(const OtkCall& c, int most, const char* expected);

// More than most outputs asked for: otk:nargout.
void requireOtkOutputs(const OtkCall& c, int nlhs, int most);

// A real, full numeric (or logical) array as doubles: a double array is
// read in place, any other class is converted once into a block of this
// call. label names it in messages, e.g. "MAPS (argument 1)".
struct RealArray {
    const mxArray* array;
    const double* data;
    long long count;
};
RealArray readReal(const OtkCall& c, const mxArray* a, const char* label);

enum ScalarKind {
    KIND_REAL,              // any number but NaN (Inf allowed)
    KIND_POSITIVE,          // a finite number above 0
    KIND_INTEGER,           // a whole number fitting a 32-bit int
    KIND_COUNT,             // a whole number >= 0
    KIND_POSITIVE_INTEGER,  // a whole number >= 1
    KIND_NONNEGATIVE,       // any number >= 0 (Inf allowed)
};
double readScalar(const OtkCall& c, const mxArray* a, const char* label, ScalarKind kind);

// Whole numbers that fit a 32-bit int. With count >= 0 the array must hold
// count of them or be a scalar, which stands for count copies (the result
// then holds count entries); with count < 0 any number, *n set to it.
const double* readWhole(const OtkCall& c, const mxArray* a, const char* label, long long count, long long* n);

// The per-map (or per-image) row shifts, column shifts and rotations of the
// warps, at positions first..first+2: each a scalar for all n or n whole
// numbers.
struct Transforms {
    const double* dX;
    const double* dY;
    const double* dO;
};
Transforms readTransforms(const OtkCall& c, int first, long long n);

// How maps are laid out: stacks (nRows x nCols x N x nImages, or an
// nImages x N cell grid) or a list (nRows x nCols x n, or a cell vector; a
// cell array of any shape for LAYOUT_ANY_CELLS, read as a list).
enum MapLayout { LAYOUT_STACKS, LAYOUT_LIST, LAYOUT_ANY_CELLS };

// Maps of one size read from either form. grid has nImages x N entries,
// entry i + nImages*o, pointing into the caller's array (or this call's
// converted copy): for reading only.
struct OtkMaps {
    int nImages;  // n for a list
    int N;        // 1 for a list
    int nRows;
    int nCols;
    bool isCell;
    const mxArray* array;  // as given: its shape shapes the results
    MapGrid grid;
};
OtkMaps readMaps(const OtkCall& c, const mxArray* a, const char* label, MapLayout layout);

// Maps that hold at least one image, one orientation and one pixel:
// otk:empty naming label otherwise.
void requireMapsNotEmpty(const OtkCall& c, const OtkMaps& m, const char* label);

// New maps of the size of m, in the form the caller gave: one double array
// (nRows x nCols x N x nImages for stacks, nRows x nCols x n for a list) or
// a cell array, nImages x N, or shaped like cellShape when that is given,
// every cell a map of its own. With zeroed false the entries are left
// unset, for kernels that write them all. grid receives the entries in the
// order of m.grid.
mxArray* createMaps(const OtkMaps& m, MapLayout layout, bool zeroed, MapGrid* grid,
                    const mxArray* cellShape = nullptr);


// Name-value options from position firstPos (0-based) on. Each slot names
// an option and receives the value given (nullptr when not given); names
// match in any case, later pairs override earlier ones.
struct OptionSlot {
    const char* name;
    const mxArray* value;
};
void readOptions(const OtkCall& c, int firstPos, OptionSlot* slots, int nSlots);

// The pooling options of scoring and searching, checked for m.N
// orientations, into pool with m's maps: slots[0..3] are ShiftRange,
// OriRange, ShiftStep and Saturation (defaults shiftRange, oriRange, 1, Inf).
void readPoolingOptions(const OtkCall& c, const OptionSlot* slots, const OtkMaps& m, int shiftRange, int oriRange,
                        PoolState& pool);

// A template struct (fields orientation, row, column, weight and bias, one
// entry per element, extra fields ignored) checked for N orientations: the
// values as double arrays the kernels read.
void readTemplateStruct(const OtkCall& c, const mxArray* a, int N, const char* label, Template& tpl);

// The positions scoring and searching share.
enum OtkTemplateArg { OTK_ARG_MAPS = 0, OTK_ARG_TEMPLATE = 1, OTK_ARG_FIRST_OPTION = 2 };

// What scoring and searching share: MAPS (argument 1, stacks), TEMPLATE
// (argument 2) and the name-value options from argument 3 on, read against
// slots (the first four the pooling options, defaults shiftRange and
// oriRange), into pool and tpl. Returns the maps.
OtkMaps readTemplateCall(const OtkCall& c, OptionSlot* slots, int nSlots, int shiftRange, int oriRange,
                         PoolState& pool, Template& tpl);

// A double array of the given dimensions, unset or zero-filled.
mxArray* createDoubles(mwSize ndims, const mwSize* dims, bool zeroed);

// What otk_oriented_responses reads: IMAGES (argument 1), N (argument 2)
// and the filters' options from argument 3 on.
enum ResponseArg { RESPONSE_ARG_IMAGES = 0, RESPONSE_ARG_N = 1, RESPONSE_ARG_FIRST_OPTION = 2 };

// The filters of the interpreted definition the function follows.
constexpr double DEFAULT_WAVELENGTH = 6;
constexpr double DEFAULT_SIGMA_ALONG = 3;
constexpr double DEFAULT_SIGMA_ACROSS = 1.5;
constexpr int DEFAULT_HALF_SIZE = 7;

// Everything of s but responses, checked; the images as doubles (the
// caller's when they are double, else converted once). Reads only.
void readResponseCall(const OtkCall& c, ResponseState& s);
