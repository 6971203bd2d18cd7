// Gateway-side argument readers with validation.
//
// Every reader checks what it reads and raises a host error with id
// "<Function>:<mnemonic>" and a message naming the argument as the user counts
// it (from 1). Readers only read: a gateway that calls them all before its
// kernel writes nothing on a wrong call.
#pragma once

#include <cstddef>

#include "host.h"
#include "maps.h"

// What a reader needs to name an argument: the function, its inputs, and the
// user-facing name of each 0-based position (nullptr for unnamed ones).
struct Gateway {
    const char* name;
    int nrhs;
    const mxArray* const* prhs;
    const char* const* argNames;
    // A gateway whose calls always run on the caller's thread alone (the
    // plain builds timed against the plug-ins): reading its maps wakes no
    // helper, which would stay awake for nothing and take the turn from
    // another plug-in's helpers.
    bool serialOnly = false;
    // The component of the error ids, when it is not the name: the compiled
    // otk_ functions raise otk:<mnemonic> like the rest of their layer.
    const char* component = nullptr;
    CallBlocks blocks{};
};

[[noreturn]] void gatewayError(const Gateway& g, const char* mnemonic, const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// "<name> (argument k) <what>", k = pos + 1.
[[noreturn]] void argError(const Gateway& g, int pos, const char* mnemonic, const char* fmtWhat, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

// Fewer than count inputs is a wrong call; more are ignored.
void requireInputs(const Gateway& g, int count);

// More than count inputs is a wrong call (nargin): for functions whose
// surplus inputs would be a caller's mistake, not a plug-in's unused slots.
void requireAtMostInputs(const Gateway& g, int count);

// [] where an optional value may be left to its default: an empty, full,
// real double array. Other empty values ('', {}, struct([]), sparse) are
// values of their class, and get that class's error.
bool isDefaultValue(const mxArray* a);

// The plug-ins return nothing: their results go into the arrays passed. A
// call that asks for an output would otherwise run, write, and then fail in
// the host without our id; it is refused before anything is written, with a
// pointer to the layer function that returns the results.
void rejectOutputs(const Gateway& g, int nlhs, const char* returningFunction);

// floor(v + 0.5) of a real, full numeric or logical scalar, as an int.
int roundArg(const Gateway& g, int pos);
// floor(v) of a real numeric or logical scalar, as an int.
int floorArg(const Gateway& g, int pos);
// roundArg that must not be negative (it sizes a table).
int countArg(const Gateway& g, int pos);
// The scalar as passed.
double rawArg(const Gateway& g, int pos);

// Data of a real, full double array of at least minCount elements.
double* dataArg(const Gateway& g, int pos, long long minCount);

// Data pointers of the maps of an R x C grid (entry r + R*c for cell (r, c)).
// The grid is a cell array whose first R*C cells each hold a real, full
// double array of at least minElems elements, or one real, full double
// array holding the maps one after another, minElems doubles each, the map
// of cell (r, c) at position c + C*r: for the nImages x N grid of response
// maps that is the nRows x nCols x N x nImages array, for a list of n maps
// the nRows x nCols x n array. R and C must not be negative.
MapGrid readMapGrid(const Gateway& g, int pos, int R, int C, long long minElems);

// The table of maps laid out in one block as readMapGrid reads them.
MapGrid mapsInArray(double* base, int R, int C, long long mapSize);

// Every one of values[0..count-1], truncated toward zero, fits an int.
void requireIntValues(const Gateway& g, int pos, const double* values, long long count);
