// The Wilson score interval of a proportion observed in a binomial sample.
#pragma once

// A range of proportions, both ends in [0, 1].
struct ProportionInterval {
    double low = 0.0;
    double high = 1.0;
};

// The 95% Wilson score interval of `successes` of `trials` (0 <= successes <= trials): with
// p = successes / trials, n = trials and z = 1.959963984540054 (the 97.5% normal quantile),
// centre (p + z^2 / 2n) / (1 + z^2 / n) and half-width
// z / (1 + z^2 / n) * sqrt(p (1 - p) / n + z^2 / 4n^2). The whole of [0, 1] for no trials.
ProportionInterval wilsonInterval(int successes, int trials);
