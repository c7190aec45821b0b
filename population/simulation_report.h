// A per-thread record of the latest simulation, for tools that report generation counts.
#pragma once

// What the latest call of a simulate function on this thread did.
struct SimulationReport {
    int runs = 0;            // simulate calls since the record was installed
    int generations = 0;     // generations run by the latest call
    bool converged = false;  // whether the latest call stopped before the generation cap
};

// The record that simulate functions on this thread update, or null (the default) for none.
// The caller owns the record and must uninstall it (set null) before it goes away.
SimulationReport*& simulationReport();

// Records one finished simulation in the installed record, if any.
void recordSimulation(int generations, bool converged);
