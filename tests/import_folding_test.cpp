// Words people can type on the handheld: --fold-case lowers case and leaves
// lower-case words alone, --fold-accents drops the diacritics of Latin, Greek
// and Cyrillic letters and keeps the marks of other scripts, and a word that
// the handheld's character set cannot write is left out, never written with
// '?'.
#include <gtest/gtest.h>

#include "format_test_support.h"
#include "import/word_folding.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

TEST(ImportFolding, WordsAreLoweredCharacterByCharacter) {
    struct folding_case {
        std::string word;
        std::string expected;
    };
    const folding_case cases[] = {
        // Lower-case words never change; final sigma ends a Greek word.
        {"λόγος µg straße ǆ ı", "λόγος µg straße ǆ ı"},
        {"ΛΌΓΟΣ ΣΊΣΥΦΟΣ, Σ ΟΔΥΣΣΕΑΣ.", "λόγος σίσυφος, σ οδυσσεας."},
        {"İYİ ẞ ǅ APPORTER Ω", "iyi ß ǆ apporter ω"},
        {"A\xFF"
         "B\xC3",
         "a\xFF"
         "b\xC3"},
    };
    for (const folding_case& c : cases) {
        std::string out = "stale";
        const bool changed = import::lower_case(c.word, out);
        EXPECT_EQ(out, c.expected) << c.word;
        EXPECT_EQ(changed, c.expected != c.word) << c.word;
    }
}

// Accents come off Latin, Greek and Cyrillic letters only: elsewhere a mark
// makes another letter or word (が is not か, Thai ข้าว "rice" is not ขาว
// "white").
TEST(ImportFolding, AccentsComeOffLatinGreekAndCyrillicLettersOnly) {
    constexpr unsigned latin = 1u << static_cast<unsigned>(import::script::latin);
    constexpr unsigned greek = 1u << static_cast<unsigned>(import::script::greek);
    constexpr unsigned cyrillic = 1u << static_cast<unsigned>(import::script::cyrillic);
    struct folding_case {
        std::string word;
        std::string expected;
        unsigned scripts;  // whose letters changed
    };
    const folding_case cases[] = {
        // Canonical decomposition without its marks, base letters, and marks
        // after such a letter.
        {"café École ǘ Việt", "cafe Ecole u Viet", latin},
        {"ΐ άλφα", "ι αλφα", greek},
        {"ёлка й ї", "елка и і", cyrillic},
        {"øØ łŁ đĐ ħ ŧ ƀ ǿ", "oO lL dD h t b o", latin},
        {"cafe\xCC\x81 a\xCC\xA7\xCC\x88 x\xCC\x81", "cafe a x", latin},
        {"\xCE\xB1\xCC\x81 \xD0\xBE\xCC\x81", "\xCE\xB1 \xD0\xBE", greek | cyrillic},
        {"ß æ ı Ω 中 क्ष \xFF", "ß æ ı Ω 中 क्ष \xFF", 0},
        // Marks that make other letters stay, composed or not.
        {"が パ ゔ か\xE3\x82\x99", "が パ ゔ か\xE3\x82\x99", 0},
        {"ข้าว ไม้", "ข้าว ไม้", 0},
        {"བོད་", "བོད་", 0},
        {"עִבְרִית שׁ", "עִבְרִית שׁ", 0},
        {"العَرَبِيَّة", "العَرَبِيَّة", 0},
        {"हिन्दी क़", "हिन्दी क़", 0},
        // A mark after another script's letter, or on its own, stays.
        {"中\xCC\x81 1\xCC\x81 \xCC\x81", "中\xCC\x81 1\xCC\x81 \xCC\x81", 0},
        // Mixed: only the Latin letter changes.
        {"とcafé", "とcafe", latin},
    };
    for (const folding_case& c : cases) {
        std::string out = "stale";
        unsigned scripts = 99;
        const bool changed = import::without_accents(c.word, out, scripts);
        EXPECT_EQ(out, c.expected) << c.word;
        EXPECT_EQ(changed, c.expected != c.word) << c.word;
        EXPECT_EQ(scripts, c.scripts) << c.word;
    }
}

TEST(ImportFolding, FoldCaseKeepsEveryLowerCaseWord) {
    check_cases({
        {"Greek, Unicode's lower case",
         "in.txt",
         "T\nλόγος$word\nΛΌΓΟΣ$WORD\nάνθρωπος$man\nµg$microgram\nİYİ$good\n",
         {"--fold-case"},
         "T\niyi$İYİ: good\nµg$microgram\nάνθρωπος$man\nλόγος$λόγος: word | ΛΌΓΟΣ: WORD\n"},
        {"Greek in CP1253",
         "in.txt",
         "T\nλόγος$word\nΛΌΓΟΣ$WORD\nάνθρωπος$man\n",
         {"--fold-case", "--charset", "CP1253"},
         "T\n\xDC\xED\xE8\xF1\xF9\xF0\xEF\xF2$man\n"
         "\xEB\xFC\xE3\xEF\xF2$\xEB\xFC\xE3\xEF\xF2: word | \xCB\xBC\xC3\xCF\xD3: WORD\n"},
        {"Turkish in CP1254",
         "in.txt",
         "T\nİYİ$good\niyi$fine\nırmak$river\nŞİŞE$BOTTLE\nşişe$bottle\n",
         {"--fold-case", "--charset", "CP1254"},
         "T\niyi$\xDDY\xDD: good | iyi: fine\n\xFDrmak$river\n"
         "\xFEi\xFE" "e$\xDE\xDD\xDE" "E: BOTTLE | \xFEi\xFE" "e: bottle\n"},
        {"a CP1252 input in CP1252",
         "in.txt",
         "T\n\xB5g$microgram\nSTRA\xDF"
         "E$street\nstra\xDF"
         "e$road\n",
         {"--fold-case", "--input-charset", "CP1252", "--charset", "CP1252"},
         "T\nstra\xDF" "e$STRA\xDF" "E: street | stra\xDF" "e: road\n\xB5g$microgram\n"},
    });
}

TEST(ImportFolding, FoldAccentsMergesTheWordsTypedWithoutThem) {
    check_cases({
        {"the dictionary's spelling first",
         "in.txt",
         "T\ncafé$coffee\ncafe$cafe, the word\nÉcole$school\n",
         {"--fold-accents"},
         "T\nEcole$École: school\ncafe$café: coffee | cafe: cafe, the word\n"},
        {"each spelling labelled, a repeat within one spelling left out",
         "in.txt",
         "T\ncafe$coffee\ncafé$coffee\ncafe$coffee\nthe$tea\n",
         {"--fold-accents"},
         "T\ncafe$cafe: coffee | café: coffee\nthe$tea\n"},
        {"lower case, then accents",
         "in.txt",
         "T\nÉCOLE$SCHOOL\nécole$school\n",
         {"--fold-accents", "--fold-case"},
         "T\necole$ÉCOLE: SCHOOL | école: school\n"},
        {"letters whose marks do not decompose",
         "in.txt",
         "T\nøl$beer\nłódź$boat\nđak$pupil\n",
         {"--fold-accents"},
         "T\ndak$đak: pupil\nlodz$łódź: boat\nol$øl: beer\n"},
        {"decomposed input, Greek and Cyrillic",
         "in.txt",
         "T\ncafe\xCC\x81$\nάνθρωπος$man\nёлка$fir\n",
         {"--fold-accents"},
         "T\ncafe$cafe\xCC\x81\nανθρωπος$άνθρωπος: man\nелка$ёлка: fir\n"},
        {"a word of marks alone stays",
         "in.txt",
         "T\n\xCC\x81$acute\n",
         {"--fold-accents"},
         "T\n\xCC\x81$acute\n"},
        {"before the charset",
         "in.txt",
         "T\nŁódź$city\n",
         {"--fold-accents", "--charset=CP1250"},
         "T\nLodz$\xA3\xF3"
         "d\x9F: city\n"},
    });
}

TEST(ImportFolding, FoldAccentsKeepsTheMarksOfOtherScriptsAndCountsEachScript) {
    check_summaries({
        {"every script",
         "in.txt",
         "T\nが$ga\nか$ka\nข้าว$rice\nขาว$white\nйод$iodine\nиод$x\nάλφα$alpha\nnaïve$naive\n"
         "עִבְרִית$Hebrew\nσοφία$wisdom\n",
         {"--fold-accents"},
         "T\nnaive$naïve: naive\nαλφα$άλφα: alpha\nσοφια$σοφία: wisdom\nиод$йод: iodine | иод: x\n"
         "עִבְרִית$Hebrew\nขาว$white\nข้าว$rice\nか$ka\nが$ga\n",
         {"  accents:         4 words written without their accents (Latin 1, Greek 2, Cyrillic 1)"}},
        {"nothing to change",
         "in.txt",
         "T\nが$ga\nabc$x\n",
         {"--fold-accents"},
         "T\nabc$x\nが$ga\n",
         {"  accents:         0 words written without their accents"}},
    });
}

TEST(ImportFolding, SummaryCountsOnlyTheWordsThatChanged) {
    struct summary_case {
        std::vector<std::string> options;
        std::string line;
    };
    const std::string input = "T\nλόγος$a\nµg$b\nstraße$c\nÉté$d\nété$e\nAPPORTER$f\n";
    const summary_case cases[] = {
        {{"--fold-case"}, "  case:            2 words folded to lower case\n"},
        {{"--fold-accents"},
         "  accents:         3 words written without their accents (Latin 2, Greek 1)\n"},
        {{"--fold-accents", "--fold-case"},
         "  case:            2 words folded to lower case\n"
         "  accents:         3 words written without their accents (Latin 2, Greek 1)\n"},
    };
    for (const summary_case& c : cases) {
        scratch_dir dir;
        write_file(dir / "in.txt", input);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"in.txt", "out.txt"});
        const run_result run = run_lexaro_import(args, dir.path());
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.err.find(c.line), std::string::npos) << run.err;
    }
}

// What the user typed finds the word in the database: a micro sign in CP1252,
// "cafe" for "café".
TEST(ImportFolding, TheWordAsTypedIsFoundInTheDatabase) {
    scratch_dir dir;
    write_file(dir / "in.txt", "T\nµg$microgram\nCAFÉ$coffee\nÉcole$school\n");
    const run_result run = run_lexaro_import(
        {"--fold-case", "--fold-accents", "--charset", "CP1252", "in.txt", "d.pdb"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    struct lookup {
        const char* typed;
        std::string shown;
    };
    for (const lookup& l : {lookup{"µg", "microgram\n"}, lookup{"cafe", "CAFÉ: coffee\n"},
                            lookup{"ecole", "École: school\n"}}) {
        const run_result found =
            run_lexaro_dump({"--lookup", l.typed, "--charset", "CP1252", "d.pdb"}, dir.path());
        EXPECT_EQ(found.status, 0) << l.typed << ": " << found.err;
        EXPECT_EQ(found.out, l.shown) << l.typed;
    }
}

TEST(ImportFolding, FreeDictFrenchWithoutAccentsIsSoundAndFoundAsTyped) {
    const std::string index = "/usr/share/dictd/freedict-fra-eng.index";
    if (!exists(index))
        GTEST_SKIP() << "dict-freedict-fra-eng is not installed (make test installs it)";
    scratch_dir dir;
    const run_result run =
        run_lexaro_import({"--fold-accents", "--charset", "CP1252", index, "fra.pdb"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    const run_result check = run_lexaro_dump({"--check", "fra.pdb"}, dir.path());
    ASSERT_EQ(check.status, 0) << check.err;
    EXPECT_NE(check.out.find("order:         ascending byte order\nduplicates:    none\n"),
              std::string::npos)
        << check.out;
    for (const auto& [typed, shown] : {std::pair{"cafe", "café: "}, {"ecole", "école: "}}) {
        const run_result found =
            run_lexaro_dump({"--lookup", typed, "--charset", "CP1252", "fra.pdb"}, dir.path());
        EXPECT_EQ(found.status, 0) << typed << ": " << found.err;
        EXPECT_EQ(found.out.substr(0, std::string(shown).size()), shown) << found.out;
    }
}

// EDICT's words are Japanese: no kana loses its voicing mark, and タイド
// ("tide") is found apart from タイト ("tight").
TEST(ImportFolding, EdictWithoutAccentsChangesNoWord) {
    const std::string edict = "/usr/share/edict/edict";
    if (!exists(edict)) GTEST_SKIP() << "edict is not installed (make test installs it)";
    scratch_dir dir;
    const run_result run =
        run_lexaro_import({"--fold-accents", "--charset", "SHIFT_JIS", edict, "e.pdb"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("  accents:         0 words written without their accents\n"),
              std::string::npos)
        << run.err;
    for (const auto& [typed, shown] :
         {std::pair{"タイド", "(n) (1) tide;"}, {"タイト", "(adj-na,n) (1) tight;"}}) {
        const run_result found =
            run_lexaro_dump({"--lookup", typed, "--charset", "SHIFT_JIS", "e.pdb"}, dir.path());
        EXPECT_EQ(found.status, 0) << typed << ": " << found.err;
        EXPECT_EQ(found.out.substr(0, std::string(shown).size()), shown) << found.out;
    }
}

TEST(ImportUnwritableWords, AreLeftOutNeverWrittenWithQuestionMarks) {
    check_cases({
        // Big5 has no simplified 国 or 学: 中国 would become 中? and merge
        // with every other word that did.
        {"CC-CEDICT in Big5",
         "cedict_ts.u8",
         "# CC-CEDICT\n#! version=1\n"
         "中國 中国 [Zhong1 guo2] /China/\n"
         "學 学 [xue2] /to learn/\n"
         "你好 你好 [ni3 hao3] /hello/\n",
         {"--charset", "BIG5"},
         "CC-CEDICT\n"
         "\xA4\xA4\xB0\xEA$[Zhong1 guo2]; China\n"
         "\xA7\x41\xA6\x6E$[ni3 hao3]; hello\n"
         "\xBE\xC7$[xue2]; to learn\n"},
        // A transliteration that the set writes stands; translations keep
        // their '?'.
        {"transliterated words stand",
         "in.txt",
         "T\ncafé$coffee\n日本$Japan\nJapan$日本\nµg$μg\n",
         {"--charset", "ASCII"},
         "T\nJapan$??\ncafe$coffee\n"},
    });
}

TEST(ImportUnwritableWords, AreCountedAndTheFirstNamed) {
    scratch_dir dir;
    write_file(dir / "in.txt", "T\n国$a\nok$b\n学$c\n门$d\nx$们\n们$e\n");
    const run_result run =
        run_lexaro_import({"--charset", "BIG5", "in.txt", "out.txt"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir / "out.txt"), "T\nok$b\nx$?\n");
    for (const std::string line :
         {"lexaro-import: warning: dropped \"国\": BIG5 cannot write the word\n"
          "lexaro-import: warning: dropped \"学\": BIG5 cannot write the word\n"
          "lexaro-import: warning: dropped \"门\": BIG5 cannot write the word\n"
          "lexaro-import: warning: and 1 more words that BIG5 cannot write\n"
          "lexaro-import: wrote out.txt from in.txt (lexaro)\n",
          "  entries read:    6\n  words written:   2\n",
          "  dropped:         0 with no word, 0 too large for a block, 4 that BIG5 cannot write\n",
          "  charset:         BIG5: 0 characters transliterated, 1 written as '?', in the entries "
          "of \"x\"\n"})
        EXPECT_NE(run.err.find(line), std::string::npos) << line << "\n" << run.err;
}

}  // namespace
}  // namespace lexaro::test
