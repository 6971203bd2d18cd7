#include "transform.h"

#include <cmath>

#include "maps.h"

int wrapOrientation(int N, long long o)
{
    // Adding N while negative, then reducing modulo N, is the non-negative
    // remainder.
    long long r = o % N;
    if (r < 0) r += N;
    return static_cast<int>(r);
}

void geometricTransform(int N, int cx, int cy, int x, int y, int iOri, int deltaX, int deltaY,
                        int deltaOri, long long xyo[3])
{
    xyo[2] = wrapOrientation(N, static_cast<long long>(iOri) + deltaOri);

    const long long du = static_cast<long long>(x) - cx;
    const long long dv = static_cast<long long>(y) - cy;
    const double alpha = std::atan2(static_cast<double>(dv), static_cast<double>(du)) + (PI * deltaOri) / N;

    // The squared distance is an exact integer converted to double as a whole;
    // 128 bits hold it for any pair of ints.
    const unsigned __int128 d = static_cast<unsigned __int128>(static_cast<__int128>(dv) * dv) +
                                static_cast<unsigned __int128>(static_cast<__int128>(du) * du);
    const double radius = std::sqrt(static_cast<double>(d));

    const double rowCentre = static_cast<double>(static_cast<long long>(cx) + deltaX);
    const double colCentre = static_cast<double>(static_cast<long long>(cy) + deltaY);
    xyo[0] = static_cast<long long>(std::floor((0.5 + rowCentre) + radius * std::cos(alpha)));
    xyo[1] = static_cast<long long>(std::floor((0.5 + colCentre) + radius * std::sin(alpha)));
}
