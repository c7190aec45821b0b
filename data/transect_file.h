// A transect as a value: site names, positions, distances and genotype counts, either the
// built-in data set or one read from a transect file.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

// One transect, sites in transect order. All vectors but `distances` hold one entry per site;
// `distances` holds the n - 1 gaps, entry i the distance from site i to site i + 1 (same unit
// as the positions). Counts are numbers of sampled individuals.
struct Transect {
    std::vector<std::string> siteNames; // unique, no blanks or control characters
    std::vector<double> positions;      // position on the transect axis (not monotone)
    std::vector<double> distances;      // n - 1 gaps, each finite and >= 0
    std::vector<int> countSS;           // >= 0
    std::vector<int> countSI;           // >= 0
    std::vector<int> countII;           // >= 0; SS + SI + II >= 1 at every site

    int siteCount() const { return static_cast<int>(positions.size()); }
};

// The built-in data set of data/transect.h as a Transect; sites are named "0" to "104".
Transect builtInTransect();

// Reads a transect file from `in`; `name` is the file name the messages give. The format:
//   - lines whose first non-blank character is '#', and blank lines, are skipped anywhere;
//   - the first other line is the header: the six column names site, position, distance, SS,
//     SI and II, in any order;
//   - then one row per site in transect order, fields separated by blanks or tabs; `distance`
//     is the distance to the next site, NA on the last row; SS, SI, II are counts;
//   - a UTF-8 byte-order mark at the start and a carriage return at a line end are ignored.
// Returns false with `error` set and `transect` unchanged on the first problem found. Messages
// (K the line number from 1, X the offending text; whole-file problems name no line):
//   "Error in NAME: cannot read the file"                  (read failure, a directory)
//   "Error in NAME: the file is empty"
//   "Error in NAME: no header line"                        (only comments and blank lines)
//   "Error in NAME line K: fields are separated by tabs or blanks, not commas"
//                                        (a header or row of fewer than 6 fields with a comma)
//   "Error in NAME line K: unknown column 'X' (the columns are site, position, distance, SS,
//    SI, II)"
//   "Error in NAME line K: column 'X' appears twice"
//   "Error in NAME line K: no column 'X'"
//   "Error in NAME line K: F fields, but the header names 6 columns"
//   "Error in NAME line K: site name 'X' holds a control character"
//   "Error in NAME line K: site name 'X' is already used on line J"
//   "Error in NAME line K: position 'X' is not a finite number"
//   "Error in NAME line K: distance 'X' is not a finite number"
//   "Error in NAME line K: position 'X': decimal commas are not read: write Y" (likewise
//    distance; X a number with a decimal comma, Y the same with a point)
//   "Error in NAME line K: distance 'X' is negative"
//   "Error in NAME line K: distance NA is only for the last site"
//   "Error in NAME line K: the last site's distance must be NA, not 'X'"
//   "Error in NAME line K: SS count 'X' is not a number"   (likewise SI and II)
//   "Error in NAME line K: SS count 'X' is not a whole number"
//   "Error in NAME line K: SS count 'X' is negative"
//   "Error in NAME line K: SS count 'X' is too large"      (beyond 2147483647)
//   "Error in NAME line K: site 'X' has no individual sampled"
//   "Error in NAME line K: the counts add up to more than 2147483647"
//   "Error in NAME: N sites; a transect needs at least 3"
// Texts quoted in messages are cut to 40 bytes, with bytes outside printable ASCII as \xHH.
bool readTransect(std::istream& in, const std::string& name, Transect& transect,
                  std::string& error);

// Reads the transect file `path` as above; a file that cannot be opened gives
// "Error in PATH: cannot open the file".
bool readTransectFile(const std::string& path, Transect& transect, std::string& error);

// Writes `transect` in the file format, columns in the order site, position, distance, SS, SI,
// II, tab-separated, each number in the shortest text that reads back to the same double.
// `comment` (may be empty; one line, no line end) is written first as a '#' line.
void writeTransect(std::ostream& out, const Transect& transect, const std::string& comment);

// Text as the reader's messages quote it: at most 40 bytes (then "..."), bytes outside
// printable ASCII as \xHH.
std::string shownInMessage(const std::string& text);

// The shortest decimal text (at most 17 significant digits, %g style) that reads back to `v`.
std::string shortestText(double v);
