#include "tools/fit.h"

#include "driver/signals.h"
#include "driver/start_file.h"
#include "driver/zonefit_main.h"
#include "models/model_table.h"
#include "population/diagnostics.h"
#include "tools/cli.h"
#include "tools/data_option.h"
#include "tools/parallel.h"
#include "tools/progress.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <unistd.h>

const char* const fitHelp =
    "Usage: zonetool fit MODELS [--seed S | --seeds LIST] [--jobs J] [--start FILE]\n"
    "                           [--trace FILE] [--quiet]\n"
    "\n"
    "One model and at most one seed: runs exactly the schedule and output of 'zonefit MODEL'\n"
    "in the working directory - the same reports on standard output, the same result file.\n"
    "\n"
    "Several models or seeds (MODELS as in 1-10 or 1,3,7; LIST as in 1-3 or 5,9): runs the\n"
    "fits at once on J worker threads. Each fit reads startvecN.txt, writes its result file -\n"
    "the model's own name (SS1_ML_ for model 1), followed by 'seed' and the seed when several\n"
    "seeds are given (SS1_ML_seed3) - and writes its banner, reports, messages and the\n"
    "models' diagnostics into a log file named after the result file with '.log' added.\n"
    "A summary table follows on standard output. Every fit is bit for bit the one that runs\n"
    "alone. borders.txt is checked once before any fit of models 3 to 6 starts; should it\n"
    "turn bad during the run, each fit that reads it stops with the message in its log\n"
    "(status failed(1) in the summary) and the other fits go on.\n"
    "\n"
    "On a terminal, standard error shows a live progress line: stage, cycle and anneal call\n"
    "(of the last finished call), temperature, evaluations, best value so far, elapsed time.\n"
    "\n"
    "Options:\n"
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable)\n"
    "  --seed S       seed every annealer's generator with S (0 to 2^64-1) instead of the\n"
    "                 clock, so that the fit can be repeated bit for bit\n"
    "  --seeds LIST   one fit per seed and model\n"
    "  --jobs J       worker threads for several fits (default 1)\n"
    "  --start FILE   read the start vector and step sizes from FILE instead of\n"
    "                 startvecMODEL.txt (one model only)\n"
    "  --trace FILE   write one tab-separated line per anneal call: stage, cycle, call,\n"
    "                 temperature, evaluations, converged (0/1), best value (one fit only)\n"
    "  --quiet        no progress line\n";

namespace {

struct FitArguments {
    std::string modelText;
    std::vector<int> models;
    std::vector<std::uint64_t> seeds;
    bool seedGiven = false;
    bool seedsGiven = false;
    int jobs = 1;
    std::string startPath;
    std::string tracePath;
    bool quiet = false;
};

constexpr std::size_t maxSeeds = 10000;

// Returns -1 when the arguments are good, else the exit status after the message.
int readArguments(const std::vector<std::string>& args, FitArguments& a) {
    for (std::size_t i = 0; i < args.size(); i++) {
        const std::string& arg = args[i];
        if (isHelp(arg)) {
            std::cout << fitHelp;
            return 0;
        }
        if (arg == "--quiet") {
            a.quiet = true;
            continue;
        }
        if (arg == "--seed" || arg == "--seeds" || arg == "--jobs" || arg == "--start" ||
            arg == "--trace") {
            if (i + 1 >= args.size()) {
                return usageError("fit", arg + " needs a value");
            }
            const std::string& value = args[++i];
            std::string problem;
            if (arg == "--seed") {
                std::uint64_t seed = 0;
                if (!parseSeed(value, seed)) {
                    return usageError("fit", "--seed needs a whole number from 0 to "
                                             "18446744073709551615, not '" +
                                                 value + "'");
                }
                a.seeds = {seed};
                a.seedGiven = true;
            } else if (arg == "--seeds") {
                if (!parseSeedList(value, maxSeeds, a.seeds, problem)) {
                    return usageError("fit", "--seeds: " + problem);
                }
                a.seedsGiven = true;
            } else if (arg == "--jobs") {
                std::uint64_t jobs = 0;
                if (!parseSeed(value, jobs) || jobs < 1 || jobs > 256) {
                    return usageError("fit", "--jobs needs a whole number from 1 to 256, not '" +
                                                 value + "'");
                }
                a.jobs = static_cast<int>(jobs);
            } else if (arg == "--start") {
                a.startPath = value;
            } else {
                a.tracePath = value;
            }
        } else if (arg.rfind("--", 0) == 0) {
            return usageError("fit", "unknown option '" + arg + "'");
        } else if (a.modelText.empty()) {
            a.modelText = arg;
        } else {
            return usageError("fit", "unexpected argument '" + arg + "'");
        }
    }
    if (a.seedGiven && a.seedsGiven) {
        return usageError("fit", "give either --seed or --seeds, not both");
    }
    if (a.modelText.empty()) {
        return usageError("fit", "missing MODEL");
    }
    int single = 0;
    std::string problem;
    if (parseModel(a.modelText, single)) {
        a.models = {single};
    } else if (a.modelText.find_first_of(",-") == std::string::npos) {
        return usageError("fit",
                          "MODEL must be a model number from 1 to 10, not '" + a.modelText + "'");
    } else if (!parseModelList(a.modelText, a.models, problem)) {
        return usageError("fit", problem);
    }
    const bool several = a.models.size() > 1 || a.seeds.size() > 1;
    if (several && !a.startPath.empty()) {
        return usageError("fit", "--start works with one model and one seed only");
    }
    if (several && !a.tracePath.empty()) {
        return usageError("fit", "--trace works with one model and one seed only");
    }
    return -1;
}

int singleFit(const FitArguments& a) {
    ScheduleOptions options;
    if (!a.seeds.empty()) {
        options.seed = a.seeds.front();
    }
    // The model argument as typed: "07" reads startvec07.txt, as zonefit does.
    const std::string startPath =
        a.startPath.empty() ? startFileName(a.modelText.c_str()) : a.startPath;
    std::ofstream trace;
    if (!a.tracePath.empty()) {
        trace.open(a.tracePath);
        if (!trace) {
            std::cerr << "zonetool fit: cannot write the trace file " << a.tracePath << ": "
                      << std::strerror(errno) << "\n";
            return 1;
        }
        options.trace = &trace;
    }

    FitProgress progress;
    StatusLine line(std::cerr, progressWanted(a.quiet, STDERR_FILENO));
    options.onCall = [&progress](const AnnealCall& call) {
        recordCall(progress, call.stage, call.cycle, call.call, call.temperature);
    };
    // Reports and diagnostics pass through unchanged, after the progress line is erased.
    ClearingBuffer clearing(std::cout.rdbuf(), line);
    std::ostream out(&clearing);
    FitOutput output;
    if (line.enabled()) {
        output.out = &out;
        setDiagnostics(&out);
    }
    const ModelEntry& model = *findModel(a.models.front());
    setCountingTarget(model.objective, &progress);
    output.objective = model.objective != nullptr ? countingObjective : nullptr;

    const StopSignalGuard signalGuard;
    markStarted(progress);
    ProgressTicker ticker(line, [&progress] { return progressText(progress); });
    const int status = runFit(a.modelText.c_str(), startPath, options, output);
    ticker.stop();
    markFinished(progress, status == 0);
    setCountingTarget(nullptr, nullptr);
    setDiagnostics(nullptr);
    return status;
}

int severalFits(const FitArguments& a) {
    const std::vector<FitJob> jobs = planFits(a.models, a.seeds);
    std::string error;
    if (!checkBordersFor(jobs, error)) {
        std::cerr << error << "\n";
        return 1;
    }
    std::deque<FitProgress> progress(jobs.size());
    StatusLine line(std::cerr, progressWanted(a.quiet, STDERR_FILENO));
    const std::int64_t started = steadyNow();
    std::vector<FitOutcome> outcomes;
    {
        const StopSignalGuard signalGuard;
        ProgressTicker ticker(line, [&] {
            return runProgressText(jobs, progress,
                                   static_cast<double>(steadyNow() - started) * 1e-9);
        });
        outcomes = runFits(jobs, a.jobs, progress);
    }
    const double wall = static_cast<double>(steadyNow() - started) * 1e-9;
    double fitTime = 0.0;
    int failures = 0;
    for (std::size_t i = 0; i < jobs.size(); i++) {
        fitTime += outcomes[i].seconds;
        if (outcomes[i].status != 0) {
            failures++;
            std::cerr << "zonetool fit: model " << jobs[i].model
                      << (jobs[i].seed ? " seed " + std::to_string(*jobs[i].seed) : "")
                      << " failed; see " << jobs[i].logName << "\n";
        }
    }
    std::cout << summaryTable(jobs, outcomes) << jobs.size() << " fits on " << a.jobs
              << (a.jobs == 1 ? " job" : " jobs") << ": wall time " << formatElapsed(wall) << " ("
              << formatNumber(wall, 4) << " s), fit time " << formatElapsed(fitTime) << " ("
              << formatNumber(fitTime, 4) << " s)\n"
              << std::flush;
    return failures == 0 ? 0 : 1;
}

} // namespace

int fitCommand(const std::vector<std::string>& givenArgs) {
    DataContext data;
    std::vector<std::string> args;
    const int dataStatus = readDataOptions("fit", givenArgs, args, data);
    if (dataStatus >= 0) {
        return dataStatus;
    }
    const DataScope dataScope(&data);
    FitArguments a;
    const int status = readArguments(args, a);
    if (status >= 0) {
        return status;
    }
    if (a.models.size() == 1 && a.seeds.size() <= 1) {
        return singleFit(a);
    }
    return severalFits(a);
}
