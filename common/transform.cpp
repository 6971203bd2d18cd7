#include "transform.h"

#include <algorithm>
#include <cmath>

#include "maps.h"
#include "threads.h"

int wrapOrientation(int N, long long o)
{
    // Adding N while negative, then reducing modulo N, is the non-negative
    // remainder.
    long long r = o % N;
    if (r < 0) r += N;
    return static_cast<int>(r);
}

TurnedPoint turnPoint(int N, int cx, int cy, int x, int y, int iOri, int deltaOri)
{
    TurnedPoint t;
    t.ori = wrapOrientation(N, static_cast<long long>(iOri) + deltaOri);

    const long long du = static_cast<long long>(x) - cx;
    const long long dv = static_cast<long long>(y) - cy;
    const double alpha = std::atan2(static_cast<double>(dv), static_cast<double>(du)) + (PI * deltaOri) / N;

    // The squared distance is an exact integer converted to double as a whole;
    // 128 bits hold it for any pair of ints.
    const unsigned __int128 d = static_cast<unsigned __int128>(static_cast<__int128>(dv) * dv) +
                                static_cast<unsigned __int128>(static_cast<__int128>(du) * du);
    const double radius = std::sqrt(static_cast<double>(d));

    // Stored as doubles, as the one-step form rounds them before adding the
    // centre (no contraction: the build forbids it).
    t.rowOffset = radius * std::cos(alpha);
    t.colOffset = radius * std::sin(alpha);
    return t;
}

void geometricTransform(int N, int cx, int cy, int x, int y, int iOri, int deltaX, int deltaY,
                        int deltaOri, long long xyo[3])
{
    shiftTurnedPoint(turnPoint(N, cx, cy, x, y, iOri, deltaOri), cx, cy, deltaX, deltaY, xyo);
}

// Points per chunk: some milliseconds of transforms, so that a long call
// can be stopped between chunks (runChunks). Each point is moved on its own,
// so the chunks change no result.
constexpr long long POINTS_PER_CHUNK = 1 << 16;

void movePoints(const PointMove& move, long long count, const double* rows, const double* cols,
                const double* orientations, double* newRows, double* newCols, double* newOrientations)
{
    auto chunk = [&](long long c) {
        const long long end = std::min(count, (c + 1) * POINTS_PER_CHUNK);
        for (long long k = c * POINTS_PER_CHUNK; k < end; ++k) {
            long long xyo[3];
            geometricTransform(move.N, move.centreRow, move.centreCol, static_cast<int>(rows[k]),
                               static_cast<int>(cols[k]), static_cast<int>(orientations[k]), move.rowShift,
                               move.colShift, move.rotation, xyo);
            newRows[k] = static_cast<double>(xyo[0]);
            newCols[k] = static_cast<double>(xyo[1]);
            newOrientations[k] = static_cast<double>(xyo[2]);
        }
    };
    forEachChunk((count + POINTS_PER_CHUNK - 1) / POINTS_PER_CHUNK, 1, chunk);
}
