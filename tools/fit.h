// zonetool fit: one fit exactly as zonefit runs it, several fits at once, or fits from the optima
// of an explore record. Every form describes its fits and runs them through runDescribedFit
// (tools/fit_run.h); the options are read by readFitOptions (tools/fit_options.h).
#pragma once

#include <string>
#include <vector>

// The command: zonetool fit MODELS [options]. Returns the exit status.
int fitCommand(const std::vector<std::string>& args);
