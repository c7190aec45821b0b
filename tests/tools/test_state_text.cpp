// How the tools word the state a settled evaluation scored.
#include "tools/formats/state_text.h"

#include <gtest/gtest.h>

TEST(StateText, NamesTheKindTheGenerationsAndTheLastChange) {
    SettledReport report;
    EXPECT_EQ(stateDescription(report), "no simulation");
    EXPECT_EQ(stateCell(report), "none");
    report.kind = StateKind::equilibrium;
    report.generations = 1032;
    report.lastChange = 9.14e-14;
    EXPECT_EQ(stateDescription(report), "1032 generations, equilibrium, last change 9.1e-14");
    EXPECT_EQ(stateCell(report), "equilibrium");
    report.kind = StateKind::transientThenEquilibrium;
    EXPECT_EQ(stateCell(report), "transient, then equilibrium");
    // An unsettled point is named with what it ran wherever it is shown.
    report.kind = StateKind::unsettled;
    report.generations = 200000000;
    report.lastChange = 3.46e-10;
    EXPECT_EQ(stateDescription(report), "200000000 generations, unsettled, last change 3.5e-10");
    EXPECT_EQ(stateCell(report), "unsettled (200000000 gen., last change 3.5e-10)");
}

TEST(StateText, KindsReadBackFromTheirWords) {
    for (StateKind kind :
         {StateKind::none, StateKind::equilibrium, StateKind::transientThenEquilibrium,
          StateKind::quasiStationary, StateKind::unsettled, StateKind::alleleLost}) {
        StateKind back = StateKind::none;
        ASSERT_TRUE(parseStateKind(stateKindText(kind), back)) << stateKindText(kind);
        EXPECT_EQ(back, kind);
    }
    StateKind untouched = StateKind::equilibrium;
    EXPECT_FALSE(parseStateKind("settled", untouched));
    EXPECT_EQ(untouched, StateKind::equilibrium);
}
