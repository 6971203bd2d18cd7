#include "sigmoid.h"

#include <cstddef>

#include "args.h"

void sigmoidSaturate(const SaturationMaps& m)
{
    // Storage order: one contiguous run per map instead of a stride of nRows
    // between neighbouring pixels, and the same transformations per element.
    // Serial on purpose: on a machine whose cores are busy with other work a
    // second thread cost more time waiting to join than it saved.
    const long long cells = static_cast<long long>(m.nImages) * m.N;
    const long long count = mapElements(m.nRows, m.nCols);
    const double s = m.saturationLevel;
    for (long long k = 0; k < cells; ++k) {
        double* map = m.responseMaps[k];
        for (long long p = 0; p < count; ++p) map[p] = saturate(map[p], s);
    }
}

void sigmoidSaturatePixelMajor(const SaturationMaps& m)
{
    const double s = m.saturationLevel;
    for (long long i = 1; i <= m.nRows; ++i) {
        for (long long j = 1; j <= m.nCols; ++j) {
            const std::ptrdiff_t p = linearIndex(i, j, m.nRows, m.nCols);
            for (long long k = 0; k < m.N; ++k) {
                for (long long l = 0; l < m.nImages; ++l) {
                    double* map = m.responseMaps[l + m.nImages * k];
                    map[p] = saturate(map[p], s);
                }
            }
        }
    }
}

void readSaturationMaps(const Gateway& g, int nRowsPos, int nColsPos, int levelPos, SaturationMaps& m)
{
    m.nImages = countArg(g, SAT_ARG_N_IMAGES);
    m.N = countArg(g, SAT_ARG_N);
    m.nRows = roundArg(g, nRowsPos);
    m.nCols = roundArg(g, nColsPos);
    m.responseMaps = readMapGrid(g, SAT_ARG_RESPONSE_MAPS, m.nImages, m.N, mapElements(m.nRows, m.nCols));
    m.saturationLevel = rawArg(g, levelPos);
}
