// Character sets by name, to and from UTF-8: the same bytes from iconv on
// Linux and from the code-page calls on Windows (these tests run under wine
// too), so that a database is the same whichever system made it.
#include "common/charset.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "test_support.h"

namespace lexaro {
namespace {

// A row of tests/data/handheld_charsets.tsv.
struct charset_row {
    std::string direction, set, from, to, about;
};

std::vector<charset_row> handheld_charset_rows() {
    std::vector<charset_row> rows;
    std::istringstream lines(test::read_file(LEXARO_TEST_DATA "/handheld_charsets.tsv"));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
            fields.push_back(line.substr(start, tab - start));
        fields.push_back(line.substr(start));
        EXPECT_EQ(fields.size(), 5u) << line;
        if (fields.size() == 5)
            rows.push_back({fields[0], fields[1], fields[2], fields[3], fields[4]});
    }
    return rows;
}

// "41 DE" as its bytes.
std::string bytes_of(const std::string& hex) {
    std::string bytes;
    std::istringstream words(hex);
    for (std::string word; words >> word;)
        bytes.push_back(static_cast<char>(std::stoul(word, nullptr, 16)));
    return bytes;
}

// "U+0041 U+00E9" as UTF-8.
std::string utf8_of(const std::string& code_points) {
    std::string text;
    std::istringstream words(code_points);
    for (std::string word; words >> word;) {
        const unsigned long c = std::stoul(word.substr(2), nullptr, 16);
        if (c < 0x80) {
            text.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            text.push_back(static_cast<char>(0xC0 | c >> 6));
            text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            text.push_back(static_cast<char>(0xE0 | c >> 12));
            text.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
            text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return text;
}

// Every handheld set writes the table's characters as the table says, here
// as on Linux and in the web page; EUC-JP input reads alike.
TEST(Charsets, TheTableOfCharactersGivesTheSameBytesEverywhere) {
    const std::vector<charset_row> rows = handheld_charset_rows();
    EXPECT_GE(rows.size(), 40u);
    for (const charset_row& row : rows) {
        std::string problem, out;
        if (row.direction == "encode") {
            auto encoder = charset_encoder::open(row.set, problem);
            ASSERT_TRUE(encoder) << row.set << ": " << problem;
            encoder->encode(utf8_of(row.from), out);
            EXPECT_EQ(out, bytes_of(row.to)) << row.set << " " << row.from << ": " << row.about;
        } else {
            auto decoder = charset_decoder::open(row.set, problem);
            ASSERT_TRUE(decoder) << row.set << ": " << problem;
            const std::string bytes = bytes_of(row.from);
            EXPECT_EQ(decoder->decode(bytes, out, false), bytes.size()) << row.about;
            EXPECT_EQ(out, utf8_of(row.to)) << row.set << " " << row.from << ": " << row.about;
        }
    }
}

// The names iconv takes for the sets written from tables, in any case.
TEST(Charsets, TheUsualNamesOfEachSetWriteTheSameBytes) {
    struct names_case {
        std::vector<const char*> names;
        std::string utf8, bytes;
    };
    const names_case cases[] = {
        {{"CP1252", "cp1252", "WINDOWS-1252", "windows-1252", "MS-ANSI"}, "\xE2\x82\xAC", "\x80"},
        {{"CP1250", "Windows-1250", "MS-EE"}, "\xC5\xBE", "\x9E"},
        {{"CP1251", "WINDOWS-1251", "MS-CYRL"}, "\xE2\x82\xAC", "\x88"},
        {{"CP1257", "WINDOWS-1257", "WINBALTRIM"}, "\xC5\xBE", "\xFE"},
        {{"KOI8-R", "koi8-r", "KOI8R", "CSKOI8R"}, "\xD0\x96", "\xF6"},
        {{"SHIFT_JIS", "Shift_JIS", "SHIFT-JIS", "SJIS", "sjis", "MS_KANJI", "CSSHIFTJIS"},
         "\xC2\xA5",
         "\x5C"},
        {{"BIG5", "Big5", "BIG-5", "BIG-FIVE", "CN-BIG5"}, "\xE4\xB8\x9F", "\xA5\xE1"},
        {{"GB2312", "gb2312", "EUC-CN", "EUCCN", "CSGB2312", "CN-GB"}, "\xE4\xB8\x9F", "?"},
    };
    for (const names_case& c : cases) {
        for (const char* name : c.names) {
            std::string problem, out;
            auto encoder = charset_encoder::open(name, problem);
            ASSERT_TRUE(encoder) << name << ": " << problem;
            EXPECT_EQ(encoder->name(), name);
            encoder->encode(c.utf8, out);
            EXPECT_EQ(out, c.bytes) << name;
        }
    }
    for (const char* name : {"EUC-JP", "euc-jp", "EUCJP", "UJIS"}) {
        std::string problem, out;
        auto decoder = charset_decoder::open(name, problem);
        ASSERT_TRUE(decoder) << name << ": " << problem;
        decoder->decode("\x8F\xB0\xA1", out, false);
        EXPECT_EQ(out, "\xE4\xB8\x82") << name;
    }
}

// EUC-JP read in pieces cut anywhere gives what it gives whole: a
// character cut short waits for the next piece, also one of JIS X 0212.
TEST(Charsets, EucJpReadInPiecesGivesWhatItGivesWhole) {
    const std::string text = "a\x8F\xAB\xD7\xA4\xA2\x8E\xB6\xFF\x8F\xB0\xA1z";
    std::string problem, whole;
    auto decoder = charset_decoder::open("EUC-JP", problem);
    ASSERT_TRUE(decoder) << problem;
    decoder->decode(text, whole, false);
    EXPECT_EQ(whole, "a\xC5\x8D\xE3\x81\x82\xEF\xBD\xB6\xEF\xBF\xBD\xE4\xB8\x82z");
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        auto pieces = charset_decoder::open("EUC-JP", problem);
        std::string out;
        const std::size_t taken = pieces->decode(text.substr(0, cut), out, true);
        ASSERT_LE(taken, cut);
        pieces->decode(text.substr(taken), out, false);
        EXPECT_EQ(out, whole) << "cut at " << cut;
        EXPECT_EQ(pieces->invalid(), 1u) << "cut at " << cut;
    }
}

TEST(Charsets, TheHandheldSetsGiveTheSameBytesEverywhere) {
    struct set_case {
        const char* name;
        std::string utf8, bytes;
    };
    const set_case cases[] = {
        {"CP1250", "\xC5\x81\xC3\xB3" "d\xC5\xBA \xC5\xBE", "\xA3\xF3" "d\x9F \x9E"},
        {"CP1251", "\xD0\x94\xD0\xBE\xD0\xBC", "\xC4\xEE\xEC"},
        {"CP1252", "caf\xC3\xA9 \xE2\x82\xAC", "caf\xE9 \x80"},
        {"KOI8-R", "\xD0\x94\xD0\xBE\xD0\xBC", "\xE4\xCF\xCD"},
        {"SHIFT_JIS", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "\x93\xFA\x96\x7B\x8C\xEA"},
        {"EUC-JP", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "\xC6\xFC\xCB\xDC\xB8\xEC"},
        {"BIG5", "\xE4\xB8\xAD\xE5\x9C\x8B", "\xA4\xA4\xB0\xEA"},
        {"GB2312", "\xE4\xB8\xAD\xE5\x9B\xBD", "\xD6\xD0\xB9\xFA"},
    };
    for (const set_case& c : cases) {
        std::string problem;
        auto encoder = charset_encoder::open(c.name, problem);
        auto decoder = charset_decoder::open(c.name, problem);
        ASSERT_TRUE(encoder && decoder) << c.name << ": " << problem;
        std::string bytes, utf8;
        encoder->encode("a$" + c.utf8, bytes);
        EXPECT_EQ(bytes, "a$" + c.bytes) << c.name;
        EXPECT_EQ(encoder->transliterated() + encoder->replaced(), 0u) << c.name;
        EXPECT_EQ(decoder->decode(c.bytes, utf8, false), c.bytes.size()) << c.name;
        EXPECT_EQ(utf8, c.utf8) << c.name;
    }
}

TEST(Charsets, WhatASetLacksIsTransliteratedOrReplacedAlike) {
    std::string problem, out;
    auto encoder = charset_encoder::open("CP1251", problem);
    ASSERT_TRUE(encoder) << problem;
    encoder->encode("caf\xC3\xA9 \xE2\x80\x9E\xE6\x97\xA5", out);  // é transliterated, „ in the set
    EXPECT_EQ(out, "cafe \x84?");
    EXPECT_EQ(encoder->transliterated(), 1u);
    EXPECT_EQ(encoder->replaced(), 1u);
}

TEST(Charsets, UnknownAndUnusableSetsAreRefused) {
    struct refused {
        const char* name;
        const char* problem;
    };
    for (const refused& r : {refused{"NO-SUCH-SET", "unknown character set NO-SUCH-SET"},
                             refused{"UTF-16LE",
                                     "character set UTF-16LE does not keep ASCII as it is, so a "
                                     "source line could break inside a character; use a set of "
                                     "one or two bytes a character, such as CP1252, CP1250, "
                                     "CP1251, KOI8-R, Shift_JIS, Big5 or GB2312"}}) {
        std::string problem;
        EXPECT_FALSE(charset_encoder::open(r.name, problem)) << r.name;
        EXPECT_EQ(problem, r.problem);
    }
}

}  // namespace
}  // namespace lexaro
