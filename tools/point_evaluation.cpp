#include "tools/point_evaluation.h"

#include "data/failure_sink.h"
#include "models/settled_objective.h"

namespace {

void copyPoint(const std::vector<double>& point, NRvector<double>& x) {
    for (std::size_t j = 0; j < point.size(); j++) {
        x[static_cast<int>(j)] = point[j];
    }
}

} // namespace

double objectiveAt(const ModelEntry& model, const std::vector<double>& point) {
    NRvector<double> x(static_cast<int>(point.size()));
    copyPoint(point, x);
    return model.objective(x);
}

bool evaluateRecorded(const ModelEntry& model, const std::vector<double>& point,
                      SimulationReport& report, double& value, std::string& error) {
    NRvector<double> x(static_cast<int>(point.size()));
    copyPoint(point, x);
    FailureSink failures;
    {
        const ScopedSimulationReport recording(report);
        const FailureScope failureScope(failures);
        value = model.objective(x);
    }
    if (failures.failed()) {
        error = failures.message();
        return false;
    }
    return true;
}

double objectiveAt(const ModelEntry& model, const std::vector<double>& point, ObjectiveKind kind,
                   SettledReport* settled) {
    if (kind == ObjectiveKind::zonefit) {
        return objectiveAt(model, point);
    }
    NRvector<double> x(static_cast<int>(point.size()));
    copyPoint(point, x);
    return evaluateModel(model, x, kind, settled);
}

bool evaluateRecorded(const ModelEntry& model, const std::vector<double>& point, ObjectiveKind kind,
                      SimulationReport& report, SettledReport& settled, double& value,
                      std::string& error) {
    if (kind == ObjectiveKind::zonefit) {
        return evaluateRecorded(model, point, report, value, error);
    }
    NRvector<double> x(static_cast<int>(point.size()));
    copyPoint(point, x);
    FailureSink failures;
    {
        const ScopedSimulationReport recording(report);
        const FailureScope failureScope(failures);
        value = evaluateModel(model, x, kind, &settled);
    }
    if (failures.failed()) {
        error = failures.message();
        return false;
    }
    return true;
}
