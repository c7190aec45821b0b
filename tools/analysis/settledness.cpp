#include "tools/analysis/settledness.h"

#include "population/simulation_report.h"
#include "tools/analysis/point_evaluation.h"
#include "tools/formats/cli.h"

#include <cmath>
#include <limits>

double shrinkFactor(const std::vector<double>& changes, int window) {
    std::vector<double> xs;
    std::vector<double> ys;
    for (std::size_t k = changes.size(); k-- > 0 && static_cast<int>(xs.size()) < window;) {
        const double c = changes[k];
        if (c > 0.0 && std::isfinite(c)) {
            xs.push_back(static_cast<double>(k));
            ys.push_back(std::log(c));
        }
    }
    const std::size_t n = xs.size();
    if (n < 3) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    double mx = 0.0;
    double my = 0.0;
    for (std::size_t i = 0; i < n; i++) {
        mx += xs[i];
        my += ys[i];
    }
    mx /= static_cast<double>(n);
    my /= static_cast<double>(n);
    double sxy = 0.0;
    double sxx = 0.0;
    for (std::size_t i = 0; i < n; i++) {
        sxy += (xs[i] - mx) * (ys[i] - my);
        sxx += (xs[i] - mx) * (xs[i] - mx);
    }
    return std::exp(sxy / sxx);
}

double remainingDistance(double lambda, double tolerance) {
    if (std::isnan(lambda)) {
        return lambda;
    }
    if (lambda >= 1.0) {
        return std::numeric_limits<double>::infinity();
    }
    return tolerance * lambda / (1.0 - lambda);
}

Settledness measureSettledness(const DataContext& data, const ModelEntry& model,
                               const std::vector<double>& point, std::ostream* diagnostics) {
    Settledness s;
    SimulationReport report;
    report.keepChanges = true;
    std::string unused;
    evaluateRecorded(data, model, point, report, s.value, unused, diagnostics);
    s.generations = report.runs > 0 ? report.generations : 0;
    s.converged = report.runs > 0 && report.converged;
    s.lambda = shrinkFactor(report.recentChanges);
    s.remaining = remainingDistance(s.lambda);
    for (std::size_t j = 0; j < point.size() && s.cliff.empty(); j++) {
        const double step = point[j] != 0.0 ? std::fabs(point[j]) * cliffStep : cliffStep;
        for (double sign : {1.0, -1.0}) {
            std::vector<double> moved = point;
            moved[j] += sign * step;
            const double change = objectiveAt(data, model, moved, diagnostics) - s.value;
            // A jump to a penalty or a broken simulation is a cliff as well.
            if (!(std::fabs(change) <= cliffHeight)) {
                s.cliff = model.parameters[j].name;
                s.cliffChange = change;
                break;
            }
        }
    }
    return s;
}

std::string settlednessText(const Settledness& s) {
    if (s.generations == 0) {
        return "not simulated (a penalty)";
    }
    std::string text = std::to_string(s.generations) + " generations" +
                       (s.converged ? "" : " (cap reached)") + ", lambda " +
                       (std::isnan(s.lambda) ? std::string("-") : formatNumber(s.lambda, 4)) +
                       ", remaining " +
                       (std::isnan(s.remaining) ? std::string("-") : formatNumber(s.remaining, 2));
    if (!s.cliff.empty()) {
        text += ", cliff at " + s.cliff + " (" + formatNumber(s.cliffChange, 3) + ")";
    }
    return text;
}

std::string singleStartWarning(const ModelEntry& model, int starts) {
    if (starts > 1) {
        return "";
    }
    return "warning: the best value of model " + std::to_string(model.number) + " (" + model.name +
           ") was reached from only one start; another start may find a better " +
           "optimum (see zonetool explore)";
}

std::string unconfirmedWarning(const ModelEntry& model, int confirmed) {
    if (confirmed >= 2) {
        return "";
    }
    return "warning: the best value of model " + std::to_string(model.number) + " (" + model.name +
           ") is unconfirmed: no two searches agree on it (" + std::to_string(confirmed) +
           " reached it); more searches or a larger budget may find a better optimum";
}
