#include "tools/analysis/descriptive_fit.h"

#include "tools/formats/fit_record.h"

#include <nlopt.h>

#include <algorithm>
#include <cmath>
#include <limits>

void clineRanges(const ClineForm& form, double xmin, double xmax, std::vector<double>& lower,
                 std::vector<double>& upper) {
    const ClineLayout l = clineLayout(form);
    const double span = xmax > xmin ? xmax - xmin : 1.0;
    lower.assign(static_cast<std::size_t>(l.count), 0.0);
    upper.assign(static_cast<std::size_t>(l.count), 1.0);
    auto set = [&](int i, double lo, double hi) {
        if (i >= 0) {
            lower[static_cast<std::size_t>(i)] = lo;
            upper[static_cast<std::size_t>(i)] = hi;
        }
    };
    set(l.centre, xmin - span, xmax + span);
    set(l.width, 1e-4 * span, 10.0 * span);
    set(l.pmin, 0.0, 0.5);
    set(l.pmax, 0.5, 1.0);
    set(l.deltaLeft, 0.0, span);
    set(l.deltaRight, 0.0, span);
}

double clineAicc(double value, int k, int n) {
    return 2.0 * k + 2.0 * value + 2.0 * k * (k + 1.0) / (n - k - 1.0);
}

namespace {

struct Minimisation {
    double (*objective)(const std::vector<double>&, void*);
    void* context;
    std::vector<double> x;
};

double nloptObjective(unsigned n, const double* x, double* gradient, void* data) {
    (void)gradient; // derivative-free algorithms only
    Minimisation& m = *static_cast<Minimisation*>(data);
    m.x.assign(x, x + n);
    const double v = m.objective(m.x, m.context);
    // The library's bookkeeping needs a number; a NaN point is simply a very bad one.
    return std::isnan(v) ? std::numeric_limits<double>::max() : v;
}

// One local search from `x` (changed in place to the best point found); returns its value.
double localSearch(Minimisation& m, const std::vector<double>& lower,
                   const std::vector<double>& upper, std::vector<double>& x, double tolerance) {
    const unsigned n = static_cast<unsigned>(x.size());
    for (std::size_t i = 0; i < x.size(); i++) {
        x[i] = std::min(std::max(x[i], lower[i]), upper[i]);
    }
    m.x = x;
    double value = m.objective(x, m.context);
    if (std::isnan(value)) {
        value = std::numeric_limits<double>::max();
    }
    if (n == 0) {
        return value;
    }
    // BOBYQA models the function by quadratics: fast on these smooth surfaces; it needs two
    // dimensions, so a single parameter goes to the simplex.
    nlopt_opt opt = nlopt_create(n >= 2 ? NLOPT_LN_BOBYQA : NLOPT_LN_NELDERMEAD, n);
    if (opt == nullptr) {
        return value;
    }
    std::vector<double> step(x.size());
    for (std::size_t i = 0; i < x.size(); i++) {
        // A first step a tenth of the range: the library keeps the trial points inside it.
        step[i] = 0.1 * (upper[i] - lower[i]);
    }
    std::vector<double> trial = x;
    double found = value;
    const bool ready = nlopt_set_lower_bounds(opt, lower.data()) == NLOPT_SUCCESS &&
                       nlopt_set_upper_bounds(opt, upper.data()) == NLOPT_SUCCESS &&
                       nlopt_set_min_objective(opt, nloptObjective, &m) == NLOPT_SUCCESS &&
                       nlopt_set_initial_step(opt, step.data()) == NLOPT_SUCCESS &&
                       nlopt_set_xtol_rel(opt, 1e-3 * tolerance) == NLOPT_SUCCESS &&
                       nlopt_set_ftol_abs(opt, tolerance) == NLOPT_SUCCESS &&
                       nlopt_set_maxeval(opt, 4000) == NLOPT_SUCCESS;
    if (ready) {
        const nlopt_result status = nlopt_optimize(opt, trial.data(), &found);
        // A stop for round-off or the evaluation cap still leaves the best point seen.
        if ((status > 0 || status == NLOPT_ROUNDOFF_LIMITED) && found <= value) {
            x = trial;
            value = found;
        }
    }
    nlopt_destroy(opt);
    return value;
}

} // namespace

double minimiseWithin(double (*objective)(const std::vector<double>& x, void* context),
                      void* context, const std::vector<double>& lower,
                      const std::vector<double>& upper,
                      const std::vector<std::vector<double>>& starts, std::vector<double>& best,
                      double tolerance) {
    Minimisation m{objective, context, {}};
    double bestValue = std::numeric_limits<double>::infinity();
    // The starts only have to find the best basin; the winner is then searched to the end.
    const double rough = starts.size() > 1 ? std::max(tolerance, 1e-4) : tolerance;
    for (const std::vector<double>& start : starts) {
        std::vector<double> x = start;
        const double v = localSearch(m, lower, upper, x, rough);
        if (best.empty() || v < bestValue) {
            bestValue = v;
            best = x;
        }
    }
    // Restarting where the search stopped renews its model of the surface; a single precise
    // search (a profile point from its neighbour's optimum) needs no second one.
    if (!best.empty() && (starts.size() > 1 || tolerance < 1e-8)) {
        std::vector<double> x = best;
        const double v = localSearch(m, lower, upper, x, tolerance);
        if (v < bestValue) {
            bestValue = v;
            best = x;
        }
    }
    return bestValue;
}

namespace {

// The likelihood over the search's coordinates: the width as its logarithm (its range spans
// five orders of magnitude), the others as they are; `fixed` >= 0 holds one coordinate at
// `fixedValue` and leaves it out of the searched vector.
struct Problem {
    const ClineForm* form;
    const ClineData* data;
    int widthIndex;
    int fixed = -1;
    double fixedValue = 0.0;
    std::vector<double> full; // scratch: the whole vector in natural units
};

void toNatural(const Problem& p, const std::vector<double>& searched, std::vector<double>& out) {
    out.clear();
    std::size_t j = 0;
    const std::size_t count = searched.size() + (p.fixed >= 0 ? 1 : 0);
    for (std::size_t i = 0; i < count; i++) {
        const double t = static_cast<int>(i) == p.fixed ? p.fixedValue : searched[j++];
        out.push_back(static_cast<int>(i) == p.widthIndex ? std::exp(t) : t);
    }
}

double problemValue(const std::vector<double>& searched, void* context) {
    Problem& p = *static_cast<Problem*>(context);
    toNatural(p, searched, p.full);
    return clineNegLogLikelihood(*p.form, p.full, *p.data);
}

std::vector<double> without(const std::vector<double>& v, int index) {
    std::vector<double> out;
    for (std::size_t i = 0; i < v.size(); i++) {
        if (static_cast<int>(i) != index) {
            out.push_back(v[i]);
        }
    }
    return out;
}

// The starts of a fit: a grid of centres and widths over the data, the tails and deficit
// at a few typical values; plus, for a stepped form, the sigmoid's own optimum with tails.
std::vector<std::vector<double>> startPoints(const ClineForm& form, double xmin, double xmax,
                                             const std::vector<double>& sigmoidBest) {
    const ClineLayout l = clineLayout(form);
    const double span = xmax > xmin ? xmax - xmin : 1.0;
    std::vector<std::vector<double>> starts;
    auto withTails = [&](std::vector<double> x, double width, double delta, double tau) {
        auto set = [&x](int i, double v) {
            if (i >= 0) {
                x[static_cast<std::size_t>(i)] = v;
            }
        };
        set(l.pmin, 0.02);
        set(l.pmax, 0.98);
        set(l.deltaLeft, delta * width);
        set(l.deltaRight, delta * width);
        set(l.tauLeft, tau);
        set(l.tauRight, tau);
        return x;
    };
    for (double share : {0.1, 0.3, 0.5, 0.7, 0.9}) {
        for (double w : {0.003, 0.03, 0.15, 0.5}) {
            std::vector<double> x(static_cast<std::size_t>(l.count), 0.0);
            x[static_cast<std::size_t>(l.centre)] = xmin + share * span;
            x[static_cast<std::size_t>(l.width)] = std::log(w * span);
            x[static_cast<std::size_t>(l.deficit)] = 0.1;
            starts.push_back(withTails(x, w * span, 0.5, 0.3));
        }
    }
    if (!sigmoidBest.empty()) {
        const double width = std::exp(sigmoidBest[1]);
        for (double delta : {0.25, 1.0}) {
            for (double tau : {0.1, 0.5}) {
                std::vector<double> x(static_cast<std::size_t>(l.count), 0.0);
                x[0] = sigmoidBest[0];
                x[1] = sigmoidBest[1];
                x[static_cast<std::size_t>(l.deficit)] = sigmoidBest.back();
                starts.push_back(withTails(x, width, delta, tau));
            }
        }
    }
    return starts;
}

// The profile value with coordinate `index` held at `t`, searched from `from` (updated).
double profileAt(Problem& p, int index, double t, const std::vector<double>& lower,
                 const std::vector<double>& upper, std::vector<double>& from) {
    p.fixed = index;
    p.fixedValue = t;
    std::vector<double> best;
    const double v = minimiseWithin(problemValue, &p, without(lower, index), without(upper, index),
                                    {from}, best, 1e-5);
    from = best;
    p.fixed = -1;
    return v;
}

// One support limit of coordinate `index` on the side `direction` (+1 or -1) of the optimum
// `optimum` (value `value`): where the profile crosses value + 2, by doubling steps and then
// false position. Sets `open` when the range's end comes first. A profile point below the
// minimum is returned in `better`.
double supportLimit(Problem& p, int index, int direction, const std::vector<double>& optimum,
                    double value, const std::vector<double>& lower,
                    const std::vector<double>& upper, bool& open, std::vector<double>& better,
                    double& betterValue) {
    const std::size_t i = static_cast<std::size_t>(index);
    const double target = value + 2.0;
    const double end = direction > 0 ? upper[i] : lower[i];
    double inside = optimum[i];
    double insideExcess = -2.0;
    std::vector<double> insideRest = without(optimum, index);
    double step = 0.02 * (upper[i] - lower[i]);
    double outside = inside;
    double outsideExcess = 0.0;
    open = true;
    while (true) {
        double t = inside + direction * step;
        if ((direction > 0 && t >= end) || (direction < 0 && t <= end)) {
            t = end;
        }
        std::vector<double> rest = insideRest;
        const double v = profileAt(p, index, t, lower, upper, rest);
        if (v < betterValue - 1e-6) {
            betterValue = v;
            better = rest;
            better.insert(better.begin() + index, t);
        }
        if (v - target >= 0.0) {
            outside = t;
            outsideExcess = v - target;
            open = false;
            break;
        }
        inside = t;
        insideExcess = v - target;
        insideRest = rest;
        if (t == end) {
            return end;
        }
        step *= 2.0;
    }
    // False position with the Illinois change: the bracket shrinks from both sides.
    int lastSide = 0;
    for (int iteration = 0; iteration < 40; iteration++) {
        const double t =
            outside - outsideExcess * (outside - inside) / (outsideExcess - insideExcess);
        std::vector<double> rest = insideRest;
        const double v = profileAt(p, index, t, lower, upper, rest);
        const double excess = v - target;
        if (std::fabs(excess) < 1e-2 || std::fabs(outside - inside) < 1e-9 * (1.0 + std::fabs(t))) {
            return t;
        }
        if (excess < 0.0) {
            inside = t;
            insideExcess = excess;
            insideRest = rest;
            if (lastSide < 0) {
                outsideExcess /= 2.0;
            }
            lastSide = -1;
        } else {
            outside = t;
            outsideExcess = excess;
            if (lastSide > 0) {
                insideExcess /= 2.0;
            }
            lastSide = 1;
        }
    }
    return 0.5 * (inside + outside);
}

} // namespace

DescriptiveFit fitCline(const ClineForm& form, const ClineData& data, bool limits) {
    const double started = threadCpuSeconds();
    DescriptiveFit fit;
    fit.form = form;
    fit.sRises = data.sRises;
    fit.individuals = data.individuals;
    const ClineLayout l = clineLayout(form);
    fit.k = l.count;
    double xmin = data.x.empty() ? 0.0 : *std::min_element(data.x.begin(), data.x.end());
    double xmax = data.x.empty() ? 1.0 : *std::max_element(data.x.begin(), data.x.end());
    std::vector<double> lower;
    std::vector<double> upper;
    clineRanges(form, xmin, xmax, lower, upper);
    lower[1] = std::log(lower[1]);
    upper[1] = std::log(upper[1]);

    // A stepped form starts from the sigmoid's optimum as well as from the grid.
    std::vector<double> sigmoidBest;
    if (form.tails != ClineTails::none) {
        ClineForm sigmoid = form;
        sigmoid.tails = ClineTails::none;
        sigmoid.freeEnds = false;
        std::vector<double> sl;
        std::vector<double> su;
        clineRanges(sigmoid, xmin, xmax, sl, su);
        sl[1] = std::log(sl[1]);
        su[1] = std::log(su[1]);
        Problem sp{&sigmoid, &data, 1, -1, 0.0, {}};
        minimiseWithin(problemValue, &sp, sl, su, startPoints(sigmoid, xmin, xmax, {}),
                       sigmoidBest);
    }
    Problem p{&form, &data, 1, -1, 0.0, {}};
    std::vector<std::vector<double>> starts = startPoints(form, xmin, xmax, sigmoidBest);
    if (form.tails == ClineTails::both) {
        // Tails on both sides start from each one-sided optimum, the other tail joined far
        // out (a share of a span) and at either end of its decay.
        for (ClineTails side : {ClineTails::left, ClineTails::right}) {
            const DescriptiveFit one =
                fitCline(ClineForm{side, form.deficit, form.freeEnds}, data, false);
            const ClineLayout o = clineLayout(one.form);
            for (double tau : {0.05, 1.0}) {
                std::vector<double> x(static_cast<std::size_t>(l.count), 0.0);
                for (int i = 0; i < o.count; i++) {
                    const std::string& name = one.parameters[static_cast<std::size_t>(i)].name;
                    const int at = name == "centre"        ? l.centre
                                   : name == "width"       ? l.width
                                   : name == "pmin"        ? l.pmin
                                   : name == "pmax"        ? l.pmax
                                   : name == "delta_left"  ? l.deltaLeft
                                   : name == "tau_left"    ? l.tauLeft
                                   : name == "delta_right" ? l.deltaRight
                                   : name == "tau_right"   ? l.tauRight
                                                           : l.deficit;
                    x[static_cast<std::size_t>(at)] = one.theta[static_cast<std::size_t>(i)];
                }
                x[static_cast<std::size_t>(l.width)] =
                    std::log(x[static_cast<std::size_t>(l.width)]);
                const int delta = side == ClineTails::left ? l.deltaRight : l.deltaLeft;
                const int decay = side == ClineTails::left ? l.tauRight : l.tauLeft;
                x[static_cast<std::size_t>(delta)] = 0.25 * (xmax - xmin);
                x[static_cast<std::size_t>(decay)] = tau;
                starts.push_back(x);
            }
        }
    }
    std::vector<double> best;
    double value = minimiseWithin(problemValue, &p, lower, upper, starts, best);

    std::vector<ClineEstimate> estimates(static_cast<std::size_t>(l.count));
    const std::vector<std::string> names = parameterNames(form);
    // A profile that finds a lower point than the fit restarts the limits from there.
    for (int attempt = 0; attempt < 5; attempt++) {
        std::vector<double> better;
        double betterValue = value;
        for (int i = 0; i < l.count && limits; i++) {
            ClineEstimate& e = estimates[static_cast<std::size_t>(i)];
            e.lower =
                supportLimit(p, i, -1, best, value, lower, upper, e.lowerOpen, better, betterValue);
            e.upper =
                supportLimit(p, i, +1, best, value, lower, upper, e.upperOpen, better, betterValue);
        }
        if (better.empty()) {
            break;
        }
        std::vector<double> polished;
        value = minimiseWithin(problemValue, &p, lower, upper, {better}, polished);
        best = polished;
    }
    toNatural(p, best, fit.theta);
    fit.value = value;
    fit.aicc = clineAicc(value, fit.k, fit.individuals);
    for (int i = 0; i < l.count; i++) {
        const std::size_t k = static_cast<std::size_t>(i);
        ClineEstimate& e = estimates[k];
        e.name = names[k];
        e.estimate = fit.theta[k];
        if (!limits) {
            e.lower = e.upper = e.estimate;
        } else if (i == l.width) {
            e.lower = std::exp(e.lower);
            e.upper = std::exp(e.upper);
        }
    }
    fit.parameters = estimates;
    fit.seconds = threadCpuSeconds() - started;
    return fit;
}

std::vector<DescriptiveFit> fitAllShapes(const Transect& transect, ClineAxis axis,
                                         DeficitShape deficit, bool freeEnds,
                                         const std::string& locus) {
    const ClineData data = clineData(transect, axis);
    std::vector<DescriptiveFit> fits;
    for (ClineTails tails :
         {ClineTails::none, ClineTails::left, ClineTails::right, ClineTails::both}) {
        DescriptiveFit fit = fitCline(ClineForm{tails, deficit, freeEnds}, data);
        fit.axis = axis;
        fit.locus = locus;
        fits.push_back(fit);
    }
    return fits;
}
