// Composition (NFC) and compatibility forms (NFKC), as the handheld's sets
// are written: the cases that a wrong table or a wrong step of the
// composition gets wrong. These run under wine too; unicode_data_test.cpp
// checks every line of Unicode's own test file on Linux.
#include "common/unicode_forms.h"

#include <gtest/gtest.h>

namespace lexaro {
namespace {

TEST(UnicodeForms, TextIsComposedAsUnicodeComposesIt) {
    struct composing {
        const char* about;
        std::string text, composed;
    };
    const composing cases[] = {
        {"ASCII", "plain text $", "plain text $"},
        {"a mark on its letter", "cafe\xCC\x81", "caf\xC3\xA9"},
        {"two marks, either order", "a\xCC\xA3\xCC\x82 a\xCC\x82\xCC\xA3",
         "\xE1\xBA\xAD \xE1\xBA\xAD"},
        {"a composed letter and one more mark", "\xC3\xA2\xCC\x81", "\xE1\xBA\xA5"},
        {"a second mark of the same class is blocked", "a\xCC\x81\xCC\x81",
         "\xC3\xA1\xCC\x81"},
        {"a mark of a lower class in between does not block", "a\xCC\x96\xCC\x81",
         "\xC3\xA1\xCC\x96"},
        {"a mark with no composed form stays", "\xD0\xBE\xCC\x81", "\xD0\xBE\xCC\x81"},
        {"a mark at the start stays", "\xCC\x81" "e", "\xCC\x81" "e"},
        {"ASCII composes too", "<\xCC\xB8", "\xE2\x89\xAE"},
        {"a singleton: the ohm sign is omega", "\xE2\x84\xA6", "\xCE\xA9"},
        {"excluded from composition: Devanagari qa stays decomposed", "\xE0\xA5\x98",
         "\xE0\xA4\x95\xE0\xA4\xBC"},
        {"Hangul by rule", "\xE1\x84\x80\xE1\x85\xA1\xE1\x86\xA8 \xEA\xB0\x80\xE1\x86\xA8",
         "\xEA\xB0\x81 \xEA\xB0\x81"},
        {"kana and a voicing mark", "\xE3\x83\x8F\xE3\x82\x9A", "\xE3\x83\x91"},
        {"Hebrew points in canonical order", "\xD7\xA9\xD7\x81\xD6\xBC",
         "\xD7\xA9\xD6\xBC\xD7\x81"},
        {"beyond the Basic Multilingual Plane", "\xF0\x91\x82\x99\xF0\x91\x82\xBA",
         "\xF0\x91\x82\x9A"},
        {"bytes that are not UTF-8 stay, and nothing composes across them",
         "e\xFF\xCC\x81 \xC3", "e\xFF\xCC\x81 \xC3"},
    };
    std::u32string work;
    for (const composing& c : cases) {
        std::string out = "stale";
        compose(c.text, out, work);
        EXPECT_EQ(out, c.composed) << c.about;
        // Composed text is composed already, and is_composed never says so
        // of text that composing changes.
        std::string again;
        compose(out, again, work);
        EXPECT_EQ(again, out) << c.about;
        if (out != c.text) {
            EXPECT_FALSE(is_composed(c.text)) << c.about;
        }
    }
    for (const char* composed : {"caf\xC3\xA9 \xC5\xBEluto\xC5\xA5", "\xE6\x97\xA5\xE6\x9C\xAC",
                                 "\xCE\xAC\xCE\xBB\xCF\x86\xCE\xB1", "\xFF"})
        EXPECT_TRUE(is_composed(composed)) << composed;
}

// A long run of marks whose classes alternate is put in order whole: each
// class's marks in their own order, the lower class first.
TEST(UnicodeForms, ALongRunOfMarksIsOrderedWhole) {
    std::string text = "x", expected = "x", below;
    for (int i = 0; i < 20000; ++i) {
        text += i % 2 ? "\xCC\xA3" : "\xCC\x81";  // dot below (220), acute (230)
        (i % 2 ? below : expected) += i % 2 ? "\xCC\xA3" : "\xCC\x81";
    }
    expected.insert(1, below);
    std::string out;
    std::u32string work;
    compose(text, out, work);
    EXPECT_EQ(out, expected);
}

TEST(UnicodeForms, CompatibilityFormsOfSingleCharacters) {
    struct compatible {
        char32_t c;
        std::string form;  // empty: none
    };
    const compatible cases[] = {
        {0xFB01, "fi"},
        {0x2460, "1"},
        {0xFF28, "H"},
        {0x1D52, "o"},
        {0x02B3, "r"},
        {0x337B, "\xE5\xB9\xB3\xE6\x88\x90"},        // square era name: two kanji
        {0xFF76, "\xE3\x82\xAB"},                    // half-width katakana
        {0x00BD, "1\xE2\x81\x84" "2"},               // one half, with a fraction slash
        {0x1E9B, "\xE1\xB9\xA1"},                    // long s with dot above: composed s with dot
        {0x1D400, "A"},                              // mathematical bold A
        {0xFF04, "$"},                               // the encoder keeps this one out
        {0x00E9, ""},                                // a composed letter is its own form
        {0x2126, ""},                                // canonical only: composing does it
        {0x0041, ""},
        {0x65E5, ""},
    };
    for (const compatible& c : cases)
        EXPECT_EQ(compatibility_form(c.c), c.form) << std::hex << static_cast<uint32_t>(c.c);
}

TEST(UnicodeForms, CombiningMarksAndTheirClasses) {
    struct mark {
        char32_t c;
        bool is_mark;
        unsigned klass;
    };
    const mark cases[] = {
        {0x0301, true, 230}, {0x0323, true, 220}, {0x05BC, true, 21},  {0x3099, true, 8},
        {0x094D, true, 9},   {0x0E49, true, 107}, {0x093E, true, 0},   {0x0E32, false, 0},
        {0x0041, false, 0},  {0x00E9, false, 0},  {0x1D167, true, 1},  {0x10FFFF, false, 0},
    };
    for (const mark& m : cases) {
        EXPECT_EQ(is_combining_mark(m.c), m.is_mark) << std::hex << static_cast<uint32_t>(m.c);
        EXPECT_EQ(combining_class(m.c), m.klass) << std::hex << static_cast<uint32_t>(m.c);
    }
}

}  // namespace
}  // namespace lexaro
