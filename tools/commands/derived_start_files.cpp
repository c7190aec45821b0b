#include "tools/commands/derived_start_files.h"

#include "driver/schedule.h"
#include "models/model_table.h"
#include "tools/commands/start_command.h"
#include "tools/formats/data_option.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

DerivedStartFiles::~DerivedStartFiles() {
    if (dir_.empty()) {
        return;
    }
    for (int number = 1; number <= modelCount; number++) {
        std::remove((dir_ + "/" + std::to_string(number) + ".txt").c_str());
    }
    rmdir(dir_.c_str());
}

std::string DerivedStartFiles::pathFor(std::ostream& err, const DataContext& data, int number,
                                       const std::string& startName) {
    const DataContext* context = &data;
    struct stat status;
    if (context->path.empty() || lstat(startName.c_str(), &status) == 0 || errno != ENOENT) {
        return "";
    }
    const ModelEntry& model = *findModel(number);
    Borders borders;
    bool fromFile = false;
    std::string error;
    if (!startBorders(data, model, borders, fromFile, error)) {
        return "";
    }
    if (dir_.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zonetool-start-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) {
            err << "zonetool fit: cannot make a temporary directory for the derived start: "
                << std::strerror(errno) << "\n";
            return "";
        }
        dir_ = pattern;
    }
    const std::string path = dir_ + "/" + std::to_string(number) + ".txt";
    if (!writeResultFile(path, derivedStartText(data, model, borders), error)) {
        err << "zonetool fit: cannot write the derived start: " << error << "\n";
        return "";
    }
    std::string command = "zonetool start " + std::to_string(number) + " --data " + context->path;
    for (const std::string& box : context->boxOptions) {
        command += " --box " + box;
    }
    err << "zonetool fit: no " << startName << " here: fitting from the start derived from "
        << context->path << " (" << command << "); write it with -o to keep it\n";
    return path;
}
