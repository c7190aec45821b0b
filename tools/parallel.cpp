#include "tools/parallel.h"

#include "data/borders.h"
#include "driver/start_file.h"
#include "driver/zonefit_main.h"
#include "models/model_table.h"
#include "population/diagnostics.h"
#include "tools/cli.h"
#include "tools/data_option.h"
#include "tools/results.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
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

bool checkBordersFor(const std::vector<FitJob>& jobs, std::string& error) {
    for (const FitJob& job : jobs) {
        if (findModel(job.model)->borders == BorderSource::borderFile) {
            Borders borders;
            return readBorders(borderFileName, borders, error);
        }
    }
    return true;
}

namespace {

FitOutcome runOne(const FitJob& job, FitProgress& progress) {
    FitOutcome outcome;
    const ModelEntry& model = *findModel(job.model);
    std::ofstream log(job.logName);
    markStarted(progress);
    if (!log) {
        outcome.status = 1;
        markFinished(progress, false);
        return outcome;
    }
    setDiagnostics(&log);
    ObjectiveFunction* objective = job.objective != nullptr ? job.objective : model.objective;
    setCountingTarget(objective, &progress);

    ScheduleOptions options;
    options.seed = job.seed;
    options.onCall = [&progress](const AnnealCall& call) {
        recordCall(progress, call.stage, call.cycle, call.call, call.temperature);
    };
    FitOutput output;
    output.out = &log;
    output.err = &log;
    output.resultName = job.resultName;
    output.objective = objective != nullptr ? countingObjective : nullptr;
    const std::string argument = std::to_string(job.model);
    outcome.status = runFit(argument.c_str(), job.startPath, options, output);

    setDiagnostics(nullptr);
    setCountingTarget(nullptr, nullptr);
    log.flush();
    if (outcome.status == 0) {
        StoredResult stored;
        std::string error;
        if (readResultFile(job.resultName, model, stored, error)) {
            outcome.value = stored.value;
            outcome.hasValue = true;
        }
    }
    markFinished(progress, outcome.status == 0);
    outcome.evaluations = progress.evaluations;
    outcome.seconds = elapsedSeconds(progress);
    return outcome;
}

} // namespace

std::vector<FitOutcome> runFits(const std::vector<FitJob>& jobs, int workers,
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
    const DataContext* data = dataContext();
    auto work = [&]() {
        const DataScope dataScope(data);
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= jobs.size()) {
                return;
            }
            outcomes[i] = runOne(jobs[i], progress[i]);
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
    std::vector<std::vector<std::string>> rows;
    rows.push_back(
        {"model", "name", "seed", "status", "-lnL", "evaluations", "time", "result", "log"});
    for (std::size_t i = 0; i < jobs.size(); i++) {
        const FitJob& job = jobs[i];
        const FitOutcome& outcome = outcomes[i];
        rows.push_back(
            {std::to_string(job.model), findModel(job.model)->name,
             job.seed ? std::to_string(*job.seed) : "clock",
             outcome.status == 0 ? "ok" : "failed(" + std::to_string(outcome.status) + ")",
             outcome.hasValue ? formatNumber(outcome.value, 8) : "-",
             std::to_string(outcome.evaluations), formatElapsed(outcome.seconds),
             outcome.status == 0 ? job.resultName : "-", job.logName});
    }
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows) {
        for (std::size_t c = 0; c < row.size(); c++) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    std::ostringstream out;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t c = 0; c < row.size(); c++) {
            const std::string pad(widths[c] - row[c].size(), ' ');
            // Numbers right-aligned, words left-aligned; the last column is not padded.
            const bool number = c == 0 || c == 4 || c == 5 || c == 6;
            const bool last = c + 1 == row.size();
            line += (c == 0 ? "" : "  ") + (number ? pad + row[c] : row[c] + (last ? "" : pad));
        }
        out << line << "\n";
    }
    return out.str();
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
