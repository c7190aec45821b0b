// The settled value against its plain twin (tests/reference/plain_settle.h) at random points of
// each model's exploration regions: wherever the twin settles to 1e-13 within its cap, the
// settled value agrees with the value of the twin's state to 1e-6 and the kind of state with
// the twin's simple classification; where the row loses a genotype the data observe, the twin's
// state is seen losing it, and the settled value is penalised. The twin's value is that of its
// state once the value itself rests (see runToRest). Points where the twin does not settle
// within its cap of 5000 generations after zonefit's stop, or its value within 20000 (slow
// approaches, quasi-stationary clines), are not compared. The settled value without a report
// (settled inside the model's run) must be the value with one, at every point. The points are drawn
// near neutrality (fitnesses 0.8 to 1.25) and, as the searches draw their starts, over the whole
// regions, where selection reaches a strength of 100 and alleles are all but lost.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "models/model_context.h"
#include "models/model_table.h"
#include "models/settled_objective.h"
#include "population/row_hook.h"
#include "reference/plain_settle.h"
#include "reference/region_points.h"
#include "support/work_dir.h"

namespace {

double lastChangeOf(const RowState& state) {
    std::vector<double> changes;
    state.changes.copyOldestFirst(changes);
    return changes.empty() ? 0.0 : changes.back();
}

// The model's value of the state `twin` ended in: the model scores it through its own simulate
// call, which a replacing hook answers.
double valueOf(const ModelEntry& model, const NRvector<double>& x,
               const plain::PlainSettling& twin) {
    RowHook hook;
    hook.mode = RowHook::Mode::replace;
    hook.state.larvae = twin.larvae;
    hook.state.adults = twin.adults;
    ModelContext context;
    context.simulation.rowHook = &hook;
    return model.evaluate(context, x);
}

// Runs `twin` on until its value rests: without a tolerance, in windows of 50 generations, until
// its larvae change by less than 1e-13 and its value by less than 1e-9 across a window; false
// when `cap` generations in all (counted from the twin's start) do not bring it to rest. The
// tolerance bounds the change of a frequency, not of its logarithm, which the score reads:
// frequencies far below it, of alleles all but absent, may still move by much of themselves,
// and a row near an unstable state may leave it. On the way, `twin` notes a change that grows
// again 10 times above its lowest and above 1e-8.
bool runToRest(const ModelEntry& model, const NRvector<double>& x, const RowDynamics& dynamics,
               plain::PlainSettling& twin, long long cap, double& value) {
    value = valueOf(model, x, twin);
    double lowest = twin.lastChange;
    for (long long run = twin.generations; run < cap; run += 50) {
        const plain::PlainSettling next =
            plain::settle(dynamics, twin.larvae, twin.lastChange, 0.0, 50);
        const bool grew =
            next.grewAgain || (next.lastChange > 10 * lowest && next.lastChange > 1e-8);
        const bool grewBefore = twin.grewAgain;
        twin = next;
        twin.grewAgain = grewBefore || grew;
        lowest = std::min(lowest, twin.lastChange);
        const double nextValue = valueOf(model, x, twin);
        // Equal values include two infinite ones.
        const bool rests =
            twin.lastChange < 1e-13 && (nextValue == value || std::fabs(nextValue - value) < 1e-9);
        value = nextValue;
        if (rests) {
            return true;
        }
    }
    return false;
}

// How many points of a model were compared with the twin, and of those, how many lose a genotype
// the data observe.
struct Tally {
    int compared = 0;
    int lost = 0;
};

// The point as the failure messages name it, to 17 digits.
std::string pointText(const ModelEntry& model, const NRvector<double>& x) {
    std::ostringstream where;
    where.precision(17);
    where << "model " << model.number << " at";
    for (int j = 0; j < model.parameterCount; ++j) {
        where << " " << x[j];
    }
    return where.str();
}

// Compares the settled value of `model` at `x` (borders of the working directory) with the
// value of the twin's state, and counts the point in `tally` when the twin settles.
void compareWithTwin(const ModelEntry& model, const NRvector<double>& x, Tally& tally) {
    SCOPED_TRACE(pointText(model, x));
    // The settled value is the plain stop's wherever the plain run has fewer than 5000
    // generations to go (SettleRules::plainReach); beyond, it is the limit, which the plain stop
    // at 1e-13 may miss by more than 1e-6.
    const long long cap = 5000;
    SettledReport report;
    const ModelContext builtIn;
    const double value = evaluateModel(builtIn, model, x, ObjectiveKind::settled, &report);
    EXPECT_EQ(evaluateModel(builtIn, model, x, ObjectiveKind::settled), value)
        << "without a report";
    RowHook captured;
    ModelContext capturing;
    capturing.simulation.rowHook = &captured;
    model.evaluate(capturing, x);
    if (!captured.captured) {
        EXPECT_EQ(report.kind, StateKind::none);
        return;
    }
    if (!captured.state.converged) {
        EXPECT_EQ(report.kind, StateKind::unsettled);
        return;
    }
    plain::PlainSettling twin = plain::settle(captured.dynamics, captured.state.larvae,
                                              lastChangeOf(captured.state), 1e-13, cap);
    if (!twin.settled) {
        return;
    }
    if (report.kind == StateKind::alleleLost) {
        // The row is losing a genotype: 2000 generations on from where the settled run stopped,
        // some adult frequency of the twin's state there under 1e-6 has at least halved, and
        // the settled value is the penalty unit above the score of that state.
        const long long stop = report.generations - report.zonefitGenerations;
        if (stop > 4 * cap) {
            return;
        }
        twin = plain::settle(captured.dynamics, captured.state.larvae, lastChangeOf(captured.state),
                             0.0, stop);
        ++tally.compared;
        const double twinValue = valueOf(model, x, twin);
        const plain::PlainSettling later =
            plain::settle(captured.dynamics, twin.larvae, twin.lastChange, 0.0, 2000);
        bool falling = false;
        for (std::size_t i = 0; i < twin.adults.size(); ++i) {
            const double before[3] = {twin.adults[i].SS, twin.adults[i].SI, twin.adults[i].II};
            const double after[3] = {later.adults[i].SS, later.adults[i].SI, later.adults[i].II};
            for (int g = 0; g < 3; ++g) {
                falling = falling ||
                          (before[g] >= DBL_MIN && before[g] < 1e-6 && after[g] < 0.5 * before[g]);
            }
        }
        EXPECT_TRUE(falling);
        const double unit = builtIn.box(model.number).penaltyUnit;
        if (value != unit + twinValue) {
            EXPECT_NEAR(value, unit + twinValue, 1e-6);
        }
        ++tally.lost;
        return;
    }
    double twinValue = 0.0;
    if (!runToRest(model, x, captured.dynamics, twin, 4 * cap, twinValue)) {
        return;
    }
    ++tally.compared;
    // Equal values include two infinite ones (a genotype seen where the row has lost it).
    if (value != twinValue) {
        EXPECT_NEAR(value, twinValue, 1e-6);
    }
    EXPECT_EQ(report.kind,
              twin.grewAgain ? StateKind::transientThenEquilibrium : StateKind::equilibrium);
}

class SettledAgainstTwin : public InScratchWorkDir, public testing::WithParamInterface<int> {
  protected:
    void SetUp() override {
        InScratchWorkDir::SetUp();
        std::ofstream("borders.txt") << "25\n79\n";
    }
};

} // namespace

namespace {

// Model 4 with the regions of the tests above (borders 25 and 79).
class SettledUnderStrongSelection : public InScratchWorkDir {
  protected:
    void SetUp() override {
        InScratchWorkDir::SetUp();
        std::ofstream("borders.txt") << "25\n79\n";
    }
    // The settled value of model 4 at `x`, with its report in `report`.
    double settled(const std::vector<double>& x, SettledReport& report) {
        const ModelEntry& model = *findModel(4);
        NRvector<double> v(model.parameterCount);
        for (int j = 0; j < model.parameterCount; ++j) {
            v[j] = x[static_cast<std::size_t>(j)];
        }
        const double value =
            evaluateModel(ModelContext{}, model, v, ObjectiveKind::settled, &report);
        EXPECT_EQ(evaluateModel(ModelContext{}, model, v, ObjectiveKind::settled), value);
        Tally tally;
        compareWithTwin(model, v, tally);
        EXPECT_EQ(tally.compared, 1);
        return value;
    }
};

} // namespace

TEST_F(SettledUnderStrongSelection, NewtonsLimitKeepsTheRareAllelesOfThePlainLimit) {
    // Region 2 (between the borders) all but loses S: its heterozygotes have fitness 0.139 against
    // SS 1 and II 1.228. The row approaches its limit at a rate of 0.99514 a generation, and
    // zonefit stops at 11499.17061 (2134 generations). Plain iteration settles at 11499.1682148
    // and stays there for 20 million generations more. Newton steps from generation 2284 land
    // on the same state to 8e-16 in every frequency, but put the SS larvae of deme 62 at 4.8e-57
    // instead of 7.6e-62: to a solver exact to the rounding of frequencies near 1, both are 0.
    // The score reads their logarithm. Site 61 (1 SS of 17) receives its SS adults from deme
    // 62: at 1.11e-57 instead of 1.74e-62, 6.4e4 times too many, its term -ln p was
    // ln(6.4e4) = 11.06 too low, and the value 11488.10 a fit no state of the row has. Two
    // generations from Newton's state put the frequency back; the value is the plain limit's.
    SettledReport report;
    const double value =
        settled({2.0459202645534349, 1.4342829953753011, 0.1390396040200077, 1.2284015168840354,
                 3.1202972114564376, 3.1050888647297241, 11.799810841404089},
                report);
    EXPECT_EQ(report.zonefitValue, 11499.170614005528);
    EXPECT_EQ(report.zonefitGenerations, 2134);
    EXPECT_EQ(report.kind, StateKind::equilibrium);
    EXPECT_NEAR(value, 11499.1682147671, 1e-6);
}

TEST_F(SettledUnderStrongSelection, FrequenciesFarBelowTheToleranceSettleBeforeTheyAreScored) {
    // Sites 0 to 5 (14 SS in all) lie in region 1, where II fits best and S is all but lost: the
    // SS adults there are near 1e-23, the SI larvae of deme 0 near 6e-12. The larvae change by
    // less than 1e-13 after 38 generations beyond zonefit's 75, and that state scores 4989.04768,
    // with the SS frequencies up to 8% above their limit and falling by 26% of the gap a
    // generation. Plain iteration reaches a state that does not change at all 300 generations
    // on: 4989.18196.
    SettledReport report;
    const double value =
        settled({1.5510095675899032, 2.095052623233943, 52.346776939041824, 0.062650115795194902,
                 0.18640482686589152, 14.259912591421473, 11.526962134270384},
                report);
    EXPECT_EQ(report.zonefitGenerations, 75);
    EXPECT_EQ(report.kind, StateKind::equilibrium);
    EXPECT_NEAR(value, 4989.1819642193, 1e-6);
}

TEST_P(SettledAgainstTwin, AgreesWhereTheTwinSettlesNearNeutrality) {
    const ModelEntry& model = *findModel(GetParam());
    std::mt19937_64 rng(1000 + static_cast<unsigned>(model.number));
    NRvector<double> x(model.parameterCount);
    Tally tally;
    for (int k = 0; k < 50; ++k) {
        drawInRegions(model, rng, x);
        compareWithTwin(model, x, tally);
    }
    EXPECT_GE(tally.compared, 30);
    std::cout << "model " << model.number << " near neutrality: " << tally.compared
              << " of 50 points compared, " << tally.lost
              << " of them losing an observed genotype\n";
}

TEST_P(SettledAgainstTwin, AgreesWhereTheTwinSettlesUnderStrongSelection) {
    const ModelEntry& model = *findModel(GetParam());
    std::mt19937_64 rng(3000 + static_cast<unsigned>(model.number));
    const int points = 60;
    NRvector<double> x(model.parameterCount);
    Tally tally;
    for (int k = 0; k < points; ++k) {
        drawStrongSelection(model, rng, k % 2 == 0 ? StrongDraw::box : StrongDraw::strength, x);
        compareWithTwin(model, x, tally);
    }
    EXPECT_GE(tally.compared, points / 2);
    std::cout << "model " << model.number << " under strong selection: " << tally.compared << " of "
              << points << " points compared, " << tally.lost
              << " of them losing an observed genotype\n";
}

INSTANTIATE_TEST_SUITE_P(EveryModel, SettledAgainstTwin, testing::Range(1, modelCount + 1));

TEST(SettledRareGenotypes, RestAtTheInteriorLimitThatNewtonStepsFind) {
    // Model 2 near its best fit on the built-in transect. Far from the zone, on the right,
    // SS and SI rest near 1e-9 to 1e-11 in some demes, and the row approaches its limit
    // at 0.999978 a generation: the plain run needs about 1.2 million generations beyond
    // zonefit's stop before the score stops moving. The genotypes are rare in some demes but
    // present in the row as a whole: the limit is an equilibrium, which Newton steps reach at
    // once. Its value is that of the plain run carried 2 million generations on.
    const ModelEntry& model = *findModel(2);
    const std::vector<double> point{0.99895757721022793, 0.99353916249614094, 0.99937294660880016,
                                    0.99981929025344951, 0.48850148655373138, 6.899123214169034,
                                    44.346319099201835};
    NRvector<double> x(model.parameterCount);
    for (int j = 0; j < model.parameterCount; ++j) {
        x[j] = point[static_cast<std::size_t>(j)];
    }
    SettledReport report;
    const double value = evaluateModel(ModelContext{}, model, x, ObjectiveKind::settled, &report);
    EXPECT_EQ(report.kind, StateKind::equilibrium);
    EXPECT_LT(report.generations - report.zonefitGenerations, 20000);
    RowHook captured;
    ModelContext capturing;
    capturing.simulation.rowHook = &captured;
    model.evaluate(capturing, x);
    ASSERT_TRUE(captured.captured);
    const plain::PlainSettling twin = plain::settle(captured.dynamics, captured.state.larvae,
                                                    lastChangeOf(captured.state), 0.0, 2000000);
    EXPECT_NEAR(value, valueOf(model, x, twin), 1e-7);
}
