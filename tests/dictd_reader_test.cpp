// The dictd reader on dictionaries that Debian's dictfmt and dictzip made,
// on hand-made broken ones, and on FreeDict's Spanish-English when installed.
#include "import/formats/dictd_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>

#include "format_test_support.h"
#include "import/word_folding.h"
#include "import/unwrap.h"
#include "test_support.h"

namespace lexaro::import {
namespace {

using test::collected_entry;

struct dictfmt_case {
    const char* name;
    const char* options;  // dictfmt's, besides --utf8
    const char* source;   // what dictfmt reads
    const char* title;
    std::vector<collected_entry> entries;  // in the order the sink gets them
};

// FreeDict's layout: -t takes "_____" lines, a blank line and the headword,
// and copies the text below it, which repeats the headword.
const char* const freedict_style =
    "_____\n\nAbfalleimer\nAbfalleimer /ˈapfˌalaɪmɜ/ <masc, n, sg>\ntrash can <n> [Am.]\n"
    "_____\n\nAbb.\nAbbildung /ˈapbˌɪldʊŋ/ (Abb.) <fem, n, sg>\nfigure\n"
    "_____\n\nabfallen\nAbfallen /ˈapfˌalən/ <neut, n, sg>\ndecline\n"
    "_____\n\nabfallen\nabfallen /ˈapfˌalən/ <v, intr>\napostatize\n"
    "_____\n\nautumn;fall\nseason\n"
    "_____\n\nÄrger\nÄrger\nanger\n";

const dictfmt_case dictfmt_cases[] = {
    {"freedict style",
     "-t --headword-separator ';' -s 'Tiny German-English'",
     freedict_style,
     "Tiny German-English",
     {
         // In the order of the articles: the index lists "abb" first.
         {"Abfalleimer", "/ˈapfˌalaɪmɜ/ <masc, n, sg>\ntrash can <n> [Am.]\n"},
         // The key of an abbreviation leads to the full word, kept whole.
         {"abb", "Abbildung /ˈapbˌɪldʊŋ/ (Abb.) <fem, n, sg>\nfigure\n"},
         // One key, two articles: each reaches the sink, in the order written,
         // and their own headwords tell them apart.
         {"Abfallen", "/ˈapfˌalən/ <neut, n, sg>\ndecline\n"},
         {"abfallen", "/ˈapfˌalən/ <v, intr>\napostatize\n"},
         // Two keys share one article.
         {"autumn", "season\n"},
         {"fall", "season\n"},
         {"Ärger", "anger\n"},
     }},
    {"headwords on lines of their own, no name given",
     "-f",
     "Tiny English-French\nby nobody\napple\n  pomme <f>\n  fruit\nbank\n  banque <f>\n"
     "  rive <f>\n",
     "",
     {
         {"apple", " pomme <f>\n fruit\n"},
         {"bank", " banque <f>\n rive <f>\n"},
     }},
    {"every character indexed, original headwords in a fourth column",
     "-j --allchars --index-keep-orig -s '  The Jargon  '",
     "Header text\n:AT&T: a telephone company\n:foo bar: a placeholder\n  more text\n",
     "The Jargon",
     {
         {"AT&T", " a telephone company\n"},
         {"foo bar", " a placeholder\n  more text\n"},
     }},
};

class dictd_made_by_dictfmt : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::have_program("dictfmt") || !test::have_program("dictzip"))
            GTEST_SKIP() << "dictfmt or dictzip is not installed (make test installs them)";
    }

    // Makes NAME.index and NAME.dict from the case in the scratch folder.
    void make(const dictfmt_case& c, const std::string& name) {
        test::write_file(dir_ / "source.txt", c.source);
        ASSERT_TRUE(test::run_shell(dir_.path(), std::string("dictfmt --utf8 ") + c.options + " " +
                                                     name + " < source.txt"));
    }

    test::scratch_dir dir_;
};

TEST_F(dictd_made_by_dictfmt, HandsOnEachKeyWithItsArticle) {
    for (const dictfmt_case& c : dictfmt_cases) {
        SCOPED_TRACE(c.name);
        make(c, "plain");
        make(c, "packed");
        ASSERT_TRUE(test::dictzip(dir_ / "packed.dict"));
        std::remove((dir_ / "packed.dict").c_str());
        // Any of its files names a dictionary.
        for (const char* file : {"plain.index", "plain.dict", "packed.index", "packed.dict.dz"}) {
            SCOPED_TRACE(file);
            test::collecting_sink sink;
            EXPECT_EQ(read_dictd(dir_ / file, sink), c.title);
            EXPECT_EQ(sink.entries, c.entries);
        }
    }
}

TEST_F(dictd_made_by_dictfmt, OffsetsPastTheCompressedDataNameTheIndexLine) {
    make(dictfmt_cases[0], "words");
    const std::size_t data_size = test::read_file(dir_ / "words.dict").size();
    ASSERT_TRUE(test::dictzip(dir_ / "words.dict"));
    std::remove((dir_ / "words.dict").c_str());
    const std::string index = test::read_file(dir_ / "words.index");
    ASSERT_EQ(std::count(index.begin(), index.end(), '\n'), 12);
    test::write_file(dir_ / "words.index", index + "late\tCAAA\tB\n");  // offset 2^19
    test::collecting_sink sink;
    try {
        read_dictd(dir_ / "words.index", sink);
        FAIL();
    } catch (const import_error& e) {
        EXPECT_EQ(e.what(), dir_ / "words.index" + ": line 13: its article (1 bytes at 524288) " +
                                "runs past the end of " + dir_ / "words.dict.dz (" +
                                std::to_string(data_size) + " bytes)");
    }
    EXPECT_TRUE(sink.entries.empty());
}

// Broken dictionaries written by hand: each is reported with its file.
struct broken_case {
    const char* name;
    std::string index;    // written as x.index beside a 20-byte x.dict
    std::string message;  // after the scratch folder's path and "/"
};

TEST(DictdReader, BrokenIndexesAreReportedWithFileAndLine) {
    const broken_case cases[] = {
        {"missing length", "apple\tA\tF\npear\tF\n",
         "x.index: line 2: not word<TAB>offset<TAB>length"},
        {"no tab at all", "apple\n", "x.index: line 1: not word<TAB>offset<TAB>length"},
        {"bad digit", "apple\tA!\tF\n", "x.index: line 1: offset \"A!\" is not a dictd number"},
        {"empty length", "apple\tA\t\n", "x.index: line 1: length \"\" is not a dictd number"},
        {"past 64 bits", "apple\tA\tQAAAAAAAAAA\n",
         "x.index: line 1: length \"QAAAAAAAAAA\" is not a dictd number"},
        {"past the data", "\napple\tA\tU\npear\tP\tG\n",
         "x.index: line 3: its article (6 bytes at 15) runs past the end of "},
        {"past the data by its offset", "apple\tV\tA\n",
         "x.index: line 1: its article (0 bytes at 21) runs past the end of "},
    };
    for (const broken_case& c : cases) {
        SCOPED_TRACE(c.name);
        test::scratch_dir dir;
        test::write_file(dir / "x.index", c.index);
        test::write_file(dir / "x.dict", "apple\nfruit\npear\nbir");
        test::collecting_sink sink;
        try {
            read_dictd(dir / "x.index", sink);
            FAIL();
        } catch (const import_error& e) {
            EXPECT_EQ(std::string(e.what()).substr(0, dir.path().size() + 1 + c.message.size()),
                      dir / c.message);
        }
        EXPECT_TRUE(sink.entries.empty());
    }
}

TEST(DictdReader, FilesThatAreMissingOrMisnamed) {
    test::scratch_dir dir;
    test::write_file(dir / "only.index", "apple\tA\tF\n");
    test::write_file(dir / "nodict.dict", "apple\n");
    test::write_file(dir / "x.txt", "");
    const std::pair<std::string, std::string> cases[] = {
        {dir / "only.index", dir / "only.index: neither " + dir / "only.dict.dz nor " +
                                 dir / "only.dict lies beside it"},
        {dir / "nodict.dict", "can't open file " + dir / "nodict.index"},
        {dir / "x.txt", dir / "x.txt: a dictd dictionary is named X.index, X.dict or X.dict.dz"},
        {dir / "gone.dict.dz", "can't open file " + dir / "gone.dict.dz"},
    };
    for (const auto& [path, message] : cases) {
        test::collecting_sink sink;
        try {
            read_dictd(path, sink);
            FAIL() << path;
        } catch (const import_error& e) {
            EXPECT_EQ(e.what(), message);
        }
    }
}

TEST(DictdReader, DescriptionEntriesGiveTheTitleAndAreNotWords) {
    test::scratch_dir dir;
    test::write_file(dir / "x.dict",
                     "00-database-short\n  Short\n  Name\nthe info\nalpha\nfirst letter\n");
    // The short name at 0 (33 bytes), the info at 33 (9), alpha at 42 (19).
    test::write_file(dir / "x.index",
                     "00-database-info\th\tJ\r\n00databaseshort\tA\th\r\n00-database-utf8\tA\tB\r\n"
                     "00databasealphabet\tA\tB\r\nalpha\tq\tT\r\n");
    test::collecting_sink sink;
    EXPECT_EQ(read_dictd(dir / "x.index", sink), "Short Name");
    EXPECT_EQ(sink.entries, (std::vector<collected_entry>{{"alpha", "first letter\n"}}));
}

struct headword_case {
    const char* key;
    const char* article;
    const char* word;
    const char* definition;
};

// The word and what is left of an article once its headword is taken away.
TEST(DictdReader, HeadwordIsTakenOnlyWhenTheFirstLineBeginsWithTheKey) {
    const headword_case cases[] = {
        {"abfalleimer", "Abfalleimer /ˈapf/ <masc>\ntrash can\n", "Abfalleimer",
         "/ˈapf/ <masc>\ntrash can\n"},
        {"apfel", "Apfel\n apple\n", "Apfel", " apple\n"},
        {"apfel", "Apfel  \t\napple", "Apfel", "apple"},
        {"a", "A\r\nletter", "A", "letter"},
        {"apfel", "apfel", "apfel", ""},
        {"apfel", "", "apfel", ""},
        // Punctuation is left out of keys and kept in words; runs of white
        // space count as one.
        {"0815", "08/15- /nˈʊl/\nordinary", "08/15-", "/nˈʊl/\nordinary"},
        {" ab", "… ab /ˈap/\nexit", "… ab", "/ˈap/\nexit"},
        {"no del todo", "no ... del todo /p/\nnot at all", "no ... del todo", "/p/\nnot at all"},
        {"hace ", "hace ... /ˈaθe/\n...ago", "hace ...", "/ˈaθe/\n...ago"},
        {"10 prozent unter", "10 Prozent unter /ts/\nless", "10 Prozent unter", "/ts/\nless"},
        {"haus", "Haus… /hˈaʊs/ <adj>\ndomestic", "Haus…", "/hˈaʊs/ <adj>\ndomestic"},
        {"apfel", "Apfel - apple", "Apfel", "apple"},
        {"apfel", "Apfel.\napple", "Apfel.", "apple"},
        {"att", "AT&T\tcompany", "AT&T", "company"},
        {"at&t", ":AT&T: company", "AT&T", "company"},
        {"00databaseshort", "00-database-short\n     Title\n", "00-database-short",
         "     Title\n"},
        // Letters beyond ASCII, in either case.
        {"ärger", "Ärger\nanger", "Ärger", "anger"},
        {"łódź", "ŁÓDŹ /ˈwutɕ/", "ŁÓDŹ", "/ˈwutɕ/"},
        {"αθήνα", "Αθήνα\nAthens", "Αθήνα", "Athens"},
        {"москва", "Москва\nMoscow", "Москва", "Moscow"},
        {"việt", "VIỆT\nViet", "VIỆT", "Viet"},
        // A line of headwords that --headword-separator split: the key's goes,
        // with a headword line below it.
        {"autumn", "autumn;fall\nseason\n", "autumn", "season\n"},
        {"fall", "autumn; Fall \n season\n", "Fall", " season\n"},
        {"fall", "autumn;fall\nFall /fɔːl/ <n>\nseason", "fall", "/fɔːl/ <n>\nseason"},
        {"winter", "autumn;fall\nseason", "winter", "autumn;fall\nseason"},
        // GCIDE: a cross-reference in braces among parts cut by ';' is none.
        {"refectories", "Refectory \\Re*fec\"to*ry\\ n.; pl.; {Refectories}\nA room",
         "refectories", "Refectory \\Re*fec\"to*ry\\ n.; pl.; {Refectories}\nA room"},
        // Not the key: the key is the word and the article stays whole.
        {"abb", "Abbildung (Abb.) <fem>\nfigure", "abb", "Abbildung (Abb.) <fem>\nfigure"},
        {"apfel", "Apfelbaum\ntree", "apfel", "Apfelbaum\ntree"},
        {"apfel", "Apf el\napple", "apfel", "Apf el\napple"},
        {"apfel", "Apfel-baum\ntree", "apfel", "Apfel-baum\ntree"},
        {"apfelbaum", "Apfel\nbaum", "apfelbaum", "Apfel\nbaum"},
        {"apfel", "\nApfel", "apfel", "\nApfel"},
        {"ärger", "Ärgernis\nnuisance", "ärger", "Ärgernis\nnuisance"},
        {"a\xff", "A\xfe\nx", "a\xff", "A\xfe\nx"},
        {"a\xff", "A\xff\nx", "A\xff", "x"},
    };
    for (const headword_case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " / " + c.article);
        const headword_split split = split_headword(c.key, c.article);
        EXPECT_EQ(split.word, c.word);
        EXPECT_EQ(split.text, c.definition);
        if (std::string_view(c.word) != c.key) {
            EXPECT_TRUE(split.from_article);
        }
    }
}

// In an index of spellings, a key that the headword spells otherwise than in
// case is the word; the headword leaves the text all the same.
TEST(DictdReader, SpelledKeysStayWhereTheHeadwordSpellsThemOtherwise) {
    const headword_case cases[] = {
        {"email", "E-mail \\E-mail\\\nmail", "email", "\\E-mail\\\nmail"},
        {"Lineup", "Line-up \\Line\"-up`\\\nrow", "Lineup", "\\Line\"-up`\\\nrow"},
        {"e-mail", "E-mail\nmail", "E-mail", "mail"},
        {"FTP", "ftp \\ftp\\", "ftp", "\\ftp\\"},
        {"apfel", "Apfelbaum\ntree", "apfel", "Apfelbaum\ntree"},
    };
    for (const headword_case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " / " + c.article);
        const headword_split split = split_headword(c.key, c.article, true);
        EXPECT_EQ(split.word, c.word);
        EXPECT_EQ(split.text, c.definition);
    }
}

TEST(DictdReader, FreeDictSpanishEnglish) {
    const std::string base = "/usr/share/dictd/freedict-spa-eng";
    if (!test::exists(base + ".index")) GTEST_SKIP() << "dict-freedict-spa-eng is not installed";
    test::collecting_sink sink;
    EXPECT_EQ(read_dictd(base + ".dict.dz", sink),
              "Spanish-English FreeDict Dictionary ver. 0.3.1");

    std::multiset<std::string> keys;
    std::istringstream lines(test::read_file(base + ".index"));
    for (std::string line; std::getline(lines, line);) {
        const std::string key = line.substr(0, line.find('\t'));
        if (key.rfind("00database", 0) != 0) keys.insert(key);
    }
    std::multiset<std::string> words;
    for (const collected_entry& e : sink.entries) {
        words.insert(e.word);
        // Each article repeats its headword before the pronunciation.
        EXPECT_EQ(e.definition.substr(0, 1), "/") << e;
    }
    EXPECT_EQ(sink.entries.size(), 4502u);
    // The words are the articles' own headwords: folded, nearly all are the
    // index's keys (the others hold punctuation that keys leave out).
    std::size_t not_keys = 0, capitalised = 0;
    std::string folded;
    for (const std::string& word : words) {
        capitalised += lower_case(word, folded);
        not_keys += keys.count(folded) == 0;
    }
    EXPECT_LT(not_keys, 50u);
    EXPECT_GT(capitalised, 100u);
    const collected_entry aboard{"a bordo", "/a βˈoɾðo/\naboard\n"};
    EXPECT_NE(std::find(sink.entries.begin(), sink.entries.end(), aboard), sink.entries.end());
}

}  // namespace
}  // namespace lexaro::import

namespace lexaro::import {
namespace {

TEST(Unwrap, JoinsOnlyTheBreaksThatWrapALine) {
    struct unwrap_case {
        const char* what;
        std::string text;
        std::string expected;
    };
    // Width 20 throughout.
    const unwrap_case cases[] = {
        {"next word did not fit", "one two three four\nfive six", "one two three four five six"},
        {"next word would have fit", "one two\nthree", "one two\nthree"},
        {"blank line", "one two three four\n\nfive", "one two three four\n\nfive"},
        {"numbered sense", "one two three four\n2. five", "one two three four\n2. five"},
        {"WordNet sense", "one two three four\nv 2: five", "one two three four\nv 2: five"},
        {"structure word", "one two three four\nSynonyms: x", "one two three four\nSynonyms: x"},
        {"cross-reference", "one two three four\n [syn: {a}]", "one two three four\n [syn: {a}]"},
        {"less indented", "   one two three fo\n five", "   one two three fo\n five"},
        {"hanging indent", "1: one two three f\n   four five", "1: one two three f four five"},
        {"sentence carried on", "abcde fghij klmno,\nx y", "abcde fghij klmno, x y"},
        {"sentence ended", "abcde fghij klmno.\nX y", "abcde fghij klmno.\nX y"},
        {"CR LF and trailing blanks", "one two three four \r\nfive six", "one two three four five six"},
        {"characters, not bytes", "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\nabcdefghij",
         "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\nabcdefghij"},
        {"three lines", "aaaa bbbb cccc dddd\neeee ffff gggg hhhh\niiii", "aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii"},
        {"final line feed kept", "one\n", "one\n"},
        {"a comma before a word in lower case", "a short line,\nand more", "a short line, and more"},
        {"a comma before a capital", "a short line,\nAnd more", "a short line,\nAnd more"},
        {"a letter in brackets begins a word", "one two three four\n[ae]sthetic x",
         "one two three four [ae]sthetic x"},
        {"brackets of letters", "one two three four\n[alpha], [beta]",
         "one two three four [alpha], [beta]"},
        {"a note in brackets", "one two three four\n[1913 Webster]", "one two three four\n[1913 Webster]"},
        {"a note before text", "one two three four\n[Webster 1913] x",
         "one two three four\n[Webster 1913] x"},
        {"a label", "one two three four\n[also: x]", "one two three four\n[also: x]"},
        {"a decimal number is no sense", "one two three four\n88.9 five", "one two three four 88.9 five"},
        {"nor a year in brackets", "one two three four\n1862); five", "one two three four 1862); five"},
    };
    for (const unwrap_case& c : cases) {
        std::string out = ">";
        unwrap(c.text, 20, out);
        EXPECT_EQ(out, ">" + c.expected) << c.what;
    }
}

// A headword taken out of the first line leaves that line as long as it was.
TEST(Unwrap, TheFirstLineCountsWhatWasTakenFromIt) {
    struct taken_case {
        std::size_t taken;
        std::string expected;
    };
    const taken_case cases[] = {
        {0, "one two three\nFour five\nsix"},
        {2, "one two three\nFour five\nsix"},
        {5, "one two three Four five\nsix"},
    };
    for (const taken_case& c : cases) {
        std::string out;
        unwrap("one two three\nFour five\nsix", 20, out, c.taken);
        EXPECT_EQ(out, c.expected) << c.taken;
    }
}

TEST(Unwrap, FindsTheWidthOnlyInWrappedText) {
    struct width_case {
        const char* what;
        std::vector<std::size_t> lengths;  // of the lines, in characters
        unsigned width;
    };
    std::vector<std::size_t> wrapped, unwrapped, few;
    for (std::size_t i = 0; i < 300; ++i) {
        wrapped.push_back(i % 3 == 0 ? 20 + i % 17 : 61 + i % 8);  // 61..68, and short lines
        unwrapped.push_back(20 + (i * 37) % 400);
    }
    wrapped.push_back(75);  // one line past the width
    few.assign(wrapped.begin(), wrapped.begin() + 50);
    const width_case cases[] = {
        {"wrapped at 68", wrapped, 68},
        {"lines of every length", unwrapped, 0},
        {"too few lines to tell", few, 0},
    };
    for (const width_case& c : cases) {
        wrap_width_finder finder;
        std::string text;
        for (const std::size_t n : c.lengths) text += "  " + std::string(n - 2, 'x') + "\n";
        finder.add(text);
        EXPECT_EQ(finder.width(), c.width) << c.what;
    }
}

}  // namespace
}  // namespace lexaro::import
