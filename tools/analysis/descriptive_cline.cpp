#include "tools/analysis/descriptive_cline.h"

#include "models/site_likelihood.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <numeric>

const char* tailsName(ClineTails tails) {
    switch (tails) {
    case ClineTails::none:
        return "sigmoid";
    case ClineTails::left:
        return "stepped-left";
    case ClineTails::right:
        return "stepped-right";
    case ClineTails::both:
        return "stepped";
    }
    return "sigmoid";
}

bool parseTails(const std::string& text, ClineTails& tails) {
    for (ClineTails t : {ClineTails::none, ClineTails::left, ClineTails::right, ClineTails::both}) {
        if (text == tailsName(t)) {
            tails = t;
            return true;
        }
    }
    return false;
}

const char* deficitName(DeficitShape deficit) {
    return deficit == DeficitShape::peak ? "peak" : "constant";
}

bool parseDeficit(const std::string& text, DeficitShape& deficit) {
    if (text == "constant" || text == "peak") {
        deficit = text == "peak" ? DeficitShape::peak : DeficitShape::constant;
        return true;
    }
    return false;
}

ClineLayout clineLayout(const ClineForm& form) {
    ClineLayout l;
    int next = 2;
    if (form.freeEnds) {
        l.pmin = next++;
        l.pmax = next++;
    }
    if (form.tails == ClineTails::left || form.tails == ClineTails::both) {
        l.deltaLeft = next++;
        l.tauLeft = next++;
    }
    if (form.tails == ClineTails::right || form.tails == ClineTails::both) {
        l.deltaRight = next++;
        l.tauRight = next++;
    }
    l.deficit = next++;
    l.count = next;
    return l;
}

std::vector<std::string> parameterNames(const ClineForm& form) {
    const ClineLayout l = clineLayout(form);
    std::vector<std::string> names(static_cast<std::size_t>(l.count));
    auto set = [&names](int i, const char* name) {
        if (i >= 0) {
            names[static_cast<std::size_t>(i)] = name;
        }
    };
    set(l.centre, "centre");
    set(l.width, "width");
    set(l.pmin, "pmin");
    set(l.pmax, "pmax");
    set(l.deltaLeft, "delta_left");
    set(l.tauLeft, "tau_left");
    set(l.deltaRight, "delta_right");
    set(l.tauRight, "tau_right");
    set(l.deficit, form.deficit == DeficitShape::peak ? "F_peak" : "F");
    return names;
}

namespace {

double logistic(double z) {
    return 1.0 / (1.0 + std::exp(-z));
}

// The tail beyond a join at distance delta from the centre, d >= 0 further out: the share of
// the far allele left there, (1 - u_delta) exp(-g(d)), where g'(0) = 4 u_delta / w matches
// the sigmoid's slope at the join and g' falls to the decay rate lambda = 4 tau / w over the
// sigmoid's own scale w / 4:
//   g(d) = lambda d + (4 u_delta / w - lambda) (1 - exp(-4 d / w)) / (4 / w).
double tailShare(double delta, double tau, double width, double d) {
    const double rate = 4.0 / width;
    const double uDelta = logistic(rate * delta);
    const double lambda = rate * tau;
    const double g = lambda * d + (rate * uDelta - lambda) * (-std::expm1(-rate * d)) / rate;
    return (1.0 - uDelta) * std::exp(-g);
}

} // namespace

Standardised standardisedCline(const ClineForm& form, const std::vector<double>& theta, double x) {
    const ClineLayout l = clineLayout(form);
    const double c = theta[static_cast<std::size_t>(l.centre)];
    const double w = theta[static_cast<std::size_t>(l.width)];
    const double z = 4.0 * (x - c) / w;
    Standardised s;
    s.u = logistic(z);
    s.p = s.u;
    s.q = logistic(-z);
    if (l.deltaRight >= 0) {
        const double delta = theta[static_cast<std::size_t>(l.deltaRight)];
        if (x > c + delta) {
            s.q = tailShare(delta, theta[static_cast<std::size_t>(l.tauRight)], w, x - c - delta);
            s.p = 1.0 - s.q;
        }
    }
    if (l.deltaLeft >= 0) {
        const double delta = theta[static_cast<std::size_t>(l.deltaLeft)];
        if (x < c - delta) {
            s.p = tailShare(delta, theta[static_cast<std::size_t>(l.tauLeft)], w, c - delta - x);
            s.q = 1.0 - s.p;
        }
    }
    return s;
}

Genotype clineGenotypes(const ClineForm& form, const std::vector<double>& theta, double x,
                        bool sRises) {
    const ClineLayout l = clineLayout(form);
    const Standardised s = standardisedCline(form, theta, x);
    double p = s.p;
    double q = s.q;
    if (form.freeEnds) {
        const double lo = theta[static_cast<std::size_t>(l.pmin)];
        const double hi = theta[static_cast<std::size_t>(l.pmax)];
        p = lo + (hi - lo) * s.p;
        q = (1.0 - hi) + (hi - lo) * s.q;
    }
    double F = theta[static_cast<std::size_t>(l.deficit)];
    if (form.deficit == DeficitShape::peak) {
        F = F * 4.0 * s.u * (1.0 - s.u);
    }
    const double pq = p * q;
    const double floor = DBL_MIN;
    const double pp = std::max(p * p + F * pq, floor);
    const double het = std::max(2.0 * pq * (1.0 - F), floor);
    const double qq = std::max(q * q + F * pq, floor);
    return sRises ? Genotype{pp, het, qq} : Genotype{qq, het, pp};
}

const char* axisName(ClineAxis axis) {
    return axis == ClineAxis::distance ? "distance" : "position";
}

ClineData clineData(const Transect& transect, ClineAxis axis) {
    ClineData d;
    const std::size_t n = transect.positions.size();
    if (axis == ClineAxis::position) {
        d.x = transect.positions;
    } else {
        d.x.assign(n, 0.0);
        for (std::size_t i = 1; i < n; i++) {
            d.x[i] = d.x[i - 1] + transect.distances[i - 1];
        }
    }
    d.nSS.assign(transect.countSS.begin(), transect.countSS.end());
    d.nSI.assign(transect.countSI.begin(), transect.countSI.end());
    d.nII.assign(transect.countII.begin(), transect.countII.end());
    // Orientation: the S allele's share in the lower and the upper half of the sites by x.
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&d](std::size_t a, std::size_t b) { return d.x[a] < d.x[b]; });
    double s[2] = {0.0, 0.0};
    double total[2] = {0.0, 0.0};
    for (std::size_t k = 0; k < n; k++) {
        const std::size_t i = order[k];
        const int half = 2 * k < n ? 0 : 1;
        s[half] += 2.0 * d.nSS[i] + d.nSI[i];
        total[half] += 2.0 * (d.nSS[i] + d.nSI[i] + d.nII[i]);
        d.individuals += transect.countSS[i] + transect.countSI[i] + transect.countII[i];
    }
    d.sRises = s[1] / total[1] > s[0] / total[0];
    return d;
}

double clineNegLogLikelihood(const ClineForm& form, const std::vector<double>& theta,
                             const ClineData& data) {
    double L = 0.0;
    for (std::size_t i = 0; i < data.x.size(); i++) {
        L = addSiteNegLogLikelihood(L, data.nSS[i], data.nSI[i], data.nII[i],
                                    clineGenotypes(form, theta, data.x[i], data.sRises));
    }
    return L;
}
