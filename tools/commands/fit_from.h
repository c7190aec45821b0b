// zonetool fit MODEL --from EXPLORE_RECORD: the annealing schedule of a fit, run from each of
// the best optima of a multi-start search.
#pragma once

#include "tools/analysis/optima_map.h"
#include "tools/commands/fit_options.h"
#include "tools/formats/fit_description.h"
#include "tools/formats/run_context.h"

#include <string>

// Runs the fits from the record `options` names (options.from set, read by readFitOptions):
// the K best optima on worker threads with a summary, or with --optimum I the one fit from
// optimum I as fitOne runs it, on the data of `ctx`, with its messages and summary on the
// context's streams. Returns the exit status.
int fitFromRecord(const RunContext& ctx, FitOptions options);
