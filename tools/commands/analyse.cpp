#include "tools/commands/analyse.h"

#include "tools/analysis/analyse_estimate.h"
#include "tools/analysis/analyse_run.h"
#include "tools/analysis/analyse_stages.h"
#include "tools/commands/analyse_clines.h"
#include "tools/commands/analyse_options.h"
#include "tools/commands/analyse_progress.h"
#include "tools/commands/slurm.h"
#include "tools/formats/results.h"

#include "driver/signals.h"

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <unistd.h>

namespace {

// The settings of the run `o` asks for (a task of a cluster run: its stages alone).
AnalyseSettings settingsOf(const AnalyseOptions& o) {
    AnalyseSettings s;
    s.models = o.models;
    s.effort = o.effort;
    s.budget = effortBudget(o.effort);
    if (std::getenv("ZONETOOL_TEST_ANALYSE_TINY") != nullptr) {
        // Tests only: budgets that make an analysis of one model take seconds.
        s.budget.searchStarts = 2;
        s.budget.searchBudget = 60;
        s.budget.polishBudget = 60;
        s.budget.profileEvaluations = 30;
        s.budget.profileSteps = 2;
        s.budget.profileBisections = 1;
        s.budget.profileRestarts = 0;
    }
    if (const char* restarts = std::getenv("ZONETOOL_TEST_ANALYSE_RESTARTS")) {
        // Tests only: lets the estimate of a tiny-budget fit move during its profile.
        s.budget.profileRestarts = std::atoi(restarts);
    }
    s.seed = o.seed;
    s.jobs = o.jobs;
    s.dir = o.dir;
    s.redo = o.redo;
    switch (o.task) {
    case AnalyseTask::none:
    case AnalyseTask::search:
        break;
    case AnalyseTask::merge:
        s.until = StageKind::search;
        s.mergeBlocks = o.blocks;
        break;
    case AnalyseTask::fit:
        s.from = s.until = StageKind::fit;
        break;
    case AnalyseTask::profile:
        s.from = s.until = StageKind::profile;
        break;
    case AnalyseTask::report:
        s.from = StageKind::derived;
        break;
    }
    return s;
}

// Models 3 to 6 need a usable borders.txt before anything runs.
bool bordersUsable(RunContext& ctx, const std::vector<int>& models) {
    for (int model : models) {
        std::string error;
        if (modelReadsBorderFile(model) && !borderFileUsable(ctx.data, model, error)) {
            *ctx.err << "zonetool analyse: " << error << "\n";
            return false;
        }
    }
    return true;
}

// The analysis here, or a task of a cluster run.
int runHere(RunContext& ctx, const AnalyseOptions& o) {
    const std::int64_t wallStart = steadyNow();
    const double cpuStart = processCpuSeconds();
    const AnalyseSettings settings = settingsOf(o);
    std::string error;
    if (!bordersUsable(ctx, o.models) || !prepareAnalysisDirectory(o.dir, o.redo, error)) {
        *ctx.err << (error.empty() ? "" : "zonetool analyse: " + error + "\n");
        return 1;
    }
    // A stop signal removes the temporary file of a write under way and ends the process; the
    // stages' files, checkpoints and journals are whole, and the next run carries on.
    const StopSignalGuard signalGuard;
    if (o.task == AnalyseTask::search) {
        if (!runSearchBlock(ctx.data, settings, o.models.front(), o.block, o.blocks, error)) {
            *ctx.err << "zonetool analyse: search block " << o.block << " of " << o.blocks << ": "
                     << error << "\n";
            return 1;
        }
        return 0;
    }
    if (o.task == AnalyseTask::profile && o.side > 0) {
        if (!runProfileSide(ctx.data, settings, o.models.front(), o.side, error)) {
            *ctx.err << "zonetool analyse: profile side " << o.side << " of "
                     << 2 * modelParameterCount(o.models.front()) << ": " << error << "\n";
            return 1;
        }
        return 0;
    }
    const bool quiet = o.quiet || o.task != AnalyseTask::none;
    AnalyseProgress progress(*ctx.err, quiet, ctx.err == &std::cerr && isatty(STDERR_FILENO));
    AnalyseEstimate estimate;
    if (quiet) {
        estimate.stages.resize(o.models.size());
    } else {
        estimate = estimateAnalysis(ctx.data, o.models, settings.budget, o.jobs, o.seed);
        progress.say(estimateLine(o.models, effortName(o.effort), estimate));
    }
    if (!runAnalysis(ctx.data, settings, estimate.stages, descriptiveClineFitter(ctx.data),
                     progress.hooks(), error)) {
        progress.clear();
        *ctx.err << "zonetool analyse: " << error << "\n";
        return 1;
    }
    progress.say("this run: " + formatElapsed(processCpuSeconds() - cpuStart) + " CPU, " +
                 formatElapsed(static_cast<double>(steadyNow() - wallStart) * 1e-9) + " wall");
    if (o.task == AnalyseTask::none) {
        *ctx.out << o.dir << "/report.html\n";
    }
    return 0;
}

// DIR/analyse-slurm.sh, the script of the same analysis on a Slurm cluster.
int writeScript(RunContext& ctx, const AnalyseOptions& o) {
    const int starts = effortBudget(o.effort).searchStarts;
    AnalyseScriptJob job;
    job.modelText = o.modelText;
    job.models = o.models;
    for (int model : o.models) {
        job.sides.push_back(2 * modelParameterCount(model));
    }
    job.options = {"--effort", effortName(o.effort), "--seed", std::to_string(o.seed), "-o", o.dir};
    job.blocks = o.blocks > 0 ? o.blocks : std::min(8, starts);
    job.logDirectory = o.dir + "/.analyse";
    if (job.blocks > starts) {
        *ctx.err << "zonetool analyse: --blocks (" << job.blocks << ") must not exceed the "
                 << effortName(o.effort) << " effort's " << starts << " search starts\n";
        return 2;
    }
    ScriptPlace place;
    std::string error;
    if (!scriptPlaceOf(ctx.data, place)) {
        *ctx.err << "zonetool analyse: cannot find the working directory or this program\n";
        return 1;
    }
    const std::string script = o.dir + "/analyse-slurm.sh";
    if (!bordersUsable(ctx, o.models) || !prepareAnalysisDirectory(o.dir, false, error) ||
        !writeResultFile(script, analyseArrayScript(job, o.request, place), error)) {
        *ctx.err << (error.empty() ? "" : "zonetool analyse: " + error + "\n");
        return 1;
    }
    *ctx.out << script << "\n";
    *ctx.err << "zonetool analyse: wrote " << script << "; submit its jobs with: bash " << script
             << " submit\n";
    return 0;
}

} // namespace

int analyseCommand(RunContext& ctx, const std::vector<std::string>& args) {
    AnalyseOptions o;
    const int status = readAnalyseOptions(args, o, *ctx.out, *ctx.err);
    if (status >= 0) {
        return status;
    }
    return o.slurm ? writeScript(ctx, o) : runHere(ctx, o);
}
