// Quantities derived from a fitted model with their support limits: selection coefficients
// from the fitnesses, and the cline's centre, width, sigma_eff and F_IS per region, each with
// its range over the points within the support limit.
#pragma once

#include "tools/analysis/analyse_limits.h"
#include "tools/analysis/analyse_results.h"
#include "tools/formats/data_option.h"

#include <string>
#include <vector>

// The selection region a fitness parameter's name suffix stands for: "" all sites, "L" left,
// "R" right, a number "region N".
std::string regionLabel(const std::string& suffix);

// The selection coefficients of every genotype in every region of a model whose parameters
// are named `names`, at each of `points` (the estimate first): a fitness parameter is named
// w + genotype + an optional "_" and region suffix; the genotype a region's names leave out is
// the reference, of fitness 1. s = 1 - w / (the region's largest fitness). The value is that
// at the first point, the limits the range over all of them; regions in order of first
// appearance, genotypes SS, SI, II.
std::vector<SelectionCoefficient>
selectionCoefficients(const std::vector<std::string>& names,
                      const std::vector<std::vector<double>>& points);

// The value at the first of `values` and the range over those that are numbers (NaN when none
// is).
Bounded rangeOf(const std::vector<double>& values);

// Fills in the selection coefficients, the derived quantities, the axis, the settledness and
// the number of points within the limit of `analysis` for its model, from `limits` (each point
// within the limit simulated once on the transect and boxes of `data`).
void deriveQuantities(const DataContext& data, const ProfileLimits& limits,
                      ModelAnalysis& analysis);
