// A per-thread record of the latest simulation, for tools that report generation counts and
// predicted frequencies. Nothing is recorded unless a tool installs a record.
#pragma once

#include "population/change_ring.h"
#include "population/population.h"

#include <vector>

// What the latest evaluation on this thread did.
struct SimulationReport {
    int runs = 0;                      // simulate calls since the record was installed
    int generations = 0;               // generations run by the latest call
    bool converged = false;            // whether the latest call stopped before the cap
    bool keepPredictions = false;      // set by the tool to have predictions copied
    std::vector<Genotype> predictions; // genotype frequencies scored at each site
    bool keepChanges = false;          // set by the tool to have recentChanges filled
    // The largest larva-frequency change (the convergence measure) of each of the last
    // generations of the latest simulate call, at most ChangeRing::capacity (32), oldest first;
    // empty when that call ran no generation. Left as it is while keepChanges is false.
    std::vector<double> recentChanges;
    bool keepDemeAdults = false; // set by the tool to have demeAdults filled
    // The adult frequencies of every deme of the kernel models' grid after the latest
    // simulation, deme 0 first; left as it is by the stepping-stone models, whose demes are the
    // sites of `predictions`.
    std::vector<Genotype> demeAdults;
};

// The record that the simulation and the objectives on this thread update, or null (the
// default) for none. The caller owns the record and must set this back to null before the
// record goes away.
SimulationReport*& simulationReport();

// Installs `report` as this thread's record while it lives, then puts back the one installed
// before. The report must outlive the guard.
class ScopedSimulationReport {
  public:
    explicit ScopedSimulationReport(SimulationReport& report) : previous_(simulationReport()) {
        simulationReport() = &report;
    }
    ~ScopedSimulationReport() { simulationReport() = previous_; }
    ScopedSimulationReport(const ScopedSimulationReport&) = delete;
    ScopedSimulationReport& operator=(const ScopedSimulationReport&) = delete;

  private:
    SimulationReport* previous_;
};

// Records one finished simulation in the installed record, if any.
void recordSimulation(int generations, bool converged);

// The same, and the changes of its last generations when the record keeps them.
void recordSimulation(int generations, bool converged, const ChangeRing& changes);

// Whether a record is installed on this thread and keeps the per-generation changes: the
// simulation fills a ChangeRing only then.
bool changesWanted();

// Copies the frequencies an objective scores at the sites into the installed record, if any
// and if it asks for them.
void recordPredictions(const std::vector<Genotype>& predicted);

// Copies the adults of every deme into the installed record, if any and if it asks for them.
void recordDemeAdults(const std::vector<Population>& demes);
