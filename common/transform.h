// The geometric point transform shared by Wendlow, Sabrel and Mundle.
#pragma once

#include <cmath>

// Turns the point (x, y) about the centre (cx, cy) by deltaOri orientation
// steps of PI/N, then moves it by (deltaX, deltaY), rounding each coordinate
// to the nearest grid point (halves up). xyo receives the new row, the new
// column and the orientation (iOri + deltaOri) modulo N in 0..N-1. N >= 1.
//
// Positions are 64-bit: a point or shift anywhere in the int range is
// transformed exactly, and the caller's bounds test sees the true position.
void geometricTransform(int N, int cx, int cy, int x, int y, int iOri, int deltaX, int deltaY,
                        int deltaOri, long long xyo[3]);

// geometricTransform in two steps, for callers that move one turned point by
// several shifts: turnPoint does the rotation (the polar angle and distance
// and their products), shiftTurnedPoint adds a moved centre and rounds.
// shiftTurnedPoint(turnPoint(...), cx, cy, deltaX, deltaY) gives exactly the
// bits of geometricTransform with the same arguments: both steps form the
// same stored doubles in the same order.
struct TurnedPoint {
    double rowOffset;  // radius * cos(alpha)
    double colOffset;  // radius * sin(alpha)
    int ori;           // (iOri + deltaOri) modulo N
};
TurnedPoint turnPoint(int N, int cx, int cy, int x, int y, int iOri, int deltaOri);
// Inline: the search moves every turned element by nine shifts, and a call
// per shift cost it more than the rounding itself.
inline void shiftTurnedPoint(const TurnedPoint& t, int cx, int cy, int deltaX, int deltaY, long long xyo[3])
{
    xyo[2] = t.ori;
    const double rowCentre = static_cast<double>(static_cast<long long>(cx) + deltaX);
    const double colCentre = static_cast<double>(static_cast<long long>(cy) + deltaY);
    xyo[0] = static_cast<long long>(std::floor((0.5 + rowCentre) + t.rowOffset));
    xyo[1] = static_cast<long long>(std::floor((0.5 + colCentre) + t.colOffset));
}

// (iOri + deltaOri) modulo N, taken in 0..N-1, in constant time. N >= 1.
int wrapOrientation(int N, long long iOriPlusDelta);

// One move of many oriented points, as the search reports it: N, the centre
// of rotation, the shift and the rotation.
struct PointMove {
    int N;
    int centreRow;
    int centreCol;
    int rowShift;
    int colShift;
    int rotation;
};

// Points k = 0..count-1 (row, column and orientation taken from doubles
// holding whole numbers that fit an int) through geometricTransform, into
// the three result arrays. The one loop behind otk_transform_points and
// otk_transform_template, so that both move a template where Wendlow
// placed it.
void movePoints(const PointMove& move, long long count, const double* rows, const double* cols,
                const double* orientations, double* newRows, double* newCols, double* newOrientations);
