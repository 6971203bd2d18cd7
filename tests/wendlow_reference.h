// The transformation search as a plain serial loop, for the tests and the
// benchmark to compare Wendlow against: every image re-transforms every
// element under every candidate and pools it with the plain routines of
// plain_pooling.h; scores go through a candidate buffer and the winner is
// chosen through the result pointers (which may alias).
#pragma once

#include <vector>

#include "plain_pooling.h"
#include "standin.h"
#include "template_call.h"

inline void plainSearch(const TemplateCall& c, int nElements, double* best, double* dX, double* dY, double* dOri)
{
    plain::Maps m = {c.nImages, c.N, c.nRows, c.nCols, c.oriRange, c.saturation, {}};
    for (int k = 0; k < c.nImages * c.N; ++k) m.maps.push_back(standin::values(standin::cellContent(c.responseMaps, k)).data());
    const plain::Shifts t = plain::shiftTables(c.N, c.shiftRange, c.shiftStep);
    const int nImages = c.nImages;
    std::vector<double> scores(static_cast<std::size_t>(9 * ((c.N + 1) / 2)) * nImages, 0.0);
    for (int p = 0; p < nImages; ++p) {
        int q = 0;
        for (int r = 0; r < 2 * c.N; r += 4)
            for (int s = -1; s <= 1; ++s)
                for (int u = -1; u <= 1; ++u, ++q)
                    for (int k = 0; k < nElements; ++k) {
                        long long xyo[3];
                        plain::turn(c.N, c.nRows / 2, c.nCols / 2, static_cast<int>(c.elemX[k]),
                                    static_cast<int>(c.elemY[k]), static_cast<int>(c.elemOri[k]), s, u, r, xyo);
                        plain::Winner win;
                        const double v = plain::pool(m, t, p, static_cast<int>(xyo[2]), xyo[0], xyo[1], win);
                        scores[q * nImages + p] = scores[q * nImages + p] + (c.elemWeight[k] * v - c.elemBias[k]);
                    }
    }
    for (int p = 0; p < nImages; ++p) {
        best[p] = -1000.0;
        int q = 0;
        for (int r = 0; r < 2 * c.N; r += 4)
            for (int s = -1; s <= 1; ++s)
                for (int u = -1; u <= 1; ++u, ++q)
                    if (scores[q * nImages + p] > best[p]) {
                        best[p] = scores[q * nImages + p];
                        dX[p] = s;
                        dY[p] = u;
                        dOri[p] = r;
                    }
    }
}
