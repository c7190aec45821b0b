#include "tools/analysis/plot_model_lines.h"

#include "data/failure_sink.h"
#include "models/cspace.h"
#include "models/settled_objective.h"
#include "population/simulation_report.h"
#include "tools/formats/transect_axes.h"

std::vector<double> demePositionsFor(const Transect& transect, const ModelEntry& model) {
    int gridIntervals = 0;
    int halfPoints = 0;
    if (model.geometry != Geometry::kernelGrid ||
        !kernelSettingsOf(model.number, gridIntervals, halfPoints)) {
        return summedSiteDistances(transect);
    }
    // The same arithmetic as the grid's own spacing, so deme d lies where the model puts it.
    const double spacing = gridSpacing(transect, gridIntervals);
    std::vector<double> x;
    x.reserve(static_cast<std::size_t>(gridIntervals) + 1);
    for (int d = 0; d <= gridIntervals; d++) {
        x.push_back(d * spacing);
    }
    return x;
}

bool predictForFigure(const DataContext& data, const ModelEntry& model,
                      const std::vector<double>& point, ObjectiveKind kind,
                      ModelPrediction& prediction, std::string& error, std::ostream* diagnostics) {
    NRvector<double> x(static_cast<int>(point.size()));
    for (std::size_t j = 0; j < point.size(); j++) {
        x[static_cast<int>(j)] = point[j];
    }
    SimulationReport report;
    report.keepPredictions = true;
    report.keepDemeAdults = true;
    FailureSink failures;
    SimulationContext simulation;
    simulation.report = &report;
    simulation.diagnostics = diagnostics;
    prediction.value = evaluateModel(data.models(&failures, simulation), model, x, kind);
    if (failures.failed()) {
        error = failures.message();
        return false;
    }
    prediction.sites.clear();
    prediction.lines = ModelLines();
    if (report.runs == 0) {
        return true; // outside the box: nothing was simulated
    }
    prediction.sites = report.predictions;
    const bool grid = model.geometry == Geometry::kernelGrid;
    const std::vector<Genotype>& demes = grid ? report.demeAdults : report.predictions;
    std::vector<double> positions = demePositionsFor(data.data(), model);
    if (positions.size() == demes.size()) {
        prediction.lines.x = positions;
        prediction.lines.genotypes = demes;
    }
    return true;
}
