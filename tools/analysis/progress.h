// Live progress on a terminal: one line on standard error, redrawn in place.
#pragma once

#include "driver/schedule.h"
#include "models/settled_objective.h"
#include "optimiser/nr3.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <thread>

// One line of text that is redrawn in place ("\r", the text, erase to the end of the line).
// Does nothing when disabled, so callers need not ask whether the stream is a terminal.
// Safe to use from several threads.
class StatusLine {
  public:
    StatusLine(std::ostream& out, bool enabled) : out_(out), enabled_(enabled) {}
    ~StatusLine() { clear(); }
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    bool enabled() const { return enabled_; }
    void show(const std::string& text);
    // Erases the line, leaving the cursor at its start.
    void clear();
    // Erases the line and writes `text` to `target` while no redraw can come between.
    std::streamsize clearAndWrite(std::streambuf* target, const char* text, std::streamsize count);

  private:
    std::mutex mutex_;
    std::ostream& out_;
    const bool enabled_;
    bool shown_ = false;
};

// Whether progress is wanted: never with --quiet, otherwise only when the stream with file
// descriptor `fd` is a terminal.
bool progressWanted(bool quiet, int fd);

// The live state of one fit: written by the fit's thread, read by the display.
struct FitProgress {
    enum State { waiting, running, done, failed };
    std::atomic<int> state{waiting};
    std::atomic<long> evaluations{0};
    std::atomic<double> best{std::numeric_limits<double>::infinity()};
    std::atomic<int> stage{0}; // of the last finished anneal call; 0 before the first
    std::atomic<int> cycle{0};
    std::atomic<int> call{0};
    std::atomic<double> temperature{0.0};
    std::atomic<bool> converged{false};     // what that call returned
    std::atomic<std::int64_t> startedNs{0}; // steady-clock time when the fit began
    std::atomic<std::int64_t> endedNs{0};   // and when it ended
};

// Records one finished anneal call.
void recordCall(FitProgress& progress, int stage, int cycle, int call, double temperature,
                bool converged = false);

// An estimate of the evaluations still to come: the schedule runs ten annealers (stage 1, three
// cycles of stage 2, stage 3, five of stage 4), and each finished one is taken as typical of
// those to come. Negative while no annealer has finished.
long remainingEvaluations(const FitProgress& progress);

// Marks the fit as running from now, or as finished now (done or failed).
void markStarted(FitProgress& progress);
void markFinished(FitProgress& progress, bool succeeded);

// Seconds from the start of the fit to its end, or to now while it runs; 0 before it starts.
double elapsedSeconds(const FitProgress& progress);

// Nanoseconds on the steady clock.
std::int64_t steadyNow();

// Elapsed time as H:MM:SS.
std::string formatElapsed(double seconds);

// The progress text of one fit, as in
// "stage 2 cycle 1 call 4  T 0.5625  evaluations 12345  best 1141.2344  0:01:02"; with
// `estimate`, followed by "  ~98765 to come" once an estimate exists.
std::string progressText(const FitProgress& progress, bool estimate = false);

// An objective that evaluates `target` and records each evaluation and its value in `progress`
// (null: none), which must outlive it. It returns the target's value unchanged, so a fit through
// it is the same fit. Only the thread that runs the objective writes `progress`.
FitObjective countingObjective(FitObjective target, FitProgress* progress);

// A stream buffer that erases the status line before it passes anything on to `target`, so
// that reports written to the same terminal start on a clean line. The bytes are unchanged.
class ClearingBuffer : public std::streambuf {
  public:
    ClearingBuffer(std::streambuf* target, StatusLine& line) : target_(target), line_(line) {}

  protected:
    int overflow(int c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override;

  private:
    std::streambuf* target_;
    StatusLine& line_;
};

// Redraws a StatusLine with the text of `render` twice a second on its own thread, until
// stopped; then erases the line. Does nothing when the line is disabled.
class ProgressTicker {
  public:
    ProgressTicker(StatusLine& line, std::function<std::string()> render);
    ~ProgressTicker();
    ProgressTicker(const ProgressTicker&) = delete;
    ProgressTicker& operator=(const ProgressTicker&) = delete;

    void stop();

  private:
    StatusLine& line_;
    std::function<std::string()> render_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

// Plain progress lines for a stream that is no terminal (a batch job's error file): "progress: "
// and the text of `render`, one line per poke() and one after `interval` without a poke, each
// flushed. Does nothing when disabled. poke() may be called from any thread.
class PlainProgress {
  public:
    PlainProgress(std::ostream& out, bool enabled, std::function<std::string()> render,
                  std::chrono::milliseconds interval = std::chrono::seconds(60));
    ~PlainProgress();
    PlainProgress(const PlainProgress&) = delete;
    PlainProgress& operator=(const PlainProgress&) = delete;

    void poke();
    void stop();

  private:
    void writeLine(); // with mutex_ held

    std::ostream& out_;
    const bool enabled_;
    std::function<std::string()> render_;
    const std::chrono::milliseconds interval_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::chrono::steady_clock::time_point last_;
    std::thread thread_;
};

// Whether plain progress lines are wanted: not with --quiet, and only when the stream with file
// descriptor `fd` is no terminal.
bool plainProgressWanted(bool quiet, int fd);
