#include "population/simulation_report.h"

void recordSimulation(SimulationReport* report, int generations, bool converged) {
    if (report != nullptr) {
        report->runs += 1;
        report->generations = generations;
        report->converged = converged;
    }
}

void recordSimulation(SimulationReport* report, int generations, bool converged,
                      const ChangeRing& changes) {
    recordSimulation(report, generations, converged);
    if (report != nullptr && report->keepChanges) {
        changes.copyOldestFirst(report->recentChanges);
    }
}

bool changesWanted(const SimulationReport* report) {
    return report != nullptr && report->keepChanges;
}

void recordPredictions(SimulationReport* report, const std::vector<Genotype>& predicted) {
    if (report != nullptr && report->keepPredictions) {
        report->predictions = predicted;
    }
}

void recordDemeAdults(SimulationReport* report, const std::vector<Population>& demes) {
    if (report != nullptr && report->keepDemeAdults) {
        report->demeAdults.clear();
        for (const Population& deme : demes) {
            report->demeAdults.push_back(deme.getAdults());
        }
    }
}
