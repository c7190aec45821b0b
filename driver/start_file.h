// Reading the start-vector file: row 1 the start vector, row 2 the simplex step sizes.
#pragma once

#include <istream>
#include <string>
#include <vector>

// Reads every row of `in`: one row per line, holding the numbers at the start of the line up
// to the first text that does not read as a double. A final line without a line end counts;
// the end of the input reached with no characters adds no row.
std::vector<std::vector<double>> readRows(std::istream& in);

// The start vector and the step sizes taken from a start-vector file, both of length n.
struct StartVector {
    std::vector<double> start;
    std::vector<double> deltas;
};

// Outcome of reading a start-vector file.
enum class StartFileStatus {
    ok,
    cannotOpen,   // the file cannot be opened (an empty name included)
    empty,        // no row
    missingDeltas // one row only, or row 2 shorter than row 1
};

// Reads the file `path` into `result`: row 1 and the first n values of row 2.
StartFileStatus readStartFile(const std::string& path, StartVector& result);

// The file name for the command-line argument as typed: "startvec" + argument + ".txt", or
// the empty name when there is no argument.
std::string startFileName(const char* argument);

// The model number as the "%i" conversion reads it (decimal, 0 octal, 0x hexadecimal, sign and
// leading white space allowed, trailing text ignored); 0 when the text holds no number.
int parseModelNumber(const char* argument);
