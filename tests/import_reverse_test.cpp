// lexaro-import --reverse: the terms of translations made words, from the
// clean text and from what readers that know their structure hand over,
// and their order in the merged entry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format_test_support.h"
#include "import/entry_table.h"
#include "import/reverse.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

using import::raw_entry;
using import::reverser;

// The reversed entries of one entry, "term$translation" each, in order.
std::vector<std::string> reversed(reverser& r, std::string_view word,
                                  std::string_view translation, const raw_entry& raw = {}) {
    std::vector<std::string> out;
    const std::size_t count = r.reverse(word, translation, raw);
    std::string t;
    for (std::size_t i = 0; i < count; ++i) {
        r.translation(i, t);
        out.push_back(std::string(r.term(i)) + "$" + t);
    }
    return out;
}

struct term_case {
    const char* what;
    std::string word;
    std::string translation;  // clean: lines apart by '\n'
    std::vector<std::string> expected;
};

// Translations laid out as the dictionaries lay them out, as the clean-up
// hands them on.
TEST(ImportReverse, TermsOfTheCleanText) {
    const term_case cases[] = {
        // FreeDict's dictd articles: the headword's pronunciation and
        // grammar, labelled senses, examples, notes and cross references.
        {"FreeDict deu-eng", "essen",
         "/\xCB\x88\xC9\x9Bs\xC9\x99n/ <v, intr, trans>\n"
         "[cook.] eat <v>\n"
         "\"zu Hause essen\"  - eat in\n"
         "\"sich satt essen\"  - eat one's fill\n"
         "Note: of a meal\n"
         "Synonyms: {speisen}, {dinieren}\n"
         "see: {essend}, {gegessen}",
         {"eat$essen <v>"}},
        {"FreeDict deu-eng, annotations within a sense", "Abblaseventil",
         "/\xCB\x88"
         "apbl/ <neut, n, sg>\n"
         "turbo-relief valve <n>, anti-surge valve <n> [Br.] , blow-off valve <n> {techn.}\n"
         "Note: of the exhaust gas turbocharger",
         {"turbo-relief valve$Abblaseventil <n>", "anti-surge valve$Abblaseventil <n>",
          "blow-off valve$Abblaseventil <n>"}},
        {"the headword's grammar where a term has none", "amender",
         "/am\xC9\x91\xCC\x83" "de/ <v>\n1. improve\n2. fertilize, enrich the soil",
         {"improve$amender <v>", "fertilize$amender <v>", "enrich the soil$amender <v>"}},
        {"no grammar at all", "Ases", "[mus.] A, A sharp",
         {"A$Ases", "A sharp$Ases"}},
        {"senses on one line, sub-senses, bullets", "banco",
         "1. bank 2. bench; seat\nII. a) pew\n\xE2\x80\xA2 shoal\nshelf; 1. reef 2. school, 3 fish",
         {"bank$banco", "bench$banco", "seat$banco", "pew$banco", "shoal$banco", "shelf$banco",
          "reef$banco", "school$banco", "3 fish$banco"}},
        {"separators: ; , | and their full-width forms; no cut in 0,5 or brackets", "x",
         "one; two | three, four\nhalf (0,5; ca.) litre, 0,5 l\n"
         "\xE4\xB8\x80\xEF\xBC\x8C\xE4\xBA\x8C\xE3\x80\x81\xE4\xB8\x89",
         {"one$x", "two$x", "three$x", "four$x", "half litre$x", "0,5 l$x",
          "\xE4\xB8\x80$x", "\xE4\xBA\x8C$x", "\xE4\xB8\x89$x"}},
        {"annotations of every bracket, pronunciations, an unclosed bracket", "Haus",
         "{n} house [archi.] (building) /ha\xCA\x8As/, home (of one's own\n<n> hut",
         {"house$Haus", "home$Haus", "hut$Haus <n>"}},
        {"multi-word terms whole; more than five words are no word", "pension",
         "pension de famille, take a house, a phrase of six words in all, one two three four five",
         {"pension de famille$pension", "take a house$pension",
          "one two three four five$pension"}},
        {"English verbs written with to, not other phrases with it", "gehen",
         "to go, to the left, to and fro, go to\n<adv> to hand",
         {"go$gehen", "to the left$gehen", "to and fro$gehen", "go to$gehen", "to hand$gehen <adv>"}},
        {"objects left open, slashes as alternatives", "wenden",
         "double sth., disenfranchise sb.:, turn towards/to sb./sth., jdm. etw. geben, "
         "canvass etc., Take it., "
         "resident parking permit/pass, km/h, I/O, 24/7",
         {"double$wenden", "disenfranchise$wenden", "turn towards$wenden", "turn to$wenden", "jdm. etw. geben$wenden",
          "canvass$wenden", "Take it$wenden", "resident parking permit$wenden",
          "resident parking pass$wenden", "km/h$wenden", "I/O$wenden", "24/7$wenden"}},
        {"quotes around a term, ellipses, sentences, stops standing alone", "x",
         "\xE2\x80\x9E" "Faust\xE2\x80\x9C, 'Under Milk Wood', as well as ..., from ... to, "
         "\xE2\x80\xA6 in physics, Extremes meet., Act your age ., approx., U.S., What now?, "
         "\xE2\x80\x9CHerr\xE2\x80\x9D ..., \" \"",
         {"Faust$x", "Under Milk Wood$x", "as well as$x", "from ... to$x", "in physics$x",
          "Extremes meet$x", "Act your age$x", "approx.$x", "U.S.$x", "What now?$x", "Herr$x"}},
        {"lines of examples, cross references, notes and arrows left out; other labels cut off",
         "x",
         "\"ein Haus\" - a house\n\xC2\xAB une maison \xC2\xBB - a house\n\"zu Hause\"  = at home\n"
         "See also: home\n"
         "Synonym: dwelling\nAnmerkung: alt\n\xE2\x86\x92 abode\nnoun: house, home",
         {"house$x", "home$x"}},
        {"words as words are written: '$' and white space", "x",
         "US$ 5, tab\there, no\xC2\xA0" "break",
         {"US\xEF\xBC\x84 5$x", "tab here$x", "no break$x"}},
        {"each term once, the first label kept", "x", "house <n>, home, house, house <v>",
         {"house$x <n>", "home$x"}},
        {"nothing but annotations and marks", "x", "/pron/ <n>\n[ugs.] (...)\n--, \xE2\x80\x94",
         {}},
    };
    for (const term_case& c : cases) {
        reverser r;
        EXPECT_EQ(reversed(r, c.word, c.translation), c.expected) << c.what;
        EXPECT_EQ(r.rank(), c.expected.size()) << c.what;
    }
}

TEST(ImportReverse, TermsThatAReaderHandsOver) {
    struct reader_case {
        const char* what;
        std::string translation;
        bool has_terms;
        std::string terms;
        std::string grammar;
        std::vector<std::string> expected;
    };
    const reader_case cases[] = {
        {"the terms, not the text; the term's own grammar before the word's", "whatever, text",
         true, "to eat <vt>\nhave lunch, dine\n", "v",
         {"eat$comer <vt>", "have lunch$comer <v>", "dine$comer <v>"}},
        {"a term's annotations and alternatives", "", true, "to eat {ate; eaten} [sth.]; to feed",
         "vt", {"eat$comer <vt>", "feed$comer <vt>"}},
        {"none: nothing from the text either", "eat, dine", true, "", "v", {}},
        {"not handed over: from the text, with the reader's grammar", "eat, dine", false, "",
         "v", {"eat$comer <v>", "dine$comer <v>"}},
    };
    for (const reader_case& c : cases) {
        raw_entry raw;
        raw.has_terms = c.has_terms;
        raw.terms = c.terms;
        raw.grammar = c.grammar;
        reverser r;
        EXPECT_EQ(reversed(r, "comer", c.translation, raw), c.expected) << c.what;
    }
}

TEST(ImportReverse, CountsWhatItMadeAndLeftOut) {
    reverser r;
    reversed(r, "a", "one, two, one\n\"ex\" - ample\nsee: b\none two three four five six");
    raw_entry handed;
    handed.has_terms = true;
    handed.terms = "three\n...";
    reversed(r, "b", "", handed);
    reversed(r, "c", "/pron/");
    const import::reverse_counts& c = r.counts();
    EXPECT_EQ(c.entries, 3u);
    EXPECT_EQ(c.terms, 3u);
    EXPECT_EQ(c.from_readers, 1u);
    EXPECT_EQ(c.without_terms, 1u);
    EXPECT_EQ(c.repeats, 1u);
    EXPECT_EQ(c.long_terms, 1u);
    EXPECT_EQ(c.examples, 1u);
    EXPECT_EQ(c.references, 1u);
    EXPECT_EQ(c.no_letters, 0u);
    EXPECT_EQ(c.beyond_bound, 0u);
}

// Thousands of terms in one entry: each once, found by hash, and a long word
// cannot make the reversed entries grow past eight times the entry.
TEST(ImportReverse, ManyTermsOfOneEntry) {
    std::string many;
    for (int i = 0; i < 3000; ++i) many += "t" + std::to_string(i % 2000) + ", ";
    reverser r;
    const std::vector<std::string> out = reversed(r, "w", many);
    ASSERT_EQ(out.size(), 2000u);
    EXPECT_EQ(out.front(), "t0$w");
    EXPECT_EQ(out.back(), "t1999$w");
    EXPECT_EQ(r.counts().repeats, 1000u);
    EXPECT_EQ(r.rank(), 255u);

    const std::string long_word(100000, 'w');
    const std::size_t count = r.reverse(long_word, many, {});
    EXPECT_LT(count * long_word.size(), 8 * (long_word.size() + many.size()) + 4096);
    EXPECT_EQ(r.counts().beyond_bound + r.counts().repeats, 1000u + 3000u - count);
}

// Equal words come in the order of their ranks, then of input; with grammar
// labels, a word without a label repeats the same word with one.
TEST(ImportEntryTable, RanksOrderEqualWordsAndLabelsRepeat) {
    struct ranked {
        std::string word, translation;
        unsigned rank;
    };
    const std::vector<ranked> entries = {
        {"eat", "speisen <v>", 3}, {"eat", "essen <v>", 1},      {"eater", "Esser <n>", 2},
        {"eat", "fressen <v>", 1}, {"eat", "speisen <v>", 1},    {"eat", "essen", 2},
        {"Eat", "x", 0},           {"eat", "fressen <v, vi>", 4}, {"eat", "futtern", 5},
        {"eat", "futtern <v>", 6},
    };
    struct merge_case {
        const char* what;
        bool labels;
        bool keep;
        std::vector<std::string> expected;
    };
    const merge_case cases[] = {
        {"merged, labels known", true, false,
         {"Eat$x", "eat$essen <v>; fressen <v>; speisen <v>; fressen <v, vi>; futtern",
          "eater$Esser <n>"}},
        {"merged, labels not known", false, false,
         {"Eat$x",
          "eat$essen <v>; fressen <v>; speisen <v>; essen; fressen <v, vi>; futtern; futtern <v>",
          "eater$Esser <n>"}},
        {"each entry kept, by rank", true, true,
         {"Eat$x", "eat$essen <v>", "eat$fressen <v>", "eat$speisen <v>", "eat$essen",
          "eat$speisen <v>", "eat$fressen <v, vi>", "eat$futtern", "eat$futtern <v>",
          "eater$Esser <n>"}},
    };
    for (const merge_case& c : cases) {
        import::entry_table table(!c.keep);
        for (const ranked& e : entries) table.add(e.word, e.translation, false, e.rank);
        table.sort();
        import::merge_options options;
        options.join = "; ";
        options.keep_duplicates = c.keep;
        options.grammar_labels = c.labels;
        import::merge_counts counts;
        const std::vector<std::string> lines = word_lines(table, options, counts);
        EXPECT_EQ(lines, c.expected) << c.what;
    }
}

// Ranks among words long enough to be compared whole, and among repeats
// that the table drops as they come: a repeat of a lower rank is no repeat
// of one of a higher rank until the merge, which keeps the first in order.
TEST(ImportEntryTable, RanksOrderLongWordsAndRepeatsAlike) {
    const std::string long_word = "a word long enough to be compared whole";
    struct ranked {
        std::string word, translation;
        unsigned rank;
    };
    const std::vector<ranked> entries = {
        {long_word, "c", 3}, {long_word + "s", "z", 0}, {long_word, "b", 2},
        {long_word, "c", 1}, {"w", "a", 3},             {"w", "b", 2},
        {"w", "a", 1},       {long_word, "a", 2},
    };
    import::entry_table table;
    for (const ranked& e : entries) table.add(e.word, e.translation, false, e.rank);
    table.sort();
    import::merge_options options;
    options.join = "; ";
    import::merge_counts counts;
    std::vector<std::string> lines = word_lines(table, options, counts);
    EXPECT_EQ(lines, (std::vector<std::string>{long_word + "$c; b; a", long_word + "s$z", "w$a; b"}));
    EXPECT_EQ(counts.repeats, 2u);

    // Entries of two inputs: each input's together, by rank within it.
    import::entry_table inputs;
    inputs.begin_input("one");
    inputs.add(long_word, "x3", false, 3);
    inputs.add("w", "x3", false, 3);
    inputs.add(long_word, "x1", false, 1);
    inputs.add("w", "x1", false, 1);
    inputs.begin_input("two");
    inputs.add("w", "y2", false, 2);
    inputs.add(long_word, "y2", false, 2);
    inputs.add(long_word, "y0", false, 0);
    inputs.add("w", "y0", false, 0);
    inputs.sort();
    lines = word_lines(inputs, options, counts);
    EXPECT_EQ(lines, (std::vector<std::string>{long_word + "$[one] x1; x3; [two] y0; y2",
                                               "w$[one] x1; x3; [two] y0; y2"}));
}

// FreeDict-shaped articles in a tab file: the terms come from the text.
// "eat" is essen's alone, one of two of speisen's, one of three of
// fressen's: they come in that order.
const std::string freedict_tab =
    "##name German-English\n"
    "essen\t/\xCB\x88\xC9\x9Bs\xC9\x99n/ <v, intr, trans>\\n [cook.] eat <v>\\n"
    "      \"zu Hause essen\"  - eat in\\n see: {essend}, {gegessen}\n"
    "fressen\t/fr\xCB\x88\xC9\x9Bs\xC9\x99n/ <v, intr>\\ngormandize <v> [eAm.] , guzzle <v>, eat <v>\n"
    "speisen\t<v>\\n[geh.] dine, eat\n"
    "Mahl\t/ma\xCB\x90l/ <neut, n, sg>\\nmeal <n>\\n   Synonym: {Essen}\n"
    "Caf\xC3\xA9\t<n>\\ncaf\xC3\xA9, Caf\xC3\xA9 (the place)\n";

TEST(ImportReverse, EachReadersTermsEndToEnd) {
    check_cases({
        {"FreeDict's layout, from the text; the order of the words that give a term",
         "de-en.tab", freedict_tab, {"--reverse"},
         "German-English\n"
         "Caf\xC3\xA9$Caf\xC3\xA9 <n>\n"
         "caf\xC3\xA9$Caf\xC3\xA9 <n>\n"
         "dine$speisen <v>\n"
         "eat$essen <v>; speisen <v>; fressen <v>\n"
         "gormandize$fressen <v>\n"
         "guzzle$fressen <v>\n"
         "meal$Mahl <n>\n"},
        {"TEI: the quotes of translations, not examples or cross references",
         "es-en.tei",
         "<TEI xmlns=\"http://www.tei-c.org/ns/1.0\"><text><body>\n"
         "<entry><form><orth>banco</orth><pron>\xCB\x88" "banko</pron></form>\n"
         " <gramGrp><pos>n</pos><gen>m</gen></gramGrp>\n"
         " <sense n=\"1\"><usg type=\"dom\">fin.</usg><cit type=\"trans\"><quote>bank</quote></cit></sense>\n"
         " <sense n=\"2\"><cit type=\"trans\"><quote>bench</quote><quote>seat, pew</quote></cit>\n"
         "  <cit type=\"example\"><quote>un banco de madera</quote>"
         "<cit type=\"trans\"><quote>a wooden bench</quote></cit></cit>\n"
         "  <xr type=\"syn\"><ref target=\"#asiento\">asiento</ref></xr><note>also a shoal</note></sense>\n"
         "</entry>\n"
         "<entry><form><orth>comer</orth></form><gramGrp><pos>v</pos></gramGrp>"
         "<sense><gramGrp><pos>vt</pos></gramGrp><cit type=\"trans\"><quote>to eat</quote></cit>"
         "<cit type=\"trans\"><quote>to have lunch</quote><gramGrp><pos>vi</pos></gramGrp></cit>"
         "</sense></entry>\n"
         "<entry><form><orth>sol</orth></form><sense><def>the star at the centre</def></sense></entry>\n"
         "</body></text></TEI>\n",
         {"--reverse"},
         "es-en\n"
         "bank$banco <n, m>\nbench$banco <n, m>\neat$comer <vt>\nhave lunch$comer <vi>\n"
         "pew$banco <n, m>\nseat$banco <n, m>\nthe star at the centre$sol\n"},
        {"TEI as FreeDict's deu-eng writes it: languages, grammar within each translation; P4",
         "de-en.tei",
         "<TEI xmlns=\"http://www.tei-c.org/ns/1.0\"><text><body>\n"
         "<entry xml:id=\"A.1\">\n  <form>\n    <orth>A</orth>\n  </form>\n"
         "  <gramGrp>\n    <gen>neut</gen>\n    <pos>n</pos>\n    <number>sg</number>\n  </gramGrp>\n"
         "  <sense>\n    <cit type=\"trans\">\n      <quote xml:lang=\"en\">A</quote>\n"
         "      <gramGrp>\n        <pos>n</pos>\n      </gramGrp>\n    </cit>\n"
         "    <cit type=\"trans\">\n      <quote xml:lang=\"en\">A sharp</quote>\n    </cit>\n"
         "    <cit type=\"example\">\n      <quote xml:lang=\"de\">A-Dur</quote>\n"
         "      <cit type=\"trans\">\n        <quote xml:lang=\"en\">A major</quote>\n      </cit>\n"
         "    </cit>\n    <xr type=\"syn\">\n      <ref target=\"#Ais.1\">Ais</ref>\n    </xr>\n"
         "  </sense>\n</entry>\n"
         "<entry><form><orth>Bank</orth></form><hom><gramGrp><pos>n</pos><gen>f</gen></gramGrp>"
         "<sense><trans><tr>bench</tr><tr>(to) sit</tr></trans></sense></hom></entry>\n"
         "</body></text></TEI>\n",
         {"--reverse"},
         "de-en\nA$A <n>\nA sharp$A <neut, n, sg>\nbench$Bank <n, f>\nsit$Bank <n, f>\n"},
        {"dict.cc: the translation column, the word class",
         "dictcc.txt",
         "# dict.cc German-English vocabulary database\n"
         "Haus {n}\thouse\tnoun\t[archi.]\n"
         "essen\tto eat [sth.]\tverb\t\n"
         "fressen [Tiere]\tto eat\tverb\n"
         "Essen {n}\tmeal\tnoun\n"
         "etw. aufessen\tto eat sth. up\tverb\n"
         "Rock {m} [ugs.]\t(rock) music {f}\tnoun\n",
         {"--reverse"},
         "dict.cc German-English vocabulary database\n"
         "eat$essen <verb>; fressen <verb>\neat sth. up$etw. aufessen <verb>\nhouse$Haus <noun>\n"
         "meal$Essen <noun>\nmusic$Rock <noun>\n"},
        {"trans: the English part, the German alternative's braces",
         "de-en",
         "# Version :: test 1\n"
         "Haus {n}; Geb\xC3\xA4ude {n} | H\xC3\xA4user {pl} :: house; building | houses\n"
         "essen {vt} :: to eat {ate; eaten}\n"
         "Essen {n} [cook.] :: meal, food\n",
         {"--reverse", "--format", "trans"},
         "de-en test 1\n"
         "building$Haus <n>; Geb\xC3\xA4ude <n>\neat$essen <vt>\nfood$Essen <n>\n"
         "house$Haus <n>; Geb\xC3\xA4ude <n>\nhouses$H\xC3\xA4user <pl>\nmeal$Essen <n>\n"},
        {"Wiktextract: the glosses, the part of speech",
         "de.jsonl",
         "{\"word\": \"Haus\", \"pos\": \"noun\", \"senses\": [{\"glosses\": [\"house\"]}, "
         "{\"glosses\": [\"(figuratively) home, household\"]}]}\n"
         "{\"word\": \"essen\", \"pos\": \"verb\", \"senses\": [{\"glosses\": [\"to eat\"]}]}\n",
         {"--reverse"},
         "de\neat$essen <verb>\nhome$Haus <noun>\nhouse$Haus <noun>\nhousehold$Haus <noun>\n"},
        {"Wiktextract's translations: the entry's word",
         "en.jsonl",
         "{\"word\": \"house\", \"pos\": \"noun\", \"translations\": [{\"code\": \"de\", "
         "\"word\": \"Haus\", \"sense\": \"abode\"}, {\"code\": \"de\", \"word\": \"Heim\"}]}\n",
         {"--reverse", "--translations", "de"},
         "en\nhouse$Haus <noun>; Heim <noun>\n"},
        {"EDICT: the glosses, the first gloss's parts of speech",
         "edict",
         "\xE3\x80\x80\xEF\xBC\x9F\xEF\xBC\x9F\xEF\xBC\x9F /EDICT/\n"
         "\xE6\x97\xA5\xE6\x9C\xAC [\xE3\x81\xAB\xE3\x81\xBB\xE3\x82\x93] "
         "/(n) (1) Japan/(2) the Japanese/(P)/EntL1582710X/\n"
         "\xE9\xA3\x9F\xE3\x81\xB9\xE3\x82\x8B [\xE3\x81\x9F\xE3\x81\xB9\xE3\x82\x8B] "
         "/(v1,vt) (1) to eat/(2) to live on (e.g. a salary)/(P)/\n",
         {"--reverse"},
         "EDICT\n"
         "Japan$\xE6\x97\xA5\xE6\x9C\xAC <n>; \xE3\x81\xAB\xE3\x81\xBB\xE3\x82\x93 <n>\n"
         "eat$\xE9\xA3\x9F\xE3\x81\xB9\xE3\x82\x8B <v1,vt>; \xE3\x81\x9F\xE3\x81\xB9\xE3\x82\x8B <v1,vt>\n"
         "live on$\xE9\xA3\x9F\xE3\x81\xB9\xE3\x82\x8B <v1,vt>; \xE3\x81\x9F\xE3\x81\xB9\xE3\x82\x8B <v1,vt>\n"
         "the Japanese$\xE6\x97\xA5\xE6\x9C\xAC <n>; \xE3\x81\xAB\xE3\x81\xBB\xE3\x82\x93 <n>\n"},
        {"JMdict: the glosses of the senses in the language asked for, their parts of speech",
         "JMdict.xml",
         "<?xml version=\"1.0\"?>\n<!DOCTYPE JMdict [\n<!ENTITY pn \"pronoun\">\n"
         "<!ENTITY n \"noun (common) (futsuumeishi)\">\n]>\n<JMdict>\n"
         "<entry><ent_seq>1</ent_seq><k_ele><keb>\xE5\xBD\xBC\xE5\x87\xA6</keb></k_ele>"
         "<r_ele><reb>\xE3\x81\x82\xE3\x81\x9D\xE3\x81\x93</reb></r_ele>"
         "<sense><pos>&pn;</pos><gloss>there</gloss><gloss>over there</gloss></sense>"
         "<sense><pos>&n;</pos><gloss>genitals</gloss></sense><sense><gloss>that far</gloss></sense>"
         "<sense><gloss xml:lang=\"ger\">dort</gloss></sense></entry>\n</JMdict>\n",
         {"--reverse"},
         "JMdict\n"
         "genitals$\xE5\xBD\xBC\xE5\x87\xA6 <n>; \xE3\x81\x82\xE3\x81\x9D\xE3\x81\x93 <n>\n"
         "over there$\xE5\xBD\xBC\xE5\x87\xA6 <pn>; \xE3\x81\x82\xE3\x81\x9D\xE3\x81\x93 <pn>\n"
         "that far$\xE5\xBD\xBC\xE5\x87\xA6 <n>; \xE3\x81\x82\xE3\x81\x9D\xE3\x81\x93 <n>\n"
         "there$\xE5\xBD\xBC\xE5\x87\xA6 <pn>; \xE3\x81\x82\xE3\x81\x9D\xE3\x81\x93 <pn>\n"},
        {"CC-CEDICT: the glosses, not classifiers or cross references",
         "cedict.txt",
         "# CC-CEDICT\n"
         "\xE5\x90\x83 \xE5\x90\x83 [chi1] /to eat/to consume/CL:\xE6\xAC\xA1[ci4]/"
         "see also \xE5\x90\x83\xE9\xA3\xAF|\xE5\x90\x83\xE9\xA5\xAD[chi1 fan4]/\n"
         "\xE5\x96\xAB \xE5\x90\x83 [chi1] /variant of \xE5\x90\x83[chi1]/\n"
         "\xE7\x8E\x8B \xE7\x8E\x8B [Wang2] /surname Wang/king or monarch/abbr. for "
         "\xE7\x8E\x8B\xE5\xBA\x9C/\n",
         {"--reverse"},
         "CC-CEDICT\nconsume$\xE5\x90\x83\neat$\xE5\x90\x83\n"
         "king or monarch$\xE7\x8E\x8B\nsurname Wang$\xE7\x8E\x8B\n"},
    });
}

// With the other options: folding, a character set, the join, duplicates
// kept; the summary counts what the reversal made and left out.
TEST(ImportReverse, WorksWithTheOtherOptions) {
    check_summaries({
        {"the summary", "de-en.tab", freedict_tab, {"--reverse"},
         "German-English\n"
         "Caf\xC3\xA9$Caf\xC3\xA9 <n>\ncaf\xC3\xA9$Caf\xC3\xA9 <n>\ndine$speisen <v>\n"
         "eat$essen <v>; speisen <v>; fressen <v>\ngormandize$fressen <v>\nguzzle$fressen <v>\n"
         "meal$Mahl <n>\n",
         {"  entries read:    5",
          "  words written:   7",
          "  reversed:        5 entries into 9 terms (0 handed over by readers), 0 entries "
          "without one",
          "  left out:        0 terms of more than 5 words, 0 without a letter or digit, 0 "
          "repeated in their entry; 1 examples, 2 cross references and notes"}},
        {"folded to lower case and without accents, in CP1252, joined as asked",
         "de-en.tab", freedict_tab,
         {"--reverse", "--fold-case", "--fold-accents", "--charset", "CP1252", "--join", " / "},
         "German-English\n"
         "cafe$caf\xE9: Caf\xE9 <n> / Caf\xE9: Caf\xE9 <n>\ndine$speisen <v>\n"
         "eat$essen <v> / speisen <v> / fressen <v>\ngormandize$fressen <v>\nguzzle$fressen <v>\n"
         "meal$Mahl <n>\n",
         {"  case:            1 words folded to lower case",
          "  accents:         2 words written without their accents (Latin 2)"}},
        {"each entry kept", "de-en.tab", freedict_tab, {"--reverse", "--keep-duplicates"},
         "German-English\n"
         "Caf\xC3\xA9$Caf\xC3\xA9 <n>\ncaf\xC3\xA9$Caf\xC3\xA9 <n>\ndine$speisen <v>\n"
         "eat$essen <v>\neat$speisen <v>\neat$fressen <v>\ngormandize$fressen <v>\n"
         "guzzle$fressen <v>\nmeal$Mahl <n>\n",
         {}},
    });
}

// Several inputs: each input's words that give a term stay together under
// its label, in the order of the inputs, by rank within each.
TEST(ImportReverse, SeveralInputsKeepTheirWordsTogether) {
    scratch_dir dir;
    write_file(dir / "b.tab", "##name B\nfressen\t<v>\\nfeed, eat, munch\nfuttern\t<v>\\neat\n");
    write_file(dir / "a.tab", "##name A\nspeisen\t<v>\\ndine, eat\nessen\t<v>\\neat\n");
    const run_result run = run_lexaro_import({"--reverse", "b.tab", "a.tab", "out.txt"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir / "out.txt"),
              "B\ndine$speisen <v>\neat$[b] futtern <v>; fressen <v>; [a] essen <v>; speisen <v>\n"
              "feed$fressen <v>\nmunch$fressen <v>\n");
}

// The one command: the database holds what the source run writes.
TEST(ImportReverse, StraightToADatabase) {
    scratch_dir dir;
    write_file(dir / "de-en.tab", freedict_tab);
    const run_result source = run_lexaro_import({"--reverse", "de-en.tab", "out.txt"}, dir.path());
    ASSERT_EQ(source.status, 0) << source.err;
    const run_result database =
        run_lexaro_import({"--reverse", "de-en.tab", "out.pdb"}, dir.path());
    ASSERT_EQ(database.status, 0) << database.err;
    const run_result text = run_lexaro_dump({"--text", "out.pdb"}, dir.path());
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out, read_file(dir / "out.txt"));
}

}  // namespace
}  // namespace lexaro::test
