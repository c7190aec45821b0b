// The band LU with partial pivoting of the Newton steps: a system small enough to check by hand,
// the sign of the determinant and the refusal of singular matrices, and (on x86-64, where the
// build links Debian's reference LAPACK for this test alone) the factors, pivots, singular
// column and solutions of random band matrices bit for bit against LAPACK's dgbtrf and dgbtrs.
// The settled values recorded before the factorisation was written here came from those two
// routines, so the twin is what keeps them. It expects the reference BLAS and LAPACK that Debian
// installs by default: an optimised BLAS chosen with update-alternatives gives other bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "population/band_lu.h"

namespace {

// Storage index of entry (i, j) of the factors; U reaches kl + ku columns right of the diagonal.
std::size_t slot(const BandMatrix& m, int i, int j) {
    const int ld = 2 * m.lower() + m.upper() + 1;
    return static_cast<std::size_t>(m.lower() + m.upper() + i - j + j * ld);
}

} // namespace

TEST(BandLU, ASmallSystemFactorisesAsByHand) {
    //     | 1 2 0 |                    | 5 |
    // A = | 2 2 1 |, x = (1, 2, 3), b = | 9 |
    //     | 0 4 1 |                    |11 |
    // Column 0: 2 beats 1, rows 0 and 1 swap; multiplier 1/2; row 1 becomes (0, 1, -1/2) and
    // row 0 now reaches column 2 (fill-in 1). Column 1: 4 beats 1, rows 1 and 2 swap; multiplier
    // 1/4; U(2, 2) = -1/2 - 1/4 * 1 = -3/4. det A = -6 = (two swaps) 2 * 4 * -3/4.
    BandMatrix A(3, 1, 1);
    A.at(0, 0) = 1;
    A.at(0, 1) = 2;
    A.at(1, 0) = 2;
    A.at(1, 1) = 2;
    A.at(1, 2) = 1;
    A.at(2, 1) = 4;
    A.at(2, 2) = 1;
    std::vector<double> b(3);
    const std::vector<double> x = {1, 2, 3};
    A.multiply(x.data(), b.data());
    EXPECT_EQ(b, (std::vector<double>{5, 9, 11}));

    ASSERT_EQ(A.eliminate(), 0);
    EXPECT_EQ(A.pivot(0), 1);
    EXPECT_EQ(A.pivot(1), 2);
    EXPECT_EQ(A.pivot(2), 2);
    const std::vector<double>& f = A.storage();
    const double U[3][3] = {{2, 2, 1}, {0, 4, 1}, {0, 0, -0.75}};
    for (int i = 0; i < 3; ++i) {
        for (int j = i; j <= std::min(2, i + 2); ++j) {
            EXPECT_EQ(f[slot(A, i, j)], U[i][j]) << "U(" << i << ", " << j << ")";
        }
    }
    EXPECT_EQ(f[slot(A, 1, 0)], 0.5);  // multiplier of column 0
    EXPECT_EQ(f[slot(A, 2, 1)], 0.25); // multiplier of column 1
    EXPECT_EQ(A.determinantSign(), -1);

    // Forward: swap to (9, 5, 11), 5 - 9/2 = 1/2; swap to (9, 11, 1/2), 1/2 - 11/4 = -9/4.
    // Back: x2 = -9/4 / -3/4 = 3, x1 = (11 - 3) / 4 = 2, x0 = (9 - 2 * 2 - 3) / 2 = 1.
    A.solve(b.data());
    EXPECT_EQ(b, x);
}

TEST(BandLU, SolvesAndSignsTheDeterminant) {
    // A tridiagonal matrix with 2 on the diagonal and -1 beside it: determinant n + 1 > 0.
    const int n = 6;
    BandMatrix A(n, 1, 1);
    for (int i = 0; i < n; ++i) {
        A.at(i, i) = 2;
        if (i > 0) {
            A.at(i, i - 1) = -1;
            A.at(i - 1, i) = -1;
        }
    }
    std::vector<double> x = {1, 2, 3, 4, 5, 6}, b(n);
    A.multiply(x.data(), b.data());
    BandMatrix lu = A;
    ASSERT_TRUE(lu.factorise());
    EXPECT_EQ(lu.determinantSign(), 1);
    lu.solve(b.data());
    for (int i = 0; i < n; ++i) {
        EXPECT_NEAR(b[i], x[i], 1e-12);
    }
    // Negating one row flips the sign; pivoting (a zero on the diagonal) must be counted too.
    BandMatrix flipped(2, 1, 1);
    flipped.at(0, 1) = 1;
    flipped.at(1, 0) = 1; // [[0, 1], [1, 0]]: determinant -1
    ASSERT_TRUE(flipped.factorise());
    EXPECT_EQ(flipped.determinantSign(), -1);
    // A diagonal matrix, no band at all: the sign is that of the product of the entries.
    BandMatrix diagonal(3, 0, 0);
    diagonal.at(0, 0) = -2;
    diagonal.at(1, 1) = 3;
    diagonal.at(2, 2) = -0.5;
    ASSERT_TRUE(diagonal.factorise());
    EXPECT_EQ(diagonal.determinantSign(), 1);
    std::vector<double> c = {4, 3, 1};
    diagonal.solve(c.data());
    EXPECT_EQ(c, (std::vector<double>{-2, 1, -2}));
}

TEST(BandLU, RefusesSingularAndNeutralMatrices) {
    // Two equal rows: column 1 is left with an exact zero, reported 1-based.
    BandMatrix singular(2, 1, 1);
    singular.at(0, 0) = singular.at(0, 1) = singular.at(1, 0) = singular.at(1, 1) = 1;
    BandMatrix copy = singular;
    EXPECT_EQ(copy.eliminate(), 2);
    EXPECT_FALSE(singular.factorise());
    // A zero first column is reported as column 1, and elimination still runs past it.
    BandMatrix zeroColumn(3, 1, 1);
    zeroColumn.at(0, 1) = 1;
    zeroColumn.at(1, 1) = 2;
    zeroColumn.at(1, 2) = 1;
    zeroColumn.at(2, 1) = 4;
    zeroColumn.at(2, 2) = 3;
    EXPECT_EQ(zeroColumn.eliminate(), 1);
    EXPECT_EQ(zeroColumn.pivot(0), 0);
    EXPECT_EQ(zeroColumn.pivot(1), 2); // 4 beats 2 in column 1
    // Not exactly singular, but one pivot is under 1e-14 of the largest: a neutral direction.
    BandMatrix neutral(2, 1, 1);
    neutral.at(0, 0) = 1;
    neutral.at(1, 1) = 1e-15;
    BandMatrix kept = neutral;
    EXPECT_EQ(kept.eliminate(), 0);
    EXPECT_FALSE(neutral.factorise());
    EXPECT_TRUE(kept.factorise(1e-16));
}

#if ZONEFIT_LAPACK_TWIN

// Debian's reference LAPACK (Fortran calling convention; the length of the character argument
// comes last).
extern "C" {
void dgbtrf_(const int* m, const int* n, const int* kl, const int* ku, double* ab, const int* ldab,
             int* ipiv, int* info);
void dgbtrs_(const char* trans, const int* n, const int* kl, const int* ku, const int* nrhs,
             const double* ab, const int* ldab, const int* ipiv, double* b, const int* ldb,
             int* info, std::size_t transLength);
}

namespace {

enum class Kind {
    uniform,   // entries in (-1, 1): rows swapped in most columns
    dominant,  // a heavy diagonal: no swaps
    scaled,    // magnitudes from 1e-12 to 1e12
    nearRank1, // u_i v_j plus 1e-10 noise: ill-conditioned, tiny late pivots
    sparse,    // half the band exact zeros, some of them negative zeros, and small integers
    singular,  // as uniform, with one column of zeros
};
const Kind kinds[] = {Kind::uniform,   Kind::dominant, Kind::scaled,
                      Kind::nearRank1, Kind::sparse,   Kind::singular};

std::uint64_t bitsOf(double v) {
    std::uint64_t u = 0;
    std::memcpy(&u, &v, sizeof u);
    return u;
}

// LAPACK factorises in blocks of 32 columns when the upper band exceeds 64 and the lower one is
// 32 or more. Its block updates then add products with a zero factor (0 times a multiplier, or a
// multiplier times a zero of U) that the column-by-column elimination skips, which can turn a
// -0 into +0 and the other way: there, and only there, a zero may come out with the other sign.
// No other bit differs, as a zero's sign cannot change a non-zero sum or product.
bool blocked(int kl, int ku) {
    return ku > 64 && kl >= 32;
}

// The same bits, or (`zeroSign`) both zero.
bool same(double a, double b, bool zeroSign) {
    return bitsOf(a) == bitsOf(b) || (!zeroSign && a == 0.0 && b == 0.0);
}

// Fills the band of `m` (entries with -kl <= j - i <= ku) after `kind`.
void fill(BandMatrix& m, Kind kind, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const int n = m.size();
    std::vector<double> u(static_cast<std::size_t>(n)), v(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        u[static_cast<std::size_t>(i)] = unit(rng);
        v[static_cast<std::size_t>(i)] = unit(rng);
    }
    const int zeroColumn = std::uniform_int_distribution<int>(0, n - 1)(rng);
    for (int j = 0; j < n; ++j) {
        for (int i = std::max(0, j - m.upper()); i <= std::min(n - 1, j + m.lower()); ++i) {
            double a = unit(rng);
            switch (kind) {
            case Kind::uniform:
                break;
            case Kind::dominant:
                a = i == j ? 4.0 * (m.lower() + m.upper() + 1) : a;
                break;
            case Kind::scaled:
                a *= std::pow(10.0, 24.0 * (0.5 * unit(rng) + 0.5) - 12.0);
                break;
            case Kind::nearRank1:
                a = u[static_cast<std::size_t>(i)] * v[static_cast<std::size_t>(j)] + 1e-10 * a;
                break;
            case Kind::sparse:
                a = a < 0.0 ? (a < -0.75 ? -0.0 : 0.0) : std::floor(8.0 * a) - 3.0;
                break;
            case Kind::singular:
                a = j == zeroColumn ? 0.0 : a;
                break;
            }
            m.at(i, j) = a;
        }
    }
}

// The first difference between ours and LAPACK's, or "".
std::string compare(const BandMatrix& ours, int ourInfo, const std::vector<double>& ab,
                    const std::vector<int>& ipiv, int info) {
    std::ostringstream d;
    if (ourInfo != info) {
        d << "singular column " << ourInfo << " against " << info;
        return d.str();
    }
    for (int j = 0; j < ours.size(); ++j) {
        if (ours.pivot(j) != ipiv[static_cast<std::size_t>(j)] - 1) {
            d << "pivot of column " << j << ": " << ours.pivot(j) << " against "
              << ipiv[static_cast<std::size_t>(j)] - 1;
            return d.str();
        }
    }
    const std::vector<double>& f = ours.storage();
    const bool zeroSign = !blocked(ours.lower(), ours.upper());
    for (std::size_t k = 0; k < f.size(); ++k) {
        if (!same(f[k], ab[k], zeroSign)) {
            d.precision(17);
            d << "storage entry " << k << ": " << f[k] << " against " << ab[k];
            return d.str();
        }
    }
    return "";
}

// Factorises and solves one random n x n matrix of band (kl, ku) both ways; "" when every bit
// agrees.
std::string twin(int n, int kl, int ku, Kind kind, std::mt19937_64& rng) {
    BandMatrix ours(n, kl, ku);
    fill(ours, kind, rng);
    const int l = ours.lower(), u = ours.upper(), ld = 2 * l + u + 1;
    std::vector<double> ab = ours.storage();
    std::vector<int> ipiv(static_cast<std::size_t>(n));
    int info = -1;
    dgbtrf_(&n, &n, &l, &u, ab.data(), &ld, ipiv.data(), &info);
    const int ourInfo = ours.eliminate();
    std::string d = compare(ours, ourInfo, ab, ipiv, info);
    if (!d.empty() || info != 0) {
        return d;
    }
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::vector<double> b(static_cast<std::size_t>(n));
    for (double& e : b) {
        e = unit(rng);
    }
    b[static_cast<std::size_t>(n / 2)] = 0.0; // a zero on the right takes the skipping branches
    std::vector<double> x = b;
    const char trans = 'N';
    const int one = 1;
    dgbtrs_(&trans, &n, &l, &u, &one, ab.data(), &ld, ipiv.data(), b.data(), &n, &info, 1);
    ours.solve(x.data());
    for (int i = 0; i < n; ++i) {
        if (!same(x[static_cast<std::size_t>(i)], b[static_cast<std::size_t>(i)], !blocked(l, u))) {
            std::ostringstream s;
            s.precision(17);
            s << "solution " << i << ": " << x[static_cast<std::size_t>(i)] << " against "
              << b[static_cast<std::size_t>(i)];
            return s.str();
        }
    }
    return "";
}

// Runs every kind at band (kl, ku) on a few sizes from the band's own width up.
void twinAtBand(int kl, int ku, std::mt19937_64& rng) {
    int failures = 0;
    const int widest = std::max(kl, ku);
    const int sizes[] = {widest + 1, widest + 1 + std::uniform_int_distribution<int>(1, 40)(rng),
                         2 * widest + 33};
    for (int n : sizes) {
        for (Kind kind : kinds) {
            const std::string d = twin(n, kl, ku, kind, rng);
            if (!d.empty() && ++failures <= 5) {
                ADD_FAILURE() << "n " << n << ", kl " << kl << ", ku " << ku << ", kind "
                              << static_cast<int>(kind) << ": " << d;
            }
        }
    }
}

} // namespace

TEST(BandLUTwin, EqualBands) {
    // The stepping stone's 5 and a kernel's 3m + 2, every width to 130 (LAPACK blocks its
    // factorisation above 64), then wider steps: on the kernel grids (201 and 401 demes) a wide
    // kernel's band reaches 191 at sigma 20 deme spacings and covers the whole matrix beyond.
    std::mt19937_64 rng(20261210);
    for (int w = 0; w <= 130; ++w) {
        twinAtBand(w, w, rng);
    }
    for (int w : {137, 160, 191, 222, 257}) {
        twinAtBand(w, w, rng);
    }
    // The widest kernel of the benchmarks (11 points reaching 155 demes: sigma 50 deme
    // spacings), on a row of 201 demes.
    EXPECT_EQ(twin(603, 467, 467, Kind::uniform, rng), "");
}

TEST(BandLUTwin, UnequalBandsAndFullMatrices) {
    // Around LAPACK's switch to blocks (upper band above 64 with a lower one of 32 or more),
    // and bands clipped to the matrix.
    std::mt19937_64 rng(7);
    const int pairs[][2] = {{0, 3},   {3, 0},   {1, 7},   {31, 65}, {32, 65}, {32, 64},
                            {33, 90}, {64, 65}, {65, 64}, {100, 3}, {3, 100}, {40, 200}};
    for (const auto& p : pairs) {
        twinAtBand(p[0], p[1], rng);
    }
    for (int n : {1, 2, 3, 33, 97, 300}) {
        for (Kind kind : kinds) {
            const std::string d = twin(n, n + 5, n + 5, kind, rng);
            EXPECT_EQ(d, "") << "full " << n << " x " << n << ", kind " << static_cast<int>(kind);
        }
    }
}

#endif
