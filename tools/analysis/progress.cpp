#include "tools/analysis/progress.h"

#include "tools/formats/cli.h"

#include <cstdio>
#include <unistd.h>
#include <utility>

void StatusLine::show(const std::string& text) {
    if (!enabled_) {
        return;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    out_ << "\r" << text << "\033[K" << std::flush;
    shown_ = true;
}

void StatusLine::clear() {
    if (!enabled_) {
        return;
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    if (shown_) {
        out_ << "\r\033[K" << std::flush;
        shown_ = false;
    }
}

std::streamsize StatusLine::clearAndWrite(std::streambuf* target, const char* text,
                                          std::streamsize count) {
    if (!enabled_) {
        return target->sputn(text, count);
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    if (shown_) {
        out_ << "\r\033[K" << std::flush;
        shown_ = false;
    }
    const std::streamsize written = target->sputn(text, count);
    target->pubsync();
    return written;
}

bool progressWanted(bool quiet, int fd) {
    return !quiet && isatty(fd) != 0;
}

std::int64_t steadyNow() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void recordCall(FitProgress& progress, int stage, int cycle, int call, double temperature,
                bool converged) {
    progress.converged = converged;
    progress.stage = stage;
    progress.cycle = cycle;
    progress.call = call;
    progress.temperature = temperature;
}

void markStarted(FitProgress& progress) {
    progress.startedNs = steadyNow();
    progress.state = FitProgress::running;
}

void markFinished(FitProgress& progress, bool succeeded) {
    progress.endedNs = steadyNow();
    progress.state = succeeded ? FitProgress::done : FitProgress::failed;
}

double elapsedSeconds(const FitProgress& progress) {
    const int state = progress.state;
    if (state == FitProgress::waiting) {
        return 0.0;
    }
    const std::int64_t end = state == FitProgress::running ? steadyNow() : progress.endedNs.load();
    return static_cast<double>(end - progress.startedNs) * 1e-9;
}

std::string formatElapsed(double seconds) {
    const long total = seconds > 0.0 ? static_cast<long>(seconds) : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    return text;
}

long remainingEvaluations(const FitProgress& progress) {
    const int stage = progress.stage;
    const int cycle = progress.cycle;
    // Annealers before the one of the last call: stage 1 is the first, then 3, 1 and 5.
    const int before[] = {0, 0, 1, 4, 5};
    if (stage < 1 || stage > 4) {
        return -1;
    }
    const int finished = before[stage] + cycle - 1 + (progress.converged ? 1 : 0);
    if (finished == 0) {
        return -1;
    }
    const long evaluations = progress.evaluations;
    return evaluations / finished * (10 - finished);
}

std::string progressText(const FitProgress& progress, bool estimate) {
    std::string text;
    if (progress.stage == 0) {
        text = "stage 1 cycle 1 call 1";
    } else {
        text = "stage " + std::to_string(progress.stage.load()) + " cycle " +
               std::to_string(progress.cycle.load()) + " call " +
               std::to_string(progress.call.load()) + "  T " +
               formatNumber(progress.temperature, 4);
    }
    const double best = progress.best;
    text += "  evaluations " + std::to_string(progress.evaluations.load()) + "  best " +
            (best == std::numeric_limits<double>::infinity() ? std::string("-")
                                                             : formatNumber(best, 8)) +
            "  " + formatElapsed(elapsedSeconds(progress));
    const long remaining = estimate ? remainingEvaluations(progress) : -1;
    if (remaining >= 0) {
        text += "  ~" + std::to_string(remaining) + " to come";
    }
    return text;
}

FitObjective countingObjective(FitObjective target, FitProgress* progress) {
    return [target = std::move(target), progress](const NRvector<double>& x) {
        const double value = target(x);
        if (progress != nullptr) {
            progress->evaluations.fetch_add(1, std::memory_order_relaxed);
            // Only this thread writes `best`, so a plain compare and store is enough.
            if (value < progress->best.load(std::memory_order_relaxed)) {
                progress->best.store(value, std::memory_order_relaxed);
            }
        }
        return value;
    };
}

int ClearingBuffer::overflow(int c) {
    if (c == traits_type::eof()) {
        return traits_type::not_eof(c);
    }
    const char one = static_cast<char>(c);
    return line_.clearAndWrite(target_, &one, 1) == 1 ? c : traits_type::eof();
}

std::streamsize ClearingBuffer::xsputn(const char* text, std::streamsize count) {
    return line_.clearAndWrite(target_, text, count);
}

int ClearingBuffer::sync() {
    return target_->pubsync();
}

ProgressTicker::ProgressTicker(StatusLine& line, std::function<std::string()> render)
    : line_(line), render_(std::move(render)) {
    if (!line_.enabled()) {
        return;
    }
    // The first line is drawn at once, so that even a short run shows it.
    line_.show(render_());
    thread_ = std::thread([this] {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            wake_.wait_for(lock, std::chrono::milliseconds(500));
            if (!stopping_) {
                line_.show(render_());
            }
        }
    });
}

ProgressTicker::~ProgressTicker() {
    stop();
}

void ProgressTicker::stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
    line_.clear();
}

bool plainProgressWanted(bool quiet, int fd) {
    return !quiet && isatty(fd) == 0;
}

PlainProgress::PlainProgress(std::ostream& out, bool enabled, std::function<std::string()> render,
                             std::chrono::milliseconds interval)
    : out_(out), enabled_(enabled), render_(std::move(render)), interval_(interval),
      last_(std::chrono::steady_clock::now()) {
    if (!enabled_) {
        return;
    }
    thread_ = std::thread([this] {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            // Woken by a poke, the deadline moves on; only a quiet interval writes a line here.
            if (!wake_.wait_until(lock, last_ + interval_, [this] { return stopping_; }) &&
                std::chrono::steady_clock::now() >= last_ + interval_) {
                writeLine();
            }
        }
    });
}

PlainProgress::~PlainProgress() {
    stop();
}

void PlainProgress::writeLine() {
    out_ << "progress: " << render_() << "\n" << std::flush;
    last_ = std::chrono::steady_clock::now();
}

void PlainProgress::poke() {
    if (!enabled_) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        writeLine();
    }
    wake_.notify_all();
}

void PlainProgress::stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}
