#include "tools/commands/summary_command.h"

#include "tools/analysis/summary.h"
#include "tools/formats/cli.h"
#include "tools/formats/json_io.h"
#include "tools/formats/options.h"
#include "tools/formats/state_text.h"
#include "tools/formats/table.h"

#include <cmath>
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
