// Halvery as a plain serial loop over the 26 inputs of a call, written in
// place into the arrays those inputs hold (so inputs that share storage
// share it here too): element values taken before the first write, then
// elements outer, images inner, pooled with the plain routines of
// plain_pooling.h, patches drawn row by row, clipped at the map border.
#pragma once

#include <cmath>
#include <vector>

#include "plain_pooling.h"
#include "standin.h"

inline void plainTestTemplate(const std::vector<standin::Array>& in)
{
    using standin::values;
    auto rounded = [&](int pos) { return static_cast<int>(std::floor(values(in[pos])[0] + 0.5)); };
    auto cellData = [&](int pos, int k) { return values(standin::cellContent(in[pos], k)).data(); };
    const int nImages = rounded(0), N = rounded(1), patchHalf = rounded(4), nRows = rounded(5), nCols = rounded(6);
    const int nElementsArg = static_cast<int>(std::floor(values(in[18])[0]));
    const int nElements = nElementsArg > 0 ? nElementsArg : 0;
    plain::Maps m = {nImages, N, nRows, nCols, rounded(16), values(in[19])[0], {}};
    for (int k = 0; k < nImages * N; ++k) m.maps.push_back(cellData(2, k));
    const plain::Shifts t = plain::shiftTables(N, rounded(15), rounded(17));
    std::vector<int> ori, x, y;
    std::vector<double> w, b;
    for (int e = 0; e < nElements; ++e) {
        ori.push_back(static_cast<int>(values(in[8])[e]));
        x.push_back(static_cast<int>(values(in[9])[e]));
        y.push_back(static_cast<int>(values(in[10])[e]));
        w.push_back(values(in[11])[e]);
        b.push_back(values(in[12])[e]);
    }
    double* scores = values(in[20]).data();
    double* pooled = values(in[21]).data();
    const int side = 2 * patchHalf + 1;
    int pos = 0;
    for (int e = 0; e < nElements; ++e)
        for (int i = 0; i < nImages; ++i) {
            plain::Winner win;
            const double v = plain::pool(m, t, i, ori[e], x[e], y[e], win);
            pooled[pos++] = v;
            scores[i] = scores[i] + (w[e] * v - b[e]);
            if (!(v > 0)) continue;
            const double amplitude = std::sqrt(v);
            double* render = cellData(14, i);
            const double* patch = cellData(13, win.ori);
            for (long long r = win.row - patchHalf; r <= win.row + patchHalf; ++r)
                for (long long c = win.col - patchHalf; c <= win.col + patchHalf; ++c) {
                    if (r < 1 || r > nRows || c < 1 || c > nCols) continue;
                    const double p = patch[(r - win.row + patchHalf) + side * (c - win.col + patchHalf)] * amplitude;
                    if (p > render[(r - 1) + nRows * (c - 1)]) render[(r - 1) + nRows * (c - 1)] = p;
                }
        }
}
