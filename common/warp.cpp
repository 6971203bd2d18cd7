#include "warp.h"

#include "transform.h"

namespace {

bool sameParams(const WarpParams& a, const WarpParams& b)
{
    return a.dX == b.dX && a.dY == b.dY && a.dO == b.dO;
}

}  // namespace

void buildSampleTable(int N, int sx, int sy, const WarpParams& p, long long* samples)
{
    const int cx = sx / 2;
    const int cy = sy / 2;
    const long long rows = sx;
    // Storage order: the table is written, and later read, front to back.
    for (int y = 0; y < sy; ++y) {
        long long* column = samples + rows * y;
        for (int x = 0; x < sx; ++x) {
            long long xyo[3];
            geometricTransform(N, cx, cy, x, y, 0, p.dX, p.dY, p.dO, xyo);
            const bool inside = xyo[0] >= 0 && xyo[0] < rows && xyo[1] >= 0 && xyo[1] < sy;
            column[x] = inside ? xyo[0] + rows * xyo[1] : -1;
        }
    }
}

void applySampleTable(const long long* samples, long long count, const double* source, double* result)
{
    for (long long e = 0; e < count; ++e) {
        const long long from = samples[e];
        result[e] = from >= 0 ? source[from] : 0.0;
    }
}

const long long* samplesFor(WarpState& s, int i)
{
    const WarpParams& p = s.params[i];
    if (!s.holding || !sameParams(p, s.held)) {
        buildSampleTable(s.N, s.sx, s.sy, p, s.samples);
        s.held = p;
        s.holding = true;
    }
    return s.samples;
}
