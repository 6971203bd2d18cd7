#include "template.h"

#include <cstddef>

#include "alloc.h"

const Element* copyElements(const Template& tpl)
{
    const long long count = elementCount(tpl);
    Element* elements = static_cast<Element*>(allocZeroed(static_cast<std::size_t>(count), sizeof(Element)));
    for (long long e = 0; e < count; ++e)
        elements[e] = {static_cast<int>(tpl.elemOri[e]), static_cast<int>(tpl.elemX[e]), static_cast<int>(tpl.elemY[e]),
                       tpl.elemWeight[e], tpl.elemBias[e]};
    return elements;
}

long long shiftCacheLimit(const PoolState& pool)
{
    const long long floor = 1 << 16;
    const long long maps = static_cast<long long>(pool.nImages) * pool.N * mapElements(pool.nRows, pool.nCols);
    return maps > floor ? maps : floor;
}
