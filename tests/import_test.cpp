// lexaro-import end to end: the built binary run in a scratch folder on
// small dictionaries of each format, the exact source it writes, its
// summary and its errors.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

#include "format_test_support.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

using namespace std::string_literals;

TEST(ImportTab, WritesSortedMergedSources) {
    check_cases({
        {"PyGlossary header, escapes, HTML, byte order",
         "glossary.txt",
         "##name\tTiny Glossary\n##author\tSomeone\n"
         "zebra\tstriped horse\n"
         "apple\tfruit\\nred or green\n"
         "Apple\t<b>Company</b> &amp; brand\n"
         "tab\tone\\ttwo\\\\three\n"
         "no tab on this line\n"
         "aal blau\tblue eel\n"
         "aal\teel\n",
         {},
         "Tiny Glossary\n"
         "Apple$Company & brand\n"
         "aal$eel\n"
         "aal blau$blue eel\n"
         "apple$fruit; red or green\n"
         "tab$one\ttwo\\three\n"
         "zebra$striped horse\n"},
        {"header with a space, CR LF, <br>, numeric entities, labels, merged repeats",
         "g.tab",
         "##name My Dict\r\n"
         "b\tsecond\r\n"
         "a\tfirst<br>line &#233;t&#xE9; <masc, n, sg>\r\n"
         "c\t<masc, n, sg> &amp x\r\n"
         "b\tsecond\r\n"
         "b\tanother\r\n",
         {},
         "My Dict\n"
         "a$first; line \xC3\xA9t\xC3\xA9\n"  // HTML: the label is a tag
         "b$second | another\n"
         "c$<masc, n, sg> &amp x\n"},  // no tag HTML knows: plain text
        {"--newline, --join, --title",
         "g.txt",
         "##name Ignored\nw\tone\\ntwo\nw\tthree\n",
         {"--newline", " / ", "--join= + ", "--title=Given title"},
         "Given title\nw$one / two + three\n"},
        {"no name: the file's name is the title", "my-words.tab", "a\tb\n", {}, "my-words\na$b\n"},
    });
}

TEST(ImportTrans, EachGermanAlternativeIsAWord) {
    check_cases({
        {"parts, alternatives, annotations, merged words",
         "de-en",
         "# Version :: test 1\n"
         "# Copyright :: nobody\n"
         "Aal {m} (auf der Speisekarte) [cook.] | Aal blau; blauer Aal :: Eel (on a menu) | "
         "Eel au bleu; Eel steamed\n"
         "Hund {m}; K\xC3\xB6ter {m} [pej.] | Hunde {pl} :: dog; cur | dogs\n"
         "Hund {m} (Sternbild) :: Canis (constellation)\n"
         "(sich) aalen <aalen> :: to laze\n"
         "Zahl {f} (a; b) | Zahlen {pl} :: number :: extra | numbers\n"
         "Foo | Foos :: foo\n"
         "(nur Anmerkung) :: note\n"
         "d\xC3\xBCnne Folie {f} (St\xC3\xA4rke < 0,25 mm); Plastikfolie {f} :: plastic film\n",
         {},
         "de-en test 1\n"
         "Aal$Eel (on a menu)\n"
         "Aal blau$Eel au bleu; Eel steamed\n"
         "Foo$foo\n"
         "Foos$foo\n"
         "Hund$dog; cur | Canis (constellation)\n"
         "Hunde$dogs\n"
         "K\xC3\xB6ter$dog; cur\n"
         "Plastikfolie$plastic film\n"
         "Zahl$number :: extra\n"
         "Zahlen$numbers\n"
         "aalen$to laze\n"
         "blauer Aal$Eel au bleu; Eel steamed\n"
         "d\xC3\xBCnne Folie$plastic film\n"},
        {"$ in a word, named format, no version",
         "prices.txt",
         "5 $ {pl} :: five dollars\n",
         {"--format=trans"},
         "prices.txt\n5 \xEF\xBC\x84$five dollars\n"},
    });
}

TEST(ImportLexaro, SortsAndMergesAnExistingSource) {
    const std::string source =
        "My Title\r\n"
        "zebra$Zebra\r\n"
        "aal blau$blue eel\n"
        "\n"
        "aal$eel$with dollar\n"
        "aal$eel$with dollar\n"
        "aal$second\n"
        "b$x\x1A"
        "ignored$y\n"
        "c$never\n";
    check_cases({
        {"title first, aal blau after aal, 0x1A ends it",
         "src.txt",
         source,
         {},
         "My Title\n"
         "aal$eel$with dollar | second\n"
         "aal blau$blue eel\n"
         "b$x\n"
         "zebra$Zebra\n"},
        {"--keep-duplicates keeps every entry in input order",
         "src.txt",
         source,
         {"--keep-duplicates"},
         "My Title\n"
         "aal$eel$with dollar\n"
         "aal$eel$with dollar\n"
         "aal$second\n"
         "aal blau$blue eel\n"
         "b$x\n"
         "zebra$Zebra\n"},
        {"a last line without a line feed", "src.txt", "T\nb$2\na$1", {}, "T\na$1\nb$2\n"},
        {"a title alone, named format",
         "empty.txt",
         "Only a title\n",
         {"--format", "lexaro"},
         "Only a title\n"},
    });
}

TEST(ImportCharset, ConvertsAndCountsWhatTheSetLacks) {
    scratch_dir dir;
    write_file(dir / "in.txt",
               "Caf\xC3\xA9 \xE2\x82\xAC\nw$caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC\n");
    const run_result run =
        run_lexaro_import({"--charset", "CP1252", "in.txt", "out.txt"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir / "out.txt"), "Caf\xE9 \x80\nw$caf\xE9 ??\n");
    EXPECT_NE(run.err.find("  charset:         CP1252: 0 characters transliterated, 2 written as "
                           "'?', in the entries of \"w\"\n"),
              std::string::npos)
        << run.err;

    struct refused {
        const char* charset;
        std::string message;
    };
    const std::string no_ascii =
        " does not keep ASCII as it is, so a source line could break inside a character; use a "
        "set of one or two bytes a character, such as CP1252, CP1250, CP1251, KOI8-R, Shift_JIS, "
        "Big5 or GB2312";
    for (const refused& r :
         {refused{"NO-SUCH-SET", "unknown character set NO-SUCH-SET"},
          refused{"UTF-16", "character set UTF-16" + no_ascii},
          refused{"UTF-32BE", "character set UTF-32BE" + no_ascii},
          refused{"UTF-7", "character set UTF-7" + no_ascii},
          refused{"ISO-2022-JP", "character set ISO-2022-JP" + no_ascii}}) {
        const run_result bad = run_lexaro_import(
            {"--charset=" + std::string(r.charset), "in.txt", "x.txt"}, dir.path());
        EXPECT_EQ(bad.status, 2);
        EXPECT_EQ(bad.err, "lexaro-import: "s + r.message +
                               "\nusage: lexaro-import [options] INPUT... OUTPUT.pdb|OUTPUT.txt\n");
        EXPECT_FALSE(exists(dir / "x.txt"));
    }
}

TEST(ImportSummary, ReportsEveryCountAndTheLargestWordsPerBlock) {
    scratch_dir dir;
    write_file(dir / "in.tab",
               "##name T\n"
               "b\tone\\ntwo \n"
               "a$\t<i>x</i>&amp;y\n"
               "b\tthree\n"
               "b\tone\\ntwo\n"
               " \tno word\n"
               "c\xFF\tbad\n"
               "d   e\tf\n");
    const run_result run = run_lexaro_import({"in.tab", "out.txt"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir / "out.txt"), "T\na\xEF\xBC\x84$x&y\nb$one; two | three\nc\xFF$bad\nd e$f\n");
    EXPECT_EQ(run.err,
              "lexaro-import: wrote out.txt from in.tab (tab)\n"
              "  entries read:    7\n"
              "  words written:   4\n"
              "  merged:          2 entries into the word before them, 1 repeated translations "
              "left out\n"
              "  dropped:         1 with no word, 0 too large for a block\n"
              "  clean-up:        2 line breaks, 2 tags, 1 entities, 1 trimmed, 0 zero or 0x1A "
              "bytes, 1 '$' in words, 1 words with runs of white space\n"
              "  invalid UTF-8:   1 entries, the first \"c\\xFF\"; name the input's character set with --input-charset\n"
              "  charset:         UTF-8 kept; the handheld shows one 8-bit set: name it with "
              "--charset (PALM-LATIN Western, CP1250 Central European, CP1251 Cyrillic, Shift_JIS "
              "Japanese, Big5 or GB2312 Chinese)\n"
              "  words_per_block: 10000 is the largest with which every block fits in 1000000 "
              "bytes\n");
}

TEST(ImportSummary, WarnsWhenNoWordsPerBlockFitsAndAboutLongTitles) {
    scratch_dir dir;
    // 101 entries of 10,001 bytes each: 100 of them take 1,000,100 bytes.
    std::string source = std::string(300, 't') + "\n";
    for (int i = 0; i < 101; ++i) {
        const std::string word = "w" + std::to_string(1000 + i);
        source += word + "$" + std::string(10000 - word.size() - 1, 'x') + "\n";
    }
    write_file(dir / "in.txt", source);
    const run_result run = run_lexaro_import({"in.txt", "out.txt"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir / "out.txt").substr(0, 257), std::string(256, 't') + "\n");
    EXPECT_NE(run.err.find("lexaro-import: warning: the title takes 300 bytes and lexaro keeps "
                           "256; cut to 256\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("lexaro-import: warning: no words_per_block from 100 to 10000 fits: "
                           "with 100, entries 1 to 100 (lines 2 to 101 of out.txt) take 1000100 "
                           "bytes, more than a block's 1000000; lexaro cannot compile this "
                           "source\n"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("  words_per_block: none fits\n"), std::string::npos) << run.err;
}

TEST(ImportErrors, NameTheFileAndLeaveNothingBehind) {
    struct error_case {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const std::string usage = "usage: lexaro-import [options] INPUT... OUTPUT.pdb|OUTPUT.txt\n";
    // clang-format off
    const std::vector<error_case> cases = {
        {"missing input", {"missing.txt", "out.txt"}, 1,
         "lexaro-import: can't open file missing.txt: No such file or directory\n"},
        {"missing input, named format", {"--format=tab", "missing.txt", "out.txt"}, 1,
         "lexaro-import: can't open file missing.txt: No such file or directory\n"},
        {"output in a missing folder", {"in.txt", "no/such/out.txt"}, 1,
         "lexaro-import: can't create file no/such/out.txt: No such file or directory\n"},
        {"output is a folder", {"in.txt", "folder"}, 1,
         "lexaro-import: can't create file folder: Is a directory\n"},
        {"output is the input", {"in.txt", "in.txt"}, 1,
         "lexaro-import: in.txt is the input file in.txt; give another output\n"},
        {"output is the input by another name", {"in.txt", "./folder/../in.txt"}, 1,
         "lexaro-import: ./folder/../in.txt is the input file in.txt; give another output\n"},
        {"output is a link to the input", {"in.txt", "link.txt"}, 1,
         "lexaro-import: link.txt is the input file in.txt; give another output\n"},
        {"format cannot be told", {"prose.txt", "out.txt"}, 1,
         "lexaro-import: can't tell the format of prose.txt; name it with --format (stardict, "
         "dictd, babylon, mdict, yomitan, dsl, xdxf, tei, jmdict, wiktextract, edict, cedict, "
         "dictcc, tab, trans, lexaro or csv)\n"},
        {"empty input", {"empty.txt", "out.txt"}, 1, "lexaro-import: empty.txt is empty\n"},
        {"a source line without $", {"--format=lexaro", "prose.txt", "out.txt"}, 1,
         "lexaro-import: prose.txt: line 2 has no '$' between word and translation\n"},
        {"input is a folder", {"--format=tab", "folder", "out.txt"}, 1,
         "lexaro-import: can't open file folder: Is a directory\n"},
        {"usage", {"in.txt"}, 2, "lexaro-import: give an input and an output file\n" + usage},
    };
    // clang-format on
    for (const error_case& c : cases) {
        scratch_dir dir;
        const std::string input = "T\na$b\n";
        write_file(dir / "in.txt", input);
        write_file(dir / "prose.txt", "Once upon a time\nthere was\n");
        write_file(dir / "empty.txt", "");
        mkdir((dir / "folder").c_str(), 0755);
        ASSERT_EQ(symlink("in.txt", (dir / "link.txt").c_str()), 0);
        const auto before = dir.files();
        const run_result run = run_lexaro_import(c.args, dir.path());
        EXPECT_EQ(run.status, c.status) << c.what;
        EXPECT_EQ(run.err, c.message) << c.what;
        EXPECT_EQ(run.out, "") << c.what;
        EXPECT_EQ(dir.files(), before) << c.what;
        EXPECT_EQ(read_file(dir / "in.txt"), input) << c.what;
    }
}

TEST(ImportOutput, StandardOutputAndAnOldFileReplacedWhole) {
    scratch_dir dir;
    write_file(dir / "in.txt", "T\nb$2\na$1\n");
    const run_result to_stdout = run_lexaro_import({"in.txt", "-"}, dir.path());
    EXPECT_EQ(to_stdout.status, 0) << to_stdout.err;
    EXPECT_EQ(to_stdout.out, "T\na$1\nb$2\n");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"in.txt"});

    write_file(dir / "out.txt", "old contents");
    const run_result replaced = run_lexaro_import({"in.txt", "out.txt"}, dir.path());
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_EQ(read_file(dir / "out.txt"), "T\na$1\nb$2\n");

    const run_result help = run_lexaro_import({"--help"}, dir.path());
    EXPECT_EQ(help.status, 0);
    const std::string usage = "usage: lexaro-import [options] INPUT... OUTPUT.pdb|OUTPUT.txt\n";
    EXPECT_EQ(help.out.substr(0, usage.size()), usage);
    EXPECT_EQ(help.err, "");
}

TEST(ImportOutput, AFullDiskFailsTheRunAndLeavesNoFile) {
    scratch_dir dir;
    std::string source = "T\n";
    for (int i = 0; i < 20000; ++i) source += "word" + std::to_string(i) + "$translation\n";
    write_file(dir / "in.txt", source);
    run_options limited;
    limited.file_size_limit = 100000;
    const run_result run =
        run_program_with(LEXARO_IMPORT_BINARY, {"in.txt", "out.txt"}, dir.path(), limited);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "lexaro-import: can't write file out.txt: File too large\n");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"in.txt"});

    // Killed by the limit's signal part way: the hidden file goes too.
    limited.limit_kills = true;
    const run_result killed =
        run_program_with(LEXARO_IMPORT_BINARY, {"in.txt", "out.txt"}, dir.path(), limited);
    EXPECT_EQ(killed.status, 128 + SIGXFSZ);
    EXPECT_EQ(dir.files(), std::vector<std::string>{"in.txt"});
}

TEST(ImportOutput, CompilesAndEveryWordIsFound) {
    scratch_dir dir;
    // Unsorted, repeated, and with the words whose order a line sort gets wrong.
    write_file(dir / "in.tab",
               "zz\tlast\naal blau\tblue\naal\teel\naal\tfish\nAal\tcap\naal-\tdash\n");
    ASSERT_EQ(run_lexaro_import({"in.tab", "dict.txt"}, dir.path()).status, 0);
    const run_result compiled = run_lexaro({"dict.txt", "100"}, dir.path());
    ASSERT_EQ(compiled.status, 0) << compiled.out;
    const run_result check = run_lexaro_dump({"dict.pdb"}, dir.path());
    EXPECT_NE(check.out.find("order:         ascending byte order\nduplicates:    none\n"),
              std::string::npos)
        << check.out;
    for (const auto& [word, translation] :
         std::vector<std::pair<std::string, std::string>>{{"Aal", "cap\n"},
                                                          {"aal", "eel | fish\n"},
                                                          {"aal blau", "blue\n"},
                                                          {"aal-", "dash\n"},
                                                          {"zz", "last\n"}}) {
        const run_result found = run_lexaro_dump({"--lookup", word, "dict.pdb"}, dir.path());
        EXPECT_EQ(found.status, 0) << word;
        EXPECT_EQ(found.out, translation) << word;
    }
}

}  // namespace
}  // namespace lexaro::test
