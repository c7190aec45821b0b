// Failures that library code meets in the middle of a computation it cannot finish, such as a
// border file that stops reading during a fit. The code reports them to the calling thread's
// sink and returns; whoever installed the sink decides what becomes of the run.
#pragma once

#include <string>

// Keeps the first failure reported to it.
class FailureSink {
  public:
    // Keeps `message` (one line, without a line end) unless a failure is already kept.
    void report(const std::string& message);
    // Whether a failure has been reported since the sink was made or cleared.
    bool failed() const { return failed_; }
    // The first message reported; empty when none was.
    const std::string& message() const { return message_; }
    void clear();

  private:
    bool failed_ = false;
    std::string message_;
};

// The sink of the calling thread: the one installed last by a live FailureScope on this
// thread, else a sink the thread owns, which nobody clears.
FailureSink& failureSink();

// Reports `message` to the calling thread's sink.
void reportFailure(const std::string& message);

// Installs `sink` as the calling thread's sink for the guard's lifetime; the previous sink
// comes back when the guard ends. Guards nest; each thread has its own.
class FailureScope {
  public:
    explicit FailureScope(FailureSink& sink);
    ~FailureScope();
    FailureScope(const FailureScope&) = delete;
    FailureScope& operator=(const FailureScope&) = delete;

  private:
    FailureSink* previous_;
};
