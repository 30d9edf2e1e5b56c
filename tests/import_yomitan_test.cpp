// lexaro-import on Yomitan dictionaries in zip archives that the tests write:
// the entries that term and kanji rows make, structured content as text,
// what the summary counts, and the archives it refuses, damaged and hostile
// ones among them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "format_test_support.h"
#include "import/formats/readers.h"
#include "test_support.h"
#include "zip_writer.h"

namespace lexaro::test {
namespace {

using namespace std::string_literals;
using entries = std::vector<std::pair<std::string, std::string>>;

const std::string index3 = R"({"title": "Test", "revision": "1", "format": 3})";
const std::string sequenced3 =
    R"({"title": "Test", "revision": "1", "format": 3, "sequenced": true})";

// A dictionary: index.json, then the files given, deflated.
std::string dictionary(const std::string& index, const entries& files) {
    std::vector<zip_member> members{{"index.json", index}};
    for (const auto& [name, json] : files) members.push_back({name, json});
    return write_zip(members).bytes;
}

// Keeps the entries and what the reader tells the summary.
class recording_sink : public collecting_sink {
public:
    void skipped(std::string_view reason, const std::string& file, uint64_t) override {
        said.push_back("skipped " + std::string(reason) + " at " + file);
    }
    void damaged(std::string_view kind, const std::string& file, uint64_t) override {
        said.push_back("damaged " + std::string(kind) + " at " + file);
    }
    void note(std::string_view topic, std::string_view text) override {
        said.push_back(std::string(topic) + ": " + std::string(text));
    }
    void too_large(std::string_view word, uint64_t bytes) override {
        said.push_back("too large " + std::string(word) + " " + std::to_string(bytes));
    }
    std::vector<std::string> said;
};

// The reader's entries, as (word, text) in the order it gives them.
entries read_zip(const std::string& bytes, recording_sink& sink, std::string* title = nullptr) {
    scratch_dir dir;
    write_file(dir / "d.zip", bytes);
    const std::string path = dir / "d.zip";
    import::reader_options options;
    import::reader_input input{path, nullptr, options};
    const std::string read_title = import::read_yomitan(input, sink);
    if (title != nullptr) *title = read_title;
    entries found;
    for (const collected_entry& e : sink.entries) {
        EXPECT_EQ(e.kind, import::markup::plain);
        found.emplace_back(e.word, e.definition);
    }
    for (std::string& said : sink.said) {
        const std::size_t at = said.find(path);
        if (at != std::string::npos) said.replace(at, path.size(), "d.zip");
    }
    return found;
}

TEST(ImportYomitan, TermRowsMakeEntriesUnderExpressionAndReading) {
    struct layout_case {
        const char* what;
        std::string index;
        std::string bank;
        entries expected;
    };
    // clang-format off
    const layout_case cases[] = {
        {"a reading that differs is a word too, each shown under the other", index3,
         R"([["犬", "いぬ", "n", "", 0, ["dog", "hound"], 1, "P"]])",
         {{"犬", "いぬ [P]\n(n) dog; hound"}, {"いぬ", "犬 [P]\n(n) dog; hound"}}},
        {"an empty reading, or the expression itself, is no second word", index3,
         R"([["ok", "", "", "", 0, ["fine"], 0, ""], ["はい", "はい", "int", "", 0, ["yes"], 0, ""]])",
         {{"ok", "fine"}, {"はい", "(int) yes"}}},
        {"rows of one term are numbered, the best score first; term tags once", index3,
         R"([["打つ", "うつ", "vt", "v5", 1, ["utsu 3", "utsu 4"], 3, "P E2"],
             ["打つ", "うつ", "vt", "v5", 10, ["utsu 1", "utsu 2"], 3, "P E1"]])",
         {{"打つ", "うつ [P, E1, E2]\n1. (vt) utsu 1; utsu 2\n2. (vt) utsu 3; utsu 4"},
          {"うつ", "打つ [P, E1, E2]\n1. (vt) utsu 1; utsu 2\n2. (vt) utsu 3; utsu 4"}}},
        {"sequenced: rows of different sequences are different entries", sequenced3,
         R"([["a", "", "", "", 0, ["one"], 1, ""], ["a", "", "", "", 0, ["two"], 2, ""],
             ["a", "", "", "", 0, ["three"], 1, ""]])",
         {{"a", "1. one\n2. three"}, {"a", "two"}}},
        {"not sequenced: the sequence numbers do not part rows", index3,
         R"([["a", "", "", "", 0, ["one"], 1, ""], ["a", "", "", "", 0, ["two"], 2, ""]])",
         {{"a", "1. one\n2. two"}}},
        {"entries in the order of their best score, then of the file", index3,
         R"([["自重", "じじゅう", "n", "", 3, ["dead weight"], 0, ""],
             ["自重", "じちょう", "n", "", 5, ["self-respect"], 0, ""],
             ["b", "", "", "", 3, ["bee"], 0, ""]])",
         {{"自重", "じちょう\n(n) self-respect"}, {"じちょう", "自重\n(n) self-respect"},
          {"自重", "じじゅう\n(n) dead weight"}, {"じじゅう", "自重\n(n) dead weight"},
          {"b", "bee"}}},
        {"an item of several lines puts every item on lines of its own", index3,
         R"([["w", "", "v", "", 0, ["a\nb", "c"], 0, ""], ["w", "", "", "", 0, ["d", "e"], 0, ""]])",
         {{"w", "1. (v)\na\nb\nc\n2. d; e"}}},
        {"tags: null is none, several are listed", index3,
         R"([["w", "", null, "", 0, ["x"], 0, null], ["v", "", "v5  vt", "", 0, ["y"], 0, "P  ★"]])",
         {{"w", "x"}, {"v", "[P, ★]\n(v5, vt) y"}}},
        {"text items; pictures left out, a row of nothing else skipped", index3,
         R"([["w", "", "", "", 0, [{"type": "text", "text": "t"}, {"type": "image", "path": "a.png"}], 0, ""],
             ["p", "", "", "", 0, [{"type": "image", "path": "b.png"}, ""], 0, ""]])",
         {{"w", "t"}}},
        {"inflected forms point to their lemma", index3,
         R"([["infl2", "", "", "", 0, [["term2", ["first cause", "second cause"]]], 0, ""],
             ["went", "", "", "", 0, [["go", []]], 0, ""]])",
         {{"infl2", "→ term2 (first cause « second cause)"}, {"went", "→ go"}}},
        {"JSON escapes", index3,
         R"([["caf\u00e9", "", "", "", 0, ["a\/b \"q\" \ud834\udd1e \ud800 tab\tend"], 0, ""]])",
         {{"café", "a/b \"q\" 𝄞 \xEF\xBF\xBD tab end"}}},
        {"format 1: the definitions after the fifth element",
         R"({"title": "Old", "revision": "1", "version": 1})",
         R"([["w", "r", "n", "", 0, "one", "two"], ["x", "", "", "", 0]])",
         {{"w", "r\n(n) one; two"}, {"r", "w\n(n) one; two"}}},
        {"format 2 is read as 3; a format that is no number, by its version",
         R"({"title": "T", "revision": "1", "format": "3", "version": 2})",
         R"([["w", "", "", "", 0, ["x"], 0, ""]])", {{"w", "x"}}},
    };
    // clang-format on
    for (const layout_case& c : cases) {
        SCOPED_TRACE(c.what);
        recording_sink sink;
        EXPECT_EQ(read_zip(dictionary(c.index, {{"term_bank_1.json", c.bank}}), sink), c.expected);
    }
}

TEST(ImportYomitan, StructuredContentAsTheDictionarysReadersShowIt) {
    struct content_case {
        const char* what;
        std::string content;  // the structured content's JSON
        std::string expected;
        std::vector<std::string> said = {};
    };
    const auto li = [](const std::string& content) {
        return R"({"tag": "li", "content": )" + content + "}";
    };
    const std::string noun = R"({"tag": "span", "data": {"code": "n"}, "content": "noun"})";
    const std::string kana = R"({"tag": "span", "data": {"code": "uk"}, "content": "kana"})";
    // clang-format off
    const content_case cases[] = {
        {"runs of white space one, lines trimmed, empty lines dropped",
         R"("  a  \t b \n\n  c \r\n")", "a b\nc"},
        {"br", R"(["a", {"tag": "br"}, {"tag": "br"}, "b"])", "a\nb"},
        {"blocks on lines of their own, spans inline",
         R"(["a", {"tag": "div", "content": "b"}, "c", {"tag": "span", "content": "d"}, "e"])",
         "a\nb\ncde"},
        {"badges side by side are words; spans without data are not",
         "[" + noun + ", " + kana + R"(, {"tag": "span", "content": "x"}, {"tag": "span", "content": "y"}])",
         "noun kanaxy"},
        {"an ordered list numbered", R"({"tag": "ol", "content": [)" + li("\"a\"") + ", " + li("\"b\"") + "]}",
         "1. a\n2. b"},
        {"an unordered list", R"({"tag": "ul", "content": [)" + li("\"a\"") + ", " + li("\"b\"") + "]}",
         "- a\n- b"},
        {"a list in a list item", R"({"tag": "ol", "content": [)" +
         li(R"(["a", {"tag": "ul", "content": )" + li("\"x\"") + "}]") + ", " + li("\"b\"") + "]}",
         "1. a\n- x\n2. b"},
        {"the first block in an item stays on its marker's line",
         R"({"tag": "ol", "content": )" + li(R"([{"tag": "div", "content": "a"}, {"tag": "div", "content": "b"}])") + "}",
         "1. a\nb"},
        {"a list marked as glossary runs on",
         R"({"tag": "ul", "data": {"content": "glossary"}, "content": [)" + li("\"a\"") + ", " + li("\"b\"") + "]}",
         "a; b"},
        {"an item outside any list", li("\"a\""), "- a"},
        {"ruby as base(reading), rp left out",
         R"j(["そ", {"tag": "ruby", "content": ["漢", {"tag": "rp", "content": "("}, {"tag": "rt", "content": "かん"}, {"tag": "rp", "content": ")"}]}, "の"])j",
         "そ漢(かん)の"},
        {"ruby per character, and several bases in one",
         R"([{"tag": "ruby", "content": ["内", {"tag": "rt", "content": "ない"}]}, {"tag": "ruby", "content": ["容", {"tag": "rt", "content": "よう"}, "器", {"tag": "rt", "content": "き"}]}])",
         "内(ない)容(よう)器(き)"},
        {"rt outside ruby", R"({"tag": "rt", "content": "x"})", "(x)"},
        {"a table a row a line, its cells joined",
         R"({"tag": "table", "content": [{"tag": "thead", "content": {"tag": "tr", "content": [{"tag": "th", "content": "a"}, {"tag": "th", "content": "b"}]}}, {"tag": "tbody", "content": [{"tag": "tr", "content": [{"tag": "td", "content": "c"}, {"tag": "td", "content": ""}, {"tag": "td", "content": "e"}]}]}]})",
         "a | b\nc | | e"},
        {"details: the summary and a colon, then its content",
         R"(["x", {"tag": "details", "content": [{"tag": "summary", "content": "Grammar"}, "text"]}, {"tag": "details", "content": [{"tag": "summary", "content": "Notes:"}, "n"]}])",
         "x\nGrammar:\ntext\nNotes:\nn"},
        {"links by their text", R"(["see ", {"tag": "a", "href": "?query=x", "content": "x"}])", "see x"},
        {"pictures left out and counted",
         R"(["a", {"tag": "img", "path": "x.png", "title": "t"}, "b"])", "ab",
         {"terms: 1 row in 1 term bank", "left out: 1 picture"}},
        {"a link back to the source left out",
         R"(["a", {"tag": "div", "data": {"content": "backlink"}, "content": "Wiktionary | Kaikki"}])", "a"},
        {"unknown tags keep their text, counted; so do values that are no content",
         R"(["a", {"tag": "blink", "content": "b"}, 5, {"content": "c"}])", "abc",
         {"damaged glossary items or structured content of kinds it does not know, their text"
          " kept at d.zip: term_bank_1.json row 1",
          "terms: 1 row in 1 term bank"}},
    };
    // clang-format on
    for (const content_case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string bank =
            R"([["w", "", "", "", 0, [{"type": "structured-content", "content": )" + c.content +
            "}], 0, \"\"]]";
        recording_sink sink;
        EXPECT_EQ(read_zip(dictionary(index3, {{"term_bank_1.json", bank}}), sink),
                  (entries{{"w", c.expected}}));
        const std::vector<std::string> said =
            c.said.empty() ? std::vector<std::string>{"terms: 1 row in 1 term bank"} : c.said;
        EXPECT_EQ(sink.said, said);
    }
}

TEST(ImportYomitan, KanjiBanksGiveEachKanjiItsReadingsAndMeanings) {
    struct kanji_case {
        const char* what;
        std::string index, bank;
        entries expected;
        std::vector<std::string> said;
    };
    // clang-format off
    const kanji_case cases[] = {
        {"format 3", index3,
         R"([["日", "ニチ ジツ", "ひ -び", "jouyou", ["day", "sun"], {"strokes": "4"}],
             ["亜", "ア", "つ.ぐ", "", ["Asia", "rank next"], {}],
             ["〆", "", "しめ", "", [], {}], ["X", "", "", "", ["", " "], {}],
             ["Y", "", "", ""], [1, "", "", "", []]])",
         {{"日", "On: ニチ, ジツ\nKun: ひ, -び\nday; sun"}, {"亜", "On: ア\nKun: つ.ぐ\nAsia; rank next"},
          {"〆", "Kun: しめ"}},
         {"skipped kanji rows with no readings or meanings at d.zip: kanji_bank_1.json row 4",
          "skipped kanji rows of the wrong shape at d.zip: kanji_bank_1.json row 5",
          "skipped kanji rows of the wrong shape at d.zip: kanji_bank_1.json row 6",
          "kanji: 6 kanji in 1 kanji bank"}},
        {"format 1: the meanings after the fourth element",
         R"({"title": "T", "revision": "r", "format": 1})",
         R"([["木", "ボク モク", "き", "", "tree", "wood"]])",
         {{"木", "On: ボク, モク\nKun: き\ntree; wood"}}, {"kanji: 1 kanji in 1 kanji bank"}},
    };
    // clang-format on
    for (const kanji_case& c : cases) {
        SCOPED_TRACE(c.what);
        recording_sink sink;
        EXPECT_EQ(read_zip(dictionary(c.index, {{"kanji_bank_1.json", c.bank}}), sink), c.expected);
        EXPECT_EQ(sink.said, c.said);
    }
}

// Banks are files at the archive's root, read in the order of their numbers,
// not of the archive; names in folders, above the archive or absolute are
// not read (and nothing is ever written).
TEST(ImportYomitan, BanksInTheOrderOfTheirNumbersMetaBanksCounted) {
    // clang-format off
    const std::string bytes = dictionary(R"({"title": " My Dict ", "revision": "2", "format": 3})", {
        {"img/term_bank_3.json", R"([["not", "", "", "", 0, ["read"], 0, ""]])"},
        {"../term_bank_4.json", R"([["outside", "", "", "", 0, ["not read"], 0, ""]])"},
        {"/term_bank_5.json", R"([["absolute", "", "", "", 0, ["not read"], 0, ""]])"},
        {"kanji_meta_bank_1.json", R"([["日", "freq", 5]])"},
        {"term_bank_10.json", R"([["ten", "", "", "", 0, ["10"], 0, ""]])"},
        {"kanji_bank_1.json", R"([["ten", "", "", "", ["kanji"], {}]])"},
        {"term_meta_bank_1.json", R"([["打", "freq", {"reading": "だ", "frequency": 8}],
            ["打ち込む", "pitch", {"reading": "うちこむ", "pitches": [{"position": 0}]}],
            ["好き", "ipa", {"reading": "すき", "transcriptions": [{"ipa": "[sɨᵝkʲi]"}]}],
            ["x", "other", 1], 7])"},
        {"term_bank_2.json", "\xEF\xBB\xBF" R"( [ ["two", "", "", "", 0, ["2"], 0, ""] ] )"},
        {"term_bank_02b.json", "not a bank"},
        {"styles.css", "div { }"},
    });
    // clang-format on
    recording_sink sink;
    std::string title;
    EXPECT_EQ(read_zip(bytes, sink, &title),
              (entries{{"two", "2"}, {"ten", "10"}, {"ten", "kanji"}}));
    EXPECT_EQ(title, " My Dict ");
    EXPECT_EQ(sink.said, (std::vector<std::string>{
                             "terms: 2 rows in 2 term banks",
                             "kanji: 1 kanji in 1 kanji bank",
                             "not words: 1 frequency, 1 pitch accent, 1 IPA, 1 kanji frequency "
                             "and 2 other rows in 2 meta banks, counted only",
                         }));
}

TEST(ImportYomitan, MembersStoredOrWithZip64SizesAreRead) {
    const std::string rows = R"([["a", "", "", "", 0, ["b"], 0, ""]])";
    for (const bool deflated : {false, true}) {
        SCOPED_TRACE(deflated ? "deflated" : "stored");
        zip_member index{"index.json", index3, deflated};
        zip_member bank{"term_bank_1.json", rows, deflated};
        bank.zip64 = index.zip64 = true;
        zip_member after{"kanji_bank_1.json", R"([["c", "", "", "", ["d"]]])", deflated};
        recording_sink sink;
        EXPECT_EQ(read_zip(write_zip({index, bank, after}).bytes, sink),
                  (entries{{"a", "b"}, {"c", "d"}}));
    }
}

TEST(ImportYomitan, RowsOfTheWrongShapeAreSkippedAndCounted) {
    // clang-format off
    const std::string bank = R"([
        ["a", "", "", "", 0, ["kept"], 0, ""],
        "a string",
        ["b", "", "", "", 0, ["short"], 0],
        [1, "", "", "", 0, ["x"], 0, ""],
        ["c", "", "", "", "high", ["x"], 0, ""],
        ["d", "", "", "", 0, "x", 0, ""],
        ["e", "", "", "", 0, ["x"], 1.5, ""],
        ["f", "", 7, "", 0, ["x"], 0, ""],
        ["g", "", "", "", 0, [{"type": "video", "text": "kept too"}, [1, 2]], 0, ""],
        ["h", "", "", "", 0, [], 0, ""]
    ])";
    // clang-format on
    recording_sink sink;
    EXPECT_EQ(read_zip(dictionary(index3, {{"term_bank_1.json", bank}}), sink),
              (entries{{"a", "kept"}, {"g", "kept too"}}));
    std::vector<std::string> said;
    for (int row : {2, 3, 4, 5, 6, 7, 8})
        said.push_back("skipped term rows of the wrong shape at d.zip: term_bank_1.json row " +
                       std::to_string(row));
    said.push_back(
        "damaged glossary items or structured content of kinds it does not know, their text kept"
        " at d.zip: term_bank_1.json row 9");
    said.push_back(
        "skipped term rows with no text (only pictures, or empty) at d.zip: term_bank_1.json row"
        " 10");
    said.push_back("terms: 10 rows in 1 term bank");
    EXPECT_EQ(sink.said, said);
}

TEST(ImportYomitan, ARowTooLargeForABlockIsReadPastNotHeld) {
    const std::string huge(4 * import::max_raw_size, 'x');
    const std::string bank = R"([["big", "", "", "", 0, [")" + huge +
                             R"("], 0, ""], ["small", "", "", "", 0, ["s"], 0, ""]])";
    recording_sink sink;
    EXPECT_EQ(read_zip(dictionary(index3, {{"term_bank_1.json", bank}}), sink),
              (entries{{"small", "s"}}));
    EXPECT_EQ(sink.said,
              (std::vector<std::string>{
                  "skipped rows of more than 16000000 bytes of JSON, too large for a block at "
                  "d.zip: term_bank_1.json row 1",
                  "terms: 2 rows in 1 term bank"}));
    // An entry whose text outgrows what a block may be read from.
    const std::string long_text(import::max_raw_size / 2, 'y');
    const std::string row = R"(["w", "", "", "", 0, [")" + long_text + R"("], 0, ""])";
    const std::string two = "[" + row + ", " + row + "]";
    recording_sink sink2;
    EXPECT_EQ(read_zip(dictionary(index3, {{"term_bank_1.json", two}}), sink2), entries{});
    EXPECT_EQ(sink2.said[0], "too large w " + std::to_string(2 * long_text.size() + 7));
}

TEST(ImportYomitan, AWholeDictionaryToASource) {
    // clang-format off
    const std::string bytes = dictionary(sequenced3, {
        {"term_bank_1.json", R"([
            ["打つ", "うつ", "vt", "v5", 10, ["to hit"], 3, "P"],
            ["打つ", "うつ", "vt", "v5", 1, [{"type": "structured-content", "content": {"tag": "ol",
              "content": [{"tag": "li", "content": "to strike"}, {"tag": "li", "content": "to type"}]}}], 3, ""],
            ["日", "ひ", "n", "", 0, ["day"], 5, ""],
            ["x", "", "", "", 0, [{"type": "image", "path": "x.png"}], 6, ""]])"},
        {"kanji_bank_1.json", R"([["日", "ニチ", "ひ", "", ["sun"], {}]])"},
        {"term_meta_bank_1.json", R"([["打つ", "freq", 100]])"},
    });
    check_summaries({{"terms, a kanji, counts", "ja.zip", bytes, {},
                      "Test\n"
                      "うつ$打つ [P]; 1. (vt) to hit; 2. (vt); 1. to strike; 2. to type\n"
                      "ひ$日; (n) day\n"
                      "打つ$うつ [P]; 1. (vt) to hit; 2. (vt); 1. to strike; 2. to type\n"
                      "日$ひ; (n) day | On: ニチ; Kun: ひ; sun\n",
                      {"  entries read:    5",
                       "  terms:           4 rows in 1 term bank",
                       "  kanji:           1 kanji in 1 kanji bank",
                       "  not words:       1 frequency row in 1 meta bank, counted only",
                       "  left out:        1 picture",
                       "  skipped:         1 term rows with no text (only pictures, or empty), the"
                       " first in ja.zip: term_bank_1.json row 4"}},
                     {"known by its first bytes under another name", "ja.bin", bytes, {},
                      "Test\n"
                      "うつ$打つ [P]; 1. (vt) to hit; 2. (vt); 1. to strike; 2. to type\n"
                      "ひ$日; (n) day\n"
                      "打つ$うつ [P]; 1. (vt) to hit; 2. (vt); 1. to strike; 2. to type\n"
                      "日$ひ; (n) day | On: ニチ; Kun: ひ; sun\n",
                      {}},
                     {"in Shift_JIS, named by --format", "ja.dat", bytes,
                      {"--format", "yomitan", "--charset", "SHIFT_JIS", "--title", "J"},
                      "J\n\x82\xA4\x82\xC2$\x91\xC5\x82\xC2 [P]; 1. (vt) to hit; 2. (vt); 1. to "
                      "strike; 2. to type\n\x82\xD0$\x93\xFA; (n) day\n\x91\xC5\x82\xC2$\x82\xA4"
                      "\x82\xC2 [P]; 1. (vt) to hit; 2. (vt); 1. to strike; 2. to type\n\x93\xFA$"
                      "\x82\xD0; (n) day | On: \x83\x6A\x83\x60; Kun: \x82\xD0; sun\n",
                      {}}});
    // clang-format on
}

// A zip of one member, with a lie or two.
std::string one_member(zip_member m) { return write_zip({std::move(m)}).bytes; }

// An index and a term bank, the bank changed.
std::string with_bank(const std::function<void(zip_member&)>& change) {
    zip_member bank{"term_bank_1.json", R"([["a", "", "", "", 0, ["b"], 0, ""]])"};
    change(bank);
    return write_zip({{"index.json", index3}, bank}).bytes;
}

TEST(ImportYomitan, ArchivesThatAreNoDictionaryAreRefusedByName) {
    struct refusal {
        const char* what;
        std::string bytes;
        std::string message;  // after "lexaro-import: "
    };
    zip_written split = write_zip({{"index.json", index3}});
    split.bytes[split.end_record + 4] = 1;  // the number of this disk
    zip_written moved = write_zip({{"index.json", index3}});
    moved.bytes[moved.end_record + 19] = 0x7F;  // the directory's offset
    zip_written entry = write_zip({{"index.json", index3}, {"term_bank_1.json", "[]"}});
    entry.bytes[entry.directory + 46 + 10 + 1] = 'X';  // the second entry's signature
    // clang-format off
    const refusal cases[] = {
        {"text", "Title\na$b\n",
         "x.zip is not a zip archive: it has no zip central directory at its end"},
        {"an empty archive", std::string("PK\x05\x06", 4) + std::string(18, '\0'),
         "x.zip is an empty zip archive: it is not a Yomitan dictionary"},
        {"a part of a split archive", split.bytes,
         "x.zip is one part of a zip archive split into several; join the parts into one file"
         " first"},
        {"a directory elsewhere than its end record says", moved.bytes,
         "x.zip: its zip central directory is damaged"},
        {"a damaged directory entry", entry.bytes,
         "x.zip: entry 2 of its central directory is damaged"},
        {"no index.json", one_member({"words.txt", "a\tb\n"}),
         "x.zip holds no index.json: it is a zip archive, but not a Yomitan dictionary"},
        {"index.json in a folder", write_zip({{"dict/", ""}, {"dict/index.json", index3},
                                              {"dict/term_bank_1.json", "[]"}}).bytes,
         "x.zip: its index.json lies in a folder (dict/index.json), not at the root of the"
         " archive, where Yomitan dictionaries have it"},
        {"two index.json", write_zip({{"index.json", index3}, {"index.json", index3}}).bytes,
         "x.zip holds two members named index.json: which one the dictionary means is not known"},
        {"two banks of one name", write_zip({{"index.json", index3}, {"term_bank_1.json", "[]"},
                                             {"term_bank_1.json", "[]"}}).bytes,
         "x.zip holds two members named term_bank_1.json: which one the dictionary means is not"
         " known"},
        {"an index that is no object", dictionary("[]", {}),
         "x.zip: index.json is not a JSON object: it is not a Yomitan dictionary's index"},
        {"an index that is no JSON", dictionary(R"({"title": "T",})", {}),
         "x.zip: index.json: byte 14: expected a member's name in quotes"},
        {"no title", dictionary(R"({"title": " ", "revision": "1", "format": 3})", {}),
         "x.zip: index.json gives the dictionary no \"title\""},
        {"no revision", dictionary(R"({"title": "T", "format": 3})", {}),
         "x.zip: index.json gives the dictionary no \"revision\""},
        {"no format", dictionary(R"({"title": "T", "revision": "1", "format": "3"})", {}),
         "x.zip: index.json gives no \"format\" (or \"version\") of its rows"},
        {"format 4", dictionary(R"({"title": "T", "revision": "1", "format": 4})", {}),
         "x.zip: index.json gives its rows format 4; lexaro-import reads formats 1, 2 and 3"},
        {"format 2.5", dictionary(R"({"title": "T", "revision": "1", "version": 2.5})", {}),
         "x.zip: index.json gives its rows format 2.5; lexaro-import reads formats 1, 2 and 3"},
        {"an index too large", dictionary(index3 + std::string(1 << 20, ' '), {}),
         "x.zip: index.json inflates to " + std::to_string(index3.size() + (1 << 20)) +
         " bytes, more than the 1048576 a dictionary's index may take"},
        {"frequencies only", dictionary(index3, {{"term_meta_bank_1.json", "[]"}}),
         "x.zip holds frequency, pitch or IPA data only (term_meta_bank_1.json), no terms or kanji"
         " to look up: it adds to another Yomitan dictionary"},
        {"no banks", dictionary(index3, {{"tag_bank_1.json", "[]"}}),
         "x.zip holds no term_bank_N.json or kanji_bank_N.json: a Yomitan dictionary with nothing"
         " to look up"},
    };
    // clang-format on
    for (const refusal& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir dir;
        write_file(dir / "x.zip", c.bytes);
        const run_result run = run_lexaro_import({"x.zip", "out.txt"}, dir.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "lexaro-import: " + c.message + "\n");
        EXPECT_EQ(dir.files(), std::vector<std::string>{"x.zip"});
    }
}

TEST(ImportYomitan, DamagedOrHostileArchivesStopWithTheMemberAndWhatIsWrong) {
    struct damage {
        const char* what;
        std::string bytes;
        std::string message;  // after "lexaro-import: x.zip: "
    };
    const std::string rows = R"([["a", "", "", "", 0, ["b"], 0, ""]])";
    const std::string stored_rows_size = std::to_string(rows.size());
    zip_written corrupt = write_zip({{"index.json", index3}, {"term_bank_1.json", rows}});
    corrupt.bytes[corrupt.data[1]] |= 0x06;  // a deflate block of the reserved type
    // Stored data that run one byte past the end of the file.
    const zip_written probe =
        write_zip({{"index.json", index3}, {"term_bank_1.json", rows, false}});
    const uint64_t past = probe.bytes.size() - probe.data[1] + 1;
    const std::string past_end = with_bank([&](zip_member& m) {
        m.deflated = false;
        m.compressed = m.size = past;
    });
    zip_member big64{"term_bank_1.json", rows};
    big64.zip64 = true;
    big64.size = 5000000000;
    big64.compressed = 5000000;
    const std::string zip64_past = write_zip({{"index.json", index3}, big64}).bytes;
    zip_member twin{"term_bank_2.json", rows};
    twin.same_data_as = 1;
    const zip_written twins = write_zip({{"index.json", index3}, {"term_bank_1.json", rows}, twin});
    const std::string bad_row = R"([["a", "", "", "", 0, ["b"], 0, ""], ["c",]])";
    // clang-format off
    const damage cases[] = {
        {"an encrypted member", with_bank([](zip_member& m) { m.flags = 1; }),
         "term_bank_1.json is encrypted; lexaro-import reads no encrypted members"},
        {"an unknown method", with_bank([](zip_member& m) { m.method = 14; }),
         "term_bank_1.json is compressed with method 14, which lexaro-import does not read (it"
         " reads stored and deflated members)"},
        {"a stored member's two sizes differ",
         with_bank([](zip_member& m) { m.deflated = false; m.size = m.data.size() + 1; }),
         "term_bank_1.json: its zip entry says it is stored in " + stored_rows_size +
         " bytes and holds " + std::to_string(rows.size() + 1)},
        {"more than deflate can make of its bytes",
         with_bank([](zip_member& m) { m.size = 1000000000; m.compressed = 100; }),
         "term_bank_1.json: its zip entry says that its 100 bytes inflate to 1000000000, more"
         " than deflate makes of them"},
        {"zip64 sizes past the file", zip64_past,
         "term_bank_1.json: its zip entry gives it 5000000 bytes, more than the whole file's " +
         std::to_string(zip64_past.size())},
        {"data past the end of the file", past_end,
         "term_bank_1.json: its " + std::to_string(past) + " bytes at byte " +
         std::to_string(probe.data[1]) + " run past the end of the file (" +
         std::to_string(probe.bytes.size()) + " bytes)"},
        {"a local header unlike its directory entry",
         with_bank([](zip_member& m) { m.local_crc = 7; }),
         "term_bank_1.json: its local header is damaged, or does not match its entry in the"
         " central directory"},
        {"two members of one data", twins.bytes,
         "term_bank_2.json and term_bank_1.json share their bytes at byte " +
         std::to_string(twins.data[1]) + ": a damaged zip, or one made to inflate without end"},
        {"a wrong CRC-32", with_bank([](zip_member& m) { m.crc = 12345; }),
         "term_bank_1.json: its CRC-32 is wrong: its bytes are damaged"},
        {"fewer bytes than its entry says",
         with_bank([](zip_member& m) { m.size = m.data.size() + 10; }),
         "term_bank_1.json inflates to " + stored_rows_size + " bytes, its zip entry says " +
         std::to_string(rows.size() + 10)},
        {"deflate data damaged", corrupt.bytes, "term_bank_1.json: its deflate data are damaged"},
        {"deflate data cut short",
         with_bank([](zip_member& m) { m.compressed = raw_deflate(m.data).size() - 3; }),
         "term_bank_1.json: its deflate data end before the " + stored_rows_size +
         " bytes its zip entry says"},
        {"a bank that is no array", with_bank([](zip_member& m) { m.data = " {}"; }),
         "term_bank_1.json: byte 1: expected a '[' starting the bank's array of rows"},
        {"a row that is no JSON", with_bank([&](zip_member& m) { m.data = bad_row; }),
         "term_bank_1.json: byte " + std::to_string(bad_row.find(",]") + 1) +
         ": expected a value"},
        {"a row not followed by ',' or ']'",
         with_bank([](zip_member& m) { m.data = R"([["a"] ["b"]])"; }),
         "term_bank_1.json: byte 7: expected a ',' or ']' after a row"},
        {"a bank that ends inside a row", with_bank([](zip_member& m) { m.data = R"([["a", "b)"; }),
         "term_bank_1.json: byte 9: expected the rest of the row before the end of the bank"},
        {"bytes after the bank", with_bank([](zip_member& m) { m.data = "[] x"; }),
         "term_bank_1.json: byte 3: expected the end of the bank after its array of rows"},
        {"a bank that ends before its ']'", with_bank([](zip_member& m) { m.data = "[1,"; }),
         "term_bank_1.json: byte 3: expected a row"},
        {"nesting deeper than any dictionary's", with_bank([](zip_member& m) {
             m.data = "[" + std::string(200, '[') + std::string(200, ']') + "]"; }),
         "term_bank_1.json: byte 130: expected less deeply nested values"},
    };
    // clang-format on
    for (const damage& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir dir;
        write_file(dir / "x.zip", c.bytes);
        const run_result run = run_lexaro_import({"x.zip", "out.txt"}, dir.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "lexaro-import: x.zip: " + c.message + "\n");
        EXPECT_EQ(dir.files(), std::vector<std::string>{"x.zip"});
    }
}

TEST(ImportYomitan, InflatingMuchOrManyMembersTakesNoMemory) {
    if (address_sanitizer) GTEST_SKIP() << "AddressSanitizer's shadow memory hides the program's";
    scratch_dir dir;
    {
        // 64 MiB of white space between two rows, and 20,000 pictures beside
        // the banks; let go before the run, whose peak memory counts this
        // process's until it starts the program.
        std::vector<zip_member> members{
            {"index.json", index3},
            {"term_bank_1.json", R"([["a", "", "", "", 0, ["b"], 0, ""],)" +
                                     std::string(64 << 20, ' ') +
                                     R"(["c", "", "", "", 0, ["d"], 0, ""]])"}};
        for (int i = 0; i < 20000; ++i)
            members.push_back({"img/" + std::to_string(i) + ".png", "P", false});
        write_file(dir / "big.zip", write_zip(members).bytes);
    }
    const run_result run = run_lexaro_import({"big.zip", "out.txt"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir / "out.txt"), "Test\na$b\nc$d\n");
    EXPECT_LT(run.peak_memory_kib, 48 * 1024);
}

TEST(ImportYomitan, ReadFromItsFileNotFromStandardInput) {
    scratch_dir dir;
    write_file(dir / "x.zip", dictionary(index3, {{"term_bank_1.json", "[]"}}));
    for (const std::string& format : {""s, " --format yomitan"s}) {
        const int status = std::system(("cd '" + dir.path() + "' && " + LEXARO_IMPORT_BINARY +
                                        format + " - out.txt < x.zip 2>err.txt")
                                           .c_str());
        EXPECT_EQ(WEXITSTATUS(status), 1) << format;
        EXPECT_EQ(read_file(dir / "err.txt"),
                  "lexaro-import: -: yomitan dictionaries are zip archives, read from the "
                  "directory at their end; name the file, not standard input\n")
            << format;
        EXPECT_FALSE(exists(dir / "out.txt"));
    }
}

}  // namespace
}  // namespace lexaro::test
