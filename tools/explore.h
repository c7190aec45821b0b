// zonetool explore: many temperature-0 simplex searches from a space-filling design of start
// points, merged into a map of the optima.
#pragma once

#include "models/model_table.h"
#include "tools/optima_map.h"
#include "tools/run_context.h"

#include <string>
#include <vector>

// What one search does.
struct ExploreSettings {
    int starts = 32; // design points (the user's start vector comes on top)
    std::uint64_t seed = 1;
    int jobs = 1;      // worker threads
    int budget = 4000; // objective evaluations per start, at most (about)
    Design design = Design::box;
    std::vector<Region> regions; // the model's defaults when empty
    bool verbose = false;        // one line on standard error per finished start
    ObjectiveKind objective = ObjectiveKind::settled; // what the starts minimise
};

// The convergence tolerance of each start's simplex: that of the refining stages of a fit.
constexpr double exploreTolerance = 1e-5;

// One temperature-0 simplex from `start` with initial `steps`, until it converges or has spent
// `budget` evaluations, minimising the objective of `kind`. Deterministic: the same start gives
// the same outcome on any thread.
// The model reads the transect and boxes of `context` and reports there.
StartOutcome runStart(const ModelContext& context, const ModelEntry& model,
                      const std::vector<double>& start, const std::vector<double>& steps,
                      int budget, ObjectiveKind kind = ObjectiveKind::settled);

// Runs `starts` (with their steps) on `jobs` threads, merges the outcomes and measures the
// settledness of each optimum (and, under the settled objective, the state it settled in). The map
// is the same whatever `jobs` is (timings aside). The models read the transect and boxes of
// `data`; their diagnostic lines are dropped.
ExploreMap runExplore(const DataContext& data, const ModelEntry& model,
                      const ExploreSettings& settings,
                      const std::vector<std::vector<double>>& starts,
                      const std::vector<std::vector<double>>& steps,
                      const std::vector<std::string>& labels);

// The command: zonetool explore MODEL [options]. Returns the exit status.
int exploreCommand(RunContext& ctx, const std::vector<std::string>& args);

extern const char* const exploreHelp;
