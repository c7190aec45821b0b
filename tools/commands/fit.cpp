#include "tools/commands/fit.h"

#include "driver/signals.h"
#include "driver/start_file.h"
#include "tools/analysis/checkpoint.h"
#include "tools/analysis/fit_checks.h"
#include "tools/analysis/parallel.h"
#include "tools/analysis/progress.h"
#include "tools/commands/derived_start_files.h"
#include "tools/commands/fit_from.h"
#include "tools/commands/fit_one.h"
#include "tools/commands/fit_options.h"
#include "tools/formats/cli.h"
#include "tools/formats/output_lock.h"

#include <iostream>
#include <unistd.h>

namespace {

// Several fits on worker threads, with the progress line and the summary table.
int severalFits(const RunContext& ctx, const FitOptions& a,
                const std::vector<FitDescription>& jobs) {
    std::deque<FitProgress> progress(jobs.size());
    StatusLine line(*ctx.err, progressWanted(a.quiet, STDERR_FILENO));
    const std::int64_t started = steadyNow();
    std::vector<FitOutcome> outcomes;
    {
        const StopSignalGuard signalGuard(a.checkpoints ? StopMode::request : StopMode::end);
        auto render = [&] {
            return runProgressText(jobs, progress,
                                   static_cast<double>(steadyNow() - started) * 1e-9);
        };
        ProgressTicker ticker(line, render);
        PlainProgress plain(*ctx.err, plainProgressWanted(a.quiet, STDERR_FILENO), render);
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
            *ctx.err << "zonetool fit: model " << jobs[i].model
                     << (jobs[i].seed ? " seed " + std::to_string(*jobs[i].seed) : "")
                     << " failed; see " << jobs[i].files.log << "\n";
        }
    }
    *ctx.out << summaryTable(jobs, outcomes) << jobs.size() << " fits on " << a.jobs
             << (a.jobs == 1 ? " job" : " jobs") << ": wall time " << formatElapsed(wall) << " ("
             << formatNumber(wall, 4) << " s), fit time " << formatElapsed(fitTime) << " ("
             << formatNumber(fitTime, 4) << " s)\n"
             << std::flush;
    if (stopped > 0) {
        *ctx.err << "zonetool fit: stopped; " << stopped << (stopped == 1 ? " fit" : " fits")
                 << " can be resumed by running the same command again. Exiting (75)\n";
        if (a.requeue) {
            requeueStoppedJob(*ctx.err);
        }
        return resumableStopStatus;
    }
    return failures == 0 ? 0 : 1;
}

// The fits of several models or seeds: checked all before the first starts.
int fitSeveral(const RunContext& ctx, const FitOptions& a) {
    FitNaming naming;
    naming.checkpointBeside = a.checkpoints;
    std::vector<FitDescription> jobs = planFits(a.models, a.seeds, naming);
    std::vector<std::string> lockedNames;
    for (FitDescription& job : jobs) {
        job.objective = a.objective;
        job.redo = a.redo;
        job.data = &ctx.data;
        lockedNames.push_back(job.files.result);
    }
    // Taken before anything is checked, so that no second run passes the checks meanwhile.
    OutputLocks locks;
    if (!lockOutputs(*ctx.err, ctx.data.commandLine, locks, "fit", lockedNames)) {
        return 1;
    }
    if (!a.redo) {
        std::vector<std::string> names;
        for (const FitDescription& job : jobs) {
            const std::vector<std::string> guarded = guardedNames(job);
            names.insert(names.end(), guarded.begin(), guarded.end());
        }
        if (!refuseOverwrite(*ctx.err, names)) {
            return 1;
        }
    }
    // With a transect of the user's own, a model without its start file here starts from the
    // start derived from the data.
    DerivedStartFiles derived;
    FitInputs inputs;
    inputs.siteCount = ctx.data.data().siteCount();
    inputs.models = a.models;
    inputs.checkStartContents = true;
    for (int model : a.models) {
        const std::string startName = startFileName(std::to_string(model).c_str());
        const std::string derivedPath = derived.pathFor(*ctx.err, ctx.data, model, startName);
        for (FitDescription& job : jobs) {
            if (job.model == model && !derivedPath.empty()) {
                job.startPath = derivedPath;
                job.startOrigin = StartOrigin::derived;
            }
        }
        if (derivedPath.empty()) {
            inputs.startFiles.emplace_back(model, startName);
        }
    }
    for (const FitDescription& job : jobs) {
        inputs.writes.insert(inputs.writes.end(),
                             {job.files.result, job.files.log, job.files.record});
        if (job.checkpointed()) {
            inputs.writes.push_back(job.files.checkpoint);
        }
    }
    const bool usable = inputsUsable(*ctx.err, inputs);
    if (!startsInsideBoxes(*ctx.err, ctx.data, inputs.startFiles, false) || !usable) {
        return 1;
    }
    return severalFits(ctx, a, jobs);
}

} // namespace

int fitCommand(RunContext& ctx, const std::vector<std::string>& args) {
    FitOptions options;
    const int status = readFitOptions(args, options, *ctx.out, *ctx.err);
    if (status >= 0) {
        return status;
    }
    if (options.from) {
        return fitFromRecord(ctx, options);
    }
    if (options.several()) {
        return fitSeveral(ctx, options);
    }
    return fitOne(ctx, options,
                  options.startPath.empty() ? StartOrigin::startFile : StartOrigin::given);
}
