// The SVG figure: ticks, escaping, a well-formed document with the expected marks, and a
// rendering by headless Chromium where it is installed.
#include "tools/analysis/plot.h"
#include "tools/analysis/plot_frequency_panel.h"
#include "tools/analysis/profile_plot.h"
#include "tools/analysis/wilson_interval.h"

#include "data/transect.h"
#include "support/run_in_process.h"
#include "support/run_program.h"

#include <gtest/gtest.h>

#include "tools/formats/data_option.h"

#include "data/builtin_transect.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include <cstring>
#include <map>
#include <sstream>

namespace {

// A small checker of XML well-formedness: one root element, properly nested and closed tags,
// quoted attributes without '<', no duplicate attribute, and only the five predefined or
// numeric entities. Counts the elements by name and keeps every element's attributes.
class XmlChecker {
  public:
    struct Element {
        std::string name;
        std::map<std::string, std::string> attributes;
        std::string text; // character data directly inside, entities resolved only for &amp;
    };

    bool check(const std::string& document) {
        s_ = document;
        i_ = 0;
        if (s_.compare(0, 5, "<?xml") == 0) {
            const std::size_t end = s_.find("?>");
            if (end == std::string::npos) {
                return fail("unterminated XML declaration");
            }
            i_ = end + 2;
        }
        skipSpaceAndComments();
        if (!element()) {
            return false;
        }
        skipSpaceAndComments();
        return i_ == s_.size() || fail("content after the root element");
    }

    const std::string& error() const { return error_; }
    int count(const std::string& name) const {
        int n = 0;
        for (const Element& e : elements_) {
            n += e.name == name;
        }
        return n;
    }
    const std::vector<Element>& elements() const { return elements_; }

  private:
    bool fail(const std::string& why) {
        error_ = why + " at offset " + std::to_string(i_);
        return false;
    }
    static bool nameChar(char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '_' ||
               c == ':' || c == '.';
    }
    std::string name() {
        const std::size_t start = i_;
        while (i_ < s_.size() && nameChar(s_[i_])) {
            i_++;
        }
        return s_.substr(start, i_ - start);
    }
    void skipSpace() {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_])) != 0) {
            i_++;
        }
    }
    void skipSpaceAndComments() {
        for (;;) {
            skipSpace();
            if (s_.compare(i_, 4, "<!--") != 0) {
                return;
            }
            const std::size_t end = s_.find("-->", i_);
            i_ = end == std::string::npos ? s_.size() : end + 3;
        }
    }
    bool entity() {
        const std::size_t end = s_.find(';', i_);
        if (end == std::string::npos || end - i_ > 10) {
            return fail("bad entity");
        }
        const std::string body = s_.substr(i_ + 1, end - i_ - 1);
        const bool named =
            body == "amp" || body == "lt" || body == "gt" || body == "quot" || body == "apos";
        const bool numeric =
            body.size() > 1 && body[0] == '#' &&
            body.find_first_not_of(body[1] == 'x' ? "0123456789abcdefABCDEF" : "0123456789",
                                   body[1] == 'x' ? 2 : 1) == std::string::npos;
        if (!named && !numeric) {
            return fail("unknown entity &" + body + ";");
        }
        i_ = end + 1;
        return true;
    }
    bool element() {
        if (i_ >= s_.size() || s_[i_] != '<') {
            return fail("expected an element");
        }
        i_++;
        Element e;
        e.name = name();
        if (e.name.empty()) {
            return fail("element without a name");
        }
        const std::size_t index = elements_.size();
        elements_.push_back(e);
        for (;;) {
            skipSpace();
            if (s_.compare(i_, 2, "/>") == 0) {
                i_ += 2;
                return true;
            }
            if (i_ < s_.size() && s_[i_] == '>') {
                i_++;
                break;
            }
            const std::string attribute = name();
            if (attribute.empty()) {
                return fail("bad attribute in <" + e.name + ">");
            }
            skipSpace();
            if (i_ >= s_.size() || s_[i_] != '=') {
                return fail("attribute " + attribute + " without a value");
            }
            i_++;
            skipSpace();
            const char quote = i_ < s_.size() ? s_[i_] : '\0';
            if (quote != '"' && quote != '\'') {
                return fail("unquoted attribute " + attribute);
            }
            i_++;
            std::string value;
            while (i_ < s_.size() && s_[i_] != quote) {
                if (s_[i_] == '<') {
                    return fail("'<' in attribute " + attribute);
                }
                if (s_[i_] == '&') {
                    if (!entity()) {
                        return false;
                    }
                    value += '&';
                    continue;
                }
                value += s_[i_++];
            }
            if (i_ >= s_.size()) {
                return fail("unterminated attribute " + attribute);
            }
            i_++;
            if (!elements_[index].attributes.emplace(attribute, value).second) {
                return fail("duplicate attribute " + attribute);
            }
        }
        // Content up to the matching end tag.
        for (;;) {
            if (i_ >= s_.size()) {
                return fail("<" + e.name + "> is not closed");
            }
            if (s_.compare(i_, 4, "<!--") == 0) {
                skipSpaceAndComments();
                continue;
            }
            if (s_.compare(i_, 2, "</") == 0) {
                i_ += 2;
                const std::string closing = name();
                skipSpace();
                if (closing != e.name || i_ >= s_.size() || s_[i_] != '>') {
                    return fail("</" + closing + "> closes <" + e.name + ">");
                }
                i_++;
                return true;
            }
            if (s_[i_] == '<') {
                if (!element()) {
                    return false;
                }
                continue;
            }
            if (s_[i_] == '&') {
                if (!entity()) {
                    return false;
                }
                elements_[index].text += '&';
                continue;
            }
            elements_[index].text += s_[i_++];
        }
    }

    std::string s_;
    std::size_t i_ = 0;
    std::string error_;
    std::vector<Element> elements_;
};

std::vector<Genotype> flatPrediction() {
    return std::vector<Genotype>(siteCount, Genotype{0.25, 0.5, 0.25});
}

const XmlChecker::Element* findById(const XmlChecker& xml, const std::string& id) {
    for (const XmlChecker::Element& e : xml.elements()) {
        auto it = e.attributes.find("id");
        if (it != e.attributes.end() && it->second == id) {
            return &e;
        }
    }
    return nullptr;
}

} // namespace

TEST(PlotTicks, RoundStepsCoveringTheRange) {
    EXPECT_EQ(niceTicks(0.0, 1.0, 5), (std::vector<double>{0, 0.2, 0.4, 0.6, 0.8, 1.0}));
    EXPECT_EQ(niceTicks(0.0, 853.288, 10),
              (std::vector<double>{0, 100, 200, 300, 400, 500, 600, 700, 800, 900}));
    EXPECT_EQ(niceTicks(0.0, 1421.863, 10),
              (std::vector<double>{0, 200, 400, 600, 800, 1000, 1200, 1400, 1600}));
    // Steps of 2.5 are not round enough: 10 / 4 becomes 5.
    EXPECT_EQ(niceTicks(-3.0, 7.0, 4), (std::vector<double>{-5, 0, 5, 10}));
    EXPECT_EQ(niceTicks(0.0, 0.03, 3), (std::vector<double>{0, 0.01, 0.02, 0.03}));
    EXPECT_EQ(niceTicks(5.0, 5.0, 4), (std::vector<double>{5}));
}

TEST(PlotText, EscapesMarkup) {
    EXPECT_EQ(xmlEscape("a<b & \"c\" > 'd'"), "a&lt;b &amp; &quot;c&quot; &gt; &apos;d&apos;");
}

TEST(PlotInputs, AxisAndBordersFollowTheModel) {
    const int noFile[2] = {0, 0};
    // Stepping-stone models: cumulative site distances, 0 to 1421.863.
    const std::vector<double> ss = sitePositionsFor(builtInTransectValue(), *findModel(1));
    EXPECT_EQ(ss[0], 0.0);
    EXPECT_NEAR(ss[1], 3.116, 1e-12);
    EXPECT_NEAR(ss[104], 1421.863, 1e-9);
    // Kernel models: the positions on the transect axis.
    EXPECT_EQ(sitePositionsFor(builtInTransectValue(), *findModel(7))[84], 649.78);

    // Model 2, border 40.7: deme 40 is the first beyond, halfway between sites 39 and 40.
    const PlotInput two =
        plotInputFor(builtInTransectValue(), *findModel(2), {1, 1, 1, 1, 0.5, 10, 40.7, 3.5}, 812.5,
                     flatPrediction(), noFile);
    ASSERT_EQ(two.borders.size(), 1u);
    EXPECT_DOUBLE_EQ(two.borders[0], 0.5 * (ss[39] + ss[40]));
    EXPECT_EQ(two.title, "Model 2 (SS_2): \xE2\x88\x92ln L = 812.5");
    EXPECT_EQ(two.subtitle,
              "wSS_L 1,  wII_L 1,  wSS_R 1,  wII_R 1,  F 0.5,  sigma 10,  border 40.7");
    EXPECT_EQ(two.borderLabel, "region border");

    // Models 3 to 6 take theirs from the border file; borders at either end are not drawn.
    const int file[2] = {25, 105};
    const PlotInput three = plotInputFor(builtInTransectValue(), *findModel(3),
                                         std::vector<double>(8, 1.0), 900.0, {}, file);
    ASSERT_EQ(three.borders.size(), 1u);
    EXPECT_DOUBLE_EQ(three.borders[0], 0.5 * (ss[24] + ss[25]));
    EXPECT_TRUE(three.predicted.empty());

    // Model 9: both border positions, as positions.
    const PlotInput nine =
        plotInputFor(builtInTransectValue(), *findModel(9), {1, 1, 1, 1, 1, 1, 0, 10, 250, 600},
                     900.0, flatPrediction(), noFile);
    EXPECT_EQ(nine.borders, (std::vector<double>{250, 600}));
    EXPECT_EQ(findModel(7)->borderLabel, std::string("contact"));
}

TEST(PlotSvg, WellFormedWithSymbolsLinesBordersAndLegend) {
    const int noFile[2] = {0, 0};
    const std::string svg =
        renderSvg(plotInputFor(builtInTransectValue(), *findModel(8), {1, 1, 1, 1, 0.5, 10, 450},
                               777.25, flatPrediction(), noFile));
    XmlChecker xml;
    ASSERT_TRUE(xml.check(svg)) << xml.error();
    EXPECT_EQ(xml.elements()[0].name, "svg");
    EXPECT_EQ(xml.elements()[0].attributes.at("xmlns"), "http://www.w3.org/2000/svg");
    // 105 sites, one symbol per genotype; three legend symbols and the sample-size key; one
    // dot of the observed allele frequency per site and its key.
    const XmlChecker::Element* observed = findById(xml, "observed-SS");
    ASSERT_NE(observed, nullptr);
    EXPECT_EQ(xml.count("circle"), 105 + 1 + 3 + 105 + 1);
    EXPECT_EQ(xml.count("rect"), 105 + 1 + 3); // background, two panel frames
    EXPECT_EQ(xml.count("polygon"), 105 + 1);
    for (const char* id : {"predicted-SS", "predicted-SI", "predicted-II"}) {
        const XmlChecker::Element* line = findById(xml, id);
        ASSERT_NE(line, nullptr) << id;
        EXPECT_EQ(line->name, "polyline");
        const std::string& points = line->attributes.at("points");
        EXPECT_EQ(std::count(points.begin(), points.end(), ','), 105) << id;
    }
    // The axis runs from 0 to 3% past the last site, 853.288 x 1.03 = 878.88664, over 660
    // pixels from x = 80: the contact at 450 is at 80 + 660 x 450 / 878.88664 = 417.93.
    EXPECT_NE(svg.find("<g id=\"borders\""), std::string::npos);
    EXPECT_NE(svg.find("<line x1=\"417.93\" y1=\"78\" x2=\"417.93\" y2=\"478\"/>"),
              std::string::npos);
    // Ticks up to 800; 900 lies past the end of the axis.
    bool tick800 = false;
    bool tick900 = false;
    for (const XmlChecker::Element& e : xml.elements()) {
        tick800 = tick800 || (e.name == "text" && e.text == "800");
        tick900 = tick900 || (e.name == "text" && e.text == "900");
    }
    EXPECT_TRUE(tick800);
    EXPECT_FALSE(tick900);
    bool title = false;
    bool contact = false;
    bool axis = false;
    for (const XmlChecker::Element& e : xml.elements()) {
        title = title || (e.name == "text" && e.text == "Model 8 (C_2): \xE2\x88\x92ln L = 777.25");
        contact = contact || (e.name == "text" && e.text == "contact");
        axis = axis || (e.name == "text" &&
                        e.text == "position on the transect axis (length unit of the data)");
    }
    EXPECT_TRUE(title);
    EXPECT_TRUE(contact);
    EXPECT_TRUE(axis);
}

TEST(PlotSvg, PenaltyPointHasNoLines) {
    const int noFile[2] = {0, 0};
    const std::string svg = renderSvg(
        plotInputFor(builtInTransectValue(), *findModel(1), {-1, 1, 0, 10}, 300000, {}, noFile));
    XmlChecker xml;
    ASSERT_TRUE(xml.check(svg)) << xml.error();
    EXPECT_EQ(xml.count("polyline"), 0);
    EXPECT_NE(svg.find("no prediction (penalty)"), std::string::npos);
}

TEST(PlotSvg, AlleleFrequencyLineAndClineCentre) {
    const int noFile[2] = {0, 0};
    PlotInput input = plotInputFor(builtInTransectValue(), *findModel(8),
                                   {1, 1, 1, 1, 0.5, 10, 450}, 777.25, flatPrediction(), noFile);
    input.centre = 450;
    const std::string svg = renderSvg(input);
    XmlChecker xml;
    ASSERT_TRUE(xml.check(svg)) << xml.error();
    const XmlChecker::Element* p = findById(xml, "predicted-p");
    ASSERT_NE(p, nullptr);
    const std::string& points = p->attributes.at("points");
    EXPECT_EQ(std::count(points.begin(), points.end(), ','), 105);
    // The centre is drawn where the contact at 450 is (x = 417.93) and labelled.
    EXPECT_NE(svg.find("<g id=\"cline-centre\"><line x1=\"417.93\" y1=\"78\" x2=\"417.93\""),
              std::string::npos)
        << svg;
    EXPECT_NE(svg.find(">centre 450</text>"), std::string::npos);
    EXPECT_NE(svg.find(">p = SS + SI/2</text>"), std::string::npos);
    // Without a centre (p never crosses 1/2) there is no mark.
    input.centre = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(renderSvg(input).find("cline-centre"), std::string::npos);
}

TEST(PlotCommand, WritesTheFigureOfAResultFile) {
    ScratchDir dir;
    dir.write("SS1_ML_", "1.2 0.8 0.3 15 999\n");
    ProgramResult r = runInProcess(dir.path(), "plot 1 -o fig.svg");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    XmlChecker xml;
    ASSERT_TRUE(xml.check(dir.read("fig.svg"))) << xml.error();
    // SS, SI, II and the allele frequency p; p once more in the allele-frequency panel.
    EXPECT_EQ(xml.count("polyline"), 5);
    // The title shows the value of the evaluation, not the one in the file.
    EXPECT_NE(dir.read("fig.svg").find("(SS_1): \xE2\x88\x92ln L = 11518.585<"), std::string::npos);
    EXPECT_NE(dir.read("fig.svg").find("sigma 15  (objective zonefit)<"), std::string::npos);
    // Under the settled objective the subtitle names it with the state found there.
    r = runInProcess(dir.path(), "plot 1 -o settled.svg --objective settled");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(dir.read("settled.svg").find("sigma 15  (objective settled: "), std::string::npos);
    r = runInProcess(dir.path(), "plot 1 -o x.svg --objective 2");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool plot: --objective needs settled or zonefit, not '2'\n"
                     "Run 'zonetool plot --help' for usage.\n");

    r = runInProcess(dir.path(), "plot 1");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zonetool plot: missing -o FILE.svg\nRun 'zonetool plot --help' for usage.\n");
    dir.write("borders.txt", "30\n70\n");
    r = runInProcess(dir.path(), "plot 3 -o x.svg --result SS1_ML_");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool plot: SS1_ML_: holds 5 numbers; model 3 (SS_3) needs 8 "
                     "coordinates and the value\n");
    dir.write("SS3_ML_", "1 1 1 1 1 1 0.5 10 900\n");
    std::remove(dir.file("borders.txt").c_str());
    r = runInProcess(dir.path(), "plot 3 -o x.svg");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error in borders.txt: cannot open the file\n");
}

// Headless Chromium draws the figure; the PNG must have the figure's size. Chromium is not a
// build dependency: without /usr/bin/chromium the test is skipped.
TEST(PlotRendering, ChromiumDrawsTheFigure) {
    if (access("/usr/bin/chromium", X_OK) != 0) {
        GTEST_SKIP() << "/usr/bin/chromium is not installed (Debian package chromium); the SVG "
                        "was not rendered";
    }
    ScratchDir dir;
    dir.write("SS1_ML_", "1.2 0.8 0.3 15 999\n");
    ASSERT_EQ(runInProcess(dir.path(), "plot 1 -o fig.svg").status, 0);
    const std::string command =
        "/usr/bin/chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
        "--disable-background-networking --disable-component-update --disable-sync "
        "--user-data-dir=" +
        shellQuote(dir.file("profile")) + " --screenshot=" + shellQuote(dir.file("fig.png")) +
        " --window-size=980,900 " + shellQuote("file://" + dir.file("fig.svg"));
    const ProgramResult r = runProgram(dir.path(), "timeout", "120 sh -c " + shellQuote(command));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string png = dir.read("fig.png");
    ASSERT_GT(png.size(), 10000u) << "a blank page compresses to far less";
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    // IHDR: width and height, big-endian, at bytes 16 to 23.
    auto word = [&](std::size_t at) {
        return (static_cast<unsigned char>(png[at]) << 24) |
               (static_cast<unsigned char>(png[at + 1]) << 16) |
               (static_cast<unsigned char>(png[at + 2]) << 8) |
               static_cast<unsigned char>(png[at + 3]);
    };
    EXPECT_EQ(word(16), 980u);
    EXPECT_EQ(word(20), 900u);
}

namespace {

// A walked profile of two parameters: the quadratic 10 + (b + 2)^2 in b, so that delta is 1
// at b = -3 and 4 at b = 0; c has one penalty point, beyond any axis.
const char* const twoProfiles = "parameter\tside\tfixed\tminus_lnL\tb\tc\tevaluations\n"
                                "b\testimate\t-2\t10\t-2\t1\t0\n"
                                "b\tlower\t-3\t11\t-3\t1\t40\n"
                                "b\tupper\t0\t14\t0\t1\t40\n"
                                "b\tupper\t-1\t11\t-1\t1\t40\n"
                                "c<&>\testimate\t1\t10\t-2\t1\t0\n"
                                "c<&>\tupper\t2\t1.7976931348623157e+308\t-2\t2\t3\n"
                                "c<&>\tlower\t0.5\t10.5\t-2\t0.5\t30\n";

} // namespace

TEST(PlotProfile, OnePanelPerParameterWithTheSupportLimit) {
    ScratchDir dir;
    dir.write("curve.tsv", twoProfiles);
    std::vector<CurveParameter> parameters;
    std::string error;
    ASSERT_TRUE(readProfileCurve(dir.file("curve.tsv"), parameters, error)) << error;
    const std::string svg = renderProfileSvg(parameters, "curve & co.tsv", 2.0);
    XmlChecker xml;
    ASSERT_TRUE(xml.check(svg)) << xml.error();
    EXPECT_NE(svg.find("<title>Profile likelihood, curve &amp; co.tsv</title>"), std::string::npos);
    ASSERT_NE(findById(xml, "profile-1"), nullptr);
    ASSERT_NE(findById(xml, "profile-2"), nullptr);
    EXPECT_EQ(findById(xml, "profile-3"), nullptr);
    // Four points of b, two of c (the penalty left out and counted); the estimates marked.
    EXPECT_EQ(xml.count("circle"), 6);
    EXPECT_EQ(xml.count("polyline"), 2);
    EXPECT_NE(svg.find("1 point above the axis not drawn"), std::string::npos);
    EXPECT_NE(svg.find(">c&lt;&amp;&gt;</text>"), std::string::npos);
    int estimates = 0;
    std::vector<std::string> bPoints;
    for (const XmlChecker::Element& e : xml.elements()) {
        auto c = e.attributes.find("class");
        estimates += c != e.attributes.end() && c->second == "estimate";
        if (e.name == "polyline" && bPoints.empty()) {
            bPoints.push_back(e.attributes.at("points"));
        }
    }
    EXPECT_EQ(estimates, 2);
    // b's delta axis runs 0 to 4 over 180 pixels below y = 98, its fixed values -3 to 0 over
    // 600 pixels from x = 90: the points in order of b, (-3, 1), (-2, 0), (-1, 1), (0, 4).
    ASSERT_EQ(bPoints.size(), 1u);
    EXPECT_EQ(bPoints[0], "90,233 290,278 490,233 690,98");
    // The support limit at delta 2 spans the plot.
    EXPECT_NE(svg.find("<line x1=\"90\" y1=\"188\" x2=\"690\" y2=\"188\" stroke=\"#D55E00\""),
              std::string::npos);
}

TEST(PlotProfile, CommandWritesTheFigureOrSaysWhyNot) {
    ScratchDir dir;
    dir.write("curve.tsv", twoProfiles);
    ProgramResult r = runInProcess(dir.path(), "plot --profile curve.tsv --units 1 -o p.svg");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    XmlChecker xml;
    ASSERT_TRUE(xml.check(dir.read("p.svg"))) << xml.error();
    EXPECT_NE(dir.read("p.svg").find("support limit: 1 units"), std::string::npos);

    const std::pair<const char*, const char*> usage[] = {
        {"plot 1 --profile curve.tsv -o p.svg",
         "--profile draws a profile file and takes no MODEL, --result or --envelope"},
        {"plot --profile curve.tsv --envelope curve.tsv -o p.svg",
         "--profile draws a profile file and takes no MODEL, --result or --envelope"},
        {"plot 1 --units 2 -o p.svg", "--units needs --profile or --envelope"},
        {"plot 1 x.tsv -o p.svg", "unexpected argument 'x.tsv'"},
        {"plot --profile curve.tsv --units 0 -o p.svg", nullptr},
    };
    for (const auto& c : usage) {
        r = runInProcess(dir.path(), c.first);
        EXPECT_EQ(r.status, 2) << c.first;
        if (c.second != nullptr) {
            EXPECT_EQ(r.err, std::string("zonetool plot: ") + c.second +
                                 "\nRun 'zonetool plot --help' for usage.\n")
                << c.first;
        }
    }
    r = runInProcess(dir.path(), "plot --profile none.tsv -o q.svg");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool plot: cannot read none.tsv: No such file or directory\n");
    dir.write("bad.tsv", "a\tb\n");
    r = runInProcess(dir.path(), "plot --profile bad.tsv -o q.svg");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "zonetool plot: bad.tsv:1: not a profile curve (its header must start "
                     "'parameter side fixed minus_lnL' and end 'evaluations')\n");
    EXPECT_FALSE(dir.exists("q.svg"));
}

namespace {

// The x coordinates of an SVG points list "x,y x,y ...".
std::vector<double> pointXs(const std::string& points) {
    std::vector<double> xs;
    std::istringstream in(points);
    std::string pair;
    while (in >> pair) {
        xs.push_back(std::stod(pair.substr(0, pair.find(','))));
    }
    return xs;
}

bool nonDecreasing(const std::vector<double>& xs) {
    return std::is_sorted(xs.begin(), xs.end());
}

} // namespace

TEST(PlotWilson, IntervalsOnTheAlleles) {
    // z = 1.96: 0 of 10 gives [0, 2 x 0.13877]; 5 of 10 gives 0.5 -+ 0.26341.
    EXPECT_EQ(wilsonInterval(0, 10).low, 0.0);
    EXPECT_NEAR(wilsonInterval(0, 10).high, 0.277532, 1e-6);
    EXPECT_NEAR(wilsonInterval(5, 10).low, 0.236593, 1e-6);
    EXPECT_NEAR(wilsonInterval(5, 10).high, 0.763407, 1e-6);
    EXPECT_NEAR(wilsonInterval(10, 10).low, 0.722468, 1e-6);
    EXPECT_EQ(wilsonInterval(10, 10).high, 1.0);
    // 1 of 2 alleles (one heterozygote): 0.5 -+ 0.40549.
    EXPECT_NEAR(wilsonInterval(1, 2).low, 0.094531, 1e-6);
    EXPECT_EQ(wilsonInterval(0, 0).low, 0.0);
    EXPECT_EQ(wilsonInterval(0, 0).high, 1.0);
    // p counts the S alleles: 2 per SS, 1 per SI.
    EXPECT_EQ(observedAlleleFrequency(3, 4, 3), 0.5);
    EXPECT_EQ(observedAlleleFrequency(0, 1, 3), 0.125);
    EXPECT_EQ(observedAlleleFrequency(0, 0, 0), 0.0);
}

TEST(PlotModelLines, EveryDemeInOrderNeverBackwards) {
    // Model 8 (C_2): the 201 demes of its grid from 0 to the largest position, 853.288.
    ModelPrediction c2;
    std::string error;
    ASSERT_TRUE(predictForFigure(DataContext{}, *findModel(8), {1, 1, 1, 1, 0.5, 10, 450},
                                 ObjectiveKind::zonefit, c2, error))
        << error;
    ASSERT_EQ(c2.lines.x.size(), 201u);
    ASSERT_EQ(c2.lines.genotypes.size(), 201u);
    EXPECT_EQ(c2.lines.x.front(), 0.0);
    EXPECT_NEAR(c2.lines.x.back(), 853.288, 1e-9);
    EXPECT_TRUE(nonDecreasing(c2.lines.x));
    ASSERT_EQ(c2.sites.size(), 105u);
    // Each site's prediction lies between the demes on either side of it: the grid's adults
    // are those the sites are read from.
    const std::vector<double> positions = sitePositionsFor(builtInTransectValue(), *findModel(8));
    for (std::size_t i = 0; i < positions.size(); i++) {
        const std::size_t right = static_cast<std::size_t>(std::ceil(positions[i] / 4.26644));
        const std::size_t left = right > 0 ? right - 1 : 0;
        const double a = c2.lines.genotypes[left].SS;
        const double b = c2.lines.genotypes[std::min<std::size_t>(right, 200)].SS;
        EXPECT_GE(c2.sites[i].SS, std::min(a, b) - 1e-12) << "site " << i;
        EXPECT_LE(c2.sites[i].SS, std::max(a, b) + 1e-12) << "site " << i;
    }
    // Model 2 (SS_2): its demes are the sites, along the summed distances.
    ModelPrediction ss2;
    ASSERT_TRUE(predictForFigure(DataContext{}, *findModel(2),
                                 {1.05, 0.95, 0.95, 1.05, 0.5, 10, 40.7}, ObjectiveKind::zonefit,
                                 ss2, error))
        << error;
    EXPECT_EQ(ss2.lines.x, sitePositionsFor(builtInTransectValue(), *findModel(2)));
    EXPECT_TRUE(nonDecreasing(ss2.lines.x));
    // Outside the box: a penalty, nothing to draw.
    ModelPrediction outside;
    ASSERT_TRUE(predictForFigure(DataContext{}, *findModel(1), {-1, 1, 0, 10},
                                 ObjectiveKind::zonefit, outside, error));
    EXPECT_TRUE(outside.lines.x.empty());
    EXPECT_TRUE(outside.sites.empty());
}

TEST(PlotModelLines, TheFiguresLinesNeverGoBackInX) {
    ScratchDir dir;
    dir.write("C_2_ML_", "1 1 1 1 0.5 10 450 0\n");
    dir.write("SS1_ML_", "1.02 0.98 0.3 15 0\n");
    for (const char* model : {"8", "1"}) {
        ProgramResult r = runInProcess(dir.path(), std::string("plot ") + model + " -o fig.svg");
        ASSERT_EQ(r.status, 0) << r.err;
        XmlChecker xml;
        ASSERT_TRUE(xml.check(dir.read("fig.svg"))) << xml.error();
        for (const char* id :
             {"predicted-SS", "predicted-SI", "predicted-II", "predicted-p", "model-p"}) {
            const XmlChecker::Element* line = findById(xml, id);
            ASSERT_NE(line, nullptr) << model << " " << id;
            const std::vector<double> xs = pointXs(line->attributes.at("points"));
            EXPECT_EQ(xs.size(), model[0] == '8' ? 201u : 105u) << model << " " << id;
            EXPECT_TRUE(nonDecreasing(xs)) << model << " " << id;
        }
    }
}

TEST(PlotFrequencyPanel, ObservedFrequencyWithAnIntervalPerSite) {
    const int noFile[2] = {0, 0};
    const std::string svg =
        renderSvg(plotInputFor(builtInTransectValue(), *findModel(8), {1, 1, 1, 1, 0.5, 10, 450},
                               777.25, flatPrediction(), noFile));
    XmlChecker xml;
    ASSERT_TRUE(xml.check(svg)) << xml.error();
    ASSERT_NE(findById(xml, "observed-p"), nullptr);
    ASSERT_NE(findById(xml, "model-p"), nullptr);
    int intervals = 0;
    for (const XmlChecker::Element& e : xml.elements()) {
        auto it = e.attributes.find("class");
        intervals += it != e.attributes.end() && it->second == "wilson";
    }
    EXPECT_EQ(intervals, 105);

    // Three sites by hand: all II (0 of 10 alleles), half and half (5 of 10), none sampled.
    PlotInput input;
    input.title = "three sites";
    input.x = {0, 50, 100};
    input.countSS = {0, 1, 0};
    input.countSI = {0, 3, 0};
    input.countII = {5, 1, 0};
    const std::string three = renderSvg(input);
    ASSERT_TRUE(xml.check(three)) << xml.error();
    // The panel spans y = 566 (p = 1) to 816 (p = 0); x from 0 to 103 over 660 pixels from 80.
    EXPECT_NE(three.find("<line class=\"wilson\" x1=\"80\" y1=\"816\" x2=\"80\" y2=\"746.62\""),
              std::string::npos)
        << three;
    EXPECT_NE(three.find("<line class=\"wilson\" x1=\"400.39\" y1=\"756.85\" x2=\"400.39\" "
                         "y2=\"625.15\""),
              std::string::npos);
    EXPECT_NE(three.find("<circle cx=\"400.39\" cy=\"691\""), std::string::npos);
    EXPECT_EQ(three.find("class=\"wilson\" x1=\"720.78\""), std::string::npos); // none sampled
}

namespace {

// A profile curve of model 1 around the fit at (1, 1, 0.3, 15), -lnL 841.945: the fit's own
// point on its estimate rows, a point better by 2.41 (F = 0.31, 839.531), one 0.047 worse
// (sigma 16, 841.991) and one far beyond (wSS 1.2, wII 0.8, 11518.58). The -lnL written are
// not used: every point is evaluated.
const char* const modelOneCurve =
    "# objective: zonefit\n"
    "parameter\tside\tfixed\tminus_lnL\twSS\twII\tF\tsigma\tevaluations\n"
    "F\testimate\t0.3\t841.9\t1\t1\t0.3\t15\t0\n"
    "F\tupper\t0.31\t839.5\t1\t1\t0.31\t15\t7\n"
    "sigma\testimate\t15\t841.9\t1\t1\t0.3\t15\t0\n"
    "sigma\tupper\t16\t842\t1\t1\t0.3\t16\t5\n"
    "sigma\tlower\t1\t0\t1.2\t0.8\t0.3\t15\t5\n";

ModelPrediction flatLines(double value, double p) {
    ModelPrediction prediction;
    prediction.value = value;
    prediction.lines.x = {0, 1};
    prediction.lines.genotypes = {Genotype{p * p, 2 * p * (1 - p), (1 - p) * (1 - p)},
                                  Genotype{p, 0, 1 - p}};
    return prediction;
}

} // namespace

TEST(PlotEnvelope, BandOverThePointsWithinTheLimit) {
    // Best 99.8; within 2: the fit (100), 101.5 and the best; 102 is out, as is the penalty.
    ModelPrediction penalty;
    penalty.value = 1e6;
    const Envelope e = envelopeOf(
        flatLines(100, 0.5),
        {flatLines(101.5, 0.2), flatLines(102, 0.0), flatLines(99.8, 0.6), penalty}, 2.0);
    EXPECT_EQ(e.candidates, 5);
    EXPECT_EQ(e.within, 3);
    ASSERT_EQ(e.x, (std::vector<double>{0, 1}));
    // Deme 0 in Hardy-Weinberg: SS = p^2 from 0.04 to 0.36, p from 0.2 to 0.6.
    EXPECT_DOUBLE_EQ(e.low[0].SS, 0.04);
    EXPECT_DOUBLE_EQ(e.high[0].SS, 0.36);
    EXPECT_DOUBLE_EQ(e.lowP[0], 0.2);
    EXPECT_DOUBLE_EQ(e.highP[0], 0.6);
    EXPECT_DOUBLE_EQ(e.high[0].SI, 0.5);
    // Deme 1 without heterozygotes: II = 1 - p from 0.4 to 0.8.
    EXPECT_DOUBLE_EQ(e.low[1].II, 0.4);
    EXPECT_DOUBLE_EQ(e.high[1].II, 0.8);
    // A fit without lines (a penalty) has no band.
    EXPECT_TRUE(envelopeOf(penalty, {flatLines(99, 0.5)}, 2.0).x.empty());
}

TEST(PlotEnvelope, CommandDrawsTheBandOfTheCurvesPoints) {
    ScratchDir dir;
    dir.write("SS1_ML_", "1 1 0.3 15 841.94505\n");
    dir.write("curve.tsv", modelOneCurve);
    ProgramResult r = runInProcess(dir.path(), "plot 1 --envelope curve.tsv -o fig.svg");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string svg = dir.read("fig.svg");
    XmlChecker xml;
    ASSERT_TRUE(xml.check(svg)) << xml.error();
    // Four distinct points; the fit lies 2.41 above the best, so only the best makes the band.
    EXPECT_NE(svg.find(">envelope: 1 of 4 points<"), std::string::npos) << svg;
    EXPECT_NE(svg.find(">within 2 units of the best \xE2\x88\x92ln L<"), std::string::npos);
    for (const char* id : {"envelope-SS", "envelope-SI", "envelope-II", "envelope-p"}) {
        const XmlChecker::Element* band = findById(xml, id);
        ASSERT_NE(band, nullptr) << id;
        EXPECT_EQ(pointXs(band->attributes.at("points")).size(), 2 * 105u) << id;
    }
    // Within 3 units the fit and sigma 16 join it; the curve may also be given twice.
    r = runInProcess(dir.path(), "plot 1 --units 3 --envelope curve.tsv curve.tsv -o fig.svg");
    ASSERT_EQ(r.status, 0) << r.err;
    svg = dir.read("fig.svg");
    ASSERT_TRUE(xml.check(svg)) << xml.error();
    EXPECT_NE(svg.find(">envelope: 3 of 4 points<"), std::string::npos);
    EXPECT_NE(svg.find(">within 3 units of the best \xE2\x88\x92ln L<"), std::string::npos);
}

TEST(PlotEnvelope, UnusableCurvesAreRefused) {
    ScratchDir dir;
    dir.write("SS1_ML_", "1 1 0.3 15 841.94505\n");
    const std::string header =
        "parameter\tside\tfixed\tminus_lnL\twSS\twII\tF\tsigma\tevaluations\n";
    dir.write("notnumber.tsv", header + "F\testimate\t0.3\t841.9\t1\tx1\t0.3\t15\t0\n");
    dir.write("short.tsv", header + "F\testimate\t0.3\t841.9\t1\t1\t0.3\t0\n");
    dir.write("empty.tsv", header);
    dir.write("other.tsv",
              "parameter\tside\tfixed\tminus_lnL\twSS_L\twII_L\tF\tsigma\tevaluations\n");
    dir.write("objective.tsv", "# objective: neither\n" + header);
    const std::string expected = "'parameter side fixed minus_lnL wSS wII F sigma', then end "
                                 "'evaluations')\n";
    const std::pair<const char*, std::string> cases[] = {
        {"none.tsv", "zonetool plot: cannot read none.tsv: No such file or directory\n"},
        {"notnumber.tsv", "zonetool plot: notnumber.tsv:2: wII 'x1' is not a number\n"},
        {"short.tsv", "zonetool plot: short.tsv:2: 8 fields, the header has 9\n"},
        {"empty.tsv", "zonetool plot: empty.tsv: no profile points\n"},
        {"other.tsv", "zonetool plot: other.tsv:1: not a profile curve of model 1 (its header "
                      "must read " +
                          expected},
        {"objective.tsv", "zonetool plot: objective.tsv:1: unknown objective in '# objective: "
                          "neither' (zonefit or settled)\n"},
    };
    for (const auto& c : cases) {
        const ProgramResult r =
            runInProcess(dir.path(), std::string("plot 1 --envelope ") + c.first + " -o f.svg");
        EXPECT_EQ(r.status, 1) << c.first;
        EXPECT_EQ(r.out, "") << c.first;
        EXPECT_EQ(r.err, c.second) << c.first;
        EXPECT_FALSE(dir.exists("f.svg")) << c.first;
    }
}
