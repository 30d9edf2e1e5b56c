// Character sets by name, to and from UTF-8: the same bytes from iconv on
// Linux and from the code-page calls on Windows (these tests run under wine
// too), so that a database is the same whichever system made it.
#include <gtest/gtest.h>

#include "common/charset.h"

namespace lexaro {
namespace {

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
