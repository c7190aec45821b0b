// The JSON text of zonetool's files: numbers that read back to the same double, strings that
// stay JSON, each file's layout, and the refusal of what is not JSON.
#include "tools/formats/json_io.h"

#include "support/work_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>

namespace {

Json parsed(const std::string& text) {
    Json value;
    std::string error;
    EXPECT_TRUE(parseJsonText(text, value, error)) << text << ": " << error;
    return value;
}

std::string refusal(const std::string& text) {
    Json value;
    std::string error;
    EXPECT_FALSE(parseJsonText(text, value, error)) << text;
    return error;
}

} // namespace

TEST(JsonNumber, SeventeenDigitsReadBackToTheSameDouble) {
    EXPECT_EQ(jsonNumber(0.1), "0.10000000000000001");
    EXPECT_EQ(jsonNumber(4613.0837066057775), "4613.0837066057775");
    EXPECT_EQ(jsonNumber(1e-300), "1e-300");
    EXPECT_EQ(jsonNumber(5e-324), "4.9406564584124654e-324");
    EXPECT_EQ(jsonNumber(1.7976931348623157e308), "1.7976931348623157e+308");
    EXPECT_EQ(jsonNumber(3.0), "3");
    EXPECT_EQ(jsonNumber(-0.0), "-0.0");
    EXPECT_EQ(jsonNumber(std::numeric_limits<double>::infinity()), "null");
    EXPECT_EQ(jsonNumber(std::nan("")), "null");
    // Through a whole document and the library's reader: whole numbers come back as such and
    // still give the same double; so does the sign of zero.
    const std::vector<double> values = {
        0.1,  1e-300,    5e-324,    1.7976931348623157e308, -0.0, 3.0, -7.0,
        1e16, -2.5e-300, 1.0 / 3.0, 12345678901234567.0};
    Json document = Json::object();
    document["x"] = values;
    std::vector<double> back;
    ASSERT_TRUE(jsonNumbers(jsonMember(parsed(jsonDocument(document)), "x"), back));
    ASSERT_EQ(back.size(), values.size());
    for (std::size_t i = 0; i < values.size(); i++) {
        EXPECT_EQ(back[i], values[i]) << i;
        EXPECT_EQ(std::signbit(back[i]), std::signbit(values[i])) << i;
    }
}

TEST(JsonQuote, EscapesAndKeepsTheFileJson) {
    EXPECT_EQ(jsonQuote("plain"), "\"plain\"");
    EXPECT_EQ(jsonQuote("a \"b\" c\\d"), "\"a \\\"b\\\" c\\\\d\"");
    EXPECT_EQ(jsonQuote("line\nnext\ttab\x01\x7f"), "\"line\\nnext\\ttab\\u0001\\u007f\"");
    // A Latin-1 byte (é) is no UTF-8: it is written as that character, so the reader takes it.
    EXPECT_EQ(jsonQuote("caf\xE9"), "\"caf\\u00e9\"");
    EXPECT_EQ(parsed(jsonQuote("caf\xE9")).get<std::string>(), "caf\xC3\xA9");
    // Overlong forms, surrogates and cut sequences are no UTF-8 either.
    EXPECT_EQ(jsonQuote("\xC0\xAF"), "\"\\u00c0\\u00af\"");
    EXPECT_EQ(jsonQuote("\xED\xA0\x80"), "\"\\u00ed\\u00a0\\u0080\"");
    EXPECT_EQ(jsonQuote("\xCF"), "\"\\u00cf\"");
    // Paths with blanks, quotes, newlines and UTF-8 (σ, an emoji) come back unchanged.
    for (const std::string& text :
         {std::string("my dir/SS1_ML_"), std::string("a\"b'c\nd\re"), std::string("\xCF\x83 = 10"),
          std::string("\xF0\x9F\x98\x80"), std::string()}) {
        EXPECT_EQ(parsed(jsonQuote(text)).get<std::string>(), text);
    }
}

TEST(JsonLayout, OneLineValuesDocumentsAndLines) {
    Json region = Json::object();
    region["low"] = 0.5;
    region["high"] = 2.0;
    region["log"] = false;
    EXPECT_EQ(jsonInline(region), "{\"low\": 0.5, \"high\": 2, \"log\": false}");
    Json whole = Json::object();
    whole["seed"] = std::numeric_limits<std::uint64_t>::max();
    whole["k"] = -3;
    whole["none"] = nullptr;
    whole["list"] = Json::array();
    whole["names"] = {"a", "b"};
    EXPECT_EQ(jsonInline(whole), "{\"seed\": 18446744073709551615, \"k\": -3, \"none\": null, "
                                 "\"list\": [], \"names\": [\"a\", \"b\"]}");

    JsonLayout layout;
    layout.listed = {"regions", "optima"};
    layout.lineBefore = {"b"};
    Json document = Json::object();
    document["format"] = "f";
    document["regions"] = Json::array({region, region});
    document["optima"] = Json::array();
    Json run = Json::object();
    run["a"] = 1;
    run["b"] = 2;
    document["run"] = run;
    EXPECT_EQ(jsonDocument(document, layout), "{\n"
                                              "  \"format\": \"f\",\n"
                                              "  \"regions\": [\n"
                                              "    {\"low\": 0.5, \"high\": 2, \"log\": false},\n"
                                              "    {\"low\": 0.5, \"high\": 2, \"log\": false}\n"
                                              "  ],\n"
                                              "  \"optima\": [\n"
                                              "  ],\n"
                                              "  \"run\": {\"a\": 1,\n"
                                              "    \"b\": 2}\n"
                                              "}\n");

    EXPECT_EQ(jsonLines(Json::array()), "[]\n");
    EXPECT_EQ(jsonLines(Json::array({region, 7})),
              "[\n  {\"low\": 0.5, \"high\": 2, \"log\": false},\n  7\n]\n");
}

TEST(JsonRead, WhatIsNoJsonIsRefusedWithItsLine) {
    EXPECT_EQ(refusal(""), "not valid JSON near line 1");
    EXPECT_EQ(refusal("{\"format\": 1"), "not valid JSON near line 1");
    EXPECT_EQ(refusal("{\n  \"a\": 1,\n  \"b\": [1, 2,]\n}\n"), "not valid JSON near line 3");
    EXPECT_EQ(refusal("{\"a\": 1}\n\n x"), "not valid JSON near line 3");
    EXPECT_EQ(refusal("model\tvalue\n1\t2\n"), "not valid JSON near line 1");
    EXPECT_EQ(refusal("[\"a\nb\"]"), "not valid JSON near line 1");
    EXPECT_EQ(refusal("[1,\n"), "not valid JSON near line 2");
    EXPECT_EQ(refusal("[1e999]"), "not valid JSON near line 1");
    // What the library would take but no file of ours holds.
    EXPECT_EQ(refusal("{\"a\": 1, \"a\": 2}"),
              "not valid JSON: the member \"a\" appears twice in one object");
    EXPECT_EQ(refusal(std::string(65, '[') + std::string(65, ']')),
              "not valid JSON: nested more than 64 deep");
    EXPECT_EQ(refusal(std::string(100000, '[')), "not valid JSON: nested more than 64 deep");
    // 64 levels, and the same member name in two objects, are fine.
    parsed(std::string(64, '[') + std::string(64, ']'));
    parsed("[{\"a\": 1}, {\"a\": {\"a\": 2}}]");
}

TEST(JsonMembers, MissingMembersAndWrongTypesGiveTheFallback) {
    const Json v = parsed("{\"n\": 2.5, \"t\": true, \"s\": \"x\", \"l\": [1, \"2\"], \"e\": []}");
    EXPECT_EQ(jsonNumberOr(jsonMember(v, "n"), 0.0), 2.5);
    EXPECT_EQ(jsonNumberOr(jsonMember(v, "s"), -1.0), -1.0);
    EXPECT_EQ(jsonNumberOr(jsonMember(v, "missing"), -1.0), -1.0);
    EXPECT_TRUE(jsonTrue(jsonMember(v, "t")));
    EXPECT_FALSE(jsonTrue(jsonMember(v, "s")));
    EXPECT_EQ(jsonTextOr(jsonMember(v, "s")), "x");
    EXPECT_EQ(jsonTextOr(jsonMember(v, "n")), "");
    std::vector<double> numbers = {9.0};
    EXPECT_FALSE(jsonNumbers(jsonMember(v, "l"), numbers));
    EXPECT_TRUE(jsonNumbers(jsonMember(v, "e"), numbers));
    EXPECT_TRUE(numbers.empty());
    EXPECT_EQ(jsonMember(*jsonMember(v, "l"), "n"), nullptr);
}

using JsonFile = InScratchWorkDir;

TEST_F(JsonFile, ReadingNamesTheFile) {
    Json value;
    std::string error;
    EXPECT_FALSE(readJsonFile("absent.json", "explore record", value, error));
    EXPECT_EQ(error, "cannot read the explore record absent.json");
    std::ofstream("cut.json") << "{\n  \"format\": \"zonefit-explore-record\",\n  \"optima\": [";
    EXPECT_FALSE(readJsonFile("cut.json", "explore record", value, error));
    EXPECT_EQ(error, "cut.json: not valid JSON near line 3");
    std::ofstream("good.json") << "{\"a\": [1, 2]}\n";
    ASSERT_TRUE(readJsonFile("good.json", "explore record", value, error)) << error;
    EXPECT_EQ(jsonInline(value), "{\"a\": [1, 2]}");
}
