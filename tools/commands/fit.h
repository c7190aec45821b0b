// zonetool fit: one fit exactly as zonefit runs it, several fits at once, or fits from the optima
// of an explore record. Every form describes its fits and runs them through runDescribedFit
// (tools/analysis/fit_run.h); the options are read by readFitOptions
// (tools/commands/fit_options.h).
#pragma once

#include "tools/formats/run_context.h"

#include <string>
#include <vector>

// The command: zonetool fit MODELS [options]. Returns the exit status.
// The fits evaluate on the transect and boxes of `ctx`.
int fitCommand(RunContext& ctx, const std::vector<std::string>& args);
