#include "population/band_lu.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

// LAPACK (Fortran calling convention; the length of the character argument comes last).
extern "C" {
void dgbtrf_(const int* m, const int* n, const int* kl, const int* ku, double* ab, const int* ldab,
             int* ipiv, int* info);
void dgbtrs_(const char* trans, const int* n, const int* kl, const int* ku, const int* nrhs,
             const double* ab, const int* ldab, const int* ipiv, double* b, const int* ldb,
             int* info, std::size_t transLength);
}

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

bool BandMatrix::factorise(double relative) {
    int info = 0;
    dgbtrf_(&n_, &n_, &kl_, &ku_, ab_.data(), &ld_, pivots_.data(), &info);
    if (info != 0) {
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
    const char trans = 'N';
    const int one = 1;
    int info = 0;
    dgbtrs_(&trans, &n_, &kl_, &ku_, &one, ab_.data(), &ld_, pivots_.data(), b, &n_, &info, 1);
}

int BandMatrix::determinantSign() const {
    int sign = 1;
    for (int j = 0; j < n_; ++j) {
        if (ab_[static_cast<std::size_t>(kl_ + ku_ + j * ld_)] < 0) {
            sign = -sign;
        }
        if (pivots_[static_cast<std::size_t>(j)] != j + 1) {
            sign = -sign;
        }
    }
    return sign;
}
