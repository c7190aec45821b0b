// zonetool summary: the cline summary of each model's best fit found in directories, as an
// aligned table, tab-separated values or JSON.
#pragma once

#include "tools/formats/run_context.h"

#include <string>
#include <vector>

// The command: zonetool summary [DIR...] [-r] [--format table|tsv|json]. Returns the exit
// status.
int summaryCommand(RunContext& ctx, const std::vector<std::string>& args);

extern const char* const summaryHelp;
