// DG is a product per deme pair: the larvae of deme i depend on the zygotes of the demes it
// receives from, each of which depends only on its own larvae. Block (i, j) of DG is therefore
// (dispersal weight of j into i, as a 3 x 3 map) x d(zygotes_j)/d(virgins_j) x
// d(virgins_j)/d(larvae_j).
#include "population/row_generation.h"

#include <algorithm>
#include <cstdlib>

RowGeneration::RowGeneration(const RowDynamics& dynamics, std::size_t demes)
    : demes_(demes), form_(dynamics.form), normalised_(dynamics.form == RowForm::kernel),
      bandwidth_(5), fitness_(3 * demes), selfing_(demes, dynamics.selfing),
      byGenotype_(dynamics.selfingRates), v_(3 * demes), z_(3 * demes), dz_(9 * demes) {
    const int last = static_cast<int>(demes) - 1;
    for (std::size_t i = 0; i < demes; ++i) {
        const Genotype f = form_ == RowForm::kernel
                               ? dynamics.fitness[static_cast<std::size_t>(detectRegion(
                                     static_cast<int>(i), dynamics.border1, dynamics.border2))]
                               : dynamics.fitness[i];
        fitness_[3 * i] = f.SS;
        fitness_[3 * i + 1] = f.SI;
        fitness_[3 * i + 2] = f.II;
        if (form_ == RowForm::ratePerDeme) {
            selfing_[i] = dynamics.selfingRates[i];
        }
    }
    first_.push_back(0);
    if (form_ == RowForm::kernel) {
        const std::vector<double> simpson =
            getSimpson(static_cast<int>(dynamics.kernelWeights.size()));
        int reach = 0;
        for (std::size_t k = 0; k < dynamics.kernelOffsets.size(); ++k) {
            reach = std::max(reach, std::abs(dynamics.kernelOffsets[k]));
        }
        bandwidth_ = 3 * reach + 2;
        for (int i = 0; i <= last; ++i) {
            for (std::size_t k = 0; k < dynamics.kernelOffsets.size(); ++k) {
                source_.push_back(
                    static_cast<std::size_t>(itr(i + dynamics.kernelOffsets[k], last)));
                weight_.push_back(dynamics.kernelStep * dynamics.kernelWeights[k] * simpson[k]);
            }
            first_.push_back(source_.size());
        }
        return;
    }
    const std::vector<double>& m = dynamics.migrationRates;
    for (int i = 0; i <= last; ++i) {
        const std::size_t at = static_cast<std::size_t>(i);
        if (i == 0 || i == last) {
            const double rate = i == 0 ? m[0] : m[at - 1];
            source_.push_back(at);
            weight_.push_back(1 - rate);
            source_.push_back(i == 0 ? 1 : at - 1);
            weight_.push_back(rate);
        } else {
            source_.push_back(at - 1);
            weight_.push_back(m[at - 1]);
            source_.push_back(at);
            weight_.push_back(1 - m[at - 1] - m[at]);
            source_.push_back(at + 1);
            weight_.push_back(m[at]);
        }
        first_.push_back(source_.size());
    }
}

void RowGeneration::deme(std::size_t i, const double* x, double* v, double* z, double* dz) const {
    const double* f = &fitness_[3 * i];
    const double* L = &x[3 * i];
    const double W = f[0] * L[0] + f[1] * L[1] + f[2] * L[2];
    for (int g = 0; g < 3; ++g) {
        v[g] = f[g] * L[g] / W;
    }
    // dm[g][h] = d z_g / d v_h.
    double dm[3][3];
    if (form_ == RowForm::rateByGenotype) {
        const double s0 = byGenotype_[0];
        const double s1 = byGenotype_[1];
        const double s2 = byGenotype_[2];
        const double a[3] = {1 - s0, 1 - s1, 1 - s2};
        const double T = a[0] * v[0] + a[1] * v[1] + a[2] * v[2];
        const double P = a[0] * v[0] + 0.5 * a[1] * v[1];
        const double Q = 0.5 * a[1] * v[1] + a[2] * v[2];
        z[0] = P * P / T + s0 * v[0] + 0.25 * s1 * v[1];
        z[1] = 2 * P * Q / T + 0.5 * s1 * v[1];
        z[2] = Q * Q / T + 0.25 * s1 * v[1] + s2 * v[2];
        const double dP[3] = {a[0], 0.5 * a[1], 0.0};
        const double dQ[3] = {0.0, 0.5 * a[1], a[2]};
        const double own[3][3] = {{s0, 0.25 * s1, 0.0}, {0.0, 0.5 * s1, 0.0}, {0.0, 0.25 * s1, s2}};
        for (int h = 0; h < 3; ++h) {
            dm[0][h] = 2 * P / T * dP[h] - P * P / (T * T) * a[h] + own[0][h];
            dm[1][h] = 2 * (Q * dP[h] + P * dQ[h]) / T - 2 * P * Q / (T * T) * a[h] + own[1][h];
            dm[2][h] = 2 * Q / T * dQ[h] - Q * Q / (T * T) * a[h] + own[2][h];
        }
    } else {
        const double F = selfing_[i];
        const double p = v[0] + 0.5 * v[1];
        const double q = 0.5 * v[1] + v[2];
        z[0] = (v[0] + 0.25 * v[1]) * F + p * p * (1 - F);
        z[1] = F * v[1] * 0.5 + 2 * (1 - F) * p * q;
        z[2] = (0.25 * v[1] + v[2]) * F + q * q * (1 - F);
        const double dp[3] = {1.0, 0.5, 0.0};
        const double dq[3] = {0.0, 0.5, 1.0};
        const double own[3][3] = {{F, 0.25 * F, 0.0}, {0.0, 0.5 * F, 0.0}, {0.0, 0.25 * F, F}};
        for (int h = 0; h < 3; ++h) {
            dm[0][h] = own[0][h] + 2 * p * (1 - F) * dp[h];
            dm[1][h] = own[1][h] + 2 * (1 - F) * (q * dp[h] + p * dq[h]);
            dm[2][h] = own[2][h] + 2 * q * (1 - F) * dq[h];
        }
    }
    if (dz == nullptr) {
        return;
    }
    // ds[g][h] = d v_g / d L_h = (delta_gh f_g - v_g f_h) / W.
    double ds[3][3];
    for (int g = 0; g < 3; ++g) {
        for (int h = 0; h < 3; ++h) {
            ds[g][h] = ((g == h ? f[g] : 0.0) - v[g] * f[h]) / W;
        }
    }
    for (int g = 0; g < 3; ++g) {
        for (int h = 0; h < 3; ++h) {
            dz[3 * g + h] = dm[g][0] * ds[0][h] + dm[g][1] * ds[1][h] + dm[g][2] * ds[2][h];
        }
    }
}

void RowGeneration::apply(const double* x, double* next, double* adults) const {
    for (std::size_t j = 0; j < demes_; ++j) {
        deme(j, x, &v_[3 * j], &z_[3 * j], nullptr);
    }
    for (std::size_t i = 0; i < demes_; ++i) {
        double L[3] = {0.0, 0.0, 0.0};
        double A[3] = {0.0, 0.0, 0.0};
        for (std::size_t k = first_[i]; k < first_[i + 1]; ++k) {
            const std::size_t j = source_[k];
            for (int g = 0; g < 3; ++g) {
                L[g] += weight_[k] * z_[3 * j + g];
                A[g] += weight_[k] * v_[3 * j + g];
            }
        }
        const double totalL = normalised_ ? L[0] + L[1] + L[2] : 1.0;
        const double totalA = normalised_ ? A[0] + A[1] + A[2] : 1.0;
        for (int g = 0; g < 3; ++g) {
            next[3 * i + g] = L[g] / totalL;
            if (adults != nullptr) {
                adults[3 * i + g] = A[g] / totalA;
            }
        }
    }
}

void RowGeneration::jacobian(const double* x, double shift, BandMatrix& matrix) const {
    matrix.clear();
    for (std::size_t j = 0; j < demes_; ++j) {
        deme(j, x, &v_[3 * j], &z_[3 * j], &dz_[9 * j]);
    }
    for (std::size_t i = 0; i < demes_; ++i) {
        // The dispersed triple of deme i and its sum (1 for the stepping stone, whose map is
        // linear and needs neither).
        double L[3] = {0.0, 0.0, 0.0};
        double total = 1.0;
        if (normalised_) {
            for (std::size_t k = first_[i]; k < first_[i + 1]; ++k) {
                for (int g = 0; g < 3; ++g) {
                    L[g] += weight_[k] * z_[3 * source_[k] + g];
                }
            }
            total = L[0] + L[1] + L[2];
            for (double& l : L) {
                l /= total;
            }
        }
        for (std::size_t k = first_[i]; k < first_[i + 1]; ++k) {
            const std::size_t j = source_[k];
            const double c = weight_[k] / total;
            const double* dz = &dz_[9 * j];
            for (int g = 0; g < 3; ++g) {
                for (int h = 0; h < 3; ++h) {
                    // Normalised: d(S_g / sum S)/dz_j = c (delta_g - L_g) applied to dz_j.
                    double d = dz[3 * g + h];
                    if (normalised_) {
                        d -= L[g] * (dz[h] + dz[3 + h] + dz[6 + h]);
                    }
                    matrix.at(static_cast<int>(3 * i) + g, static_cast<int>(3 * j) + h) += c * d;
                }
            }
        }
    }
    for (int r = 0; r < size(); ++r) {
        matrix.at(r, r) -= shift;
    }
}
