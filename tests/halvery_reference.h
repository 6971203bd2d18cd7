// Halvery as a plain serial loop over the 26 inputs of a call, written in
// place into the arrays those inputs hold (so inputs that share storage
// share it here too): element values taken before the first write, then
// the loops of plain_halvery.h.
#pragma once

#include <cmath>
#include <vector>

#include "plain_halvery.h"
#include "standin.h"

inline void plainTestTemplate(const std::vector<standin::Array>& in)
{
    using standin::values;
    auto rounded = [&](int pos) { return static_cast<int>(std::floor(values(in[pos])[0] + 0.5)); };
    const int nImages = rounded(0), N = rounded(1), patchHalf = rounded(4), nRows = rounded(5), nCols = rounded(6);
    // Cell k of a grid of R rows, or the same map of a grid given as one
    // array, whose maps follow each other row by row of the grid.
    auto cellData = [&](int pos, int k) {
        if (mxIsCell(in[pos].get())) return values(standin::cellContent(in[pos], k)).data();
        const long long at = pos == 2 ? k / nImages + 1LL * N * (k % nImages) : k;
        const long long size = pos == 13 ? (2LL * patchHalf + 1) * (2LL * patchHalf + 1) : 1LL * nRows * nCols;
        return values(in[pos]).data() + at * size;
    };
    const int nElementsArg = static_cast<int>(std::floor(values(in[18])[0]));
    const int nElements = nElementsArg > 0 ? nElementsArg : 0;
    plain::Maps m = {nImages, N, nRows, nCols, rounded(16), values(in[19])[0], {}};
    for (int k = 0; k < nImages * N; ++k) m.maps.push_back(cellData(2, k));
    const plain::Shifts t = plain::shiftTables(N, rounded(15), rounded(17));
    const plain::Elements el = plain::elementsOf(values(in[8]).data(), values(in[9]).data(), values(in[10]).data(),
                                                 values(in[11]).data(), values(in[12]).data(), nElements);
    std::vector<const double*> patches;
    for (int k = 0; k < N; ++k) patches.push_back(cellData(13, k));
    std::vector<double*> renders;
    for (int i = 0; i < nImages; ++i) renders.push_back(cellData(14, i));
    plain::testTemplate(m, t, el, patchHalf, patches, renders, values(in[20]).data(), values(in[21]).data());
}
