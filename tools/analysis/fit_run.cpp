#include "tools/analysis/fit_run.h"

#include "driver/signals.h"
#include "driver/zonefit_main.h"
#include "models/model_table.h"
#include "tools/analysis/checkpointed_fit.h"
#include "tools/analysis/failed_fit.h"
#include "tools/analysis/fit_objective.h"
#include "tools/formats/data_option.h"
#include "tools/formats/fit_record.h"
#include "tools/formats/results.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

// The value of a written result file, read back for the summary of a run.
void readValue(const FitDescription& fit, FitOutcome& outcome) {
    StoredResult stored;
    std::string error;
    if (readResultFile(fit.files.result, *findModel(fit.model), stored, error)) {
        outcome.value = stored.value;
        outcome.hasValue = true;
    }
}

// Records every anneal call in `progress`, then tells the caller.
std::function<void(const AnnealCall&)> callRecorder(FitProgress& progress, const FitHooks& hooks) {
    return [&progress, &hooks](const AnnealCall& call) {
        recordCall(progress, call.stage, call.cycle, call.call, call.temperature, call.converged);
        if (hooks.onCall) {
            hooks.onCall(call);
        }
    };
}

// The hooks around the run itself.
void started(const FitHooks& hooks) {
    if (hooks.started) {
        hooks.started();
    }
}
void ended(const FitHooks& hooks) {
    if (hooks.ended) {
        hooks.ended();
    }
}

// The output of a plain fit of `model` into fit.files.result, minimising `objective` (empty:
// the model is not available) with its failures in `failures`, with the record written beside
// the result.
FitOutput plainOutput(const FitDescription& fit, const ModelEntry& model,
                      const FitObjective& objective, FailureSink& failures, FitProgress& progress) {
    FitOutput output;
    output.resultName = fit.files.result;
    output.existingResult = fit.redo ? ExistingFile::replace : ExistingFile::keep;
    output.startLabel = fit.startPath;
    if (objective) {
        output.objective = objective;
        output.failures = &failures;
    }
    output.onResult = recordWriter(fitData(fit), model, fit.files.result, fit.seed,
                                   progress.evaluations, fit.objective);
    output.acceptResult = penaltyRefusal(fitData(fit), model);
    return output;
}

// A fit that keeps a checkpoint.
FitOutcome checkpointedSteps(const FitDescription& fit, FitProgress& progress,
                             const FitHooks& hooks) {
    FitOutcome outcome;
    markStarted(progress);
    if (stopRequestSignal() != 0) {
        // Stopped before its turn came, among several.
        outcome.status = resumableStopStatus;
        markFinished(progress, false);
        return outcome;
    }
    started(hooks);
    const CheckpointedOutcome done =
        runCheckpointedFit(fit, progress, *hooks.err, callRecorder(progress, hooks));
    ended(hooks);
    outcome.status = done.status;
    if (outcome.status == 0) {
        readValue(fit, outcome);
    }
    markFinished(progress, outcome.status == 0);
    outcome.evaluations = done.evaluations;
    outcome.seconds = done.wallSeconds;
    return outcome;
}

// A fit whose every line goes to its log.
FitOutcome loggedSteps(const FitDescription& fit, FitProgress& progress, const FitHooks& hooks) {
    FitOutcome outcome;
    const ModelEntry& model = *findModel(fit.model);
    std::ofstream log(fit.files.log);
    markStarted(progress);
    if (!log) {
        outcome.status = 1;
        markFinished(progress, false);
        return outcome;
    }
    log << seedLine(fit.seed) << objectiveLine(fit.objective);
    {
        // The fit's own sink; the models' diagnostics go to the log.
        FailureSink failures;
        SimulationContext simulation;
        simulation.diagnostics = &log;
        const ModelContext context = fitData(fit).models(&failures, simulation);
        ScheduleOptions options;
        options.seed = fit.seed;
        options.onCall = callRecorder(progress, hooks);
        FitOutput output = plainOutput(fit, model, fitObjective(fit, model, context, progress),
                                       failures, progress);
        output.out = &log;
        output.err = &log;
        std::string recordError;
        if (!checkResultWritable(fit.files.record, recordError)) {
            log << "Cannot write the fit record: " << recordError << ". Exiting (1)\n";
            outcome.status = 1;
        } else {
            started(hooks);
            outcome.status = runFit(fit.modelText().c_str(), fit.startPath, options, output);
            ended(hooks);
        }
    }
    log.flush();
    if (outcome.status == 0) {
        readValue(fit, outcome);
    }
    markFinished(progress, outcome.status == 0);
    outcome.evaluations = progress.evaluations;
    outcome.seconds = elapsedSeconds(progress);
    return outcome;
}

// A fit exactly as zonefit runs it, on the console.
FitOutcome consoleSteps(const FitDescription& fit, FitProgress& progress, const FitHooks& hooks) {
    FitOutcome outcome;
    outcome.status = 1;
    std::ostream& err = *hooks.err;
    ScheduleOptions options;
    options.seed = fit.seed;
    std::ofstream trace;
    if (!fit.files.trace.empty()) {
        trace.open(fit.files.trace);
        if (!trace) {
            err << "zonetool fit: cannot write the trace file " << fit.files.trace << ": "
                << std::strerror(errno) << "\n";
            return outcome;
        }
        options.trace = &trace;
    }
    options.onCall = callRecorder(progress, hooks);
    const ModelEntry& model = *findModel(fit.model);
    FailureSink failures;
    SimulationContext simulation;
    simulation.diagnostics = hooks.out;
    const ModelContext context = fitData(fit).models(&failures, simulation);
    FitOutput output =
        plainOutput(fit, model, fitObjective(fit, model, context, progress), failures, progress);
    output.out = hooks.out;
    output.err = hooks.err;
    std::string recordError;
    if (!checkResultWritable(fit.files.record, recordError)) {
        err << "zonetool fit: cannot write the fit record: " << recordError << "\n";
        return outcome;
    }
    // zonefit's output stays as it is; a fit of the other objective says so first.
    *hooks.out << objectiveLine(fit.objective) << std::flush;
    const StopSignalGuard signalGuard;
    markStarted(progress);
    started(hooks);
    outcome.status = runFit(fit.modelText().c_str(), fit.startPath, options, output);
    ended(hooks);
    markFinished(progress, outcome.status == 0);
    if (outcome.status == 0) {
        readValue(fit, outcome);
    }
    outcome.evaluations = progress.evaluations;
    outcome.seconds = elapsedSeconds(progress);
    return outcome;
}

} // namespace

FitOutcome runDescribedFit(const FitDescription& fit, FitProgress& progress,
                           const FitHooks& hooks) {
    if (fit.checkpointed()) {
        return checkpointedSteps(fit, progress, hooks);
    }
    if (fit.reports == FitReports::log) {
        return loggedSteps(fit, progress, hooks);
    }
    return consoleSteps(fit, progress, hooks);
}
