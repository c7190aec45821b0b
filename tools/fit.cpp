#include "tools/fit.h"

#include "driver/signals.h"
#include "driver/start_file.h"
#include "driver/zonefit_main.h"
#include "models/model_context.h"
#include "models/model_table.h"
#include "models/settled_objective.h"
#include "tools/checkpoint.h"
#include "tools/cli.h"
#include "tools/derived_start_files.h"
#include "tools/failed_fit.h"
#include "tools/fit_from.h"
#include "tools/fit_inputs.h"
#include "tools/fit_record.h"
#include "tools/options.h"
#include "tools/output_lock.h"
#include "tools/parallel.h"
#include "tools/progress.h"
#include "tools/start_box_check.h"
#include "tools/start_file_commas.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

const char* const fitHelp =
    "Usage: zonetool fit MODELS [--seed S | --seeds LIST] [--jobs J] [--start FILE]\n"
    "                           [--trace FILE] [--quiet] [--redo] [--result NAME]\n"
    "                           [--checkpoint FILE | --checkpoints] [--requeue]\n"
    "                           [--objective settled|zonefit]\n"
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
    "alone.\n"
    "\n"
    "Before the first fit starts, every input is checked and each problem named: the start\n"
    "file of every model (for several fits also its rows and length), borders.txt when a\n"
    "model 3 to 6 is named, that every directory receiving a result, log, record,\n"
    "checkpoint or trace takes new files, and that every start vector lies inside the boxes\n"
    "in force. A missing start or border file is named with the working directory and the\n"
    "example shipped in the sources' examples/ directory. Should\n"
    "borders.txt turn bad during a run of several, each fit that reads it stops with the\n"
    "message in its log (status failed(1) in the summary) and the other fits go on.\n"
    "\n"
    "While it runs, a fit holds RESULT.lock beside its result (and FILE.lock beside a\n"
    "--checkpoint or --trace FILE): a second run of the same names, from another terminal or\n"
    "batch job, is refused at once with a message naming the first. A lock left by a run that\n"
    "has ended (killed, crashed, or an earlier run of a requeued Slurm job) is taken over with\n"
    "a warning. A result file that appears while the fit runs is not replaced without --redo:\n"
    "the fit's result is kept in RESULT.new-PID instead, and the fit fails.\n"
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
    "                 temperature, evaluations, converged (0/1), best value, then the best\n"
    "                 point's coordinates (one fit only)\n"
    "  --quiet        no progress line\n"
    "  --redo         overwrite the result files and logs of earlier fits of the same name;\n"
    "                 without it the fit refuses to start when any of them exists\n"
    "  --result NAME  name of the result file instead of the model's prefix (one fit only);\n"
    "                 the record is NAME.json, the log NAME.log\n"
    "  --checkpoint FILE\n"
    "                 save the whole state of the fit to FILE after every anneal call and\n"
    "                 resume from FILE when it exists; banner and reports go to RESULT.log.\n"
    "                 SIGINT, SIGTERM, SIGHUP or SIGUSR1 stop the fit with the checkpoint\n"
    "                 kept and exit status 75 (stopped, resumable); the same command resumes\n"
    "                 it, and the resumed fit writes exactly what an uninterrupted one would\n"
    "  --checkpoints  the same for several fits: each saves to its result name followed by\n"
    "                 '.ckpt' (SS1_ML_seed3.ckpt); a stop signal stops them all\n"
    "  --requeue      with --checkpoint(s), when stopped that way under Slurm: run\n"
    "                 'scontrol requeue' for the job before exiting\n"
    "  --objective K  zonefit (default): the value zonefit minimises, so that the fit is\n"
    "                 zonefit's bit for bit; settled: the value of the state the row settles\n"
    "                 in (an unsettled point is a penalty). Records and checkpoints say\n"
    "                 which; a checkpoint of the other objective is refused\n"
    "\n"
    "Every finished fit also writes its record, RESULT.json: the best point and value at full\n"
    "precision, seed, evaluations, start vector and steps, times, version, command line and\n"
    "objective. A fit whose best value is a penalty (no point simulated inside the box, or\n"
    "every simulation failed) writes neither and fails with status 1.\n"
    "\n"
    "Exit status: 0 done, 1 failure, 2 bad arguments, 75 stopped, resumable.\n"
    "When standard error is not a terminal, a plain progress line is written to it after\n"
    "every anneal call and at least once a minute (not with --quiet).\n"
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length. A\n"
    "                 model without startvecN.txt here then starts from the start that\n"
    "                 'zonetool start N --data FILE' derives from the data, and says so\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable)\n";

namespace {

// Stores a file name; an empty one is refused like a missing one.
OptionParser::ValueSetter storeNonEmpty(std::string& target) {
    return [&target](const std::string& name, const std::string& value) -> Problem {
        if (value.empty()) {
            return name + " needs a file name";
        }
        target = value;
        return "";
    };
}

} // namespace

int readFitOptions(const std::vector<std::string>& args, FitOptions& o) {
    constexpr std::size_t maxSeeds = 10000;
    return OptionParser("fit", [] { return std::string(fitHelp) + "\n" + fitFromHelp; })
        .value({"--seed"}, "a value", storeSeed(o.seeds, o.seedGiven))
        .value({"--seeds"}, "a value", storeSeedList(o.seeds, maxSeeds, o.seedsGiven))
        .value({"--jobs"}, "a value", storeWhole(o.jobs, 1, 256))
        .value({"--start"}, "a value", storeText(o.startPath))
        .value({"--trace"}, "a value", storeText(o.tracePath))
        .flag({"--quiet"}, [&o] { o.quiet = true; })
        .flag({"--redo"}, [&o] { o.redo = true; })
        .flag({"--checkpoints"}, [&o] { o.checkpoints = true; })
        .flag({"--requeue"}, [&o] { o.requeue = true; })
        .value({"--result"}, "a value", storeNonEmpty(o.resultName))
        .value({"--checkpoint"}, "a value", storeNonEmpty(o.checkpointPath))
        .value({"--objective"}, "a value", storeObjective(o.objective))
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
        .check([&o]() -> Problem {
            if (o.several() && !o.resultName.empty()) {
                return "--result works with one model and one seed only";
            }
            if (o.several() && !o.checkpointPath.empty()) {
                return "--checkpoint works with one model and one seed only";
            }
            if (!o.several() && o.checkpoints) {
                return "--checkpoints is for several fits; give one fit --checkpoint FILE";
            }
            if (o.requeue && o.checkpointPath.empty() && !o.checkpoints) {
                return "--requeue needs --checkpoint or --checkpoints";
            }
            return "";
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

// The checkpointed fit: its reports go to the log, so the terminal shows only progress and
// messages, the latter on a clean line. The record is written inside, with the totals of every
// part of a resumed fit.
int checkpointedFit(const RunContext& ctx, const FitOptions& a, const std::string& startPath,
                    FitProgress& progress, StatusLine& line,
                    const std::function<void(const AnnealCall&)>& onCall) {
    CheckpointedFit fit;
    fit.modelArgument = a.modelText;
    fit.startPath = startPath;
    fit.resultName = a.resultName;
    fit.checkpointPath = a.checkpointPath;
    fit.tracePath = a.tracePath;
    if (!a.seeds.empty()) {
        fit.seed = a.seeds.front();
    }
    fit.requeue = a.requeue;
    fit.redo = a.redo;
    fit.objective = a.objective;
    ClearingBuffer clearing(std::cerr.rdbuf(), line);
    std::ostream err(&clearing);
    markStarted(progress);
    ProgressTicker ticker(line, [&progress] { return progressText(progress, true); });
    const CheckpointedOutcome outcome = runCheckpointedFit(ctx.data, fit, progress, err, onCall);
    ticker.stop();
    markFinished(progress, outcome.status == 0);
    return outcome.status;
}

int singleFit(const RunContext& ctx, const FitOptions& a) {
    ScheduleOptions options;
    if (!a.seeds.empty()) {
        options.seed = a.seeds.front();
    }
    // The model argument as typed: "07" reads startvec07.txt, as zonefit does.
    const std::string startPath =
        a.startPath.empty() ? startFileName(a.modelText.c_str()) : a.startPath;
    std::ofstream trace;
    if (!a.tracePath.empty() && a.checkpointPath.empty()) {
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
    PlainProgress plain(std::cerr, plainProgressWanted(a.quiet, STDERR_FILENO),
                        [&progress] { return progressText(progress); });
    options.onCall = [&progress, &plain](const AnnealCall& call) {
        recordCall(progress, call.stage, call.cycle, call.call, call.temperature, call.converged);
        plain.poke();
    };
    if (!a.checkpointPath.empty()) {
        return checkpointedFit(ctx, a, startPath, progress, line, options.onCall);
    }
    // Reports and diagnostics pass through unchanged, after the progress line is erased.
    ClearingBuffer clearing(std::cout.rdbuf(), line);
    std::ostream out(&clearing);
    // Messages, too, start on a clean line instead of being glued onto the progress line.
    ClearingBuffer clearingErr(std::cerr.rdbuf(), line);
    std::ostream err(&clearingErr);
    FitOutput output;
    output.resultName = a.resultName;
    output.existingResult = a.redo ? ExistingFile::replace : ExistingFile::keep;
    output.startLabel = startPath;
    if (line.enabled()) {
        output.out = &out;
        output.err = &err;
    }
    const ModelEntry& model = *findModel(a.models.front());
    FailureSink failures;
    SimulationContext simulation;
    simulation.diagnostics = line.enabled() ? &out : ctx.out;
    const ModelContext context = ctx.data.models(&failures, simulation);
    const BoundObjective bound{&context, &model, a.objective};
    if (model.objective != nullptr) {
        output.objective = countingObjective(bound, &progress);
        output.failures = &failures;
    }
    const std::string resultName = output.resultName.empty() ? model.prefix : output.resultName;
    std::string recordError;
    if (!checkResultWritable(recordFileName(resultName), recordError)) {
        std::cerr << "zonetool fit: cannot write the fit record: " << recordError << "\n";
        return 1;
    }
    output.onResult =
        recordWriter(ctx.data, model, resultName, options.seed, progress.evaluations, a.objective);
    output.acceptResult = penaltyRefusal(ctx.data, model);

    // zonefit's output stays as it is; a fit of the other objective says so first.
    (line.enabled() ? out : std::cout) << objectiveLine(a.objective) << std::flush;
    const StopSignalGuard signalGuard;
    markStarted(progress);
    ProgressTicker ticker(line, [&progress] { return progressText(progress, true); });
    const int status = runFit(a.modelText.c_str(), startPath, options, output);
    ticker.stop();
    plain.stop();
    markFinished(progress, status == 0);
    return status;
}

int severalFits(const RunContext& ctx, const FitOptions& a, const std::vector<FitJob>& jobs) {
    std::deque<FitProgress> progress(jobs.size());
    StatusLine line(std::cerr, progressWanted(a.quiet, STDERR_FILENO));
    const std::int64_t started = steadyNow();
    std::vector<FitOutcome> outcomes;
    {
        const StopSignalGuard signalGuard(a.checkpoints ? StopMode::request : StopMode::end);
        auto render = [&] {
            return runProgressText(jobs, progress,
                                   static_cast<double>(steadyNow() - started) * 1e-9);
        };
        ProgressTicker ticker(line, render);
        PlainProgress plain(std::cerr, plainProgressWanted(a.quiet, STDERR_FILENO), render);
        outcomes = runFits(ctx, jobs, a.jobs, progress, [&plain](std::size_t) { plain.poke(); });
    }
    const double wall = static_cast<double>(steadyNow() - started) * 1e-9;
    double fitTime = 0.0;
    int failures = 0;
    int stopped = 0;
    for (std::size_t i = 0; i < jobs.size(); i++) {
        fitTime += outcomes[i].seconds;
        if (outcomes[i].status == resumableStopStatus) {
            stopped++;
        } else if (outcomes[i].status != 0) {
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
    if (stopped > 0) {
        std::cerr << "zonetool fit: stopped; " << stopped << (stopped == 1 ? " fit" : " fits")
                  << " can be resumed by running the same command again. Exiting (75)\n";
        if (a.requeue) {
            requeueStoppedJob(std::cerr);
        }
        return resumableStopStatus;
    }
    return failures == 0 ? 0 : 1;
}

// The files of a fit that --redo guards: the finished result and record always; the log only
// when the fit does not resume from a checkpoint, since an unfinished checkpointed fit owns
// its log (a fit stopped before its first checkpoint starts it afresh).
void guardedNames(const std::string& result, const std::string& checkpoint,
                  std::vector<std::string>& names) {
    struct stat status;
    if (!checkpoint.empty() && lstat(checkpoint.c_str(), &status) == 0) {
        return;
    }
    names.insert(names.end(), {result, result + ".json"});
    if (checkpoint.empty()) {
        names.push_back(result + ".log");
    }
}

// Names every missing or unusable input on standard error; true when there is none.
bool inputsUsable(const FitInputs& inputs) {
    const std::vector<std::string> problems = fitInputProblems(inputs);
    for (const std::string& problem : problems) {
        std::cerr << problem << "\n";
    }
    return problems.empty();
}

// Names each start file whose start vector leaves its box; true when none does.
bool startsInsideBoxes(const DataContext& data,
                       const std::vector<std::pair<int, std::string>>& files, bool startGiven) {
    bool inside = true;
    for (const auto& [model, path] : files) {
        const std::string problem = startFileBoxProblem(data, path, *findModel(model), startGiven);
        if (!problem.empty()) {
            std::cerr << "zonetool fit: " << problem << "\n";
            inside = false;
        }
    }
    return inside;
}

} // namespace

int fitCommand(RunContext& ctx, const std::vector<std::string>& args) {
    // Fits from explored optima have options of their own.
    for (const std::string& arg : args) {
        if (arg == "--from") {
            return fitFromCommand(ctx, args);
        }
    }
    FitOptions a;
    const int status = readFitOptions(args, a);
    if (status >= 0) {
        return status;
    }
    if (!a.startPath.empty() && !startFileReadable(a.startPath)) {
        return 1;
    }
    if (!a.startPath.empty() && !startFileCommaProblem(a.startPath).empty()) {
        *ctx.err << "zonetool fit: " << startFileCommaProblem(a.startPath) << "\n";
        return 1;
    }
    // With a transect of the user's own, a model without its start file here starts from the
    // start derived from the data.
    DerivedStartFiles derived;
    if (!a.several() && a.startPath.empty()) {
        a.startPath =
            derived.pathFor(ctx.data, a.models.front(), startFileName(a.modelText.c_str()));
    }
    if (!a.several()) {
        const std::string name =
            a.resultName.empty() ? findModel(a.models.front())->prefix : a.resultName;
        // Taken before anything is checked, so that no second run passes the checks meanwhile.
        OutputLocks locks;
        if (!lockOutputs(locks, "fit", {name, a.checkpointPath, a.tracePath})) {
            return 1;
        }
        std::vector<std::string> names;
        guardedNames(name, a.checkpointPath, names);
        // A single fit without a checkpoint writes no log.
        if (a.checkpointPath.empty()) {
            names.pop_back();
        }
        if (!a.redo && !refuseOverwrite(names)) {
            return 1;
        }
        // The start file's rows are checked by the fit itself, before any work, in zonefit's
        // words.
        FitInputs inputs;
        inputs.siteCount = ctx.data.data().siteCount();
        inputs.siteCount = ctx.data.data().siteCount();
        inputs.models = a.models;
        if (a.startPath.empty()) {
            inputs.startFiles.emplace_back(a.models.front(), startFileName(a.modelText.c_str()));
        }
        inputs.writes = {name, name + ".json"};
        if (!a.checkpointPath.empty()) {
            inputs.writes.insert(inputs.writes.end(), {name + ".log", a.checkpointPath});
        }
        if (!a.tracePath.empty()) {
            inputs.writes.push_back(a.tracePath);
        }
        const std::string startPath =
            a.startPath.empty() ? startFileName(a.modelText.c_str()) : a.startPath;
        // Every problem is named at once.
        const bool usable = inputsUsable(inputs);
        if (!startsInsideBoxes(ctx.data, {{a.models.front(), startPath}}, !a.startPath.empty()) ||
            !usable) {
            return 1;
        }
        return singleFit(ctx, a);
    }
    std::vector<FitJob> jobs = planFits(a.models, a.seeds);
    std::vector<std::string> lockedNames;
    for (FitJob& job : jobs) {
        job.checkpoint = a.checkpoints;
        job.objectiveKind = a.objective;
        job.redo = a.redo;
        lockedNames.push_back(job.resultName);
    }
    // Taken before anything is checked, so that no second run passes the checks meanwhile.
    OutputLocks locks;
    if (!lockOutputs(locks, "fit", lockedNames)) {
        return 1;
    }
    if (!a.redo) {
        std::vector<std::string> names;
        for (const FitJob& job : jobs) {
            guardedNames(job.resultName, a.checkpoints ? job.resultName + ".ckpt" : "", names);
        }
        if (!refuseOverwrite(names)) {
            return 1;
        }
    }
    FitInputs inputs;
    inputs.siteCount = ctx.data.data().siteCount();
    inputs.models = a.models;
    inputs.checkStartContents = true;
    for (int model : a.models) {
        const std::string startName = startFileName(std::to_string(model).c_str());
        const std::string derivedPath = derived.pathFor(ctx.data, model, startName);
        for (FitJob& job : jobs) {
            if (job.model == model && !derivedPath.empty()) {
                job.startPath = derivedPath;
            }
        }
        if (derivedPath.empty()) {
            inputs.startFiles.emplace_back(model, startName);
        }
    }
    for (const FitJob& job : jobs) {
        inputs.writes.insert(inputs.writes.end(),
                             {job.resultName, job.logName, job.resultName + ".json"});
        if (job.checkpoint) {
            inputs.writes.push_back(job.resultName + ".ckpt");
        }
    }
    const bool usable = inputsUsable(inputs);
    if (!startsInsideBoxes(ctx.data, inputs.startFiles, false) || !usable) {
        return 1;
    }
    return severalFits(ctx, a, jobs);
}
