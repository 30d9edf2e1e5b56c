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

TEST(ImportCsv, AQuoteThatNeverClosesStopsTheRun) {
    scratch_dir dir;
    write_file(dir / "x.csv", "a,b\nc,\"open\nd,e\nf,g\n");
    const run_result run = run_lexaro_import({"x.csv", "out.txt"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "lexaro-import: x.csv: line 2: the quote opened here does not close\n");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"x.csv"});
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
