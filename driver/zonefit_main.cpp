#include "driver/zonefit_main.h"

#include "driver/signals.h"
#include "driver/start_file.h"
#include "models/model_context.h"
#include "models/model_table.h"

#include <iostream>

namespace {

void writeUsage(std::ostream& err) {
    err << "Where's your startvec file?\n"
        << "Remember to specify the Model Number in args\n";
    for (const ModelEntry& model : modelTable) {
        err << model.usage << "\n";
    }
}

} // namespace

int runFit(const char* argument, const std::string& startPath, const ScheduleOptions& options) {
    // A fit stopped by a signal leaves the result file as it was and no temporary file.
    const StopSignalGuard signalGuard;
    return runFit(argument, startPath, options, FitOutput());
}

// Installs no signal guard: a tool running several fits at once installs one for all of them.
int runFit(const char* argument, const std::string& startPath, const ScheduleOptions& options,
           const FitOutput& output) {
    std::ostream& out = output.out != nullptr ? *output.out : std::cout;
    std::ostream& err = output.err != nullptr ? *output.err : std::cerr;
    const std::string where = output.startLabel.empty() ? "" : output.startLabel + ": ";
    StartVector startVector;
    switch (readStartFile(startPath, startVector)) {
    case StartFileStatus::cannotOpen:
        writeUsage(err);
        return 1;
    case StartFileStatus::empty:
        err << where << "Empty input file. No chains to be run? Exiting (1)\n";
        return 1;
    case StartFileStatus::missingDeltas:
        err << where
            << "Forgot to include the deltas in the second row of input file. Exiting (1)\n";
        return 1;
    case StartFileStatus::ok:
        break;
    }

    const ModelEntry* model = findModel(parseModelNumber(argument));
    if (model == nullptr) {
        out << "No model specified. Exiting(1)" << std::flush;
        return 1;
    }
    const long count = static_cast<long>(startVector.start.size());
    if (count < model->parameterCount) {
        err << where << "Model " << model->number << " (" << model->name << ") reads "
            << model->parameterCount << " parameters, but the start vector holds " << count
            << (count == 1 ? " value" : " values") << ". Exiting (1)\n";
        return 1;
    }
    if (count > maxStartValues) {
        err << where << "The start vector holds " << count << " values, more than the "
            << maxStartValues << " a simplex can be built for. Exiting (1)\n";
        return 1;
    }
    if (model->objective == nullptr) {
        err << "Model " << model->number << " is not available in this build\n";
        return 1;
    }
    if (count > model->parameterCount) {
        err << where << "Warning: model " << model->number << " (" << model->name << ") reads "
            << model->parameterCount << " parameters; the start vector holds " << count
            << " values, and the extra ones are fitted without effect\n";
    }

    // Flushed, so that a fit stopped early leaves at least the banner in a redirected output.
    // A resumed fit's banner is already in its log.
    if (options.resumeFrom == nullptr) {
        out << model->banner << "\n" << std::flush;
    }
    const std::string resultName = output.resultName.empty() ? model->prefix : output.resultName;
    // zonefit's own objectives report to zonefit's sink (models/model_context.h).
    const bool own = !output.objective;
    const FitObjective objective = own ? FitObjective(model->objective) : output.objective;
    FailureSink& failures =
        own || output.failures == nullptr ? zonefitFailures() : *output.failures;
    std::string error;
    if (!checkResultWritable(resultName, error)) {
        out.flush();
        err << "Cannot write the result file: " << error << ". Exiting (1)\n";
        return 1;
    }
    const FitResult result =
        runSchedule(objective, failures, startVector.start, startVector.deltas, out, options);
    out.flush();
    if (!result.failure.empty()) {
        // The inputs of the objective went bad during the fit (a border file, for instance).
        err << result.failure << "\n";
        return 1;
    }
    if (result.stopped) {
        return resumableStopStatus;
    }
    if (output.acceptResult && !output.acceptResult(result, error)) {
        err << error << "\n";
        return 1;
    }
    const std::string line = resultLine(result);
    std::string keptAs;
    if (!writeResultFile(resultName, line, error, nullptr, output.existingResult, &keptAs)) {
        if (!keptAs.empty()) {
            err << "Cannot save the result as " << resultName
                << ", which appeared while the fit ran: nothing was replaced, and this fit's "
                   "result is kept in "
                << keptAs << ". Exiting (1)\n";
            return 1;
        }
        // Hours of fitting are not thrown away: the line goes to standard error instead.
        err << "Cannot save the result: " << error << "\nThe result, not saved: " << line
            << "Exiting (1)\n";
        return 1;
    }
    if (output.onResult && !output.onResult(result, startVector, error)) {
        err << error << "\n";
        return 1;
    }
    return 0;
}

int zonefitMain(int argc, char** argv) {
    const char* argument = argc > 1 ? argv[1] : nullptr;
    return runFit(argument, startFileName(argument), ScheduleOptions());
}
