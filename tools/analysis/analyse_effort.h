// How much work `zonetool analyse` spends per model at each effort, and the time that should take.
#pragma once

#include <string>

// The three efforts a user chooses from.
enum class Effort { quick, standard, thorough };

// "quick", "standard" or "thorough".
const char* effortName(Effort effort);

// Reads an effort name; false for anything else.
bool parseEffort(const std::string& text, Effort& effort);

// The budgets of one effort, per model.
struct EffortBudget {
    int searchStarts = 0;        // design starts of the multi-start search
    int searchBudget = 0;        // evaluations per start, at most
    bool annealing = false;      // fit by zonefit's annealing schedule (else a simplex polish)
    int polishBudget = 0;        // evaluations of the polish, when not annealing
    long profileEvaluations = 0; // per re-optimisation of a profile point, at most
    int profileSteps = 0;        // steps per side before giving up
    double profileTolerance = 0; // bisection tolerance, a fraction of the first step
    int profileBisections = 0;   // bisection steps per limit at most
    int profileRestarts = 0;     // moves of the estimate at most
};

EffortBudget effortBudget(Effort effort);

// Objective evaluations the annealing schedule makes, about (ten annealers).
constexpr long annealingEvaluations = 180000;

// Evaluations expected of one model with `parameters` parameters at `budget`, stage by stage:
// the search at its full budget (an upper bound: most starts converge earlier), the fit, and
// the profile as 2 sides x (6 steps + 6 bisections) points per parameter, each point a
// re-optimisation of about 40 evaluations per parameter (capped by the budget).
struct StageEvaluations {
    long search = 0;
    long fit = 0;
    long profile = 0;
    long total() const { return search + fit + profile; }
};
StageEvaluations expectedEvaluations(const EffortBudget& budget, int parameters);

// The wall time left when a stage starts, in seconds: `evaluating` holds the estimates of the
// stages that evaluate the objective (searches, fits, profiles) still to run, this one included
// when it is one, scaled by how such stages kept to their estimates so far (`actual` seconds
// taken against `estimated`; unscaled before any ran); `others` the estimates of the rest
// (derived quantities, figures, clines, report), which slow evaluations do not lengthen.
double etaSeconds(double evaluating, double others, double estimated, double actual);

// Seconds as "45 s", "12 min" or "2.5 h", for estimates.
std::string roughDuration(double seconds);
