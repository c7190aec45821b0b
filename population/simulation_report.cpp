#include "population/simulation_report.h"

SimulationReport*& simulationReport() {
    // One record pointer per thread, so that fits on worker threads never see each other's.
    thread_local SimulationReport* report = nullptr;
    return report;
}

void recordSimulation(int generations, bool converged) {
    SimulationReport* report = simulationReport();
    if (report != nullptr) {
        report->runs += 1;
        report->generations = generations;
        report->converged = converged;
    }
}

void recordSimulation(int generations, bool converged, const ChangeRing& changes) {
    recordSimulation(generations, converged);
    SimulationReport* report = simulationReport();
    if (report != nullptr && report->keepChanges) {
        changes.copyOldestFirst(report->recentChanges);
    }
}

bool changesWanted() {
    const SimulationReport* report = simulationReport();
    return report != nullptr && report->keepChanges;
}

void recordPredictions(const std::vector<Genotype>& predicted) {
    SimulationReport* report = simulationReport();
    if (report != nullptr && report->keepPredictions) {
        report->predictions = predicted;
    }
}

void recordDemeAdults(const std::vector<Population>& demes) {
    SimulationReport* report = simulationReport();
    if (report != nullptr && report->keepDemeAdults) {
        report->demeAdults.clear();
        for (const Population& deme : demes) {
            report->demeAdults.push_back(deme.getAdults());
        }
    }
}
