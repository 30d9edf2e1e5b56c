// lexaro-import on EDICT and CC-CEDICT dictionaries.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "common/charset.h"
#include "format_test_support.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

std::string in_euc_jp(const std::string& utf8) {
    std::string problem, out;
    auto encoder = charset_encoder::open("EUC-JP", problem);
    if (!encoder) throw std::runtime_error(problem);
    encoder->encode(utf8, out);
    return out;
}

const std::string edict_header = "　？？？ /EDICT, EDICT_SUB(P) Japanese-English/Copyright EDRDG/\n";
const std::string edict_lines =
    "着任 [ちゃくにん] /(n,vs) taking up a new post/\n"
    "ヽ /(unc) repetition mark in katakana/\n"
    "４° [しど] /\n";
const std::string edict_expected =
    "EDICT, EDICT_SUB(P) Japanese-English\n"
    "しど$４°\n"
    "ちゃくにん$着任; (n,vs) taking up a new post\n"
    "ヽ$(unc) repetition mark in katakana\n"
    "着任$ちゃくにん; (n,vs) taking up a new post\n"
    "４°$しど\n";

TEST(ImportEdict, WrittenFormsAndReadingsAreWords) {
    check_cases({
        {"EDICT in UTF-8", "edict", edict_header + edict_lines, {}, edict_expected},
        {"EDICT in EUC-JP", "edict", in_euc_jp(edict_header + edict_lines), {}, edict_expected},
        {"EDICT2: several forms, markers, senses, (P) and EntL", "edict2",
         "日本;日夲(oK) [にほん;にっぽん(日本)] /(n) (1) Japan/(2) the Japanese/(P)/EntL1582710X/\n",
         {"--format", "edict"},
         "edict2\n"
         "にっぽん$日本; 日夲; (n) (1) Japan; (2) the Japanese\n"
         "にほん$日本; 日夲; (n) (1) Japan; (2) the Japanese\n"
         "日夲$にほん; にっぽん; (n) (1) Japan; (2) the Japanese\n"
         "日本$にほん; にっぽん; (n) (1) Japan; (2) the Japanese\n"},
        // Debian's EDICT has JIS X 0212 characters, read alike everywhere.
        {"EDICT in EUC-JP with JIS X 0212", "edict",
         "\xA1\xA1\xA1\xA9\xA1\xA9\xA1\xA9 /EDICT/\n\xB0\xEC\xCA\xAC\xB6\xE2 [\xA4\xA4\xA4\xC1\xA4\xD6\xA4\xAD\xA4\xF3] "
         "/(n) gold coin worth a quarter ry\x8F\xAB\xD7/\n",
         {},
         "EDICT\nいちぶきん$一分金; (n) gold coin worth a quarter ry\xC5\x8D\n"
         "一分金$いちぶきん; (n) gold coin worth a quarter ry\xC5\x8D\n"},
        {"EDICT in EUC-JP with JIS X 0212, in Shift_JIS", "edict",
         "\xA1\xA1\xA1\xA9\xA1\xA9\xA1\xA9 /EDICT/\n\xB0\xEC\xCA\xAC\xB6\xE2 [\xA4\xA4\xA4\xC1\xA4\xD6\xA4\xAD\xA4\xF3] "
         "/(n) gold coin worth a quarter ry\x8F\xAB\xD7/\n",
         {"--charset", "SHIFT_JIS"},
         "EDICT\n\x82\xA2\x82\xBF\x82\xD4\x82\xAB\x82\xF1$\x88\xEA\x95\xAA\x8B\xE0; (n) gold coin worth a "
         "quarter ryo\n"
         "\x88\xEA\x95\xAA\x8B\xE0$\x82\xA2\x82\xBF\x82\xD4\x82\xAB\x82\xF1; (n) gold coin worth a "
         "quarter ryo\n"},
        {"EDICT in Shift_JIS for a Japanese handheld", "edict", edict_header + "着任 [ちゃくにん] /(n,vs) taking up a new post/\n",
         {"--charset", "SHIFT_JIS"},
         "EDICT, EDICT_SUB(P) Japanese-English\n"
         "\x82\xBF\x82\xE1\x82\xAD\x82\xC9\x82\xF1$\x92\x85\x94\x43; (n,vs) taking up a new post\n"
         "\x92\x85\x94\x43$\x82\xBF\x82\xE1\x82\xAD\x82\xC9\x82\xF1; (n,vs) taking up a new post\n"},
    });
}

TEST(ImportCedict, TraditionalAndSimplifiedFormsAreWords) {
    check_cases({
        {"CC-CEDICT", "cedict_ts.u8",
         "# CC-CEDICT\n# Community maintained free Chinese-English dictionary.\n#! version=1\n"
         "中國 中国 [Zhong1 guo2] /China/Middle Kingdom/\n"
         "你好 你好 [ni3 hao3] /hello/hi/\n",
         {},
         "CC-CEDICT\n"
         "中国$[Zhong1 guo2]; China; Middle Kingdom\n"
         "中國$[Zhong1 guo2]; China; Middle Kingdom\n"
         "你好$[ni3 hao3]; hello; hi\n"},
        {"no header, by its lines", "words",
         "學 学 [xue2] /to learn/\n", {}, "words\n学$[xue2]; to learn\n學$[xue2]; to learn\n"},
    });
}

TEST(ImportEdict, LinesOfAnotherShapeStopTheRun) {
    struct broken {
        std::string input;
        std::vector<std::string> options;
        std::string message;
    };
    const broken cases[] = {
        {edict_header + "着任 [ちゃくにん /(n) post/\n", {"--format", "edict"},
         "lexaro-import: in: line 2: not an EDICT line \"WORD [READING] /GLOSS/.../\"\n"},
        {edict_header + "着任 [ちゃくにん] (n) post\n", {"--format", "edict"},
         "lexaro-import: in: line 2: not an EDICT line \"WORD [READING] /GLOSS/.../\"\n"},
        {"學 学 [xue2] /to learn\n", {"--format", "cedict"},
         "lexaro-import: in: line 1: not a CC-CEDICT line \"TRADITIONAL SIMPLIFIED [pin1 yin1] "
         "/gloss/.../\"\n"},
        {"學 [xue2] /to learn/\n", {"--format", "cedict"},
         "lexaro-import: in: line 1: not a CC-CEDICT line \"TRADITIONAL SIMPLIFIED [pin1 yin1] "
         "/gloss/.../\"\n"},
    };
    for (const broken& c : cases) {
        scratch_dir dir;
        write_file(dir / "in", c.input);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"in", "out.txt"});
        const run_result run = run_lexaro_import(args, dir.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, c.message);
        EXPECT_EQ(dir.files(), std::vector<std::string>{"in"});
    }
}

// Debian's EDICT (the edict package, EUC-JP) imports, compiles and is found.
TEST(ImportEdict, DebianEdictIsSoundAndFound) {
    const std::string edict = "/usr/share/edict/edict";
    if (!exists(edict)) GTEST_SKIP() << "edict is not installed (make test installs it)";
    scratch_dir dir;
    const run_result imported = run_lexaro_import({edict, "edict.txt"}, dir.path());
    ASSERT_EQ(imported.status, 0) << imported.err;
    EXPECT_NE(imported.err.find("  input:           read as EUC-JP\n"), std::string::npos);
    ASSERT_EQ(run_lexaro({"edict.txt", "500"}, dir.path()).status, 0);
    const run_result check = run_lexaro_dump({"--check", "edict.pdb"}, dir.path());
    ASSERT_EQ(check.status, 0) << check.err;
    EXPECT_NE(check.out.find("order:         ascending byte order\nduplicates:    none\n"),
              std::string::npos);
    const run_result post = run_lexaro_dump({"--lookup", "着任", "edict.pdb"}, dir.path());
    EXPECT_EQ(post.out, "ちゃくにん; (n,vs) taking up a new post\n");
    const run_result reading = run_lexaro_dump({"--lookup", "ちゃくにん", "edict.pdb"}, dir.path());
    EXPECT_EQ(reading.out, "着任; (n,vs) taking up a new post\n");

    // A sample of the written forms and readings of the source is found.
    const std::string source = read_file(dir / "edict.txt");
    std::vector<std::string> words;
    for (std::size_t line = source.find('\n') + 1; line < source.size();
         line = source.find('\n', line) + 1)
        words.push_back(source.substr(line, source.find('$', line) - line));
    std::shuffle(words.begin(), words.end(), std::mt19937(20261209));
    for (std::size_t i = 0; i < 200; ++i) {
        const run_result found = run_lexaro_dump({"--lookup", words[i], "edict.pdb"}, dir.path());
        EXPECT_EQ(found.status, 0) << words[i];
    }
}

}  // namespace
}  // namespace lexaro::test
