// Objectives of the kernel models on a regular grid of demes (models 7 to 10). Each form with a
// context scores the context's transect and tests its point against the context's box of the
// model (models/model_context.h); the form without one is that form in zonefitContext().
#pragma once

#include <vector>

#include "data/transect_file.h"
#include "models/model_context.h"
#include "optimiser/nr3.h"
#include "population/population.h"

double cone(const NRvector<double>& x);       // C_1: one region, start split at a contact
double ctwo(const NRvector<double>& x);       // C_2: two regions meeting at a contact
double cthree(const NRvector<double>& x);     // C_3: three regions between two borders
double CthreeFnot(const NRvector<double>& x); // C_3_F0: as C_3 with selfing fixed at 0
double cone(const ModelContext& context, const NRvector<double>& x);
double ctwo(const ModelContext& context, const NRvector<double>& x);
double cthree(const ModelContext& context, const NRvector<double>& x);
double CthreeFnot(const ModelContext& context, const NRvector<double>& x);

// The 2K + 1 integration points of the dispersal kernel, matched by position.
struct Kernel {
    std::vector<double> points;  // distance of each point from the focal deme
    std::vector<double> weights; // normal density (mean 0, sd sigma) at each point
    std::vector<int> offsets;    // deme offset of each point from the focal deme
};

// Kernel reaching 3 sigma, widened to the next multiple of halfPoints demes beyond it.
Kernel buildKernel(double sigma, double demeSpacing, int halfPoints);

// The grid intervals N and kernel half points K of kernel model `number` (7 to 10). False,
// leaving both untouched, for any other number.
bool kernelSettingsOf(int number, int& gridIntervals, int& halfPoints);

// Spacing of a grid of gridIntervals intervals from 0 to the largest site position of
// `transect`.
double gridSpacing(const Transect& transect, int gridIntervals);

// Index of the first deme at or right of position, never above gridIntervals.
int gridIndex(double position, double demeSpacing, int gridIntervals);

// Adult frequencies at position, interpolated between its two demes; rescaled if summing > 1.
Genotype readSite(const std::vector<Population>& demes, double position, double demeSpacing,
                  int gridIntervals);

// A log-frequency floored at -penaltyScale; NaN stays NaN.
double flooredLog(double logFrequency, double penaltyScale);

// L less the counts times the floored log-frequencies of one site, skipping zero counts and logs.
double addSiteLikelihood(double L, const Genotype& predicted, double countSS, double countSI,
                         double countII, double penaltyScale);
