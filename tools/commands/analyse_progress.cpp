#include "tools/commands/analyse_progress.h"

#include "tools/analysis/analyse_stages.h"
#include "tools/formats/number_format.h"

#include <algorithm>
#include <sstream>

AnalyseProgress::AnalyseProgress(std::ostream& err, bool quiet, bool terminal)
    : err_(err), quiet_(quiet), line_(err, !quiet && terminal),
      plain_(err, !quiet && !terminal, [this] { return text(); }) {}

AnalyseProgress::~AnalyseProgress() {
    plain_.stop();
}

void AnalyseProgress::begin(const std::string& what, double etaSeconds) {
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        what_ = what;
        detail_.clear();
        eta_ = etaSeconds;
        began_ = steadyNow();
    }
    if (quiet_) {
        return;
    }
    if (line_.enabled()) {
        line_.show(text());
    } else {
        err_ << "analyse: " << what << "  (ETA " << formatElapsed(etaSeconds) << ")\n";
    }
}

void AnalyseProgress::detail(const std::string& detail) {
    {
        const std::lock_guard<std::mutex> hold(mutex_);
        detail_ = detail;
    }
    if (!quiet_ && line_.enabled()) {
        line_.show(text());
    }
}

void AnalyseProgress::say(const std::string& message) {
    if (quiet_) {
        return;
    }
    line_.clear();
    err_ << "analyse: " << message << "\n";
}

std::string AnalyseProgress::text() {
    // The time left counts down within a stage.
    const std::lock_guard<std::mutex> hold(mutex_);
    const double left = std::max(0.0, eta_ - static_cast<double>(steadyNow() - began_) * 1e-9);
    return "analyse: " + what_ + (detail_.empty() ? "" : "  " + detail_) + "  ETA " +
           formatElapsed(left);
}

AnalyseHooks AnalyseProgress::hooks() {
    const auto place = [](int index, int count) {
        return "[" + std::to_string(index) + "/" + std::to_string(count) + "] ";
    };
    AnalyseHooks h;
    h.begin = [this, place](const std::string& label, int index, int count, double eta) {
        begin(place(index, count) + label, eta);
    };
    h.done = [this, place](const std::string& label, int index, int count, double seconds) {
        say(place(index, count) + label + ": done in " + formatElapsed(seconds));
    };
    h.skipped = [this, place](const std::string& label, int index, int count) {
        say(place(index, count) + label + ": done before, skipped");
    };
    h.detail = [this](const std::string& text) { detail(text); };
    return h;
}

std::string estimateLine(const std::vector<int>& models, const char* effort,
                         const AnalyseEstimate& estimate) {
    std::ostringstream line;
    line << "estimate for " << models.size() << " model" << (models.size() == 1 ? "" : "s")
         << " at " << effort << " effort: about " << roughDuration(estimate.cpuSeconds)
         << " of CPU time, " << roughDuration(estimate.wallSeconds)
         << " of wall time at the machine's present load (from timed evaluations; one near "
            "the best point ";
    for (std::size_t i = 0; i < models.size(); i++) {
        line << (i == 0 ? "" : ", ") << modelName(models[i]) << " "
             << formatNumber(estimate.evaluationMilliseconds[i], 2) << " ms";
    }
    line << "; stages already done are skipped)";
    return line.str();
}
