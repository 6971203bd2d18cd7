// The transformation-search kernel behind Wendlow and otk_search_transform:
// for every image, the rotation about the map centre and the one-pixel
// shift of a template under which the template scores best. No host calls
// here.
#pragma once

#include "maps.h"
#include "pooling.h"
#include "template.h"

// Rotations up to 2N steps must fit an int, as geometricTransform takes them.
constexpr int WENDLOW_MAX_ORIENTATIONS = 1 << 30;

// Where one element lands under one candidate and the shifts that keep it
// inside the maps. Positions are 64-bit because elements may lie anywhere in
// the int range and still turn exactly.
struct Placement {
    long long x;
    long long y;
    int ori;
    ShiftRun run;
    // On a rotation's first candidate: its nine candidates are the middle
    // one moved by every row and column shift, every shift inside the map,
    // so they are pooled together.
    bool wholeRotation;
};

// How far the shifts of one orientation move a sample, in rows and in
// columns.
struct ShiftReach {
    int rows;
    int columns;
};

// Everything one call reads and writes. The gateway fills pool, tpl and the
// four results after checking them (N at most WENDLOW_MAX_ORIENTATIONS);
// searchTransform fills the rest.
struct WendlowState {
    PoolState pool;
    Template tpl;
    const Element* elements;  // copied before the first write
    double* bestScores;       // nImages, overwritten
    double* bestDeltaX;       // nImages, written when a candidate wins
    double* bestDeltaY;
    double* bestDeltaOri;
    int nRotations;           // rotations r = 0, 4, ... below 2N: ceil(N/2)
    long long nCandidates;    // 9 per rotation
    long long nPlaced;        // elements placed per candidate (0 when there is no image)
    long long candidatesPerPass;
    long long elementsPerPass;
    Placement* placements;    // a pass's element k under candidate q at k*candidatesPerPass + q
    double* transformScores;  // candidate q of image p at p*nCandidates + q
    const ShiftReach* reaches;  // per orientation, for the requests ahead; nullptr: none made
};

// The search: overwrites bestScores of every image, and the deltas of every
// image where a candidate beats the floor score. Raises
// "<Function>:outOfMemory" (before writing anything) when its tables cannot
// be had.
void searchTransform(WendlowState& s);
