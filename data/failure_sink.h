// Failures that library code meets in the middle of a computation it cannot finish, such as a
// border file that stops reading during a fit. The code reports them to the sink its caller
// passed down and returns; the caller decides what becomes of the run.
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
