#include "tools/analysis/wilson_interval.h"

#include <algorithm>
#include <cmath>

ProportionInterval wilsonInterval(int successes, int trials) {
    ProportionInterval interval;
    if (trials <= 0) {
        return interval;
    }
    const double z = 1.959963984540054;
    const double n = trials;
    const double p = successes / n;
    const double shrink = 1.0 + z * z / n;
    const double centre = (p + z * z / (2.0 * n)) / shrink;
    const double half = z / shrink * std::sqrt(p * (1.0 - p) / n + z * z / (4.0 * n * n));
    // At 0 or all successes one end is exactly 0 or 1; rounding must not push it past.
    interval.low = std::max(0.0, centre - half);
    interval.high = std::min(1.0, centre + half);
    if (successes == 0) {
        interval.low = 0.0;
    }
    if (successes == trials) {
        interval.high = 1.0;
    }
    return interval;
}
