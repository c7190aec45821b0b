#include "tools/commands/compare_command.h"

#include "tools/analysis/compare.h"
#include "tools/analysis/optima_map.h"
#include "tools/analysis/settledness.h"
#include "tools/analysis/summary.h"
#include "tools/formats/cli.h"
#include "tools/formats/data_option.h"
#include "tools/formats/descriptive_records.h"
#include "tools/formats/fit_record.h"
#include "tools/formats/json_io.h"
#include "tools/formats/options.h"
#include "tools/formats/table.h"

#include <cmath>
#include <sstream>

const char* const compareHelp =
    "Usage: zonetool compare [DIR...] [-r] [--all] [--format table|tsv|json]\n"
    "                        [--objective settled|zonefit]\n"
    "\n"
    "Reads every result file in DIR... (default: the working directory; -r also searches\n"
    "every directory below) - the names zonefit writes, such as SS1_ML_, and the seeded names\n"
    "of 'zonetool fit --seeds', such as SS1_ML_seed3 - checked as every command reads a fit:\n"
    "the fit record RESULT.json when it agrees with RESULT, else RESULT's point evaluated once.\n"
    "The Akaike table has one row per model, its best fit (lowest -lnL), sorted by AIC:\n"
    "  model, seed, k (free parameters: the model's, less those a fit record shows were held\n"
    "  fixed by a step of 0), -lnL, AIC = 2k + 2(-lnL),\n"
    "  AICc = AIC + 2k(k+1)/(n-k-1) with n = 751 sampled individuals,\n"
    "  dAIC and dAICc (differences to the lowest), Akaike weight among the best fits,\n"
    "  G = 2(-lnL - -lnL of the saturated model) and its degrees of freedom 2 x 105 - k.\n"
    "Replicate fits of one model (other seeds, other directories) never share the weights:\n"
    "with --all they are listed below their model's best fit (fit 'other', no weight).\n"
    "The saturated model gives every site its observed genotype frequencies. With samples of\n"
    "1 to 40 per site the chi-square reading of G is rough; compare G between models rather\n"
    "than reading p-values off it. A result whose value is a penalty (the model's penalty\n"
    "unit, 1e5 or 1e6, and more; infinite; not a number) holds a failed fit: it is named in\n"
    "a warning and left out, never ranked. Files that cannot be read are reported on\n"
    "standard error and skipped.\n"
    "Only fits of one objective are ranked together: each record says which its fit\n"
    "minimised (zonefit's own when it does not); the table ends with 'objective: K', the\n"
    "JSON rows carry \"objective\", and the TSV of settled fits starts with '# objective:\n"
    "settled'.\n"
    "\n"
    "Options:\n"
    "  -r           search the directories below DIR... too\n"
    "  --all        list every fit, not only each model's best\n"
    "  --format F   table (default, aligned columns), tsv (tab-separated with a header) or\n"
    "               json (an array of objects with the same fields, numbers at full\n"
    "               precision, infinite ones null; the best fits carry the cline summary of\n"
    "               'zonetool summary')\n"
    "  --objective K  rank only fits of objective K (settled or zonefit; default: that of\n"
    "               the first fit found); result files without a record are evaluated\n"
    "               under K\n"
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable)\n";

namespace {

const char* const columnNames[] = {"model", "name", "seed",  "fit",    "k", "-lnL", "AIC",
                                   "AICc",  "dAIC", "dAICc", "weight", "G", "df",   "file"};
constexpr int columnCount = 14;

std::string seedText(const StoredResult& result) {
    return result.seed ? std::to_string(*result.seed) : "-";
}

std::vector<std::string> cells(const ComparisonRow& row) {
    return {std::to_string(row.result.model),
            findModel(row.result.model)->name,
            seedText(row.result),
            row.best ? "best" : "other",
            std::to_string(row.parameters),
            fixedCell(row.negLogL, 4),
            fixedCell(row.aic, 4),
            fixedCell(row.aicc, 4),
            fixedCell(row.deltaAic, 4),
            fixedCell(row.deltaAicc, 4),
            fixedCell(row.weight, 4),
            fixedCell(row.g, 4),
            std::to_string(row.df),
            row.result.path};
}

std::string asJson(const std::vector<ComparisonRow>& rows, const std::vector<Json>& summaries) {
    Json list = Json::array();
    for (std::size_t i = 0; i < rows.size(); i++) {
        const ComparisonRow& row = rows[i];
        Json item = {{"model", row.result.model},
                     {"name", findModel(row.result.model)->name},
                     {"seed", row.result.seed ? Json(*row.result.seed) : Json(nullptr)},
                     {"fit", row.best ? "best" : "other"},
                     {"k", row.parameters},
                     {"negLogL", row.negLogL},
                     {"AIC", row.aic},
                     {"AICc", row.aicc},
                     {"dAIC", row.deltaAic},
                     {"dAICc", row.deltaAicc},
                     {"weight", row.weight},
                     {"G", row.g},
                     {"df", row.df},
                     {"objective", objectiveName(row.result.objective)},
                     {"file", row.result.path}};
        if (i < summaries.size() && !summaries[i].is_null()) {
            item["summary"] = summaries[i];
        }
        list.push_back(item);
    }
    return jsonLines(list);
}

} // namespace

std::string formatComparison(const std::vector<ComparisonRow>& allRows, TableFormat format,
                             bool all, const std::vector<Json>& summaries) {
    std::vector<ComparisonRow> rows;
    std::vector<Json> extra;
    std::size_t left = 0;
    for (std::size_t i = 0; i < allRows.size(); i++) {
        if (all || allRows[i].best) {
            rows.push_back(allRows[i]);
            extra.push_back(i < summaries.size() ? summaries[i] : Json(nullptr));
        } else {
            left++;
        }
    }
    if (format == TableFormat::json) {
        return asJson(rows, extra);
    }
    // Numbers right-aligned, words and the file left-aligned.
    std::vector<Align> aligns(columnCount, Align::right);
    aligns[1] = aligns[3] = aligns[columnCount - 1] = Align::left;
    Table table(aligns);
    table.addRow(std::vector<std::string>(columnNames, columnNames + columnCount));
    for (const ComparisonRow& row : rows) {
        table.addRow(cells(row));
    }
    // zonefit's TSV stays as it was; one of settled fits says so in a comment line first.
    const ObjectiveKind objective =
        rows.empty() ? ObjectiveKind::zonefit : rows.front().result.objective;
    if (format == TableFormat::tsv) {
        return (objective == ObjectiveKind::zonefit
                    ? std::string()
                    : std::string("# objective: ") + objectiveName(objective) + "\n") +
               table.tabSeparated();
    }
    std::ostringstream out;
    out << table.aligned() << "objective: " << objectiveName(objective) << "\n";
    if (left > 0) {
        out << left << (left == 1 ? " other fit" : " other fits")
            << " of these models not shown (--all lists them)\n";
    }
    return out.str();
}

namespace {

// What the compare command line asks for.
struct CompareOptions {
    std::vector<std::string> dirs; // the working directory when empty
    bool recursive = false;
    bool all = false;
    TableFormat format = TableFormat::table;
    ObjectiveKind objective = ObjectiveKind::zonefit; // with objectiveGiven: --objective
    bool objectiveGiven = false;
};

int readCompareOptions(const RunContext& ctx, const std::vector<std::string>& args,
                       CompareOptions& o) {
    return OptionParser(
               "compare", [] { return std::string(compareHelp); }, *ctx.out, *ctx.err)
        .optionPrefix("-")
        .flag({"-r"}, [&o] { o.recursive = true; })
        .flag({"--all"}, [&o] { o.all = true; })
        .value({"--format"}, "table, tsv or json",
               storeChoice(o.format,
                           {{"table", TableFormat::table},
                            {"tsv", TableFormat::tsv},
                            {"json", TableFormat::json}},
                           "table, tsv or json"))
        .value({"--objective"}, "a value",
               [&o](const std::string& name, const std::string& value) -> Problem {
                   o.objectiveGiven = true;
                   return storeObjective(o.objective)(name, value);
               })
        .positional([&o](const std::string& dir) -> Problem {
            o.dirs.push_back(dir);
            return "";
        })
        .parse(args);
}

} // namespace

namespace {

// Whether the explore record of the fit's model in the fit's directory (SS1_ML_.explore.json)
// has a best value that two or more of its searches reached, of the fit's objective, within
// mergeValueTolerance of the fit's value. A record that is missing or unreadable confirms
// nothing and is not reported: compare then warns as without it.
bool searchConfirms(const ComparisonRow& row) {
    const ModelEntry& model = *findModel(row.result.model);
    const std::size_t slash = row.result.path.rfind('/');
    const std::string dir =
        slash == std::string::npos ? std::string() : row.result.path.substr(0, slash + 1);
    ExploreMap map;
    std::string error;
    if (!readExploreRecord(dir + model.prefix + ".explore.json", map, error)) {
        return false;
    }
    return map.model == model.number && map.objective == row.result.objective &&
           map.confirmed >= 2 && !map.optima.empty() &&
           std::fabs(map.optima.front().value - row.negLogL) <= mergeValueTolerance;
}

} // namespace

namespace {

// Leaves out, with a warning, the fits of the transect in use whose record names another
// locus than the one in use (--locus, or none): they were fitted to other counts. Fits of
// other transects are left for the refusal below. False, after the message, when none is left.
bool keepFitsOfLocus(const DataContext& inUse, std::ostream& err, std::vector<LoadedFit>& fits) {
    const std::string& checksum = inUse.checksum;
    const std::string& locus = inUse.locus;
    const auto named = [](const std::string& name) {
        return name.empty() ? std::string("no locus") : "locus '" + name + "'";
    };
    std::vector<LoadedFit> kept;
    for (LoadedFit& fit : fits) {
        const bool sameData = (fit.record ? fit.record->dataChecksum : "") == checksum;
        const std::string fitLocus = fit.record ? fit.record->locus : "";
        if (sameData && fitLocus != locus) {
            err << "zonetool compare: warning: " << fit.result.path << " is a fit of "
                << named(fitLocus) << ", not of " << named(locus)
                << "; it is left out (give the fit's --locus)\n";
            continue;
        }
        kept.push_back(std::move(fit));
    }
    fits = std::move(kept);
    if (fits.empty()) {
        err << "zonetool compare: no fit of " << named(locus) << " to compare\n";
        return false;
    }
    return true;
}

} // namespace

namespace {

// The one objective ranked: --objective, else that of the first fit. False, after the message,
// when a fit is of another: values of different objectives are not likelihoods of one kind.
bool oneObjective(std::ostream& err, const CompareOptions& options,
                  const std::vector<LoadedFit>& fits, ObjectiveKind& objective) {
    objective = options.objectiveGiven ? options.objective : fits.front().result.objective;
    for (const LoadedFit& fit : fits) {
        if (fit.result.objective != objective) {
            err << "zonetool compare: " << fit.result.path << " is a fit of the "
                << objectiveName(fit.result.objective) << " objective, not of the "
                << objectiveName(objective) << " objective of "
                << (options.objectiveGiven ? std::string("--objective") : fits.front().result.path)
                << "; fits of different objectives are not ranked together\n";
            return false;
        }
    }
    return true;
}

// AICc and G take n and the saturated model from the transect in use: every fit ranked must
// be a fit of that transect (a result file without a record counts as the built-in one).
// False after the message naming the first that is not.
bool oneTransect(std::ostream& err, const DataContext& inUse, const std::vector<LoadedFit>& fits) {
    const std::string& wanted = inUse.checksum;
    for (const LoadedFit& fit : fits) {
        const std::string checksum = fit.record ? fit.record->dataChecksum : "";
        if (checksum != wanted) {
            err << "zonetool compare: " << fit.result.path << " is a fit of "
                << (checksum.empty() ? std::string("the built-in transect")
                                     : fit.record->data + " (" + checksum + ")")
                << ", not of "
                << (wanted.empty() ? std::string("the built-in transect")
                                   : inUse.path + " (" + wanted + ")")
                << "; fits of different transects are not ranked together (give the "
                   "fit's --data)\n";
            return false;
        }
    }
    return true;
}

// The cline summary of each best fit, for the JSON rows (null for the other fits). False after
// the message when borders.txt is needed and bad.
bool bestFitSummaries(const RunContext& ctx, const std::vector<ComparisonRow>& rows,
                      std::vector<Json>& summaries) {
    summaries.assign(rows.size(), Json());
    for (std::size_t i = 0; i < rows.size(); i++) {
        if (!rows[i].best) {
            continue;
        }
        const ModelEntry& model = *findModel(rows[i].result.model);
        int fileBorders[2];
        std::string error;
        if (!bordersFor(ctx.data.data(), model, fileBorders, error)) {
            *ctx.err << "zonetool compare: " << error << "\n";
            return false;
        }
        const std::vector<double>& point = rows[i].result.point;
        summaries[i] = summaryJson(summariseStoredFit(ctx.data, model, point, fileBorders,
                                                      rows[i].result.objective, ctx.err));
    }
    return true;
}

// One fit at a model's best value is one start that got there: another may do better, unless
// the search beside it confirmed that value. Warns of each such model.
void warnSingleStarts(std::ostream& err, const std::vector<ComparisonRow>& rows) {
    for (const ComparisonRow& best : rows) {
        if (!best.best) {
            continue;
        }
        int reached = 0;
        for (const ComparisonRow& other : rows) {
            if (other.result.model == best.result.model &&
                std::fabs(other.negLogL - best.negLogL) <= mergeValueTolerance) {
                reached++;
            }
        }
        if (reached < 2 && searchConfirms(best)) {
            continue;
        }
        const std::string warning = singleStartWarning(*findModel(best.result.model), reached);
        if (!warning.empty()) {
            err << "zonetool compare: " << warning << "\n";
        }
    }
}

} // namespace

int compareCommand(RunContext& ctx, const std::vector<std::string>& args) {
    CompareOptions options;
    const int status = readCompareOptions(ctx, args, options);
    if (status >= 0) {
        return status;
    }
    std::vector<std::string>& dirs = options.dirs;
    const bool recursive = options.recursive;
    const TableFormat format = options.format;
    if (dirs.empty()) {
        dirs.push_back(".");
    }
    std::vector<LoadedFit> fits;
    ObjectiveKind objective = ObjectiveKind::zonefit;
    if (!loadFits(ctx, "compare", dirs, recursive, fits, options.objective) ||
        !keepFitsOfLocus(ctx.data, *ctx.err, fits) ||
        !oneObjective(*ctx.err, options, fits, objective) ||
        !oneTransect(*ctx.err, ctx.data, fits)) {
        return 1;
    }
    std::vector<StoredResult> results;
    for (const LoadedFit& fit : fits) {
        results.push_back(fit.result);
    }
    const std::vector<ComparisonRow> rows = compareResults(ctx.data.data(), results);
    std::vector<Json> summaries(rows.size());
    if (format == TableFormat::json && !bestFitSummaries(ctx, rows, summaries)) {
        return 1;
    }
    // The descriptive clines of the same data, from their records, below or after the models.
    std::vector<std::string> warnings;
    double lowestAicc = std::nan("");
    for (const ComparisonRow& row : rows) {
        lowestAicc = row.best && !(row.aicc >= lowestAicc) ? row.aicc : lowestAicc;
    }
    const std::vector<DescriptiveRow> descriptive =
        findDescriptiveFits(dirs, recursive, ctx.data.checksum, ctx.data.locus,
                            sampledIndividuals(ctx.data.data()), warnings);
    for (const std::string& warning : warnings) {
        *ctx.err << "zonetool compare: " << warning << "\n";
    }
    const std::string table = formatComparison(rows, format, options.all, summaries);
    *ctx.out << (format == TableFormat::json
                     ? appendToJsonArray(table, descriptiveJsonItems(descriptive, lowestAicc))
                     : table + descriptiveSection(descriptive, lowestAicc, format))
             << std::flush;
    warnSingleStarts(*ctx.err, rows);
    return 0;
}
