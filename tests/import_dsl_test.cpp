// lexaro-import on DSL dictionaries.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "common/charset.h"
#include "format_test_support.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

const std::string dsl_text =
    "#NAME \"English-Russian\"\n#INDEX_LANGUAGE \"English\"\n#CONTENTS_LANGUAGE \"Russian\"\n\n"
    "colo(u)r\n{the }colour\n"
    "\t[m1][trn]цвет[/trn][/m]\n"
    "\t[m1][ex][lang id=1033]a ~ TV[/lang][/ex][/m]\n"
    "\t[s]colour.wav[/s]{{a comment}}<<red>> \\[sic\\]\n"
    "\t@ colour bar\n\t[m1]цветная полоса[/m]\n\t@\n"
    "\t[m2][c darkgray]back[/c] [i]again[/i]\n\n"
    "go\n\t[p]v[/p] [b]идти[/b]\n";
const std::string dsl_expected =
    "English-Russian\n"
    "color$цвет; a colour TV; red [sic]; back again\n"
    "colour$цвет; a colour TV; red [sic]; back again\n"
    "colour bar$цветная полоса\n"
    "go$v идти\n";

std::string utf16le_with_mark(const std::string& utf8) {
    std::string out = "\xFF\xFE";  // characters of the BMP only
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::size_t length = 0;
        const char32_t c = next_character(utf8.substr(i), length);
        i += length;
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

TEST(ImportDsl, CardsGiveEveryHeadwordTheirText) {
    check_cases({
        {"UTF-8", "en-ru.dsl", dsl_text, {}, dsl_expected},
        {"UTF-8 with a mark", "en-ru.dsl", "\xEF\xBB\xBF" + dsl_text, {}, dsl_expected},
        {"UTF-16LE with a mark", "en-ru.dsl", utf16le_with_mark(dsl_text), {}, dsl_expected},
        {"dictzipped", "en-ru.dsl.dz", gzip_bytes(dsl_text), {}, dsl_expected},
        {"two optional parts, escapes, spaces", "x.dsl",
         "#NAME \"x\"\n(to )be(come)\n\tx\n\\(a\\)  \\{b\\}\n\ty\n",
         {},
         "x\n(a) {b}$y\nbe$x\nbecome$x\nto be$x\nto become$x\n"},
        {"headword lines in a row share a card", "x.dsl",
         "#NAME \"x\"\nred\nrot\n\trot\n", {}, "x\nred$rot\nrot$rot\n"},
    });
}

TEST(ImportDsl, DamageThatLosesEntriesStopsTheRun) {
    struct broken {
        std::string input;
        std::string message;
    };
    const broken cases[] = {
        {"#NAME \"x\"\n\torphan text\n",
         "lexaro-import: x.dsl: line 2: a card's text with no headword before it\n"},
        {"#NAME \"x\"\nbad\\\n\ttext\n",
         "lexaro-import: x.dsl: line 2: the '\\' at the end of the headword escapes nothing\n"},
    };
    for (const broken& c : cases) {
        scratch_dir dir;
        write_file(dir / "x.dsl", c.input);
        const run_result run = run_lexaro_import({"x.dsl", "out.txt"}, dir.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, c.message);
        EXPECT_EQ(dir.files(), std::vector<std::string>{"x.dsl"});
    }
}

TEST(ImportDsl, MarkupDamageIsCountedAndTheTextKept) {
    scratch_dir dir;
    write_file(dir / "x.dsl",
               "#NAME \"x\"\na\n\t[b]bold [zz]odd\nb\n\t{{never closed\nc\n\n(d\n\tx\n");
    const run_result run = run_lexaro_import({"x.dsl", "out.txt"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir / "out.txt"), "x\na$bold odd\nb$\nc$\nd$x\n");
    for (const char* line : {"  damaged markup:  1 unknown tags, the first in x.dsl line 3\n",
                             "  damaged markup:  1 unclosed tags, the first in x.dsl line 2\n",
                             "  damaged markup:  1 unclosed comments, the first in x.dsl line 5\n",
                             "  damaged markup:  1 cards with no text, the first in x.dsl line 6\n",
                             "  damaged markup:  1 unclosed brackets in headwords, the first in "
                             "x.dsl line 8\n"})
        EXPECT_NE(run.err.find(line), std::string::npos) << line << run.err;
}

}  // namespace
}  // namespace lexaro::test

namespace lexaro::test {
namespace {

// Headwords: how each form of a headword line becomes the words searched.
TEST(ImportDsl, HeadwordForms) {
    struct headword_case {
        const char* line;
        std::string words;  // the words written, one a line, in byte order
    };
    const headword_case cases[] = {
        {"colo(u)r", "color\ncolour\n"},
        {"{to }go", "go\n"},
        {"{[i]}bold{[/i]} word", "bold word\n"},
        {"a\\(b\\)c", "a(b)c\n"},
        {"x\\{y\\}", "x{y}\n"},
        {"  spaced   out  ", ""},  // indented: a body line, not a headword
        {"one  two", "one two\n"},
        {"a\x01" "b(c)", "ab\nabc\n"},  // control bytes dropped (a fuzzer's find)
        // Five optional parts at most (32 words); a sixth stays in every word.
        {"(a)(b)(c)(d)(e)(f)x",
         "abcdefx\nabcdfx\nabcefx\nabcfx\nabdefx\nabdfx\nabefx\nabfx\nacdefx\nacdfx\nacefx\n"
         "acfx\nadefx\nadfx\naefx\nafx\nbcdefx\nbcdfx\nbcefx\nbcfx\nbdefx\nbdfx\nbefx\nbfx\n"
         "cdefx\ncdfx\ncefx\ncfx\ndefx\ndfx\nefx\nfx\n"},
    };
    for (const headword_case& c : cases) {
        scratch_dir dir;
        write_file(dir / "x.dsl", std::string("#NAME \"x\"\nfirst\n\tt\n") + c.line + "\n\tt\n");
        const run_result run = run_lexaro_import({"x.dsl", "out.txt"}, dir.path());
        EXPECT_EQ(run.status, 0) << c.line << run.err;
        std::string words;
        const std::string out = read_file(dir / "out.txt");
        for (std::size_t line = out.find('\n') + 1; line < out.size(); line = out.find('\n', line) + 1) {
            const std::string word = out.substr(line, out.find('$', line) - line);
            if (word != "first") words += word + "\n";
        }
        EXPECT_EQ(words, c.words) << c.line;
    }
}

}  // namespace
}  // namespace lexaro::test

namespace lexaro::test {
namespace {

// Comments over several lines, empty sub-entries and empty lines: the text
// of each card is what its reader shows, and what gives no entry is counted.
TEST(ImportDsl, CommentsSubEntriesAndEmptyLines) {
    check_summaries({
        {"a comment over several lines ends where it closes", "x.dsl",
         "#NAME \"x\"\na\n\tone {{a comment\n\tgoing on\n\tthat ends}} two\n\tthree\n"
         "b\n\t{{\n\t@ not a sub-entry\n\t}}four\n",
         {},
         "x\na$one  two; three\nb$four\n",
         {}},
        {"a comment still open where the card ends", "x.dsl",
         "#NAME \"x\"\na\n\tone {{never\n\tclosed\nb\n\ttwo\n", {}, "x\na$one\nb$two\n",
         {"  damaged markup:  1 unclosed comments, the first in x.dsl line 3"}},
        {"an empty @ sub-entry", "x.dsl",
         "#NAME \"x\"\ncard\n\tmain\n\t@ a\n\t@ b\n\tbee\n\t@ c\n\t@\n\tmore\n", {},
         "x\nb$bee\ncard$main; more\n",
         {"  skipped:         2 @ sub-entries with no text, the first in x.dsl line 4"}},
        {"a line of escaped blanks is an empty line", "x.dsl",
         "#NAME \"x\"\na\n\tone\n\t\\ \n\ttwo\n\t\\ \\ \n\\ \nb\n\t\\\n\tthree \\\n", {},
         "x\na$one; two\nb$three \\\n", {}},
    });
}

// #INCLUDE reads the file it names beside the dictionary, where it stands.
TEST(ImportDsl, IncludedFilesAreReadWhereTheyStand) {
    scratch_dir dir;
    std::filesystem::create_directory(dir / "parts");
    write_file(dir / "main.dsl",
               "#NAME \"Main\"\n#INCLUDE \"parts/abbreviations.dsl\"\n\napple\n\tApfel\n"
               "#INCLUDE \"parts/more.dsl\"\nzebra\n\tZebra\n#INCLUDE \"main.dsl\"\n");
    write_file(dir / "parts/abbreviations.dsl", "#NAME \"Abbreviations\"\nabbr.\n\tabbreviation\n");
    // UTF-16, as Lingvo writes its files, and an include of its own.
    write_file(dir / "parts/more.dsl",
               utf16le_with_mark("bee\n\tBiene\n#INCLUDE \"abbreviations.dsl\"\n"
                                 "#INCLUDE \"deeper.dsl\"\ncat\n\tKatze\n"));
    write_file(dir / "parts/deeper.dsl", "\xEF\xBB\xBF" "dog\n\tHund\n");
    const run_result run = run_lexaro_import({"main.dsl", "out.txt"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir / "out.txt"),
              "Main\nabbr.$abbreviation\napple$Apfel\nbee$Biene\ncat$Katze\ndog$Hund\n"
              "zebra$Zebra\n");
    EXPECT_NE(run.err.find("  skipped:         2 #INCLUDE lines naming a file already read, "
                           "the first in parts/more.dsl line 3\n"),
              std::string::npos)
        << run.err;
}

TEST(ImportDsl, AnIncludeThatCannotBeReadStopsTheRun) {
    struct refused {
        std::string line;
        std::string message;  // after "lexaro-import: x.dsl: line 3: "
    };
    const refused cases[] = {
        {"#INCLUDE \"missing.dsl\"", "#INCLUDE \"missing.dsl\": missing.dsl does not exist"},
        {"#INCLUDE \"folder\"", "#INCLUDE \"folder\": folder is not a file"},
        {"#INCLUDE \"../x.dsl\"",
         "#INCLUDE \"../x.dsl\": only files in the including file's folder or below it are read"},
        {"#INCLUDE \"/etc/passwd\"",
         "#INCLUDE \"/etc/passwd\": only files in the including file's folder or below it are "
         "read"},
        {"#INCLUDE \"\"", "#INCLUDE \"\" names no file"},
        {"#INCLUDE \"broken.dsl\"", ""},  // the included file's own message
    };
    for (const refused& c : cases) {
        scratch_dir dir;
        std::filesystem::create_directory(dir / "folder");
        write_file(dir / "broken.dsl", "a\n\tb\n\torphan\\\nc\\\n");
        write_file(dir / "x.dsl", "#NAME \"x\"\na\n" + c.line + "\n\ttext\n");
        const run_result run = run_lexaro_import({"x.dsl", "out.txt"}, dir.path());
        EXPECT_EQ(run.status, 1) << c.line;
        if (c.message.empty())
            EXPECT_EQ(run.err, "lexaro-import: broken.dsl: line 4: the '\\' at the end of the "
                               "headword escapes nothing\n");
        else
            EXPECT_EQ(run.err, "lexaro-import: x.dsl: line 3: " + c.message + "\n") << c.line;
        EXPECT_FALSE(exists(dir / "out.txt")) << c.line;
    }
    // Read from standard input, a dictionary has no folder.
    scratch_dir dir;
    write_file(dir / "x.dsl", "#NAME \"x\"\n#INCLUDE \"more.dsl\"\n");
    write_file(dir / "more.dsl", "a\n\tb\n");
    const std::string command = "cd '" + dir.path() + "' && " + LEXARO_IMPORT_BINARY +
                                " --format=dsl - out.txt < x.dsl 2>err.txt";
    EXPECT_NE(std::system(command.c_str()), 0);
    EXPECT_EQ(read_file(dir / "err.txt"),
              "lexaro-import: -: line 2: #INCLUDE \"more.dsl\": a dictionary read from standard "
              "input has no folder to find it in\n");
    EXPECT_FALSE(exists(dir / "out.txt"));
}

}  // namespace
}  // namespace lexaro::test
