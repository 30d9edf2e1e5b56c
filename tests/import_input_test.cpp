// lexaro-import's input layer end to end: the character sets a dictionary
// comes in (named, or said by a byte-order mark), compressed text, and what
// the summary says of them.
#include <gtest/gtest.h>

#include <algorithm>

#include "format_test_support.h"
#include "test_support.h"
#include "import/formats/formats.h"

namespace lexaro::test {
namespace {

using namespace std::string_literals;

// The UTF-16 code units of text (BMP only), in the given byte order.
std::string utf16(std::u16string_view text, bool big_endian) {
    std::string bytes;
    for (char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += big_endian ? high : low;
        bytes += big_endian ? low : high;
    }
    return bytes;
}

// "дом" (house) and "сад" (garden), as a tab file, its translations in UTF-8.
const std::string cyrillic_expected =
    "in\n"
    "\xD0\xB4\xD0\xBE\xD0\xBC$house, \xD0\xB4\xD0\xBE\xD0\xBC\n"
    "\xD1\x81\xD0\xB0\xD0\xB4$garden\n";
const std::u16string cyrillic_text = u"сад\tgarden\nдом\thouse, дом\n";

TEST(ImportInput, EveryCharacterSetGivesTheSameSource) {
    const std::string koi8 = "\xD3\xC1\xC4\tgarden\n\xC4\xCF\xCD\thouse, \xC4\xCF\xCD\n";
    const std::string cp1251 = "\xF1\xE0\xE4\tgarden\n\xE4\xEE\xEC\thouse, \xE4\xEE\xEC\n";
    const std::string utf8 =
        "\xD1\x81\xD0\xB0\xD0\xB4\tgarden\n\xD0\xB4\xD0\xBE\xD0\xBC\thouse, \xD0\xB4\xD0\xBE\xD0\xBC\n";
    check_cases({
        {"UTF-8", "in.tab", utf8, {}, cyrillic_expected},
        {"UTF-8 with its byte-order mark", "in.tab", "\xEF\xBB\xBF" + utf8, {}, cyrillic_expected},
        {"KOI8-R named", "in.tab", koi8, {"--input-charset", "KOI8-R"}, cyrillic_expected},
        {"CP1251 named", "in.tab", cp1251, {"--input-charset=CP1251"}, cyrillic_expected},
        {"UTF-16LE by its mark", "in.tab", "\xFF\xFE" + utf16(cyrillic_text, false), {},
         cyrillic_expected},
        {"UTF-16BE by its mark", "in.tab", "\xFE\xFF" + utf16(cyrillic_text, true), {},
         cyrillic_expected},
        {"a mark over the set named", "in.tab", "\xFF\xFE" + utf16(cyrillic_text, false),
         {"--input-charset", "KOI8-R"}, cyrillic_expected},
        {"UTF-16LE named, no mark", "in.tab", utf16(cyrillic_text, false),
         {"--input-charset", "UTF-16LE", "--format", "tab"}, cyrillic_expected},
        {"gzip", "in.tab.gz", gzip_bytes(koi8), {"--input-charset", "KOI8-R"}, cyrillic_expected},
        {"recognised by its lines once decoded", "in.txt", "\xFE\xFF" + utf16(cyrillic_text, true),
         {}, cyrillic_expected},
    });
}

TEST(ImportInput, LargeInputsDecodeTheSameAcrossReads) {
    // Over 3 MB of UTF-16, read a megabyte at a time: characters fall across
    // the ends of the reads, and the sample taken first is read again.
    std::u16string text;
    std::string utf8;
    for (int i = 0; i < 100000; ++i) {
        const std::string n = std::to_string(i);
        text += u"д";
        utf8 += "\xD0\xB4";
        for (char c : n) text += static_cast<char16_t>(c);
        text += u"\tдом и сад ";
        utf8 += n + "\t\xD0\xB4\xD0\xBE\xD0\xBC \xD0\xB8 \xD1\x81\xD0\xB0\xD0\xB4 ";
        for (char c : n) text += static_cast<char16_t>(c);
        text += u"\n";
        utf8 += n + "\n";
    }
    scratch_dir dir;
    write_file(dir / "utf8.tab", utf8);
    write_file(dir / "le.tab", "\xFF\xFE" + utf16(text, false));
    write_file(dir / "be.tab", "\xFE\xFF" + utf16(text, true));
    for (const char* name : {"utf8", "le", "be"}) {
        const run_result run =
            run_lexaro_import({"--title=T", name + ".tab"s, name + ".txt"s}, dir.path());
        ASSERT_EQ(run.status, 0) << name << ": " << run.err;
    }
    const std::string expected = read_file(dir / "utf8.txt");
    EXPECT_EQ(std::count(expected.begin(), expected.end(), '\n'), 100001);
    EXPECT_TRUE(read_file(dir / "le.txt") == expected);
    EXPECT_TRUE(read_file(dir / "be.txt") == expected);
}

TEST(ImportInput, EightBitDictdDictionaries) {
    // dictfmt writes 8-bit dictionaries only in an 8-bit locale: the files are written here.
    const std::string article = "\xE9t\xE9\nsummer, the season\n";
    scratch_dir dir;
    write_file(dir / "latin.dict", article);
    write_file(dir / "latin.index", "\xE9t\xE9\tA\t" + dictd_number(article.size()) + "\n");
    const run_result run =
        run_lexaro_import({"--input-charset", "ISO-8859-1", "latin.index", "out.txt"}, dir.path());
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir / "out.txt"), "latin\n\xC3\xA9t\xC3\xA9$summer, the season\n");
}

TEST(ImportInput, TheSummarySaysHowTheInputWasRead) {
    struct summary_case {
        const char* what;
        std::string input;
        std::vector<std::string> options;
        std::string line;  // expected in the summary; empty: no input line at all
    };
    const summary_case cases[] = {
        {"UTF-8 says nothing", "a\tb\n", {}, ""},
        {"a set named", "a\t\xE9\n", {"--input-charset", "ISO-8859-1"},
         "  input:           read as ISO-8859-1\n"},
        {"a mark", "\xFF\xFE" + utf16(u"a\tb\n", false), {}, "  input:           read as UTF-16LE\n"},
        {"bytes that are no character",
         "a\t\x98\n",
         {"--input-charset", "CP1251"},
         "  input:           read as CP1251, 1 bytes that are no character of it read as "
         "U+FFFD\n"},
    };
    for (const summary_case& c : cases) {
        scratch_dir dir;
        write_file(dir / "in.tab", c.input);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"in.tab", "out.txt"});
        const run_result run = run_lexaro_import(args, dir.path());
        EXPECT_EQ(run.status, 0) << c.what << ": " << run.err;
        if (c.line.empty())
            EXPECT_EQ(run.err.find("  input:"), std::string::npos) << c.what << ": " << run.err;
        else
            EXPECT_NE(run.err.find(c.line), std::string::npos) << c.what << ": " << run.err;
    }
}

TEST(ImportInput, BinaryFilesAreNeverTakenForText) {
    struct binary_case {
        const char* what;
        std::string name;
        std::string bytes;
    };
    // A picture with a '$' and line feeds among its bytes: once a lexaro
    // source of binary entries. (An MDict file was such a case until MDict
    // had a reader of its own.)
    const std::string picture("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR\0\0\0\x01$\n\x08\x06\0\0\0\x1F\x15\xC4"
                              "\x89\nx$y\n",
                              36);
    const std::vector<binary_case> cases = {
        {"a picture", "cover.png", picture},
        {"a zero byte among lines of a source", "d.txt", "T\na$b\nc\0$d\n"},
        {"control bytes without a zero", "d.txt", "T\n\x01\x02\x03$\x04\x05\x06\x07\x08\n"},
        {"a picture compressed", "cover.png.gz", gzip_bytes(picture)},
    };
    for (const binary_case& c : cases) {
        scratch_dir dir;
        write_file(dir / c.name, c.bytes);
        const run_result run = run_lexaro_import({c.name, "out.txt"}, dir.path());
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_EQ(run.err, "lexaro-import: can't tell the format of " + c.name +
                               "; name it with --format (" + import::format_names() + ")\n")
            << c.what;
        EXPECT_EQ(dir.files(), std::vector<std::string>{c.name}) << c.what;
    }
    // Text stays text: a few control bytes, and UTF-16 without a mark once
    // its set is named.
    check_cases({
        {"a form feed and an escape", "in.txt", "T\na$b\f\nc$\x1B[1md\n", {},
         "T\na$b\nc$\x1B[1md\n"},
        {"UTF-16LE named, recognised", "in.txt", utf16(cyrillic_text, false),
         {"--input-charset", "UTF-16LE"}, cyrillic_expected},
    });
}

TEST(ImportInput, AnUnknownSetIsAnError) {
    scratch_dir dir;
    write_file(dir / "in.tab", "a\tb\n");
    const run_result run =
        run_lexaro_import({"--input-charset", "NO-SUCH-SET", "in.tab", "out.txt"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "lexaro-import: unknown character set NO-SUCH-SET\n");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"in.tab"});
}

}  // namespace
}  // namespace lexaro::test
