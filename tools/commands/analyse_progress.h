// What `zonetool analyse` prints while it runs: the estimate before it starts, and the stage,
// the model and the time left as it goes (a redrawn line on a terminal; otherwise a plain
// line as each stage starts and ends, and one a minute while it runs).
#pragma once

#include "tools/analysis/analyse_estimate.h"
#include "tools/analysis/analyse_run.h"
#include "tools/analysis/progress.h"

#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>

// The progress of one analysis on `err` (not owned); nothing at all when `quiet`. `terminal`:
// `err` is a terminal, where the line is redrawn.
class AnalyseProgress {
  public:
    AnalyseProgress(std::ostream& err, bool quiet, bool terminal);
    ~AnalyseProgress();
    AnalyseProgress(const AnalyseProgress&) = delete;
    AnalyseProgress& operator=(const AnalyseProgress&) = delete;

    // A stage starts, with the time left including it, in seconds.
    void begin(const std::string& what, double etaSeconds);
    // The work under way within the stage.
    void detail(const std::string& detail);
    // Ends a redrawn line, so that a message of one's own follows on a line of its own.
    void clear() { line_.clear(); }
    // A line of its own ("analyse: " + message).
    void say(const std::string& message);
    // The hooks of runAnalysis that report to this progress.
    AnalyseHooks hooks();

  private:
    std::string text();
    std::ostream& err_;
    bool quiet_;
    StatusLine line_;
    std::mutex mutex_;
    std::string what_ = "starting";
    std::string detail_;
    double eta_ = 0.0;
    std::int64_t began_ = steadyNow();
    PlainProgress plain_; // last: its thread renders the members above
};

// The line of the estimate: "estimate for N models at EFFORT effort: about ...", with the
// milliseconds of one evaluation near the best point of each model.
std::string estimateLine(const std::vector<int>& models, const char* effort,
                         const AnalyseEstimate& estimate);
