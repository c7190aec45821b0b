#include "tools/analysis/cline_concordance.h"

#include <boost/math/distributions/chi_squared.hpp>

#include <algorithm>
#include <cmath>

namespace {

// The joint vector: centre, log width, then each locus's other parameters in its own order.
struct Joint {
    const ClineForm* form;
    const std::vector<ClineData>* data;
    int rest; // parameters per locus besides centre and width
    std::vector<double> theta;
};

double jointValue(const std::vector<double>& x, void* context) {
    Joint& j = *static_cast<Joint*>(context);
    double total = 0.0;
    for (std::size_t l = 0; l < j.data->size(); l++) {
        j.theta.assign({x[0], std::exp(x[1])});
        const std::size_t from = 2 + l * static_cast<std::size_t>(j.rest);
        j.theta.insert(j.theta.end(), x.begin() + static_cast<long>(from),
                       x.begin() + static_cast<long>(from) + j.rest);
        total += clineNegLogLikelihood(*j.form, j.theta, (*j.data)[l]);
    }
    return total;
}

} // namespace

ClineConcordance testConcordance(const std::vector<ClineData>& data,
                                 const std::vector<DescriptiveFit>& separate) {
    ClineConcordance c;
    c.form = separate.front().form;
    const int k = separate.front().k;
    const int rest = k - 2;
    int individuals = 0;
    double xmin = data.front().x.front();
    double xmax = xmin;
    for (std::size_t l = 0; l < data.size(); l++) {
        c.separateValue += separate[l].value;
        c.separateK += separate[l].k;
        individuals += separate[l].individuals;
        for (double x : data[l].x) {
            xmin = std::min(xmin, x);
            xmax = std::max(xmax, x);
        }
    }
    std::vector<double> lo;
    std::vector<double> hi;
    clineRanges(c.form, xmin, xmax, lo, hi);
    std::vector<double> lower{lo[0], std::log(lo[1])};
    std::vector<double> upper{hi[0], std::log(hi[1])};
    for (std::size_t l = 0; l < data.size(); l++) {
        lower.insert(lower.end(), lo.begin() + 2, lo.end());
        upper.insert(upper.end(), hi.begin() + 2, hi.end());
    }
    // Starts: each locus's centre and width with every locus's own other parameters.
    std::vector<std::vector<double>> starts;
    for (const DescriptiveFit& source : separate) {
        std::vector<double> x{source.theta[0], std::log(source.theta[1])};
        for (const DescriptiveFit& own : separate) {
            x.insert(x.end(), own.theta.begin() + 2, own.theta.end());
        }
        starts.push_back(x);
    }
    Joint joint{&c.form, &data, rest, {}};
    std::vector<double> best;
    c.sharedValue = minimiseWithin(jointValue, &joint, lower, upper, starts, best);
    const int loci = static_cast<int>(data.size());
    c.sharedK = 2 + loci * rest;
    c.sharedAicc = clineAicc(c.sharedValue, c.sharedK, individuals);
    c.separateAicc = clineAicc(c.separateValue, c.separateK, individuals);
    c.lr = std::max(0.0, 2.0 * (c.sharedValue - c.separateValue));
    c.df = 2 * (loci - 1);
    // The distribution refuses what is not a finite number (by an exception): ask it only
    // about finite ratios.
    if (std::isfinite(c.lr)) {
        const boost::math::chi_squared_distribution<double> chi(c.df);
        c.p = boost::math::cdf(boost::math::complement(chi, c.lr));
    } else {
        c.p = std::nan("");
    }
    return c;
}
