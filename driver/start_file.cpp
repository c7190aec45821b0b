#include "driver/start_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

std::vector<std::vector<double>> readRows(std::istream& in) {
    std::vector<std::vector<double>> rows;
    std::string line;
    // getline fails only when it meets the end of the input without reading a character, so a
    // last line without a line end still becomes a row.
    while (std::getline(in, line)) {
        std::istringstream items(line);
        std::vector<double> row;
        double value;
        while (items >> value) {
            row.push_back(value);
        }
        rows.push_back(row);
    }
    return rows;
}

StartFileStatus readStartFile(const std::string& path, StartVector& result) {
    std::ifstream file(path);
    if (path.empty() || !file.is_open()) {
        return StartFileStatus::cannotOpen;
    }
    const std::vector<std::vector<double>> rows = readRows(file);
    if (rows.empty()) {
        return StartFileStatus::empty;
    }
    if (rows.size() == 1 || rows[1].size() < rows[0].size()) {
        return StartFileStatus::missingDeltas;
    }
    result.start = rows[0];
    result.deltas.assign(rows[1].begin(), rows[1].begin() + static_cast<long>(rows[0].size()));
    return StartFileStatus::ok;
}

std::string startFileName(const char* argument) {
    if (argument == nullptr) {
        return std::string();
    }
    return std::string("startvec") + argument + ".txt";
}

int parseModelNumber(const char* argument) {
    int number = 0;
    if (argument == nullptr) {
        return 0;
    }
    // "%i" has no defined result for a number beyond the range of int (the C library would
    // wrap 4294967297 round to model 1); strtol with base 0 reads the same text and reports
    // the overflow, and such a number is no model number.
    errno = 0;
    const long wide = std::strtol(argument, nullptr, 0);
    if (errno == ERANGE || wide < INT_MIN || wide > INT_MAX) {
        return 0;
    }
    if (std::sscanf(argument, "%i", &number) != 1) {
        return 0;
    }
    return number;
}
