#include "tools/formats/whole_file.h"

#include <fstream>
#include <sstream>

bool readWholeFile(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    content = text.str();
    return !in.bad();
}
