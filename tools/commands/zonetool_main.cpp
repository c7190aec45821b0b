#include "tools/commands/zonetool_main.h"

#include "tools/commands/analyse.h"
#include "tools/commands/cline_command.h"
#include "tools/commands/compare_command.h"
#include "tools/commands/eval.h"
#include "tools/commands/explore.h"
#include "tools/commands/fit.h"
#include "tools/commands/models_command.h"
#include "tools/commands/plot_command.h"
#include "tools/commands/profile_command.h"
#include "tools/commands/simulate.h"
#include "tools/commands/slurm.h"
#include "tools/commands/start_command.h"
#include "tools/commands/summary_command.h"
#include "tools/formats/cli.h"
#include "tools/formats/data_option.h"
#include "tools/formats/fit_record.h"
#include "tools/formats/run_context.h"

#include <iostream>
#include <string>
#include <vector>

namespace {

const char* const mainHelp =
    "Usage: zonetool COMMAND [ARGUMENTS]\n"
    "\n"
    "Companion of zonefit. Commands:\n"
    "  analyse [MODELS]       the whole analysis: search, fit, profiles, comparison, report\n"
    "  models                 list the ten models, their parameters and boxes\n"
    "  eval MODEL X0 X1 ...   evaluate one model's objective at one parameter vector\n"
    "  fit MODELS             run the fit of 'zonefit MODEL' with a fixed seed, or several\n"
    "                         fits at once\n"
    "  compare [DIR...]       AIC, AICc, Akaike weights and G of the best fit of each model\n"
    "  summary [DIR...]       cline centre and width, F_IS and effective sigma of best fits\n"
    "  profile MODEL          profile-likelihood support limits of a fitted model\n"
    "  plot MODEL -o FILE     SVG figure of the observed and fitted genotype frequencies\n"
    "  slurm MODELS           Slurm job array of fits (or --profile MODEL: of profile sides)\n"
    "  explore MODEL          multi-start search: a map of the optima from many starts\n"
    "  simulate MODEL X0 ... -o FILE  a transect file with counts drawn from the model\n"
    "  start MODEL            a start vector and steps derived from the transect in use\n"
    "  cline                  descriptive sigmoid and stepped clines, per locus, with limits\n"
    "  help [COMMAND]         show this text or a command's help\n"
    "\n"
    "\n"
    "Every command that evaluates a model takes --data FILE (a transect file of your own,\n"
    "examples/transect.tsv shows the format; --locus NAME picks one locus of a file with a\n"
    "locus column), --box NAME=LO:HI (a parameter's bounds) and\n"
    "--objective settled|zonefit (the value minimised: that of the state the row settles in,\n"
    "or zonefit's own; explore and profile use settled by default, the others zonefit).\n"
    "Run 'zonetool COMMAND --help' for a command's arguments and options.\n";

} // namespace

int zonetoolMain(int argc, char** argv) {
    return runZonetool(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr,
                       std::vector<std::string>(argv, argv + argc));
}

int runZonetool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                const std::vector<std::string>& commandLine) {
    if (args.empty()) {
        err << mainHelp;
        return 2;
    }
    const std::string command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (isHelp(command)) {
        out << mainHelp;
        return 0;
    }
    struct Command {
        const char* name;
        int (*run)(RunContext&, const std::vector<std::string>&);
        bool takesData; // --data and --box are read here, for the whole command
    };
    const Command commands[] = {
        {"models", modelsCommand, true},   {"eval", evalCommand, true},
        {"fit", fitCommand, true},         {"compare", compareCommand, true},
        {"profile", profileCommand, true}, {"plot", plotCommand, true},
        {"summary", summaryCommand, true}, {"slurm", slurmCommand, true},
        {"explore", exploreCommand, true}, {"simulate", simulateCommand, false},
        {"start", startCommand, true},     {"cline", clineCommand, false},
        {"analyse", analyseCommand, true},
    };
    if (command == "help") {
        if (rest.empty()) {
            out << mainHelp;
            return 0;
        }
        for (const Command& c : commands) {
            if (rest[0] == c.name) {
                RunContext ctx(out, err);
                return c.run(ctx, {"--help"});
            }
        }
        return usageError(err, "", "unknown command '" + rest[0] + "'");
    }
    for (const Command& c : commands) {
        if (command != c.name) {
            continue;
        }
        // One context for everything the command does, fits on worker threads included.
        RunContext ctx(out, err);
        ctx.data.commandLine = commandLine;
        if (!c.takesData) {
            return c.run(ctx, rest);
        }
        std::vector<std::string> commandArgs;
        const int dataStatus = readDataOptions(c.name, rest, commandArgs, ctx.data, err);
        if (dataStatus >= 0) {
            return dataStatus;
        }
        return c.run(ctx, commandArgs);
    }
    return usageError(err, "", "unknown command '" + command + "'");
}
