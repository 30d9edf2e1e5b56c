// lexaro-import on CSV files and dict.cc exports.
#include <gtest/gtest.h>

#include "format_test_support.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

TEST(ImportCsv, FieldsAsRfc4180QuotesThem) {
    check_cases({
        {"commas, a header row, quotes", "words.csv",
         "word,translation\napple,\"red, or green\"\n\"say \"\"hi\"\"\",greet,,wave\n", {},
         "words\napple$red, or green\nsay \"hi\"$greet; wave\n"},
        {"a line break inside quotes, CR LF", "words.csv",
         "multi,\"line one\r\nline two\"\r\nnext,x\r\n", {},
         "words\nmulti$line one; line two\nnext$x\n"},
        {"semicolons, commas in the text", "words.csv",
         "Haus;house, home\nBaum;tree\nessen;to eat, dine, sup\n", {},
         "words\nBaum$tree\nHaus$house, home\nessen$to eat, dine, sup\n"},
        {"tabs", "words.csv", "Term\tMeaning\nb\tsecond; with ; and ,\na\tfirst\n", {},
         "words\na$first\nb$second; with ; and ,\n"},
        {"no header: a first row that names nothing", "words.csv", "word,wort\nhouse,Haus\n", {},
         "words\nhouse$Haus\nword$wort\n"},
        {"named on standard input's behalf", "list", "a,b\n", {"--format", "csv"}, "list\na$b\n"},
    });
}

// Rows cut short (a word whose translation is still missing) do not hide
// the separator: the one that gives the other rows one shape is taken.
TEST(ImportCsv, RowsCutShortKeepTheSeparator) {
    check_cases({
        {"semicolons, a word without its translation", "words.csv",
         "word;translation\nHaus;house\nKatze;cat\nGeld\n", {},
         "words\nGeld$\nHaus$house\nKatze$cat\n"},
        {"tabs, commas in the text, a short row", "words.csv",
         "Haus\thouse, home\nKatze\tcat\nGeld\nBaum\ttree\n", {},
         "words\nBaum$tree\nGeld$\nHaus$house, home\nKatze$cat\n"},
        {"three columns, one row of two", "words.csv", "a;1;x\nb;2\nc;3;z\n", {},
         "words\na$1; x\nb$2\nc$3; z\n"},
        {"a separator on the first line alone is none", "words.csv",
         "one; two\nthree\nfour\n", {}, "words\nfour$\none; two$\nthree$\n"},
        {"a row with more fields than the first: commas stay the guess", "words.csv",
         "a;b\nc;d;e\nf\n", {}, "words\na;b$\nc;d;e$\nf$\n"},
    });
}

TEST(ImportCsv, AQuoteThatNeverClosesStopsTheRun) {
    scratch_dir dir;
    write_file(dir / "x.csv", "a,b\nc,\"open\nd,e\nf,g\n");
    const run_result run = run_lexaro_import({"x.csv", "out.txt"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "lexaro-import: x.csv: line 2: the quote opened here does not close\n");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"x.csv"});
}

// CSV as PyGlossary and spreadsheets write it: info rows, HTML definitions,
// line breaks written as "\n".
TEST(ImportCsv, InfoRowsHtmlAndEscapedLineBreaks) {
    check_summaries({
        {"info rows give the title", "words.csv",
         "\"#name\",\"My Words\"\n\"#description\",\"a list\"\n#version,1\napple,Apfel\n", {},
         "My Words\napple$Apfel\n", {}},
        {"a '#' row after the first entry is an entry", "words.csv", "a,b\n#tag,c\n", {},
         "words\n#tag$c\na$b\n", {}},
        {"HTML tags and character references", "words.csv",
         "apple,\"<div class=\"\"pos\"\">n.</div><b>Apfel</b> &amp; Birne\"\nless,1 < 2\n", {},
         "words\napple$n.; Apfel & Birne\nless$1 < 2\n", {}},
        {"line breaks written as \\n", "words.csv", "a,one\\ntwo\nb,\"x\\n\\ny\",z\n", {},
         "words\na$one; two\nb$x; y; z\n",
         {"  line breaks:     3 written as the two characters \\n, read as line breaks"}},
        {"real line breaks in quotes: \\n is text", "words.csv",
         "a,\"one\ntwo\"\nb,C:\\new\n", {}, "words\na$one; two\nb$C:\\new\n", {}},
    });
}

// A word list of many columns, and --columns to pick the translation's.
TEST(ImportCsv, ColumnsPickedByNameOrNumber) {
    const std::string list =
        "word,phonetic,definition,translation,pos,frq\n"
        "apple,\u02C8\u00E6pl,n. a fruit,n. Apfel\\nApfelbaum,,2446\n";
    const std::string described =
        "  columns:         the translation from 2 (phonetic), 4 (translation); the word from 1 "
        "(word)";
    check_summaries({
        {"every column but the word", "list.csv", list, {},
         "list\napple$\u02C8\u00E6pl; n. a fruit; n. Apfel; Apfelbaum; 2446\n",
         {"  columns:         the translation from 2 (phonetic), 3 (definition), 4 (translation), "
          "5 (pos), 6 (frq); the word from 1 (word); --columns picks others"}},
        {"by name", "list.csv", list, {"--columns", "phonetic,translation"},
         "list\napple$\u02C8\u00E6pl; n. Apfel; Apfelbaum\n", {described}},
        {"by name, any case, spaces around", "list.csv", list, {"--columns= Phonetic , TRANSLATION"},
         "list\napple$\u02C8\u00E6pl; n. Apfel; Apfelbaum\n", {described}},
        {"by number", "list.csv", list, {"--columns=2,4"},
         "list\napple$\u02C8\u00E6pl; n. Apfel; Apfelbaum\n", {described}},
        {"in another order", "list.csv", list, {"--columns=translation,6"},
         "list\napple$n. Apfel; Apfelbaum; 2446\n",
         {"  columns:         the translation from 4 (translation), 6 (frq); the word from 1 (word)"}},
        {"names make the first row a header", "list.csv", "Wort,Bedeutung,Lautung\nHaus,house,ha\u028As\n",
         {"--columns", "Bedeutung"}, "list\nHaus$house\n",
         {"  columns:         the translation from 2 (Bedeutung); the word from 1 (Wort)"}},
        {"numbers in a file without a header", "list.csv", "Haus,house,ha\u028As\n", {"--columns", "3"},
         "list\nHaus$ha\u028As\n", {"  columns:         the translation from 3; the word from 1"}},
    });
}

TEST(ImportCsv, ColumnsThatCannotBePickedStopTheRun) {
    struct refused {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const refused cases[] = {
        {{"--columns", "sound", "list.csv"}, 1,
         "lexaro-import: list.csv: --columns names \"sound\", which the first row (word, "
         "translation) does not name\n"},
        {{"--columns", "translation", "plain.csv"}, 1,
         "lexaro-import: plain.csv: --columns names \"translation\", which the first row (a, b) "
         "does not name\n"},
        {{"--columns", "2", "d.tab"}, 2,
         "lexaro-import: --columns picks the columns of a CSV file; d.tab is read as tab\n"
         "usage: lexaro-import [options] INPUT... OUTPUT.pdb|OUTPUT.txt\n"},
        {{"--columns=", "list.csv"}, 2,
         "lexaro-import: option --columns needs a value\n"
         "usage: lexaro-import [options] INPUT... OUTPUT.pdb|OUTPUT.txt\n"},
    };
    for (const refused& c : cases) {
        scratch_dir dir;
        write_file(dir / "list.csv", "word,translation\na,b\n");
        write_file(dir / "plain.csv", "a,b\n");
        write_file(dir / "d.tab", "a\tb\n");
        std::vector<std::string> args = c.args;
        args.push_back("out.txt");
        const run_result run = run_lexaro_import(args, dir.path());
        EXPECT_EQ(run.status, c.status) << c.args[0];
        EXPECT_EQ(run.err, c.message);
        EXPECT_FALSE(exists(dir / "out.txt"));
    }
}

TEST(ImportDictcc, WordsWithoutTheirAnnotations) {
    check_cases({
        {"a dict.cc export", "dictcc.txt",
         "# dict.cc German-English vocabulary database\n# Date: 2026-12-01\n\n"
         "Haus {n}\thouse\tnoun\t[archi.]\n"
         "essen [ugs.]\tto eat\tverb\t\n"
         "ABC-Waffen {pl} <ABC-W.>\tNBC weapons\tnoun\t[mil.]\n"
         "Haus {n}\thome\tnoun\t\n",
         {},
         "dict.cc German-English vocabulary database\n"
         "ABC-Waffen$NBC weapons {pl} <ABC-W.> (noun) [mil.]\n"
         "Haus$house {n} (noun) [archi.] | home {n} (noun)\n"
         "essen$to eat [ugs.] (verb)\n"},
    });
    scratch_dir dir;
    write_file(dir / "x.txt", "# dict.cc export\nHaus {n}\n");
    const run_result run = run_lexaro_import({"--format", "dictcc", "x.txt", "out.txt"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "lexaro-import: x.txt: line 2: not a dict.cc line "
                       "\"word<TAB>translation<TAB>class<TAB>subjects\"\n");
}

}  // namespace
}  // namespace lexaro::test
