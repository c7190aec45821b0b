// zonetool profile: the support limits of a fitted model's parameters as a table or TSV, one
// side of one parameter for a batch job, or the collected sides; a whole profile keeps a
// journal it resumes from.
#pragma once

#include "tools/formats/run_context.h"

#include <string>
#include <vector>

// The command: zonetool profile MODEL [options]. Returns the exit status.
int profileCommand(RunContext& ctx, const std::vector<std::string>& args);

extern const char* const profileHelp;
