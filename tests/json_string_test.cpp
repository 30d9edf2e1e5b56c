// The JSON strings that Wiktextract's and Yomitan's readers share: every
// escape, surrogate pairs joined or not, and where a broken string stops.
#include <gtest/gtest.h>

#include <cstring>

#include "import/formats/json_string.h"

namespace lexaro::import {
namespace {

TEST(JsonString, EscapesAreDecodedAndTheStringEndsAfterItsQuote) {
    struct {
        const char* body;  // after the opening quote
        const char* text;
        std::size_t end;   // where reading stops: after the closing quote
    } const cases[] = {
        {"\"", "", 1},
        {"Haus\", 1", "Haus", 5},
        {R"(a\"b\\c\/d")", "a\"b\\c/d", 11},
        {R"(\b\f\n\r\t")", "\b\f\n\r\t", 11},
        {R"(caf\u00e9")", "caf\xC3\xA9", 10},
        {R"(\u20AC")", "\xE2\x82\xAC", 7},
        {R"(\ud83d\ude00")", "\xF0\x9F\x98\x80", 13},  // a pair is one character
        {R"(\ud83d")", "\xEF\xBF\xBD", 7},              // a lone high surrogate
        {R"(\ude00x")", "\xEF\xBF\xBD" "x", 8},         // a lone low one
        {R"(\ud83d\u0041")", "\xEF\xBF\xBD" "A", 13},   // high, then no low
        {R"(a\u0000b")", "ab", 9},                       // no NUL in a word
        {"\xE6\x97\xA5\"", "\xE6\x97\xA5", 4},           // UTF-8 as it stands
    };
    for (const auto& c : cases) {
        std::size_t at = 0;
        std::string out = "<";
        EXPECT_EQ(read_json_string(c.body, at, out, "end"), nullptr) << c.body;
        EXPECT_EQ(out, std::string("<") + c.text) << c.body;
        EXPECT_EQ(at, c.end) << c.body;
    }
}

TEST(JsonString, ABrokenStringSaysWhatWasExpectedWhereItStops) {
    struct {
        const char* body;
        const char* expected;
        std::size_t at;
    } const cases[] = {
        {"Haus", "the quote", 4},
        {"Haus\\", "an escape after '\\'", 5},
        {R"(a\x")", "an escape: \\\" \\\\ \\/ \\b \\f \\n \\r \\t or \\uXXXX", 2},
        {R"(\u00g9")", "four hexadecimal digits after \\u", 4},
        {R"(\u00)", "four hexadecimal digits after \\u", 4},
        {R"(\ud83d\udx00")", "four hexadecimal digits after \\u", 9},
    };
    for (const auto& c : cases) {
        std::size_t at = 0;
        std::string out;
        const char* expected = read_json_string(c.body, at, out, "the quote");
        ASSERT_NE(expected, nullptr) << c.body;
        EXPECT_STREQ(expected, c.expected) << c.body;
        EXPECT_EQ(at, c.at) << c.body;
    }
}

}  // namespace
}  // namespace lexaro::import
