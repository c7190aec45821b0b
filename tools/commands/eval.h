// zonetool eval: one model's objective at one parameter vector.
#pragma once

#include "models/objective_kind.h"
#include "tools/formats/run_context.h"

#include <ostream>
#include <string>
#include <vector>

// What the eval command line asks for.
struct EvalOptions {
    std::vector<std::string> arguments; // MODEL X0 X1 ... as typed
    int model = 0;                      // 1 to 10
    std::vector<double> point;          // X0 X1 ..., as many as the model reads
    std::string sitesPath;              // the per-site table to write; none when empty
    ObjectiveKind objective = ObjectiveKind::zonefit; // --objective
    bool both = false; // --objective both: zonefit's value, then the settled one
};

// Reads the command line into `options`. Returns -1 when the command should go on, else the
// exit status after the help or the usage error.
int readEvalOptions(const std::vector<std::string>& args, EvalOptions& options, std::ostream& out,
                    std::ostream& err);

// The command: zonetool eval MODEL X0 X1 ... [--sites FILE] [--objective KIND]. Returns the exit
// status.
int evalCommand(RunContext& ctx, const std::vector<std::string>& args);

extern const char* const evalHelp;
