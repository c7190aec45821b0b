// Where the simulation and the objectives write their diagnostic lines.
#pragma once

#include <ostream>

// The diagnostic stream of this thread: standard output unless a tool has redirected it (for
// example a fit running on a worker thread that keeps its own log).
std::ostream& diagnostics();

// Redirects this thread's diagnostics to `stream` (not owned; null restores standard output).
void setDiagnostics(std::ostream* stream);
