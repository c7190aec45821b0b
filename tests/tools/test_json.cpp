// The JSON writer and reader of the fit records.
#include "tools/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

JsonValue parsed(const std::string& text) {
    JsonValue value;
    std::string error;
    EXPECT_TRUE(parseJson(text, value, error)) << text << ": " << error;
    return value;
}

std::string refusal(const std::string& text) {
    JsonValue value;
    std::string error;
    EXPECT_FALSE(parseJson(text, value, error)) << text;
    return error;
}

} // namespace

TEST(JsonWrite, StringsAreEscapedAndReadBackUnchanged) {
    EXPECT_EQ(jsonQuote("plain"), "\"plain\"");
    EXPECT_EQ(jsonQuote("a \"b\" c\\d"), "\"a \\\"b\\\" c\\\\d\"");
    EXPECT_EQ(jsonQuote("line\nnext\ttab\x01\x7f"), "\"line\\nnext\\ttab\\u0001\\u007f\"");
    // Paths with blanks, quotes, newlines and UTF-8 (σ) survive a round trip.
    for (const std::string& text : {std::string("my dir/SS1_ML_"), std::string("a\"b'c\nd\re"),
                                    std::string("\xCF\x83 = 10"), std::string()}) {
        const JsonValue value = parsed(jsonQuote(text));
        EXPECT_EQ(value.type, JsonValue::Type::string);
        EXPECT_EQ(value.text, text);
    }
}

TEST(JsonWrite, NumbersReadBackToTheSameDouble) {
    EXPECT_EQ(jsonNumber(0.1), "0.10000000000000001");
    EXPECT_EQ(jsonNumber(4613.0837066057775), "4613.0837066057775");
    EXPECT_EQ(jsonNumber(std::numeric_limits<double>::infinity()), "null");
    EXPECT_EQ(jsonNumber(std::nan("")), "null");
    for (double x : {0.1, 1.0 / 3.0, -2.5e-300, 4.9e-324, 1.7976931348623157e308, 1157.6058}) {
        EXPECT_EQ(parsed(jsonNumber(x)).number, x);
    }
}

TEST(JsonRead, NestedValuesAndEscapes) {
    const JsonValue v = parsed(" {\"a\": [1, -2.5e3, true, false, null], \"b\": {\"c\": "
                               "\"\\u00e9\\ud83d\\ude00\\/\"}} \n");
    ASSERT_EQ(v.type, JsonValue::Type::object);
    const JsonValue* a = v.find("a");
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->items.size(), 5u);
    EXPECT_EQ(a->items[1].number, -2500.0);
    EXPECT_TRUE(a->items[2].boolean);
    EXPECT_FALSE(a->items[3].boolean);
    EXPECT_EQ(a->items[3].type, JsonValue::Type::boolean);
    EXPECT_EQ(a->items[4].type, JsonValue::Type::null);
    EXPECT_EQ(v.find("b")->find("c")->text, "\xC3\xA9\xF0\x9F\x98\x80/");
    EXPECT_EQ(v.find("missing"), nullptr);
    EXPECT_EQ(a->find("a"), nullptr);
    EXPECT_EQ(parsed("[]").items.size(), 0u);
    EXPECT_EQ(parsed("{}").fields.size(), 0u);
}

TEST(JsonRead, MalformedInputIsRefusedWithItsPlace) {
    EXPECT_EQ(refusal(""), "unexpected end of input at byte 1");
    EXPECT_EQ(refusal("[1, 2,]"), "unexpected character ']' at byte 7");
    EXPECT_EQ(refusal("{\"a\": 1} x"), "unexpected text after the value at byte 10");
    EXPECT_EQ(refusal("\"open"), "unterminated string at byte 6");
    EXPECT_EQ(refusal("\"a\nb\""), "control character in a string at byte 3");
    EXPECT_EQ(refusal("\"\\q\""), "unknown escape '\\q' at byte 3");
    EXPECT_EQ(refusal("\"\\ud800\""), "unpaired surrogate in a \\u escape at byte 8");
    EXPECT_EQ(refusal("{\"a\": 1, \"a\": 2}"), "duplicate member 'a' at byte 10");
    EXPECT_EQ(refusal("{\"a\" 1}"), "expected ':' at byte 6");
    EXPECT_EQ(refusal("{1: 2}"), "expected a member name at byte 2");
    EXPECT_EQ(refusal("[1 2]"), "expected ',' or ']' at byte 4");
    EXPECT_EQ(refusal("01"), "unexpected text after the value at byte 2");
    EXPECT_EQ(refusal("1."), "malformed number at byte 3");
    EXPECT_EQ(refusal("-"), "malformed number at byte 2");
    EXPECT_EQ(refusal("1e999"), "number out of range at byte 1");
    EXPECT_EQ(refusal("nul"), "unexpected character 'n' at byte 1");
    EXPECT_EQ(refusal(std::string(100, '[') + std::string(100, ']')),
              "nesting too deep at byte 66");
}

TEST(JsonRead, TheFailingOffsetIsGivenFromZero) {
    JsonValue value;
    std::string error;
    std::size_t where = 99;
    EXPECT_FALSE(parseJson("{\"a\": 1}\n\n x", value, error, &where));
    EXPECT_EQ(error, "unexpected text after the value at byte 12");
    EXPECT_EQ(where, 11u);
    where = 99;
    EXPECT_TRUE(parseJson("[1]", value, error, &where));
    EXPECT_EQ(where, 99u);
}
