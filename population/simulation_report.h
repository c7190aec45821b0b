// A record of the latest simulation, for tools that report generation counts and predicted
// frequencies. Nothing is recorded unless a tool passes a record down (SimulationContext).
#pragma once

#include "population/change_ring.h"
#include "population/population.h"

#include <vector>

// What the latest evaluation that was given the record did.
struct SimulationReport {
    int runs = 0;                      // simulate calls that were given the record
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

// Records one finished simulation in `report`, if not null.
void recordSimulation(SimulationReport* report, int generations, bool converged);

// The same, and the changes of its last generations when the record keeps them.
void recordSimulation(SimulationReport* report, int generations, bool converged,
                      const ChangeRing& changes);

// Whether `report` is not null and keeps the per-generation changes: the simulation fills a
// ChangeRing only then.
bool changesWanted(const SimulationReport* report);

// Copies the frequencies an objective scores at the sites into `report`, if not null and if it
// asks for them.
void recordPredictions(SimulationReport* report, const std::vector<Genotype>& predicted);

// Copies the adults of every deme into `report`, if not null and if it asks for them.
void recordDemeAdults(SimulationReport* report, const std::vector<Population>& demes);
