// The region-border file of the three-region stepping-stone models.
#pragma once

#include <string>

// The two region borders: deme i is in region 0 below border1, region 2 from border2 on, and
// region 1 otherwise.
struct Borders {
    int border1 = 0;
    int border2 = 0;
};

// The name of the border file, in the working directory.
extern const char* const borderFileName;

// Reads `path`: the last integer of each of the first two lines, parsing each line from the
// left until the first item that is not an integer; further lines are not read. Both borders
// must lie in 0 to N = `siteCount`, the number of sites (and demes) of the transect (105 for the
// built-in one); border1 > border2 is accepted. Returns false,
// with `error` set and `borders` unchanged, on the first problem found, in reading order:
//   "Error in <path>: cannot open the file"
//   "Error in <path>: line <k> holds no integer"            (k = 1 or 2)
//   "Error in <path>: fewer than two lines"
//   "Error in <path>: border <k> is <value>, outside 0 to <N>"
bool readBorders(const std::string& path, int siteCount, Borders& borders, std::string& error);
