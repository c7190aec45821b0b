#include "population/simulation_report.h"

#include <cmath>
#include <limits>

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

void recordPredictions(const std::vector<Genotype>& predicted) {
    SimulationReport* report = simulationReport();
    if (report != nullptr && report->keepPredictions) {
        report->predictions = predicted;
    }
}

ChangeWatch::ChangeWatch(std::size_t demes) : report(simulationReport()) {
    if (report != nullptr && !report->keepChanges) {
        report = nullptr;
    }
    if (report != nullptr) {
        report->recentChanges.clear();
        report->recentChanges.reserve(recentChangeCount);
        saved.resize(3 * demes);
    }
}

void ChangeWatch::before(const double* SS, const double* SI, const double* II) {
    if (report == nullptr) {
        return;
    }
    const std::size_t n = saved.size() / 3;
    for (std::size_t i = 0; i < n; ++i) {
        saved[3 * i] = SS[i];
        saved[3 * i + 1] = SI[i];
        saved[3 * i + 2] = II[i];
    }
}

void ChangeWatch::before(const std::vector<Population>& row) {
    if (report == nullptr) {
        return;
    }
    for (std::size_t i = 0; i < row.size() && 3 * i < saved.size(); ++i) {
        saved[3 * i] = row[i].larvae.SS;
        saved[3 * i + 1] = row[i].larvae.SI;
        saved[3 * i + 2] = row[i].larvae.II;
    }
}

namespace {

// The larger of `largest` and |a - b|; a change that is not a number counts as infinite, so
// that a run that broke down never looks settled.
double widen(double largest, double a, double b) {
    const double change = std::fabs(a - b);
    if (!(change <= largest)) {
        return change == change ? change : std::numeric_limits<double>::infinity();
    }
    return largest;
}

} // namespace

void ChangeWatch::after(const double* SS, const double* SI, const double* II) {
    if (report == nullptr) {
        return;
    }
    double largest = 0.0;
    const std::size_t n = saved.size() / 3;
    for (std::size_t i = 0; i < n; ++i) {
        largest = widen(largest, SS[i], saved[3 * i]);
        largest = widen(largest, SI[i], saved[3 * i + 1]);
        largest = widen(largest, II[i], saved[3 * i + 2]);
    }
    record(largest);
}

void ChangeWatch::after(const std::vector<Population>& row) {
    if (report == nullptr) {
        return;
    }
    double largest = 0.0;
    for (std::size_t i = 0; i < row.size() && 3 * i < saved.size(); ++i) {
        largest = widen(largest, row[i].larvae.SS, saved[3 * i]);
        largest = widen(largest, row[i].larvae.SI, saved[3 * i + 1]);
        largest = widen(largest, row[i].larvae.II, saved[3 * i + 2]);
    }
    record(largest);
}

void ChangeWatch::record(double largest) {
    std::vector<double>& changes = report->recentChanges;
    if (changes.size() == recentChangeCount) {
        changes.erase(changes.begin());
    }
    changes.push_back(largest);
}
