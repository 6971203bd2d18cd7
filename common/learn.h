// Learning a template from aligned examples: the mean pooled response of
// every (row, column, orientation), then greedy picks of strong, separated
// candidates near the centre. No host calls here.
#pragma once

#include "pooling.h"

// One call. The gateway fills pool (the examples' maps and the pooling
// options), K, radius, separation and the result arrays (K entries each);
// learnTemplate fills them and `picked`.
struct LearnState {
    PoolState pool;
    long long K;
    double radius;      // candidates with (r - cr)^2 + (c - cc)^2 <= radius^2 take part
    double separation;  // a pick drops candidates with d^2 < separation^2 (and itself)
    double* rows;       // results, from 1
    double* cols;
    double* oris;
    double* means;      // the pick's mean pooled value
    long long picked;
};

// The mean pooled value of every candidate, an nRows x nCols x N array
// (orientation slowest): localMaximum of each image, summed from 0 in image
// order, then divided by the number of images. Threaded; mean has
// nRows*nCols*N entries.
void meanPooled(PoolState& pool, double* mean);

// Picks up to K candidates from mean (as meanPooled fills it): each step
// the largest remaining value (of equal ones the first in the array's
// order), then every candidate of any orientation within the separation,
// the pick's own position included, is dropped. Candidates are the
// positions within the radius of (floor(nRows/2), floor(nCols/2)), counted
// from 1. Returns the count; results into s's arrays.
long long pickCandidates(LearnState& s, const double* mean);

// meanPooled, then pickCandidates.
void learnTemplate(LearnState& s);
