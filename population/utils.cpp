#include "population/utils.h"

#include <cmath>

Genotype deterministic(double a, double b) {
    const double x = a - 1;
    const double y = b - 1;
    double p;
    if ((x < 0 && y < 0) || (x > 0 && y > 0)) {
        // Both homozygotes less fit (or both fitter) than the reference: a stable (or unstable)
        // internal equilibrium, read as the frequency of allele S.
        double r = x / (x + y);
        if (y > x) {
            r = 1 - r;
        }
        if (r < 0) {
            p = 0.0;
        } else if (r > 1) {
            p = 1.0;
        } else if (std::isnan(r)) {
            p = 0.0;
        } else {
            p = r;
        }
    } else if (x > y) {
        p = 1.0;
    } else if (x == y) {
        p = 0.5;
    } else {
        // II fitter, or a fitness that is not a number.
        p = 0.0;
    }
    return {p * p, 2 * p * (1 - p), (1 - p) * (1 - p)};
}

double interpolate(double a, double b, double x, double length) {
    return a + (b - a) / length * x;
}
