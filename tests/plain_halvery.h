// Halvery's loops written out plainly over raw arrays, for the host-free
// tests (through halvery_reference.h) and the plain plug-in the through-host
// timing compares against (bench/plain_Halvery.cpp): elements outer, images
// inner, pooled with the plain routines of plain_pooling.h, patches drawn
// row by row, clipped at the map border. The element values are taken by
// the caller before the first write.
#pragma once

#include <cmath>
#include <vector>

#include "plain_pooling.h"

namespace plain {

// A template's elements, truncated toward zero as every use takes them.
struct Elements {
    std::vector<int> ori, x, y;
    std::vector<double> weight, bias;
};

inline Elements elementsOf(const double* ori, const double* x, const double* y, const double* weight,
                           const double* bias, int nElements)
{
    Elements el;
    for (int e = 0; e < nElements; ++e) {
        el.ori.push_back(static_cast<int>(ori[e]));
        el.x.push_back(static_cast<int>(x[e]));
        el.y.push_back(static_cast<int>(y[e]));
        el.weight.push_back(weight[e]);
        el.bias.push_back(bias[e]);
    }
    return el;
}

// patches[o] is the patch of orientation o, renders[i] the render map of
// image i; scores[i] and pooled[e*nImages + i] are written in place.
inline void testTemplate(const Maps& m, const Shifts& t, const Elements& el, int patchHalf,
                         const std::vector<const double*>& patches, const std::vector<double*>& renders,
                         double* scores, double* pooled)
{
    const int nElements = static_cast<int>(el.ori.size());
    const int side = 2 * patchHalf + 1;
    int pos = 0;
    for (int e = 0; e < nElements; ++e)
        for (int i = 0; i < m.nImages; ++i) {
            Winner win;
            const double v = pool(m, t, i, el.ori[e], el.x[e], el.y[e], win);
            pooled[pos++] = v;
            scores[i] = scores[i] + (el.weight[e] * v - el.bias[e]);
            if (!(v > 0)) continue;
            const double amplitude = std::sqrt(v);
            double* render = renders[i];
            const double* patch = patches[win.ori];
            for (long long r = win.row - patchHalf; r <= win.row + patchHalf; ++r)
                for (long long c = win.col - patchHalf; c <= win.col + patchHalf; ++c) {
                    if (r < 1 || r > m.nRows || c < 1 || c > m.nCols) continue;
                    const double p = patch[(r - win.row + patchHalf) + side * (c - win.col + patchHalf)] * amplitude;
                    if (p > render[(r - 1) + m.nRows * (c - 1)]) render[(r - 1) + m.nRows * (c - 1)] = p;
                }
        }
}

}  // namespace plain
