#include "tools/compare.h"

#include "data/transect.h"
#include "tools/cli.h"
#include "tools/options.h"
#include "tools/table.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <sstream>

const char* const compareHelp =
    "Usage: zonetool compare [DIR] [--format table|tsv|json]\n"
    "\n"
    "Reads every result file in DIR (default: the working directory) - the names zonefit\n"
    "writes, such as SS1_ML_, and the seeded names of 'zonetool fit --seeds', such as\n"
    "SS1_ML_seed3 - and prints one row per fit, sorted by AIC:\n"
    "  model, seed, k (parameters), -lnL, AIC = 2k + 2(-lnL),\n"
    "  AICc = AIC + 2k(k+1)/(n-k-1) with n = 751 sampled individuals,\n"
    "  dAIC (difference to the lowest AIC), Akaike weight,\n"
    "  G = 2(-lnL - -lnL of the saturated model) and its degrees of freedom 2 x 105 - k.\n"
    "The saturated model gives every site its observed genotype frequencies. With samples of\n"
    "1 to 40 per site the chi-square reading of G is rough; compare G between models rather\n"
    "than reading p-values off it. Penalty values (1e5 and more) mean the fit never left the\n"
    "penalty region. Files that cannot be read are reported on standard error and skipped.\n"
    "\n"
    "Options:\n"
    "  --format F   table (default, aligned columns), tsv (tab-separated with a header) or\n"
    "               json (an array of objects; infinite numbers are null)\n";

int sampledIndividuals() {
    int total = 0;
    for (int i = 0; i < siteCount; i++) {
        total += countSS[i] + countSI[i] + countII[i];
    }
    return total;
}

double saturatedNegLogLikelihood() {
    double value = 0.0;
    for (int i = 0; i < siteCount; i++) {
        const double n = static_cast<double>(countSS[i] + countSI[i] + countII[i]);
        for (int count : {countSS[i], countSI[i], countII[i]}) {
            if (count > 0) {
                value -= count * std::log(count / n);
            }
        }
    }
    return value;
}

int saturatedParameters() {
    return 2 * siteCount;
}

std::vector<ComparisonRow> compareResults(const std::vector<StoredResult>& results) {
    const double n = sampledIndividuals();
    const double saturated = saturatedNegLogLikelihood();
    std::vector<ComparisonRow> rows;
    for (const StoredResult& result : results) {
        ComparisonRow row;
        row.result = result;
        row.parameters = findModel(result.model)->parameterCount;
        const double k = row.parameters;
        row.negLogL = result.value;
        row.aic = 2.0 * k + 2.0 * result.value;
        row.aicc = row.aic + 2.0 * k * (k + 1.0) / (n - k - 1.0);
        row.g = 2.0 * (result.value - saturated);
        row.df = saturatedParameters() - row.parameters;
        rows.push_back(row);
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const ComparisonRow& a, const ComparisonRow& b) { return a.aic < b.aic; });
    if (rows.empty()) {
        return rows;
    }
    const double best = rows.front().aic;
    double sum = 0.0;
    for (ComparisonRow& row : rows) {
        // The best row is 0 even when every AIC is infinite.
        row.deltaAic = row.aic == best ? 0.0 : row.aic - best;
        row.weight = std::exp(-row.deltaAic / 2.0);
        sum += row.weight;
    }
    for (ComparisonRow& row : rows) {
        row.weight /= sum;
    }
    return rows;
}

namespace {

const char* const columnNames[] = {"model", "name", "seed",   "k", "-lnL", "AIC",
                                   "AICc",  "dAIC", "weight", "G", "df",   "file"};
constexpr int columnCount = 12;

std::string seedText(const StoredResult& result) {
    return result.seed ? std::to_string(*result.seed) : "-";
}

std::vector<std::string> cells(const ComparisonRow& row) {
    return {std::to_string(row.result.model),
            findModel(row.result.model)->name,
            seedText(row.result),
            std::to_string(row.parameters),
            formatNumber(row.negLogL, 10),
            formatNumber(row.aic, 10),
            formatNumber(row.aicc, 10),
            formatNumber(row.deltaAic, 6),
            formatNumber(row.weight, 4),
            formatNumber(row.g, 8),
            std::to_string(row.df),
            row.result.path};
}

std::string jsonNumber(double value, int digits) {
    return std::isfinite(value) ? formatNumber(value, digits) : "null";
}

std::string jsonString(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string asJson(const std::vector<ComparisonRow>& rows) {
    std::ostringstream out;
    out << "[";
    for (std::size_t i = 0; i < rows.size(); i++) {
        const ComparisonRow& row = rows[i];
        out << (i == 0 ? "\n" : ",\n") << "  {\"model\": " << row.result.model
            << ", \"name\": " << jsonString(findModel(row.result.model)->name)
            << ", \"seed\": " << (row.result.seed ? std::to_string(*row.result.seed) : "null")
            << ", \"k\": " << row.parameters << ", \"negLogL\": " << jsonNumber(row.negLogL, 17)
            << ", \"AIC\": " << jsonNumber(row.aic, 17)
            << ", \"AICc\": " << jsonNumber(row.aicc, 17)
            << ", \"dAIC\": " << jsonNumber(row.deltaAic, 17)
            << ", \"weight\": " << jsonNumber(row.weight, 17)
            << ", \"G\": " << jsonNumber(row.g, 17) << ", \"df\": " << row.df
            << ", \"file\": " << jsonString(row.result.path) << "}";
    }
    out << (rows.empty() ? "]\n" : "\n]\n");
    return out.str();
}

} // namespace

std::string formatComparison(const std::vector<ComparisonRow>& rows, TableFormat format) {
    if (format == TableFormat::json) {
        return asJson(rows);
    }
    // Numbers right-aligned, names and the file left-aligned.
    Table table({Align::right, Align::left, Align::right, Align::right, Align::right, Align::right,
                 Align::right, Align::right, Align::right, Align::right, Align::right,
                 Align::left});
    table.addRow(std::vector<std::string>(columnNames, columnNames + columnCount));
    for (const ComparisonRow& row : rows) {
        table.addRow(cells(row));
    }
    return format == TableFormat::tsv ? table.tabSeparated() : table.aligned();
}

namespace {

// What the compare command line asks for.
struct CompareOptions {
    std::string dir; // the working directory when empty
    TableFormat format = TableFormat::table;
};

int readCompareOptions(const std::vector<std::string>& args, CompareOptions& o) {
    return OptionParser("compare", [] { return std::string(compareHelp); })
        .value({"--format"}, "table, tsv or json",
               storeChoice(o.format,
                           {{"table", TableFormat::table},
                            {"tsv", TableFormat::tsv},
                            {"json", TableFormat::json}},
                           "table, tsv or json"))
        .positional(takeOne(o.dir))
        .parse(args);
}

} // namespace

int compareCommand(const std::vector<std::string>& args) {
    CompareOptions options;
    const int status = readCompareOptions(args, options);
    if (status >= 0) {
        return status;
    }
    std::string& dir = options.dir;
    const TableFormat format = options.format;
    if (dir.empty()) {
        dir = ".";
    }
    std::vector<std::string> problems;
    std::vector<StoredResult> results;
    if (!findResults(dir, results, problems)) {
        std::cerr << "zonetool compare: " << problems.front() << "\n";
        return 1;
    }
    for (const std::string& problem : problems) {
        std::cerr << "zonetool compare: skipped " << problem << "\n";
    }
    if (results.empty()) {
        std::cerr << "zonetool compare: no result files in " << dir << "\n";
        return 1;
    }
    std::cout << formatComparison(compareResults(results), format) << std::flush;
    return 0;
}
