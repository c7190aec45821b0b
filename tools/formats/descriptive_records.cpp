#include "tools/formats/descriptive_records.h"

#include "tools/formats/json_io.h"
#include "tools/formats/results.h"
#include "tools/formats/table.h"

#include <algorithm>
#include <cmath>
#include <sys/stat.h>

namespace {

bool isRecordName(const std::string& name) {
    const std::string prefix = "cline_";
    const std::string suffix = ".json";
    return name.size() > prefix.size() + suffix.size() &&
           name.compare(0, prefix.size(), prefix) == 0 &&
           name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void listRecords(const std::string& dir, bool recursive, std::vector<std::string>& paths,
                 std::vector<std::string>& problems) {
    std::vector<std::string> names;
    if (!directoryNames(dir, names, problems)) {
        return;
    }
    for (const std::string& name : names) {
        if (name == "." || name == "..") {
            continue;
        }
        const std::string path = dir == "." ? name : dir + "/" + name;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) {
            continue;
        }
        if (S_ISREG(info.st_mode) && isRecordName(name)) {
            paths.push_back(path);
        } else if (recursive && S_ISDIR(info.st_mode)) {
            listRecords(path, recursive, paths, problems);
        }
    }
}

// The fits of one record that match, into `rows`. Returns the warning that skips the file
// (one that cannot be read, is no JSON, or is no cline record), empty when it was read.
std::string readRecord(const std::string& path, const std::string& checksum,
                       const std::string& locus, int individuals,
                       std::vector<DescriptiveRow>& rows) {
    Json doc;
    std::string error;
    if (!readJsonFile(path, "cline record", doc, error)) {
        return "warning: " + error + "; skipped";
    }
    const std::string notARecord =
        "warning: " + path + " is no record of 'zonetool cline'; skipped";
    const Json* fits = jsonMember(doc, "fits");
    if (jsonTextOr(jsonMember(doc, "record")) != "zonetool cline" || fits == nullptr ||
        !fits->is_array()) {
        return notARecord;
    }
    if (jsonTextOr(jsonMember(doc, "data_checksum")) != checksum) {
        return "";
    }
    std::vector<DescriptiveRow> found;
    for (const Json& fit : *fits) {
        const Json* value = jsonMember(fit, "value");
        const Json* parameters = jsonMember(fit, "parameters");
        if (value == nullptr || !value->is_number() || parameters == nullptr ||
            !parameters->is_array()) {
            return notARecord;
        }
        const Json* l = jsonMember(fit, "locus");
        if (l == nullptr || l->is_null() ? !locus.empty() : jsonTextOr(l) != locus) {
            continue;
        }
        DescriptiveRow row;
        row.path = path;
        row.shape = jsonTextOr(jsonMember(fit, "shape"));
        row.fis = jsonTextOr(jsonMember(fit, "fis"));
        row.ends = jsonTextOr(jsonMember(fit, "ends"));
        row.axis = jsonTextOr(jsonMember(fit, "axis"));
        // k counts the parameters the fit estimated.
        row.k = static_cast<int>(parameters->size());
        row.value = value->get<double>();
        const double k = row.k;
        row.aic = 2.0 * k + 2.0 * row.value;
        row.aicc = row.aic + 2.0 * k * (k + 1.0) / (individuals - k - 1.0);
        found.push_back(row);
    }
    rows.insert(rows.end(), found.begin(), found.end());
    return "";
}

void setDeltas(std::vector<DescriptiveRow>& rows, double lowestAicc) {
    std::stable_sort(
        rows.begin(), rows.end(),
        [](const DescriptiveRow& a, const DescriptiveRow& b) { return a.aicc < b.aicc; });
    double lowest = lowestAicc;
    for (const DescriptiveRow& row : rows) {
        lowest = std::isnan(lowest) ? row.aicc : std::min(lowest, row.aicc);
    }
    for (DescriptiveRow& row : rows) {
        row.deltaAicc = row.aicc - lowest;
    }
}

} // namespace

std::vector<DescriptiveRow> findDescriptiveFits(const std::vector<std::string>& dirs,
                                                bool recursive, const std::string& checksum,
                                                const std::string& locus, int individuals,
                                                std::vector<std::string>& warnings) {
    std::vector<std::string> paths;
    for (const std::string& dir : dirs) {
        std::string trimmed = dir;
        while (trimmed.size() > 1 && trimmed.back() == '/') {
            trimmed.pop_back();
        }
        listRecords(trimmed, recursive, paths, warnings);
    }
    std::vector<DescriptiveRow> rows;
    for (const std::string& path : paths) {
        const std::string warning = readRecord(path, checksum, locus, individuals, rows);
        if (!warning.empty()) {
            warnings.push_back(warning);
        }
    }
    return rows;
}

std::string descriptiveSection(std::vector<DescriptiveRow> rows, double lowestAicc,
                               TableFormat format) {
    if (rows.empty() || format == TableFormat::json) {
        return "";
    }
    setDeltas(rows, lowestAicc);
    Table table({Align::left, Align::left, Align::left, Align::left, Align::right, Align::right,
                 Align::right, Align::right, Align::right, Align::left});
    table.addRow({"shape", "fis", "ends", "axis", "k", "-lnL", "AIC", "AICc", "dAICc", "file"});
    for (const DescriptiveRow& row : rows) {
        table.addRow({row.shape, row.fis, row.ends, row.axis, std::to_string(row.k),
                      fixedCell(row.value, 4), fixedCell(row.aic, 4), fixedCell(row.aicc, 4),
                      fixedCell(row.deltaAicc, 4), row.path});
    }
    if (format == TableFormat::tsv) {
        return "# descriptive\n" + table.tabSeparated();
    }
    return "\ndescriptive clines (zonetool cline):\n" + table.aligned();
}

std::vector<std::string> descriptiveJsonItems(std::vector<DescriptiveRow> rows, double lowestAicc) {
    setDeltas(rows, lowestAicc);
    std::vector<std::string> items;
    for (const DescriptiveRow& row : rows) {
        items.push_back(
            "{\"descriptive\": " + jsonQuote(row.shape) + ", \"fis\": " + jsonQuote(row.fis) +
            ", \"ends\": " + jsonQuote(row.ends) + ", \"axis\": " + jsonQuote(row.axis) +
            ", \"k\": " + std::to_string(row.k) + ", \"negLogL\": " + jsonNumber(row.value) +
            ", \"AIC\": " + jsonNumber(row.aic) + ", \"AICc\": " + jsonNumber(row.aicc) +
            ", \"dAICc\": " + jsonNumber(row.deltaAicc) + ", \"file\": " + jsonQuote(row.path) +
            "}");
    }
    return items;
}

std::string appendToJsonArray(const std::string& array, const std::vector<std::string>& items) {
    const std::size_t close = array.rfind(']');
    if (items.empty() || close == std::string::npos) {
        return array;
    }
    std::size_t end = close;
    while (end > 0 && (array[end - 1] == '\n' || array[end - 1] == ' ')) {
        end--;
    }
    const bool empty = end > 0 && array[end - 1] == '[';
    std::string out = array.substr(0, end);
    for (std::size_t i = 0; i < items.size(); i++) {
        out += (empty && i == 0 ? "\n  " : ",\n  ") + items[i];
    }
    return out + "\n" + array.substr(close);
}
