// The journal of a profile: a profile stopped part of the way resumes from the points it had
// written, to the same result.
#include "tools/analysis/profile.h"
#include "tools/formats/profile_curve.h"
#include "tools/formats/profile_journal.h"

#include "support/read_only_dir.h"
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// (x0 - 1)^2 + x1^2 from (3, 0): the profile of x0 moves the estimate many times, so the
// journal holds points of several estimates.
double bowl(const NRvector<double>& x) {
    return (x[0] - 1.0) * (x[0] - 1.0) + x[1] * x[1];
}

const std::vector<std::string> names = {"a", "b"};
const std::vector<ParameterInfo> noBoxes;

ProfileSettings manyMoves() {
    ProfileSettings s;
    s.simplexTolerance = 1e-10;
    s.maxEvaluations = 200000;
    s.maxRestarts = 100;
    return s;
}

const std::string head = profileJournalHead({{"model", "1"}, {"estimate", "3 0"}});

// The profile with the journal at `path`: recalled points are not computed, computed ones are
// appended until `keep` of them are written (then the journal is left alone, as if the run
// had stopped). `calls` counts the objective's evaluations.
ProfileOutcome journaled(ProfileJournal& journal, long keep, long& calls, long& computed) {
    const ProfiledObjective counted = [&calls](const NRvector<double>& x) {
        calls++;
        return bowl(x);
    };
    ProfileHooks hooks;
    hooks.recall = [&journal](int estimate, double minimum, ProfilePoint& point) {
        return journal.recall(estimate, minimum, point);
    };
    hooks.computed = [&](int estimate, double minimum, const ProfilePoint& point) {
        std::string error;
        if (computed++ < keep) {
            EXPECT_TRUE(journal.append(estimate, minimum, point, error)) << error;
        }
    };
    return profileLikelihood(counted, {3.0, 0.0}, noBoxes, {0, 1}, manyMoves(), hooks);
}

} // namespace

TEST(ProfileJournal, AStoppedProfileResumesToTheSameResult) {
    ScratchDir dir;
    const std::string path = dir.file("j.tsv");
    long wholeCalls = 0;
    long wholeComputed = 0;
    std::string error;
    ProfileJournal first;
    ASSERT_TRUE(first.open(path, head, names, false, error)) << error;
    EXPECT_EQ(first.kept(), 0u);
    // Stopped after 30 points, the last line cut short by the stop.
    const ProfileOutcome whole = journaled(first, 30, wholeCalls, wholeComputed);
    ASSERT_GT(whole.moves.size(), 2u);
    ASSERT_GT(wholeComputed, 30);
    const std::string written = dir.read("j.tsv");
    dir.write("j.tsv", written + "point\t7\t1.5\ta\tlo");

    ProfileJournal second;
    ASSERT_TRUE(second.open(path, head, names, false, error)) << error;
    EXPECT_EQ(second.kept(), 30u);
    // The cut line is gone from the file, and the points computed now follow the kept ones.
    EXPECT_EQ(dir.read("j.tsv"), written);
    long calls = 0;
    long computed = 0;
    const ProfileOutcome resumed = journaled(second, 1000000, calls, computed);
    EXPECT_EQ(computed, wholeComputed - 30);
    EXPECT_LT(calls, wholeCalls);
    EXPECT_EQ(resumed.evaluations, whole.evaluations);
    EXPECT_EQ(resumed.moves.size(), whole.moves.size());
    EXPECT_EQ(profileCurveText(names, resumed.estimate, resumed),
              profileCurveText(names, whole.estimate, whole));

    // A third run recalls every point and evaluates only the estimates.
    ProfileJournal third;
    ASSERT_TRUE(third.open(path, head, names, false, error)) << error;
    EXPECT_EQ(third.kept(), static_cast<std::size_t>(wholeComputed));
    calls = 0;
    computed = 0;
    const ProfileOutcome recalled = journaled(third, 0, calls, computed);
    EXPECT_EQ(computed, 0);
    EXPECT_EQ(calls, static_cast<long>(whole.moves.size()) + 1);
    EXPECT_EQ(profileCurveText(names, recalled.estimate, recalled),
              profileCurveText(names, whole.estimate, whole));
    EXPECT_TRUE(third.remove(error)) << error;
    EXPECT_FALSE(dir.exists("j.tsv"));
}

TEST(ProfileJournal, AnotherProfilesJournalIsRefusedUnlessRedone) {
    ScratchDir dir;
    const std::string path = dir.file("j.tsv");
    const std::string other = profileJournalHead({{"model", "1"}, {"estimate", "3 0.5"}});
    const std::string point = "point\t0\t4\ta\tlower\t2.5\t2.25\t12\t2.5\t0\n";
    dir.write("j.tsv", other + point);
    ProfileJournal journal;
    std::string error;
    EXPECT_FALSE(journal.open(path, head, names, false, error));
    EXPECT_EQ(error, path + ":3: the journal of another profile ('estimate\t3 0.5' where this one "
                            "has 'estimate\t3 0'); remove it, or run again with --redo to start "
                            "over");
    EXPECT_EQ(dir.read("j.tsv"), other + point);
    // A head cut short is another head too.
    dir.write("j.tsv", "zonefit-profile-journal\t1\nmodel\t1\n");
    EXPECT_FALSE(journal.open(path, head, names, false, error));
    EXPECT_EQ(error.substr(path.size()), ":3: the journal of another profile ('' where this one "
                                         "has 'estimate\t3 0'); remove it, or run again with "
                                         "--redo to start over");
    // A complete line that is no point: a parameter the profile does not have.
    dir.write("j.tsv", head + point + "point\t0\t4\tc\tlower\t2.5\t2.25\t12\t2.5\t0\n");
    EXPECT_FALSE(journal.open(path, head, names, false, error));
    EXPECT_EQ(error,
              path + ":5: not a profile point; remove the journal, or run again with --redo");

    // The point read back is the one written; --redo drops it.
    dir.write("j.tsv", head + point);
    ASSERT_TRUE(journal.open(path, head, names, false, error)) << error;
    ProfilePoint p;
    p.index = 0;
    p.side = -1;
    p.fixed = 2.5;
    ASSERT_TRUE(journal.recall(0, 4.0, p));
    EXPECT_EQ(p.value, 2.25);
    EXPECT_EQ(p.evaluations, 12);
    EXPECT_EQ(p.point, (std::vector<double>{2.5, 0.0}));
    // Of another estimate, or the other side, it is not that point.
    EXPECT_FALSE(journal.recall(1, 4.0, p));
    EXPECT_FALSE(journal.recall(0, 3.0, p));
    p.side = +1;
    EXPECT_FALSE(journal.recall(0, 4.0, p));
    ProfileJournal redone;
    dir.write("j.tsv", other + point);
    ASSERT_TRUE(redone.open(path, head, names, true, error)) << error;
    EXPECT_EQ(redone.kept(), 0u);
    EXPECT_EQ(dir.read("j.tsv"), head);
    EXPECT_EQ(profileJournalName("runs/SS1_ML_"), "runs/profile-SS1_ML_.journal.tsv");
}

// The four sides of the bowl's profile from (3, 0), each computed apart into its own journal,
// then absorbed into the whole profile's: the whole profile computes only what the sides lack
// and ends as one computed alone. Every side but a's upper one meets a better point at once (b
// fixed, a falls to the bottom at 1); it ends there, the estimate as it was.
TEST(ProfileJournal, SidesComputedApartMakeTheWholeProfile) {
    ScratchDir dir;
    long calls = 0;
    long computed = 0;
    ProfileJournal none; // not opened: recalls nothing, and nothing is written to it
    const ProfileOutcome alone = journaled(none, 0, calls, computed);
    ASSERT_GT(alone.moves.size(), 2u);
    const long aloneComputed = computed;
    std::string error;
    std::vector<std::string> sides;
    std::size_t sidePoints = 0;
    for (int k = 1; k <= 4; k++) {
        sides.push_back(profileSideJournalName(dir.file("SS1_ML_opt1"), k, 4));
        ProfileJournal journal;
        ASSERT_TRUE(journal.open(sides.back(), head, names, false, error)) << error;
        ProfileHooks hooks;
        std::vector<ProfilePoint> points;
        hooks.computed = [&](int estimate, double minimum, const ProfilePoint& point) {
            EXPECT_EQ(estimate, 0);
            EXPECT_EQ(minimum, 4.0);
            EXPECT_TRUE(journal.append(estimate, minimum, point, error)) << error;
            points.push_back(point);
        };
        const ProfileOutcome side = profileSide(bowl, {3.0, 0.0}, noBoxes, (k - 1) / 2,
                                                k % 2 == 1 ? -1 : +1, manyMoves(), hooks);
        EXPECT_EQ(side.estimate, (std::vector<double>{3.0, 0.0}));
        EXPECT_TRUE(side.moves.empty());
        ASSERT_FALSE(points.empty());
        const bool better = points.back().value < 4.0 - manyMoves().restartMargin;
        EXPECT_EQ(better, k != 2) << k;
        if (better) {
            EXPECT_EQ(points.size(), 1u) << k;
        }
        sidePoints += points.size();
    }
    EXPECT_EQ(dir.exists("profile-SS1_ML_opt1.side-3-of-4.journal.tsv"), true);

    ProfileJournal whole;
    ASSERT_TRUE(whole.open(dir.file("whole.tsv"), head, names, false, error)) << error;
    for (const std::string& side : sides) {
        ASSERT_TRUE(whole.absorb(side, error)) << error;
    }
    // Again, and a side that never ran: nothing more.
    ASSERT_TRUE(whole.absorb(sides.front(), error)) << error;
    ASSERT_TRUE(whole.absorb(dir.file("none.tsv"), error)) << error;
    EXPECT_EQ(whole.kept(), sidePoints);
    const std::string absorbed = dir.read("whole.tsv");
    EXPECT_EQ(static_cast<std::size_t>(std::count(absorbed.begin(), absorbed.end(), '\n')),
              sidePoints + 3);
    calls = 0;
    computed = 0;
    const ProfileOutcome merged = journaled(whole, 1000000, calls, computed);
    // Of the first estimate's pass only its first point was asked for: the rest is computed
    // from the estimates it moved to.
    EXPECT_EQ(computed, aloneComputed - 1);
    EXPECT_EQ(merged.evaluations, alone.evaluations);
    EXPECT_EQ(merged.moves.size(), alone.moves.size());
    EXPECT_EQ(profileCurveText(names, merged.estimate, merged),
              profileCurveText(names, alone.estimate, alone));

    // A side journal of another profile adds nothing.
    const std::string other = profileJournalHead({{"model", "1"}, {"estimate", "3 0.5"}});
    dir.write("other.tsv", other + "point\t0\t4\ta\tlower\t2.5\t2.25\t12\t2.5\t0\n");
    ProfileJournal fresh;
    ASSERT_TRUE(fresh.open(dir.file("fresh.tsv"), head, names, false, error)) << error;
    EXPECT_FALSE(fresh.absorb(dir.file("other.tsv"), error));
    EXPECT_EQ(error, dir.file("other.tsv") +
                         ":3: the journal of another profile ('estimate\t3 0.5' where this one "
                         "has 'estimate\t3 0'); remove it, or run again with --redo to start "
                         "over");
    EXPECT_EQ(fresh.kept(), 0u);
    EXPECT_EQ(dir.read("fresh.tsv"), head);
    EXPECT_EQ(profileSideJournalName("runs/SS1_ML_", 3, 8),
              "runs/profile-SS1_ML_.side-3-of-8.journal.tsv");
}

// Model 1 at zero fitnesses evaluates to its penalty at once, so its profile of F is quick: it
// is stopped by a signal after 3 points, and the same command then resumes it to the output
// and the curve of a run that was not stopped, and removes the journal.
TEST(ProfileCommand, AStoppedProfileResumesFromItsJournal) {
    ScratchDir dir;
    dir.write("SS1_ML_", "0 0 1 15 100000\n");
    const std::string command = "profile 1 --parameters F --quiet --curve ";
    const ProgramResult whole = runProgram(dir.path(), ZONETOOL_BIN, command + "whole.tsv");
    ASSERT_EQ(whole.status, 0) << whole.err;
    EXPECT_FALSE(dir.exists("profile-SS1_ML_.journal.tsv"));
    ProgramResult r = runProgram(dir.path(), "env",
                                 "ZONETOOL_TEST_PROFILE_STOP_AFTER=3 " + shellQuote(ZONETOOL_BIN) +
                                     " " + command + "part.tsv");
    EXPECT_EQ(r.status, 143);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(dir.exists("part.tsv"));
    EXPECT_FALSE(dir.exists("profile-SS1_ML_.journal.tsv.lock"));
    const std::string journal = dir.read("profile-SS1_ML_.journal.tsv");
    EXPECT_EQ(journal.find("point\t0\t100000\tF\tlower\t0.94999999999999996\t100000\t"),
              journal.find("\npoint") + 1)
        << journal;

    // A profile of other settings does not resume from it.
    r = runProgram(dir.path(), ZONETOOL_BIN, "profile 1 --parameters F --quiet --step 0.1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    // After the model's own messages at the estimate.
    const std::string refusal =
        "zonetool profile: profile-SS1_ML_.journal.tsv:10: the journal of another profile "
        "('step\t0.050000000000000003' where this one has 'step\t0.10000000000000001'); remove "
        "it, or run again with --redo to start over\n";
    EXPECT_EQ(r.err, "likelihood=NaN\nlikelihood=NaN\n" + refusal);
    EXPECT_EQ(dir.read("profile-SS1_ML_.journal.tsv"), journal);

    r = runProgram(dir.path(), ZONETOOL_BIN, command + "part.tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, whole.out);
    EXPECT_EQ(dir.read("part.tsv"), dir.read("whole.tsv"));
    EXPECT_NE(r.err.find("zonetool profile: resuming from profile-SS1_ML_.journal.tsv: 3 points "
                         "computed before\n"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(dir.exists("profile-SS1_ML_.journal.tsv"));

    // With --redo a journal of other settings is dropped and the profile starts over.
    dir.write("profile-SS1_ML_.journal.tsv", journal);
    r = runProgram(dir.path(), ZONETOOL_BIN,
                   "profile 1 --parameters F --quiet --step 0.1 --redo --format tsv");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "# objective: settled\nparameter\testimate\tlower\tupper\tbox\nF\t1\t0\t1\tboth\n");
    EXPECT_EQ(r.err.find("resuming"), std::string::npos);
    EXPECT_FALSE(dir.exists("profile-SS1_ML_.journal.tsv"));
}

// A fit in a directory that takes no new files is profiled without a journal, and says so.
TEST(ProfileCommand, AReadOnlyDirectoryIsProfiledWithoutAJournal) {
    ScratchDir dir;
    dir.write("SS1_ML_", "0 0 1 15 100000\n");
    const ProgramResult r = inReadOnlyDir(dir, "profile 1 --parameters F --quiet --format tsv");
    chmod(dir.path().c_str(), 0755);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "# objective: settled\nparameter\testimate\tlower\tupper\tbox\nF\t1\t0\t1\tboth\n");
    EXPECT_NE(r.err.find("zonetool profile: warning: no journal: . cannot take new "
                         "files; a stopped profile will start over\n"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(dir.exists("profile-SS1_ML_.journal.tsv"));
}
