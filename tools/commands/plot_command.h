// zonetool plot: the SVG figure of a fit, of a walked profile or of a descriptive cline.
#pragma once

#include "tools/formats/run_context.h"

#include <string>
#include <vector>

// The command: zonetool plot MODEL [--result FILE] -o FILE.svg. Returns the exit status.
int plotCommand(RunContext& ctx, const std::vector<std::string>& args);

extern const char* const plotHelp;
