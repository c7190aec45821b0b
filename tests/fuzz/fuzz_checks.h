// What must hold for any bytes given to the two file readers, shared by the libFuzzer targets
// and by the test that replays their corpus and every input that once failed.
#pragma once

#include "data/borders.h"
#include "driver/start_file.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace fuzzchecks {

// An in-memory file holding `size` bytes, named by a path any file stream can open.
class MemoryFile {
  public:
    MemoryFile(const std::uint8_t* data, std::size_t size) {
        fd_ = memfd_create("zonefit-fuzz", 0);
        if (fd_ < 0) {
            return;
        }
        std::size_t done = 0;
        while (done < size) {
            const ssize_t written = write(fd_, data + done, size - done);
            if (written <= 0) {
                close(fd_);
                fd_ = -1;
                return;
            }
            done += static_cast<std::size_t>(written);
        }
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool ok() const { return fd_ >= 0; }
    const std::string& path() const { return path_; }

  private:
    int fd_ = -1;
    std::string path_;
};

inline std::size_t expectedRows(const std::uint8_t* data, std::size_t size) {
    std::size_t rows = 0;
    for (std::size_t i = 0; i < size; i++) {
        rows += data[i] == '\n' ? 1 : 0;
    }
    return rows + (size > 0 && data[size - 1] != '\n' ? 1 : 0);
}

// Reads the bytes as a start-vector file; returns what went wrong, or "" when all holds.
inline std::string checkStartFile(const std::uint8_t* data, std::size_t size) {
    std::istringstream text(std::string(reinterpret_cast<const char*>(data), size));
    const std::vector<std::vector<double>> rows = readRows(text);
    if (rows.size() != expectedRows(data, size)) {
        return "row count differs from the line count";
    }
    for (const std::vector<double>& row : rows) {
        for (double value : row) {
            if (!std::isfinite(value)) {
                return "a row holds a value that is not finite";
            }
        }
    }

    MemoryFile file(data, size);
    if (!file.ok()) {
        return ""; // no memory file on this system: nothing to check
    }
    StartVector read;
    const StartFileStatus status = readStartFile(file.path(), read);
    switch (status) {
    case StartFileStatus::cannotOpen:
        return "an existing file cannot be opened";
    case StartFileStatus::empty:
        return rows.empty() ? "" : "rows read but empty reported";
    case StartFileStatus::missingDeltas:
        return !rows.empty() && (rows.size() == 1 || rows[1].size() < rows[0].size())
                   ? ""
                   : "deltas reported missing wrongly";
    case StartFileStatus::ok:
        break;
    }
    if (rows.size() < 2 || read.start != rows[0] || read.start.size() != read.deltas.size()) {
        return "start vector and deltas are not rows 1 and 2";
    }
    const std::vector<double> firstDeltas(rows[1].begin(),
                                          rows[1].begin() + static_cast<long>(read.start.size()));
    if (read.deltas != firstDeltas) {
        return "deltas differ from the first values of row 2";
    }

    // The model number, read from the first bytes as an argument would hold them.
    const std::string argument(reinterpret_cast<const char*>(data), size < 24 ? size : 24);
    // A number is only ever the one written: no wrapping of numbers beyond int.
    const int number = parseModelNumber(argument.c_str());
    if (number != 0 && std::strtol(argument.c_str(), nullptr, 0) != number) {
        return "model number " + std::to_string(number) + " read from other digits";
    }
    if (startFileName(argument.c_str()) != "startvec" + std::string(argument.c_str()) + ".txt") {
        return "start file name is not the argument as typed";
    }
    return "";
}

// Reads the bytes as a border file; returns what went wrong, or "" when all holds.
inline std::string checkBorders(const std::uint8_t* data, std::size_t size) {
    MemoryFile file(data, size);
    if (!file.ok()) {
        return "";
    }
    Borders borders{-7, -7};
    std::string error;
    if (readBorders(file.path(), 105, borders, error)) {
        if (!error.empty()) {
            return "error text on success";
        }
        if (borders.border1 < 0 || borders.border1 > 105 || borders.border2 < 0 ||
            borders.border2 > 105) {
            return "border outside 0 to 105 accepted";
        }
        return "";
    }
    if (borders.border1 != -7 || borders.border2 != -7) {
        return "borders changed on failure";
    }
    const std::string where = "Error in " + file.path() + ": ";
    if (error.compare(0, where.size(), where) != 0) {
        return "error does not name the file: " + error;
    }
    const std::string problem = error.substr(where.size());
    if (problem == "cannot open the file" || problem == "fewer than two lines" ||
        problem == "line 1 holds no integer" || problem == "line 2 holds no integer") {
        return "";
    }
    if (problem.compare(0, 7, "border ") == 0 && problem.size() > 18 &&
        problem.compare(problem.size() - 18, 18, ", outside 0 to 105") == 0) {
        return "";
    }
    return "unknown error: " + error;
}

} // namespace fuzzchecks
