#include "tools/zonetool_main.h"

#include "data/transect.h"
#include "driver/start_file.h"
#include "driver/zonefit_main.h"
#include "models/model_table.h"
#include "population/simulation_report.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char* const mainHelp =
    "Usage: zonetool COMMAND [ARGUMENTS]\n"
    "\n"
    "Companion of zonefit. Commands:\n"
    "  eval MODEL X0 X1 ...   evaluate one model's objective at one parameter vector\n"
    "  fit MODEL              run the fit of 'zonefit MODEL' with a fixed seed\n"
    "  help [COMMAND]         show this text or a command's help\n"
    "\n"
    "Run 'zonetool COMMAND --help' for a command's arguments and options.\n";

const char* const evalHelp =
    "Usage: zonetool eval MODEL X0 X1 ... [--sites FILE]\n"
    "\n"
    "Evaluates the objective of MODEL (1 to 10) at the parameter vector X0 X1 ..., which must\n"
    "hold exactly as many values as the model reads. Models 3 to 6 read borders.txt from the\n"
    "working directory. Numbers are read as strtod reads them (nan and inf included).\n"
    "\n"
    "Standard output: whatever the model prints during the evaluation, then the value alone\n"
    "on the last line, with 17 significant digits.\n"
    "Standard error: 'generations: G' and whether the simulation reached equilibrium.\n"
    "\n"
    "Options:\n"
    "  --sites FILE   also write a tab-separated table, one row per site: index, position,\n"
    "                 observed counts SS SI II, predicted frequencies SS SI II (NA when the\n"
    "                 value is a penalty and nothing was simulated)\n";

const char* const fitHelp =
    "Usage: zonetool fit MODEL [--seed S] [--start FILE] [--trace FILE]\n"
    "\n"
    "Runs exactly the schedule and output of 'zonefit MODEL' in the working directory.\n"
    "\n"
    "Options:\n"
    "  --seed S       seed every annealer's generator with S (0 to 2^64-1) instead of the\n"
    "                 clock, so that the fit can be repeated bit for bit\n"
    "  --start FILE   read the start vector and step sizes from FILE instead of\n"
    "                 startvecMODEL.txt\n"
    "  --trace FILE   write one tab-separated line per anneal call: stage, cycle, call,\n"
    "                 temperature, evaluations, converged (0/1), best value\n";

int usageError(const std::string& command, const std::string& problem) {
    std::cerr << "zonetool" << (command.empty() ? "" : " " + command) << ": " << problem << "\n"
              << "Run 'zonetool " << (command.empty() ? "" : command + " ")
              << "--help' for usage.\n";
    return 2;
}

bool isHelp(const std::string& argument) {
    return argument == "--help" || argument == "-h";
}

// A model number as the driver reads it (decimal, 0 octal, 0x hexadecimal), but only when the
// whole text is that number.
bool parseModel(const std::string& text, int& number) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || value < 1 || value > modelCount) {
        return false;
    }
    number = static_cast<int>(value);
    return true;
}

bool parseNumber(const std::string& text, double& value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return *end == '\0';
}

std::string format17(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

bool writeSites(const std::string& path, const std::vector<Genotype>& predicted) {
    std::ofstream out(path);
    if (!out) {
        return false;
    }
    out << "site\tposition\tobservedSS\tobservedSI\tobservedII\tpredictedSS\tpredictedSI\t"
           "predictedII\n";
    for (int i = 0; i < siteCount; i++) {
        out << i << '\t' << format17(sitePosition[i]) << '\t' << countSS[i] << '\t' << countSI[i]
            << '\t' << countII[i];
        if (predicted.size() == static_cast<std::size_t>(siteCount)) {
            const Genotype& g = predicted[static_cast<std::size_t>(i)];
            out << '\t' << format17(g.SS) << '\t' << format17(g.SI) << '\t' << format17(g.II);
        } else {
            out << "\tNA\tNA\tNA";
        }
        out << '\n';
    }
    out.flush();
    return static_cast<bool>(out);
}

int evalCommand(const std::vector<std::string>& args) {
    std::string sitesPath;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); i++) {
        if (isHelp(args[i])) {
            std::cout << evalHelp;
            return 0;
        }
        if (args[i] == "--sites") {
            if (i + 1 >= args.size()) {
                return usageError("eval", "--sites needs a file name");
            }
            sitesPath = args[++i];
        } else if (args[i].rfind("--", 0) == 0) {
            return usageError("eval", "unknown option '" + args[i] + "'");
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.empty()) {
        return usageError("eval", "missing MODEL");
    }
    int number = 0;
    if (!parseModel(positional[0], number)) {
        return usageError("eval",
                          "MODEL must be a model number from 1 to 10, not '" + positional[0] + "'");
    }
    const ModelEntry& model = *findModel(number);
    std::vector<double> values;
    for (std::size_t i = 1; i < positional.size(); i++) {
        double value = 0.0;
        if (!parseNumber(positional[i], value)) {
            return usageError("eval", "'" + positional[i] + "' is not a number");
        }
        values.push_back(value);
    }
    if (static_cast<int>(values.size()) != model.parameterCount) {
        return usageError("eval", "model " + std::to_string(model.number) + " (" + model.name +
                                      ") reads " + std::to_string(model.parameterCount) +
                                      " parameters, " + std::to_string(values.size()) + " given");
    }
    if (model.objective == nullptr) {
        std::cerr << "Model " << model.number << " is not available in this build\n";
        return 1;
    }

    NRvector<double> x(static_cast<int>(values.size()));
    for (std::size_t i = 0; i < values.size(); i++) {
        x[static_cast<int>(i)] = values[i];
    }
    SimulationReport report;
    report.keepPredictions = !sitesPath.empty();
    simulationReport() = &report;
    const double value = model.objective(x);
    simulationReport() = nullptr;

    std::cout << format17(value) << "\n" << std::flush;
    if (report.runs == 0) {
        std::cerr << "generations: 0 (no simulation)\n";
    } else {
        std::cerr << "generations: " << report.generations
                  << (report.converged ? " (equilibrium reached)"
                                       : " (generation cap reached, not at equilibrium)")
                  << "\n";
    }
    if (!sitesPath.empty() && !writeSites(sitesPath, report.predictions)) {
        std::cerr << "zonetool eval: cannot write " << sitesPath << ": " << std::strerror(errno)
                  << "\n";
        return 1;
    }
    return 0;
}

int fitCommand(const std::vector<std::string>& args) {
    std::string modelText;
    std::string startPath;
    std::string tracePath;
    ScheduleOptions options;
    for (std::size_t i = 0; i < args.size(); i++) {
        const std::string& arg = args[i];
        if (isHelp(arg)) {
            std::cout << fitHelp;
            return 0;
        }
        if (arg == "--seed" || arg == "--start" || arg == "--trace") {
            if (i + 1 >= args.size()) {
                return usageError("fit", arg + " needs a value");
            }
            const std::string& value = args[++i];
            if (arg == "--seed") {
                char* end = nullptr;
                errno = 0;
                const unsigned long long seed = std::strtoull(value.c_str(), &end, 10);
                if (value.empty() || value[0] == '-' || *end != '\0' || errno != 0) {
                    return usageError("fit", "--seed needs a whole number from 0 to "
                                             "18446744073709551615, not '" +
                                                 value + "'");
                }
                options.seed = seed;
            } else if (arg == "--start") {
                startPath = value;
            } else {
                tracePath = value;
            }
        } else if (arg.rfind("--", 0) == 0) {
            return usageError("fit", "unknown option '" + arg + "'");
        } else if (modelText.empty()) {
            modelText = arg;
        } else {
            return usageError("fit", "unexpected argument '" + arg + "'");
        }
    }
    int number = 0;
    if (modelText.empty()) {
        return usageError("fit", "missing MODEL");
    }
    if (!parseModel(modelText, number)) {
        return usageError("fit",
                          "MODEL must be a model number from 1 to 10, not '" + modelText + "'");
    }
    if (startPath.empty()) {
        startPath = startFileName(modelText.c_str());
    }
    std::ofstream trace;
    if (!tracePath.empty()) {
        trace.open(tracePath);
        if (!trace) {
            std::cerr << "zonetool fit: cannot write the trace file " << tracePath << ": "
                      << std::strerror(errno) << "\n";
            return 1;
        }
        options.trace = &trace;
    }
    return runFit(modelText.c_str(), startPath, options);
}

} // namespace

int zonetoolMain(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::cerr << mainHelp;
        return 2;
    }
    const std::string command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (isHelp(command)) {
        std::cout << mainHelp;
        return 0;
    }
    if (command == "help") {
        if (rest.empty()) {
            std::cout << mainHelp;
        } else if (rest[0] == "eval") {
            std::cout << evalHelp;
        } else if (rest[0] == "fit") {
            std::cout << fitHelp;
        } else {
            return usageError("", "unknown command '" + rest[0] + "'");
        }
        return 0;
    }
    if (command == "eval") {
        return evalCommand(rest);
    }
    if (command == "fit") {
        return fitCommand(rest);
    }
    return usageError("", "unknown command '" + command + "'");
}
