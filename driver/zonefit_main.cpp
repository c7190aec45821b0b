#include "driver/zonefit_main.h"

#include "driver/start_file.h"
#include "models/model_table.h"

#include <iostream>

namespace {

void writeUsage() {
    std::cerr << "Where's your startvec file?\n"
              << "Remember to specify the Model Number in args\n";
    for (const ModelEntry& model : modelTable) {
        std::cerr << model.usage << "\n";
    }
}

} // namespace

int runFit(const char* argument, const std::string& startPath, const ScheduleOptions& options) {
    StartVector startVector;
    switch (readStartFile(startPath, startVector)) {
    case StartFileStatus::cannotOpen:
        writeUsage();
        return 1;
    case StartFileStatus::empty:
        std::cerr << "Empty input file. No chains to be run? Exiting (1)\n";
        return 1;
    case StartFileStatus::missingDeltas:
        std::cerr << "Forgot to include the deltas in the second row of input file. Exiting (1)\n";
        return 1;
    case StartFileStatus::ok:
        break;
    }

    const ModelEntry* model = findModel(parseModelNumber(argument));
    if (model == nullptr) {
        std::cout << "No model specified. Exiting(1)" << std::flush;
        return 1;
    }
    const long count = static_cast<long>(startVector.start.size());
    if (count < model->parameterCount) {
        std::cerr << "Model " << model->number << " (" << model->name << ") reads "
                  << model->parameterCount << " parameters, but the start vector holds " << count
                  << (count == 1 ? " value" : " values") << ". Exiting (1)\n";
        return 1;
    }
    if (count > maxStartValues) {
        std::cerr << "The start vector holds " << count << " values, more than the "
                  << maxStartValues << " a simplex can be built for. Exiting (1)\n";
        return 1;
    }
    if (model->objective == nullptr) {
        std::cerr << "Model " << model->number << " is not available in this build\n";
        return 1;
    }
    if (count > model->parameterCount) {
        std::cerr << "Warning: model " << model->number << " (" << model->name << ") reads "
                  << model->parameterCount << " parameters; the start vector holds " << count
                  << " values, and the extra ones are fitted without effect\n";
    }

    std::cout << model->banner << "\n";
    std::string error;
    if (!checkResultWritable(model->prefix, error)) {
        std::cout.flush();
        std::cerr << "Cannot write the result file: " << error << ". Exiting (1)\n";
        return 1;
    }
    const FitResult result =
        runSchedule(*model->objective, startVector.start, startVector.deltas, std::cout, options);
    std::cout.flush();
    if (!writeResultFile(model->prefix, resultLine(result), error)) {
        std::cerr << "Cannot save the result: " << error << ". Exiting (1)\n";
        return 1;
    }
    return 0;
}

int zonefitMain(int argc, char** argv) {
    const char* argument = argc > 1 ? argv[1] : nullptr;
    return runFit(argument, startFileName(argument), ScheduleOptions());
}
