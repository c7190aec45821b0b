// zonetool fit MODEL --from EXPLORE_RECORD: the annealing schedule of a fit, run from each of
// the best optima of a multi-start search.
#pragma once

#include "models/model_table.h"
#include "tools/optima_map.h"
#include "tools/run_context.h"

#include <optional>
#include <string>
#include <vector>

// The name of the fit from optimum `rank` (from 1) of `model`: the result-file prefix, "opt"
// and the rank, then "seed" and the seed when one of several seeds is given (SS1_ML_opt2,
// SS1_ML_opt2seed3).
std::string optimumFitName(const ModelEntry& model, int rank,
                           const std::optional<std::uint64_t>& seed);

// The start file of the fits from an optimum: its point on line 1 (17 significant digits),
// the steps from the regions of the record on line 2.
std::string optimumStartText(const ExploreMap& map, const Optimum& optimum);

// The command, for fit arguments that hold --from. Returns the exit status.
int fitFromCommand(RunContext& ctx, const std::vector<std::string>& args);

extern const char* const fitFromHelp;
