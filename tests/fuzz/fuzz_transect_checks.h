// What must hold for any bytes given to the transect-file reader, shared by the libFuzzer
// target and by the test that replays its corpus and every input that once failed.
#pragma once

#include "data/transect_file.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <set>
#include <sstream>
#include <string>

namespace fuzzchecks {

// What is wrong with a transect the reader accepted, or "".
inline std::string transectProblem(const Transect& t) {
    const std::size_t n = t.positions.size();
    if (n < 3) {
        return "fewer than 3 sites accepted";
    }
    if (t.siteNames.size() != n || t.distances.size() != n - 1 || t.countSS.size() != n ||
        t.countSI.size() != n || t.countII.size() != n) {
        return "table lengths do not match";
    }
    std::set<std::string> names;
    long long total = 0;
    for (std::size_t i = 0; i < n; i++) {
        const std::string& name = t.siteNames[i];
        bool control = false;
        for (char c : name) {
            control = control || static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == ' ';
        }
        if (name.empty() || control || !names.insert(name).second) {
            return "bad or duplicate site name accepted";
        }
        if (!std::isfinite(t.positions[i])) {
            return "position not finite";
        }
        if (i + 1 < n && !(std::isfinite(t.distances[i]) && t.distances[i] >= 0.0)) {
            return "distance not finite or negative";
        }
        if (t.countSS[i] < 0 || t.countSI[i] < 0 || t.countII[i] < 0) {
            return "negative count accepted";
        }
        const long long site = static_cast<long long>(t.countSS[i]) + t.countSI[i] +
                               static_cast<long long>(t.countII[i]);
        if (site == 0) {
            return "site without individuals accepted";
        }
        total += site;
    }
    if (total > 2147483647LL) {
        return "total count beyond int accepted";
    }
    return "";
}

// Reads the bytes as a transect file; returns what went wrong, or "" when all holds.
inline std::string checkTransect(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::istringstream in(bytes);
    Transect t;
    t.siteNames.push_back("unchanged");
    std::string error = "unset";
    if (!readTransect(in, "fuzz.tsv", t, error)) {
        if (t.siteNames.size() != 1 || t.siteNames[0] != "unchanged" || !t.positions.empty()) {
            return "transect changed on failure";
        }
        const std::string whole = "Error in fuzz.tsv: ";
        const std::string atLine = "Error in fuzz.tsv line ";
        if (error.compare(0, whole.size(), whole) == 0) {
            return "";
        }
        if (error.compare(0, atLine.size(), atLine) != 0) {
            return "error does not name the file: " + error;
        }
        // The line named exists in the input.
        const long line = std::strtol(error.c_str() + atLine.size(), nullptr, 10);
        long lines = 0;
        for (char c : bytes) {
            lines += c == '\n' ? 1 : 0;
        }
        lines += !bytes.empty() && bytes.back() != '\n' ? 1 : 0;
        if (line < 1 || line > lines) {
            return "error names line " + std::to_string(line) + " of " + std::to_string(lines);
        }
        if (error.find('\n') != std::string::npos) {
            return "line end in the message";
        }
        return "";
    }
    if (!error.empty()) {
        return "error text on success";
    }
    const std::string problem = transectProblem(t);
    if (!problem.empty()) {
        return problem;
    }
    // Written back and read again, the transect is the same, bit for bit.
    std::stringstream again;
    writeTransect(again, t, "round trip");
    Transect back;
    if (!readTransect(again, "again.tsv", back, error)) {
        return "written transect does not read back: " + error;
    }
    if (back.siteNames != t.siteNames || back.positions != t.positions ||
        back.distances != t.distances || back.countSS != t.countSS || back.countSI != t.countSI ||
        back.countII != t.countII) {
        return "written transect reads back different";
    }
    return "";
}

} // namespace fuzzchecks
