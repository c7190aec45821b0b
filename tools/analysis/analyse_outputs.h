// The machine-readable outputs of `zonetool analyse`: analysis.json and estimates.tsv, and the
// per-model file of derived quantities the report is assembled from.
#pragma once

#include "tools/analysis/analyse_results.h"

#include <string>

// analysis.json: {"run": {...}, "models": [...]} with, per model, the model table's numbers,
// "estimates", "selection" and "derived" (each a list of objects with "value", "lower",
// "upper" and, for estimates, "lower_found" and "upper_found"), "axis", "settledness" and
// "limit_points"; then "descriptive", per descriptive cline its shape, k, minus_lnL, AICc,
// dAICc, axis and estimates; numbers that do not exist are null. The figures are left out.
std::string analysisJson(const Analysis& analysis);

// One model's part of analysisJson, and its reading back (figures and the model table's
// numbers included where present). False with the reason in `error`.
std::string modelAnalysisJson(const ModelAnalysis& model);
bool parseModelAnalysis(const std::string& text, const std::string& path, ModelAnalysis& model,
                        std::string& error);

// estimates.tsv: a header line "model kind name region value lower upper", then per model (in
// the order of the analysis) its parameters (kind "parameter"), selection coefficients
// ("selection", region and genotype in name) and derived quantities ("derived"), then the
// descriptive clines' parameters (model the shape, kind "descriptive"), numbers with
// 17 significant digits, "NA" for those that do not exist. Tabs and line ends in names are
// written as blanks.
std::string estimatesTsv(const Analysis& analysis);
