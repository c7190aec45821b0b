// Newton's search for a stable fixed point of one generation near a state, guarded against the
// saddles that plain Newton steps find as readily as stable states.
#pragma once

#include <vector>

#include "population/row_generation.h"

// Why a search ended.
enum class FixedPointVerdict {
    accepted, // a stable fixed point in [0, 1] within reach
    singular, // DG - I has a neutral direction (a pivot under 1e-14 of the largest)
    diverged, // the steps stopped reducing |G(x) - x| short of the rounding floor
    tooFar,   // the fixed point lies beyond the reach
    outside,  // a frequency of the fixed point lies outside [0, 1]
    boundary, // a genotype's mean over the row below the interior floor and under half its
              // start: a genotype being lost from the row
    unstable, // DG has an eigenvalue above 1 (the sign of det(DG - I) or inverse iteration)
};

// Searches from `x` (size() entries) for a fixed point of `generation` by damped Newton steps
// on F(x) = G(x) - x: no frequency may go negative, each step is halved until the Euclidean
// norm of F falls, and the search stops at |F| < 1e-13 (largest entry) or at the rounding floor.
// Accepts the point only when it lies within `reach` of the start (largest entry), in [0, 1], and
// is stable: det(DG - I) has the sign of a matrix whose eigenvalues all lie below 1, and block
// inverse iteration on DG - I finds no eigenvalue with real part above 1. On acceptance `x` is the
// fixed point and `adults` its adults (the virgins of its generation, dispersed); otherwise both
// are left as they were.
FixedPointVerdict stableFixedPoint(const RowGeneration& generation, std::vector<double>& x,
                                   double reach, std::vector<double>& adults,
                                   double interiorFloor = 0.0);

// Whether `x`, a state the row barely moves from, is a saddle it leaves along a direction near 1:
// det(DG - I) has the sign of an odd number of real eigenvalues above 1, and block inverse
// iteration finds the larger real part of the two eigenvalues nearest 1 above 1 (written into
// `largest`). Where the sign says stable this costs one Jacobian and one band LU.
bool saddleNearOne(const RowGeneration& generation, const std::vector<double>& x, double& largest);

// The real parts of the two eigenvalues of DG(x) nearest 1, from 20 steps of block inverse
// iteration on DG - I (factorised in `shifted`); writes the larger into `largest`. For tests.
bool eigenvaluesNearOne(const RowGeneration& generation, const std::vector<double>& x,
                        double& largest);
