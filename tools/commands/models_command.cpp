#include "tools/commands/models_command.h"

#include "models/model_table.h"
#include "tools/formats/options.h"
#include "tools/formats/table.h"

#include <iostream>

const char* const modelsHelp =
    "Usage: zonetool models\n"
    "\n"
    "Lists the ten models: number, name, result file, and for each parameter its index in\n"
    "the parameter vector, short name, box and meaning. '[' and ']' include a bound, '(' and\n"
    "')' exclude it. A value outside its box is answered with a penalty. 'explore' gives the\n"
    "region where 'zonetool explore' draws its start points (change it with --region).\n"
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable)\n";

std::string parameterLines() {
    std::string text;
    for (const ModelEntry& model : modelTable) {
        std::string line = "  " + std::string(model.number < 10 ? " " : "") +
                           std::to_string(model.number) + " " + model.name + ":";
        line += std::string(11 - std::string(model.name).size(), ' ');
        for (int j = 0; j < model.parameterCount; j++) {
            line += std::string(" ") + model.parameters[j].name;
        }
        text += line + "\n";
    }
    return text;
}

std::string modelListing(const DataContext& data) {
    std::string text;
    for (const ModelEntry& model : modelTable) {
        text += std::string(model.number == 1 ? "" : "\n") + "Model " +
                std::to_string(model.number) + "  " + model.name + "  result file " + model.prefix +
                (model.borders == BorderSource::borderFile ? "  reads borders.txt" : "") + "\n";
        const ModelBox& boxes = data.box(model.number);
        Table table({Align::left, Align::left, Align::left, Align::left, Align::left});
        for (int j = 0; j < boxes.parameterCount; j++) {
            const ParameterInfo& p = boxes.parameters[j];
            table.addRow({"x" + std::to_string(j), p.name, boxText(p), "explore " + regionText(p),
                          p.meaning});
        }
        text += table.aligned("  ");
    }
    return text;
}

int modelsCommand(RunContext& ctx, const std::vector<std::string>& args) {
    // No options at all: "--x" is as unexpected as "x".
    const int status = OptionParser(
                           "models", [] { return std::string(modelsHelp); }, *ctx.out, *ctx.err)
                           .optionPrefix("")
                           .parse(args);
    if (status >= 0) {
        return status;
    }
    *ctx.out << modelListing(ctx.data);
    return 0;
}
