// zonetool analyse: the whole analysis of one data set in one command - for each model the
// search, the fit from its best optimum and the profile of every parameter, then the
// comparison, the derived quantities, the figures and the report - resumable at every stage.
#pragma once

#include "tools/formats/run_context.h"

#include <string>
#include <vector>

// The command: zonetool analyse [MODELS] [options]. Returns the exit status.
int analyseCommand(RunContext& ctx, const std::vector<std::string>& args);
