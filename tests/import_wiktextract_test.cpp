// lexaro-import on Wiktextract's JSON lines.
#include <gtest/gtest.h>

#include "format_test_support.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

const std::string house =
    "{\"word\": \"house\", \"pos\": \"noun\", \"lang_code\": \"en\", \"sounds\": [{\"ipa\": "
    "\"/ha\xCA\x8As/\"}, {\"audio\": \"x.ogg\"}, {\"ipa\": \"/h\xC3\xA6\xCA\x8As/\"}, {\"ipa\": "
    "\"/third/\"}], \"senses\": [{\"glosses\": [\"A structure serving as an abode.\"], \"tags\": "
    "[\"countable\"]}, {\"glosses\": [\"A dwelling.\", \"A family's home.\"], \"categories\": "
    "[{\"name\": \"x\", \"kind\": 1.5e3}]}], \"translations\": [{\"code\": \"de\", \"lang\": "
    "\"German\", \"word\": \"Haus\", \"sense\": \"abode\"}, {\"code\": \"fr\", \"word\": "
    "\"maison\"}, {\"lang_code\": \"de\", \"word\": \"Heim\"}]}\n";
const std::string cafe =
    "{\"word\": \"caf\\u00e9 \\ud83d\\ude00\", \"pos\": \"noun\", \"senses\": [{\"glosses\": "
    "[\"coffee shop\\n\\\"bar\\\"\"], \"translations\": [{\"code\": \"de\", \"word\": \"Caf\\u00e9\"}]}], "
    "\"extra\": {\"a\": [1, true, null, false, -2, {\"b\": []}]}}\n";

TEST(ImportWiktextract, EntriesOrTheirTranslationsMakeTheDictionary) {
    check_cases({
        {"entries", "en.jsonl", house + cafe + "\n",
         {},
         "en\n"
         "caf\xC3\xA9 \xF0\x9F\x98\x80$noun; coffee shop; \"bar\"\n"
         "house$noun /ha\xCA\x8As/ /h\xC3\xA6\xCA\x8As/; 1. A structure serving as an abode.; "
         "2. A family's home.\n"},
        {"translations into German", "en.jsonl", house + cafe, {"--translations", "de"},
         "en\n"
         "Caf\xC3\xA9$caf\xC3\xA9 \xF0\x9F\x98\x80 (noun): coffee shop; \"bar\"\n"
         "Haus$house (noun): abode\n"
         "Heim$house (noun): A structure serving as an abode.\n"},
        {"gzip", "en.jsonl.gz", gzip_bytes(house), {"--translations=fr"},
         "en\nmaison$house (noun): A structure serving as an abode.\n"},
    });
}

TEST(ImportWiktextract, ALineThatIsNotJsonStopsTheRun) {
    struct broken {
        std::string line;
        std::string message;
    };
    const broken cases[] = {
        {"{\"word\": \"a\", \"senses\": [}", "line 2: column 26: expected a value"},
        {"{\"word\": \"a\", \"pos\": \"n", "line 2: column 24: expected a '\"' ending the string before the line ends"},
        {"{\"word\": \"a\" \"pos\": \"n\"}", "line 2: column 14: expected a ',' or '}' after a member"},
        {"[\"word\"]", "line 2: column 1: expected a '{' starting the entry"},
        {"{\"word\": \"a\\x\"}", "line 2: column 13: expected an escape: \\\" \\\\ \\/ \\b \\f \\n \\r \\t or \\uXXXX"},
        {"{\"word\": \"a\"} x", "line 2: column 15: expected the end of the line after the entry"},
        {"{\"a\": " + std::string(100, '[') + std::string(100, ']') + "}",
         "line 2: column 70: expected less deeply nested values"},
    };
    for (const broken& c : cases) {
        scratch_dir dir;
        write_file(dir / "x.jsonl", house + c.line + "\n");
        const run_result run = run_lexaro_import({"x.jsonl", "out.txt"}, dir.path());
        EXPECT_EQ(run.status, 1) << c.line;
        EXPECT_EQ(run.err, "lexaro-import: x.jsonl: " + c.message + "\n");
        EXPECT_EQ(dir.files(), std::vector<std::string>{"x.jsonl"});
    }
    scratch_dir dir;
    write_file(dir / "x.jsonl", house + "{\"pos\": \"verb\"}\n");
    const run_result run = run_lexaro_import({"x.jsonl", "out.txt"}, dir.path());
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("  skipped:         1 records with no word, the first in x.jsonl line 2\n"),
              std::string::npos)
        << run.err;
}

}  // namespace
}  // namespace lexaro::test
