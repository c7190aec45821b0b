// The settled value against its plain twin (tests/reference/plain_settle.h) at random points of
// each model's exploration region: wherever the twin settles to 1e-13 within its cap, the
// settled value agrees with the value of the twin's state to 1e-6 and the kind of state with
// the twin's simple classification; where the row loses a genotype the data observe, the twin's
// state is seen losing it, and the settled value is penalised. Points where the twin
// does not settle within its cap of 5000 generations after zonefit's stop (slow approaches,
// quasi-stationary clines) are not compared; each model must have at least 30 of its 50 points
// compared. The settled value without a report (settled inside the model's run) must be the value
// with one, at every point.
#include <gtest/gtest.h>

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

class SettledAgainstTwin : public InScratchWorkDir, public testing::WithParamInterface<int> {
  protected:
    void SetUp() override {
        InScratchWorkDir::SetUp();
        std::ofstream("borders.txt") << "25\n79\n";
    }
};

} // namespace

TEST_P(SettledAgainstTwin, AgreesWhereTheTwinSettles) {
    const ModelEntry& model = *findModel(GetParam());
    std::mt19937_64 rng(1000 + static_cast<unsigned>(model.number));
    // The settled value is the plain stop's wherever the plain run has fewer than 5000
    // generations to go (SettleRules::plainReach); beyond, it is the limit, which the plain stop
    // at 1e-13 may miss by more than 1e-6.
    const long long cap = 5000;
    NRvector<double> x(model.parameterCount);
    int compared = 0;
    int lost = 0; // of the points compared, those where the row loses an observed genotype

    for (int k = 0; k < 50; ++k) {
        drawInRegions(model, rng, x);
        std::ostringstream where;
        where.precision(17);
        where << "point";
        for (int j = 0; j < model.parameterCount; ++j) {
            where << " " << x[j];
        }
        SCOPED_TRACE(where.str());
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
            continue;
        }
        if (!captured.state.converged) {
            EXPECT_EQ(report.kind, StateKind::unsettled);
            continue;
        }
        const plain::PlainSettling twin = plain::settle(captured.dynamics, captured.state.larvae,
                                                        lastChangeOf(captured.state), 1e-13, cap);
        if (!twin.settled) {
            continue;
        }
        ++compared;
        const double twinValue = valueOf(model, x, twin);
        if (report.kind == StateKind::alleleLost) {
            // The row is losing a genotype: 2000 generations on, some adult frequency of the
            // twin's state under 1e-6 has at least halved, and the settled value is the penalty
            // unit above the stop's score.
            const plain::PlainSettling later =
                plain::settle(captured.dynamics, twin.larvae, twin.lastChange, 0.0, 2000);
            bool falling = false;
            for (std::size_t i = 0; i < twin.adults.size(); ++i) {
                const double before[3] = {twin.adults[i].SS, twin.adults[i].SI, twin.adults[i].II};
                const double after[3] = {later.adults[i].SS, later.adults[i].SI,
                                         later.adults[i].II};
                for (int g = 0; g < 3; ++g) {
                    falling = falling || (before[g] >= DBL_MIN && before[g] < 1e-6 &&
                                          after[g] < 0.5 * before[g]);
                }
            }
            EXPECT_TRUE(falling);
            const double unit = builtIn.box(model.number).penaltyUnit;
            if (value != unit + twinValue) {
                EXPECT_NEAR(value, unit + twinValue, 1e-6);
            }
            ++lost;
            continue;
        }
        // Equal values include two infinite ones (a genotype seen where the row has lost it).
        if (value != twinValue) {
            EXPECT_NEAR(value, twinValue, 1e-6);
        }
        EXPECT_EQ(report.kind,
                  twin.grewAgain ? StateKind::transientThenEquilibrium : StateKind::equilibrium);
    }

    EXPECT_GE(compared, 30);
    std::cout << "model " << model.number << ": " << compared << " of 50 points compared, " << lost
              << " of them losing an observed genotype\n";
}

INSTANTIATE_TEST_SUITE_P(EveryModel, SettledAgainstTwin, testing::Range(1, modelCount + 1));
