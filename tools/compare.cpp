#include "tools/compare.h"

#include "data/active_transect.h"
#include "tools/cli.h"
#include "tools/data_option.h"

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
    "  AICc = AIC + 2k(k+1)/(n-k-1) with n the sampled individuals (751 in the built-in set),\n"
    "  dAIC (difference to the lowest AIC), Akaike weight,\n"
    "  G = 2(-lnL - -lnL of the saturated model) and its degrees of freedom 2 x sites - k.\n"
    "The saturated model gives every site its observed genotype frequencies. With samples of\n"
    "1 to 40 per site the chi-square reading of G is rough; compare G between models rather\n"
    "than reading p-values off it. Penalty values (1e5 and more) mean the fit never left the\n"
    "penalty region. Files that cannot be read are reported on standard error and skipped.\n"
    "\n"
    "Options:\n"
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable)\n"
    "  --format F   table (default, aligned columns), tsv (tab-separated with a header) or\n"
    "               json (an array of objects; infinite numbers are null)\n";

int sampledIndividuals() {
    const Transect& t = activeTransect();
    int total = 0;
    for (int i = 0; i < t.siteCount(); i++) {
        total += t.countSS[i] + t.countSI[i] + t.countII[i];
    }
    return total;
}

double saturatedNegLogLikelihood() {
    const Transect& t = activeTransect();
    double value = 0.0;
    for (int i = 0; i < t.siteCount(); i++) {
        const double n = static_cast<double>(t.countSS[i] + t.countSI[i] + t.countII[i]);
        for (int count : {t.countSS[i], t.countSI[i], t.countII[i]}) {
            if (count > 0) {
                value -= count * std::log(count / n);
            }
        }
    }
    return value;
}

int saturatedParameters() {
    return 2 * activeTransect().siteCount();
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
    std::vector<std::vector<std::string>> table;
    table.emplace_back(columnNames, columnNames + columnCount);
    for (const ComparisonRow& row : rows) {
        table.push_back(cells(row));
    }
    std::ostringstream out;
    if (format == TableFormat::tsv) {
        for (const auto& line : table) {
            for (int c = 0; c < columnCount; c++) {
                out << (c == 0 ? "" : "\t") << line[static_cast<std::size_t>(c)];
            }
            out << "\n";
        }
        return out.str();
    }
    std::size_t widths[columnCount] = {};
    for (const auto& line : table) {
        for (int c = 0; c < columnCount; c++) {
            widths[c] = std::max(widths[c], line[static_cast<std::size_t>(c)].size());
        }
    }
    // Numbers right-aligned, names and the file left-aligned; the last column is not padded.
    for (const auto& line : table) {
        std::string text;
        for (int c = 0; c < columnCount; c++) {
            const std::string& cell = line[static_cast<std::size_t>(c)];
            const std::string pad(widths[c] - cell.size(), ' ');
            const bool left = c == 1 || c == columnCount - 1;
            text += (c == 0 ? "" : "  ") +
                    (left ? cell + (c == columnCount - 1 ? "" : pad) : pad + cell);
        }
        out << text << "\n";
    }
    return out.str();
}

int compareCommand(const std::vector<std::string>& givenArgs) {
    DataContext data;
    std::vector<std::string> args;
    const int dataStatus = readDataOptions("compare", givenArgs, args, data);
    if (dataStatus >= 0) {
        return dataStatus;
    }
    const DataScope dataScope(&data);
    std::string dir;
    TableFormat format = TableFormat::table;
    for (std::size_t i = 0; i < args.size(); i++) {
        const std::string& arg = args[i];
        if (isHelp(arg)) {
            std::cout << compareHelp;
            return 0;
        }
        if (arg == "--format") {
            if (i + 1 >= args.size()) {
                return usageError("compare", "--format needs table, tsv or json");
            }
            const std::string& value = args[++i];
            if (value == "table") {
                format = TableFormat::table;
            } else if (value == "tsv") {
                format = TableFormat::tsv;
            } else if (value == "json") {
                format = TableFormat::json;
            } else {
                return usageError("compare",
                                  "--format needs table, tsv or json, not '" + value + "'");
            }
        } else if (arg.rfind("--", 0) == 0) {
            return usageError("compare", "unknown option '" + arg + "'");
        } else if (dir.empty()) {
            dir = arg;
        } else {
            return usageError("compare", "unexpected argument '" + arg + "'");
        }
    }
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
