#include "tools/analysis/summary.h"

#include "data/borders.h"
#include "data/builtin_transect.h"
#include "models/cspace.h"
#include "models/settled_objective.h"
#include "population/simulation_report.h"
#include "tools/analysis/cline.h"
#include "tools/analysis/failed_fit.h"
#include "tools/analysis/point_evaluation.h"
#include "tools/formats/cli.h"
#include "tools/formats/json_io.h"
#include "tools/formats/options.h"
#include "tools/formats/state_text.h"
#include "tools/formats/table.h"
#include "tools/formats/transect_axes.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <sstream>

const char* const summaryHelp =
    "Usage: zonetool summary [DIR...] [-r] [--format table|tsv|json]\n"
    "                        [--objective settled|zonefit]\n"
    "\n"
    "For the best fit of each model found in DIR... (default: the working directory; -r also\n"
    "searches every directory below), from the predicted genotype frequencies at the sites:\n"
    "  centre     where the allele frequency p = SS + SI/2 crosses 1/2 (linear between sites)\n"
    "  width      1 / the largest slope of p between neighbouring sites\n"
    "  F_IS       heterozygote deficit of each selection region, 1 - sum n Hobs / sum n Hexp\n"
    "             over its sites, Hobs the predicted SI frequency, Hexp = 2p(1-p), n the\n"
    "             site's sample size\n"
    "  sigma      the fitted dispersal scale\n"
    "  sigma_eff  kernel models: the standard deviation of the discrete kernel the model\n"
    "             simulates (its points weighted by density times Simpson weight)\n"
    "and how settled the simulated equilibrium at the fitted point is:\n"
    "  generations  generations the simulation ran; '*' when it stopped at the cap before\n"
    "               no larva frequency moved by 1e-8 in a generation\n"
    "  lambda       factor by which the per-generation change still shrank at the end\n"
    "               (near 1: slow convergence)\n"
    "  remaining    estimated distance still to the equilibrium, 1e-8 lambda / (1 - lambda)\n"
    "  cliff        the first parameter whose move by 1e-6 of its value changes -lnL by more\n"
    "               than 1, or '-'\n"
    "('-' where nothing was simulated or a number cannot be told; json: null, and\n"
    "\"cap_reached\" for the '*').\n"
    "\n"
    "Centre and width are measured along the axis named in the output: the summed distance\n"
    "between neighbouring sites for models 1 to 6 (their demes are the sites), the position\n"
    "on the transect axis for models 7 to 10; both in the unit of sigma. Fits are read and\n"
    "checked as 'zonetool compare' reads them; failed fits (a penalty as value) are left out.\n"
    "\n"
    "Options:\n"
    "  -r           search the directories below DIR... too\n"
    "  --format F   table (default), tsv or json\n"
    "  --objective K  zonefit (default) or settled: whose state the predictions are of;\n"
    "               under settled the table and TSV add the columns objective and state\n"
    "               (the kind of state each point settled in, an unsettled one with its\n"
    "               generations and last change), the JSON \"state\", \"state_generations\"\n"
    "               and \"last_change\"; the JSON rows always carry \"objective\". A fit\n"
    "               recorded under the other objective shows -lnL under K at its point\n"
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable)\n";

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

namespace {

struct SummaryRow {
    const LoadedFit* fit;
    FitSummary summary;
};

std::string deficitText(const FitSummary& s, const char* separator) {
    std::string text;
    for (std::size_t r = 0; r < s.deficit.size(); r++) {
        text += (r == 0 ? "" : separator) + fixedCell(s.deficit[r], 4);
    }
    return text.empty() ? "-" : text;
}

// generations ('*' when the cap stopped the run), lambda, remaining, cliff; "-" for what was
// not measured or cannot be told.
std::vector<std::string> settlednessCells(const std::optional<Settledness>& settled) {
    if (!settled || settled->generations == 0) {
        return {"-", "-", "-", settled && !settled->cliff.empty() ? settled->cliff : "-"};
    }
    const Settledness& t = *settled;
    return {std::to_string(t.generations) + (t.converged ? "" : "*"),
            std::isnan(t.lambda) ? "-" : formatNumber(t.lambda, 6),
            std::isnan(t.remaining) ? "-" : formatNumber(t.remaining, 2),
            t.cliff.empty() ? "-" : t.cliff};
}

// -lnL of a row: the fit's own, or, for a fit of the other objective, the value under
// `objective` at its point.
double shownValue(const SummaryRow& row, ObjectiveKind objective) {
    return row.fit->result.objective == objective ? row.fit->result.value : row.summary.value;
}

std::string formatSummaries(const std::vector<SummaryRow>& rows, const std::string& format,
                            ObjectiveKind objective) {
    std::ostringstream out;
    if (format == "json") {
        Json list = Json::array();
        for (const SummaryRow& row : rows) {
            const LoadedFit& fit = *row.fit;
            Json item = {{"model", fit.result.model},
                         {"name", findModel(fit.result.model)->name},
                         {"seed", fit.result.seed ? Json(*fit.result.seed) : Json(nullptr)},
                         {"negLogL", shownValue(row, objective)},
                         {"objective", objectiveName(objective)}};
            const Json summary = summaryJson(row.summary);
            for (const auto& [key, value] : summary.items()) {
                item[key] = value;
            }
            item["file"] = fit.result.path;
            list.push_back(item);
        }
        return jsonLines(list);
    }
    // zonefit's table is as it always was; under settled two columns name the objective and
    // the state each point settled in.
    const bool settled = objective == ObjectiveKind::settled;
    std::vector<Align> aligns = {Align::right, Align::left,  Align::right, Align::right,
                                 Align::left,  Align::right, Align::right, Align::left,
                                 Align::right, Align::right, Align::right, Align::right,
                                 Align::right, Align::left,  Align::left};
    std::vector<std::string> header = {"model",       "name",   "seed",      "-lnL",  "axis",
                                       "centre",      "width",  "F_IS",      "sigma", "sigma_eff",
                                       "generations", "lambda", "remaining", "cliff", "file"};
    if (settled) {
        aligns.insert(aligns.end() - 1, {Align::left, Align::left});
        header.insert(header.end() - 1, {"objective", "state"});
    }
    Table table(aligns);
    table.addRow(header);
    for (const SummaryRow& row : rows) {
        const LoadedFit& fit = *row.fit;
        const FitSummary& s = row.summary;
        std::vector<std::string> cells = {std::to_string(fit.result.model),
                                          findModel(fit.result.model)->name,
                                          fit.result.seed ? std::to_string(*fit.result.seed) : "-",
                                          fixedCell(shownValue(row, objective), 4),
                                          axisName(s),
                                          fixedCell(s.centre, 3),
                                          fixedCell(s.width, 3),
                                          deficitText(s, format == "tsv" ? "," : " / "),
                                          fixedCell(s.sigma, 4),
                                          fixedCell(s.sigmaEffective, 4)};
        const std::vector<std::string> settledness = settlednessCells(s.settled);
        cells.insert(cells.end(), settledness.begin(), settledness.end());
        if (settled) {
            cells.push_back(objectiveName(objective));
            cells.push_back(s.state ? stateCell(*s.state) : "-");
        }
        cells.push_back(fit.result.path);
        table.addRow(cells);
    }
    return format == "tsv" ? table.tabSeparated() : table.aligned();
}

} // namespace

int summaryCommand(RunContext& ctx, const std::vector<std::string>& args) {
    std::vector<std::string> dirs;
    bool recursive = false;
    std::string format = "table";
    ObjectiveKind objective = ObjectiveKind::zonefit;
    const int status = OptionParser(
                           "summary", [] { return std::string(summaryHelp); }, *ctx.out, *ctx.err)
                           .optionPrefix("-")
                           .flag({"-r"}, [&recursive] { recursive = true; })
                           .value({"--format"}, "table, tsv or json",
                                  storeChoice(format,
                                              {{"table", std::string("table")},
                                               {"tsv", std::string("tsv")},
                                               {"json", std::string("json")}},
                                              "table, tsv or json"))
                           .value({"--objective"}, "a value", storeObjective(objective))
                           .positional([&dirs](const std::string& dir) -> Problem {
                               dirs.push_back(dir);
                               return "";
                           })
                           .parse(args);
    if (status >= 0) {
        return status;
    }
    if (dirs.empty()) {
        dirs.push_back(".");
    }
    std::vector<LoadedFit> fits;
    if (!loadFits(ctx, "summary", dirs, recursive, fits, objective)) {
        return 1;
    }
    std::vector<SummaryRow> rows;
    for (const LoadedFit* fit : bestFits(fits)) {
        const ModelEntry& model = *findModel(fit->result.model);
        int fileBorders[2];
        std::string error;
        if (!bordersFor(ctx.data.data(), model, fileBorders, error)) {
            *ctx.err << "zonetool summary: " << error << "\n";
            return 1;
        }
        // The models' messages about single evaluations would break the table, TSV or JSON.
        rows.push_back({fit, summariseStoredFit(ctx.data, model, fit->result.point, fileBorders,
                                                objective, ctx.err)});
    }
    *ctx.out << formatSummaries(rows, format, objective) << std::flush;
    return 0;
}
