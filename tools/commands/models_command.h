// zonetool models: the ten models, their parameters and boxes.
#pragma once

#include "tools/formats/run_context.h"

#include <string>
#include <vector>

// The listing: per model a heading, then one line per parameter (index, name, box, meaning).
std::string modelListing(const DataContext& data);

// The parameter names of every model, one model per line, as the eval help shows them.
std::string parameterLines();

// The command: zonetool models. Returns the exit status.
int modelsCommand(RunContext& ctx, const std::vector<std::string>& args);

extern const char* const modelsHelp;
