// What one evaluation hands down to the simulate forms besides their arguments: where to record
// the run, where to write diagnostics and the row hook. The caller owns all three; the
// simulation only borrows them for the call.
#pragma once

#include <ostream>

struct RowHook;
struct SimulationReport;

struct SimulationContext {
    SimulationReport* report = nullptr;  // record of the run; null: nothing recorded
    std::ostream* diagnostics = nullptr; // the diagnostic lines; null: standard output
    RowHook* rowHook = nullptr;          // captures or replaces the run; null: none
};
