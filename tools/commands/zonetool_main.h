// zonetool, the companion of zonefit: everything beyond the single fit of `zonefit MODEL`.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// The whole zonetool program. Exit status 0 on success, 1 on an input or output failure,
// 2 on bad arguments.
int zonetoolMain(int argc, char** argv);

// One zonetool command line without the program name (as in {"eval", "1", ...}), run in this
// process with `out` and `err` as its standard output and error: what a test runs instead of
// starting the program. Returns the exit status.
// `commandLine` is what the records and lock files keep as the command (argv as started).
int runZonetool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                const std::vector<std::string>& commandLine = {});
