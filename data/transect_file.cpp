#include "data/transect_file.h"

#include "data/decimal_comma.h"
#include "data/transect.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sys/stat.h>

namespace {

enum Column { site, position, distance, ss, si, ii, columnCount };

const std::array<const char*, columnCount> columnNames = {"site", "position", "distance",
                                                          "SS",   "SI",       "II"};

// Offending text as a message shows it: at most 40 bytes, unprintable bytes escaped, so that a
// binary file cannot garble the terminal.
std::string shown(const std::string& text) {
    std::string out;
    const std::size_t limit = 40;
    for (std::size_t i = 0; i < text.size() && i < limit; i++) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7f) {
            out += static_cast<char>(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    if (text.size() > limit) {
        out += "...";
    }
    return out;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::vector<std::string> fieldsOf(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i])) {
            i++;
        }
        const std::size_t start = i;
        while (i < line.size() && !isBlank(line[i])) {
            i++;
        }
        if (i > start) {
            fields.push_back(line.substr(start, i - start));
        }
    }
    return fields;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Plain decimal notation only: [+-] digits [. digits] [e [+-] digits], with digits on at least
// one side of the point. Hexadecimal, inf, nan and NA are not numbers here.
bool isDecimal(const std::string& t) {
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
        i++;
    }
    std::size_t digits = 0;
    while (i < t.size() && isDigit(t[i])) {
        i++;
        digits++;
    }
    if (i < t.size() && t[i] == '.') {
        i++;
        while (i < t.size() && isDigit(t[i])) {
            i++;
            digits++;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        i++;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
            i++;
        }
        std::size_t exponentDigits = 0;
        while (i < t.size() && isDigit(t[i])) {
            i++;
            exponentDigits++;
        }
        if (exponentDigits == 0) {
            return false;
        }
    }
    return i == t.size();
}

// A finite double from plain decimal text; false for anything else, an overflow included.
bool finiteNumber(const std::string& t, double& value) {
    if (!isDecimal(t)) {
        return false;
    }
    value = std::strtod(t.c_str(), nullptr);
    return std::isfinite(value);
}

// Reads a count; on failure returns the reason ("is not a number", ...).
const char* readCount(const std::string& t, int& count) {
    if (!isDecimal(t)) {
        return "is not a number";
    }
    std::size_t i = t[0] == '+' || t[0] == '-' ? 1 : 0;
    const bool negative = t[0] == '-';
    for (std::size_t j = i; j < t.size(); j++) {
        if (!isDigit(t[j])) {
            return "is not a whole number";
        }
    }
    while (i + 1 < t.size() && t[i] == '0') {
        i++;
    }
    const std::string digits = t.substr(i);
    if (negative && digits != "0") {
        return "is negative";
    }
    if (digits.size() > 10 || (digits.size() == 10 && digits > "2147483647")) {
        return "is too large";
    }
    count = static_cast<int>(std::strtol(digits.c_str(), nullptr, 10));
    return nullptr;
}

class Reader {
  public:
    explicit Reader(const std::string& name) : name_(name) {}

    bool fail(const std::string& problem) {
        error_ = "Error in " + name_ + ": " + problem;
        return false;
    }
    bool failAt(int line, const std::string& problem) {
        error_ = "Error in " + name_ + " line " + std::to_string(line) + ": " + problem;
        return false;
    }
    const std::string& error() const { return error_; }

    // A file saved as comma-separated values reads as one field per line, or a few.
    bool commaSeparated(int line, const std::vector<std::string>& fields) {
        if (fields.size() >= static_cast<std::size_t>(columnCount)) {
            return false;
        }
        for (const std::string& field : fields) {
            if (field.find(',') != std::string::npos) {
                return !failAt(line, "fields are separated by tabs or blanks, not commas");
            }
        }
        return false;
    }

    // The message of a number field `what` that is not a finite number, with the decimal
    // comma named when that is the trouble.
    bool notANumber(int line, const char* what, const std::string& text) {
        const std::string fixed = decimalCommaFixed(text);
        if (!fixed.empty()) {
            return failAt(line, std::string(what) + " '" + shown(text) +
                                    "': decimal commas are not read: write " + fixed);
        }
        return failAt(line, std::string(what) + " '" + shown(text) + "' is not a finite number");
    }

    bool header(int line, const std::vector<std::string>& fields) {
        if (commaSeparated(line, fields)) {
            return false;
        }
        for (int c = 0; c < columnCount; c++) {
            index_[static_cast<std::size_t>(c)] = -1;
        }
        for (std::size_t f = 0; f < fields.size(); f++) {
            int found = -1;
            for (int c = 0; c < columnCount; c++) {
                if (fields[f] == columnNames[static_cast<std::size_t>(c)]) {
                    found = c;
                }
            }
            if (found < 0) {
                return failAt(line, "unknown column '" + shown(fields[f]) +
                                        "' (the columns are site, position, distance, SS, SI, "
                                        "II)");
            }
            int& slot = index_[static_cast<std::size_t>(found)];
            if (slot >= 0) {
                return failAt(line, "column '" + fields[f] + "' appears twice");
            }
            slot = static_cast<int>(f);
        }
        for (int c = 0; c < columnCount; c++) {
            if (index_[static_cast<std::size_t>(c)] < 0) {
                return failAt(line, std::string("no column '") +
                                        columnNames[static_cast<std::size_t>(c)] + "'");
            }
        }
        return true;
    }

    bool row(int line, const std::vector<std::string>& fields, Transect& t) {
        // Any row after an NA distance shows that the NA was not the last site's.
        if (pendingNA_ > 0) {
            return failAt(pendingNA_, "distance NA is only for the last site");
        }
        if (commaSeparated(line, fields)) {
            return false;
        }
        if (fields.size() != static_cast<std::size_t>(columnCount)) {
            return failAt(line, std::to_string(fields.size()) +
                                    " fields, but the header names 6 columns");
        }
        auto field = [&](Column c) -> const std::string& {
            return fields[static_cast<std::size_t>(index_[static_cast<std::size_t>(c)])];
        };
        const std::string& siteName = field(site);
        // Names go into tables, plots and records: control characters would break them.
        for (char c : siteName) {
            const unsigned char u = static_cast<unsigned char>(c);
            if (u < 0x20 || u == 0x7f) {
                return failAt(line,
                              "site name '" + shown(siteName) + "' holds a control character");
            }
        }
        const auto seen = lineOfSite_.find(siteName);
        if (seen != lineOfSite_.end()) {
            return failAt(line, "site name '" + shown(siteName) + "' is already used on line " +
                                    std::to_string(seen->second));
        }
        double pos = 0.0;
        if (!finiteNumber(field(position), pos)) {
            return notANumber(line, "position", field(position));
        }
        const std::string& distanceText = field(distance);
        double gap = 0.0;
        if (distanceText == "NA") {
            pendingNA_ = line;
        } else if (!finiteNumber(distanceText, gap)) {
            return notANumber(line, "distance", distanceText);
        } else if (gap < 0.0) {
            return failAt(line, "distance '" + shown(distanceText) + "' is negative");
        }
        int counts[3] = {0, 0, 0};
        const Column countColumns[3] = {ss, si, ii};
        for (int g = 0; g < 3; g++) {
            const Column c = countColumns[g];
            const char* problem = readCount(field(c), counts[g]);
            if (problem != nullptr) {
                return failAt(line, std::string(columnNames[static_cast<std::size_t>(c)]) +
                                        " count '" + shown(field(c)) + "' " + problem);
            }
        }
        const long long siteTotal =
            static_cast<long long>(counts[0]) + counts[1] + static_cast<long long>(counts[2]);
        if (siteTotal == 0) {
            return failAt(line, "site '" + shown(siteName) + "' has no individual sampled");
        }
        total_ += siteTotal;
        if (total_ > INT_MAX) {
            return failAt(line, "the counts add up to more than 2147483647");
        }
        lineOfSite_.emplace(siteName, line);
        lastLine_ = line;
        lastDistance_ = distanceText;
        t.siteNames.push_back(siteName);
        t.positions.push_back(pos);
        if (distanceText != "NA") {
            t.distances.push_back(gap);
        }
        t.countSS.push_back(counts[0]);
        t.countSI.push_back(counts[1]);
        t.countII.push_back(counts[2]);
        return true;
    }

    // Checks that hold for the whole file once every row is read.
    bool finish(const Transect& t) {
        const int n = t.siteCount();
        if (n > 0 && pendingNA_ == 0) {
            return failAt(lastLine_, "the last site's distance must be NA, not '" +
                                         shown(lastDistance_) + "'");
        }
        if (n < 3) {
            return fail(std::to_string(n) + (n == 1 ? " site" : " sites") +
                        "; a transect needs at least 3");
        }
        return true;
    }

  private:
    std::string name_;
    std::string error_;
    std::array<int, columnCount> index_{};
    std::map<std::string, int> lineOfSite_;
    int pendingNA_ = 0; // line of a row whose distance was NA, 0 for none
    int lastLine_ = 0;
    std::string lastDistance_;
    long long total_ = 0;
};

bool isSkipped(const std::string& line) {
    for (char c : line) {
        if (!isBlank(c)) {
            return c == '#';
        }
    }
    return true;
}

} // namespace

Transect builtInTransect() {
    Transect t;
    for (int i = 0; i < siteCount; i++) {
        t.siteNames.push_back(std::to_string(i));
        t.positions.push_back(sitePosition[i]);
        t.countSS.push_back(countSS[i]);
        t.countSI.push_back(countSI[i]);
        t.countII.push_back(countII[i]);
    }
    t.distances.assign(siteDistance, siteDistance + gapCount);
    return t;
}

bool readTransect(std::istream& in, const std::string& name, Transect& transect,
                  std::string& error) {
    Reader reader(name);
    Transect read;
    std::string line;
    int lineNumber = 0;
    bool sawHeader = false;
    bool sawAnything = false;
    while (std::getline(in, line)) {
        lineNumber++;
        sawAnything = true;
        if (lineNumber == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            line.erase(0, 3);
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (isSkipped(line)) {
            continue;
        }
        const std::vector<std::string> fields = fieldsOf(line);
        const bool ok =
            sawHeader ? reader.row(lineNumber, fields, read) : reader.header(lineNumber, fields);
        if (!ok) {
            error = reader.error();
            return false;
        }
        sawHeader = true;
    }
    const bool good = in.bad()       ? reader.fail("cannot read the file")
                      : !sawAnything ? reader.fail("the file is empty")
                      : !sawHeader   ? reader.fail("no header line")
                                     : reader.finish(read);
    if (!good) {
        error = reader.error();
        return false;
    }
    transect = std::move(read);
    error.clear();
    return true;
}

bool readTransectFile(const std::string& path, Transect& transect, std::string& error) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        error = "Error in " + path + ": cannot read the file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "Error in " + path + ": cannot open the file";
        return false;
    }
    return readTransect(in, path, transect, error);
}

std::string shownInMessage(const std::string& text) {
    return shown(text);
}

std::string shortestText(double v) {
    char text[40];
    for (int digits = 1; digits <= 17; digits++) {
        std::snprintf(text, sizeof text, "%.*g", digits, v);
        if (std::strtod(text, nullptr) == v) {
            break;
        }
    }
    return text;
}

void writeTransect(std::ostream& out, const Transect& transect, const std::string& comment) {
    if (!comment.empty()) {
        out << "# " << comment << '\n';
    }
    out << "site\tposition\tdistance\tSS\tSI\tII\n";
    const int n = transect.siteCount();
    for (int i = 0; i < n; i++) {
        const std::size_t k = static_cast<std::size_t>(i);
        out << transect.siteNames[k] << '\t' << shortestText(transect.positions[k]) << '\t'
            << (i + 1 < n ? shortestText(transect.distances[k]) : std::string("NA")) << '\t'
            << transect.countSS[k] << '\t' << transect.countSI[k] << '\t' << transect.countII[k]
            << '\n';
    }
}
