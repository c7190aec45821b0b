#include "tools/fit.h"

#include "driver/signals.h"
#include "driver/start_file.h"
#include "driver/zonefit_main.h"
#include "models/model_table.h"
#include "population/diagnostics.h"
#include "tools/cli.h"
#include "tools/fit_record.h"
#include "tools/options.h"
#include "tools/parallel.h"
#include "tools/progress.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

const char* const fitHelp =
    "Usage: zonetool fit MODELS [--seed S | --seeds LIST] [--jobs J] [--start FILE]\n"
    "                           [--trace FILE] [--quiet] [--redo]\n"
    "\n"
    "One model and at most one seed: runs exactly the schedule and output of 'zonefit MODEL'\n"
    "in the working directory - the same reports on standard output, the same result file.\n"
    "\n"
    "Several models or seeds (MODELS as in 1-10 or 1,3,7; LIST as in 1-3 or 5,9): runs the\n"
    "fits at once on J worker threads. Each fit reads startvecN.txt, writes its result file -\n"
    "the model's own name (SS1_ML_ for model 1), followed by 'seed' and the seed when several\n"
    "seeds are given (SS1_ML_seed3) - and writes its seed ('seed: 3', or 'seed: clock'),\n"
    "banner, reports, messages and the models' diagnostics into a log file named after the\n"
    "result file with '.log' added. An existing result file or log of the same name is\n"
    "never overwritten without --redo.\n"
    "A summary table follows on standard output. Every fit is bit for bit the one that runs\n"
    "alone. borders.txt is checked once before any fit of models 3 to 6 starts; should it\n"
    "turn bad during the run, each fit that reads it stops with the message in its log\n"
    "(status failed(1) in the summary) and the other fits go on.\n"
    "\n"
    "On a terminal, standard error shows a live progress line: stage, cycle and anneal call\n"
    "(of the last finished call), temperature, evaluations, best value so far, elapsed time.\n"
    "\n"
    "Options:\n"
    "  --seed S       seed every annealer's generator with S (0 to 2^64-1) instead of the\n"
    "                 clock, so that the fit can be repeated bit for bit\n"
    "  --seeds LIST   one fit per seed and model\n"
    "  --jobs J       worker threads for several fits (default 1)\n"
    "  --start FILE   read the start vector and step sizes from FILE instead of\n"
    "                 startvecMODEL.txt (one model only)\n"
    "  --trace FILE   write one tab-separated line per anneal call: stage, cycle, call,\n"
    "                 temperature, evaluations, converged (0/1), best value (one fit only)\n"
    "  --quiet        no progress line\n"
    "  --redo         overwrite the result files and logs of earlier fits of the same name;\n"
    "                 without it the fit refuses to start when any of them exists\n";

int readFitOptions(const std::vector<std::string>& args, FitOptions& o) {
    constexpr std::size_t maxSeeds = 10000;
    return OptionParser("fit", [] { return std::string(fitHelp); })
        .value({"--seed"}, "a value",
               [&o](const std::string&, const std::string& value) -> Problem {
                   std::uint64_t seed = 0;
                   if (!parseSeed(value, seed)) {
                       return "--seed needs a whole number from 0 to 18446744073709551615, not '" +
                              value + "'";
                   }
                   o.seeds = {seed};
                   o.seedGiven = true;
                   return "";
               })
        .value({"--seeds"}, "a value",
               [&o](const std::string&, const std::string& value) -> Problem {
                   std::string problem;
                   if (!parseSeedList(value, maxSeeds, o.seeds, problem)) {
                       return "--seeds: " + problem;
                   }
                   o.seedsGiven = true;
                   return "";
               })
        .value({"--jobs"}, "a value",
               [&o](const std::string&, const std::string& value) -> Problem {
                   std::uint64_t jobs = 0;
                   if (!parseSeed(value, jobs) || jobs < 1 || jobs > 256) {
                       return "--jobs needs a whole number from 1 to 256, not '" + value + "'";
                   }
                   o.jobs = static_cast<int>(jobs);
                   return "";
               })
        .value({"--start"}, "a value", storeText(o.startPath))
        .value({"--trace"}, "a value", storeText(o.tracePath))
        .flag({"--quiet"}, [&o] { o.quiet = true; })
        .flag({"--redo"}, [&o] { o.redo = true; })
        .positional(takeOne(o.modelText))
        .check([&o]() -> Problem {
            return o.seedGiven && o.seedsGiven ? "give either --seed or --seeds, not both" : "";
        })
        .check([&o]() -> Problem {
            if (o.modelText.empty()) {
                return "missing MODEL";
            }
            int single = 0;
            std::string problem;
            if (parseModel(o.modelText, single)) {
                o.models = {single};
            } else if (o.modelText.find_first_of(",-") == std::string::npos) {
                return notAModel(o.modelText);
            } else if (!parseModelList(o.modelText, o.models, problem)) {
                return problem;
            }
            return "";
        })
        .check([&o]() -> Problem {
            return o.several() && !o.startPath.empty()
                       ? "--start works with one model and one seed only"
                       : "";
        })
        .check([&o]() -> Problem {
            return o.several() && !o.tracePath.empty()
                       ? "--trace works with one model and one seed only"
                       : "";
        })
        .parse(args);
}

namespace {

// Whether the start file named by --start can be read; if not, says why. zonefit's own
// answer to a missing file is about startvecN.txt, which would mislead here.
bool startFileReadable(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    bool readable = file != nullptr;
    if (readable) {
        // A directory opens but cannot be read.
        std::fgetc(file);
        readable = std::ferror(file) == 0;
        std::fclose(file);
    }
    if (!readable) {
        std::cerr << "zonetool fit: cannot read the start file " << path << ": "
                  << std::strerror(errno) << "\n";
    }
    return readable;
}

// True when none of `names` exists; otherwise names each one that does, on standard error.
bool refuseOverwrite(const std::vector<std::string>& names) {
    bool none = true;
    for (const std::string& name : names) {
        struct stat status;
        if (lstat(name.c_str(), &status) == 0) {
            std::cerr << "zonetool fit: " << name
                      << " exists already; give --redo to overwrite it\n";
            none = false;
        }
    }
    return none;
}

int singleFit(const FitOptions& a) {
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
    }
    const ScopedDiagnostics diagnosticsTo(line.enabled() ? &out : nullptr);
    const ModelEntry& model = *findModel(a.models.front());
    const ScopedCountingTarget counting(model.objective, &progress);
    output.objective = model.objective != nullptr ? countingObjective : nullptr;
    const std::string resultName = output.resultName.empty() ? model.prefix : output.resultName;
    std::string recordError;
    if (!checkResultWritable(recordFileName(resultName), recordError)) {
        std::cerr << "zonetool fit: cannot write the fit record: " << recordError << "\n";
        return 1;
    }
    output.onResult = recordWriter(model, resultName, options.seed, progress.evaluations);

    const StopSignalGuard signalGuard;
    markStarted(progress);
    ProgressTicker ticker(line, [&progress] { return progressText(progress); });
    const int status = runFit(a.modelText.c_str(), startPath, options, output);
    ticker.stop();
    markFinished(progress, status == 0);
    return status;
}

int severalFits(const FitOptions& a, const std::vector<FitJob>& jobs) {
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

int fitCommand(const std::vector<std::string>& args) {
    FitOptions a;
    const int status = readFitOptions(args, a);
    if (status >= 0) {
        return status;
    }
    if (!a.startPath.empty() && !startFileReadable(a.startPath)) {
        return 1;
    }
    if (!a.several()) {
        const std::string name = findModel(a.models.front())->prefix;
        if (!a.redo && !refuseOverwrite({name, name + ".json"})) {
            return 1;
        }
        return singleFit(a);
    }
    const std::vector<FitJob> jobs = planFits(a.models, a.seeds);
    if (!a.redo) {
        std::vector<std::string> names;
        for (const FitJob& job : jobs) {
            names.insert(names.end(), {job.resultName, job.resultName + ".json", job.logName});
        }
        if (!refuseOverwrite(names)) {
            return 1;
        }
    }
    return severalFits(a, jobs);
}
