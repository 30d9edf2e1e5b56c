// lexaro-import INPUT OUTPUT.pdb: the import and lexaro's compiler in one run.
#include <gtest/gtest.h>

#include <algorithm>

#include "format_test_support.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

// The database's bytes without its three dates (creation, modification,
// backup), which differ from run to run.
std::string without_dates(std::string pdb) {
    if (pdb.size() >= 48) pdb.replace(36, 12, 12, '\0');
    return pdb;
}

TEST(ImportDatabase, EqualsTheSourceCompiledByLexaro) {
    struct fixture {
        const char* what;
        std::string input_name, input;
        std::vector<std::string> options;
        const char* words_per_block;  // what the one run takes, when it is known
    };
    std::string many = "Many\n";
    for (int i = 0; i < 1300; ++i) many += "w" + std::to_string(100000 + i) + "$" + std::string(900, 'x') + "\n";
    const fixture fixtures[] = {
        {"lexaro source", "in.txt", "T\nb$2\na$1\na$3\n", {}, "500"},
        {"tab", "in.tab", "##name Tab\napple\tred<br>green\nbank\tshore\n", {}, "500"},
        {"trans", "de-en", "# Version :: 1\nHaus {n} | Häuser {pl} :: house | houses\n",
         {"--format", "trans"}, "500"},
        {"the largest that fits, not 500", "in.txt", many, {}, nullptr},
        {"given", "in.txt", many, {"--words-per-block", "300"}, "300"},
        {"a character set", "in.txt", "T\ncaf\xC3\xA9$coffee\n", {"--charset", "CP1252"}, "500"},
    };
    for (const fixture& f : fixtures) {
        scratch_dir one, two;
        write_file(one / f.input_name, f.input);
        write_file(two / f.input_name, f.input);
        std::vector<std::string> args = f.options;
        args.insert(args.end(), {f.input_name, "dict.pdb"});
        const run_result run = run_lexaro_import(args, one.path());
        ASSERT_EQ(run.status, 0) << f.what << ": " << run.err;
        std::vector<std::string> left{"dict.pdb", f.input_name};
        std::sort(left.begin(), left.end());
        EXPECT_EQ(one.files(), left) << f.what;
        // The block size the run took, which the two-step path is given.
        const std::string compiled = "  compiled:        words_per_block ";
        const std::size_t at = run.err.find(compiled);
        ASSERT_NE(at, std::string::npos) << run.err;
        const std::string taken = run.err.substr(at + compiled.size(),
                                                 run.err.find(',', at) - at - compiled.size());
        if (f.words_per_block != nullptr) {
            EXPECT_EQ(taken, f.words_per_block) << f.what;
        }

        // The source alone: --words-per-block is for a database.
        args.back() = "dict.txt";
        const auto given = std::find(args.begin(), args.end(), "--words-per-block");
        if (given != args.end()) args.erase(given, given + 2);
        ASSERT_EQ(run_lexaro_import(args, two.path()).status, 0) << f.what;
        ASSERT_EQ(run_lexaro({"dict.txt", taken}, two.path()).status, 0) << f.what;
        EXPECT_EQ(without_dates(read_file(one / "dict.pdb")), without_dates(read_file(two / "dict.pdb")))
            << f.what;
    }
}

TEST(ImportDatabase, SummaryEndsWithTheDatabaseAndItsCheck) {
    scratch_dir dir;
    write_file(dir / "in.txt", "T\nb$2\na$1\n");
    const run_result run = run_lexaro_import({"in.txt", "small.pdb"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string end =
        "  words_per_block: 10000 is the largest with which every block fits in 1000000 bytes\n"
        "  compiled:        words_per_block 500, lexaro's default, with which every block fits\n"
        "  database:        small.pdb, 406 bytes, 2 entries in 1 blocks\n"
        "  check:           sound, as lexaro-dump --check finds it; ascending byte order, no "
        "repeated words\n";
    ASSERT_GE(run.err.size(), end.size());
    EXPECT_EQ(run.err.substr(run.err.size() - end.size()), end);
    EXPECT_EQ(run_lexaro_dump({"--lookup", "a", "small.pdb"}, dir.path()).out, "1\n");
}

TEST(ImportDatabase, AFailedRunLeavesTheFolderAsItWas) {
    std::string big = "Big\n";
    for (int i = 0; i < 300; ++i) big += "w" + std::to_string(1000 + i) + "$" + std::string(9000, 'x') + "\n";
    struct failure {
        const char* what;
        std::string input;
        std::vector<std::string> options;
        std::string message;
    };
    const failure failures[] = {
        {"a block too large for the size given", big, {"--words-per-block", "200"},
         "lexaro-import: can't compile dict.pdb with --words-per-block 200: entries 1 to 200 take "
         "1801400 bytes, more than a block's 1000000; the largest that fits is 111\n"},
        {"an input that is not a source", "T\nno dollar here\n", {"--format", "lexaro"},
         "lexaro-import: in.txt: line 2 has no '$' between word and translation\n"},
    };
    for (const failure& f : failures) {
        scratch_dir dir;
        write_file(dir / "in.txt", f.input);
        write_file(dir / "dict.pdb", "the database before");
        std::vector<std::string> args = f.options;
        args.insert(args.end(), {"in.txt", "dict.pdb"});
        const run_result run = run_lexaro_import(args, dir.path());
        EXPECT_EQ(run.status, 1) << f.what;
        EXPECT_EQ(run.err, f.message) << f.what;
        EXPECT_EQ(dir.files(), (std::vector<std::string>{"dict.pdb", "in.txt"})) << f.what;
        EXPECT_EQ(read_file(dir / "dict.pdb"), "the database before") << f.what;
    }
}

}  // namespace
}  // namespace lexaro::test
