// zonetool explore: independent searches seeded from one seed (tools/analysis/search.h), run until
// two agree on the best optimum, merged into a map of the optima.
#pragma once

#include "tools/analysis/search.h"
#include "tools/formats/run_context.h"

#include <string>
#include <vector>

// The command: zonetool explore MODEL [options]. Returns the exit status.
int exploreCommand(RunContext& ctx, const std::vector<std::string>& args);

extern const char* const exploreHelp;
