#include "tools/commands/fit_one.h"

#include "driver/start_file.h"
#include "models/model_table.h"
#include "tools/analysis/fit_checks.h"
#include "tools/analysis/fit_objective.h"
#include "tools/analysis/fit_run.h"
#include "tools/analysis/progress.h"
#include "tools/commands/derived_start_files.h"
#include "tools/formats/output_lock.h"
#include "tools/formats/start_file_commas.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <unistd.h>

FitDescription describeOneFit(const FitOptions& options, const std::string& startPath,
                              StartOrigin origin) {
    FitDescription fit;
    fit.model = options.models.front();
    fit.modelArgument = options.modelText;
    fit.startPath = startPath;
    fit.startOrigin = origin;
    if (!options.seeds.empty()) {
        fit.seed = options.seeds.front();
    }
    fit.objective = options.objective;
    FitNaming naming;
    naming.result = options.resultName;
    naming.checkpoint = options.checkpointPath;
    naming.trace = options.tracePath;
    fit.files = fitFiles(*findModel(fit.model), fit.seed, naming);
    // With a checkpoint the reports go to the log, which the checkpoint records the length of.
    fit.reports = fit.checkpointed() ? FitReports::log : FitReports::console;
    fit.redo = options.redo;
    fit.requeue = options.requeue;
    return fit;
}

namespace {

// Whether the start file named by --start can be read; if not, says why. zonefit's own
// answer to a missing file is about startvecN.txt, which would mislead here.
bool startFileReadable(std::ostream& err, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    bool readable = file != nullptr;
    if (readable) {
        // A directory opens but cannot be read.
        std::fgetc(file);
        readable = std::ferror(file) == 0;
        std::fclose(file);
    }
    if (!readable) {
        err << "zonetool fit: cannot read the start file " << path << ": " << std::strerror(errno)
            << "\n";
    }
    return readable;
}

// Every file the fit reads or writes, checked at once; true when all are usable.
bool filesUsable(std::ostream& err, const FitDescription& fit, bool startNamed) {
    const DataContext& data = fitData(fit);
    // The start file's rows are checked by the fit itself, before any work, in zonefit's words.
    FitInputs inputs;
    inputs.siteCount = data.data().siteCount();
    inputs.models = {fit.model};
    if (!startNamed) {
        inputs.startFiles.emplace_back(fit.model, fit.startPath);
    }
    inputs.writes = {fit.files.result, fit.files.record};
    if (fit.checkpointed()) {
        inputs.writes.insert(inputs.writes.end(), {fit.files.log, fit.files.checkpoint});
    }
    if (!fit.files.trace.empty()) {
        inputs.writes.push_back(fit.files.trace);
    }
    // Every problem is named at once.
    const bool usable = inputsUsable(err, inputs);
    return startsInsideBoxes(err, data, {{fit.model, fit.startPath}}, startNamed) && usable;
}

// Runs the fit with the progress line: reports and messages pass through unchanged, after the
// line is erased. A checkpointed fit's reports go to its log, so the terminal shows only
// progress and messages.
int runWithProgress(const RunContext& ctx, const FitDescription& fit, bool quiet) {
    FitProgress progress;
    StatusLine line(*ctx.err, progressWanted(quiet, STDERR_FILENO));
    PlainProgress plain(*ctx.err, plainProgressWanted(quiet, STDERR_FILENO),
                        [&progress] { return progressText(progress); });
    ClearingBuffer clearingOut(ctx.out->rdbuf(), line);
    std::ostream out(&clearingOut);
    // Messages, too, start on a clean line instead of being glued onto the progress line.
    ClearingBuffer clearingErr(ctx.err->rdbuf(), line);
    std::ostream err(&clearingErr);
    std::optional<ProgressTicker> ticker;
    FitHooks hooks(!fit.checkpointed() && line.enabled() ? out : *ctx.out,
                   fit.checkpointed() || line.enabled() ? err : *ctx.err);
    hooks.onCall = [&plain](const AnnealCall&) { plain.poke(); };
    hooks.started = [&] {
        ticker.emplace(line, [&progress] { return progressText(progress, true); });
    };
    hooks.ended = [&] {
        ticker->stop();
        if (!fit.checkpointed()) {
            plain.stop();
        }
    };
    return runDescribedFit(fit, progress, hooks).status;
}

} // namespace

int fitOne(const RunContext& ctx, FitOptions a, StartOrigin origin) {
    if (!a.startPath.empty() && !startFileReadable(*ctx.err, a.startPath)) {
        return 1;
    }
    if (!a.startPath.empty() && !startFileCommaProblem(a.startPath).empty()) {
        *ctx.err << "zonetool fit: " << startFileCommaProblem(a.startPath) << "\n";
        return 1;
    }
    // The model argument as typed: "07" reads startvec07.txt, as zonefit does.
    const std::string ownStart = startFileName(a.modelText.c_str());
    // With a transect of the user's own, a model without its start file here starts from the
    // start derived from the data.
    DerivedStartFiles derived;
    if (a.startPath.empty()) {
        a.startPath = derived.pathFor(*ctx.err, ctx.data, a.models.front(), ownStart);
        if (!a.startPath.empty()) {
            origin = StartOrigin::derived;
        }
    }
    const bool startNamed = !a.startPath.empty();
    FitDescription fit = describeOneFit(a, startNamed ? a.startPath : ownStart, origin);
    fit.data = &ctx.data;
    // Taken before anything is checked, so that no second run passes the checks meanwhile.
    OutputLocks locks;
    if (!lockOutputs(*ctx.err, ctx.data.commandLine, locks, "fit",
                     {fit.files.result, fit.files.checkpoint, fit.files.trace})) {
        return 1;
    }
    if (!a.redo && !refuseOverwrite(*ctx.err, guardedNames(fit))) {
        return 1;
    }
    if (!filesUsable(*ctx.err, fit, startNamed)) {
        return 1;
    }
    return runWithProgress(ctx, fit, a.quiet);
}
