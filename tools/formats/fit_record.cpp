#include "tools/formats/fit_record.h"

#include "tools/formats/data_option.h"

#include "tools/formats/cli.h"
#include "zonefit_version.h"

#include <chrono>

#include <ctime>

std::string recordFileName(const std::string& resultName) {
    return resultName + ".json";
}

std::string programVersion() {
    return ZONEFIT_VERSION;
}

FitRecord newFitRecord(const ModelEntry& model, const std::vector<double>& start,
                       const std::vector<double>& steps, const DataContext* data) {
    FitRecord record;
    record.model = model.number;
    record.name = model.name;
    for (int j = 0; j < model.parameterCount; j++) {
        record.parameters.push_back(model.parameters != nullptr ? model.parameters[j].name
                                                                : "x" + std::to_string(j));
    }
    record.start = start;
    record.steps = steps;
    for (double step : steps) {
        record.free.push_back(step != 0.0);
    }
    record.programVersion = programVersion();
    if (data != nullptr) {
        record.commandLine = data->commandLine;
        record.data = data->path;
        record.dataChecksum = data->checksum;
        record.locus = data->locus;
    }
    return record;
}

int freeParameterCount(const std::vector<bool>& free, int parameterCount) {
    if (free.empty()) {
        return parameterCount;
    }
    int count = 0;
    for (int j = 0; j < parameterCount && j < static_cast<int>(free.size()); j++) {
        count += free[static_cast<std::size_t>(j)] ? 1 : 0;
    }
    return count;
}

double threadCpuSeconds() {
    timespec now{};
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now) != 0) {
        return 0.0;
    }
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

bool writeFitRecord(const std::string& resultName, const FitRecord& record, std::string& error) {
    std::string reason;
    if (!writeResultFile(recordFileName(resultName), fitRecordJson(record), reason)) {
        error = "Cannot save the fit record: " + reason + ". Exiting (1)";
        return false;
    }
    return true;
}

std::function<bool(const FitResult&, const StartVector&, std::string&)>
recordWriter(const DataContext& data, const ModelEntry& model, const std::string& resultName,
             const std::optional<std::uint64_t>& seed, const std::atomic<long>& evaluations,
             ObjectiveKind objective) {
    const DataContext* in = &data;
    const double cpuStart = threadCpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    const ModelEntry* entry = &model;
    const std::atomic<long>* counted = &evaluations;
    return [=](const FitResult& result, const StartVector& startVector, std::string& error) {
        FitRecord record = newFitRecord(*entry, startVector.start, startVector.deltas, in);
        record.point = result.bestPoint;
        record.value = result.bestValue;
        record.seed = seed;
        record.objective = objective;
        record.evaluations = counted->load();
        record.cpuSeconds = threadCpuSeconds() - cpuStart;
        record.wallSeconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        return writeFitRecord(resultName, record, error);
    };
}
