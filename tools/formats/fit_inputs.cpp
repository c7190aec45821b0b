#include "tools/formats/fit_inputs.h"

#include "data/borders.h"
#include "driver/start_file.h"
#include "models/model_table.h"
#include "tools/formats/start_file_commas.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#ifndef ZONEFIT_SOURCE_DIR
#define ZONEFIT_SOURCE_DIR "."
#endif

std::string shippedExample(const std::string& name) {
    return std::string(ZONEFIT_SOURCE_DIR) + "/examples/" + name;
}

namespace {

const std::string prefix = "zonetool fit: ";

std::string workingDirectory() {
    char* cwd = getcwd(nullptr, 0);
    if (cwd == nullptr) {
        return ".";
    }
    std::string dir = cwd;
    std::free(cwd);
    return dir;
}

// The directory a file is created in, as a user would look for it: absolute.
std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return workingDirectory();
    }
    const std::string dir = slash == 0 ? "/" : path.substr(0, slash);
    return dir[0] == '/' ? dir : workingDirectory() + "/" + dir;
}

// "; SOURCES/examples/NAME is the shipped one" when the sources are still there to point to.
std::string exampleHint(const std::string& name) {
    const std::string example = shippedExample(name);
    return access(example.c_str(), R_OK) == 0 ? "; " + example + " is the shipped one" : "";
}

void checkStartFile(int number, const std::string& name, bool contents,
                    std::vector<std::string>& problems) {
    const ModelEntry& model = *findModel(number);
    const std::string reads = "model " + std::to_string(number) + " (" + model.name + ") reads";
    // A directory opens and reads as empty; say what it is instead.
    if (std::FILE* file = std::fopen(name.c_str(), "r")) {
        std::fgetc(file);
        const bool failed = std::ferror(file) != 0;
        const int error = errno;
        std::fclose(file);
        if (failed) {
            problems.push_back(prefix + "cannot read " + name + " in " + workingDirectory() + ": " +
                               std::strerror(error));
            return;
        }
    }
    // Before the rows are judged: a row cut short at its first comma would be misnamed.
    const std::string commas = startFileCommaProblem(name);
    if (!commas.empty()) {
        problems.push_back(prefix + commas);
        return;
    }
    StartVector start;
    switch (readStartFile(name, start)) {
    case StartFileStatus::cannotOpen:
        if (errno == ENOENT) {
            problems.push_back(prefix + "no " + name + " in " + workingDirectory() + " (" + reads +
                               " its start vector and step sizes from it" + exampleHint(name) +
                               ")");
        } else {
            problems.push_back(prefix + "cannot read " + name + " in " + workingDirectory() + ": " +
                               std::strerror(errno));
        }
        return;
    case StartFileStatus::empty:
        if (contents) {
            problems.push_back(prefix + name + " is empty (" + reads +
                               " its start vector from it)");
        }
        return;
    case StartFileStatus::missingDeltas:
        if (contents) {
            problems.push_back(prefix + name + " has no step sizes in its second row");
        }
        return;
    case StartFileStatus::ok:
        break;
    }
    const std::size_t count = start.start.size();
    if (contents && static_cast<long>(count) < model.parameterCount) {
        problems.push_back(prefix + name + ": " + reads + " " +
                           std::to_string(model.parameterCount) +
                           " parameters, the start vector holds " + std::to_string(count));
    }
}

void checkBorders(const std::vector<int>& models, int siteCount,
                  std::vector<std::string>& problems) {
    for (int number : models) {
        if (findModel(number)->borders != BorderSource::borderFile) {
            continue;
        }
        if (access(borderFileName, F_OK) != 0 && errno == ENOENT) {
            problems.push_back(prefix + "no " + borderFileName + " in " + workingDirectory() +
                               " (models 3 to 6 read their region borders from it" +
                               exampleHint(borderFileName) + ")");
            return;
        }
        Borders borders;
        std::string error;
        if (!readBorders(borderFileName, siteCount, borders, error)) {
            problems.push_back(error);
        }
        return;
    }
}

} // namespace

std::vector<std::string> fitInputProblems(const FitInputs& inputs) {
    std::vector<std::string> problems;
    for (const auto& start : inputs.startFiles) {
        checkStartFile(start.first, start.second, inputs.checkStartContents, problems);
    }
    checkBorders(inputs.models, inputs.siteCount, problems);
    std::vector<std::string> seen;
    for (const std::string& path : inputs.writes) {
        const std::string dir = directoryOf(path);
        bool known = false;
        for (const std::string& other : seen) {
            known = known || other == dir;
        }
        if (known) {
            continue;
        }
        seen.push_back(dir);
        // The fits write through temporary files beside each result, so the directory must
        // take new files even where the result itself exists already.
        if (access(dir.c_str(), W_OK | X_OK) != 0) {
            problems.push_back(prefix + dir + " cannot take new files (" + std::strerror(errno) +
                               "); results, logs and records go there");
        }
    }
    return problems;
}
