#include "tools/zonetool_main.h"

#include "data/failure_sink.h"
#include "models/model_table.h"
#include "population/simulation_report.h"
#include "tools/cli.h"
#include "tools/compare.h"
#include "tools/data_option.h"
#include "tools/fit.h"
#include "tools/plot.h"
#include "tools/profile.h"
#include "tools/simulate.h"

#include <algorithm>
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
    "  models                 list the ten models, their parameters and boxes\n"
    "  eval MODEL X0 X1 ...   evaluate one model's objective at one parameter vector\n"
    "  fit MODELS             run the fit of 'zonefit MODEL' with a fixed seed, or several\n"
    "                         fits at once\n"
    "  compare [DIR]          AIC, AICc, Akaike weights and G of the fits in DIR\n"
    "  profile MODEL          profile-likelihood support limits of a fitted model\n"
    "  plot MODEL -o FILE     SVG figure of the observed and fitted genotype frequencies\n"
    "  simulate MODEL X0 ... -o FILE  a transect file with counts drawn from the model\n"
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
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable)\n"
    "  --sites FILE   also write a tab-separated table, one row per site: index, position,\n"
    "                 observed counts SS SI II, predicted frequencies SS SI II (NA when the\n"
    "                 value is a penalty and nothing was simulated)\n"
    "\n"
    "Parameters X0 X1 ... of each model, in order ('zonetool models' shows their boxes):\n";

// The parameter names of every model, one model per line.
std::string parameterLines() {
    std::string text;
    for (const ModelEntry& model : modelTable) {
        std::string line = "  " + std::string(model.number < 10 ? " " : "") +
                           std::to_string(model.number) + " " + model.name + ":";
        line += std::string(11 - std::string(model.name).size(), ' ');
        for (int j = 0; j < model.parameterCount; j++) {
            line += std::string(" ") + model.parameters[j].name;
        }
        text += line + "\n";
    }
    return text;
}

const char* const modelsHelp =
    "Usage: zonetool models [--data FILE] [--box NAME=LO:HI]\n"
    "\n"
    "Lists the ten models: number, name, result file, and for each parameter its index in\n"
    "the parameter vector, short name, box and meaning. '[' and ']' include a bound, '(' and\n"
    "')' exclude it. A value outside its box is answered with a penalty.\n"
    "\n"
    "Options:\n"
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable)\n";

std::string modelListing() {
    std::string text;
    for (const ModelEntry& model : modelTable) {
        text += std::string(model.number == 1 ? "" : "\n") + "Model " +
                std::to_string(model.number) + "  " + model.name + "  result file " + model.prefix +
                (model.borders == BorderSource::borderFile ? "  reads borders.txt" : "") + "\n";
        const ModelBox& boxes = activeBox(model.number);
        std::size_t nameWidth = 0;
        std::size_t boxWidth = 0;
        for (int j = 0; j < boxes.parameterCount; j++) {
            nameWidth = std::max(nameWidth, std::string(boxes.parameters[j].name).size());
            boxWidth = std::max(boxWidth, boxText(boxes.parameters[j]).size());
        }
        for (int j = 0; j < boxes.parameterCount; j++) {
            const ParameterInfo& p = boxes.parameters[j];
            const std::string name = p.name;
            const std::string box = boxText(p);
            text += "  x" + std::to_string(j) + (j < 10 ? "  " : " ") + name +
                    std::string(nameWidth - name.size(), ' ') + "  " + box +
                    std::string(boxWidth - box.size(), ' ') + "  " + p.meaning + "\n";
        }
    }
    return text;
}

int modelsCommand(const std::vector<std::string>& givenArgs) {
    DataContext data;
    std::vector<std::string> args;
    const int dataStatus = readDataOptions("models", givenArgs, args, data);
    if (dataStatus >= 0) {
        return dataStatus;
    }
    const DataScope dataScope(&data);
    if (!args.empty() && isHelp(args[0])) {
        std::cout << modelsHelp;
        return 0;
    }
    if (!args.empty()) {
        return usageError("models", "unexpected argument '" + args[0] + "'");
    }
    std::cout << modelListing();
    return 0;
}

bool writeSites(const std::string& path, const std::vector<Genotype>& predicted) {
    std::ofstream out(path);
    if (!out) {
        return false;
    }
    out << "site\tposition\tobservedSS\tobservedSI\tobservedII\tpredictedSS\tpredictedSI\t"
           "predictedII\n";
    const Transect& transect = activeTransect();
    for (std::size_t i = 0; i < transect.positions.size(); i++) {
        out << i << '\t' << format17(transect.positions[i]) << '\t' << transect.countSS[i] << '\t'
            << transect.countSI[i] << '\t' << transect.countII[i];
        if (predicted.size() == transect.positions.size()) {
            const Genotype& g = predicted[i];
            out << '\t' << format17(g.SS) << '\t' << format17(g.SI) << '\t' << format17(g.II);
        } else {
            out << "\tNA\tNA\tNA";
        }
        out << '\n';
    }
    out.flush();
    return static_cast<bool>(out);
}

int evalCommand(const std::vector<std::string>& givenArgs) {
    DataContext data;
    std::vector<std::string> args;
    const int dataStatus = readDataOptions("eval", givenArgs, args, data);
    if (dataStatus >= 0) {
        return dataStatus;
    }
    const DataScope dataScope(&data);
    std::string sitesPath;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); i++) {
        if (isHelp(args[i])) {
            std::cout << evalHelp << parameterLines();
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
    FailureSink failures;
    double value = 0.0;
    {
        const FailureScope failureScope(failures);
        value = model.objective(x);
    }
    simulationReport() = nullptr;
    if (failures.failed()) {
        std::cout.flush();
        std::cerr << failures.message() << "\n";
        return 1;
    }

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
    struct Command {
        const char* name;
        int (*run)(const std::vector<std::string>&);
    };
    const Command commands[] = {
        {"models", modelsCommand},     {"eval", evalCommand},       {"fit", fitCommand},
        {"compare", compareCommand},   {"profile", profileCommand}, {"plot", plotCommand},
        {"simulate", simulateCommand},
    };
    if (command == "help") {
        if (rest.empty()) {
            std::cout << mainHelp;
            return 0;
        }
        for (const Command& c : commands) {
            if (rest[0] == c.name) {
                return c.run({"--help"});
            }
        }
        return usageError("", "unknown command '" + rest[0] + "'");
    }
    for (const Command& c : commands) {
        if (command == c.name) {
            return c.run(rest);
        }
    }
    return usageError("", "unknown command '" + command + "'");
}
