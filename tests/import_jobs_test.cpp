// lexaro-import INPUT OUTPUT.pdb on several threads: --jobs, and what the
// number of jobs must not change (the database, the summary, the failures).
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include "format_test_support.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

// The database's bytes without its three dates.
std::string without_dates(std::string pdb) {
    if (pdb.size() >= 48) pdb.replace(36, 12, 12, '\0');
    return pdb;
}

std::string numbered_source(int count, std::string_view translation = "t") {
    std::string source = "Numbered\n";
    for (int i = 0; i < count; ++i)
        source += "w" + std::to_string(1000000 + i) + "$" + std::string(translation) + "\n";
    return source;
}

// 300 entries of about 9,990 bytes of text: blocks of 100 near 1,000,000 bytes.
std::string near_full_blocks() {
    std::string text = dictionary_like_text(300 * 9990);
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::string source = "Near full\n";
    for (int i = 0; i < 300; ++i)
        source += "w" + std::to_string(1000 + i) + "$" + text.substr(i * 9990, 9990) + "\n";
    return source;
}

TEST(ImportJobs, EveryNumberOfJobsWritesTheSameDatabase) {
    const std::string freedict = "/usr/share/dictd/freedict-spa-eng.index";
    const struct {
        const char* what;
        std::string input;  // a file's name, or the bytes of in.txt
        std::vector<std::string> options;
    } cases[] = {
        {"the sample", read_file(LEXARO_EXAMPLES "/en-fr.txt"), {}},
        {"blocks near 1,000,000 bytes", near_full_blocks(), {"--words-per-block", "100"}},
        {"a single block", "One\ncat$chat\ndog$chien\n", {}},
        {"2,000 small blocks", numbered_source(200000), {"--words-per-block=100"}},
        {"FreeDict spa-eng", freedict, {}},
    };
    for (const auto& c : cases) {
        if (c.input == freedict && !exists(freedict)) {
            ADD_FAILURE() << freedict << " is missing: make test installs dict-freedict-spa-eng";
            continue;
        }
        scratch_dir dir;
        const std::string input = c.input == freedict ? freedict : "in.txt";
        if (input == "in.txt") write_file(dir / input, c.input);
        run_result one;
        std::string database;
        for (const char* jobs : {"1", "2", "3", "8", ""}) {
            std::vector<std::string> args = c.options;
            if (*jobs != '\0') args.insert(args.end(), {"--jobs", jobs});
            args.insert(args.end(), {input, "dict.pdb"});
            const run_result run = run_lexaro_import(args, dir.path());
            ASSERT_EQ(run.status, 0) << c.what << ", --jobs " << jobs << ": " << run.err;
            const std::string written = without_dates(read_file(dir / "dict.pdb"));
            if (std::string_view(jobs) == "1") {
                one = run;
                database = written;
                continue;
            }
            EXPECT_TRUE(written == database) << c.what << ", --jobs " << jobs;
            EXPECT_EQ(run.err, one.err) << c.what << ", --jobs " << jobs;  // the summary
        }
        EXPECT_EQ(dir.files().size(), input == freedict ? 1u : 2u) << c.what;
    }
}

TEST(ImportJobs, ABlockThatDoesNotCompressEndsTheRunAsWithOneJob) {
    // 1,000 small entries fill two blocks while the third, of one entry,
    // cannot be compressed into 1,000,000 bytes.
    scratch_dir dir;
    write_file(dir / "in.txt", numbered_source(1000) + "zz$" + noise(999990) + "\n");
    for (const char* jobs : {"1", "2", "3", "8"}) {
        write_file(dir / "dict.pdb", "the database before");
        const run_result run = run_lexaro_import(
            {"--jobs", jobs, "--format", "lexaro", "in.txt", "dict.pdb"}, dir.path());
        EXPECT_EQ(run.status, 1) << jobs;
        EXPECT_EQ(run.err, "lexaro-import: compress() failed\n") << jobs;
        EXPECT_EQ(dir.files(), (std::vector<std::string>{"dict.pdb", "in.txt"})) << jobs;
        EXPECT_TRUE(read_file(dir / "dict.pdb") == "the database before") << jobs;
    }
}

TEST(ImportJobs, TheOptionIsCheckedLikeTheOthers) {
    scratch_dir dir;
    write_file(dir / "in.txt", "T\nb$2\na$1\n");
    const std::string usage = "usage: lexaro-import [options] INPUT... OUTPUT.pdb|OUTPUT.txt\n";
    const struct {
        std::vector<std::string> args;
        std::string err;  // empty: the run succeeds
    } cases[] = {
        {{"--jobs", "0"}, "--jobs 0 is not a number from 1 to 256"},
        {{"--jobs=257"}, "--jobs 257 is not a number from 1 to 256"},
        {{"--jobs", "-2"}, "--jobs -2 is not a number from 1 to 256"},
        {{"--jobs", "2x"}, "--jobs 2x is not a number from 1 to 256"},
        {{"--jobs="}, "--jobs  is not a number from 1 to 256"},
        {{"--jobs", "99999999999"}, "--jobs 99999999999 is not a number from 1 to 256"},
        {{"in.txt", "out.pdb", "--jobs"}, "option --jobs needs a value"},
        {{"--jobs=256"}, ""},
        {{"--jobs", "007"}, ""},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        if (args.size() < 3) args.insert(args.end(), {"in.txt", "out.pdb"});
        const run_result run = run_lexaro_import(args, dir.path());
        if (c.err.empty()) {
            EXPECT_EQ(run.status, 0) << args[0] << ": " << run.err;
            EXPECT_EQ(run_lexaro_dump({"--lookup", "a", "out.pdb"}, dir.path()).out, "1\n");
        } else {
            EXPECT_EQ(run.status, 2) << args[0];
            EXPECT_EQ(run.err, "lexaro-import: " + c.err + "\n" + usage);
        }
        dir.remove("out.pdb");
        EXPECT_EQ(dir.files(), std::vector<std::string>{"in.txt"}) << args[0];
    }
}

// Ctrl-C or a termination while the blocks are compressed: the run ends by
// the signal, and leaves the folder as it was, without its temporary file.
TEST(ImportJobs, ASignalDuringTheCompileLeavesNothingBehind) {
    scratch_dir dir;
    std::string text = dictionary_like_text(12000000);
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::string source = "Signalled\n";
    for (int i = 0; i < 12000; ++i)
        source += "w" + std::to_string(100000 + i) + "$" + text.substr(i * 1000, 1000) + "\n";
    write_file(dir / "in.txt", source);
    for (int signal_number : {SIGINT, SIGTERM}) {
        for (const char* jobs : {"1", "3"}) {
            write_file(dir / "dict.pdb", "the database before");
            run_options options;
            options.signal_when_written = "dict.tmp";  // once blocks are written
            options.signal_number = signal_number;
            const run_result run = run_program_with(
                LEXARO_IMPORT_BINARY, {"--jobs", jobs, "in.txt", "dict.pdb"}, dir.path(), options);
            EXPECT_EQ(run.status, 128 + signal_number) << signal_number << ", --jobs " << jobs;
            EXPECT_EQ(dir.files(), (std::vector<std::string>{"dict.pdb", "in.txt"}))
                << signal_number << ", --jobs " << jobs;
            EXPECT_EQ(read_file(dir / "dict.pdb"), "the database before");
        }
    }
}

}  // namespace
}  // namespace lexaro::test
