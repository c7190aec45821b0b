// zonetool fit: one fit exactly as zonefit runs it, or several fits at once.
#pragma once

#include <string>
#include <vector>

// The command: zonetool fit MODELS [options]. Returns the exit status.
int fitCommand(const std::vector<std::string>& args);

extern const char* const fitHelp;
