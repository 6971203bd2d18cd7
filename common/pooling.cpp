#include "pooling.h"

#include <cmath>

#include "alloc.h"

void buildShiftTables(PoolState& s)
{
    const int width = 2 * s.shiftRange + 1;
    s.shiftY = allocIntTable(static_cast<std::size_t>(s.N), static_cast<std::size_t>(width));
    s.shiftX = allocIntTable(static_cast<std::size_t>(s.N), static_cast<std::size_t>(width));
    for (int k = 0; k < s.N; ++k) {
        const double theta = (PI * k) / s.N;
        const double sinTheta = std::sin(theta);
        const double cosTheta = std::cos(theta);
        for (int i = -s.shiftRange; i <= s.shiftRange; ++i) {
            const int d = i * s.shiftStep;
            s.shiftY[k][i + s.shiftRange] = static_cast<int>(std::floor(d * sinTheta + 0.5));
            s.shiftX[k][i + s.shiftRange] = static_cast<int>(std::floor(d * cosTheta + 0.5));
        }
    }
}

double localMaximum(const PoolState& s, int image, int ori, long long x, long long y, MaxRecord& record)
{
    double best = 0.0;
    MaxRecord win = {0, 0, 0, 0, 0};
    const int* rowShift = s.shiftX[ori];
    const int* colShift = s.shiftY[ori];
    for (int i = -s.shiftRange; i <= s.shiftRange; ++i) {
        const long long xs = x + rowShift[i + s.shiftRange];
        const long long ys = y + colShift[i + s.shiftRange];
        if (xs < 1 || xs > s.nRows || ys < 1 || ys > s.nCols) continue;
        const std::ptrdiff_t p = linearIndex(xs, ys, s.nRows, s.nCols);
        for (int j = -s.oriRange; j <= s.oriRange; ++j) {
            int o = ori + j;
            if (o < 0)
                o += s.N;
            else if (o >= s.N)
                o -= s.N;
            const double v = s.responseMaps[image + s.nImages * o][p];
            if (best < v) {
                best = v;
                win = {i, static_cast<int>(xs), static_cast<int>(ys), o, j};
            }
        }
    }
    record = win;
    return best > s.saturation ? s.saturation : best;
}
