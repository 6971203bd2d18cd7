// The transformation search as a plain serial loop, for the tests and the
// benchmark to compare Wendlow against: every image re-transforms every
// element under every candidate; scores go through a candidate buffer and
// the winner is chosen through the result pointers (which may alias).
#pragma once

#include <vector>

#include "pooling.h"
#include "standin.h"
#include "template_call.h"
#include "transform.h"

inline void plainSearch(const TemplateCall& c, int nElements, double* best, double* dX, double* dY, double* dOri)
{
    std::vector<double*> maps;
    for (int k = 0; k < c.nImages * c.N; ++k) maps.push_back(standin::values(standin::cellContent(c.responseMaps, k)).data());
    PoolState pool = {c.nImages, c.N, c.nRows, c.nCols, c.shiftRange, c.oriRange, c.shiftStep,
                      c.saturation, maps.data(), nullptr, nullptr};
    buildShiftTables(pool);
    const int nImages = c.nImages;
    std::vector<double> scores(static_cast<std::size_t>(9 * ((c.N + 1) / 2)) * nImages, 0.0);
    for (int p = 0; p < nImages; ++p) {
        int q = 0;
        for (int r = 0; r < 2 * c.N; r += 4)
            for (int s = -1; s <= 1; ++s)
                for (int t = -1; t <= 1; ++t, ++q)
                    for (int k = 0; k < nElements; ++k) {
                        long long xyo[3];
                        geometricTransform(c.N, c.nRows / 2, c.nCols / 2, static_cast<int>(c.elemX[k]),
                                           static_cast<int>(c.elemY[k]), static_cast<int>(c.elemOri[k]), s, t, r, xyo);
                        MaxRecord record;
                        const double v = localMaximum(pool, p, static_cast<int>(xyo[2]), xyo[0], xyo[1], record);
                        scores[q * nImages + p] = scores[q * nImages + p] + (c.elemWeight[k] * v - c.elemBias[k]);
                    }
    }
    for (int p = 0; p < nImages; ++p) {
        best[p] = -1000.0;
        int q = 0;
        for (int r = 0; r < 2 * c.N; r += 4)
            for (int s = -1; s <= 1; ++s)
                for (int t = -1; t <= 1; ++t, ++q)
                    if (scores[q * nImages + p] > best[p]) {
                        best[p] = scores[q * nImages + p];
                        dX[p] = s;
                        dY[p] = t;
                        dOri[p] = r;
                    }
    }
    standin::releaseAllocations();
}
