// The transformation search as a plain serial loop over a TemplateCall, for
// the tests and the benchmark to compare Wendlow against: the loops of
// plain_wendlow.h on the call's maps and elements.
#pragma once

#include "plain_wendlow.h"
#include "standin.h"
#include "template_call.h"

inline void plainSearch(const TemplateCall& c, int nElements, double* best, double* dX, double* dY, double* dOri)
{
    plain::Maps m = {c.nImages, c.N, c.nRows, c.nCols, c.oriRange, c.saturation, {}};
    for (int k = 0; k < c.nImages * c.N; ++k) m.maps.push_back(standin::values(standin::cellContent(c.responseMaps, k)).data());
    const plain::Shifts t = plain::shiftTables(c.N, c.shiftRange, c.shiftStep);
    plain::search(m, t, c.elemOri.data(), c.elemX.data(), c.elemY.data(), c.elemWeight.data(), c.elemBias.data(),
                  nElements, best, dX, dY, dOri);
}
