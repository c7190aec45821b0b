#include "tools/commands/eval.h"
#include "driver/schedule.h"

#include "data/builtin_transect.h"
#include "models/model_table.h"
#include "population/simulation_report.h"
#include "tools/analysis/point_evaluation.h"
#include "tools/commands/models_command.h"
#include "tools/formats/cli.h"
#include "tools/formats/options.h"
#include "tools/formats/state_text.h"
#include "tools/formats/transect_axes.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

const char* const evalHelp =
    "Usage: zonetool eval MODEL X0 X1 ... [--sites FILE] [--objective KIND]\n"
    "\n"
    "Evaluates the objective of MODEL (1 to 10) at the parameter vector X0 X1 ..., which must\n"
    "hold exactly as many values as the model reads. Models 3 to 6 read borders.txt from the\n"
    "working directory. Numbers are read as strtod reads them (nan and inf included).\n"
    "\n"
    "Standard output: whatever the model prints during the evaluation, then the value alone\n"
    "on the last line, with 17 significant digits.\n"
    "Standard error: 'generations: G' and whether the simulation reached equilibrium.\n"
    "With --objective settled the value is the settled one, and standard error says\n"
    "'settled: G generations, KIND, last change C': the generations run in all, the kind of\n"
    "state scored (equilibrium; transient, then equilibrium; quasi-stationary; unsettled,\n"
    "which is a penalty) and the largest larva change of the last generation.\n"
    "With --objective both standard output ends with two lines, zonefit's value and then the\n"
    "settled one, and standard error reads\n"
    "'zonefit: V (G generations); settled: V (G generations, KIND, last change C)'.\n"
    "A point outside its box shows '(no simulation)' instead.\n"
    "\n"
    "Options:\n"
    "  --objective settled|zonefit|both\n"
    "                 the value printed: zonefit's own (the row run until no larva frequency\n"
    "                 moves by 1e-8 in a generation; the default), that of the state the row\n"
    "                 settles in, or both; --sites shows the predictions of the last one\n"
    "  --sites FILE   also write a tab-separated table, one row per site: index, position\n"
    "                 on the transect axis (the x axis of the kernel models' figures),\n"
    "                 distance along the transect summed over neighbouring sites (that of\n"
    "                 the stepping-stone models' figures), both in the data's length unit,\n"
    "                 observed counts SS SI II, predicted frequencies SS SI II (NA when the\n"
    "                 value is a penalty and nothing was simulated)\n"
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable)\n"
    "\n"
    "Parameters X0 X1 ... of each model, in order ('zonetool models' shows their boxes):\n";

int readEvalOptions(const std::vector<std::string>& args, EvalOptions& options, std::ostream& out,
                    std::ostream& err) {
    // Numbers may be negative, so only "--" starts an option.
    return OptionParser(
               "eval", [] { return evalHelp + parameterLines(); }, out, err)
        .value({"--sites"}, "a file name", storeText(options.sitesPath))
        .value({"--objective"}, "a value",
               [&options](const std::string& name, const std::string& value) -> Problem {
                   options.both = value == "both";
                   if (options.both) {
                       options.objective = ObjectiveKind::settled;
                       return "";
                   }
                   return parseObjectiveKind(value, options.objective)
                              ? ""
                              : name + " needs settled, zonefit or both, not '" + value + "'";
               })
        .positional([&options](const std::string& argument) -> Problem {
            options.arguments.push_back(argument);
            return "";
        })
        .check([&options]() -> Problem {
            if (options.arguments.empty()) {
                return "missing MODEL";
            }
            const std::string& text = options.arguments.front();
            return parseModel(text, options.model) ? "" : notAModel(text);
        })
        .check([&options]() -> Problem {
            for (std::size_t i = 1; i < options.arguments.size(); i++) {
                double value = 0.0;
                if (!parseNumber(options.arguments[i], value)) {
                    return "'" + options.arguments[i] + "' is not a number";
                }
                options.point.push_back(value);
            }
            const ModelEntry& model = *findModel(options.model);
            if (static_cast<int>(options.point.size()) != model.parameterCount) {
                return "model " + std::to_string(model.number) + " (" + model.name + ") reads " +
                       std::to_string(model.parameterCount) + " parameters, " +
                       std::to_string(options.point.size()) + " given";
            }
            return "";
        })
        .parse(args);
}

namespace {

// The sites table, written atomically. False with the reason in `error`.
bool writeSites(const Transect& transect, const std::string& path,
                const std::vector<Genotype>& predicted, std::string& error) {
    std::ostringstream out;
    out << "site\tposition\tdistance\tobservedSS\tobservedSI\tobservedII\tpredictedSS\t"
           "predictedSI\tpredictedII\n";
    const std::vector<double> positions = axisPositions(transect);
    const std::vector<double> distances = summedSiteDistances(transect);
    for (int i = 0; i < transect.siteCount(); i++) {
        const auto at = static_cast<std::size_t>(i);
        out << i << '\t' << format17(positions[at]) << '\t' << format17(distances[at]) << '\t'
            << transect.countSS[i] << '\t' << transect.countSI[i] << '\t' << transect.countII[i];
        if (predicted.size() == static_cast<std::size_t>(transect.siteCount())) {
            const Genotype& g = predicted[static_cast<std::size_t>(i)];
            out << '\t' << format17(g.SS) << '\t' << format17(g.SI) << '\t' << format17(g.II);
        } else {
            out << "\tNA\tNA\tNA";
        }
        out << '\n';
    }
    return writeResultFile(path, out.str(), error);
}

} // namespace

int evalCommand(RunContext& ctx, const std::vector<std::string>& args) {
    EvalOptions options;
    const int status = readEvalOptions(args, options, *ctx.out, *ctx.err);
    if (status >= 0) {
        return status;
    }
    const ModelEntry& model = *findModel(options.model);
    if (model.objective == nullptr) {
        *ctx.err << "Model " << model.number << " is not available in this build\n";
        return 1;
    }

    SimulationReport report;
    report.keepPredictions = !options.sitesPath.empty();
    double value = 0.0;
    std::string failure;
    const auto failed = [&failure, &ctx] {
        (*ctx.out).flush();
        *ctx.err << failure << "\n";
        return 1;
    };
    if (options.objective == ObjectiveKind::zonefit || options.both) {
        if (!evaluateRecorded(ctx.data, model, options.point, report, value, failure, ctx.out)) {
            return failed();
        }
    }
    if (options.objective == ObjectiveKind::zonefit) {
        *ctx.out << format17(value) << "\n" << std::flush;
        if (report.runs == 0) {
            *ctx.err << "generations: 0 (no simulation)\n";
        } else {
            *ctx.err << "generations: " << report.generations
                     << (report.converged ? " (equilibrium reached)"
                                          : " (generation cap reached, not at equilibrium)")
                     << "\n";
        }
    } else {
        const double zonefitValue = value;
        const SimulationReport zonefitRun = report;
        SettledReport settled;
        report = SimulationReport{};
        report.keepPredictions = !options.sitesPath.empty();
        if (!evaluateRecorded(ctx.data, model, options.point, ObjectiveKind::settled, report,
                              settled, value, failure, ctx.out)) {
            return failed();
        }
        if (options.both) {
            *ctx.out << format17(zonefitValue) << "\n";
        }
        *ctx.out << format17(value) << "\n" << std::flush;
        if (options.both) {
            *ctx.err << "zonefit: " << format17(zonefitValue) << " ("
                     << (zonefitRun.runs == 0
                             ? std::string("no simulation")
                             : std::to_string(zonefitRun.generations) + " generations" +
                                   (zonefitRun.converged ? "" : ", generation cap reached"))
                     << "); settled: " << format17(value) << " (" << stateDescription(settled)
                     << ")\n";
        } else {
            *ctx.err << "settled: " << stateDescription(settled) << "\n";
        }
    }
    std::string error;
    if (!options.sitesPath.empty() &&
        !writeSites(ctx.data.data(), options.sitesPath, report.predictions, error)) {
        *ctx.err << "zonetool eval: cannot write " << options.sitesPath << " (" << error << ")\n";
        return 1;
    }
    return 0;
}
