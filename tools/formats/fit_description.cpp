#include "tools/formats/fit_description.h"

#include "tools/formats/fit_record.h"
#include "tools/formats/results.h"

FitFiles fitFiles(const ModelEntry& model, const std::optional<std::uint64_t>& seed,
                  const FitNaming& naming) {
    FitFiles files;
    if (!naming.result.empty()) {
        files.result = naming.result;
    } else if (naming.optimum > 0) {
        files.result = optimumFitName(model, naming.optimum,
                                      naming.seedInName ? seed : std::optional<std::uint64_t>());
    } else {
        files.result =
            resultFileName(model, naming.seedInName ? seed : std::optional<std::uint64_t>());
    }
    files.record = recordFileName(files.result);
    files.log = files.result + ".log";
    files.checkpoint = naming.checkpointBeside ? files.result + ".ckpt" : naming.checkpoint;
    files.trace = naming.trace;
    return files;
}

std::string optimumFitName(const ModelEntry& model, int rank,
                           const std::optional<std::uint64_t>& seed) {
    return std::string(model.prefix) + "opt" + std::to_string(rank) +
           (seed ? "seed" + std::to_string(*seed) : "");
}

std::string seedLine(const std::optional<std::uint64_t>& seed) {
    return "seed: " + (seed ? std::to_string(*seed) : std::string("clock")) + "\n";
}

std::string objectiveLine(ObjectiveKind objective) {
    return objective == ObjectiveKind::zonefit
               ? std::string()
               : std::string("objective: ") + objectiveName(objective) + "\n";
}
