// Gaussian elimination with partial pivoting on the band storage, column by column. The order of
// every floating-point operation is fixed here rather than left to whichever BLAS and LAPACK the
// system links: the Newton steps of the settled objective must give the same bits on every
// machine. That order is the one of the reference LAPACK (dgbtrf, dgbtrs) that Debian's x86-64
// build used before, so no settled value changed when this replaced it. Where LAPACK works in
// blocks of 32 columns (upper band above 64, lower band 32 or more) its block products also add
// terms with a zero factor, which this skips: there a zero entry of the factors or of a solution
// can have the other sign, and nothing else differs.
#include "population/band_lu.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

BandMatrix::BandMatrix(int n, int kl, int ku)
    : n_(n), kl_(std::min(kl, n - 1)), ku_(std::min(ku, n - 1)), ld_(2 * kl_ + ku_ + 1),
      ab_(static_cast<std::size_t>(ld_) * static_cast<std::size_t>(n), 0.0),
      pivots_(static_cast<std::size_t>(n), 0) {}

void BandMatrix::clear() {
    std::fill(ab_.begin(), ab_.end(), 0.0);
}

void BandMatrix::multiply(const double* x, double* y) const {
    for (int i = 0; i < n_; ++i) {
        const int from = std::max(0, i - kl_);
        const int to = std::min(n_ - 1, i + ku_);
        double sum = 0.0;
        for (int j = from; j <= to; ++j) {
            sum += at(i, j) * x[j];
        }
        y[i] = sum;
    }
}

int BandMatrix::eliminate() {
    const int kv = kl_ + ku_; // storage row of the diagonal
    double* const ab = ab_.data();
    const std::ptrdiff_t ld = ld_;
    // Entry (i, j) of the factors, U reaching kv columns right of the diagonal after pivoting.
    const auto entry = [ab, ld, kv](int i, int j) -> double& { return ab[kv + i - j + j * ld]; };
    // The fill-in rows above the band start as zeros: in the first columns now, in column
    // j + kv when column j is eliminated.
    for (int j = ku_ + 1; j < std::min(kv, n_); ++j) {
        for (int r = kv - j; r < kl_; ++r) {
            ab[r + j * ld] = 0.0;
        }
    }
    int singular = 0;
    int last = 0; // the last column any row so far reaches
    for (int j = 0; j < n_; ++j) {
        if (j + kv < n_) {
            std::fill(ab + (j + kv) * ld, ab + (j + kv) * ld + kl_, 0.0);
        }
        const int below = std::min(kl_, n_ - 1 - j);
        double* const column = &entry(j, j);
        // The pivot: the first entry of largest magnitude on or below the diagonal.
        int p = 0;
        double largest = std::fabs(column[0]);
        for (int t = 1; t <= below; ++t) {
            if (std::fabs(column[t]) > largest) {
                largest = std::fabs(column[t]);
                p = t;
            }
        }
        pivots_[static_cast<std::size_t>(j)] = j + p;
        if (column[p] == 0.0) {
            // Elimination goes on past a zero column; the first one is reported.
            if (singular == 0) {
                singular = j + 1;
            }
            continue;
        }
        last = std::max(last, std::min(j + ku_ + p, n_ - 1));
        if (p != 0) {
            for (int c = j; c <= last; ++c) {
                std::swap(entry(j, c), entry(j + p, c));
            }
        }
        if (below == 0) {
            continue;
        }
        // Multipliers by the reciprocal of the pivot, then the rank-one update of the columns
        // the pivot row reaches. A zero in the pivot row leaves its column untouched (even a
        // signed zero in it).
        const double reciprocal = 1.0 / column[0];
        for (int t = 1; t <= below; ++t) {
            column[t] = reciprocal * column[t];
        }
        for (int c = j + 1; c <= last; ++c) {
            double* const target = &entry(j, c);
            if (target[0] != 0.0) {
                const double factor = -target[0];
                for (int t = 1; t <= below; ++t) {
                    target[t] = target[t] + column[t] * factor;
                }
            }
        }
    }
    return singular;
}

bool BandMatrix::factorise(double relative) {
    if (eliminate() != 0) {
        return false;
    }
    // The diagonal of U sits in row kl + ku of the band storage.
    double largest = 0.0;
    double smallest = HUGE_VAL;
    for (int j = 0; j < n_; ++j) {
        const double u = std::fabs(ab_[static_cast<std::size_t>(kl_ + ku_ + j * ld_)]);
        largest = std::max(largest, u);
        smallest = std::min(smallest, u);
    }
    return smallest >= relative * largest;
}

void BandMatrix::solve(double* b) const {
    const int kv = kl_ + ku_;
    const double* const ab = ab_.data();
    const std::ptrdiff_t ld = ld_;
    // L: the row swaps and multipliers in the order of elimination.
    if (kl_ > 0) {
        for (int j = 0; j + 1 < n_; ++j) {
            const int below = std::min(kl_, n_ - 1 - j);
            const int p = pivots_[static_cast<std::size_t>(j)];
            if (p != j) {
                std::swap(b[p], b[j]);
            }
            if (b[j] != 0.0) {
                const double factor = -b[j];
                const double* const multipliers = ab + kv + j * ld;
                for (int t = 1; t <= below; ++t) {
                    b[j + t] = b[j + t] + multipliers[t] * factor;
                }
            }
        }
    }
    // U: back substitution column by column, each solved unknown taken out of the rows above.
    for (int j = n_ - 1; j >= 0; --j) {
        if (b[j] == 0.0) {
            continue;
        }
        const double* const column = ab + kv + j * ld; // column[i - j] is U(i, j)
        b[j] = b[j] / column[0];
        const double known = b[j];
        for (int i = j - 1; i >= std::max(0, j - kv); --i) {
            b[i] = b[i] - known * column[i - j];
        }
    }
}

int BandMatrix::determinantSign() const {
    int sign = 1;
    for (int j = 0; j < n_; ++j) {
        if (ab_[static_cast<std::size_t>(kl_ + ku_ + j * ld_)] < 0) {
            sign = -sign;
        }
        if (pivots_[static_cast<std::size_t>(j)] != j) {
            sign = -sign;
        }
    }
    return sign;
}
