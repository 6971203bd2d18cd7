// Inputs that Fenwold and Porrith share: positions 0 to 2 mean the same in
// both; the map size and the level sit at positions each gateway names.
#pragma once

#include "args.h"
#include "sigmoid.h"

enum SaturationArg { SAT_ARG_N_IMAGES = 0, SAT_ARG_N = 1, SAT_ARG_RESPONSE_MAPS = 2 };

// Reads positions 0 to 2 and the positions given for nRows, nCols and the
// level, and checks that the grid has nImages x N maps of at least
// nRows x nCols doubles each. Reads only: nothing is written.
void readSaturationMaps(const Gateway& g, int nRowsPos, int nColsPos, int levelPos, SaturationMaps& m);
