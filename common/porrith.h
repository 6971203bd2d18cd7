// The histogram kernel behind Porrith and otk_response_density: saturates
// response maps in place with the sigmoid, then adds the saturated responses
// of an interior region of every map into the caller's histogram and
// normalises it to a density. No host calls here.
#pragma once

#include "sigmoid.h"

// How the values reach the histogram.
enum BinRoute {
    // 1.0 added to the histogram per value, in the plain pixel-major order:
    // the histogram shares memory with a map, so each count may change a
    // value still to be binned.
    ROUTE_PLAIN_ORDER,
    // 1.0 added per value in storage order: more bins than values, where
    // integer counts would cost more than they save.
    ROUTE_DIRECT,
    // Integer counts per chunk, merged and added once per bin.
    ROUTE_COUNTED
};

// Everything one call reads and writes: the gateway fills maps, margin,
// binWidth, nBins and histogram after checking them (nBins >= 1 and
// binWidth > 0 unless regionIsEmpty); planBinning fills the rest.
struct PorrithState {
    SaturationMaps maps;  // saturated in place (or from maps.sources), then binned;
                          // maps.responseMaps nullptr: from sources, not kept
    int margin;           // not negative
    double binWidth;      // positive whenever the region holds a value
    int nBins;            // at least 1 whenever the region holds a value
    double* histogram;    // nBins doubles, accumulated then normalised

    long long regionRows;  // rows margin+1 .. nRows-margin-1 (1-based)
    long long regionCols;
    long long values;      // values binned: region size times cells
    BinRoute route;
    bool fused;            // saturate and bin each column in one visit
    double* edges;         // nBins+2 bin edges, or nullptr to divide
    double invWidth;       // 1/binWidth, only to guess a bin near its edges
    long long chunks;      // chunks of columns, each with its own counts
    long long* counts;     // chunks x nBins
    double* columns;       // without maps to keep: a column of the region per chunk
    int threads;
};

// Values a map of mapLength rows (or columns) gives the region.
long long regionLength(int mapLength, int margin);

// Whether the region holds no value (then nothing is binned or divided).
bool regionIsEmpty(const PorrithState& s);

// Whether the values can be counted straight from maps.sources, without
// saturated maps to write (maps.responseMaps may then be nullptr): the
// counted route, whose columns are saturated one at a time.
bool countsWithoutMaps(const PorrithState& s);

// Chooses the route and allocates its scratch, on the gateway's thread and
// before anything is written, so that a failed allocation writes nothing.
void planBinning(PorrithState& s);

// Saturation, then the histogram, as planned.
void saturateAndBin(const PorrithState& s);
