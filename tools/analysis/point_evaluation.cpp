#include "tools/analysis/point_evaluation.h"

#include "data/failure_sink.h"
#include "models/settled_objective.h"

namespace {

void copyPoint(const std::vector<double>& point, NRvector<double>& x) {
    for (std::size_t j = 0; j < point.size(); j++) {
        x[static_cast<int>(j)] = point[j];
    }
}

SimulationContext simulationWith(SimulationReport* report, std::ostream* diagnostics) {
    SimulationContext simulation;
    simulation.report = report;
    simulation.diagnostics = diagnostics;
    return simulation;
}

} // namespace

double objectiveAt(const DataContext& data, const ModelEntry& model,
                   const std::vector<double>& point, std::ostream* diagnostics) {
    NRvector<double> x(static_cast<int>(point.size()));
    copyPoint(point, x);
    return model.evaluate(data.models(nullptr, simulationWith(nullptr, diagnostics)), x);
}

bool evaluateRecorded(const DataContext& data, const ModelEntry& model,
                      const std::vector<double>& point, SimulationReport& report, double& value,
                      std::string& error, std::ostream* diagnostics) {
    NRvector<double> x(static_cast<int>(point.size()));
    copyPoint(point, x);
    FailureSink failures;
    value = model.evaluate(data.models(&failures, simulationWith(&report, diagnostics)), x);
    if (failures.failed()) {
        error = failures.message();
        return false;
    }
    return true;
}

double objectiveAt(const DataContext& data, const ModelEntry& model,
                   const std::vector<double>& point, ObjectiveKind kind, SettledReport* settled,
                   std::ostream* diagnostics) {
    if (kind == ObjectiveKind::zonefit) {
        return objectiveAt(data, model, point, diagnostics);
    }
    NRvector<double> x(static_cast<int>(point.size()));
    copyPoint(point, x);
    return evaluateModel(data.models(nullptr, simulationWith(nullptr, diagnostics)), model, x, kind,
                         settled);
}

bool evaluateRecorded(const DataContext& data, const ModelEntry& model,
                      const std::vector<double>& point, ObjectiveKind kind,
                      SimulationReport& report, SettledReport& settled, double& value,
                      std::string& error, std::ostream* diagnostics) {
    if (kind == ObjectiveKind::zonefit) {
        return evaluateRecorded(data, model, point, report, value, error, diagnostics);
    }
    NRvector<double> x(static_cast<int>(point.size()));
    copyPoint(point, x);
    FailureSink failures;
    value = evaluateModel(data.models(&failures, simulationWith(&report, diagnostics)), model, x,
                          kind, &settled);
    if (failures.failed()) {
        error = failures.message();
        return false;
    }
    return true;
}
