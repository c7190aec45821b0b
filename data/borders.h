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
// left until the first item that is not an integer. Returns false, with `error` naming the
// file and the problem, when the file cannot be opened, has fewer than two lines, a line holds
// no integer, or a border lies outside 0 to 105.
bool readBorders(const std::string& path, Borders& borders, std::string& error);

// Reads the border file of the working directory; on failure writes the error to standard
// error and ends the process with exit status 1.
Borders readBordersOrExit();
