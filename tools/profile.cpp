#include "tools/profile.h"

#include "data/borders.h"
#include "data/failure_sink.h"
#include "optimiser/amebsa.h"
#include "tools/cli.h"
#include "tools/data_option.h"
#include "tools/progress.h"
#include "tools/results.h"

#include <cmath>
#include <iostream>
#include <limits>
#include <sstream>
#include <unistd.h>

const char* const profileHelp =
    "Usage: zonetool profile MODEL [--result FILE] [--units U] [--parameters NAMES]\n"
    "                              [--step F] [--format table|tsv] [--quiet]\n"
    "\n"
    "Profile-likelihood support limits of the parameters of a fitted model. The fitted point\n"
    "is read from the model's result file (SS1_ML_ for model 1; see 'zonetool models'). For\n"
    "each parameter, on each side of its estimate, the parameter is fixed at values farther\n"
    "and farther away (a first step of F x |estimate|, then doubling, up to the parameter's\n"
    "box); at each value the other parameters are re-optimised by the downhill simplex at\n"
    "temperature 0, starting from the fitted point. Where -lnL has risen by U above its value\n"
    "at the estimate, the crossing is bisected. Each point is a full re-optimisation, so on\n"
    "the real models a profile takes many thousands of simulations per parameter.\n"
    "\n"
    "Output: one row per parameter - name, estimate, lower and upper limit, and 'box' naming\n"
    "the limits that reached the parameter's box (the limit is then the bound itself). A\n"
    "limit written as <x or >x was not reached within the steps allowed; x is the farthest\n"
    "value examined. If a re-optimisation finds a lower -lnL than the estimate's, the fit had\n"
    "not found the maximum, and a warning names the better point.\n"
    "\n"
    "Options:\n"
    "  --data FILE    read the transect from FILE (columns site, position, distance, SS, SI,\n"
    "                 II) instead of the built-in one; the boxes scale with its length\n"
    "  --box NAME=LO:HI  set both bounds of parameter NAME (repeatable)\n"
    "  --result FILE      read the fitted point from FILE instead\n"
    "  --units U          log-likelihood units of the limits (default 2)\n"
    "  --parameters LIST  profile only these parameters (names, comma-separated)\n"
    "  --step F           first step as a fraction of |estimate| (default 0.05)\n"
    "  --format F         table (default) or tsv\n"
    "  --quiet            no progress line on standard error\n";

namespace {

// The objective as a function of all coordinates but one, which stays fixed.
class FixedCoordinate {
  public:
    FixedCoordinate(const ProfiledObjective& objective, const std::vector<double>& start, int index,
                    double value, long& evaluations)
        : objective_(objective), full_(static_cast<int>(start.size())), evaluations_(evaluations) {
        for (std::size_t j = 0; j < start.size(); j++) {
            full_[static_cast<int>(j)] = start[j];
            if (static_cast<int>(j) != index) {
                free_.push_back(static_cast<int>(j));
            }
        }
        full_[index] = value;
    }

    double operator()(const NRvector<double>& reduced) {
        for (std::size_t j = 0; j < free_.size(); j++) {
            full_[free_[j]] = reduced[static_cast<int>(j)];
        }
        evaluations_ += 1;
        return objective_(full_);
    }

    const std::vector<int>& freeCoordinates() const { return free_; }

  private:
    const ProfiledObjective& objective_;
    NRvector<double> full_;
    std::vector<int> free_;
    long& evaluations_;
};

// A first simplex step for coordinate j: a tenth of its value (0.1 at 0), turned inwards when
// the step would leave the box.
double stepFor(double x, const std::vector<ParameterInfo>& boxes, int j) {
    double step = x != 0.0 ? 0.1 * std::fabs(x) : 0.1;
    if (j < static_cast<int>(boxes.size()) &&
        !insideBox(boxes[static_cast<std::size_t>(j)], x + step)) {
        step = -step;
    }
    return step;
}

} // namespace

double profileValue(const ProfiledObjective& objective, const std::vector<double>& start,
                    const std::vector<ParameterInfo>& boxes, int index, double value,
                    const ProfileSettings& settings, std::vector<double>& point,
                    long& evaluations) {
    FixedCoordinate fixed(objective, start, index, value, evaluations);
    const std::vector<int>& freeCoordinates = fixed.freeCoordinates();
    const int n = static_cast<int>(freeCoordinates.size());
    point = start;
    point[static_cast<std::size_t>(index)] = value;
    NRvector<double> current(n);
    for (int j = 0; j < n; j++) {
        current[j] = start[static_cast<std::size_t>(freeCoordinates[static_cast<std::size_t>(j)])];
    }
    if (n == 0) {
        return fixed(current);
    }
    double best = std::numeric_limits<double>::infinity();
    const long budgetEnd = evaluations + settings.maxEvaluations;
    // A simplex can collapse before it reaches the minimum; a fresh one around its result
    // either confirms the point or moves on.
    for (int restart = 0; restart < 10 && evaluations < budgetEnd; restart++) {
        NRvector<double> steps(n);
        for (int j = 0; j < n; j++) {
            steps[j] = stepFor(current[j], boxes, freeCoordinates[static_cast<std::size_t>(j)]);
        }
        Amebsa<FixedCoordinate> simplex(current, steps, fixed, settings.simplexTolerance,
                                        settings.seed);
        bool converged = false;
        while (!converged && evaluations < budgetEnd) {
            int budget = 1000;
            converged = simplex.anneal(budget, 0.0);
        }
        const double found = simplex.vertexValues[0];
        const bool improved = found < best - 1e-12 * std::fabs(best) || restart == 0;
        if (found < best) {
            best = found;
            for (int j = 0; j < n; j++) {
                current[j] = simplex.simplex[0][j];
            }
        }
        if (!improved) {
            break;
        }
    }
    for (int j = 0; j < n; j++) {
        point[static_cast<std::size_t>(freeCoordinates[static_cast<std::size_t>(j)])] = current[j];
    }
    return best;
}

namespace {

struct SideSearch {
    const ProfiledObjective& objective;
    const std::vector<double>& estimate;
    const std::vector<ParameterInfo>& boxes;
    const ProfileSettings& settings;
    const ProfileObserver& observer;
    ProfileOutcome& outcome;

    double at(int index, int side, int point, double value) {
        if (observer) {
            observer(index, side, point, value);
        }
        std::vector<double> best;
        const double v = profileValue(objective, estimate, boxes, index, value, settings, best,
                                      outcome.evaluations);
        if (v < outcome.lowest) {
            outcome.lowest = v;
            outcome.lowestPoint = best;
        }
        return v;
    }

    SupportLimit search(int index, int side) {
        SupportLimit limit;
        const double theta = estimate[static_cast<std::size_t>(index)];
        const double target = outcome.minimum + settings.units;
        const bool boxed = index < static_cast<int>(boxes.size());
        const ParameterInfo box = boxed
                                      ? boxes[static_cast<std::size_t>(index)]
                                      : ParameterInfo{"", "", -unbounded, false, unbounded, false};
        const double bound = side < 0 ? box.lower : box.upper;
        const bool open = side < 0 ? box.lowerOpen : box.upperOpen;
        const double firstStep = settings.firstStep * (theta != 0.0 ? std::fabs(theta) : 1.0);
        double inner = theta;
        double innerValue = outcome.minimum;
        limit.value = theta;
        for (int step = 0; step < settings.maxSteps; step++) {
            double t = theta + side * firstStep * std::ldexp(1.0, step);
            bool atBound = false;
            if (side * (t - bound) >= 0.0) {
                // An open bound is approached to within a billionth of its size.
                t = open ? bound - side * 1e-9 * std::fmax(std::fabs(bound), 1.0) : bound;
                atBound = true;
                if (side * (t - inner) <= 0.0) {
                    limit.value = inner;
                    limit.found = true;
                    limit.atBox = true;
                    return limit;
                }
            }
            limit.points += 1;
            const double value = at(index, side, limit.points, t);
            if (value - outcome.minimum >= settings.units) {
                limit.value = bisect(index, side, inner, innerValue, t, value, target,
                                     settings.tolerance * firstStep, limit.points);
                limit.found = true;
                return limit;
            }
            inner = t;
            innerValue = value;
            limit.value = t;
            if (atBound) {
                limit.found = true;
                limit.atBox = true;
                return limit;
            }
        }
        return limit;
    }

    double bisect(int index, int side, double inner, double innerValue, double outer,
                  double outerValue, double target, double width, int& points) {
        for (int i = 0; i < settings.maxBisections && std::fabs(outer - inner) > width; i++) {
            const double middle = 0.5 * (inner + outer);
            points += 1;
            const double value = at(index, side, points, middle);
            if (value >= target) {
                outer = middle;
                outerValue = value;
            } else {
                inner = middle;
                innerValue = value;
            }
        }
        // Within the last bracket the profile is close to a straight line, unless one end is a
        // penalty: then the inner end is the honest answer.
        if (std::isfinite(outerValue) && outerValue > innerValue && outerValue - target < 1e3) {
            return inner + (target - innerValue) / (outerValue - innerValue) * (outer - inner);
        }
        return inner;
    }
};

} // namespace

ProfileOutcome profileLikelihood(const ProfiledObjective& objective,
                                 const std::vector<double>& estimate,
                                 const std::vector<ParameterInfo>& boxes,
                                 const std::vector<int>& indices, const ProfileSettings& settings,
                                 const ProfileObserver& observer) {
    ProfileOutcome outcome;
    NRvector<double> x(static_cast<int>(estimate.size()));
    for (std::size_t j = 0; j < estimate.size(); j++) {
        x[static_cast<int>(j)] = estimate[j];
    }
    outcome.minimum = objective(x);
    outcome.evaluations = 1;
    outcome.lowest = outcome.minimum;
    outcome.lowestPoint = estimate;
    SideSearch search{objective, estimate, boxes, settings, observer, outcome};
    for (int index : indices) {
        ParameterProfile profile;
        profile.index = index;
        profile.estimate = estimate[static_cast<std::size_t>(index)];
        profile.lower = search.search(index, -1);
        profile.upper = search.search(index, +1);
        outcome.parameters.push_back(profile);
    }
    return outcome;
}

namespace {

std::string limitText(const SupportLimit& limit, int side) {
    const std::string number = formatNumber(limit.value, 6);
    if (limit.found) {
        return number;
    }
    return (side < 0 ? "<" : ">") + number;
}

std::string boxFlag(const ParameterProfile& p) {
    if (p.lower.atBox && p.upper.atBox) {
        return "both";
    }
    if (p.lower.atBox) {
        return "lower";
    }
    if (p.upper.atBox) {
        return "upper";
    }
    return "-";
}

std::vector<std::string> splitNames(const std::string& text) {
    std::vector<std::string> names;
    std::istringstream in(text);
    std::string name;
    while (std::getline(in, name, ',')) {
        names.push_back(name);
    }
    return names;
}

} // namespace

int profileCommand(const std::vector<std::string>& givenArgs) {
    DataContext data;
    std::vector<std::string> args;
    const int dataStatus = readDataOptions("profile", givenArgs, args, data);
    if (dataStatus >= 0) {
        return dataStatus;
    }
    const DataScope dataScope(&data);
    std::string modelText;
    std::string resultPath;
    std::string parameterList;
    bool tsv = false;
    bool quiet = false;
    ProfileSettings settings;
    for (std::size_t i = 0; i < args.size(); i++) {
        const std::string& arg = args[i];
        if (isHelp(arg)) {
            std::cout << profileHelp;
            return 0;
        }
        if (arg == "--quiet") {
            quiet = true;
            continue;
        }
        if (arg == "--result" || arg == "--units" || arg == "--parameters" || arg == "--step" ||
            arg == "--format") {
            if (i + 1 >= args.size()) {
                return usageError("profile", arg + " needs a value");
            }
            const std::string& value = args[++i];
            if (arg == "--result") {
                resultPath = value;
            } else if (arg == "--parameters") {
                parameterList = value;
            } else if (arg == "--format") {
                if (value != "table" && value != "tsv") {
                    return usageError("profile",
                                      "--format needs table or tsv, not '" + value + "'");
                }
                tsv = value == "tsv";
            } else {
                double number = 0.0;
                if (!parseNumber(value, number) || !(number > 0.0) || !std::isfinite(number)) {
                    return usageError("profile",
                                      arg + " needs a positive number, not '" + value + "'");
                }
                (arg == "--units" ? settings.units : settings.firstStep) = number;
            }
        } else if (arg.rfind("--", 0) == 0) {
            return usageError("profile", "unknown option '" + arg + "'");
        } else if (modelText.empty()) {
            modelText = arg;
        } else {
            return usageError("profile", "unexpected argument '" + arg + "'");
        }
    }
    int number = 0;
    if (modelText.empty()) {
        return usageError("profile", "missing MODEL");
    }
    if (!parseModel(modelText, number)) {
        return usageError("profile",
                          "MODEL must be a model number from 1 to 10, not '" + modelText + "'");
    }
    const ModelEntry& model = *findModel(number);
    std::vector<int> indices;
    if (parameterList.empty()) {
        for (int j = 0; j < model.parameterCount; j++) {
            indices.push_back(j);
        }
    } else {
        for (const std::string& name : splitNames(parameterList)) {
            const int index = findParameter(model, name);
            if (index < 0) {
                std::string known;
                for (int j = 0; j < model.parameterCount; j++) {
                    known += std::string(j == 0 ? "" : " ") + model.parameters[j].name;
                }
                return usageError("profile", "model " + std::to_string(model.number) +
                                                 " has no parameter '" + name + "' (it has " +
                                                 known + ")");
            }
            indices.push_back(index);
        }
    }
    if (resultPath.empty()) {
        resultPath = model.prefix;
    }
    StoredResult stored;
    std::string error;
    if (!readResultFile(resultPath, model, stored, error)) {
        std::cerr << "zonetool profile: " << error << "\n";
        return 1;
    }
    if (model.objective == nullptr) {
        std::cerr << "Model " << model.number << " is not available in this build\n";
        return 1;
    }
    if (model.borders == BorderSource::borderFile) {
        Borders borders;
        if (!readBorders(borderFileName, borders, error)) {
            std::cerr << error << "\n";
            return 1;
        }
    }
    // The coordinates past the model's own have no effect and stay as they are.
    const ModelBox& box = activeBox(model.number);
    const std::vector<ParameterInfo> boxes(box.parameters, box.parameters + box.parameterCount);
    for (int index : indices) {
        if (!insideBox(boxes[static_cast<std::size_t>(index)],
                       stored.point[static_cast<std::size_t>(index)])) {
            std::cerr << "zonetool profile: the estimate of " << boxes[index].name << ", "
                      << format17(stored.point[static_cast<std::size_t>(index)])
                      << ", lies outside its box " << boxText(boxes[index]) << "\n";
            return 1;
        }
    }

    StatusLine status(std::cerr, !quiet && isatty(STDERR_FILENO) != 0);
    ProfileObserver observer = [&](int index, int side, int point, double value) {
        status.show(std::string("profile ") + boxes[static_cast<std::size_t>(index)].name +
                    (side < 0 ? " lower" : " upper") + " point " + std::to_string(point) + " at " +
                    formatNumber(value, 8));
    };
    ObjectiveFunction* function = model.objective;
    // Once the border file fails, the searches run out on a constant instead of simulating.
    FailureSink failures;
    const FailureScope failureScope(failures);
    const ProfiledObjective objective = [function, &failures](const NRvector<double>& x) {
        return failures.failed() ? std::numeric_limits<double>::max() : function(x);
    };
    const ProfileOutcome outcome =
        profileLikelihood(objective, stored.point, boxes, indices, settings, observer);
    status.clear();
    if (failures.failed()) {
        std::cerr << failures.message() << "\n";
        return 1;
    }

    std::vector<std::vector<std::string>> table;
    table.push_back({"parameter", "estimate", "lower", "upper", "box"});
    for (const ParameterProfile& p : outcome.parameters) {
        table.push_back({boxes[static_cast<std::size_t>(p.index)].name, formatNumber(p.estimate, 8),
                         limitText(p.lower, -1), limitText(p.upper, +1), boxFlag(p)});
    }
    if (!tsv) {
        std::cout << "Model " << model.number << " (" << model.name << "), " << resultPath
                  << ": -lnL " << formatNumber(outcome.minimum, 10) << " at the estimate; "
                  << "support limits at " << formatNumber(settings.units, 6)
                  << " log-likelihood units\n";
    }
    std::size_t widths[5] = {};
    for (const auto& row : table) {
        for (std::size_t c = 0; c < 5; c++) {
            widths[c] = std::max(widths[c], row[c].size());
        }
    }
    for (const auto& row : table) {
        std::string line;
        for (std::size_t c = 0; c < 5; c++) {
            if (tsv) {
                line += (c == 0 ? "" : "\t") + row[c];
            } else {
                const std::string pad(widths[c] - row[c].size(), ' ');
                line += c == 0 ? row[c] + pad : "  " + (c == 4 ? row[c] : pad + row[c]);
            }
        }
        std::cout << line << "\n";
    }
    std::cout.flush();
    std::cerr << "profile: " << outcome.evaluations << " evaluations\n";
    // Rounding of the re-optimised values aside, a lower value means the fit stopped short.
    if (outcome.lowest < outcome.minimum - 1e-6) {
        std::cerr << "zonetool profile: warning: a re-optimisation found -lnL "
                  << format17(outcome.lowest) << ", below the estimate's "
                  << format17(outcome.minimum) << ", at";
        for (double x : outcome.lowestPoint) {
            std::cerr << " " << format17(x);
        }
        std::cerr << "\nThe fit had not reached the maximum; refit from that point.\n";
    }
    return 0;
}
