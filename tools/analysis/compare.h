// Information criteria and goodness of fit of fits of one transect: one Akaike row per model
// (its best fit), never pooling a model's replicate fits.
#pragma once

#include "data/transect_file.h"
#include "tools/formats/results.h"

#include <string>
#include <vector>

// Individuals sampled along `transect` (the n of AICc): the sum of all counts, 751 for the
// built-in one.
int sampledIndividuals(const Transect& transect);

// The negative log-likelihood (without the multinomial coefficients, as the models score) of
// the saturated model, in which each site's genotype frequencies are its observed ones.
double saturatedNegLogLikelihood(const Transect& transect);

// Free parameters of the saturated model: two frequencies per site of `transect`.
int saturatedParameters(const Transect& transect);

// One fit in the comparison.
struct ComparisonRow {
    StoredResult result;
    bool best = false;      // the model's best fit, its one row in the Akaike table
    int parameters = 0;     // k: the model's parameters, less those the record says were fixed
    double negLogL = 0.0;   // -ln L, the value at the fit's point
    double aic = 0.0;       // 2k + 2(-ln L)
    double aicc = 0.0;      // AIC + 2k(k + 1) / (n - k - 1)
    double deltaAic = 0.0;  // AIC less the lowest AIC of the best fits
    double deltaAicc = 0.0; // AICc less the lowest AICc of the best fits
    double weight = 0.0;    // Akaike weight among the best fits, exp(-dAIC / 2) over their sum;
                            // NaN for the other fits, which take no part in it
    double g = 0.0;         // 2 (-ln L - -ln L of the saturated model)
    int df = 0;             // degrees of freedom of G: saturated parameters minus k
};

// The rows of `results`: the best fit of each model (lowest -ln L, the first on ties), sorted
// by AIC (ties in the order given), each followed by the other fits of its model by -ln L.
// n, G and its degrees of freedom are those of `transect`.
std::vector<ComparisonRow> compareResults(const Transect& transect,
                                          const std::vector<StoredResult>& results);
