// A square band matrix and its LU factorisation with partial pivoting, in column-major band
// storage with room for the fill-in of pivoting (LAPACK's layout). The arithmetic is done here,
// in a fixed order, so the factors and solutions have the same bits on every processor.
#pragma once

#include <vector>

// An n x n matrix whose entries (i, j) are zero for j < i - kl or j > i + ku.
class BandMatrix {
  public:
    // A zero matrix; n >= 1, kl, ku >= 0 (clipped to n - 1).
    BandMatrix(int n, int kl, int ku);

    int size() const { return n_; }
    int lower() const { return kl_; }
    int upper() const { return ku_; }

    // Sets every entry to 0 (and forgets a factorisation).
    void clear();
    // Entry (i, j), which must lie in the band.
    double& at(int i, int j) { return ab_[static_cast<std::size_t>(kl_ + ku_ + i - j + j * ld_)]; }
    double at(int i, int j) const {
        return ab_[static_cast<std::size_t>(kl_ + ku_ + i - j + j * ld_)];
    }
    // y = A x for x and y of size() entries (before factorisation only).
    void multiply(const double* x, double* y) const;

    // Factorises in place, column by column: a row swap and kl multipliers per column (stored
    // below its diagonal and not moved by later swaps), leaving U upper with kl + ku
    // superdiagonals. Returns 0, or the 1-based index of the first column whose pivot is exactly
    // zero (the elimination still runs to the end).
    int eliminate();
    // eliminate(), false when a pivot is exactly zero or when the smallest pivot is under
    // `relative` times the largest (a neutral direction).
    bool factorise(double relative = 1e-14);
    // Solves A x = b in place (after factorise).
    void solve(double* b) const;
    // The sign of the determinant (after factorise): +1 or -1.
    int determinantSign() const;

    // The storage: entry (i, j) of the matrix, or of U after factorisation, at kl + ku + i - j +
    // j * (2 kl + ku + 1); the multiplier of row j + t in column j at kl + ku + t + j * (2 kl +
    // ku + 1). For tests.
    const std::vector<double>& storage() const { return ab_; }
    // The row swapped with row j in column j's elimination (j or below; after factorisation).
    int pivot(int j) const { return pivots_[static_cast<std::size_t>(j)]; }

  private:
    int n_, kl_, ku_, ld_;
    std::vector<double> ab_;
    std::vector<int> pivots_;
};
