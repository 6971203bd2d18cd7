// Score maps: a template's score at every placement on every image, for
// several rotations, and the peaks of the best of them. No host calls here.
#pragma once

#include "pooling.h"
#include "template.h"

// One call. The gateway fills the inputs after checking them; scoreMap
// fills the results.
//
// The placement (r, c) of rotation rot (counted from 1) moves every element
// as otk_transform_template moves it by the rotation rot about the centre
// (floor(nRows/2), floor(nCols/2)) and the shift (r - floor(nRows/2),
// c - floor(nCols/2)): geometricTransform (shiftTurnedPoint of turnPoint).
// Its score is the plain score of the moved template: from 0, element by
// element in order, score + (weight*v - bias), v the element's pooled value
// (localMaximum at its moved orientation and position).
struct ScoreMapState {
    PoolState pool;  // the maps and pooling options; shift tables built by scoreMap
    const Element* elements;
    long long nElements;
    const int* rotations;  // nRotations orientation steps
    int nRotations;
    double* scores;     // nRows x nCols x nRotations x nImages, or nullptr (not kept)
    double* best;       // nRows x nCols x nImages: the best over the rotations
    double* bestRotation;  // nRows x nCols x nImages: the rotation (its steps) that gave it
};

// The best over the rotations is taken as the host's max over them: NaN
// scores are passed over unless all are NaN (then NaN and the first
// rotation), and of equal scores the first rotation in the list wins.
void scoreMap(ScoreMapState& s);

// The same results placement by placement, with localMaximum for every
// element: the plain evaluation the pooled maps must equal (for tests, and
// for calls whose pooled maps would be far larger than the maps).
void scoreMapDirect(ScoreMapState& s);

// Peaks of one image's best map (nRows x nCols): the positions whose score
// is not a NaN and not below any of its up to 8 neighbours that are not
// NaN; taken greedily, highest score first (of equal scores the first in
// column-major order), each dropping every other position at a distance d
// with d^2 < minDistance^2 from it, until maxPeaks are taken or none is
// left. Writes row, column (from 1), rotation and score of each into
// peaks[4*k .. 4*k+3] in the order taken; returns the count (at most
// min(maxPeaks, nRows*nCols)). flags and order: nRows*nCols entries each,
// for the work.
long long findPeaks(const double* best, const double* bestRotation, int nRows, int nCols, long long maxPeaks,
                    double minDistance, double* peaks, unsigned char* flags, long long* order);
