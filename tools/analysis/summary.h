// What a biologist reads off a fitted cline - centre, width, heterozygote
// deficit per region and the effective dispersal distance - for each model's best fit.
#pragma once

#include "models/model_table.h"
#include "population/population.h"
#include "tools/analysis/fit_files.h"
#include "tools/analysis/settledness.h"
#include "tools/formats/json_io.h"
#include "tools/formats/run_context.h"

#include <optional>
#include <string>
#include <vector>

// The cline summary of one fit, in the data's length unit.
struct FitSummary {
    bool predicted = false;      // the point was simulated (false for a penalty point)
    bool positionAxis = false;   // axis: site position (kernel models) or summed site distance
    double centre = 0.0;         // of the allele-frequency cline (NaN when p never crosses 1/2)
    double width = 0.0;          // 1 / largest slope of p along the axis
    std::vector<double> deficit; // F_IS of each selection region, in region order
    double sigma = 0.0;          // the fitted sigma (NaN when the model has none)
    double sigmaEffective = 0.0; // s.d. of the simulated discrete kernel (NaN for models 1-6)
    std::optional<Settledness> settled; // of the simulation at the point, when it was measured
    ObjectiveKind objective = ObjectiveKind::zonefit; // whose state the predictions are of
    double value = 0.0;                 // -lnL under `objective` at the point (summariseStoredFit)
    std::optional<SettledReport> state; // the settled evaluation at the point, under settled
};

// The axis name used in the output: "position" or "summed distance".
const char* axisName(const FitSummary& summary);

// The selection region of each site for `model` at `point`: by deme index for the
// stepping-stone models (borders.txt gives `fileBorders` for models 3 to 6), by position for
// the kernel models (a site at a border belongs to the region to its right).
// The sites are those of `transect`.
std::vector<int> siteRegions(const Transect& transect, const ModelEntry& model,
                             const std::vector<double>& point, const int fileBorders[2]);

// The summary of `model` at `point` from `predictions` (one per site of `transect`, or empty for
// a penalty point).
FitSummary summariseFit(const Transect& transect, const ModelEntry& model,
                        const std::vector<double>& point, const std::vector<Genotype>& predictions,
                        const int fileBorders[2]);

// The summary of a stored fit of `model` at `point`: summariseFit of the predictions there
// under `objective`, with the settledness measured when the model can be evaluated (2n + 2
// evaluations; the diagnostics of the settledness runs are dropped) and, under settled, the
// state the row settled in. The model reads the transect and boxes of `data`; the diagnostics
// of the evaluation at the point go to `diagnostics` (null: standard output).
FitSummary summariseStoredFit(const DataContext& data, const ModelEntry& model,
                              const std::vector<double>& point, const int fileBorders[2],
                              ObjectiveKind objective = ObjectiveKind::zonefit,
                              std::ostream* diagnostics = nullptr);

// The summary as a JSON object: "axis", "centre", "width", "F_IS" (list), "sigma",
// "sigma_eff", and with the settledness "generations", "cap_reached" (boolean), "lambda",
// "remaining" and "cliff" (a parameter name or null); under the settled objective also
// "state", "state_generations" and "last_change"; numbers that do not exist are null.
Json summaryJson(const FitSummary& summary);

// One best fit per model among `fits` (lowest value; the first found on ties), in model order.
std::vector<const LoadedFit*> bestFits(const std::vector<LoadedFit>& fits);

// Reads the result files found in `dirs` (below them too with `recursive`) with loadFit on
// the transect and boxes of `ctx`, writing "zonetool COMMAND: " and each warning or refusal
// to the context's error stream, where the evaluations' diagnostics go too. A failed fit (a
// value that is a penalty, tools/analysis/failed_fit.h) is left out with the warning
// "zonetool COMMAND: warning: PATH holds a failed fit (its value, V, is a penalty, not a
// -lnL); it is left out". Returns false after a message when a directory cannot be read or
// no fit is left ("no result files in DIR", or "no usable fit in DIR" when failed fits were
// all there was). Result files without a record are taken as fits of
// `withoutRecord`.
bool loadFits(const RunContext& ctx, const std::string& command,
              const std::vector<std::string>& dirs, bool recursive, std::vector<LoadedFit>& fits,
              ObjectiveKind withoutRecord = ObjectiveKind::zonefit);

// The predicted frequencies at the sites for `model` at `point` under `objective` (the state
// scored), on the transect and boxes of `data`; empty for a penalty point. A settled
// evaluation's report goes to `state`, and the value to `value`, when they are not null; the
// diagnostics to `diagnostics` (null: standard output).
std::vector<Genotype> predictAt(const DataContext& data, const ModelEntry& model,
                                const std::vector<double>& point,
                                ObjectiveKind objective = ObjectiveKind::zonefit,
                                SettledReport* state = nullptr, double* value = nullptr,
                                std::ostream* diagnostics = nullptr);

// The border indices of borders.txt for models 3 to 6 (zeros for other models), checked against
// `transect`. False with the reason in `error` when the file is needed and bad.
bool bordersFor(const Transect& transect, const ModelEntry& model, int fileBorders[2],
                std::string& error);
