#include "tools/analysis/analyse_effort.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

const char* effortName(Effort effort) {
    switch (effort) {
    case Effort::quick:
        return "quick";
    case Effort::standard:
        return "standard";
    case Effort::thorough:
        return "thorough";
    }
    return "standard";
}

bool parseEffort(const std::string& text, Effort& effort) {
    for (Effort e : {Effort::quick, Effort::standard, Effort::thorough}) {
        if (text == effortName(e)) {
            effort = e;
            return true;
        }
    }
    return false;
}

EffortBudget effortBudget(Effort effort) {
    EffortBudget b;
    switch (effort) {
    case Effort::quick:
        // Minutes for a fast model: a handful of starts, a simplex polish instead of the
        // annealing schedule (which alone takes minutes), and coarse profile limits.
        b.searchStarts = 8;
        b.searchBudget = 600;
        b.annealing = false;
        b.polishBudget = 2000;
        // The profiles take nine tenths of a quick analysis: 120 evaluations per point, 4 steps
        // and 2 bisections per side keep the README's first command within 10 minutes.
        b.profileEvaluations = 120;
        b.profileSteps = 4;
        b.profileTolerance = 0.05;
        b.profileBisections = 2;
        b.profileRestarts = 1;
        break;
    case Effort::standard:
        // The settings of fit --from and profile when run by hand; the search runs up to 32
        // searches of 4000 evaluations (explore's own default is 8 of 8000).
        b.searchStarts = 32;
        b.searchBudget = 4000;
        b.annealing = true;
        b.profileEvaluations = 20000;
        b.profileSteps = 20;
        b.profileTolerance = 1e-4;
        b.profileBisections = 60;
        b.profileRestarts = 10;
        break;
    case Effort::thorough:
        b.searchStarts = 128;
        b.searchBudget = 8000;
        b.annealing = true;
        b.profileEvaluations = 40000;
        b.profileSteps = 24;
        b.profileTolerance = 1e-5;
        b.profileBisections = 60;
        b.profileRestarts = 10;
        break;
    }
    return b;
}

StageEvaluations expectedEvaluations(const EffortBudget& budget, int parameters) {
    StageEvaluations e;
    e.search = static_cast<long>(budget.searchStarts) * budget.searchBudget;
    e.fit = budget.annealing ? annealingEvaluations : budget.polishBudget;
    const long perPoint = std::min<long>(budget.profileEvaluations, 40L * parameters);
    const long points = std::min(6, budget.profileSteps) + std::min(6, budget.profileBisections);
    e.profile = 2L * parameters * points * perPoint;
    return e;
}

std::string roughDuration(double seconds) {
    char text[32];
    if (!(seconds >= 0.0) || std::isinf(seconds)) {
        return "unknown";
    }
    if (seconds < 90.0) {
        std::snprintf(text, sizeof text, "%.0f s", std::max(1.0, std::ceil(seconds)));
    } else if (seconds < 5400.0) {
        std::snprintf(text, sizeof text, "%.0f min", std::ceil(seconds / 60.0));
    } else {
        std::snprintf(text, sizeof text, "%.1f h", seconds / 3600.0);
    }
    return text;
}

double etaSeconds(double evaluating, double others, double estimated, double actual) {
    const double scale = estimated > 0.0 ? actual / estimated : 1.0;
    return evaluating * scale + others;
}
