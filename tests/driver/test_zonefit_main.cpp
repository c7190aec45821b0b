// End-to-end runs of the zonefit program in a scratch directory.
#include "support/run_program.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

const char* const usageText = "Where's your startvec file?\n"
                              "Remember to specify the Model Number in args\n"
                              "SS_1 = 1\n"
                              "SS_2 = 2\n"
                              "SS_3 = 3, needs borders.txt\n"
                              "SS_3_F0 = 4, needs borders.txt\n"
                              "SS_3_FR = 5, needs borders.txt\n"
                              "SS_3_FG = 6, needs borders.txt\n"
                              "C_1 = 7\n"
                              "C_2 = 8\n"
                              "C_3 = 9\n"
                              "C_3_F0 = 10\n";
const char* const emptyText = "Empty input file. No chains to be run? Exiting (1)\n";
const char* const deltasText =
    "Forgot to include the deltas in the second row of input file. Exiting (1)\n";

ProgramResult zonefit(const ScratchDir& dir, const std::string& arguments) {
    return runProgram(dir.path(), ZONEFIT_BIN, arguments);
}

// An SS_1 start vector outside the box (sigma 150) with zero steps: every vertex has the same
// penalty, so each annealer converges at once and the whole schedule takes milliseconds.
const char* const penaltyStart = "1 1 0.5 150\n0 0 0 0\n";

} // namespace

TEST(ZonefitUsage, MissingArgumentOrFileGivesUsageText) {
    ScratchDir dir;
    for (const char* arguments : {"", "1", "11"}) {
        const ProgramResult r = zonefit(dir, arguments);
        EXPECT_EQ(r.status, 1) << arguments;
        EXPECT_EQ(r.err, usageText) << arguments;
        EXPECT_EQ(r.out, "") << arguments;
    }
}

TEST(ZonefitStartFile, EmptyFile) {
    ScratchDir dir;
    dir.write("startvec1.txt", "");
    const ProgramResult r = zonefit(dir, "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, emptyText);
    EXPECT_EQ(r.out, "");
}

TEST(ZonefitStartFile, MissingOrShortDeltaRows) {
    ScratchDir dir;
    for (const char* content : {"1 1 0.5 10\n", "1 1 0.5 10", "1 1 0.5 10\n\n",
                                "1 1 0.5 10\n0.1 0.1 0.1\n", "1 1 0.5 10\r\n0.1 x 0.1 0.1\r\n"}) {
        dir.write("startvec1.txt", content);
        const ProgramResult r = zonefit(dir, "1");
        EXPECT_EQ(r.status, 1) << content;
        EXPECT_EQ(r.err, deltasText) << content;
        EXPECT_EQ(r.out, "") << content;
    }
}

TEST(ZonefitModelNumber, OutsideOneToTenWithAGoodFile) {
    ScratchDir dir;
    for (const char* argument : {"11", "0", "-1", "x"}) {
        dir.write(std::string("startvec") + argument + ".txt", penaltyStart);
        const ProgramResult r = zonefit(dir, argument);
        EXPECT_EQ(r.status, 1) << argument;
        EXPECT_EQ(r.out, "No model specified. Exiting(1)") << argument;
        EXPECT_EQ(r.err, "") << argument;
    }
}

TEST(ZonefitModelNumber, LeadingZeroNamesTheFileAndReadsOctal) {
    ScratchDir dir;
    // One value: too short for either model, so the message names the model that was chosen.
    dir.write("startvec07.txt", "1\n1\n");
    ProgramResult r = zonefit(dir, "07");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Model 7 (C_1) reads 5 parameters, but the start vector holds 1 value. "
                     "Exiting (1)\n");
    dir.write("startvec010.txt", "1 2\n1 2\n");
    r = zonefit(dir, "010");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Model 8 (C_2) reads 7 parameters, but the start vector holds 2 values. "
                     "Exiting (1)\n");
}

TEST(ZonefitStartFile, ShortOrEmptyStartVectorIsRefusedBeforeAnythingIsWritten) {
    ScratchDir dir;
    dir.write("SS1_ML_", "previous result\n");
    dir.write("startvec1.txt", "word 1 2\n1 2 3\n");
    ProgramResult r = zonefit(dir, "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Model 1 (SS_1) reads 4 parameters, but the start vector holds 0 values. "
                     "Exiting (1)\n");
    dir.write("startvec1.txt", "1 1 0.5\n0.1 0.1 0.1\n");
    r = zonefit(dir, "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Model 1 (SS_1) reads 4 parameters, but the start vector holds 3 values. "
                     "Exiting (1)\n");
    EXPECT_EQ(dir.read("SS1_ML_"), "previous result\n");
}

TEST(ZonefitRun, WholeScheduleWritesReportsAndResultFile) {
    ScratchDir dir;
    dir.write("startvec1.txt", penaltyStart);
    dir.write("SS1_ML_", "previous result\n");
    const ProgramResult r = zonefit(dir, "1");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expected = "We'll do model 1: SS_1\n";
    for (int i = 0; i < 3; i++) {
        expected += "Temporary Max::\n0 0 0 0 1.79769e+308\n";
    }
    for (int i = 0; i < 5; i++) {
        expected += "Refining has found:\n0 0 0 0 1.79769e+308\n";
    }
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.read("SS1_ML_"), "0 0 0 0 1.7976931e+308\n");
    const ProgramResult listing = runProgram(dir.path(), "/bin/ls", "-A");
    EXPECT_EQ(listing.out, "SS1_ML_\nstartvec1.txt\n");
}

TEST(ZonefitRun, LongerStartVectorWarnsAndFitsAllValues) {
    ScratchDir dir;
    dir.write("startvec1.txt", "1 1 0.5 150 7\n0 0 0 0 0\n");
    const ProgramResult r = zonefit(dir, "1");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Warning: model 1 (SS_1) reads 4 parameters; the start vector holds 5 "
                     "values, and the extra ones are fitted without effect\n");
    EXPECT_EQ(dir.read("SS1_ML_"), "0 0 0 0 0 1.7976931e+308\n");
}

TEST(ZonefitRun, UnwritableResultEndsBeforeTheFit) {
    ScratchDir dir;
    dir.write("startvec1.txt", penaltyStart);
    ASSERT_EQ(mkdir(dir.file("SS1_ML_").c_str(), 0755), 0);
    const ProgramResult r = zonefit(dir, "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "We'll do model 1: SS_1\n");
    EXPECT_EQ(r.err, "Cannot write the result file: SS1_ML_ exists and is not a regular file. "
                     "Exiting (1)\n");
}

TEST(ZonefitStartFile, HugeStartVectorIsRefusedCleanly) {
    ScratchDir dir;
    std::string row;
    for (int i = 0; i < 20000; i++) {
        row += "1 ";
    }
    dir.write("startvec1.txt", row + "\n" + row + "\n");
    const ProgramResult r = zonefit(dir, "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "The start vector holds 20000 values, more than the 11000 a simplex can be "
                     "built for. Exiting (1)\n");
}

// ---------------------------------------------------------------------------------------------
// Bad input, end to end: every case runs the real program in a fresh directory that already
// holds an earlier result, and checks the exact messages, the exit status and that the earlier
// result is either untouched or replaced whole, with no temporary file left.

namespace {

const char* const previousResult = "previous result\n";

// What the penalty-only fit of model 1 or 3 prints: every vertex has the same huge penalty, so
// no trial point is ever kept and each report shows n zeros and the largest double.
std::string penaltyFitOutput(const std::string& banner, int n) {
    std::string zeros;
    for (int i = 0; i < n; i++) {
        zeros += "0 ";
    }
    std::string out = banner + "\n";
    for (int i = 0; i < 3; i++) {
        out += "Temporary Max::\n" + zeros + "1.79769e+308\n";
    }
    for (int i = 0; i < 5; i++) {
        out += "Refining has found:\n" + zeros + "1.79769e+308\n";
    }
    return out;
}

std::string penaltyResultLine(int n) {
    std::string line;
    for (int i = 0; i < n; i++) {
        line += "0 ";
    }
    return line + "1.7976931e+308\n";
}

std::string tooShort(int model, const char* name, int reads, int holds) {
    return "Model " + std::to_string(model) + " (" + name + ") reads " + std::to_string(reads) +
           " parameters, but the start vector holds " + std::to_string(holds) +
           (holds == 1 ? " value" : " values") + ". Exiting (1)\n";
}

std::string repeated(const std::string& item, int times) {
    std::string text;
    text.reserve(item.size() * static_cast<std::size_t>(times));
    for (int i = 0; i < times; i++) {
        text += item;
    }
    return text;
}

// Bytes of every value but the line end, from a fixed generator; a line end after every
// `lineLength` bytes when lineLength > 0. The first byte is 0xFF, which no number starts with.
std::string garbage(int size, int lineLength) {
    std::string bytes;
    std::uint32_t state = 12345;
    for (int i = 0; i < size; i++) {
        state = state * 1664525u + 1013904223u;
        char byte = static_cast<char>(state >> 24);
        if (byte == '\n') {
            byte = '\0';
        }
        if (lineLength > 0 && i % lineLength == lineLength - 1) {
            byte = '\n';
        }
        bytes += i == 0 ? '\xff' : byte;
    }
    return bytes;
}

// The files of a directory, sorted, one per line.
std::string listing(const ScratchDir& dir) {
    return runProgram(dir.path(), "/bin/ls", "-A").out;
}

struct BadInput {
    const char* what;
    std::string argument; // as typed; the start file is "startvec" + argument + ".txt"
    std::string content;  // of the start file
    int status;
    std::string out;
    std::string err;
};

const char* const model1Banner = "We'll do model 1: SS_1";
// SS_1 with sigma 150, outside its box, and zero steps: a whole fit in milliseconds.
const char* const penaltyRows = "1 1 0.5 150\n0 0 0 0\n";

std::vector<BadInput> startFileCases() {
    const std::string fits = penaltyFitOutput(model1Banner, 4);
    const std::string twoHundredThousand = repeated("1 ", 200000) + "\n";
    return {
        {"empty file", "1", "", 1, "", emptyText},
        {"one row", "1", "1 1 0.5 150\n", 1, "", deltasText},
        {"one row, no line end", "1", "1 1 0.5 150", 1, "", deltasText},
        {"blank second row", "1", "1 1 0.5 150\n\n0 0 0 0\n", 1, "", deltasText},
        {"fewer deltas than values", "1", "1 1 0.5 150\n0 0 0\n", 1, "", deltasText},
        {"nan in the deltas", "1", "1 1 0.5 150\n0 nan 0 0\n", 1, "", deltasText},
        {"nan ends the row", "1", "1 1 nan 150\n0 0 0 0\n", 1, "", tooShort(1, "SS_1", 4, 2)},
        {"inf ends the row", "1", "1 1 0.5 inf\n0 0 0 0\n", 1, "", tooShort(1, "SS_1", 4, 3)},
        {"-inf ends the row", "1", "1 1 0.5 -inf\n0 0 0 0\n", 1, "", tooShort(1, "SS_1", 4, 3)},
        {"1e400 overflows and ends the row", "1", "1 1 0.5 1e400\n0 0 0 0\n", 1, "",
         tooShort(1, "SS_1", 4, 3)},
        {"1e-400 underflows to 0", "1", "1e-400 1 0.5 150\n0 0 0 0\n", 0, fits, ""},
        {"-0 is a number", "1", "1 1 -0 150\n-0 0 0 -0\n", 0, fits, ""},
        {"hexadecimal float reads as its leading 0", "1", "0x1p3 1 0.5 150\n0 0 0 0\n", 1, "",
         tooShort(1, "SS_1", 4, 1)},
        {"UTF-8 byte-order mark hides the first row", "1",
         "\xEF\xBB\xBF"
         "1 1 0.5 150\n0 0 0 0\n",
         1, "", tooShort(1, "SS_1", 4, 0)},
        {"CRLF line ends", "1", "1 1 0.5 150\r\n0 0 0 0\r\n", 0, fits, ""},
        {"1 MB of text after the values", "1",
         "1 1 0.5 150 " + repeated("junk ", 200000) + "\n0 0 0 0\n", 0, fits, ""},
        {"1 MB number overflows", "1", repeated("9", 1 << 20) + "\n0 0 0 0\n", 1, "",
         tooShort(1, "SS_1", 4, 0)},
        {"binary garbage, no line end", "1", garbage(4096, 0), 1, "", deltasText},
        {"binary garbage in lines", "1", garbage(4096, 64), 1, "", tooShort(1, "SS_1", 4, 0)},
        {"start vector shorter than the model reads", "1", "1 1 0.5\n0 0 0\n", 1, "",
         tooShort(1, "SS_1", 4, 3)},
        {"200,000 values", "1", twoHundredThousand + twoHundredThousand, 1, "",
         "The start vector holds 200000 values, more than the 11000 a simplex can be built "
         "for. Exiting (1)\n"},
        {"model number with a plus sign", "+1", penaltyRows, 0, fits, ""},
        {"model number with leading blanks", "  1", penaltyRows, 0, fits, ""},
        {"model number in octal", "01", penaltyRows, 0, fits, ""},
        {"model number in hexadecimal", "0x1", penaltyRows, 0, fits, ""},
        {"model number followed by text", "1st", penaltyRows, 0, fits, ""},
        {"8 is no octal digit", "08", penaltyRows, 1, "No model specified. Exiting(1)", ""},
        {"hexadecimal prefix alone", "0x", penaltyRows, 1, "No model specified. Exiting(1)", ""},
        {"negative model number", "-1", penaltyRows, 1, "No model specified. Exiting(1)", ""},
        {"model number beyond int", "4294967297", penaltyRows, 1, "No model specified. Exiting(1)",
         ""},
        {"model number 11", "11", penaltyRows, 1, "No model specified. Exiting(1)", ""},
    };
}

} // namespace

TEST(ZonefitBadInput, StartFileAndModelNumberTable) {
    for (const BadInput& c : startFileCases()) {
        ScratchDir dir;
        const std::string startFile = "startvec" + c.argument + ".txt";
        dir.write(startFile, c.content);
        dir.write("SS1_ML_", previousResult);
        const ProgramResult r = zonefit(dir, shellQuote(c.argument));
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.err, c.err) << c.what;
        EXPECT_EQ(dir.read("SS1_ML_"), c.status == 0 ? penaltyResultLine(4) : previousResult)
            << c.what;
        EXPECT_EQ(listing(dir), "SS1_ML_\n" + startFile + "\n") << c.what;
    }
}

TEST(ZonefitBadInput, LongerStartVectorWarnsNamingBothCountsThenFits) {
    ScratchDir dir;
    dir.write("startvec1.txt", "1 1 0.5 150 3 4\n0 0 0 0 0 0 9\n");
    dir.write("SS1_ML_", previousResult);
    const ProgramResult r = zonefit(dir, "1");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "Warning: model 1 (SS_1) reads 4 parameters; the start vector holds 6 "
                     "values, and the extra ones are fitted without effect\n");
    EXPECT_EQ(r.out, penaltyFitOutput(model1Banner, 6));
    EXPECT_EQ(dir.read("SS1_ML_"), penaltyResultLine(6));
}

TEST(ZonefitBadInput, EveryRowOfTheFailureTable) {
    ScratchDir dir;
    dir.write("SS1_ML_", previousResult);
    // No argument, and an argument without its file: the usage text.
    for (const char* arguments : {"", "1", "'' 1"}) {
        const ProgramResult r = zonefit(dir, arguments);
        EXPECT_EQ(r.status, 1) << arguments;
        EXPECT_EQ(r.out, "") << arguments;
        EXPECT_EQ(r.err, usageText) << arguments;
    }
    dir.write("startvec1.txt", "");
    ProgramResult r = zonefit(dir, "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, emptyText);
    dir.write("startvec1.txt", "1 1 0.5 150\n0 0\n");
    r = zonefit(dir, "1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, deltasText);
    dir.write("startvecx.txt", penaltyRows);
    r = zonefit(dir, "x");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "No model specified. Exiting(1)");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(dir.read("SS1_ML_"), previousResult);
}

namespace {

const char* const model3Banner = "We'll do model 3: SS_3";
// SS_3 with sigma -1000, outside its box, and zero steps: the border file is read at every
// evaluation, before the bounds check, and the fit takes milliseconds.
const char* const model3PenaltyRows = "1 1 1 1 1 1 0.5 -1000\n0 0 0 0 0 0 0 0\n";

} // namespace

TEST(ZonefitBadInput, EveryBadBorderFileEndsTheRunWithStatus1) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "fewer than two lines"},
        {"25\n", "fewer than two lines"},
        {"25 79", "fewer than two lines"},
        {"word\n79\n", "line 1 holds no integer"},
        {"25\n\n", "line 2 holds no integer"},
        {"25\nnan\n", "line 2 holds no integer"},
        {"\xEF\xBB\xBF"
         "25\n79\n",
         "line 1 holds no integer"},
        {"99999999999\n79\n", "line 1 holds no integer"},
        {"106\n79\n", "border 1 is 106, outside 0 to 105"},
        {"-1\n79\n", "border 1 is -1, outside 0 to 105"},
        {"25\n2147483647\n", "border 2 is 2147483647, outside 0 to 105"},
        {garbage(2048, 0), "line 1 holds no integer"},
        {garbage(2048, 32), "line 1 holds no integer"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        dir.write("startvec3.txt", model3PenaltyRows);
        dir.write("SS3_ML_", previousResult);
        dir.write("borders.txt", c.first);
        const ProgramResult r = zonefit(dir, "3");
        EXPECT_EQ(r.status, 1) << c.first;
        EXPECT_EQ(r.out, std::string(model3Banner) + "\n") << c.first;
        EXPECT_EQ(r.err, std::string("Error in borders.txt: ") + c.second + "\n") << c.first;
        EXPECT_EQ(dir.read("SS3_ML_"), previousResult) << c.first;
        EXPECT_EQ(listing(dir), "SS3_ML_\nborders.txt\nstartvec3.txt\n") << c.first;
    }

    ScratchDir dir;
    dir.write("startvec3.txt", model3PenaltyRows);
    dir.write("SS3_ML_", previousResult);
    ProgramResult r = zonefit(dir, "3");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error in borders.txt: cannot open the file\n");
    ASSERT_EQ(mkdir(dir.file("borders.txt").c_str(), 0755), 0);
    r = zonefit(dir, "3");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error in borders.txt: fewer than two lines\n");
    EXPECT_EQ(dir.read("SS3_ML_"), previousResult);
}

TEST(ZonefitBadInput, BorderFilesThatReadAsSpecified) {
    // CRLF line ends, signs, a number followed by text and further lines: each reads, and the
    // whole fit runs.
    for (const char* text : {"25\r\n79\r\n", "+25\n-0 79\n", "25.9\n79 x 3\nnot read\n"}) {
        ScratchDir dir;
        dir.write("startvec3.txt", model3PenaltyRows);
        dir.write("SS3_ML_", previousResult);
        dir.write("borders.txt", text);
        const ProgramResult r = zonefit(dir, "3");
        EXPECT_EQ(r.status, 0) << text;
        EXPECT_EQ(r.err, "") << text;
        EXPECT_EQ(r.out, penaltyFitOutput(model3Banner, 8)) << text;
        EXPECT_EQ(dir.read("SS3_ML_"), penaltyResultLine(8)) << text;
    }
}

// ---------------------------------------------------------------------------------------------
// Faults survived: signals, an unwritable directory, a full disk, a border file that goes away.

namespace {

// How a program is started beyond its directory and arguments.
struct Launch {
    bool asNobody = false;       // run as the unprivileged user 65534 (the test runs as root)
    long fileSizeLimit = -1;     // RLIMIT_FSIZE in bytes, when not negative
    long addressSpaceMiB = -1;   // RLIMIT_AS, when not negative
    bool holdBeforeExec = false; // wait for release() before the program starts
    bool ignoreHangUp = false;   // start with SIGHUP ignored, as nohup does
    std::string program = ZONEFIT_BIN;
};

// A program running in the background with both output streams on pipes, so that a file-size
// limit applies to the files it writes and not to its output.
class Background {
  public:
    Background(const std::string& dir, const std::vector<std::string>& arguments,
               const Launch& launch) {
        std::vector<std::string> words{launch.program};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& word : words) {
            argv.push_back(&word[0]);
        }
        argv.push_back(nullptr);
        int out[2];
        int err[2];
        int hold[2];
        if (pipe(out) != 0 || pipe(err) != 0 || pipe(hold) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            close(out[0]);
            close(err[0]);
            close(hold[1]);
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            const int nothing = open("/dev/null", O_RDONLY);
            dup2(nothing, STDIN_FILENO);
            // The signals the test sends start with their default action, whatever the test
            // runner inherited.
            for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) {
                std::signal(signal, SIG_DFL);
            }
            if (launch.ignoreHangUp) {
                std::signal(SIGHUP, SIG_IGN);
            }
            char byte;
            if (launch.holdBeforeExec && read(hold[0], &byte, 1) != 1) {
                _exit(126);
            }
            if (launch.fileSizeLimit >= 0) {
                const rlim_t bytes = static_cast<rlim_t>(launch.fileSizeLimit);
                const rlimit limit{bytes, bytes};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            if (launch.addressSpaceMiB >= 0) {
                const rlim_t bytes = static_cast<rlim_t>(launch.addressSpaceMiB) << 20;
                const rlimit limit{bytes, bytes};
                setrlimit(RLIMIT_AS, &limit);
            }
            if (launch.asNobody &&
                (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
                _exit(125);
            }
            if (chdir(dir.c_str()) != 0) {
                _exit(124);
            }
            execv(argv[0], argv.data());
            const char message[] = "cannot execute the program\n";
            ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
            (void)ignored;
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        close(hold[0]);
        outFd_ = out[0];
        errFd_ = err[0];
        holdFd_ = hold[1];
    }
    ~Background() {
        if (pid_ > 0 && !finished_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        for (int fd : {outFd_, errFd_, holdFd_}) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    pid_t pid() const { return pid_; }

    void release() {
        const char byte = 'g';
        EXPECT_EQ(write(holdFd_, &byte, 1), 1);
        close(holdFd_);
        holdFd_ = -1;
    }

    void signal(int number) { kill(pid_, number); }

    // Whether the program has not ended yet.
    bool running() {
        if (!finished_ && waitpid(pid_, &raw_, WNOHANG) == pid_) {
            finished_ = true;
        }
        return !finished_;
    }

    // Waits (at most 30 s) until the program has spent `milliseconds` of processor time, so
    // that it is surely fitting; where the kernel does not tell, waits 0.5 s instead.
    void waitUntilBusy(int milliseconds) {
        const long ticksPerSecond = sysconf(_SC_CLK_TCK);
        const std::string path = "/proc/" + std::to_string(pid_) + "/stat";
        const auto end = deadline(30);
        while (std::chrono::steady_clock::now() < end) {
            std::ifstream in(path);
            std::string text((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
            const std::size_t close = text.rfind(')');
            if (close == std::string::npos) {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                return;
            }
            // After the name: state, then 10 fields up to utime and stime (fields 14 and 15).
            std::istringstream fields(text.substr(close + 2));
            std::string skip;
            long user = 0;
            long system = 0;
            for (int k = 0; k < 11; k++) {
                fields >> skip;
            }
            fields >> user >> system;
            if ((user + system) * 1000 >= milliseconds * ticksPerSecond) {
                return;
            }
            pump(20);
        }
    }

    // Waits (at most 30 s) until the program sleeps in the system call `number`; where the
    // kernel does not tell, waits 0.5 s instead.
    void waitForSystemCall(long number) {
        const std::string path = "/proc/" + std::to_string(pid_) + "/syscall";
        const auto end = deadline(30);
        while (std::chrono::steady_clock::now() < end) {
            // The first word is the call's number, or "running" while the program runs.
            std::ifstream in(path);
            std::string current;
            if (number < 0 || !(in >> current)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                return;
            }
            if (current == std::to_string(number)) {
                return;
            }
            pump(10);
        }
    }

    // Collects the rest of the output and the exit status (128 + signal for a signal); after
    // `seconds` the program is killed and the status is -1.
    ProgramResult finish(double seconds) {
        const auto end = deadline(seconds);
        while (pump(50)) {
            if (std::chrono::steady_clock::now() > end) {
                kill(pid_, SIGKILL);
                if (!finished_) {
                    waitpid(pid_, nullptr, 0);
                }
                finished_ = true;
                result_.status = -1;
                return result_;
            }
        }
        if (!finished_) {
            waitpid(pid_, &raw_, 0);
            finished_ = true;
        }
        result_.status = WIFEXITED(raw_) ? WEXITSTATUS(raw_) : 128 + WTERMSIG(raw_);
        return result_;
    }

  private:
    static std::chrono::steady_clock::time_point deadline(double seconds) {
        return std::chrono::steady_clock::now() +
               std::chrono::milliseconds(static_cast<long>(seconds * 1000));
    }

    // Reads what is there within `milliseconds`; false once both pipes are closed.
    bool pump(int milliseconds) {
        pollfd fds[2] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}};
        std::string* sinks[2] = {&result_.out, &result_.err};
        if (outFd_ < 0 && errFd_ < 0) {
            return false;
        }
        if (poll(fds, 2, milliseconds) <= 0) {
            return true;
        }
        for (int k = 0; k < 2; k++) {
            if (fds[k].fd >= 0 && (fds[k].revents & (POLLIN | POLLHUP)) != 0) {
                char buffer[4096];
                const ssize_t got = read(fds[k].fd, buffer, sizeof buffer);
                if (got > 0) {
                    sinks[k]->append(buffer, static_cast<std::size_t>(got));
                } else {
                    close(fds[k].fd);
                    (k == 0 ? outFd_ : errFd_) = -1;
                }
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    int holdFd_ = -1;
    bool finished_ = false;
    int raw_ = 0; // wait status once finished
    ProgramResult result_;
};

#if defined(__x86_64__)
constexpr long openatCall = 257;
#else
constexpr long openatCall = -1; // unknown here: wait instead
#endif

// The example start vector of model 1: inside the box, so the fit runs for a long time.
const char* const longFitRows = "1.05 1.05 0.3 15\n0.15 0.15 0.05 2\n";

} // namespace

TEST(ZonefitFault, StopSignalDuringTheFitLeavesThePreviousResultAndNoTemporaryFile) {
    const std::pair<int, const char*> cases[] = {
        {SIGINT, "Stopped by SIGINT: the unfinished fit is abandoned and its result file left as "
                 "it was. Exiting (130)\n"},
        {SIGTERM, "Stopped by SIGTERM: the unfinished fit is abandoned and its result file left "
                  "as it was. Exiting (143)\n"},
    };
    for (const auto& c : cases) {
        ScratchDir dir;
        dir.write("startvec1.txt", longFitRows);
        dir.write("SS1_ML_", previousResult);
        Background fit(dir.path(), {"1"}, Launch());
        fit.waitUntilBusy(200);
        fit.signal(c.first);
        const ProgramResult r = fit.finish(30);
        EXPECT_EQ(r.status, 128 + c.first);
        EXPECT_EQ(r.err, c.second);
        EXPECT_EQ(dir.read("SS1_ML_"), previousResult);
        EXPECT_EQ(listing(dir), "SS1_ML_\nstartvec1.txt\n");
    }
}

TEST(ZonefitFault, StopSignalWhileTheTemporaryFileExistsRemovesIt) {
    // A FIFO under the temporary file's name holds the program in the probe before the fit,
    // the moment at which the temporary file exists.
    ScratchDir dir;
    dir.write("startvec1.txt", penaltyRows);
    dir.write("SS1_ML_", previousResult);
    Launch launch;
    launch.holdBeforeExec = true;
    Background fit(dir.path(), {"1"}, launch);
    const std::string temporary = "SS1_ML_.tmp" + std::to_string(fit.pid());
    ASSERT_EQ(mkfifo(dir.file(temporary).c_str(), 0644), 0);
    fit.release();
    fit.waitForSystemCall(openatCall);
    fit.signal(SIGTERM);
    const ProgramResult r = fit.finish(30);
    EXPECT_EQ(r.status, 143);
    EXPECT_FALSE(dir.exists(temporary));
    EXPECT_EQ(dir.read("SS1_ML_"), previousResult);
    EXPECT_EQ(listing(dir), "SS1_ML_\nstartvec1.txt\n");
}

TEST(ZonefitFault, HangUpIgnoredAsUnderNohupDoesNotStopTheFit) {
    ScratchDir dir;
    dir.write("startvec1.txt", longFitRows);
    dir.write("SS1_ML_", previousResult);
    Launch launch;
    launch.ignoreHangUp = true;
    Background fit(dir.path(), {"1"}, launch);
    fit.waitUntilBusy(200);
    fit.signal(SIGHUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(fit.running()) << "the fit ended on SIGHUP";
    fit.signal(SIGTERM);
    const ProgramResult r = fit.finish(30);
    EXPECT_EQ(r.status, 143);
    EXPECT_EQ(r.err, "Stopped by SIGTERM: the unfinished fit is abandoned and its result file "
                     "left as it was. Exiting (143)\n");
    EXPECT_EQ(dir.read("SS1_ML_"), previousResult);
}

TEST(ZonefitFault, UnwritableWorkingDirectoryEndsTheRunBeforeTheFit) {
    ScratchDir dir;
    dir.write("startvec1.txt", longFitRows);
    Launch launch;
    // Root writes everywhere; the program runs as an unprivileged user instead, from a copy
    // in the directory, since the build tree may lie where that user cannot reach.
    launch.asNobody = geteuid() == 0;
    if (launch.asNobody) {
        launch.program = dir.file("zonefit");
        ASSERT_EQ(runProgram(dir.path(), "/bin/cp", shellQuote(ZONEFIT_BIN) + " zonefit").status,
                  0);
    }
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    Background fit(dir.path(), {"1"}, launch);
    const ProgramResult r = fit.finish(60);
    if (r.status == 127 || r.status == 125) {
        GTEST_SKIP() << "cannot run the program as user 65534 here: " << r.err;
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "We'll do model 1: SS_1\n");
    EXPECT_EQ(r.err, "Cannot write the result file: cannot create files beside SS1_ML_: "
                     "Permission denied. Exiting (1)\n");
    EXPECT_EQ(listing(dir), launch.asNobody ? "startvec1.txt\nzonefit\n" : "startvec1.txt\n");
}

TEST(ZonefitFault, ResultThatCannotBeWrittenAtTheEndGivesStatus1AndTheLineOnStandardError) {
    // A file-size limit of 0 bytes lets the probe create its empty file before the fit but
    // makes the final write fail (EFBIG), as a full disk would.
    ScratchDir dir;
    dir.write("startvec1.txt", penaltyRows);
    dir.write("SS1_ML_", previousResult);
    Launch launch;
    launch.fileSizeLimit = 0;
    Background fit(dir.path(), {"1"}, launch);
    const ProgramResult r = fit.finish(60);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, penaltyFitOutput(model1Banner, 4));
    EXPECT_EQ(r.err, "Cannot save the result: cannot write SS1_ML_.tmp" +
                         std::to_string(fit.pid()) +
                         ": File too large\nThe result, not saved: 0 0 0 0 1.7976931e+308\n"
                         "Exiting (1)\n");
    EXPECT_EQ(dir.read("SS1_ML_"), previousResult);
    EXPECT_EQ(listing(dir), "SS1_ML_\nstartvec1.txt\n");
}

TEST(ZonefitFault, BorderFileDeletedOrCorruptedDuringTheFitEndsItWithStatus1) {
    const char* const model3Rows = "0.95 0.9 1 1 1.05 1.1 0.3 15\n"
                                   "0.15 0.15 0.15 0.15 0.15 0.15 0.05 2\n";
    struct Case {
        bool remove;
        const char* corrupt;
        const char* err;
    };
    const Case cases[] = {
        {true, "", "Error in borders.txt: cannot open the file\n"},
        {false, "25\nx\n", "Error in borders.txt: line 2 holds no integer\n"},
        {false, "25\n790\n", "Error in borders.txt: border 2 is 790, outside 0 to 105\n"},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        dir.write("startvec3.txt", model3Rows);
        dir.write("borders.txt", "25\n79\n");
        dir.write("SS3_ML_", previousResult);
        Background fit(dir.path(), {"3"}, Launch());
        fit.waitUntilBusy(200);
        if (c.remove) {
            ASSERT_EQ(std::remove(dir.file("borders.txt").c_str()), 0);
        } else {
            // Replaced whole, as an editor saves it.
            dir.write("borders.new", c.corrupt);
            ASSERT_EQ(std::rename(dir.file("borders.new").c_str(), dir.file("borders.txt").c_str()),
                      0);
        }
        const ProgramResult r = fit.finish(60);
        EXPECT_EQ(r.status, 1) << c.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(dir.read("SS3_ML_"), previousResult);
        EXPECT_FALSE(dir.exists("SS3_ML_.tmp" + std::to_string(fit.pid())));
    }
}

TEST(ZonefitFault, StartVectorTooLargeForMemoryEndsWithStatus1NotAnAbort) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves far more address space than the limit "
                    "leaves and reports a failed allocation itself";
#else
    // 11000 values pass the size check; their simplex needs 968 MB, more than the 256 MiB of
    // address space this run is given.
    ScratchDir dir;
    const std::string row = repeated("1 ", 11000) + "\n";
    dir.write("startvec1.txt", row + row);
    dir.write("SS1_ML_", previousResult);
    Launch launch;
    launch.addressSpaceMiB = 256;
    Background fit(dir.path(), {"1"}, launch);
    const ProgramResult r = fit.finish(120);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Warning: model 1 (SS_1) reads 4 parameters; the start vector holds 11000 "
                     "values, and the extra ones are fitted without effect\n"
                     "Out of memory: the fit needs more memory than the system grants it. "
                     "Exiting (1)\n");
    EXPECT_EQ(r.out, "We'll do model 1: SS_1\n");
    EXPECT_EQ(dir.read("SS1_ML_"), previousResult);
    EXPECT_EQ(listing(dir), "SS1_ML_\nstartvec1.txt\n");
#endif
}
