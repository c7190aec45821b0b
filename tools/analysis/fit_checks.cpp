#include "tools/analysis/fit_checks.h"

#include "models/model_table.h"
#include "tools/analysis/start_box_check.h"

#include <sys/stat.h>

namespace {

bool exists(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

} // namespace

std::vector<std::string> guardedNames(const FitDescription& fit) {
    if (fit.checkpointed() && exists(fit.files.checkpoint)) {
        return {};
    }
    std::vector<std::string> names = {fit.files.result, fit.files.record};
    if (!fit.checkpointed() && fit.reports == FitReports::log) {
        names.push_back(fit.files.log);
    }
    return names;
}

bool refuseOverwrite(std::ostream& err, const std::vector<std::string>& names) {
    bool none = true;
    for (const std::string& name : names) {
        if (exists(name)) {
            err << "zonetool fit: " << name << " exists already; give --redo to overwrite it\n";
            none = false;
        }
    }
    return none;
}

bool inputsUsable(std::ostream& err, const FitInputs& inputs) {
    const std::vector<std::string> problems = fitInputProblems(inputs);
    for (const std::string& problem : problems) {
        err << problem << "\n";
    }
    return problems.empty();
}

bool startsInsideBoxes(std::ostream& err, const DataContext& data,
                       const std::vector<std::pair<int, std::string>>& files, bool startGiven) {
    bool inside = true;
    for (const auto& [model, path] : files) {
        const std::string problem = startFileBoxProblem(data, path, *findModel(model), startGiven);
        if (!problem.empty()) {
            err << "zonetool fit: " << problem << "\n";
            inside = false;
        }
    }
    return inside;
}
