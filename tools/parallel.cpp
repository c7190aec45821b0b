#include "tools/parallel.h"

#include "data/borders.h"
#include "driver/signals.h"
#include "driver/start_file.h"
#include "driver/zonefit_main.h"
#include "models/model_context.h"
#include "models/model_table.h"
#include "models/settled_objective.h"
#include "tools/checkpoint.h"
#include "tools/cli.h"
#include "tools/data_option.h"
#include "tools/failed_fit.h"
#include "tools/fit_record.h"
#include "tools/results.h"
#include "tools/table.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

std::vector<FitJob> planFits(const std::vector<int>& models,
                             const std::vector<std::uint64_t>& seeds) {
    std::vector<FitJob> jobs;
    const bool seedInName = seeds.size() > 1;
    for (int number : models) {
        const ModelEntry& model = *findModel(number);
        const std::string argument = std::to_string(number);
        const std::size_t runs = seeds.empty() ? 1 : seeds.size();
        for (std::size_t s = 0; s < runs; s++) {
            FitJob job;
            job.model = number;
            if (!seeds.empty()) {
                job.seed = seeds[s];
            }
            job.startPath = startFileName(argument.c_str());
            job.resultName =
                resultFileName(model, seedInName ? job.seed : std::optional<std::uint64_t>());
            job.logName = job.resultName + ".log";
            jobs.push_back(job);
        }
    }
    return jobs;
}

bool checkBordersFor(const DataContext& data, const std::vector<FitJob>& jobs, std::string& error) {
    for (const FitJob& job : jobs) {
        if (findModel(job.model)->borders == BorderSource::borderFile) {
            Borders borders;
            return readBorders(borderFileName, data.data().siteCount(), borders, error);
        }
    }
    return true;
}

std::string seedLine(const std::optional<std::uint64_t>& seed) {
    return "seed: " + (seed ? std::to_string(*seed) : std::string("clock")) + "\n";
}

std::string objectiveLine(ObjectiveKind objective) {
    return objective == ObjectiveKind::zonefit
               ? std::string()
               : std::string("objective: ") + objectiveName(objective) + "\n";
}

namespace {

void readValue(const FitJob& job, const ModelEntry& model, FitOutcome& outcome) {
    StoredResult stored;
    std::string error;
    if (readResultFile(job.resultName, model, stored, error)) {
        outcome.value = stored.value;
        outcome.hasValue = true;
    }
}

// The messages of checkpointed fits (a refused checkpoint, say) go to standard error, since
// such a fit's log may be cut back to the checkpoint.
std::mutex messageMutex;

FitOutcome runCheckpointed(const RunContext& ctx, const FitJob& job, FitProgress& progress) {
    FitOutcome outcome;
    markStarted(progress);
    if (stopRequestSignal() != 0) {
        outcome.status = resumableStopStatus;
        markFinished(progress, false);
        return outcome;
    }
    CheckpointedFit fit;
    fit.modelArgument = std::to_string(job.model);
    fit.startPath = job.startPath;
    fit.resultName = job.resultName;
    fit.checkpointPath = job.resultName + ".ckpt";
    fit.seed = job.seed;
    fit.redo = job.redo;
    fit.objective = job.objectiveKind;
    fit.ownSignalGuard = false;
    std::ostringstream messages;
    const CheckpointedOutcome done =
        runCheckpointedFit(ctx.data, fit, progress, messages, [&progress](const AnnealCall& call) {
            recordCall(progress, call.stage, call.cycle, call.call, call.temperature,
                       call.converged);
        });
    if (!messages.str().empty()) {
        const std::lock_guard<std::mutex> lock(messageMutex);
        *ctx.err << messages.str() << std::flush;
    }
    outcome.status = done.status;
    if (outcome.status == 0) {
        readValue(job, *findModel(job.model), outcome);
    }
    markFinished(progress, outcome.status == 0);
    outcome.evaluations = done.evaluations;
    outcome.seconds = done.wallSeconds;
    return outcome;
}

FitOutcome runOne(const RunContext& ctx, const FitJob& job, FitProgress& progress) {
    if (job.checkpoint) {
        return runCheckpointed(ctx, job, progress);
    }
    FitOutcome outcome;
    const ModelEntry& model = *findModel(job.model);
    std::ofstream log(job.logName);
    markStarted(progress);
    if (!log) {
        outcome.status = 1;
        markFinished(progress, false);
        return outcome;
    }
    log << seedLine(job.seed) << objectiveLine(job.objectiveKind);
    {
        // The fit's own sink and log: the models' diagnostics go to the log.
        FailureSink failures;
        SimulationContext simulation;
        simulation.diagnostics = &log;
        const ModelContext context = ctx.data.models(&failures, simulation);
        const BoundObjective bound{&context, &model, job.objectiveKind};
        const bool own = job.objective == nullptr || job.objectiveKind == ObjectiveKind::settled;

        ScheduleOptions options;
        options.seed = job.seed;
        options.onCall = [&progress](const AnnealCall& call) {
            recordCall(progress, call.stage, call.cycle, call.call, call.temperature,
                       call.converged);
        };
        FitOutput output;
        output.out = &log;
        output.err = &log;
        output.resultName = job.resultName;
        output.existingResult = job.redo ? ExistingFile::replace : ExistingFile::keep;
        output.startLabel = job.startPath;
        if (!own || model.objective != nullptr) {
            ModelObjective* replaced = job.objective;
            const FitObjective target =
                own ? FitObjective(bound)
                    : FitObjective([replaced, &context](const NRvector<double>& x) {
                          return replaced(context, x);
                      });
            output.objective = countingObjective(target, &progress);
            output.failures = &failures;
        }
        output.onResult = recordWriter(ctx.data, model, job.resultName, job.seed,
                                       progress.evaluations, job.objectiveKind);
        output.acceptResult = penaltyRefusal(ctx.data, model);
        const std::string argument = std::to_string(job.model);
        std::string recordError;
        if (!checkResultWritable(recordFileName(job.resultName), recordError)) {
            log << "Cannot write the fit record: " << recordError << ". Exiting (1)\n";
            outcome.status = 1;
        } else {
            outcome.status = runFit(argument.c_str(), job.startPath, options, output);
        }
    }
    log.flush();
    if (outcome.status == 0) {
        readValue(job, model, outcome);
    }
    markFinished(progress, outcome.status == 0);
    outcome.evaluations = progress.evaluations;
    outcome.seconds = elapsedSeconds(progress);
    return outcome;
}

} // namespace

std::vector<FitOutcome> runFits(const RunContext& ctx, const std::vector<FitJob>& jobs, int workers,
                                std::deque<FitProgress>& progress,
                                const std::function<void(std::size_t)>& onFinish) {
    if (progress.size() != jobs.size()) {
        // Records are made before any thread starts; a display may read them from then on.
        progress.clear();
        for (std::size_t i = 0; i < jobs.size(); i++) {
            progress.emplace_back();
        }
    }
    std::vector<FitOutcome> outcomes(jobs.size());
    std::atomic<std::size_t> next{0};
    // Every worker evaluates on the transect and boxes of `ctx`.
    auto work = [&]() {
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= jobs.size()) {
                return;
            }
            outcomes[i] = runOne(ctx, jobs[i], progress[i]);
            if (onFinish) {
                onFinish(i);
            }
        }
    };
    const int threads = std::max(1, std::min<int>(workers, static_cast<int>(jobs.size())));
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; t++) {
        pool.emplace_back(work);
    }
    for (std::thread& thread : pool) {
        thread.join();
    }
    return outcomes;
}

std::string summaryTable(const std::vector<FitJob>& jobs, const std::vector<FitOutcome>& outcomes) {
    // Numbers right-aligned, words left-aligned.
    Table table({Align::right, Align::left, Align::left, Align::left, Align::right, Align::right,
                 Align::right, Align::left, Align::left});
    table.addRow(
        {"model", "name", "seed", "status", "-lnL", "evaluations", "time", "result", "log"});
    for (std::size_t i = 0; i < jobs.size(); i++) {
        const FitJob& job = jobs[i];
        const FitOutcome& outcome = outcomes[i];
        table.addRow({std::to_string(job.model), findModel(job.model)->name,
                      job.seed ? std::to_string(*job.seed) : "clock",
                      outcome.status == 0 ? "ok"
                      : outcome.status == resumableStopStatus
                          ? "stopped"
                          : "failed(" + std::to_string(outcome.status) + ")",
                      outcome.hasValue ? formatNumber(outcome.value, 8) : "-",
                      std::to_string(outcome.evaluations), formatElapsed(outcome.seconds),
                      outcome.status == 0 ? job.resultName : "-", job.logName});
    }
    return table.aligned();
}

std::string runProgressText(const std::vector<FitJob>& jobs,
                            const std::deque<FitProgress>& progress, double wallSeconds) {
    std::size_t finished = 0;
    std::string running;
    for (std::size_t i = 0; i < jobs.size() && i < progress.size(); i++) {
        const int state = progress[i].state;
        if (state == FitProgress::done || state == FitProgress::failed) {
            finished++;
        } else if (state == FitProgress::running) {
            const FitProgress& p = progress[i];
            running +=
                "  [" + std::to_string(jobs[i].model) +
                (jobs[i].seed ? "/" + std::to_string(*jobs[i].seed) : "") + " " +
                std::to_string(p.stage.load()) + "." + std::to_string(p.cycle.load()) + "." +
                std::to_string(p.call.load()) + " T " + formatNumber(p.temperature, 3) + " ev " +
                std::to_string(p.evaluations.load()) + " best " +
                (p.best == std::numeric_limits<double>::infinity() ? std::string("-")
                                                                   : formatNumber(p.best, 7)) +
                "]";
        }
    }
    return std::to_string(finished) + "/" + std::to_string(jobs.size()) + " fits done  " +
           formatElapsed(wallSeconds) + running;
}
