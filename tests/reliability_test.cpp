// End to end: what lexaro does to the files around it when a run fails, is
// killed, meets a link, a second run or closed standard streams, or reads a
// line of any length.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <future>

#include "test_support.h"

namespace lexaro {
namespace {

using files = std::vector<std::string>;

const std::string source = "T\na$1\nb$2\nc$3\n";
const std::string old_database = "the database of an earlier run";

class Reliability : public testing::Test {
protected:
    test::run_result run(const std::vector<std::string>& args, test::run_options options = {}) {
        return test::run_program_with(LEXARO_BINARY, args, dir.path(), options);
    }
    void write(const std::string& name, std::string_view content) {
        test::write_file(dir / name, content);
    }
    std::string read(const std::string& name) { return test::read_file(dir / name); }
    test::scratch_dir dir;
};

TEST_F(Reliability, ThePreviousDatabaseStaysUntilTheNewOneIsWhole) {
    write("d.txt", source);
    ASSERT_EQ(run({"d.txt"}).status, 0);
    const std::size_t database_size = read("d.pdb").size();
    const long stream_size = static_cast<long>(database_size) - 88;
    struct {
        const char* what;
        test::run_options options;
        std::string out;
        int status;
    } cases[] = {
        // The counter waits in the console buffer, which the kill loses.
        {"killed in pass 2", {stream_size + 40, true}, "", 128 + SIGXFSZ},
        {"full disk in pass 2", {stream_size + 40}, "1\r2\r3\r\nerror: can't write file d.pdb\n", 1},
    };
    for (const auto& c : cases) {
        write("d.pdb", old_database);
        const auto r = run({"d.txt"}, c.options);
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(read("d.pdb"), old_database) << c.what;
        EXPECT_EQ(read("d.tmp").size(), static_cast<std::size_t>(stream_size)) << c.what;
        EXPECT_EQ(dir.files(), (files{"d.pdb", "d.tmp", "d.txt"})) << c.what;
    }
}

TEST_F(Reliability, TheDatabaseTakesThePlaceOfWhatHadItsName) {
    write("d.txt", source);
    // A link is replaced by the database; the file it points to stays.
    write("elsewhere", old_database);
    ASSERT_EQ(symlink("elsewhere", (dir / "d.pdb").c_str()), 0);
    ASSERT_EQ(run({"d.txt"}).status, 0);
    struct stat status;
    ASSERT_EQ(lstat((dir / "d.pdb").c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    EXPECT_EQ(read("elsewhere"), old_database);
    EXPECT_EQ(read("d.pdb").substr(60, 8), "DIdaQzvk");

    // A database replaced keeps its permissions.
    chmod((dir / "d.pdb").c_str(), 0640);
    ASSERT_EQ(run({"d.txt"}).status, 0);
    ASSERT_EQ(stat((dir / "d.pdb").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.files(), (files{"d.pdb", "d.txt", "elsewhere"}));
}

TEST_F(Reliability, ADatabaseThatMayNotBeWrittenIsNotReplaced) {
    // Run as a user other than root, who may write anything.
    struct {
        const char* what;
        mode_t folder, database;  // 0: no database before the run
    } cases[] = {
        {"a read-only database", 0777, 0444},
        {"a folder that is not writable", 0755, 0},
        {"a writable database in a folder that is not", 0755, 0666},
    };
    for (const auto& c : cases) {
        write("d.txt", source);
        write("d.tmp", "");  // pass 1 may write its stream
        chmod((dir / "d.tmp").c_str(), 0666);
        if (c.database != 0) {
            write("d.pdb", old_database);
            chmod((dir / "d.pdb").c_str(), c.database);
        }
        chmod(dir.path().c_str(), c.folder);
        const auto r = run({"d.txt"}, {0, false, false, true});
        chmod(dir.path().c_str(), 0700);
        EXPECT_EQ(r.out, "1\r2\r3\r\nerror: can't create file d.pdb\n") << c.what;
        EXPECT_EQ(r.status, 1) << c.what;
        const files left =
            c.database != 0 ? files{"d.pdb", "d.tmp", "d.txt"} : files{"d.tmp", "d.txt"};
        EXPECT_EQ(dir.files(), left) << c.what;
        if (c.database != 0) {
            EXPECT_EQ(read("d.pdb"), old_database) << c.what;
        }
        for (const std::string& name : dir.files()) unlink((dir / name).c_str());
    }
}

TEST_F(Reliability, TheTemporaryFileIsTheRunsOwn) {
    write("d.txt", source);
    struct {
        const char* what;
        void (*prepare)(const test::scratch_dir&);
        std::string out;
        files left;
    } cases[] = {
        {"a link to another file",
         [](const test::scratch_dir& d) {
             test::write_file(d / "victim", old_database);
             symlink("victim", (d / "d.tmp").c_str());
         },
         "\nerror: can't create file d.tmp\n",
         {"d.tmp", "d.txt", "victim"}},
        {"a link to no file",
         [](const test::scratch_dir& d) { symlink("victim", (d / "d.tmp").c_str()); },
         "\nerror: can't create file d.tmp\n",
         {"d.tmp", "d.txt"}},
        {"the user's own file",
         [](const test::scratch_dir& d) { test::write_file(d / "d.tmp", old_database); },
         "1\r2\r3\r",
         {"d.pdb", "d.txt"}},
    };
    for (const auto& c : cases) {
        c.prepare(dir);
        const auto r = run({"d.txt"});
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(dir.files(), c.left) << c.what;
        if (test::exists(dir / "victim")) {
            EXPECT_EQ(read("victim"), old_database) << c.what;
        }
        for (const std::string& name : dir.files()) {
            if (name != "d.txt") unlink((dir / name).c_str());
        }
    }
}

TEST_F(Reliability, ASecondRunOnTheSameNamesStopsAtOnce) {
    write("d.txt", source);
    write("d.tmp", old_database);
    write("d.pdb", old_database);
    const int held = open((dir / "d.tmp").c_str(), O_RDONLY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    const auto r = run({"d.txt"});
    close(held);
    EXPECT_EQ(r.out, "\nerror: file in use by another run: d.tmp\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(read("d.tmp"), old_database);
    EXPECT_EQ(read("d.pdb"), old_database);
    EXPECT_EQ(dir.files(), (files{"d.pdb", "d.tmp", "d.txt"}));
}

TEST_F(Reliability, RunsAtOnceNeverReportABrokenDatabase) {
    // Two sources with one base name share d.tmp and d.pdb. Whichever runs
    // succeed, each left a sound database holding its own source.
    std::string sources[2] = {"First\n", "Second\n"};
    for (int i = 0; i < 3000; ++i) {
        sources[0] += "a" + std::to_string(i) + "$" + std::to_string(i) + "\n";
        sources[1] += "b" + std::to_string(i) + "$" + std::to_string(i * 7) + "\n";
    }
    write("d.txt", sources[0]);
    write("d.alt", sources[1]);
    int successes = 0;
    for (int round = 0; round < 8; ++round) {
        auto first = std::async(std::launch::async, [&] { return run({"d.txt", "100"}); });
        auto second = std::async(std::launch::async, [&] { return run({"d.alt", "100"}); });
        const test::run_result results[2] = {first.get(), second.get()};
        for (int i = 0; i < 2; ++i) {
            if (results[i].status != 0) {
                EXPECT_EQ(results[i].out.substr(results[i].out.find('\n')),
                          "\nerror: file in use by another run: d.tmp\n");
                continue;
            }
            ++successes;
            // The database on disk may be the other run's if it finished later.
            if (results[1 - i].status == 0) continue;
            const auto text = test::run_lexaro_dump({"--text", "d.pdb"}, dir.path());
            EXPECT_EQ(text.status, 0);
            EXPECT_EQ(text.out, sources[i]);
        }
    }
    EXPECT_GT(successes, 0);
}

TEST_F(Reliability, ClosedStandardStreamsNeverReachTheFiles) {
    // With standard input and output closed the source and the temporary
    // file would take descriptors 0 and 1, and the counter, flushed every
    // 64 KiB, would go into the stream.
    std::string text = "T\n";
    for (int i = 0; i < 20000; ++i) text += "w" + std::to_string(i) + "$t\n";
    write("d.txt", text);
    const auto r = run({"d.txt"}, {0, false, true});
    EXPECT_EQ(r.status, 0);
    const auto back = test::run_lexaro_dump({"--text", "d.pdb"}, dir.path());
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_TRUE(back.out == text);
    EXPECT_EQ(dir.files(), (files{"d.pdb", "d.txt"}));
}

TEST_F(Reliability, LinesOfAnyLengthInBoundedMemory) {
    const std::string too_long = "\nerror: source line too long: ";
    const std::string shown = "w$" + std::string(98, 'w') + "\n";
    // Each source is head + `size` bytes 'w' + tail, written piece by piece:
    // the test's own memory counts in the run's peak, up to its start.
    struct {
        const char* what;
        std::string head;
        std::size_t size;
        std::string tail;
        std::string out;
        int status;
    } cases[] = {
        {"999,999 bytes fill a block", "T\nw$", 999997, "\n", "1\r", 0},
        {"999,999 bytes and CR LF", "T\nw$", 999997, "\r\n", "1\r", 0},
        {"999,999 bytes without $", "T\n", 999999, "\n",
         "\nerror: '$' (word/translation separator) not found: " + std::string(999999, 'w') + "\n",
         1},
        {"1,000,000 bytes", "T\na$1\nw$", 999998, "\n", "1\r" + too_long + shown, 1},
        {"1,000,000 bytes without a line end", "T\nw$", 999998, "", too_long + shown, 1},
        {"1,000,000 bytes ending in CR", "T\nw$", 999997, "\r", too_long + shown, 1},
        {"999,999 bytes without a line end", "T\nw$", 999997, "", "", 0},
        {"3 MB, shown up to a zero byte", std::string("T\nw$\0", 5), 3000000, "\n",
         too_long + "w$\n", 1},
        {"30 MB without a line end", "T\n", 30000000, "", too_long + std::string(100, 'w') + "\n",
         1},
        {"a title of 20 MB", "", 20000000, "\na$1\n", "1\r", 0},
    };
    for (const auto& c : cases) {
        std::ofstream file(dir / "d.txt", std::ios::binary);
        file << c.head;
        const std::string piece(1 << 16, 'w');
        for (std::size_t left = c.size; left > 0; left -= std::min(left, piece.size()))
            file.write(piece.data(), static_cast<std::streamsize>(std::min(left, piece.size())));
        file << c.tail;
        file.close();
        const auto r = run({"d.txt", "100"});
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.status, c.status) << c.what;
        // About 2 MB of block buffers, a line of at most 1 MB, and the program
        // (AddressSanitizer's shadow memory would hide what the run holds).
#ifndef __SANITIZE_ADDRESS__
        EXPECT_LT(r.peak_memory_kib, 16 * 1024) << c.what;
#endif
        for (const std::string& name : dir.files()) unlink((dir / name).c_str());
    }
}

}  // namespace
}  // namespace lexaro
