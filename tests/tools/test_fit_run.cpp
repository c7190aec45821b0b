// The description of a fit, the names of its files, the options that describe it, and the one
// entry point that runs it.
#include "tools/analysis/fit_checks.h"
#include "tools/analysis/fit_run.h"
#include "tools/commands/fit_one.h"
#include "tools/commands/fit_options.h"
#include "tools/formats/data_option.h"
#include "tools/formats/fit_description.h"

#include "models/model_context.h"
#include "models/model_table.h"
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <sstream>
#include <unistd.h>

namespace {

// A smooth bowl in four parameters, minimum 3 at (2, 3, 0.25, 7): a fit of it runs the whole
// schedule in a fraction of a second.
double bowl(const ModelContext&, const NRvector<double>& x) {
    const double a = x[0] - 2.0;
    const double b = x[1] - 3.0;
    const double c = x[2] - 0.25;
    const double d = x[3] - 7.0;
    return 3.0 + a * a + 2.0 * b * b + 10.0 * c * c + 0.1 * d * d;
}

// The bowl raised by the number of sites of the transect it is evaluated on: a fit of it tells
// which transect its objective saw.
double raisedBowl(const ModelContext& context, const NRvector<double>& x) {
    return bowl(context, x) + context.data().siteCount();
}

const char* const bowlStart = "1 1 0.5 10\n0.5 0.5 0.1 2\n";

// Makes `dir` the working directory for the guard's lifetime.
class InDirectory {
  public:
    explicit InDirectory(const ScratchDir& dir) {
        saved_ = getcwd(previous_, sizeof previous_) != nullptr;
        EXPECT_EQ(chdir(dir.path().c_str()), 0);
    }
    ~InDirectory() {
        if (saved_) {
            EXPECT_EQ(chdir(previous_), 0);
        }
    }
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;

  private:
    char previous_[4096];
    bool saved_ = false;
};

// The description of a seeded fit of the bowl as model 1.
FitDescription bowlFit(FitReports reports, const std::string& checkpoint = "") {
    FitDescription fit;
    fit.model = 1;
    fit.startPath = "startvec1.txt";
    fit.seed = 5;
    fit.function = bowl;
    FitNaming naming;
    naming.checkpoint = checkpoint;
    fit.files = fitFiles(*findModel(1), fit.seed, naming);
    fit.reports = reports;
    return fit;
}

} // namespace

TEST(FitFiles, NamesFollowModelOptimumAndSeed) {
    const ModelEntry& one = *findModel(1);
    const ModelEntry& seven = *findModel(7);
    FitNaming plain;
    FitFiles files = fitFiles(one, std::uint64_t{3}, plain);
    // One seed keeps zonefit's own name.
    EXPECT_EQ(files.result, "SS1_ML_");
    EXPECT_EQ(files.record, "SS1_ML_.json");
    EXPECT_EQ(files.log, "SS1_ML_.log");
    EXPECT_EQ(files.checkpoint, "");
    EXPECT_EQ(files.trace, "");

    FitNaming seeds;
    seeds.seedInName = true;
    seeds.checkpointBeside = true;
    files = fitFiles(seven, std::uint64_t{12}, seeds);
    EXPECT_EQ(files.result, "C_1_ML_seed12");
    EXPECT_EQ(files.log, "C_1_ML_seed12.log");
    EXPECT_EQ(files.checkpoint, "C_1_ML_seed12.ckpt");
    // A clock-seeded fit has no seed to name.
    EXPECT_EQ(fitFiles(seven, std::nullopt, seeds).result, "C_1_ML_");

    FitNaming optimum;
    optimum.optimum = 2;
    EXPECT_EQ(fitFiles(one, std::uint64_t{3}, optimum).result, "SS1_ML_opt2");
    optimum.seedInName = true;
    EXPECT_EQ(fitFiles(one, std::uint64_t{3}, optimum).result, "SS1_ML_opt2seed3");
    EXPECT_EQ(optimumFitName(one, 2, std::uint64_t{3}), "SS1_ML_opt2seed3");

    // A name given replaces the model's, and every file follows it.
    optimum.result = "mine";
    optimum.checkpoint = "state/c.ckpt";
    optimum.trace = "t.tsv";
    files = fitFiles(one, std::uint64_t{3}, optimum);
    EXPECT_EQ(files.result, "mine");
    EXPECT_EQ(files.record, "mine.json");
    EXPECT_EQ(files.log, "mine.log");
    EXPECT_EQ(files.checkpoint, "state/c.ckpt");
    EXPECT_EQ(files.trace, "t.tsv");
}

TEST(FitFiles, LogLinesSaySeedAndOnlyTheSettledObjective) {
    EXPECT_EQ(seedLine(std::uint64_t{18446744073709551615ULL}), "seed: 18446744073709551615\n");
    EXPECT_EQ(seedLine(std::nullopt), "seed: clock\n");
    EXPECT_EQ(objectiveLine(ObjectiveKind::zonefit), "");
    EXPECT_EQ(objectiveLine(ObjectiveKind::settled), "objective: settled\n");
}

TEST(FitOptions, BothFormsDescribeTheSameOneFit) {
    FitOptions plain;
    ASSERT_EQ(readFitOptions({"07", "--seed", "4", "--result", "r", "--checkpoint", "r.ckpt",
                              "--objective", "settled", "--requeue"},
                             plain, std::cout, std::cerr),
              -1);
    EXPECT_FALSE(plain.from);
    const FitDescription fit = describeOneFit(plain, "startvec07.txt", StartOrigin::startFile);
    EXPECT_EQ(fit.model, 7);
    EXPECT_EQ(fit.modelText(), "07");
    EXPECT_EQ(fit.seed, std::uint64_t{4});
    EXPECT_EQ(fit.objective, ObjectiveKind::settled);
    EXPECT_EQ(fit.files.result, "r");
    EXPECT_EQ(fit.files.checkpoint, "r.ckpt");
    // A checkpointed fit reports to its log; a plain one to the console as zonefit.
    EXPECT_EQ(fit.reports, FitReports::log);
    EXPECT_TRUE(fit.requeue);

    FitOptions from;
    ASSERT_EQ(readFitOptions({"1", "--from", "r.json", "--optimum", "2", "--seed", "3", "--trace",
                              "t.tsv", "--result", "a", "--result", "b"},
                             from, std::cout, std::cerr),
              -1);
    EXPECT_TRUE(from.from);
    EXPECT_EQ(from.models, std::vector<int>{1});
    EXPECT_EQ(from.recordPath, "r.json");
    EXPECT_EQ(from.optimum, 2);
    EXPECT_FALSE(from.objectiveGiven);
    const FitDescription one = describeOneFit(from, "SS1_ML_opt2.start", StartOrigin::optimum);
    // The last --result counts.
    EXPECT_EQ(one.files.result, "b");
    EXPECT_EQ(one.files.trace, "t.tsv");
    EXPECT_EQ(one.reports, FitReports::console);
    EXPECT_EQ(one.modelText(), "1");
}

TEST(FitOptions, RequeueOfOneOptimumNeedsItsCheckpoint) {
    FitOptions options;
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(
        readFitOptions({"1", "--from", "r.json", "--optimum", "1", "--requeue"}, options, out, err),
        2);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "zonetool fit: --requeue needs --checkpoint or --checkpoints\n"
                         "Run 'zonetool fit --help' for usage.\n");
}

TEST(FitChecks, RedoGuardsResultRecordAndOnlyALogNoCheckpointOwns) {
    ScratchDir dir;
    const InDirectory here(dir);
    EXPECT_EQ(guardedNames(bowlFit(FitReports::console)),
              (std::vector<std::string>{"SS1_ML_", "SS1_ML_.json"}));
    EXPECT_EQ(guardedNames(bowlFit(FitReports::log)),
              (std::vector<std::string>{"SS1_ML_", "SS1_ML_.json", "SS1_ML_.log"}));
    EXPECT_EQ(guardedNames(bowlFit(FitReports::log, "c.ckpt")),
              (std::vector<std::string>{"SS1_ML_", "SS1_ML_.json"}));
    // An unfinished checkpointed fit owns its files: it resumes.
    dir.write("c.ckpt", "x");
    EXPECT_EQ(guardedNames(bowlFit(FitReports::log, "c.ckpt")), std::vector<std::string>{});
}

TEST(DescribedFit, ConsoleFitWritesZonefitsReportsToTheCallersStream) {
    ScratchDir dir;
    dir.write("startvec1.txt", bowlStart);
    const InDirectory here(dir);
    std::ostringstream out;
    std::ostringstream err;
    int started = 0;
    int ended = 0;
    long calls = 0;
    FitHooks hooks(out, err);
    hooks.onCall = [&calls](const AnnealCall&) { calls++; };
    hooks.started = [&started] { started++; };
    hooks.ended = [&ended] { ended++; };
    FitProgress progress;
    const FitOutcome outcome = runDescribedFit(bowlFit(FitReports::console), progress, hooks);
    EXPECT_EQ(outcome.status, 0) << err.str();
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(out.str().rfind("We'll do model 1: SS_1\n", 0), 0u);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(ended, 1);
    EXPECT_GT(calls, 8); // at least one call per cycle of the schedule
    EXPECT_TRUE(outcome.hasValue);
    EXPECT_NEAR(outcome.value, 3.0, 1e-4);
    EXPECT_EQ(outcome.evaluations, progress.evaluations.load());
    EXPECT_TRUE(dir.exists("SS1_ML_.json"));
    EXPECT_FALSE(dir.exists("SS1_ML_.log"));
}

TEST(DescribedFit, CheckpointedFitEndsAsThePlainOneAndRemovesItsCheckpoint) {
    ScratchDir plainDir;
    ScratchDir savedDir;
    plainDir.write("startvec1.txt", bowlStart);
    savedDir.write("startvec1.txt", bowlStart);
    std::ostringstream out;
    std::ostringstream consoleErr;
    FitHooks console(out, consoleErr);
    FitProgress plainProgress;
    FitProgress savedProgress;
    {
        const InDirectory here(plainDir);
        ASSERT_EQ(runDescribedFit(bowlFit(FitReports::console), plainProgress, console).status, 0);
    }
    std::ostringstream err;
    std::ostringstream savedOut;
    FitHooks saved(savedOut, err);
    FitOutcome outcome;
    {
        const InDirectory here(savedDir);
        outcome = runDescribedFit(bowlFit(FitReports::log, "c.ckpt"), savedProgress, saved);
    }
    ASSERT_EQ(outcome.status, 0) << err.str();
    EXPECT_EQ(savedDir.read("SS1_ML_"), plainDir.read("SS1_ML_"));
    EXPECT_EQ(outcome.evaluations, plainProgress.evaluations.load());
    EXPECT_FALSE(savedDir.exists("c.ckpt"));
    // The log holds the seed line, then exactly what the console fit wrote.
    EXPECT_EQ(savedDir.read("SS1_ML_.log"), "seed: 5\n" + out.str());
}

// Every form of a fit evaluates on the data its description names, the built-in transect (105
// sites) when it names none.
TEST(DescribedFit, EveryFormEvaluatesOnTheDataItNames) {
    DataContext fourSites;
    fourSites.path = "four.tsv";
    fourSites.transect.positions = {0.0, 1.0, 2.0, 3.0};
    const struct {
        FitReports reports;
        const char* checkpoint;
    } forms[] = {{FitReports::console, ""}, {FitReports::log, ""}, {FitReports::log, "c.ckpt"}};
    const DataContext* const datas[] = {nullptr, &fourSites};
    for (const auto& form : forms) {
        for (const DataContext* data : datas) {
            ScratchDir dir;
            dir.write("startvec1.txt", bowlStart);
            const InDirectory here(dir);
            FitDescription fit = bowlFit(form.reports, form.checkpoint);
            fit.function = raisedBowl;
            fit.data = data;
            std::ostringstream out;
            std::ostringstream err;
            FitHooks hooks(out, err);
            FitProgress progress;
            const FitOutcome outcome = runDescribedFit(fit, progress, hooks);
            ASSERT_EQ(outcome.status, 0) << err.str();
            EXPECT_NEAR(outcome.value, data == nullptr ? 108.0 : 7.0, 1e-4)
                << "checkpoint '" << form.checkpoint << "'";
        }
    }
}
