#include "tools/point_evaluation.h"

#include "data/failure_sink.h"

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
