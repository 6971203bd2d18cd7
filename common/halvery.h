// The template-testing kernel behind Halvery and otk_score_template: scores
// a template on a batch of images, records every element's pooled response
// and draws the template as it matched into render maps. No host calls here.
#pragma once

#include "maps.h"
#include "pooling.h"
#include "template.h"

// Everything one call reads and writes. The gateway fills the inputs
// (pool, tpl, patchHalf, patches and the four results) after checking
// them; testTemplate fills the rest.
struct HalveryState {
    PoolState pool;
    Template tpl;
    int patchHalf;       // below 0: patches of side 0, nothing is drawn
    MapGrid patches;     // N patches of patchSide^2
    MapGrid renderMaps;  // nImages maps of nRows x nCols, raised in place; nullptr: nothing is drawn
    double* scores;      // nImages, accumulated in place
    double* pooledValues;  // nImages x nElements, element-major columns

    long long nElements;      // elements read: 0 when nElements is below 1
    const Element* elements;  // copied before the first write
    const ShiftRun* runs;     // per element: the shifts inside the map
    bool plainOrder;          // storage shared: plain order of reads and writes
    int threads;              // threads the images are spread over
    double* pooledByImage;    // with threads: image i's pooled values at i*nElements + e
    bool insideFast;          // offsets cached and a narrow orientation window: poolInsideRecord
    bool gathers;             // inside poolings copied out first (gatherInside)
    const GatherPlace* places;  // per element, where gathersPlaced: its samples' places (gatherPlaced)
};

// Rows (and columns) of a patch: 2*patchHalf + 1, or 0 for a negative half,
// which every use of the side shares (a half of INT_MIN must not overflow).
inline long long patchSide(int patchHalf)
{
    return patchHalf >= 0 ? 2LL * patchHalf + 1 : 0;
}

// Whole patches are drawn 4 entries at a time where the processor has AVX2
// (the default), otherwise 2 at a time, with the same bits. For tests:
// chooses the path (AVX2 only where available) and returns whether AVX2 is
// now used. Not while a call runs.
bool useWideDrawing(bool wide);

// Takes the elements' values into a copy of this call before the first
// write. Call it before checking them: the checks read the copy.
void copyHalveryElements(HalveryState& s);

// For every element, then every image: pools, records, scores and draws.
void testTemplate(HalveryState& s);
