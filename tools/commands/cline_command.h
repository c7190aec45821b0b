// zonetool cline: descriptive cline fits (sigmoid and stepped) to a transect, for each locus of
// a file with a locus column, with the concordance test of the loci.
#pragma once

#include "tools/formats/run_context.h"

#include <string>
#include <vector>

// The command: zonetool cline [--data F] [--locus NAME] [--shape S] [--fis constant|peak]
// [--ends fixed|free] [--axis position|distance] [--format table|tsv|json] [--redo].
// Reads --data itself (every locus of the file); the table goes to the context's output.
// Returns the exit status.
int clineCommand(RunContext& ctx, const std::vector<std::string>& args);

extern const char* const clineHelp;
