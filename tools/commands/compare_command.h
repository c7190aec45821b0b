// zonetool compare: the Akaike table of the fits found in directories, as an aligned table,
// tab-separated values or JSON, with the descriptive clines recorded beside them.
#pragma once

#include "tools/analysis/compare.h"
#include "tools/formats/json_io.h"
#include "tools/formats/run_context.h"
#include "tools/formats/table.h"

#include <string>
#include <vector>

// The rows in one of the three formats, each ending with a line end; without `all` only the
// best fits, and the table format then ends with a line counting the fits left out.
// `summaries` holds, per row, the object added to that row's as its "summary" member in the
// json format (null, or an empty list, for none).
std::string formatComparison(const std::vector<ComparisonRow>& rows, TableFormat format,
                             bool all = true, const std::vector<Json>& summaries = {});

// The command: zonetool compare [DIR...] [-r] [--all] [--format F]. Returns the exit status.
int compareCommand(RunContext& ctx, const std::vector<std::string>& args);

extern const char* const compareHelp;
