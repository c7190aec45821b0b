#include "tools/analysis/summary.h"

#include "data/borders.h"
#include "data/builtin_transect.h"
#include "models/cspace.h"
#include "models/settled_objective.h"
#include "population/simulation_report.h"
#include "tools/analysis/cline.h"
#include "tools/analysis/failed_fit.h"
#include "tools/analysis/point_evaluation.h"
#include "tools/formats/transect_axes.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();

// Region of a kernel-model site by its position against the model's border positions.
int positionRegion(double x, const std::vector<double>& borders) {
    int region = 0;
    for (double b : borders) {
        if (x >= b) {
            region++;
        }
    }
    return region;
}

// Where a model's selection regions come from. C_1's contact only splits the start of the
// run: every deme has the one selection.
BorderSource selectionBorders(const ModelEntry& model) {
    return model.number == 7 ? BorderSource::none : model.borders;
}

} // namespace

const char* axisName(const FitSummary& summary) {
    return summary.positionAxis ? "position" : "summed distance";
}

std::vector<int> siteRegions(const Transect& transect, const ModelEntry& model,
                             const std::vector<double>& point, const int fileBorders[2]) {
    std::vector<int> regions(transect.siteCount(), 0);
    switch (selectionBorders(model)) {
    case BorderSource::none:
        break;
    case BorderSource::demeParameter: {
        const int border =
            static_cast<int>(point[static_cast<std::size_t>(model.borderParameters[0])]);
        for (int i = 0; i < transect.siteCount(); i++) {
            regions[static_cast<std::size_t>(i)] = i < border ? 0 : 1;
        }
        break;
    }
    case BorderSource::borderFile:
        for (int i = 0; i < transect.siteCount(); i++) {
            regions[static_cast<std::size_t>(i)] = detectRegion(i, fileBorders[0], fileBorders[1]);
        }
        break;
    case BorderSource::positionParameters: {
        std::vector<double> borders;
        for (int index : model.borderParameters) {
            if (index >= 0) {
                borders.push_back(point[static_cast<std::size_t>(index)]);
            }
        }
        for (int i = 0; i < transect.siteCount(); i++) {
            regions[static_cast<std::size_t>(i)] = positionRegion(transect.positions[i], borders);
        }
        break;
    }
    }
    return regions;
}

FitSummary summariseFit(const Transect& transect, const ModelEntry& model,
                        const std::vector<double>& point, const std::vector<Genotype>& predictions,
                        const int fileBorders[2]) {
    FitSummary summary;
    summary.positionAxis = model.geometry == Geometry::kernelGrid;
    summary.centre = notANumber;
    summary.width = notANumber;
    summary.sigma = notANumber;
    summary.sigmaEffective = notANumber;
    const int sigmaAt = findParameter(model, "sigma");
    if (sigmaAt >= 0 && static_cast<std::size_t>(sigmaAt) < point.size()) {
        summary.sigma = point[static_cast<std::size_t>(sigmaAt)];
        int gridIntervals = 0;
        int halfPoints = 0;
        if (kernelSettingsOf(model.number, gridIntervals, halfPoints) && summary.sigma > 0.0) {
            const Kernel kernel =
                buildKernel(summary.sigma, gridSpacing(transect, gridIntervals), halfPoints);
            summary.sigmaEffective = kernelStandardDeviation(kernel.points, kernel.weights);
        }
    }
    if (predictions.size() != static_cast<std::size_t>(transect.siteCount())) {
        return summary;
    }
    summary.predicted = true;
    const std::vector<double> x = sitePositionsFor(transect, model);
    std::vector<double> p;
    for (const Genotype& g : predictions) {
        p.push_back(alleleFrequency(g));
    }
    const ClineShape shape = clineShape(x, p);
    summary.centre = shape.centre;
    summary.width = shape.width;

    const std::vector<int> regions = siteRegions(transect, model, point, fileBorders);
    const int regionCount = *std::max_element(regions.begin(), regions.end()) + 1;
    const int declared = selectionBorders(model) == BorderSource::none  ? 1
                         : model.borders == BorderSource::demeParameter ? 2
                         : model.borders == BorderSource::borderFile    ? 3
                         : model.borderParameters[1] >= 0               ? 3
                                                                        : 2;
    for (int r = 0; r < std::max(regionCount, declared); r++) {
        std::vector<Genotype> inRegion;
        std::vector<double> weights;
        for (int i = 0; i < transect.siteCount(); i++) {
            if (regions[static_cast<std::size_t>(i)] == r) {
                inRegion.push_back(predictions[static_cast<std::size_t>(i)]);
                weights.push_back(transect.countSS[i] + transect.countSI[i] + transect.countII[i]);
            }
        }
        summary.deficit.push_back(heterozygoteDeficit(inRegion, weights));
    }
    return summary;
}

FitSummary summariseStoredFit(const DataContext& data, const ModelEntry& model,
                              const std::vector<double>& point, const int fileBorders[2],
                              ObjectiveKind objective, std::ostream* diagnostics) {
    SettledReport state;
    double value = 0.0;
    FitSummary summary = summariseFit(
        data.data(), model, point,
        predictAt(data, model, point, objective, &state, &value, diagnostics), fileBorders);
    summary.objective = objective;
    summary.value = value;
    if (objective == ObjectiveKind::settled && model.objective != nullptr) {
        summary.state = state;
    }
    if (model.objective != nullptr) {
        // The neighbours' runs may hit the generation cap; their diagnostics would only
        // repeat the point's, and would break a table or JSON on standard output.
        std::ostream discard(nullptr);
        summary.settled = measureSettledness(data, model, point, &discard);
    }
    return summary;
}

Json summaryJson(const FitSummary& s) {
    Json j = {{"axis", axisName(s)}, {"centre", s.centre}, {"width", s.width},
              {"F_IS", s.deficit},   {"sigma", s.sigma},   {"sigma_eff", s.sigmaEffective}};
    if (s.settled) {
        const Settledness& t = *s.settled;
        j["generations"] = t.generations;
        j["cap_reached"] = t.generations > 0 && !t.converged;
        j["lambda"] = t.lambda;
        j["remaining"] = t.remaining;
        j["cliff"] = t.cliff.empty() ? Json(nullptr) : Json(t.cliff);
    }
    if (s.state) {
        j["state"] = stateKindText(s.state->kind);
        j["state_generations"] = s.state->generations;
        j["last_change"] = s.state->lastChange;
    }
    return j;
}

std::vector<const LoadedFit*> bestFits(const std::vector<LoadedFit>& fits) {
    std::vector<const LoadedFit*> best;
    for (const LoadedFit& fit : fits) {
        auto same = std::find_if(best.begin(), best.end(), [&](const LoadedFit* b) {
            return b->result.model == fit.result.model;
        });
        if (same == best.end()) {
            best.push_back(&fit);
        } else if (fit.result.value < (*same)->result.value) {
            *same = &fit;
        }
    }
    std::stable_sort(best.begin(), best.end(), [](const LoadedFit* a, const LoadedFit* b) {
        return a->result.model < b->result.model;
    });
    return best;
}

bool loadFits(const RunContext& ctx, const std::string& command,
              const std::vector<std::string>& dirs, bool recursive, std::vector<LoadedFit>& fits,
              ObjectiveKind withoutRecord) {
    std::ostream& err = *ctx.err;
    std::vector<FoundResult> found;
    std::vector<std::string> problems;
    const bool listed = findResultFiles(dirs, recursive, found, problems);
    for (const std::string& problem : problems) {
        err << "zonetool " << command << ": " << problem << "\n";
    }
    if (!listed) {
        return false;
    }
    int failed = 0;
    for (const FoundResult& file : found) {
        LoadedFit fit;
        std::string error;
        std::vector<std::string> warnings;
        const bool loaded = loadFit(ctx.data, file.path, *findModel(file.model), false, fit, error,
                                    warnings, withoutRecord, ctx.err);
        for (const std::string& warning : warnings) {
            err << "zonetool " << command << ": " << warning << "\n";
        }
        if (!loaded) {
            err << "zonetool " << command << ": skipped " << error << "\n";
            continue;
        }
        // A penalty is no -lnL: ranked or summarised, it would stand as a fit.
        if (failedFitValue(ctx.data, *findModel(file.model), fit.result.value)) {
            err << "zonetool " << command
                << ": warning: " << failedFitText(file.path, fit.result.value)
                << "; it is left out\n";
            failed++;
            continue;
        }
        if (!fit.result.seed) {
            fit.result.seed = file.seed;
        }
        fits.push_back(fit);
    }
    if (fits.empty()) {
        std::string where;
        for (std::size_t i = 0; i < dirs.size(); i++) {
            where += (i == 0 ? "" : ", ") + dirs[i];
        }
        err << "zonetool " << command << ": no " << (failed > 0 ? "usable fit" : "result files")
            << " in " << where << "\n";
        return false;
    }
    return true;
}

std::vector<Genotype> predictAt(const DataContext& data, const ModelEntry& model,
                                const std::vector<double>& point, ObjectiveKind objective,
                                SettledReport* state, double* value, std::ostream* diagnostics) {
    if (model.objective == nullptr) {
        return {};
    }
    SimulationReport report;
    report.keepPredictions = true;
    NRvector<double> x(static_cast<int>(point.size()));
    for (std::size_t j = 0; j < point.size(); j++) {
        x[static_cast<int>(j)] = point[j];
    }
    SimulationContext simulation;
    simulation.report = &report;
    simulation.diagnostics = diagnostics;
    const double atPoint =
        evaluateModel(data.models(nullptr, simulation), model, x, objective, state);
    if (value != nullptr) {
        *value = atPoint;
    }
    return report.runs > 0 ? report.predictions : std::vector<Genotype>();
}

bool bordersFor(const Transect& transect, const ModelEntry& model, int fileBorders[2],
                std::string& error) {
    fileBorders[0] = 0;
    fileBorders[1] = 0;
    if (model.borders != BorderSource::borderFile) {
        return true;
    }
    Borders borders;
    if (!readBorders(borderFileName, transect.siteCount(), borders, error)) {
        return false;
    }
    fileBorders[0] = borders.border1;
    fileBorders[1] = borders.border2;
    return true;
}
