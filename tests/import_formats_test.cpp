// lexaro-import end to end on the two binary formats: dictd files made by
// Debian's dictfmt and dictzip, StarDict files written here, and a real
// FreeDict dictionary from Debian through lexaro and lexaro-dump.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>

#include "common/big_endian.h"
#include "format_test_support.h"
#include "import/word_folding.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

const std::string dictd_expected =
    "Tiny dictd dictionary\n"
    "Aal$<masc, n, sg> Eel & co.\n"
    "aal$eel | snake fish\n"
    "aal blau$blue eel\n"
    "apple$A fruit, red or green.\n"
    "zebra$A striped horse.\n";

// Makes tiny.index and tiny.dict with dictfmt (keys kept in their case).
void make_dictd(const scratch_dir& dir) {
    write_file(dir / "tiny.src",
               "_____\n\nzebra\nA striped horse.\n"
               "_____\n\napple\n  A fruit,\n  red or green.\n"
               "_____\n\naal blau\nblue eel\n"
               "_____\n\naal\neel\n"
               "_____\n\nAal\n<masc, n, sg> Eel & co.\n"
               "_____\n\naal\nsnake fish\n");
    ASSERT_TRUE(run_shell(dir.path(),
                          "dictfmt -c5 --utf8 --case-sensitive --without-time -s 'Tiny dictd "
                          "dictionary' -u https://example.org tiny < tiny.src >/dev/null 2>&1"));
}

TEST(ImportDictd, FilesFromDictfmtAndDictzip) {
    if (!have_program("dictfmt") || !have_program("dictzip"))
        GTEST_SKIP() << "dictfmt and dictzip are not installed (make test installs them)";
    struct dictd_case {
        const char* what;
        bool compressed;
        std::string input;
    };
    const dictd_case cases[] = {
        {"index, dictzip", true, "tiny.index"},
        {"named by the .dict.dz", true, "tiny.dict.dz"},
        {"index, plain .dict", false, "tiny.index"},
        {"named by the .dict", false, "tiny.dict"},
    };
    for (const dictd_case& c : cases) {
        scratch_dir dir;
        make_dictd(dir);
        if (c.compressed) {
            ASSERT_TRUE(run_shell(dir.path(), "dictzip tiny.dict"));
        }
        const run_result run = run_lexaro_import({c.input, "out.txt"}, dir.path());
        EXPECT_EQ(run.status, 0) << c.what << ": " << run.err;
        EXPECT_EQ(read_file(dir / "out.txt"), dictd_expected) << c.what;
        EXPECT_NE(run.err.find(" (dictd)\n  entries read:    6\n  words written:   5\n"),
                  std::string::npos)
            << c.what << ": " << run.err;
    }
}

// A dictionary whose tool wrapped its articles at 40 characters: the lines
// that only wrap join, the senses stay apart.
TEST(ImportDictd, WrappedArticlesAreJoinedBackIntoSentences) {
    if (!have_program("dictfmt")) GTEST_SKIP() << "dictfmt is not installed (make test installs it)";
    const std::string sentence =
        "a state of steady vigorous action that is characteristic of an activity, as when the "
        "party went with a swing";
    std::string source = "Wrapped\nby nobody\n", expected = "Wrapped\n";
    for (int i = 10; i < 50; ++i) {
        // Greedy wrapping at 40, the sense number hanging.
        std::string body, line = "  1.";
        std::istringstream words(sentence);
        for (std::string word; words >> word;) {
            if (line.size() + 1 + word.size() > 40) {
                body += line + "\n";
                line = "    " + word;
            } else {
                line += " " + word;
            }
        }
        body += line + "\n  2. a short one\n";
        source += "w" + std::to_string(i) + "\n" + body;
        expected += "w" + std::to_string(i) + "$1. " + sentence + "; 2. a short one\n";
    }
    scratch_dir dir;
    write_file(dir / "wrapped.src", source);
    ASSERT_TRUE(run_shell(dir.path(), "dictfmt -f --utf8 -s Wrapped wrapped < wrapped.src"));
    const run_result run = run_lexaro_import({"wrapped.index", "out.txt"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir / "out.txt"), expected);
    EXPECT_NE(run.err.find("  wrapped lines:   120 line breaks that only wrapped a line joined "
                           "with a space, in 40 translations\n"),
              std::string::npos)
        << run.err;
}

// GCIDE's layout: the headword begins the article's first line and the rest
// hangs below it, wrapped at the same width. The first line's break joins as
// the others do, counted with the headword that stood on it.
TEST(ImportDictd, TheBreakAfterTheFirstLineJoinsAsTheOthersDo) {
    const std::string sentence =
        "n. [Of Low German origin; cf. G. -chen, LG. -- ken.] A diminutive suffix that is "
        "added to nouns; as, manikin; lambkin; the same as the Dutch and German";
    std::string data, index, expected = "x\n";
    for (int i = 10; i < 50; ++i) {
        // Greedy wrapping at 40 after the headword, the rest indented.
        const std::string word = "w" + std::to_string(i);
        std::string article, line = word + " \\" + word + "\\,";
        std::istringstream words(sentence);
        for (std::string next; words >> next;) {
            if (line.size() + 1 + next.size() > 40) {
                article += line + "\n";
                line = "   " + next;
            } else {
                line += " " + next;
            }
        }
        article += line + "\n   [1913 Webster]\n";
        index += word + "\t" + dictd_number(data.size()) + "\t" + dictd_number(article.size()) + "\n";
        data += article;
        expected += word + "$\\" + word + "\\, " + sentence + "; [1913 Webster]\n";
    }
    // A short first line that ends in a comma runs on too; verse stays as written.
    const std::string more[][2] = {
        {"bent", "Bent \\Bent\\,\n   imp. & p. p. of {Bend}.\n   [1913 Webster]\n"},
        {"verse", "Verse \\Verse\\, n.\n   A line.\n\n         As swift as a pellet,\n"
                  "         When fire is in the powder.\n"},
    };
    for (const auto& [key, article] : more) {
        index += key + "\t" + dictd_number(data.size()) + "\t" + dictd_number(article.size()) + "\n";
        data += article;
    }
    expected = "x\nBent$\\Bent\\, imp. & p. p. of {Bend}.; [1913 Webster]\n"
               "Verse$\\Verse\\, n.; A line.; As swift as a pellet, When fire is in the powder.\n" +
               expected.substr(2);
    scratch_dir dir;
    write_file(dir / "x.dict", data);
    write_file(dir / "x.index", index);
    // The same when the entries are decoded from another set on the way.
    for (const std::string charset : {"", "ISO-8859-1"}) {
        const run_result run = run_lexaro_import(
            charset.empty() ? std::vector<std::string>{"x.index", "out.txt"}
                            : std::vector<std::string>{"--input-charset", charset, "x.index", "out.txt"},
            dir.path());
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(read_file(dir / "out.txt"), expected) << charset;
    }
}

// GCIDE's index keeps spellings, capitals and hyphens included, several of
// them leading to one article: each spelling stays findable, where one that
// differs from the headword in case alone is the headword. An index of
// folded keys (dictfmt's default) gives the headword for every key.
TEST(ImportDictd, KeysThatAreSpellingsStayWords) {
    const std::string article = "E-mail \\E-mail\\, email \\email\\, e-mail\n   electronic mail.\n";
    const std::string other = "Aal \\Aal\\, n.\n   An eel.\n";
    const struct {
        const char* what;
        std::vector<std::string> keys;  // the first three lead to the article, the last to other
        std::string expected;
    } cases[] = {
        {"spellings", {"E-mail", "e-mail", "email", "Aal"},
         "x\nAal$\\Aal\\, n.; An eel.\n"
         "E-mail$\\E-mail\\, email \\email\\, e-mail; electronic mail.\n"
         "email$\\E-mail\\, email \\email\\, e-mail; electronic mail.\n"},
        {"folded keys", {"email", "email", "email", "aal"},
         "x\nAal$\\Aal\\, n.; An eel.\n"
         "E-mail$\\E-mail\\, email \\email\\, e-mail; electronic mail.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string index;
        for (std::size_t k = 0; k < 3; ++k)
            index += c.keys[k] + "\tA\t" + dictd_number(article.size()) + "\n";
        index += c.keys[3] + "\t" + dictd_number(article.size()) + "\t" +
                 dictd_number(other.size()) + "\n";
        scratch_dir dir;
        write_file(dir / "x.dict", article + other);
        write_file(dir / "x.index", index);
        const run_result run = run_lexaro_import({"x.index", "out.txt"}, dir.path());
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(read_file(dir / "out.txt"), c.expected);
    }
}

TEST(ImportDictd, NeverWritesOverAFileItReads) {
    if (!have_program("dictfmt") || !have_program("dictzip")) GTEST_SKIP();
    scratch_dir dir;
    make_dictd(dir);
    ASSERT_TRUE(run_shell(dir.path(), "dictzip tiny.dict"));
    const std::string data = read_file(dir / "tiny.dict.dz");
    const run_result run = run_lexaro_import({"tiny.index", "tiny.dict.dz"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "lexaro-import: tiny.dict.dz is the input file tiny.dict.dz; give another output\n");
    EXPECT_EQ(read_file(dir / "tiny.dict.dz"), data);
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"tiny.dict.dz", "tiny.index", "tiny.src"}));
}

// A StarDict dictionary of the given articles, with synonyms.
struct stardict_files {
    std::string ifo, idx, dict, syn;
};

stardict_files make_stardict(const std::string& type,
                             const std::vector<std::pair<std::string, std::string>>& articles,
                             const std::vector<std::pair<std::string, uint32_t>>& synonyms) {
    stardict_files f;
    for (const auto& [word, article] : articles) {
        uint8_t number[4];
        f.idx += word + '\0';
        put_u32(number, static_cast<uint32_t>(f.dict.size()));
        f.idx.append(reinterpret_cast<const char*>(number), 4);
        put_u32(number, static_cast<uint32_t>(article.size()));
        f.idx.append(reinterpret_cast<const char*>(number), 4);
        f.dict += article;
    }
    for (const auto& [word, index] : synonyms) {
        uint8_t number[4];
        put_u32(number, index);
        f.syn += word + '\0' + std::string(reinterpret_cast<const char*>(number), 4);
    }
    f.ifo = "StarDict's dict ifo file\nversion=2.4.2\nbookname=Tiny StarDict\nwordcount=" +
            std::to_string(articles.size()) + "\nidxfilesize=" + std::to_string(f.idx.size()) +
            (synonyms.empty() ? "" : "\nsynwordcount=" + std::to_string(synonyms.size())) +
            "\nsametypesequence=" + type + "\n";
    return f;
}

TEST(ImportStardict, WordsAndSynonymsWithTheirMarkupMadeText) {
    struct stardict_case {
        const char* what;
        std::string type;
        std::vector<std::pair<std::string, std::string>> articles;
        bool compressed;
        std::string input;
        std::string expected;
    };
    const std::vector<std::pair<std::string, std::string>> html = {
        {"Hund", "<b>dog</b><br>hound &amp; cur"}, {"Katze", "cat"}, {"aal", "eel <masc, n, sg>"}};
    // A grammar label is a tag in HTML: a browser shows none of it.
    const std::string html_expected =
        "Tiny StarDict\nHund$dog; hound & cur\nKatze$cat\nK\xC3\xB6ter$dog; hound & cur\n"
        "aal$eel\n";
    const std::vector<stardict_case> cases = {
        {"HTML, plain files, named by the .ifo", "h", html, false, "tiny.ifo", html_expected},
        {"HTML, .idx.gz and .dict.dz, named by the .idx.gz", "h", html, true, "tiny.idx.gz",
         html_expected},
        {"XDXF, named by the .dict",
         "x",
         {{"Hund", "<k>Hund</k>\n<tr>hunt</tr> <def>dog</def><def>hound</def>"},
          {"Katze", "<k>Katze</k> cat"},
          {"aal", "eel"}},
         false,
         "tiny.dict",
         "Tiny StarDict\nHund$[hunt]; dog; hound\nKatze$cat\nK\xC3\xB6ter$[hunt]; dog; "
         "hound\naal$eel\n"},
        {"plain text with line breaks",
         "m",
         {{"Hund", "dog\nhound"}, {"Katze", " cat "}, {"aal", "<b>eel</b>"}},
         false,
         "tiny.ifo",
         "Tiny StarDict\nHund$dog; hound\nKatze$cat\nK\xC3\xB6ter$dog; hound\naal$<b>eel</b>\n"},
    };
    for (const stardict_case& c : cases) {
        scratch_dir dir;
        const stardict_files f = make_stardict(c.type, c.articles, {{"K\xC3\xB6ter", 0}});
        write_file(dir / "tiny.ifo", f.ifo);
        write_file(dir / "tiny.syn", f.syn);
        write_file(dir / "tiny.dict", f.dict);
        if (c.compressed) {
            write_file(dir / "tiny.idx.gz", gzip_bytes(f.idx));
            ASSERT_TRUE(dictzip(dir / "tiny.dict"));
            ASSERT_EQ(std::remove((dir / "tiny.dict").c_str()), 0);
        } else {
            write_file(dir / "tiny.idx", f.idx);
        }
        const run_result run = run_lexaro_import({c.input, "out.txt"}, dir.path());
        EXPECT_EQ(run.status, 0) << c.what << ": " << run.err;
        EXPECT_EQ(read_file(dir / "out.txt"), c.expected) << c.what;
    }
}

// The keys of a dictd index as lexaro-import writes them as words: without
// the 00-database entries and empty keys, trimmed ("hace " is one), '$' as
// U+FF04.
std::set<std::string> index_keys(const std::string& index) {
    std::set<std::string> keys;
    std::ifstream in(index);
    for (std::string line; std::getline(in, line);) {
        std::string key = line.substr(0, line.find('\t'));
        if (key.rfind("00database", 0) == 0 || key.rfind("00-database-", 0) == 0) continue;
        key.erase(0, key.find_first_not_of(' '));
        key.erase(key.find_last_not_of(' ') + 1);
        if (key.empty()) continue;
        for (std::size_t at = key.find('$'); at != std::string::npos; at = key.find('$', at))
            key.replace(at, 1, "\xEF\xBC\x84");
        keys.insert(key);
    }
    return keys;
}

TEST(ImportFreeDict, SpanishEnglishFromDebianIsFoundWordForWord) {
    const std::string index = "/usr/share/dictd/freedict-spa-eng.index";
    if (!exists(index) || !exists("/usr/share/dictd/freedict-spa-eng.dict.dz"))
        GTEST_SKIP() << "dict-freedict-spa-eng is not installed (make test installs it)";
    scratch_dir dir;
    const run_result imported = run_lexaro_import({index, "spa-eng.txt"}, dir.path());
    ASSERT_EQ(imported.status, 0) << imported.err;
    const run_result compiled = run_lexaro({"spa-eng.txt", "500"}, dir.path());
    ASSERT_EQ(compiled.status, 0) << compiled.out.substr(compiled.out.size() - 200);

    const run_result check = run_lexaro_dump({"--check", "spa-eng.pdb"}, dir.path());
    ASSERT_EQ(check.status, 0) << check.err;
    EXPECT_NE(check.out.find("order:         ascending byte order\nduplicates:    none\n"),
              std::string::npos)
        << check.out;

    // Every key of the index is a word of the database, and no other.
    const run_result text = run_lexaro_dump({"--text", "spa-eng.pdb"}, dir.path());
    ASSERT_EQ(text.status, 0);
    std::vector<std::string> words;
    std::size_t line = text.out.find('\n') + 1;
    while (line < text.out.size()) {
        const std::size_t end = text.out.find('\n', line);
        words.push_back(text.out.substr(line, text.out.find('$', line) - line));
        line = end + 1;
    }
    // The words are the articles' own headwords: folded to lower case, they
    // are the index's keys but for the few whose punctuation keys leave out.
    const std::set<std::string> keys = index_keys(index);
    EXPECT_GT(keys.size(), 4000u);
    std::set<std::string> folded_words;
    std::string folded;
    for (const std::string& word : words) {
        import::lower_case(word, folded);
        folded_words.insert(folded);
    }
    std::size_t missing = 0;
    for (const std::string& key : keys) missing += folded_words.count(key) == 0;
    EXPECT_LT(missing, keys.size() / 100);
    EXPECT_GE(words.size(), keys.size());

    // The reader finds them through the block keys: every 40th key, and the
    // first and last word of every block.
    std::vector<std::string> sample;
    for (std::size_t i = 0; i < words.size(); i += 40) sample.push_back(words[i]);
    for (std::size_t i = 0; i < words.size(); i += 500) {
        sample.push_back(words[i]);
        sample.push_back(words[std::min(i + 499, words.size() - 1)]);
    }
    for (const std::string& word : sample) {
        const run_result found = run_lexaro_dump({"--lookup", word, "spa-eng.pdb"}, dir.path());
        EXPECT_EQ(found.status, 0) << word << ": " << found.err;
    }
}

}  // namespace
}  // namespace lexaro::test
