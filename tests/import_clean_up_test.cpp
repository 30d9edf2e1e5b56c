// lexaro-import's stages on their own: the clean-up of one entry, the sort
// and merge of the entry table, the words_per_block advice, the recognition
// of text formats and the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "format_test_support.h"
#include "import/block_advice.h"
#include "import/clean_up.h"
#include "import/entry_table.h"
#include "import/formats/formats.h"
#include "import/import_command.h"
#include "test_support.h"

namespace lexaro::import {
namespace {

using namespace std::string_literals;
using test::scratch_dir;
using test::write_file;

struct clean_case {
    const char* what;
    markup kind;
    std::string word, definition;
    std::string expected_word, expected_translation;
};

TEST(ImportCleanUp, TurnsEachEntryIntoOneSourceLine) {
    const std::string word_dollar =
        "pri\xEF\xBC\x84"
        "e";
    // clang-format off
    const clean_case cases[] = {
        {"trimmed, line breaks one separator", markup::plain, "  cat \t",
         "line one\r\nline two\n\n  line three\n", "cat", "line one; line two; line three"},
        {"a break after the separator's mark", markup::plain, "a", "ends with;\nnext",
         "a", "ends with; next"},
        {"a break after a comma: its space alone", markup::plain, "a",
         "nature,\nAre led as,\n(a) one:\nsee: two", "a", "nature, Are led as, (a) one:; see: two"},
        {"plain text keeps inner spaces and markup", markup::plain, "a", "x  <b>y</b> &amp;",
         "a", "x  <b>y</b> &amp;"},
        {"zero and 0x1A bytes dropped", markup::plain, "w\0x"s, "x\0y\x1Az"s, "wx", "xyz"},
        {"a lone CR is a line break", markup::plain, "a", "one\rtwo", "a", "one; two"},
        {"$ in a word, kept in a translation", markup::plain, "pri$e", "cost $5",
         word_dollar, "cost $5"},
        {"line breaks and tabs in a word", markup::plain, "a\tb\nc", "x", "a b c", "x"},
        {"tags and links become their text", markup::html, "a",
         "<b>bold</b> and <A HREF=\"x>y\">link</a>", "a", "bold and link"},
        {"<br> in its forms", markup::html, "a", "one<br>two<br/><BR />three", "a",
         "one; two; three"},
        {"paragraphs, none first or last", markup::html, "a", "<p>para</p>\n<p>next</p>", "a",
         "para; next"},
        {"entities named and numeric", markup::html, "a",
         "&lt;t&gt; &amp; &eacute;&#233;&#xE9;&#x1F600; &Omega;&euro;", "a",
         "<t> & \xC3\xA9\xC3\xA9\xC3\xA9\xF0\x9F\x98\x80 \xCE\xA9\xE2\x82\xAC"},
        {"no-break space is a space", markup::html, "a", "x&nbsp;&nbsp;y&nbsp;", "a", "x y"},
        {"what is no entity stays", markup::html, "a", "&bogus; &#0; &#xD800; AT&T & more",
         "a", "&bogus; &#0; &#xD800; AT&T & more"},
        {"grammar labels are tags in HTML", markup::html, "a",
         "noun <masc, n, sg> <adj> 3 < 4 <b>x</b>", "a", "noun 3 < 4 x"},
        {"an unclosed tag is text", markup::html, "a", "x <b class=\"y\" z", "a",
         "x <b class=\"y\" z"},
        {"scripts, styles and comments hidden", markup::html, "a",
         "<script>var x=1;</script>text<style>p{}</style><!-- note -->more", "a", "textmore"},
        {"table cells", markup::html, "a", "<table><tr><td>one</td><td>two</td></tr></table>",
         "a", "one two"},
        {"HTML white space runs are one space", markup::html, "a", "  one \t  two  ", "a",
         "one two"},
        {"XDXF key hidden, transcription bracketed", markup::xdxf, "a",
         "<k>a</k>\n<tr>\xC9\x99</tr> <def>first</def><def>second</def>", "a",
         "[\xC9\x99]; first; second"},
    };
    // clang-format on
    for (const clean_case& c : cases) {
        cleaner clean("; ");
        std::string word = "old", translation = "old";
        EXPECT_TRUE(clean.clean({c.word, c.definition, c.kind}, word, translation)) << c.what;
        EXPECT_EQ(word, c.expected_word) << c.what;
        EXPECT_EQ(translation, c.expected_translation) << c.what;
    }
}

// A break after text that ends in punctuation: only a separator whose mark
// is a comma or a semicolon counts those two as its own.
TEST(ImportCleanUp, SeparatorAfterPunctuation) {
    const struct {
        const char* separator;
        const char* expected;
    } cases[] = {
        {"; ", "a, b; c:; d.; e"},  // the text is "a,\nb;\nc:\nd.\ne"
        {", ", "a, b; c:, d., e"},
        {" | ", "a, | b; | c: | d. | e"},
        {" / ", "a, / b; / c: / d. / e"},
    };
    for (const auto& c : cases) {
        cleaner clean(c.separator);
        std::string word, translation;
        ASSERT_TRUE(clean.clean({"w", "a,\nb;\nc:\nd.\ne", markup::plain}, word, translation));
        EXPECT_EQ(translation, c.expected) << c.separator;
    }
}

// The clean-up passes over ordinary text eight bytes at a time: each text
// gives the same translation wherever it lies against those steps, with
// ordinary bytes before and after it.
TEST(ImportCleanUp, CleansAlikeWhereverTheTextLies) {
    struct shift_case {
        markup kind;
        std::string text, expected;
    };
    // clang-format off
    const shift_case cases[] = {
        {markup::plain, "a b  c   d", "a b  c   d"},
        {markup::plain, "a \n b", "a; b"},
        {markup::plain, "a\t\tb c\v\fd", "a\t\tb c\v\fd"},
        {markup::plain, "a \r\n\r\n b", "a; b"},
        {markup::plain, "a\x01" "b\x7F" "c", "a\x01" "b\x7F" "c"},
        {markup::plain, "a \x1A b\0c"s, "a  bc"},
        {markup::plain, "\xC3\xA9t\xC3\xA9 caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80!",
         "\xC3\xA9t\xC3\xA9 caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80!"},
        {markup::plain, "x <b>y</b> &amp; z", "x <b>y</b> &amp; z"},
        {markup::html, "a <b>x</b>  y", "a x y"},
        {markup::html, "a&amp;b &lt;c", "a&b <c"},
        {markup::html, "a <br> b", "a; b"},
        {markup::html, "x&nbsp;y 1 < 2 & 3", "x y 1 < 2 & 3"},
    };
    // clang-format on
    for (const shift_case& c : cases) {
        for (std::size_t shift = 0; shift <= 17; ++shift) {
            const std::string before(shift, 'p'), after(shift % 9, 's');
            cleaner clean("; ");
            std::string word, translation;
            ASSERT_TRUE(clean.clean({"w", before + c.text + after, c.kind}, word, translation));
            EXPECT_EQ(translation, before + c.expected + after)
                << escape_invalid_utf8(c.text) << " after " << shift << " bytes";
            EXPECT_EQ(clean.counts().invalid_utf8, 0u) << escape_invalid_utf8(c.text);
        }
    }
}

// An entry counts as invalid UTF-8 by what is written, word and
// translation, whatever the bytes that the clean-up dropped between.
TEST(ImportCleanUp, CountsInvalidUtf8InWhatIsWritten) {
    struct utf8_case {
        const char* what;
        markup kind;
        std::string separator, word, definition;
        bool counted;
    };
    const std::string invalid_separator = "\xFF ";
    // clang-format off
    const utf8_case cases[] = {
        {"two, three and four bytes", markup::plain, "; ", "w", "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", false},
        {"a continuation byte alone", markup::plain, "; ", "w", "a\x80", true},
        {"a lead byte cut by the end", markup::plain, "; ", "w", "abcdefghijklmnop\xE2\x82", true},
        {"a lead byte at the start", markup::plain, "; ", "w", "\xFF" "abcdefghijklmnop", true},
        {"halves joined where a zero byte went", markup::plain, "; ", "w", "caf\xC3\0\xA9"s, false},
        {"halves joined where a tag went", markup::html, "; ", "w", "caf\xC3<b>\xA9</b>", false},
        {"halves parted by a line break", markup::plain, "; ", "w", "caf\xC3\n\xA9", true},
        {"a character across eight bytes", markup::plain, "; ", "w", "1234567\xC3\xA9", false},
        {"an invalid separator put in", markup::plain, invalid_separator, "w", "a\nb", true},
        {"an invalid separator not needed", markup::plain, invalid_separator, "w", "a b", false},
        {"an entity", markup::html, "; ", "w", "&#xE9;&#x1F600;", false},
        {"the word alone", markup::plain, "; ", "caf\xE9", "ok", true},
        {"overlong E0", markup::plain, "; ", "w", "\xE0\x9F\xBF", true},
        {"lowest E0", markup::plain, "; ", "w", "\xE0\xA0\x80", false},
        {"below the surrogates", markup::plain, "; ", "w", "\xED\x9F\xBF", false},
        {"a surrogate", markup::plain, "; ", "w", "\xED\xA0\x80", true},
        {"overlong F0", markup::plain, "; ", "w", "\xF0\x8F\xBF\xBF", true},
        {"lowest F0", markup::plain, "; ", "w", "\xF0\x90\x80\x80", false},
        {"U+10FFFF", markup::plain, "; ", "w", "\xF4\x8F\xBF\xBF", false},
        {"past U+10FFFF", markup::plain, "; ", "w", "\xF4\x90\x80\x80", true},
        {"overlong C0 and C1", markup::plain, "; ", "w", "\xC1\xBF", true},
        {"a third byte that is no continuation", markup::plain, "; ", "w", "\xE2\x82" "A", true},
    };
    // clang-format on
    for (const utf8_case& c : cases) {
        cleaner clean(c.separator);
        std::string word, translation;
        ASSERT_TRUE(clean.clean({c.word, c.definition, c.kind}, word, translation)) << c.what;
        EXPECT_EQ(clean.counts().invalid_utf8, c.counted ? 1u : 0u) << c.what;
        EXPECT_EQ(valid_utf8(word) && valid_utf8(translation), !c.counted) << c.what;
    }
}

// White space in a word: trimmed at its ends, one space inside, whatever
// the run was made of; a word counted once however many runs it had.
TEST(ImportCleanUp, MakesEachRunOfWhiteSpaceInAWordOneSpace) {
    struct word_case {
        const char* what;
        std::string raw, expected;
        uint64_t trimmed, runs;
    };
    // clang-format off
    const word_case cases[] = {
        {"two spaces", "Finnic  branch", "Finnic branch", 0, 1},
        {"one space stays", "Finnic branch", "Finnic branch", 0, 0},
        {"tabs, line breaks, vertical tab, form feed", "a\t\tb\r\nc\v\fd", "a b c d", 0, 1},
        {"a single tab", "a\tb", "a b", 0, 0},
        {"several runs, one word", "a  b   c", "a b c", 0, 1},
        {"runs at the ends are trimmed, not counted", "  a b \t ", "a b", 1, 0},
        {"both", " a \t b ", "a b", 1, 1},
        {"a zero byte between spaces", "a \0 b"s, "a b", 0, 1},
        {"a zero byte between letters", "a\0b"s, "ab", 0, 0},
        {"'$' after a run", "a  $", "a \xEF\xBC\x84", 0, 1},
        {"'$' before a run", "$  a", "\xEF\xBC\x84 a", 0, 1},
        {"beyond ASCII", "\xC3\xA9t\xC3\xA9  d'\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9 d'\xC3\xA9t\xC3\xA9", 0, 1},
        {"no-break spaces are no white space here", "a\xC2\xA0\xC2\xA0" "b", "a\xC2\xA0\xC2\xA0" "b", 0, 0},
    };
    // clang-format on
    for (const word_case& c : cases) {
        cleaner clean("; ");
        std::string word, translation;
        ASSERT_TRUE(clean.clean({c.raw, "x  y", markup::plain}, word, translation)) << c.what;
        EXPECT_EQ(word, c.expected) << c.what;
        EXPECT_EQ(translation, "x  y") << c.what;  // a translation keeps its runs
        EXPECT_EQ(clean.counts().trimmed, c.trimmed) << c.what;
        EXPECT_EQ(clean.counts().word_spaces, c.runs) << c.what;
    }
}

TEST(ImportCleanUp, DropsEntriesWithoutWordOrTooLargeForABlock) {
    // Word and translation each take a zero byte in the block: 1 + 1 + t + 1.
    const std::string fits(1000000 - 3, 'x'), too_large(1000000 - 2, 'x');
    struct drop_case {
        const char* what;
        std::string word, definition;
        bool kept;
    };
    const drop_case cases[] = {
        {"blank word", " \t ", "x", false},          {"word of line breaks", "\r\n", "x", false},
        {"word of zero bytes", "\0\0"s, "x", false}, {"block exactly full", "w", fits, true},
        {"one byte more", "w", too_large, false},
    };
    for (const drop_case& c : cases) {
        cleaner clean("; ");
        std::string word, translation;
        EXPECT_EQ(clean.clean({c.word, c.definition, markup::plain}, word, translation), c.kept)
            << c.what;
    }
}

TEST(ImportCleanUp, CountsWhatItChanged) {
    cleaner clean(" / ");
    std::string word, translation;
    const std::string large(1000000, 'x'), with_zero = "e\0"s;
    const raw_entry entries[] = {
        {" a$b ", "x\ny\r\nz", markup::plain}, {"c", "<i>&amp;</i><br>q", markup::html},
        {"caf\xE9", "ok", markup::plain},      {"d", "\x80", markup::plain},
        {"", "lost", markup::plain},           {"big", large, markup::plain},
        {with_zero, "\x1A", markup::plain},
    };
    for (const raw_entry& e : entries) clean.clean(e, word, translation);
    const clean_up_counts& c = clean.counts();
    EXPECT_EQ(c.line_breaks, 2u);
    EXPECT_EQ(c.tags, 3u);
    EXPECT_EQ(c.entities, 1u);
    EXPECT_EQ(c.trimmed, 1u);
    EXPECT_EQ(c.control_bytes, 2u);
    EXPECT_EQ(c.dollar_signs, 1u);
    EXPECT_EQ(c.invalid_utf8, 2u);
    EXPECT_EQ(c.first_invalid_utf8, "caf\\xE9");
    EXPECT_EQ(c.empty_words, 1u);
    EXPECT_EQ(c.oversize, 1u);
    EXPECT_EQ(c.oversize_words, std::vector<std::string>{"big"});
}

TEST(ImportCleanUp, TitlesAndCuts) {
    EXPECT_EQ(clean_title("  My\r\nDictionary\t\0 v1 "s), "My Dictionary v1");
    // "é" is two bytes: a cut inside it goes back before it.
    EXPECT_EQ(cut_at_character("ab\xC3\xA9", 3), "ab");
    EXPECT_EQ(cut_at_character("ab\xC3\xA9", 4), "ab\xC3\xA9");
    EXPECT_EQ(cut_at_character("abc\xE2\x82\xAC"
                               "d",
                               5),
              "abc");
    EXPECT_EQ(cut_at_character("abc\xE2\x82\xAC"
                               "d",
                               6),
              "abc\xE2\x82\xAC");
    EXPECT_TRUE(valid_utf8("\xF0\x9F\x98\x80 \xC3\xA9"));
    EXPECT_TRUE(valid_utf8("eight by\xC3\xA9tes and more ASCII after it"));
    for (const char* bad : {"\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF",
                            "sixteen bytes ok\xFF", "\xE2\x82"})
        EXPECT_FALSE(valid_utf8(bad)) << escape_invalid_utf8(bad);
    EXPECT_EQ(escape_invalid_utf8("a\xC3\xA9\xFF"
                                  "b"),
              "a\xC3\xA9\\xFF"
              "b");
}

// The words and translations that for_each_word hands on.
std::vector<std::string> merged_lines(const std::vector<std::pair<std::string, std::string>>& in,
                                      const merge_options& options,
                                      merge_counts* counts = nullptr) {
    entry_table table(!options.keep_duplicates);
    for (const auto& [word, translation] : in) table.add(word, translation);
    table.end_of_input();
    table.sort();
    merge_counts local;
    return test::word_lines(table, options, counts != nullptr ? *counts : local);
}

TEST(ImportEntryTable, SortsByWordBytesStablyAndMergesRepeats) {
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"aal blau", "blue eel"},
        {"z\xC3\xA9", "high byte"},
        {"aal", "eel"},
        {"Aal", "capital"},
        {"za", "low"},
        {"aal", "snake fish"},
        {"aal", "eel"},
        {"aal", ""},
        {"b", ""},
        {"b", "second"},
        {"aalb", "no space"},
        {"abcdefghX", "9"},
        {"abcdefgh", "8"},
        {"abcdefghA", "9"},
        {"abcdefgh ", "9"},
    };
    struct merge_case {
        const char* what;
        merge_options options;
        std::vector<std::string> expected;
    };
    merge_options joined_by_slash;
    joined_by_slash.join = " / ";
    merge_options kept;
    kept.keep_duplicates = true;
    const merge_case cases[] = {
        {"merged",
         {},
         {"Aal$capital", "aal$eel | snake fish", "aal blau$blue eel", "aalb$no space", "abcdefgh$8",
          "abcdefgh $9", "abcdefghA$9", "abcdefghX$9", "b$second", "za$low",
          "z\xC3\xA9$high byte"}},
        {"another join",
         joined_by_slash,
         {"Aal$capital", "aal$eel / snake fish", "aal blau$blue eel", "aalb$no space", "abcdefgh$8",
          "abcdefgh $9", "abcdefghA$9", "abcdefghX$9", "b$second", "za$low",
          "z\xC3\xA9$high byte"}},
        {"duplicates kept in input order",
         kept,
         {"Aal$capital", "aal$eel", "aal$snake fish", "aal$eel", "aal$", "aal blau$blue eel",
          "aalb$no space", "abcdefgh$8", "abcdefgh $9", "abcdefghA$9", "abcdefghX$9", "b$",
          "b$second", "za$low", "z\xC3\xA9$high byte"}},
    };
    for (const merge_case& c : cases)
        EXPECT_EQ(merged_lines(entries, c.options), c.expected) << c.what;

    merge_counts counts;
    merged_lines(entries, {}, &counts);
    EXPECT_EQ(counts.merged, 4u);   // three more "aal", one more "b"
    EXPECT_EQ(counts.repeats, 2u);  // "eel" again, and "" adds nothing
    EXPECT_EQ(counts.cut, 0u);
}

// Words drawn from a few bytes, zero bytes included, many sharing long
// beginnings: the table's order is the order of std::stable_sort by bytes.
TEST(ImportEntryTable, SortsAsComparingWholeWordsWould) {
    struct shape {
        const char* what;
        std::string alphabet;
        std::size_t shared;  // bytes of a common beginning
        std::size_t longest;  // bytes after it, at most
    };
    const shape shapes[] = {
        {"short words of two letters", "ab", 0, 4},
        {"zero bytes at their ends", std::string("a\0", 2), 0, 7},
        {"high bytes", "a\xFF\x80", 2, 9},
        {"a long shared beginning", std::string("xy\0", 3), 40, 12},
        {"beginnings of every length", "ab", 0, 40},
    };
    for (const shape& s : shapes) {
        std::mt19937 draw(7);
        std::vector<std::pair<std::string, std::string>> entries;
        for (int i = 0; i < 4000; ++i) {
            std::string word(s.shared, 'p');
            const std::size_t size = draw() % (s.longest + 1);
            for (std::size_t j = 0; j < size; ++j) word += s.alphabet[draw() % s.alphabet.size()];
            entries.emplace_back(word, std::to_string(i));
        }
        std::vector<std::string> expected;
        auto sorted = entries;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [word, translation] : sorted) expected.push_back(word + "$" + translation);
        merge_options kept;
        kept.keep_duplicates = true;
        EXPECT_EQ(merged_lines(entries, kept), expected) << s.what;
    }
}

// The keys are made in blocks of 65,536 entries as the entries come: every
// entry is there once, in order, whether the last block is full, holds one
// entry or is not begun.
TEST(ImportEntryTable, KeepsEveryEntryWhateverTheBlocksOfKeys) {
    for (const std::size_t count : {65535u, 65536u, 65537u, 131072u}) {
        std::vector<std::pair<std::string, std::string>> entries;
        for (std::size_t i = 0; i < count; ++i)  // words in reverse order, each twice
            entries.emplace_back("w" + std::to_string(999999 - i / 2), std::to_string(i));
        merge_options kept;
        kept.keep_duplicates = true;
        const auto lines = merged_lines(entries, kept);
        ASSERT_EQ(lines.size(), count);
        const std::size_t last = count - 1;
        EXPECT_EQ(lines.front(), "w" + std::to_string(999999 - last / 2) + "$" +
                                     std::to_string(last % 2 == 0 ? last : last - 1));
        EXPECT_EQ(lines.back(), "w999999$1");
        EXPECT_TRUE(std::is_sorted(lines.begin(), lines.end())) << count;
    }
}

// Repeats dropped as they come and repeats left to the merge give the same
// lines and counts: repeats of one entry, and repeats too far apart for the
// table to see them coming (more entries between than it remembers).
TEST(ImportEntryTable, RepeatsNearAndFarMergeAlike) {
    std::vector<std::pair<std::string, std::string>> near(200000, {"w", "t"});
    near.emplace_back("w", "u");
    merge_counts counts;
    EXPECT_EQ(merged_lines(near, {}, &counts), std::vector<std::string>{"w$t | u"});
    EXPECT_EQ(counts.merged, 200000u);
    EXPECT_EQ(counts.repeats, 199999u);

    std::vector<std::pair<std::string, std::string>> far;
    for (int round = 0; round < 2; ++round)
        for (int i = 0; i < 100000; ++i)
            far.emplace_back("w" + std::to_string(i % 1000), std::to_string(i / 1000));
    counts = {};
    const auto lines = merged_lines(far, {}, &counts);
    ASSERT_EQ(lines.size(), 1000u);
    EXPECT_EQ(lines[0].substr(0, 15), "w0$0 | 1 | 2 | ");
    EXPECT_EQ(lines[0].substr(lines[0].size() - 7), "98 | 99");
    EXPECT_EQ(counts.merged, 199000u);
    EXPECT_EQ(counts.repeats, 100000u);
}

// Only a whole repeat of word and translation is one: translations of a
// word that share their size and their ends, or a word and translation
// that swap, are kept.
TEST(ImportEntryTable, RepeatsAreWholeEntries) {
    const std::string side(40, 'A');
    merge_counts counts;
    const auto lines = merged_lines({{"w", side + "x" + side},
                                     {"w", side + "y" + side},
                                     {"w", side + "x" + side},
                                     {"a", "b"},
                                     {"b", "a"},
                                     {"a", "b"}},
                                    {}, &counts);
    EXPECT_EQ(lines, (std::vector<std::string>{"a$b", "b$a", "w$" + side + "x" + side + " | " +
                                                                  side + "y" + side}));
    EXPECT_EQ(counts.merged, 3u);
    EXPECT_EQ(counts.repeats, 2u);
}

TEST(ImportEntryTable, LeavesOutWhatWouldOutgrowABlock) {
    // "w" and its zero byte, 999,988 bytes, " | " and 6 bytes and a zero
    // byte: 1,000,000 exactly. 7 bytes would be one too many.
    const std::string large(999988, 'x');
    merge_counts counts;
    const auto lines =
        merged_lines({{"w", large}, {"w", "second7"}, {"w", "second"}, {"w", "x"}}, {}, &counts);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "w$" + large + " | second");
    EXPECT_EQ(lines[0].size() + 1, 1000000u);
    EXPECT_EQ(counts.cut, 2u);
    EXPECT_EQ(counts.cut_words, std::vector<std::string>{"w"});
}

TEST(ImportBlockAdvice, FindsTheLargestSettingAtItsBoundary) {
    struct advice_case {
        const char* what;
        std::vector<uint32_t> sizes;
        int32_t largest;
        bool default_fits;
    };
    // clang-format off
    const advice_case cases[] = {
        {"no entries", {}, 10000, true},
        {"10,000 entries of 100 bytes fill a block exactly", std::vector<uint32_t>(10000, 100), 10000, true},
        {"101 bytes each: 9,900 a block", std::vector<uint32_t>(10000, 101), 9900, true},
        {"2,000 bytes each: 500 a block", std::vector<uint32_t>(1000, 2000), 500, true},
        {"2,001 bytes each: 499 a block", std::vector<uint32_t>(1000, 2001), 499, false},
        {"10,000 bytes each: 100 a block", std::vector<uint32_t>(300, 10000), 100, false},
        {"10,001 bytes each: none", std::vector<uint32_t>(300, 10001), 0, false},
    };
    // clang-format on
    for (const advice_case& c : cases) {
        const block_advice advice = advise_words_per_block(c.sizes);
        EXPECT_EQ(advice.largest, c.largest) << c.what;
        EXPECT_EQ(advice.default_fits, c.default_fits) << c.what;
    }
}

TEST(ImportBlockAdvice, EverySettingUpToTheAdviceFits) {
    // Entries 199 and 200 take 600,000 bytes each: they may not share a
    // block. Blocks of 100 and of 200 part them; 101 to 199 and over 200 do
    // not, so 100 is the advice, not 200.
    std::vector<uint32_t> sizes(400, 1);
    sizes[199] = sizes[200] = 600000;
    const block_advice advice = advise_words_per_block(sizes);
    EXPECT_EQ(advice.largest, 100);
    EXPECT_TRUE(advice.every_smaller_fits);
    EXPECT_FALSE(advice.default_fits);

    // Entries 150 and 151: only 151 parts them.
    std::vector<uint32_t> apart(400, 1);
    apart[150] = apart[151] = 600000;
    const block_advice only = advise_words_per_block(apart);
    EXPECT_EQ(only.largest, 151);
    EXPECT_FALSE(only.every_smaller_fits);

    const block_advice none = advise_words_per_block(std::vector<uint32_t>(250, 10001));
    EXPECT_EQ(none.largest, 0);
    EXPECT_EQ(none.first_entry, 0u);
    EXPECT_EQ(none.bytes, 1000100u);
}

// The name of a format found, or "none".
std::string_view name_of(std::optional<format> f) { return f ? format_name(*f) : "none"; }

TEST(ImportFormats, RecognisesTextFormatsByTheirLines) {
    struct sample_case {
        const char* what;
        std::string sample;
        std::string_view expected;
    };
    // clang-format off
    const sample_case cases[] = {
        {"tab lines", "a\tb\nc\td\n", "tab"},
        {"tab headers", "##name\tX\n##author Y\na\tb\n", "tab"},
        {"trans with comments", "# Version :: 1\nA {n} :: a\nB :: b | c\n", "trans"},
        {"lexaro source", "Title\na$b\nc$d\n", "lexaro"},
        {"source with tabs in translations", "Title\na$b\tc\nd$e\tf\n", "lexaro"},
        {"byte order mark and CR LF", "\xEF\xBB\xBFTitle\r\na$b\r\n", "lexaro"},
        {"plain prose", "Once upon a time\nthere was\n", "none"},
        {"title alone", "Title\n", "none"},
        {"half tab, half trans", "a\tb\nc :: d\n", "none"},
    };
    // clang-format on
    for (const sample_case& c : cases) {
        EXPECT_EQ(name_of(recognise_text(c.sample, true)), c.expected) << c.what;
        EXPECT_EQ(name_of(format_by_content(c.sample, true)), c.expected) << c.what;
    }
    // A line cut by the end of a sample that is not the whole file is left out.
    EXPECT_EQ(name_of(recognise_text("Title\na$b\nc", false)), "lexaro");
    EXPECT_EQ(name_of(recognise_text("Title\na$b\nno dollar here", true)), "none");
}

// The formats with a shape of their own, told apart from each other and from
// the plain text formats by their first lines alone.
TEST(ImportFormats, RecognisesEachFormatByItsFirstLines) {
    struct sample_case {
        const char* what;
        std::string sample;
        std::string_view expected;
    };
    const sample_case cases[] = {
        {"DSL", "#NAME \"En-Ru\"\n#INDEX_LANGUAGE \"English\"\n\nword\n\tslovo\n", "dsl"},
        {"DSL led by its languages", "#INDEX_LANGUAGE \"English\"\nword\n\tx\n", "dsl"},
        {"XDXF", "<?xml version=\"1.0\"?>\n<xdxf lang_from=\"ENG\">\n<ar><k>a</k>b</ar>\n", "xdxf"},
        {"XDXF by its doctype", "<!DOCTYPE xdxf SYSTEM \"x.dtd\">\n", "xdxf"},
        {"TEI P5", "<?xml version=\"1.0\"?>\n<TEI xmlns=\"http://www.tei-c.org/ns/1.0\">\n", "tei"},
        {"TEI P4", "<!DOCTYPE TEI.2 SYSTEM \"freedict-P4.dtd\">\n<TEI.2>\n<teiHeader>", "tei"},
        {"TEI P4 without doctype", "<TEI.2>\n<teiHeader>", "tei"},
        {"a TEI part by its namespace", "<div xmlns=\"http://www.tei-c.org/ns/1.0\"><entry>", "tei"},
        {"other XML", "<?xml version=\"1.0\"?>\n<TEIX><entry>", "none"},
        {"EDICT", "\xE3\x80\x80\xEF\xBC\x9F\xEF\xBC\x9F\xEF\xBC\x9F /EDICT/\n"
                  "\xE7\x9D\x80 [\xE3\x81\xA1] /(n) x/\n", "edict"},
        {"CC-CEDICT", "# CC-CEDICT\n#! version=1\n\xE4\xB8\xAD \xE4\xB8\xAD [zhong1] /middle/\n",
         "cedict"},
        {"CC-CEDICT lines alone", "\xE4\xB8\xAD\xE5\x9C\x8B \xE4\xB8\xAD\xE5\x9B\xBD [Zhong1 guo2] /China/\n",
         "cedict"},
        {"dict.cc", "# dict.cc German-English\n# Date\nHaus {n}\thouse\tnoun\t\n", "dictcc"},
        {"Wiktextract", "{\"word\": \"a\", \"pos\": \"noun\", \"senses\": []}\n", "wiktextract"},
        {"JSON of another kind", "{\"name\": \"a\"}\n", "none"},
    };
    for (const sample_case& c : cases)
        EXPECT_EQ(name_of(format_by_content(c.sample, true)), c.expected) << c.what;
}

TEST(ImportFormats, KnowsFormatsByTheirFileNames) {
    scratch_dir dir;
    write_file(dir / "star.ifo", "");
    const std::pair<std::string, std::string_view> cases[] = {
        {"x.index", "dictd"},           {"x.dict.dz", "dictd"},
        {"x.dict", "dictd"},            {dir / "star.dict.dz", "stardict"},
        {"x.idx.gz", "stardict"},       {"x.syn", "stardict"},
        {"x.dsl", "dsl"},               {"x.dsl.dz", "dsl"},
        {"x.xdxf.gz", "xdxf"},          {"x.jsonl.gz", "wiktextract"},
        {"deu-eng.tei", "tei"},         {"x.tei.gz", "tei"},
        {"x.csv", "csv"},               {"x.tsv", "tab"},
        {"x.txt", "none"},              {"x.index.gz", "none"},
        {".dsl", "none"},               {"x.dz", "none"},
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(name_of(format_by_name(path)), expected) << path;
    EXPECT_EQ(files_read(*format_from_name("stardict"), dir / "star.dict.dz"),
              (std::vector<std::string>{dir / "star.dict.dz", dir / "star.ifo"}));
    EXPECT_EQ(files_read(*format_from_name("dsl"), "x.dsl"), (std::vector<std::string>{"x.dsl"}));
}

// What the web page shows as soon as files are chosen comes from here: the
// format as the run settles it, or its message, and the database's name.
TEST(ImportFormats, OpensTheInputAsTheRunDoes) {
    scratch_dir dir;
    write_file(dir / "star.ifo", "");
    write_file(dir / "words.txt", "a\tb\nc\td\n");
    write_file(dir / "empty.txt", "");
    write_file(dir / "notes.txt", "nothing\nof the kind\n");
    write_file(dir / "list.csv", "a\tb\n");
    struct open_case {
        std::string input;
        const char* given_format;  // "" when recognised
        std::string expected;      // a format's name, or the message
    };
    const open_case cases[] = {
        {dir / "star.ifo", "", "stardict"},
        {dir / "words.txt", "", "tab"},
        {dir / "list.csv", "", "csv"},
        {dir / "list.csv", "tab", "tab"},
        {dir / "empty.txt", "", dir / "empty.txt" + " is empty"},
        {dir / "notes.txt", "",
         "can't tell the format of " + dir / "notes.txt" + "; name it with --format (" +
             format_names() + ")"},
        {"-", "stardict",
         "-: stardict dictionaries are read from their files, which lie side by side; name one "
         "of them, not standard input"},
    };
    for (const open_case& c : cases) {
        options o;
        o.inputs = {c.input};
        if (*c.given_format != '\0') o.input_formats = {*format_from_name(c.given_format)};
        std::unique_ptr<text_input> text;
        try {
            EXPECT_EQ(format_name(open_input(o, 0, text)), c.expected) << c.input;
        } catch (const import_error& e) {
            EXPECT_EQ(e.what(), c.expected) << c.input;
        }
    }
    const std::pair<std::string, std::string> names[] = {
        {"/usr/share/dictd/freedict-deu-eng.index", "freedict-deu-eng"},
        {"czech-cizi.dict.dz", "czech-cizi"},
        {"d/x.idx.gz", "x"},
        {"edict", "edict"},
        {"de-en.v2.txt", "de-en.v2"},
        {"cedict_ts.u8", "cedict_ts.u8"},
        {"dl/jmdict_english.zip", "jmdict_english"},
        {".dsl", ".dsl"},
    };
    for (const auto& [path, expected] : names) EXPECT_EQ(dictionary_name(path), expected) << path;
}

TEST(ImportCommandLine, TakesOptionsInBothFormsAnywhere) {
    std::string problem;
    const auto o =
        parse_arguments({"in.index", "--format=dictd", "--title", "T", "--join=/", "--newline",
                         "<>", "--keep-duplicates", "--charset=CP1252", "out.txt"},
                        problem);
    ASSERT_TRUE(o) << problem;
    EXPECT_EQ(o->inputs, std::vector<std::string>{"in.index"});
    EXPECT_EQ(o->output, "out.txt");
    EXPECT_EQ(o->input_formats, std::vector<format>{*format_from_name("dictd")});
    EXPECT_EQ(o->title, "T");
    EXPECT_EQ(o->join, "/");
    EXPECT_EQ(o->newline, "<>");
    EXPECT_TRUE(o->keep_duplicates);
    EXPECT_EQ(o->charset, "CP1252");

    const auto defaults = parse_arguments({"--", "-in", "-"}, problem);
    ASSERT_TRUE(defaults) << problem;
    EXPECT_EQ(defaults->inputs, std::vector<std::string>{"-in"});
    EXPECT_EQ(defaults->output, "-");
    EXPECT_EQ(defaults->join, " | ");
    EXPECT_EQ(defaults->newline, "; ");
    EXPECT_FALSE(defaults->title);
    EXPECT_TRUE(defaults->input_formats.empty());

    // Every file name but the last is an input; --format once for each.
    const auto several = parse_arguments(
        {"a.index", "--format=dictd", "b", "--format", "trans", "-", "--format=tab", "out"}, problem);
    ASSERT_TRUE(several) << problem;
    EXPECT_EQ(several->inputs, (std::vector<std::string>{"a.index", "b", "-"}));
    EXPECT_EQ(several->output, "out");
    EXPECT_EQ(several->input_formats, (std::vector<format>{*format_from_name("dictd"),
                                                            *format_from_name("trans"),
                                                            *format_from_name("tab")}));

    const auto empty_title = parse_arguments({"a", "b", "--title="}, problem);
    ASSERT_TRUE(empty_title);
    EXPECT_EQ(empty_title->title, "");
}

TEST(ImportCommandLine, RefusesWhatItCannotUse) {
    struct usage_case {
        std::vector<std::string_view> args;
        const char* problem;
    };
    const usage_case cases[] = {
        {{}, "give an input and an output file"},
        {{"in"}, "give an input and an output file"},
        {{"-", "b", "-", "c"}, "standard input (-) is named twice; it can be read once"},
        {{"a", "--format=tab", "b", "--format=tab", "c", "out"},
         "--format is given 2 times for 3 inputs; give it once for all of them, or once for each "
         "in their order"},
        {{"--format=tab", "--format=tab", "a", "out"},
         "--format is given 2 times for 1 input; give it once for all of them, or once for each "
         "in their order"},
        {{"a", "", "out"}, "a file name is empty"},
        {{"a", "b", "--format"}, "option --format needs a value"},
        {{"a", "b", "--format=rtf"},
         "unknown format rtf; the formats are stardict, dictd, babylon, mdict, yomitan, dsl, xdxf, "
         "tei, jmdict, wiktextract, edict, cedict, dictcc, tab, trans, lexaro or csv"},
        {{"a", "b", "--charset="}, "option --charset needs a value"},
        {{"a", "b", "--keep-duplicates=yes"}, "unknown option --keep-duplicates=yes"},
        {{"a", "b", "--titles=x"}, "unknown option --titles=x"},
        {{"a", "b", "-t"}, "unknown option -t"},
        {{"", "b"}, "a file name is empty"},
    };
    for (const usage_case& c : cases) {
        std::string problem;
        EXPECT_FALSE(parse_arguments(c.args, problem));
        EXPECT_EQ(problem, c.problem);
    }
}

}  // namespace
}  // namespace lexaro::import
