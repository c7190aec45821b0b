#include "tools/analysis/parallel.h"

#include "data/borders.h"
#include "driver/signals.h"
#include "driver/start_file.h"
#include "driver/zonefit_main.h"
#include "models/model_table.h"
#include "tools/formats/cli.h"
#include "tools/formats/results.h"
#include "tools/formats/table.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

std::vector<FitDescription> planFits(const std::vector<int>& models,
                                     const std::vector<std::uint64_t>& seeds,
                                     const FitNaming& naming) {
    std::vector<FitDescription> jobs;
    FitNaming named = naming;
    named.seedInName = seeds.size() > 1;
    for (int number : models) {
        const ModelEntry& model = *findModel(number);
        const std::string argument = std::to_string(number);
        const std::size_t runs = seeds.empty() ? 1 : seeds.size();
        for (std::size_t s = 0; s < runs; s++) {
            FitDescription job;
            job.model = number;
            if (!seeds.empty()) {
                job.seed = seeds[s];
            }
            job.startPath = startFileName(argument.c_str());
            job.files = fitFiles(model, job.seed, named);
            jobs.push_back(job);
        }
    }
    return jobs;
}

bool checkBordersFor(const DataContext& data, const std::vector<FitDescription>& jobs,
                     std::string& error) {
    for (const FitDescription& job : jobs) {
        if (findModel(job.model)->borders == BorderSource::borderFile) {
            Borders borders;
            return readBorders(borderFileName, data.data().siteCount(), borders, error);
        }
    }
    return true;
}

namespace {

// The messages of checkpointed fits go to the context's error stream, one fit's at a time.
std::mutex messageMutex;

} // namespace

std::vector<FitOutcome> runFits(const RunContext& ctx, const std::vector<FitDescription>& jobs,
                                int workers, std::deque<FitProgress>& progress,
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
    auto work = [&]() {
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= jobs.size()) {
                return;
            }
            // The caller holds the stop-signal guard for all of them.
            FitDescription job = jobs[i];
            job.ownSignalGuard = false;
            // A fit that names no data of its own evaluates on the transect and boxes of `ctx`.
            if (job.data == nullptr) {
                job.data = &ctx.data;
            }
            std::ostringstream messages;
            FitHooks hooks(messages, messages);
            outcomes[i] = runDescribedFit(job, progress[i], hooks);
            if (!messages.str().empty()) {
                const std::lock_guard<std::mutex> lock(messageMutex);
                *ctx.err << messages.str() << std::flush;
            }
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

std::string summaryTable(const std::vector<FitDescription>& jobs,
                         const std::vector<FitOutcome>& outcomes) {
    // Numbers right-aligned, words left-aligned.
    Table table({Align::right, Align::left, Align::left, Align::left, Align::right, Align::right,
                 Align::right, Align::left, Align::left});
    table.addRow(
        {"model", "name", "seed", "status", "-lnL", "evaluations", "time", "result", "log"});
    for (std::size_t i = 0; i < jobs.size(); i++) {
        const FitDescription& job = jobs[i];
        const FitOutcome& outcome = outcomes[i];
        table.addRow({std::to_string(job.model), findModel(job.model)->name,
                      job.seed ? std::to_string(*job.seed) : "clock",
                      outcome.status == 0 ? "ok"
                      : outcome.status == resumableStopStatus
                          ? "stopped"
                          : "failed(" + std::to_string(outcome.status) + ")",
                      outcome.hasValue ? formatNumber(outcome.value, 8) : "-",
                      std::to_string(outcome.evaluations), formatElapsed(outcome.seconds),
                      outcome.status == 0 ? job.files.result : "-", job.files.log});
    }
    return table.aligned();
}

std::string runProgressText(const std::vector<FitDescription>& jobs,
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
