// Where the simulation and the objectives write their diagnostic lines.
#pragma once

#include <ostream>

// The diagnostic stream of this thread: standard output unless a tool has redirected it (for
// example a fit running on a worker thread that keeps its own log).
std::ostream& diagnostics();

// Redirects this thread's diagnostics to `stream` (not owned; null restores standard output).
// Returns the stream they went to before (null for standard output).
std::ostream* setDiagnostics(std::ostream* stream);

// Redirects this thread's diagnostics to `stream` (null: standard output) while it lives, then
// back to where they went before. The stream must outlive the guard.
class ScopedDiagnostics {
  public:
    explicit ScopedDiagnostics(std::ostream* stream) : previous_(setDiagnostics(stream)) {}
    ~ScopedDiagnostics() { setDiagnostics(previous_); }
    ScopedDiagnostics(const ScopedDiagnostics&) = delete;
    ScopedDiagnostics& operator=(const ScopedDiagnostics&) = delete;

  private:
    std::ostream* previous_;
};
