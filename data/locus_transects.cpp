#include "data/locus_transects.h"

#include <sstream>

namespace {

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

bool isSkipped(const std::string& line) {
    for (char c : line) {
        if (!isBlank(c)) {
            return c == '#';
        }
    }
    return true;
}

// The fields but the one at `skip`, tab-separated.
std::string joinedWithout(const std::vector<std::string>& fields, std::size_t skip) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); i++) {
        if (i != skip) {
            out += out.empty() ? "" : "\t";
            out += fields[i];
        }
    }
    return out;
}

std::string quoted(const std::string& text) {
    return "'" + shownInMessage(text) + "'";
}

std::string lociList(const std::vector<LocusTransect>& loci) {
    std::string list;
    for (const LocusTransect& l : loci) {
        list += (list.empty() ? "" : ", ") + shownInMessage(l.locus);
    }
    return list;
}

// One locus as the rows of the file hold it.
struct LocusRows {
    std::string name;
    std::vector<int> lines;         // line number of each row, from 1
    std::vector<std::string> texts; // the row without its locus field
};

} // namespace

bool readLocusTransects(std::istream& in, const std::string& name, std::vector<LocusTransect>& loci,
                        std::string& error) {
    std::ostringstream whole;
    whole << in.rdbuf();
    const std::string bytes = whole.str();
    std::vector<std::string> lines;
    {
        std::istringstream split(bytes);
        std::string line;
        while (std::getline(split, line)) {
            if (lines.empty() && line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
                line.erase(0, 3);
            }
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            lines.push_back(line);
        }
    }
    std::size_t header = 0;
    while (header < lines.size() && isSkipped(lines[header])) {
        header++;
    }
    std::vector<std::string> headerFields;
    if (header < lines.size()) {
        headerFields = fieldsOf(lines[header]);
    }
    std::size_t locusColumn = headerFields.size();
    for (std::size_t f = 0; f < headerFields.size(); f++) {
        if (headerFields[f] == "locus" && locusColumn == headerFields.size()) {
            locusColumn = f;
        }
    }
    if (locusColumn == headerFields.size()) {
        // No locus column: the plain reader, with its own messages, on the same bytes.
        std::istringstream text(bytes);
        LocusTransect only;
        if (in.bad()) {
            text.setstate(std::ios::badbit);
        }
        if (!readTransect(text, name, only.transect, error)) {
            return false;
        }
        loci.assign(1, only);
        return true;
    }
    const std::string prefix = "Error in " + name + " line ";
    std::vector<LocusRows> rows;
    for (std::size_t i = header + 1; i < lines.size(); i++) {
        if (isSkipped(lines[i])) {
            continue;
        }
        const int lineNumber = static_cast<int>(i) + 1;
        const std::vector<std::string> fields = fieldsOf(lines[i]);
        if (fields.size() != headerFields.size()) {
            error =
                prefix + std::to_string(lineNumber) + ": " + std::to_string(fields.size()) +
                " fields, but the header names " + std::to_string(headerFields.size()) +
                " columns" +
                (fields.size() + 1 == headerFields.size() ? " (is the locus name missing?)" : "");
            return false;
        }
        const std::string& locus = fields[locusColumn];
        for (char c : locus) {
            const unsigned char u = static_cast<unsigned char>(c);
            if (u < 0x20 || u == 0x7f) {
                error = prefix + std::to_string(lineNumber) + ": locus name " + quoted(locus) +
                        " holds a control character";
                return false;
            }
        }
        if (locus == "NA") {
            error =
                prefix + std::to_string(lineNumber) + ": locus name NA: every row needs its locus";
            return false;
        }
        std::size_t r = 0;
        while (r < rows.size() && rows[r].name != locus) {
            r++;
        }
        if (r == rows.size()) {
            rows.push_back(LocusRows{locus, {}, {}});
        }
        rows[r].lines.push_back(lineNumber);
        rows[r].texts.push_back(joinedWithout(fields, locusColumn));
    }
    std::vector<LocusTransect> read;
    if (rows.empty()) {
        // Only a header: the plain reader words it ("0 sites; ...").
        rows.push_back(LocusRows{"", {}, {}});
    }
    for (const LocusRows& locus : rows) {
        // The locus's own file: other rows blanked, so that line numbers stay those of the file.
        std::vector<std::string> own(lines.size());
        own[header] = joinedWithout(headerFields, locusColumn);
        for (std::size_t k = 0; k < locus.lines.size(); k++) {
            own[static_cast<std::size_t>(locus.lines[k] - 1)] = locus.texts[k];
        }
        std::string text;
        for (const std::string& line : own) {
            text += line + "\n";
        }
        std::istringstream stream(text);
        LocusTransect t;
        t.locus = locus.name;
        if (!readTransect(stream, name, t.transect, error)) {
            if (!locus.name.empty()) {
                error += " (locus " + quoted(locus.name) + ")";
            }
            return false;
        }
        read.push_back(t);
    }
    const LocusTransect& first = read.front();
    for (std::size_t r = 1; r < read.size(); r++) {
        const Transect& a = first.transect;
        const Transect& b = read[r].transect;
        const std::string L = quoted(read[r].locus);
        const std::string M = quoted(first.locus);
        if (a.siteCount() != b.siteCount()) {
            error = "Error in " + name + ": locus " + L + " has " + std::to_string(b.siteCount()) +
                    " sites, but locus " + M + " has " + std::to_string(a.siteCount());
            return false;
        }
        for (std::size_t s = 0; s < a.siteNames.size(); s++) {
            const std::string at = prefix + std::to_string(rows[r].lines[s]) + ": ";
            if (a.siteNames[s] != b.siteNames[s]) {
                error = at + "locus " + L + " has site " + quoted(b.siteNames[s]) +
                        " where locus " + M + " has site " + quoted(a.siteNames[s]);
                return false;
            }
            const std::string site = "site " + quoted(b.siteNames[s]) + " of locus " + L;
            if (a.positions[s] != b.positions[s]) {
                error = at + site + " has position " + shortestText(b.positions[s]) + ", but " +
                        shortestText(a.positions[s]) + " at locus " + M;
                return false;
            }
            if (s < a.distances.size() && a.distances[s] != b.distances[s]) {
                error = at + site + " has distance " + shortestText(b.distances[s]) + ", but " +
                        shortestText(a.distances[s]) + " at locus " + M;
                return false;
            }
        }
    }
    loci = read;
    error.clear();
    return true;
}

bool selectLocus(const std::vector<LocusTransect>& loci, const std::string& name,
                 const std::string& locus, Transect& transect, std::string& error) {
    const bool hasLoci = !loci.empty() && !loci.front().locus.empty();
    if (locus.empty()) {
        if (hasLoci && loci.size() > 1) {
            error = "Error in " + name + ": the file holds " + std::to_string(loci.size()) +
                    " loci; choose one with --locus NAME (" + lociList(loci) + ")";
            return false;
        }
        transect = loci.front().transect;
        return true;
    }
    if (!hasLoci) {
        error = "Error in " + name + ": the file has no locus column; --locus " +
                shownInMessage(locus) + " cannot be used";
        return false;
    }
    for (const LocusTransect& l : loci) {
        if (l.locus == locus) {
            transect = l.transect;
            return true;
        }
    }
    error = "Error in " + name + ": no locus " + quoted(locus) + " (the loci are " +
            lociList(loci) + ")";
    return false;
}
