// The transformation search written out plainly over raw arrays, for the
// host-free tests (through wendlow_reference.h) and the plain plug-in the
// through-host timing compares against (bench/plain_Wendlow.cpp): every
// image re-transforms every element under every candidate and pools it with
// the plain routines of plain_pooling.h; scores go through a candidate
// buffer and the winner is chosen through the result pointers (which may
// alias).
#pragma once

#include <vector>

#include "plain_pooling.h"

namespace plain {

inline void search(const Maps& m, const Shifts& t, const double* elemOri, const double* elemX, const double* elemY,
                   const double* elemWeight, const double* elemBias, int nElements, double* best, double* dX,
                   double* dY, double* dOri)
{
    const int nImages = m.nImages, N = m.N;
    std::vector<double> scores(static_cast<std::size_t>(9 * ((N + 1) / 2)) * nImages, 0.0);
    for (int p = 0; p < nImages; ++p) {
        int q = 0;
        for (int r = 0; r < 2 * N; r += 4)
            for (int s = -1; s <= 1; ++s)
                for (int u = -1; u <= 1; ++u, ++q)
                    for (int k = 0; k < nElements; ++k) {
                        long long xyo[3];
                        turn(N, m.nRows / 2, m.nCols / 2, static_cast<int>(elemX[k]), static_cast<int>(elemY[k]),
                             static_cast<int>(elemOri[k]), s, u, r, xyo);
                        Winner win;
                        const double v = pool(m, t, p, static_cast<int>(xyo[2]), xyo[0], xyo[1], win);
                        scores[q * nImages + p] = scores[q * nImages + p] + (elemWeight[k] * v - elemBias[k]);
                    }
    }
    for (int p = 0; p < nImages; ++p) {
        best[p] = -1000.0;
        int q = 0;
        for (int r = 0; r < 2 * N; r += 4)
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

}  // namespace plain
