#include "data/borders.h"

#include <fstream>
#include <sstream>

const char* const borderFileName = "borders.txt";

namespace {

// Points `parser` at `line` and reads integers until a read fails. Returns whether any was
// read; `value` is then the last one. A CR left by a CRLF line end is whitespace to the parser.
bool lastInteger(std::istringstream& parser, const std::string& line, int& value) {
    parser.clear();
    parser.str(line);
    bool found = false;
    int item = 0;
    while (parser >> item) {
        value = item;
        found = true;
    }
    return found;
}

} // namespace

bool readBorders(const std::string& path, int siteCount, Borders& borders, std::string& error) {
    const std::string where = "Error in " + path + ": ";
    std::ifstream file(path);
    if (!file.is_open()) {
        error = where + "cannot open the file";
        return false;
    }
    std::istringstream parser;
    std::string line;
    int values[2] = {0, 0};
    for (int k = 0; k < 2; k++) {
        if (!std::getline(file, line)) {
            error = where + "fewer than two lines";
            return false;
        }
        if (!lastInteger(parser, line, values[k])) {
            error = where + "line " + std::to_string(k + 1) + " holds no integer";
            return false;
        }
    }
    const int demes = siteCount;
    for (int k = 0; k < 2; k++) {
        if (values[k] < 0 || values[k] > demes) {
            error = where + "border " + std::to_string(k + 1) + " is " + std::to_string(values[k]) +
                    ", outside 0 to " + std::to_string(demes);
            return false;
        }
    }
    borders.border1 = values[0];
    borders.border2 = values[1];
    return true;
}
