// A per-thread record of the latest simulation, for tools that report generation counts and
// predicted frequencies. Nothing is recorded unless a tool installs a record.
#pragma once

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
    // Largest change of any larva frequency in each of the last (up to 32) generations of the
    // latest call, oldest first.
    std::vector<double> recentChanges;
};

// Generations whose largest change a report keeps.
constexpr std::size_t recentChangeCount = 32;

// Watches the larva frequencies of one simulate call, generation by generation, for a report
// that keeps changes; does nothing (and allocates nothing) otherwise. Built once per call,
// before the generation loop.
class ChangeWatch {
  public:
    explicit ChangeWatch(std::size_t demes);
    bool active() const { return report != nullptr; }
    // The larvae before a generation.
    void before(const double* SS, const double* SI, const double* II);
    void before(const std::vector<Population>& row);
    // The larvae after it: records the largest absolute change.
    void after(const double* SS, const double* SI, const double* II);
    void after(const std::vector<Population>& row);

  private:
    void record(double largest);
    SimulationReport* report;
    std::vector<double> saved; // SS, SI, II of every deme
};

// The record that the simulation and the objectives on this thread update, or null (the
// default) for none. The caller owns the record and must set this back to null before the
// record goes away.
SimulationReport*& simulationReport();

// Records one finished simulation in the installed record, if any.
void recordSimulation(int generations, bool converged);

// Copies the frequencies an objective scores at the sites into the installed record, if any
// and if it asks for them.
void recordPredictions(const std::vector<Genotype>& predicted);
