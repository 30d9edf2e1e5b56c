// The handheld's character set and case: conversion before the sort and the
// merge, transliteration, and --fold-case.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/charset.h"
#include "format_test_support.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

using namespace std::string_literals;

TEST(ImportCharset, EncodesExactlyElseTransliteratesElseReplaces) {
    struct encoding {
        const char* set;
        std::string utf8;
        std::string expected;
        uint64_t transliterated, replaced;
    };
    const encoding cases[] = {
        {"CP1252", "caf\xC3\xA9 \xE2\x80\xA6", "caf\xE9 \x85", 0, 0},
        {"CP1250", "\xC5\x82\xC3\xB3" "d\xC5\xBA", "\xB3\xF3" "d\x9F", 0, 0},
        {"CP1251", "\xD0\xB4\xD0\xBE\xD0\xBC", "\xE4\xEE\xEC", 0, 0},
        {"SHIFT_JIS", "\xE6\x97\xA5\xE6\x9C\xAC", "\x93\xFA\x96\x7B", 0, 0},
        {"ASCII", "caf\xC3\xA9 \xE2\x80\x9Ex\xE2\x80\x9C", "cafe \"x\"", 3, 0},
        {"ASCII", "\xC3\x86r\xC3\xB8 \xE2\x80\x93 \xC5\x93uvre", "AEro - oeuvre", 4, 0},
        {"ISO-8859-1", "\xE2\x80\xA6 \xE2\x82\xAC", "... EUR", 2, 0},
        {"CP1250", "\xC3\xA0 la", "a la", 1, 0},  // CP1250 has no a with grave
        {"CP1252", "\xE6\x97\xA5\xE6\x9C\xAC", "??", 0, 2},
        {"CP1252", "a\xFF" "b\xC3", "a?b?", 0, 2},
        {"CP1252", "$\xEF\xBC\x84", "$?", 0, 1},
        // Palm Latin: suits where CP1252 has gaps, no Z and z with caron.
        {"PALM-LATIN", "\xC5\xBDi\xC5\xBE" "ek \xE2\x99\xA3 \xE2\x80\xBA",
         "Zizek \x8E >", 3, 0},
        {"palmos", "\xE2\x82\xAC \xE2\x99\xA6\xE2\x99\xA5\xE2\x99\xA0", "\x80 \x8D\x8F\x90", 0, 0},
        {"Palm_Latin", "\xC2\x81 \xC2\x9D", "? ?", 0, 2},  // not the handheld's glyphs there
        // Composed first, not counted; a mark with no place left out, counted.
        {"CP1252", "cafe\xCC\x81", "caf\xE9", 0, 0},
        {"ISO-8859-1", "cafe\xCC\x81", "caf\xE9", 0, 0},
        {"CP1251", "\xD0\xBC\xD0\xBE\xD0\xBB\xD0\xBE\xD0\xBA\xD0\xBE\xCC\x81",
         "\xEC\xEE\xEB\xEE\xEA\xEE", 1, 0},
        {"ASCII", "x\xCC\x81\xCC\xA3", "x", 2, 0},
        // Compatibility forms where the set lacks the character.
        {"CP1252", "ab\xE1\xB5\x92\xCA\xB3 \xEF\xAC\x81 \xE2\x91\xA0 \xEF\xBC\xA8\xEF\xBD\x81\xEF\xBD\x95\xEF\xBD\x93",
         "abor fi 1 Haus", 8, 0},
        {"ASCII", "\xEF\xAC\x81\xE2\x84\x96", "fiNo", 2, 0},
        // The characters of CP932 and CP936 at their bytes of Shift_JIS and GB2312.
        {"SHIFT_JIS", "\xEF\xBD\x9E\xE2\x88\xA5\xEF\xBC\x8D", "\x81\x60\x81\x61\x81\x7C", 0, 0},
        {"GB2312", "\xE2\x80\x94\xC2\xB7", "\xA1\xAA\xA1\xA4", 0, 0},
    };
    for (const encoding& c : cases) {
        std::string problem;
        auto encoder = charset_encoder::open(c.set, problem);
        ASSERT_TRUE(encoder) << c.set << ": " << problem;
        std::string out = "x";
        encoder->encode(c.utf8, out);
        EXPECT_EQ(out, "x" + c.expected) << c.set << " " << c.utf8;
        EXPECT_EQ(encoder->transliterated(), c.transliterated) << c.set << " " << c.utf8;
        EXPECT_EQ(encoder->replaced(), c.replaced) << c.set << " " << c.utf8;
    }
}

// A word written with combining marks is the word the set holds composed,
// in every set, never left out; one in its compatibility form likewise.
TEST(ImportCharset, DecomposedWordsAndCompatibilityFormsAreWritten) {
    check_summaries({
        {"CP1252", "in.txt", "T\ncafe\xCC\x81$caf\xC3\xA9\n", {"--charset", "CP1252"},
         "T\ncaf\xE9$caf\xE9\n",
         {"  dropped:         0 with no word, 0 too large for a block",
          "  charset:         CP1252: 0 characters transliterated, 0 written as '?'"}},
        {"CP1250", "in.txt", "T\nz\xCC\x8Clut\xCC\x8Cou\xC4\x8Dky\xCC\x81$yellow\n",
         {"--charset", "CP1250"}, "T\n\x9Elu\x9Dou\xE8k\xFD$yellow\n", {}},
        {"CP1258", "in.txt", "T\nVie\xCC\xA3\xCC\x82t$Vietnamese\n", {"--charset", "CP1258"},
         "T\nVi\xEA\xF2t$Vietnamese\n", {}},
        {"CP1253", "in.txt", "T\n\xCE\xB1\xCC\x81\xCE\xBB\xCF\x86\xCE\xB1$alpha\n",
         {"--charset", "CP1253"}, "T\n\xDC\xEB\xF6\xE1$alpha\n", {}},
        {"Shift_JIS", "in.txt", "T\n\xE3\x83\x8F\xE3\x82\x9A\xE3\x83\xB3$bread\n",
         {"--charset", "SHIFT_JIS"}, "T\n\x83\x70\x83\x93$bread\n", {}},
        {"a stress mark left out, counted", "in.txt",
         "T\n\xD0\xBC\xD0\xBE\xD0\xBB\xD0\xBE\xD0\xBA\xD0\xBE\xCC\x81$milk\n",
         {"--charset", "CP1251"}, "T\n\xEC\xEE\xEB\xEE\xEA\xEE$milk\n",
         {"  dropped:         0 with no word, 0 too large for a block",
          "  charset:         CP1251: 1 characters transliterated, 0 written as '?', in the "
          "entries of \"\xD0\xBC\xD0\xBE\xD0\xBB\xD0\xBE\xD0\xBA\xD0\xBE\xCC\x81\""}},
        {"compatibility forms in words", "in.txt",
         "T\n\xEF\xAC\x81sh$fish\n\xE2\x91\xA0$one\n\xEF\xBC\xA8\xEF\xBD\x81\xEF\xBD\x95\xEF\xBD\x93$house\n"
         "\xEF\xBC\x84$dollar\n",
         {"--charset", "PALM-LATIN"}, "T\n1$one\nHaus$house\nfish$fish\n",
         {"  dropped:         0 with no word, 0 too large for a block, 1 that PALM-LATIN cannot write",
          "  charset:         PALM-LATIN: 6 characters transliterated, 0 written as '?', in the "
          "entries of \"\xEF\xAC\x81sh\", \"\xE2\x91\xA0\", \"\xEF\xBC\xA8\xEF\xBD\x81\xEF\xBD\x95\xEF\xBD\x93\""}},
    });
}

// Palm Latin both ways: written by lexaro-import, read back by lexaro-dump
// and by --input-charset, and found as typed in UTF-8.
TEST(ImportCharset, PalmLatinIsWrittenReadAndFound) {
    scratch_dir dir;
    write_file(dir / "in.txt", "Card games\n\xC5\xBDi\xC5\xBE" "ek$philosopher\n"
                               "tr\xC3\xA8" "fle$\xE2\x99\xA3 clubs\n"
                               "c\xC5\x93ur$\xE2\x99\xA5 hearts \xE2\x82\xAC\n");
    const run_result run = run_lexaro_import({"--charset", "palmos", "in.txt", "p.pdb"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    const run_result text = run_lexaro_dump({"--text", "--charset", "PALM-LATIN", "p.pdb"}, dir.path());
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, "Card games\nZizek$philosopher\n"
                        "c\xC5\x93ur$\xE2\x99\xA5 hearts \xE2\x82\xAC\n"
                        "tr\xC3\xA8" "fle$\xE2\x99\xA3 clubs\n")
        << text.err;
    for (const auto& [typed, shown] : {std::pair{"\xC5\xBDi\xC5\xBE" "ek", "philosopher\n"},
                                       {"tr\xC3\xA8" "fle", "\xE2\x99\xA3 clubs\n"}}) {
        const run_result found = run_lexaro_dump({"--lookup", typed, "--charset=palmos", "p.pdb"}, dir.path());
        EXPECT_EQ(found.status, 0) << typed << ": " << found.err;
        EXPECT_EQ(found.out, shown) << typed;
    }
    // The bytes the handheld shows as glyphs of its own are no characters.
    write_file(dir / "palm.txt", "T\na\x81\x8D$\x9B\x9D\x9E\xE9\n");
    const run_result read =
        run_lexaro_import({"--input-charset", "PALM-LATIN", "palm.txt", "out.txt"}, dir.path());
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read_file(dir / "out.txt"),
              "T\na\xEF\xBF\xBD\xE2\x99\xA6$\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xC3\xA9\n");
    EXPECT_NE(read.err.find("  input:           read as PALM-LATIN, 4 bytes that are no character of it "
                            "read as U+FFFD\n"),
              std::string::npos)
        << read.err;
}

TEST(ImportCharset, SortsAndMergesTheBytesTheHandheldCompares) {
    check_cases({
        // UTF-8 puts a-ogonek (C4 85) before z-caron (C5 BE); CP1250 puts
        // z-caron (9E) before a-ogonek (B9).
        {"CP1250 order", "in.txt",
         "T\n\xC4\x85$a\n\xC5\xBE$z\nb$b\n",
         {"--charset", "CP1250"},
         "T\nb$b\n\x9E$z\n\xB9$a\n"},
        // Words that become equal merge like any repeated word.
        {"merged after transliteration", "in.txt",
         "T\ncaf\xC3\xA9$coffee\ncafe$cafe\nna\xC3\xAFve$naive\n",
         {"--charset", "ASCII"},
         "T\ncafe$coffee | cafe\nnaive$naive\n"},
        {"title converted", "in.txt", "Fran\xC3\xA7" "ais\nx$y\n", {"--charset", "CP1252"},
         "Fran\xE7" "ais\nx$y\n"},
        {"fold-case keeps the spelling", "in.txt",
         "T\nAPPORTER$to bring\napporter$bring\n\xC3\x84rger$anger\nSTRA\xC3\x9F" "E$street\n",
         {"--fold-case"},
         "T\napporter$APPORTER: to bring | apporter: bring\nstra\xC3\x9F" "e$STRA\xC3\x9F" "E: street\n"
         "\xC3\xA4rger$\xC3\x84rger: anger\n"},
        {"fold-case before the charset", "in.txt", "T\n\xC3\x84RGER$x\n",
         {"--fold-case", "--charset=CP1252"},
         "T\n\xE4rger$\xC4RGER: x\n"},
    });
}

// A title longer than lexaro keeps is cut before a whole character of the
// handheld's set: Shift_JIS writes each of these kanji in two bytes.
TEST(ImportCharset, ALongTitleIsCutBetweenCharactersOfTheSet) {
    std::string title;
    for (int i = 0; i < 200; ++i) title += "\xE6\x97\xA5";  // 日, 93 FA in Shift_JIS
    scratch_dir dir;
    write_file(dir / "in.txt", "x" + title + "\na$b\n");
    const run_result run = run_lexaro_import({"--charset", "SHIFT_JIS", "in.txt", "out.txt"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    std::string expected = "x";
    for (int i = 0; i < 127; ++i) expected += "\x93\xFA";
    EXPECT_EQ(read_file(dir / "out.txt"), expected + "\na$b\n");
    EXPECT_NE(run.err.find("lexaro-import: warning: the title takes 401 bytes and lexaro keeps 256; "
                           "cut to 255\n"),
              std::string::npos)
        << run.err;
}

TEST(ImportCharset, SummaryNamesTheWordsThatChanged) {
    struct summary_case {
        std::vector<std::string> options;
        std::string input;
        std::string line;
    };
    const summary_case cases[] = {
        {{"--charset", "ASCII"},
         "T\n\xC3\xA9t\xC3\xA9$summer\nb$\xE6\x97\xA5\na$b\nc\xC3\xA9$x\nd\xC3\xA9$y\n",
         "  charset:         ASCII: 4 characters transliterated, 1 written as '?', in the entries of "
         "\"\xC3\xA9t\xC3\xA9\", \"b\", \"c\xC3\xA9\", ...\n"},
        {{"--fold-case"}, "T\nA$x\nb$y\nC$z\n", "  case:            2 words folded to lower case\n"},
    };
    for (const summary_case& c : cases) {
        scratch_dir dir;
        write_file(dir / "in.txt", c.input);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"in.txt", "out.txt"});
        const run_result run = run_lexaro_import(args, dir.path());
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.err.find(c.line), std::string::npos) << run.err;
    }
}

TEST(ImportCharset, DebianDictionaryInCp1252IsSoundAndFoundFromUtf8) {
    const std::string index = "/usr/share/dictd/freedict-spa-eng.index";
    if (!exists(index)) GTEST_SKIP() << "dict-freedict-spa-eng is not installed (make test installs it)";
    scratch_dir dir;
    const run_result imported =
        run_lexaro_import({"--charset", "CP1252", index, "spa.txt"}, dir.path());
    ASSERT_EQ(imported.status, 0) << imported.err;
    ASSERT_EQ(run_lexaro({"spa.txt", "500"}, dir.path()).status, 0);
    const run_result check = run_lexaro_dump({"--check", "spa.pdb"}, dir.path());
    ASSERT_EQ(check.status, 0) << check.err;
    EXPECT_NE(check.out.find("order:         ascending byte order\nduplicates:    none\n"),
              std::string::npos)
        << check.out;

    // The words shown back in UTF-8 are found when typed in UTF-8: every
    // 40th, and every one that is not ASCII.
    const run_result text =
        run_lexaro_dump({"--text", "--charset", "CP1252", "spa.pdb"}, dir.path());
    ASSERT_EQ(text.status, 0);
    std::vector<std::string> sample;
    std::size_t line = text.out.find('\n') + 1, n = 0;
    while (line < text.out.size()) {
        const std::string word = text.out.substr(line, text.out.find('$', line) - line);
        const bool ascii = std::all_of(word.begin(), word.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (n++ % 40 == 0 || !ascii) sample.push_back(word);
        line = text.out.find('\n', line) + 1;
    }
    EXPECT_GT(sample.size(), 200u);
    for (const std::string& word : sample) {
        const run_result found =
            run_lexaro_dump({"--lookup", word, "--charset=CP1252", "spa.pdb"}, dir.path());
        EXPECT_EQ(found.status, 0) << word << ": " << found.err;
    }
    const run_result missing =
        run_lexaro_dump({"--lookup", "\xC3\xA9xyz", "--charset", "CP1252", "spa.pdb"}, dir.path());
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "lexaro-dump: \xC3\xA9xyz: not found\n");
    const run_result unknown =
        run_lexaro_dump({"--lookup", "a", "--charset", "NO-SUCH-SET", "spa.pdb"}, dir.path());
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err.substr(0, unknown.err.find('\n')),
              "lexaro-dump: unknown character set NO-SUCH-SET");
}

}  // namespace
}  // namespace lexaro::test
