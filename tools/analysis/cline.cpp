#include "tools/analysis/cline.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

double alleleFrequency(const Genotype& g) {
    return g.SS + g.SI / 2.0;
}

ClineShape clineShape(const std::vector<double>& x, const std::vector<double>& p) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    ClineShape shape{nan, std::numeric_limits<double>::infinity(), 0.0};
    std::vector<std::size_t> order(std::min(x.size(), p.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return x[a] < x[b]; });
    // Sites at one position (a grid model predicts the same there) become one point.
    std::vector<double> xs;
    std::vector<double> ps;
    std::vector<int> counts;
    for (std::size_t i : order) {
        if (!xs.empty() && x[i] == xs.back()) {
            ps.back() += p[i];
            counts.back() += 1;
        } else {
            xs.push_back(x[i]);
            ps.push_back(p[i]);
            counts.push_back(1);
        }
    }
    for (std::size_t k = 0; k < ps.size(); k++) {
        ps[k] /= counts[k];
    }
    if (xs.size() < 2) {
        return shape;
    }
    std::size_t steepest = 0;
    for (std::size_t k = 0; k + 1 < xs.size(); k++) {
        const double slope = std::fabs((ps[k + 1] - ps[k]) / (xs[k + 1] - xs[k]));
        if (slope > shape.maxSlope) {
            shape.maxSlope = slope;
            steepest = k;
        }
    }
    if (shape.maxSlope > 0.0) {
        shape.width = 1.0 / shape.maxSlope;
    }
    std::size_t bestDistance = std::numeric_limits<std::size_t>::max();
    for (std::size_t k = 0; k + 1 < xs.size(); k++) {
        const double a = ps[k] - 0.5;
        const double b = ps[k + 1] - 0.5;
        if (a == b || a * b > 0.0 || (b == 0.0 && k + 2 < xs.size())) {
            // A point exactly at 1/2 is counted once, on the stretch that starts there.
            continue;
        }
        const std::size_t distance = k > steepest ? k - steepest : steepest - k;
        if (distance < bestDistance) {
            bestDistance = distance;
            shape.centre = xs[k] + (0.5 - ps[k]) / (ps[k + 1] - ps[k]) * (xs[k + 1] - xs[k]);
        }
    }
    return shape;
}

double heterozygoteDeficit(const std::vector<Genotype>& predicted,
                           const std::vector<double>& weights) {
    double observed = 0.0;
    double expected = 0.0;
    for (std::size_t i = 0; i < predicted.size() && i < weights.size(); i++) {
        const double p = alleleFrequency(predicted[i]);
        observed += weights[i] * predicted[i].SI;
        expected += weights[i] * 2.0 * p * (1.0 - p);
    }
    if (!(expected > 0.0)) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return 1.0 - observed / expected;
}

double kernelStandardDeviation(const std::vector<double>& points,
                               const std::vector<double>& weights) {
    const std::vector<double> simpson = getSimpson(static_cast<int>(points.size()));
    double total = 0.0;
    double first = 0.0;
    double second = 0.0;
    for (std::size_t k = 0; k < points.size() && k < weights.size(); k++) {
        const double w = weights[k] * simpson[k];
        total += w;
        first += w * points[k];
        second += w * points[k] * points[k];
    }
    const double mean = first / total;
    return std::sqrt(std::max(0.0, second / total - mean * mean));
}
