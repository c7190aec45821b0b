#include "population/fixed_point.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

constexpr double settledResidual = 1e-13; // |G(x) - x| at which a fixed point is reached
constexpr double roundingFloor = 1e-11;   // a residual that no step can lower below is rounding
constexpr int maximumSteps = 50;
constexpr int halvings = 40;
constexpr int inverseSteps = 20;
constexpr int maximumRises = 4;
constexpr double riseFactor = 10.0;

double largestOf(const std::vector<double>& v) {
    double m = 0.0;
    for (double d : v) {
        m = std::max(m, std::fabs(d));
    }
    return m;
}

// The Euclidean norm of v: Newton's step always lowers it near enough to the start, which the
// largest entry need not do.
double normOf(const std::vector<double>& v) {
    double sum = 0.0;
    for (double d : v) {
        sum += d * d;
    }
    return std::sqrt(sum);
}

// F = G(x) - x; returns |F| (largest entry).
double residual(const RowGeneration& generation, const std::vector<double>& x,
                std::vector<double>& F) {
    generation.apply(x.data(), F.data());
    for (std::size_t k = 0; k < x.size(); ++k) {
        F[k] -= x[k];
    }
    // A non-number never counts as small.
    const double r = largestOf(F);
    for (double f : F) {
        if (std::isnan(f)) {
            return HUGE_VAL;
        }
    }
    return r;
}

// Orthonormalises the columns a and b (Gram-Schmidt); false when they are dependent.
bool orthonormalise(std::vector<double>& a, std::vector<double>& b) {
    double na = 0.0;
    for (double v : a) {
        na += v * v;
    }
    na = std::sqrt(na);
    if (!(na > 0.0) || !std::isfinite(na)) {
        return false;
    }
    for (double& v : a) {
        v /= na;
    }
    double dot = 0.0;
    for (std::size_t k = 0; k < a.size(); ++k) {
        dot += a[k] * b[k];
    }
    double nb = 0.0;
    for (std::size_t k = 0; k < b.size(); ++k) {
        b[k] -= dot * a[k];
        nb += b[k] * b[k];
    }
    nb = std::sqrt(nb);
    if (!(nb > 0.0) || !std::isfinite(nb)) {
        return false;
    }
    for (double& v : b) {
        v /= nb;
    }
    return true;
}

// The largest real part of the eigenvalues of DG on the subspace that block inverse iteration
// with the factorised DG - I (`shifted`) converges to: that of the two eigenvalues nearest 1.
// `plain` is DG - I unfactorised.
bool nearestToOne(const BandMatrix& shifted, const BandMatrix& plain, double& largest) {
    const std::size_t n = static_cast<std::size_t>(plain.size());
    std::vector<double> a(n), b(n);
    // Two fixed, unrelated start vectors.
    for (std::size_t k = 0; k < n; ++k) {
        a[k] = 1.0 + 0.5 * std::sin(0.7 * static_cast<double>(k) + 0.3);
        b[k] = std::cos(1.3 * static_cast<double>(k) + 0.1);
    }
    if (!orthonormalise(a, b)) {
        return false;
    }
    for (int step = 0; step < inverseSteps; ++step) {
        shifted.solve(a.data());
        shifted.solve(b.data());
        if (!orthonormalise(a, b)) {
            return false;
        }
    }
    // H = Y^T DG Y with DG y = (DG - I) y + y.
    std::vector<double> da(n), db(n);
    plain.multiply(a.data(), da.data());
    plain.multiply(b.data(), db.data());
    double h[2][2] = {{0.0, 0.0}, {0.0, 0.0}};
    for (std::size_t k = 0; k < n; ++k) {
        const double ga = da[k] + a[k];
        const double gb = db[k] + b[k];
        h[0][0] += a[k] * ga;
        h[0][1] += a[k] * gb;
        h[1][0] += b[k] * ga;
        h[1][1] += b[k] * gb;
    }
    const double half = 0.5 * (h[0][0] + h[1][1]);
    const double det = h[0][0] * h[1][1] - h[0][1] * h[1][0];
    const double disc = half * half - det;
    largest = disc >= 0.0 ? half + std::sqrt(disc) : half;
    return std::isfinite(largest);
}

} // namespace

bool eigenvaluesNearOne(const RowGeneration& generation, const std::vector<double>& x,
                        double& largest) {
    BandMatrix plain(generation.size(), generation.bandwidth(), generation.bandwidth());
    generation.jacobian(x.data(), 1.0, plain);
    BandMatrix shifted = plain;
    if (!shifted.factorise()) {
        return false;
    }
    return nearestToOne(shifted, plain, largest);
}

bool saddleNearOne(const RowGeneration& generation, const std::vector<double>& x, double& largest) {
    BandMatrix plain(generation.size(), generation.bandwidth(), generation.bandwidth());
    generation.jacobian(x.data(), 1.0, plain);
    BandMatrix shifted = plain;
    if (!shifted.factorise()) {
        return false;
    }
    const int stableSign = generation.size() % 2 == 0 ? 1 : -1;
    if (shifted.determinantSign() == stableSign) {
        return false;
    }
    // An eigenvalue far above 1 flips the sign too, where its direction is closed (a genotype
    // exactly absent): only one near 1 makes a row linger.
    double near = 0.0;
    if (!nearestToOne(shifted, plain, near) || !(near > 1.0)) {
        return false;
    }
    largest = near;
    return true;
}

FixedPointVerdict stableFixedPoint(const RowGeneration& generation, std::vector<double>& x,
                                   double reach, std::vector<double>& adults,
                                   double interiorFloor) {
    const std::size_t n = x.size();
    const int band = generation.bandwidth();
    BandMatrix J(generation.size(), band, band);
    std::vector<double> y = x;
    std::vector<double> F(n), Fn(n), step(n), trial(n);
    double r = residual(generation, y, F);
    double norm = normOf(F);
    int rises = 0; // successive steps that raised the residual
    for (int it = 0; it < maximumSteps && r >= settledResidual; ++it) {
        generation.jacobian(y.data(), 1.0, J);
        if (!J.factorise()) {
            return FixedPointVerdict::singular;
        }
        for (std::size_t k = 0; k < n; ++k) {
            step[k] = -F[k];
        }
        J.solve(step.data());
        // The longest step along which no frequency goes negative.
        double t = 1.0;
        for (std::size_t k = 0; k < n; ++k) {
            if (step[k] < 0.0 && y[k] + step[k] < 0.0) {
                t = std::min(t, y[k] / -step[k]);
            }
        }
        bool lower = false;
        for (int h = 0; h < halvings && t > 0.0; ++h, t *= 0.5) {
            for (std::size_t k = 0; k < n; ++k) {
                trial[k] = y[k] + t * step[k];
            }
            const double rn = residual(generation, trial, Fn);
            const double normN = normOf(Fn);
            // A step along a slow, curved direction raises the residual of the fast ones,
            // which the next steps remove: a few rises are let through.
            const double allowed = rises < maximumRises ? riseFactor * norm : norm;
            if (normN < allowed && rn < HUGE_VAL) {
                rises = normN < norm ? 0 : rises + 1;
                lower = true;
                r = rn;
                norm = normN;
                y.swap(trial);
                F.swap(Fn);
                break;
            }
        }
        if (!lower) {
            if (r < roundingFloor) {
                break;
            }
            return FixedPointVerdict::diverged;
        }
        double moved = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            moved = std::max(moved, std::fabs(y[k] - x[k]));
        }
        if (moved > reach) {
            return FixedPointVerdict::tooFar;
        }
    }
    if (!(r < roundingFloor)) {
        return FixedPointVerdict::diverged;
    }
    for (double v : y) {
        if (!(v >= 0.0 && v <= 1.0)) {
            return FixedPointVerdict::outside;
        }
    }
    // A genotype whose mean frequency over the row is small and still falling fast is being
    // lost from the whole row, not settling. One deme's small frequency says nothing of the
    // kind: far from the zone under strong selection a genotype may rest at 1e-9 in an
    // equilibrium that the plain run approaches only over a million generations.
    const std::size_t demes = n / 3;
    for (std::size_t g = 0; g < 3 && demes > 0; ++g) {
        double limit = 0.0;
        double start = 0.0;
        for (std::size_t i = 0; i < demes; ++i) {
            limit += y[3 * i + g];
            start += x[3 * i + g];
        }
        limit /= static_cast<double>(demes);
        start /= static_cast<double>(demes);
        if (limit < interiorFloor && limit < 0.5 * start) {
            return FixedPointVerdict::boundary;
        }
    }
    // Stability: all eigenvalues of DG below 1 make every real eigenvalue of DG - I negative,
    // so det(DG - I) has the sign (-1)^size; an odd count above 1 flips it.
    BandMatrix plain(generation.size(), band, band);
    generation.jacobian(y.data(), 1.0, plain);
    BandMatrix shifted = plain;
    if (!shifted.factorise()) {
        return FixedPointVerdict::singular;
    }
    const int stableSign = generation.size() % 2 == 0 ? 1 : -1;
    if (shifted.determinantSign() != stableSign) {
        return FixedPointVerdict::unstable;
    }
    double largest = 0.0;
    if (!nearestToOne(shifted, plain, largest) || largest > 1.0) {
        return FixedPointVerdict::unstable;
    }
    std::vector<double> next(n);
    adults.resize(n);
    generation.apply(y.data(), next.data(), adults.data());
    x.swap(y);
    return FixedPointVerdict::accepted;
}
