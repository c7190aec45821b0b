#include "optimiser/ran.h"

#include <gtest/gtest.h>

TEST(UniformRandom, SeedZeroPublishedState) {
    UniformRandom rng(0);
    EXPECT_EQ(rng.currentState(), 0xA2DEE0633C9C1D71ULL);
    EXPECT_EQ(rng.nextWord(), 0xCB33AD5A719BA8ECULL);
    EXPECT_EQ(rng.nextWord(), 0x84FAF51A9F5B29F7ULL);
    EXPECT_EQ(rng.nextWord(), 0x1681AB2C2FEC9DAAULL);
}

TEST(UniformRandom, FirstUniformOfSeedZero) {
    UniformRandom rng(0);
    EXPECT_EQ(rng.uniform(), 0.7937572809038175);
}

TEST(UniformRandom, SameSeedSameSequenceOtherSeedOther) {
    UniformRandom a(1234567);
    UniformRandom b(1234567);
    UniformRandom c(1234568);
    bool differs = false;
    for (int i = 0; i < 100; i++) {
        const double u = a.uniform();
        EXPECT_EQ(u, b.uniform());
        differs = differs || (u != c.uniform());
    }
    EXPECT_TRUE(differs);
}

TEST(UniformRandom, DrawsLieInZeroExclusiveToOneInclusive) {
    UniformRandom rng(42);
    for (int i = 0; i < 100000; i++) {
        const double u = rng.uniform();
        ASSERT_GT(u, 0.0);
        ASSERT_LE(u, 1.0);
    }
}

TEST(UniformRandomState, RestoredStateContinuesTheSequence) {
    UniformRandom a(99);
    for (int k = 0; k < 10; k++) {
        a.nextWord();
    }
    UniformRandom b(12345);
    b.restoreState(a.currentState());
    for (int k = 0; k < 100; k++) {
        ASSERT_EQ(b.nextWord(), a.nextWord()) << "word " << k;
    }
}
