// zonetool compare: information criteria and goodness of fit of the fits found in a directory.
#pragma once

#include "tools/results.h"

#include <string>
#include <vector>

// Individuals sampled along the transect in use (the n of AICc): the sum of all counts, 751
// for the built-in one.
int sampledIndividuals();

// The negative log-likelihood (without the multinomial coefficients, as the models score) of
// the saturated model, in which each site's genotype frequencies are its observed ones.
double saturatedNegLogLikelihood();

// Free parameters of the saturated model: two frequencies per site of the transect in use.
int saturatedParameters();

// One fit in the comparison.
struct ComparisonRow {
    StoredResult result;
    int parameters = 0;   // k, the model's parameter count
    double negLogL = 0.0; // -ln L, the value in the result file
    double aic = 0.0;     // 2k + 2(-ln L)
    double aicc = 0.0;    // AIC + 2k(k + 1) / (n - k - 1)
    double deltaAic = 0.0;
    double weight = 0.0; // Akaike weight, exp(-deltaAic / 2) over the sum of all fits'
    double g = 0.0;      // 2 (-ln L - -ln L of the saturated model)
    int df = 0;          // degrees of freedom of G: saturated parameters minus k
};

// The rows of `results`, sorted by AIC (ties in the order given).
std::vector<ComparisonRow> compareResults(const std::vector<StoredResult>& results);

enum class TableFormat { table, tsv, json };

// The rows in one of the three formats; each ends with a line end.
std::string formatComparison(const std::vector<ComparisonRow>& rows, TableFormat format);

// The command: zonetool compare [DIR] [--format F]. Returns the exit status.
int compareCommand(const std::vector<std::string>& args);

extern const char* const compareHelp;
