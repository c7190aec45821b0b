#include "tools/analysis/global_phase.h"

#include "models/settled_objective.h"
#include "optimiser/amebsa.h"

#include <nlopt.h>
// pagmo2 is absent only from cross builds for other processors (Debian's pagmo cannot be
// installed for two architectures at once); there CMA-ES and xNES report that they are missing.
#if ZONEFIT_HAVE_PAGMO
#include <pagmo/algorithms/cmaes.hpp>
#include <pagmo/algorithms/xnes.hpp>
#include <pagmo/population.hpp>
#include <pagmo/problem.hpp>
#endif

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <memory>

namespace {

const struct {
    GlobalMethod method;
    const char* name;
} methodNames[] = {
    {GlobalMethod::simplex, "simplex"}, {GlobalMethod::anneal, "anneal"},
    {GlobalMethod::crs2, "crs2"},       {GlobalMethod::mlsl, "mlsl"},
    {GlobalMethod::cmaes, "cmaes"},     {GlobalMethod::xnes, "xnes"},
};

// The objective over the unit cube of the free parameters: counts evaluations, keeps the best
// point seen, and answers every call past the budget with the largest double, so that a library
// that overruns its limit learns nothing more and the result does not depend on how far it ran.
class UnitObjective {
  public:
    UnitObjective(const ModelContext& context, const ModelEntry& model, ObjectiveKind kind,
                  const std::vector<Region>& regions, const std::vector<double>& start, long budget)
        : model_(&model), objective_{&context, &model, kind}, regions_(regions), base_(start),
          x_(static_cast<int>(start.size())), budget_(budget) {
        for (std::size_t j = 0; j < regions.size(); j++) {
            if (regions[j].high > regions[j].low) {
                free_.push_back(j);
            }
        }
        best.point = start;
        best.value = std::numeric_limits<double>::infinity();
    }

    std::size_t dimension() const { return free_.size(); }
    bool spent() const { return best.evaluations >= budget_; }
    long left() const { return std::max(0L, budget_ - best.evaluations); }

    // The parameter vector of unit coordinates `u`.
    std::vector<double> point(const double* u) const {
        std::vector<double> x = base_;
        for (std::size_t k = 0; k < free_.size(); k++) {
            const std::size_t j = free_[k];
            x[j] = fromSearchUnit(*model_, static_cast<int>(j), regions_[j],
                                  std::min(1.0, std::max(0.0, u[k])));
        }
        return x;
    }

    // The unit coordinates of parameter vector `x`.
    std::vector<double> unit(const std::vector<double>& x) const {
        std::vector<double> u(free_.size());
        for (std::size_t k = 0; k < free_.size(); k++) {
            u[k] =
                toSearchUnit(*model_, static_cast<int>(free_[k]), regions_[free_[k]], x[free_[k]]);
        }
        return u;
    }

    double operator()(const double* u) {
        if (spent()) {
            return std::numeric_limits<double>::max();
        }
        const std::vector<double> x = point(u);
        for (std::size_t j = 0; j < x.size(); j++) {
            x_[static_cast<int>(j)] = x[j];
        }
        double value = objective_(x_);
        // A value that is not a number is no better than any penalty.
        value = value == value ? value : std::numeric_limits<double>::max();
        best.evaluations++;
        if (value < best.value) {
            best.value = value;
            best.point = x;
        }
        return value;
    }

    PhaseResult best;

  private:
    const ModelEntry* model_;
    BoundObjective objective_;
    std::vector<Region> regions_;
    std::vector<double> base_;
    std::vector<std::size_t> free_;
    NRvector<double> x_;
    long budget_;
};

// A random point of the unit cube.
std::vector<double> randomUnit(SplitMix64& rng, std::size_t n) {
    std::vector<double> u(n);
    for (double& v : u) {
        v = rng.open01();
    }
    return u;
}

// The simplex of the annealer in unit coordinates from `u`, with steps of `step`, at
// `temperature`, for at most `evaluations`.
struct UnitCall {
    UnitObjective* f;
    double operator()(const NRvector<double>& u) const { return (*f)(&u[0]); }
};

void simplexFrom(UnitObjective& f, const std::vector<double>& u, double step,
                 const std::vector<double>& temperatures, std::uint64_t seed) {
    const int n = static_cast<int>(u.size());
    NRvector<double> point(n);
    NRvector<double> deltas(n);
    for (int j = 0; j < n; j++) {
        point[j] = u[static_cast<std::size_t>(j)];
        // Steps point inwards, so that the first simplex lies in the cube.
        deltas[j] = point[j] > 0.5 ? -step : step;
    }
    UnitCall call{&f};
    Amebsa<UnitCall> simplex(point, deltas, call, 1e-5, seed);
    for (double t : temperatures) {
        int budget = static_cast<int>(std::min<long>(f.left(), 1000000000L)) /
                     static_cast<int>(temperatures.size());
        if (budget <= 0 || f.spent()) {
            return;
        }
        simplex.anneal(budget, t);
    }
}

// What NLopt's callback needs: the objective, and the optimiser to stop once it is spent (a
// limit of 0 evaluations means none to NLopt).
struct NloptCall {
    UnitObjective* f;
    nlopt_opt opt;
};

double nloptCall(unsigned, const double* x, double*, void* data) {
    NloptCall& call = *static_cast<NloptCall*>(data);
    const double value = (*call.f)(x);
    if (call.f->spent()) {
        nlopt_force_stop(call.opt);
    }
    return value;
}

// One NLopt run; returns its failure message, or "".
std::string runNlopt(UnitObjective& f, const std::vector<double>& u0, nlopt_algorithm algorithm,
                     std::uint64_t seed) {
    const unsigned n = static_cast<unsigned>(f.dimension());
    if (f.spent()) {
        return "";
    }
    // NLopt's generator is per thread in Debian's build; seeding it here makes the run
    // repeatable whatever thread it is on.
    nlopt_srand(static_cast<unsigned long>(seed));
    nlopt_opt opt = nlopt_create(algorithm, n);
    nlopt_opt local = nullptr;
    if (opt == nullptr) {
        return "NLopt could not create its optimiser";
    }
    const std::vector<double> lower(n, 0.0);
    const std::vector<double> upper(n, 1.0);
    nlopt_set_lower_bounds(opt, lower.data());
    nlopt_set_upper_bounds(opt, upper.data());
    NloptCall call{&f, opt};
    nlopt_set_min_objective(opt, nloptCall, &call);
    nlopt_set_maxeval(opt, static_cast<int>(std::min<long>(f.left(), 1000000000L)));
    if (algorithm == NLOPT_G_MLSL_LDS) {
        local = nlopt_create(NLOPT_LN_SBPLX, n);
        nlopt_set_ftol_abs(local, 1e-6);
        nlopt_set_maxeval(local, std::max(50, static_cast<int>(f.left() / 10)));
        nlopt_set_local_optimizer(opt, local);
    }
    std::vector<double> x = u0;
    double value = 0.0;
    const nlopt_result result = nlopt_optimize(opt, x.data(), &value);
    std::string status;
    if (result < 0 && result != NLOPT_FORCED_STOP && !f.spent()) {
        const char* message = nlopt_get_errmsg(opt);
        status = std::string("NLopt stopped: ") + nlopt_result_to_string(result) +
                 (message != nullptr ? std::string(" (") + message + ")" : std::string());
    }
    nlopt_destroy(opt);
    if (local != nullptr) {
        nlopt_destroy(local);
    }
    return status;
}

#if ZONEFIT_HAVE_PAGMO
// The problem pagmo's algorithms see: the unit cube and the counted objective.
struct PagmoProblem {
    UnitObjective* f = nullptr;
    pagmo::vector_double fitness(const pagmo::vector_double& u) const { return {(*f)(u.data())}; }
    std::pair<pagmo::vector_double, pagmo::vector_double> get_bounds() const {
        return {pagmo::vector_double(f->dimension(), 0.0),
                pagmo::vector_double(f->dimension(), 1.0)};
    }
};

// Restarted runs of a pagmo evolution strategy until the budget is spent; the first from
// `u0`, the others from random points.
std::string runPagmo(UnitObjective& f, const std::vector<double>& u0, GlobalMethod method,
                     std::uint64_t seed) {
    const std::size_t n = f.dimension();
    const unsigned lambda = 4 + static_cast<unsigned>(3.0 * std::log(static_cast<double>(n)));
    SplitMix64 rng(seed);
    std::vector<double> mean = u0;
    try {
        while (f.left() > static_cast<long>(2 * lambda)) {
            const unsigned generations =
                static_cast<unsigned>(f.left() / lambda) - 1; // the first population counts
            const unsigned runSeed = static_cast<unsigned>(rng.next() >> 32);
            pagmo::problem problem{PagmoProblem{&f}};
            pagmo::population population(problem, 0u, runSeed);
            population.push_back(mean);
            for (unsigned i = 1; i < lambda; i++) {
                population.push_back(randomUnit(rng, n));
            }
            if (method == GlobalMethod::cmaes) {
                pagmo::cmaes algorithm(generations, -1, -1, -1, -1, 0.3, 1e-6, 1e-6, false, true,
                                       runSeed);
                algorithm.evolve(population);
            } else {
                pagmo::xnes algorithm(generations, -1, -1, -1, 0.3, 1e-6, 1e-6, false, true,
                                      runSeed);
                algorithm.evolve(population);
            }
            mean = randomUnit(rng, n);
        }
    } catch (const std::exception& e) {
        return std::string("pagmo stopped: ") + e.what();
    } catch (...) {
        return "pagmo stopped";
    }
    return "";
}
#else
std::string runPagmo(UnitObjective& f, const std::vector<double>& u0, GlobalMethod method,
                     std::uint64_t seed) {
    static_cast<void>(f);
    static_cast<void>(u0);
    static_cast<void>(method);
    static_cast<void>(seed);
    return "this build has no pagmo2: CMA-ES and xNES are missing";
}
#endif

// The weakest selection the strength scale resolves, in |ln w|.
constexpr double weakestStrength = 1e-4;

// Whether parameter j is on the strength scale, and the largest |ln w| of its region.
bool strengthScale(const ModelEntry& model, int j, const Region& r, double& largest) {
    if (j < 0 || j >= model.parameterCount || model.parameters[j].name[0] != 'w' || !r.log ||
        !(r.low < 1.0 && r.high > 1.0)) {
        return false;
    }
    largest = std::max(-std::log(r.low), std::log(r.high));
    return largest > weakestStrength;
}

} // namespace

double fromSearchUnit(const ModelEntry& model, int j, const Region& region, double u) {
    double largest = 0.0;
    if (!strengthScale(model, j, region, largest)) {
        return fromUnit(region, u);
    }
    const double v = 2.0 * u - 1.0;
    const double s = std::exp(std::log(weakestStrength) +
                              std::fabs(v) * (std::log(largest) - std::log(weakestStrength)));
    const double w = std::exp(v < 0.0 ? -s : s);
    return std::min(region.high, std::max(region.low, w));
}

double toSearchUnit(const ModelEntry& model, int j, const Region& region, double x) {
    double largest = 0.0;
    if (!strengthScale(model, j, region, largest)) {
        return toUnit(region, x);
    }
    if (!(x > 0.0)) {
        return 0.0;
    }
    const double lnw = std::log(x);
    const double s = std::max(std::fabs(lnw), weakestStrength);
    const double v = std::min(1.0, (std::log(s) - std::log(weakestStrength)) /
                                       (std::log(largest) - std::log(weakestStrength)));
    return lnw < 0.0 ? 0.5 - 0.5 * v : 0.5 + 0.5 * v;
}

std::vector<double> searchSteps(const ModelEntry& model, const std::vector<Region>& regions,
                                const std::vector<double>& point, double fraction) {
    std::vector<double> steps(point.size(), 0.0);
    for (std::size_t j = 0; j < point.size() && j < regions.size(); j++) {
        const Region& r = regions[j];
        if (!(r.high > r.low)) {
            continue;
        }
        const int k = static_cast<int>(j);
        const double u = toSearchUnit(model, k, r, point[j]);
        const double to = u + fraction <= 1.0 ? u + fraction : u - fraction;
        // From the clamped point's image, so that a point beyond the region's edge takes the
        // edge's step rather than one that leaps back across the region.
        steps[j] = fromSearchUnit(model, k, r, to) - fromSearchUnit(model, k, r, u);
    }
    return steps;
}

const char* globalMethodName(GlobalMethod method) {
    for (const auto& m : methodNames) {
        if (m.method == method) {
            return m.name;
        }
    }
    return "?";
}

bool parseGlobalMethod(const std::string& text, GlobalMethod& method) {
    for (const auto& m : methodNames) {
        if (text == m.name) {
            method = m.method;
            return true;
        }
    }
    return false;
}

PhaseResult runGlobalPhase(const ModelContext& context, const ModelEntry& model, ObjectiveKind kind,
                           const std::vector<Region>& regions, const std::vector<double>& start,
                           GlobalMethod method, long budget, std::uint64_t seed) {
    UnitObjective f(context, model, kind, regions, start, std::max(1L, budget));
    const std::vector<double> u0 = f.unit(start);
    // The start is the first point of every method, and the answer when none is better.
    f(u0.data());
    if (f.dimension() == 0) {
        return f.best;
    }
    SplitMix64 rng(seed);
    switch (method) {
    case GlobalMethod::simplex: {
        std::vector<double> u = u0;
        while (!f.spent()) {
            simplexFrom(f, u, 0.1, {0.0}, rng.next());
            u = randomUnit(rng, f.dimension());
        }
        break;
    }
    case GlobalMethod::anneal:
        // Temperatures in units of -lnL: from the spread between optima down to none.
        simplexFrom(f, u0, 0.1, {30.0, 10.0, 3.0, 1.0, 0.0}, rng.next());
        break;
    case GlobalMethod::crs2:
    case GlobalMethod::mlsl:
        f.best.status = runNlopt(
            f, u0, method == GlobalMethod::crs2 ? NLOPT_GN_CRS2_LM : NLOPT_G_MLSL_LDS, rng.next());
        break;
    case GlobalMethod::cmaes:
    case GlobalMethod::xnes:
        f.best.status = runPagmo(f, u0, method, rng.next());
        break;
    }
    return f.best;
}
