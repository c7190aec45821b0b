#include "optimiser/nr3.h"

#include <gtest/gtest.h>

TEST(NRvector, SizeAndStorage) {
    NRvector<double> empty(0);
    EXPECT_EQ(empty.size(), 0);
    NRvector<double> negative(-3);
    EXPECT_EQ(negative.size(), -3);
    NRvector<double> v(3);
    v[0] = 1.5;
    v[2] = -2.0;
    EXPECT_EQ(v.size(), 3);
    EXPECT_EQ(v[0], 1.5);
    EXPECT_EQ(v[2], -2.0);
}

TEST(NRmatrix, ShapesWithoutStorage) {
    NRmatrix<double> noRows(0, 4);
    EXPECT_EQ(noRows.rows(), 0);
    EXPECT_EQ(noRows.cols(), 4);
    NRmatrix<double> noColumns(3, 0);
    EXPECT_EQ(noColumns.rows(), 3);
    EXPECT_EQ(noColumns[0], nullptr);
}

TEST(NRmatrix, RowsAreOneContiguousBlock) {
    NRmatrix<double> m(3, 2);
    EXPECT_EQ(m[1], m[0] + 2);
    EXPECT_EQ(m[2], m[0] + 4);
}

namespace {
void fill(NRmatrix<double>& m, double base) {
    for (int i = 0; i < m.rows(); i++) {
        for (int j = 0; j < m.cols(); j++) {
            m[i][j] = base + 10 * i + j;
        }
    }
}
} // namespace

TEST(NRmatrix, AssignmentTakesTheSourceShape) {
    NRmatrix<double> source(3, 2);
    fill(source, 0.0);
    NRmatrix<double> target(4, 3);
    target = source;
    ASSERT_EQ(target.rows(), 3);
    ASSERT_EQ(target.cols(), 2);
    EXPECT_EQ(target[2][1], 21.0);
    EXPECT_NE(target[0], source[0]);
}

TEST(NRmatrix, AssignmentOfSameShapeCopiesInPlace) {
    NRmatrix<double> source(3, 2);
    fill(source, 0.0);
    NRmatrix<double> target(3, 2);
    double* const storage = target[0];
    target = source;
    EXPECT_EQ(target[0], storage);
    EXPECT_EQ(target[1][1], 11.0);
    // Self-assignment through a second name, as it happens in real code.
    const NRmatrix<double>& same = target;
    target = same;
    EXPECT_EQ(target[1][1], 11.0);
}

TEST(NRmatrix, CopiesShareNoStorage) {
    NRmatrix<double> source(2, 2);
    fill(source, 0.0);
    NRmatrix<double> copy(source);
    copy[0][0] = 99.0;
    EXPECT_EQ(source[0][0], 0.0);
    source[1][1] = -1.0;
    EXPECT_EQ(copy[1][1], 11.0);
}
