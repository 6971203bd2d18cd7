#include "saturation_args.h"

void readSaturationMaps(const Gateway& g, int nRowsPos, int nColsPos, int levelPos, SaturationMaps& m)
{
    m.nImages = countArg(g, SAT_ARG_N_IMAGES);
    m.N = countArg(g, SAT_ARG_N);
    m.nRows = roundArg(g, nRowsPos);
    m.nCols = roundArg(g, nColsPos);
    m.responseMaps = readMapGrid(g, SAT_ARG_RESPONSE_MAPS, m.nImages, m.N, mapElements(m.nRows, m.nCols));
    m.saturationLevel = rawArg(g, levelPos);
}
