#include "tools/commands/simulate.h"

#include "data/failure_sink.h"
#include "driver/schedule.h"
#include "models/model_table.h"
#include "models/settled_objective.h"
#include "population/simulation_report.h"
#include "tools/formats/cli.h"
#include "tools/formats/data_option.h"
#include "tools/formats/options.h"
#include "tools/formats/output_lock.h"
#include "tools/formats/state_text.h"

#include <iostream>
#include <sstream>
#include <sys/stat.h>

const char* const simulateHelp =
    "Usage: zonetool simulate MODEL X0 X1 ... --seed S -o FILE [--data FILE]\n"
    "                         [--samples N | --like-data] [--redo]\n"
    "                         [--objective settled|zonefit]\n"
    "\n"
    "Runs MODEL at the parameter vector X0 X1 ... on the transect in use and writes a\n"
    "transect file FILE with the same sites, positions and distances, whose genotype counts\n"
    "are drawn at random from the predicted genotype frequencies of each site. The same seed\n"
    "gives the same file on every machine. Fit the file with 'zonetool fit --data FILE'.\n"
    "\n"
    "Options:\n"
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable)\n"
    "  --seed S       seed of the draws (0 to 2^64-1), required\n"
    "  -o FILE        the transect file to write, required\n"
    "  --samples N    draw N individuals at every site (1 to 1000000)\n"
    "  --like-data    draw as many individuals at each site as the data has (the default)\n"
    "  --redo         overwrite FILE when it exists\n"
    "  --objective K  zonefit (default): draw from the state zonefit scores (the row run\n"
    "                 until no larva frequency moves by 1e-8 in a generation); settled: from\n"
    "                 the state the row settles in, the file's comment line then ending in\n"
    "                 '--objective settled'; an unsettled state is drawn from with a warning\n";

void drawCounts(const Genotype& frequencies, int sampleSize, Xoshiro256& random, int& countSS,
                int& countSI, int& countII) {
    const double sum = frequencies.SS + frequencies.SI + frequencies.II;
    const double belowSI = frequencies.SS / sum;
    const double belowII = (frequencies.SS + frequencies.SI) / sum;
    countSS = 0;
    countSI = 0;
    countII = 0;
    for (int k = 0; k < sampleSize; k++) {
        const double u = random.uniform();
        if (u < belowSI) {
            countSS++;
        } else if (u < belowII) {
            countSI++;
        } else {
            countII++;
        }
    }
}

Transect simulatedTransect(const Transect& like, const std::vector<Genotype>& predicted,
                           int samplesPerSite, std::uint64_t seed) {
    Transect simulated = like;
    Xoshiro256 random(seed);
    for (std::size_t i = 0; i < predicted.size() && i < like.positions.size(); i++) {
        const int size = samplesPerSite > 0 ? samplesPerSite
                                            : like.countSS[i] + like.countSI[i] + like.countII[i];
        drawCounts(predicted[i], size, random, simulated.countSS[i], simulated.countSI[i],
                   simulated.countII[i]);
    }
    return simulated;
}

namespace {

struct SimulateArguments {
    std::vector<std::string> positional;
    std::string outputPath;
    std::uint64_t seed = 0;
    bool seedGiven = false;
    int samples = 0;
    bool likeData = false;
    bool redo = false;
    ObjectiveKind objective = ObjectiveKind::zonefit;
};

// Returns -1 when the arguments are good, else the exit status after the message.
int readArguments(const RunContext& ctx, const std::vector<std::string>& args,
                  SimulateArguments& a) {
    for (std::size_t i = 0; i < args.size(); i++) {
        const std::string& arg = args[i];
        if (isHelp(arg)) {
            *ctx.out << simulateHelp;
            return 0;
        }
        if (arg == "--like-data") {
            a.likeData = true;
        } else if (arg == "--redo") {
            a.redo = true;
        } else if (arg == "--seed" || arg == "-o" || arg == "--samples" || arg == "--objective") {
            if (i + 1 >= args.size()) {
                return usageError(*ctx.err, "simulate", arg + " needs a value");
            }
            const std::string& value = args[++i];
            std::uint64_t number = 0;
            if (arg == "-o") {
                a.outputPath = value;
            } else if (arg == "--objective") {
                const Problem problem = storeObjective(a.objective)(arg, value);
                if (!problem.empty()) {
                    return usageError(*ctx.err, "simulate", problem);
                }
            } else if (arg == "--seed") {
                if (!parseSeed(value, a.seed)) {
                    return usageError(*ctx.err, "simulate",
                                      "--seed needs a whole number from 0 to "
                                      "18446744073709551615, not '" +
                                          value + "'");
                }
                a.seedGiven = true;
            } else if (!parseSeed(value, number) || number < 1 || number > 1000000) {
                return usageError(*ctx.err, "simulate",
                                  "--samples needs a whole number from 1 to 1000000, not '" +
                                      value + "'");
            } else {
                a.samples = static_cast<int>(number);
            }
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            return usageError(*ctx.err, "simulate", "unknown option '" + arg + "'");
        } else {
            a.positional.push_back(arg);
        }
    }
    if (a.samples > 0 && a.likeData) {
        return usageError(*ctx.err, "simulate", "give either --samples or --like-data, not both");
    }
    if (!a.seedGiven) {
        return usageError(*ctx.err, "simulate", "missing --seed S");
    }
    if (a.outputPath.empty()) {
        return usageError(*ctx.err, "simulate", "missing -o FILE");
    }
    return -1;
}

} // namespace

namespace {

// The model and point of the positional arguments. -1 when they are usable, else the status
// after the usage message.
int readPoint(RunContext& ctx, const SimulateArguments& a, const ModelEntry*& model,
              std::vector<double>& x) {
    if (a.positional.empty()) {
        return usageError(*ctx.err, "simulate", "missing MODEL");
    }
    int number = 0;
    if (!parseModel(a.positional[0], number)) {
        return usageError(*ctx.err, "simulate",
                          "MODEL must be a model number from 1 to 10, not '" + a.positional[0] +
                              "'");
    }
    model = findModel(number);
    x.assign(a.positional.size() - 1, 0.0);
    for (std::size_t i = 1; i < a.positional.size(); i++) {
        if (!parseNumber(a.positional[i], x[i - 1])) {
            return usageError(*ctx.err, "simulate", "'" + a.positional[i] + "' is not a number");
        }
    }
    if (static_cast<int>(x.size()) != model->parameterCount) {
        return usageError(*ctx.err, "simulate",
                          "model " + std::to_string(model->number) + " (" + model->name +
                              ") reads " + std::to_string(model->parameterCount) + " parameters, " +
                              std::to_string(x.size()) + " given");
    }
    return -1;
}

// The genotype frequencies the model predicts at the sites of the run's transect, in `report`.
// False after the message; a row that did not settle is drawn from all the same, with a warning.
bool predictSites(RunContext& ctx, const ModelEntry& model, const NRvector<double>& x,
                  ObjectiveKind objective, SimulationReport& report) {
    report.keepPredictions = true;
    FailureSink failures;
    SettledReport settled;
    SimulationContext simulation;
    simulation.report = &report;
    simulation.diagnostics = ctx.out;
    evaluateModel(ctx.data.models(&failures, simulation), model, x, objective, &settled);
    if (failures.failed()) {
        *ctx.err << failures.message() << "\n";
        return false;
    }
    if (report.predictions.size() != ctx.data.data().positions.size()) {
        *ctx.err << "zonetool simulate: the point lies outside the box of model " << model.number
                 << " ('zonetool models' shows it); nothing was simulated\n";
        return false;
    }
    if (objective == ObjectiveKind::zonefit && !report.converged) {
        *ctx.err << "zonetool simulate: warning: the simulation stopped at the generation cap "
                    "before equilibrium\n";
    }
    if (objective == ObjectiveKind::settled && settled.kind == StateKind::unsettled) {
        *ctx.err << "zonetool simulate: warning: the row did not settle ("
                 << stateDescription(settled) << "); the counts are drawn from where it was\n";
    }
    return true;
}

// The comment line of the simulated transect: the command that makes it again.
std::string simulationComment(const ModelEntry& model, const NRvector<double>& x,
                              const SimulateArguments& a, const DataContext& data) {
    std::ostringstream comment;
    comment << "simulated by zonetool simulate " << model.number;
    for (int j = 0; j < x.size(); j++) {
        comment << ' ' << format17(x[j]);
    }
    comment << " --seed " << a.seed;
    if (a.samples > 0) {
        comment << " --samples " << a.samples;
    }
    if (a.objective != ObjectiveKind::zonefit) {
        comment << " --objective " << objectiveName(a.objective);
    }
    if (!data.path.empty()) {
        comment << " on " << data.checksum;
    }
    return comment.str();
}

} // namespace

int simulateCommand(RunContext& ctx, const std::vector<std::string>& givenArgs) {
    std::vector<std::string> args;
    const int dataStatus = readDataOptions("simulate", givenArgs, args, ctx.data, *ctx.err);
    if (dataStatus >= 0) {
        return dataStatus;
    }
    SimulateArguments a;
    const ModelEntry* model = nullptr;
    std::vector<double> point;
    int status = readArguments(ctx, args, a);
    if (status < 0) {
        status = readPoint(ctx, a, model, point);
    }
    if (status >= 0) {
        return status;
    }
    NRvector<double> x(static_cast<int>(point.size()));
    for (std::size_t j = 0; j < point.size(); j++) {
        x[static_cast<int>(j)] = point[j];
    }
    OutputLocks locks;
    if (!lockOutputs(*ctx.err, ctx.data.commandLine, locks, "simulate", {a.outputPath})) {
        return 1;
    }
    struct stat existing;
    if (!a.redo && stat(a.outputPath.c_str(), &existing) == 0) {
        *ctx.err << "zonetool simulate: " << a.outputPath
                 << " exists; give --redo to overwrite it\n";
        return 1;
    }
    if (model->objective == nullptr) {
        *ctx.err << "Model " << model->number << " is not available in this build\n";
        return 1;
    }
    SimulationReport report;
    if (!predictSites(ctx, *model, x, a.objective, report)) {
        return 1;
    }
    std::ostringstream text;
    writeTransect(text, simulatedTransect(ctx.data.data(), report.predictions, a.samples, a.seed),
                  simulationComment(*model, x, a, ctx.data));
    std::string error;
    if (!writeResultFile(a.outputPath, text.str(), error, nullptr,
                         a.redo ? ExistingFile::replace : ExistingFile::keep)) {
        *ctx.err << "zonetool simulate: " << error << "\n";
        return 1;
    }
    return 0;
}
