// One generation of a row as a map G on its 3n larva frequencies (deme-major: SS, SI, II of
// deme 0, then of deme 1, ...), with its analytic Jacobian DG as a band matrix. This is the
// plain per-deme arithmetic of the life cycle for the Newton search of population/fixed_point.h;
// the generation loops remain the reference for results.
#pragma once

#include <cstddef>
#include <vector>

#include "population/band_lu.h"
#include "population/row_hook.h"

class RowGeneration {
  public:
    // The generation of a row of `demes` demes run by `dynamics` (a captured stepping-stone or
    // kernel form).
    RowGeneration(const RowDynamics& dynamics, std::size_t demes);

    // 3n: the length of a state.
    int size() const { return static_cast<int>(3 * demes_); }
    // The half bandwidth of DG: 5 for the stepping stone, 3m + 2 for a kernel reaching m demes.
    int bandwidth() const { return bandwidth_; }

    // next = G(x); with `adults`, also the virgins of this generation dispersed (3n each).
    void apply(const double* x, double* next, double* adults = nullptr) const;
    // DG(x) - shift * I into `matrix` (size() square, bandwidth() both ways).
    void jacobian(const double* x, double shift, BandMatrix& matrix) const;

  private:
    // Selection and mating of deme i from larvae x: virgins v[3], zygotes z[3]; with `dz`, the
    // 3 x 3 Jacobian of z with respect to the larvae of the deme (row-major).
    void deme(std::size_t i, const double* x, double* v, double* z, double* dz) const;

    std::size_t demes_;
    RowForm form_;
    bool normalised_; // kernel: each deme's dispersed triple is divided by its sum
    int bandwidth_;
    std::vector<double> fitness_;       // 3 per deme
    std::vector<double> selfing_;       // per deme (one rate, per-deme rate, kernel)
    std::vector<double> byGenotype_;    // SS, SI, II selfing rates
    std::vector<std::size_t> first_;    // sources of deme i: first_[i] to first_[i + 1]
    std::vector<std::size_t> source_;   // source deme
    std::vector<double> weight_;        // its dispersal weight
    mutable std::vector<double> v_, z_; // scratch: virgins and zygotes of every deme
    mutable std::vector<double> dz_;    // scratch: 9 per deme
};
