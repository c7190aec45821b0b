// Downhill simplex minimisation with simulated annealing.
#pragma once

#include "optimiser/nr3.h"
#include "optimiser/ran.h"

#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>
#include <utility>
#include <vector>

// The seed every annealer takes by default: the calendar time in whole seconds, low 32 bits.
inline std::uint64_t clockSeed() {
    return static_cast<std::uint32_t>(std::time(nullptr));
}

// Minimises a function of n parameters with a simplex of n + 1 vertices whose comparisons are
// disturbed by thermal noise at temperature T (T = 0 is the plain Nelder-Mead simplex). T is the
// function type; the object keeps a reference to the function for its whole life.
// Everything a later call of anneal depends on, for saving and restoring an annealer
// between calls: the simplex (vertexCount rows of dimension values, row after row), the
// vertex values, the best trial and its value, minus the latest temperature and the
// generator's state word (never 0).
struct AnnealerState {
    int vertexCount = 0;
    int dimension = 0;
    std::vector<double> simplex;
    std::vector<double> vertexValues;
    std::vector<double> bestPoint;
    double bestValue = 0.0;
    double negTemperature = 0.0;
    std::uint64_t generator = 1;
};

template <class T> class Amebsa {
  public:
    // Simplex from a start point: vertex 0 is the point, vertex i (1..n) the point with
    // coordinate i-1 increased by deltas[i-1]. Evaluates all n + 1 vertices.
    Amebsa(const NRvector<double>& point, const NRvector<double>& deltas, T& func, double tol,
           std::uint64_t seed = clockSeed())
        : objective(func), convergenceTolerance(tol), rng(seed),
          bestValue(std::numeric_limits<double>::max()), dimension(point.size()),
          bestPoint(dimension), vertexCount(dimension + 1), vertexValues(vertexCount),
          simplex(vertexCount, dimension), negTemperature(0.0) {
        clearBestPoint();
        for (int i = 0; i < vertexCount; i++) {
            for (int j = 0; j < dimension; j++) {
                simplex[i][j] = point[j];
            }
            if (i != 0) {
                simplex[i][i - 1] += deltas[i - 1];
            }
        }
        inity();
    }

    // Simplex copied from a matrix, one vertex per row (the driver passes n + 1 rows).
    Amebsa(const NRmatrix<double>& start, T& func, double tol, std::uint64_t seed = clockSeed())
        : objective(func), convergenceTolerance(tol), rng(seed),
          bestValue(std::numeric_limits<double>::max()), dimension(start.cols()),
          bestPoint(dimension), vertexCount(start.rows()), vertexValues(vertexCount),
          simplex(start), negTemperature(0.0) {
        clearBestPoint();
        inity();
    }

    // Everything a later call of anneal depends on (see AnnealerState).
    using State = AnnealerState;

    // An annealer that continues from a saved state whose sizes agree (at least 1 column);
    // evaluates nothing.
    Amebsa(const State& state, T& func, double tol)
        : objective(func), convergenceTolerance(tol), rng(0), bestValue(state.bestValue),
          dimension(state.dimension), bestPoint(dimension), vertexCount(state.vertexCount),
          vertexValues(vertexCount), simplex(vertexCount, dimension),
          negTemperature(state.negTemperature) {
        rng.restoreState(state.generator);
        for (int i = 0; i < vertexCount; i++) {
            vertexValues[i] = state.vertexValues[static_cast<std::size_t>(i)];
            for (int j = 0; j < dimension; j++) {
                simplex[i][j] = state.simplex[static_cast<std::size_t>(i * dimension + j)];
            }
        }
        for (int j = 0; j < dimension; j++) {
            bestPoint[j] = state.bestPoint[static_cast<std::size_t>(j)];
        }
    }

    // The state to continue from (see the constructor above).
    State saveState() const {
        State state;
        state.vertexCount = vertexCount;
        state.dimension = dimension;
        for (int i = 0; i < vertexCount; i++) {
            state.vertexValues.push_back(vertexValues[i]);
            for (int j = 0; j < dimension; j++) {
                state.simplex.push_back(simplex[i][j]);
            }
        }
        for (int j = 0; j < dimension; j++) {
            state.bestPoint.push_back(bestPoint[j]);
        }
        state.bestValue = bestValue;
        state.negTemperature = negTemperature;
        state.generator = rng.currentState();
        return state;
    }

    // Moves the simplex at the given temperature until its noisy vertex values agree within
    // the tolerance (returns true) or the budget, counted down by one per evaluation, falls
    // below 0 (returns false). Row 0 of the simplex is then the vertex that ranked best.
    bool anneal(int& budget, const double temperature) {
        negTemperature = -temperature;
        NRvector<double> vertexSum(dimension);
        columnSums(vertexSum);
        for (;;) {
            int best;
            int worst;
            double low;
            double high;
            const double a0 = vertexValues[0] + negTemperature * std::log(rng.uniform());
            const double a1 = vertexValues[1] + negTemperature * std::log(rng.uniform());
            if (a0 > a1) {
                worst = 0;
                best = 1;
                high = a0;
                low = a1;
            } else {
                worst = 1;
                best = 0;
                high = a1;
                low = a0;
            }
            double nextHigh = low;
            for (int i = 2; i < vertexCount; i++) {
                const double a = vertexValues[i] + negTemperature * std::log(rng.uniform());
                if (a <= low) {
                    best = i;
                    low = a;
                }
                if (a > high) {
                    nextHigh = high;
                    worst = i;
                    high = a;
                } else if (a > nextHigh) {
                    nextHigh = a;
                }
            }
            const double rtol = 2.0 * std::fabs(high - low) / (std::fabs(low) + std::fabs(high));
            if (rtol < convergenceTolerance || budget < 0) {
                std::swap(vertexValues[0], vertexValues[best]);
                for (int j = 0; j < dimension; j++) {
                    std::swap(simplex[0][j], simplex[best][j]);
                }
                return rtol < convergenceTolerance;
            }
            budget -= 2;
            double y = amotsa(simplex, vertexValues, vertexSum, worst, high, -1.0);
            if (y <= low) {
                amotsa(simplex, vertexValues, vertexSum, worst, high, 2.0);
            } else if (y >= nextHigh) {
                const double saved = high;
                y = amotsa(simplex, vertexValues, vertexSum, worst, high, 0.5);
                if (y >= saved) {
                    for (int i = 0; i < vertexCount; i++) {
                        if (i != best) {
                            for (int j = 0; j < dimension; j++) {
                                simplex[i][j] = 0.5 * (simplex[i][j] + simplex[best][j]);
                                vertexSum[j] = simplex[i][j];
                            }
                            vertexValues[i] = objective(vertexSum);
                        }
                    }
                    budget -= dimension;
                    columnSums(vertexSum);
                }
            } else {
                budget += 1;
            }
        }
    }

    // Evaluates the objective at every vertex, in row order.
    void inity() {
        NRvector<double> x(dimension);
        for (int i = 0; i < vertexCount; i++) {
            for (int j = 0; j < dimension; j++) {
                x[j] = simplex[i][j];
            }
            vertexValues[i] = objective(x);
        }
    }

    // One trial on the line from the centroid of the other vertices through vertex `worst`,
    // at `factor` times the worst vertex's distance from that centroid. Records the best trial,
    // accepts the trial when its noisy value beats `worstValue` (which it then lowers), and
    // returns the noisy value.
    double amotsa(NRmatrix<double>& p, NRvector<double>& values, NRvector<double>& vertexSum,
                  const int worst, double& worstValue, const double factor) {
        const double fac1 = (1.0 - factor) / dimension;
        const double fac2 = fac1 - factor;
        NRvector<double> trial(dimension);
        for (int j = 0; j < dimension; j++) {
            trial[j] = vertexSum[j] * fac1 - p[worst][j] * fac2;
        }
        const double ytry = objective(trial);
        if (ytry <= bestValue) {
            for (int j = 0; j < dimension; j++) {
                bestPoint[j] = trial[j];
            }
            bestValue = ytry;
        }
        const double noisy = ytry - negTemperature * std::log(rng.uniform());
        if (noisy < worstValue) {
            values[worst] = ytry;
            worstValue = noisy;
            for (int j = 0; j < dimension; j++) {
                vertexSum[j] += trial[j] - p[worst][j];
                p[worst][j] = trial[j];
            }
        }
        return noisy;
    }

    T& objective;
    const double convergenceTolerance;
    UniformRandom rng;
    double bestValue;              // lowest value of any trial so far
    const int dimension;           // n
    NRvector<double> bestPoint;    // the trial that gave bestValue; zero before any trial
    const int vertexCount;         // rows of the simplex
    NRvector<double> vertexValues; // objective at each vertex, without noise
    NRmatrix<double> simplex;      // one vertex per row
    double negTemperature;         // minus the temperature of the latest anneal call

  private:
    void clearBestPoint() {
        for (int j = 0; j < dimension; j++) {
            bestPoint[j] = 0.0;
        }
    }
    void columnSums(NRvector<double>& sum) const {
        for (int j = 0; j < dimension; j++) {
            double s = 0.0;
            for (int i = 0; i < vertexCount; i++) {
                s += simplex[i][j];
            }
            sum[j] = s;
        }
    }
};
