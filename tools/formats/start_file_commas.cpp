#include "tools/formats/start_file_commas.h"

#include "data/decimal_comma.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

bool wholeNumber(const std::string& item) {
    char* end = nullptr;
    std::strtod(item.c_str(), &end);
    return end != item.c_str() && *end == '\0';
}

} // namespace

std::string startFileCommaProblem(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    for (int row = 1; row <= 2 && std::getline(file, line); row++) {
        std::istringstream items(line);
        std::string item;
        while (items >> item) {
            if (wholeNumber(item)) {
                continue;
            }
            const std::string where = path + " line " + std::to_string(row) + ": ";
            const std::string fixed = decimalCommaFixed(item);
            if (!fixed.empty()) {
                return where + "decimal commas are not read: write " + fixed;
            }
            if (item.find(',') != std::string::npos) {
                return where + "values are separated by blanks or tabs, not commas";
            }
            // A word ends the row, and what follows it is not read.
            break;
        }
    }
    return "";
}
