// End to end: what lexaro does to the files around it when a run fails, is
// killed, meets a link, a second run or closed standard streams, or reads a
// line of any length or blocks with long first and last words.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "common/big_endian.h"
#include "common/platform.h"
#include "test_support.h"

namespace lexaro {
namespace {

namespace fs = std::filesystem;
using files = std::vector<std::string>;

const std::string source = "T\na$1\nb$2\nc$3\n";

test::run_options size_limited(long size, bool kills) {
    test::run_options options;
    options.file_size_limit = size;
    options.limit_kills = kills;
    return options;
}
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
    if (test::on_windows) GTEST_SKIP() << "no file-size limit to make a write fail";
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
        {"killed in pass 2", size_limited(stream_size + 40, true), "",
         test::killed_by_file_size_limit},
        {"full disk in pass 2", size_limited(stream_size + 40, false),
         "1\r2\r3\r\nerror: can't write file d.pdb\n", 1},
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

TEST_F(Reliability, ALinkAtTheDatabaseNameIsReplaced) {
    write("d.txt", source);
    // A link is replaced by the database; the file it points to stays.
    write("elsewhere", old_database);
    if (!test::make_symlink("elsewhere", dir / "d.pdb")) GTEST_SKIP() << "no symbolic links here";
    ASSERT_EQ(run({"d.txt"}).status, 0);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "d.pdb")));
    EXPECT_EQ(read("elsewhere"), old_database);
    EXPECT_EQ(read("d.pdb").substr(60, 8), "DIdaQzvk");
    EXPECT_EQ(dir.files(), (files{"d.pdb", "d.txt", "elsewhere"}));
}

TEST_F(Reliability, AReplacedDatabaseKeepsItsPermissions) {
    if (test::on_windows) GTEST_SKIP() << "no permission bits but read-only, which is refused";
    write("d.txt", source);
    write("d.pdb", old_database);
    const fs::perms chosen = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(dir / "d.pdb", chosen);
    ASSERT_EQ(run({"d.txt"}).status, 0);
    EXPECT_EQ(fs::status(dir / "d.pdb").permissions(), chosen);
    EXPECT_EQ(read("d.pdb").substr(60, 8), "DIdaQzvk");
}

TEST_F(Reliability, AReadOnlyDatabaseIsNotReplaced) {
    if (test::is_superuser()) GTEST_SKIP() << "root may write any file";
    write("d.txt", source);
    write("d.pdb", old_database);
    const fs::perms writable =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(dir / "d.pdb", writable, fs::perm_options::remove);
    auto r = run({"d.txt"});
    EXPECT_EQ(r.out, "1\r2\r3\r\nerror: can't create file d.pdb\n");
    EXPECT_EQ(read("d.pdb"), old_database);
    EXPECT_EQ(dir.files(), (files{"d.pdb", "d.tmp", "d.txt"}));
    fs::permissions(dir / "d.pdb", fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(Reliability, ADatabaseThatMayNotBeWrittenIsNotReplaced) {
    if (test::on_windows) GTEST_SKIP() << "no other user to run as, no permission bits";
    // Run as a user other than root, who may write anything. A temporary
    // file of an earlier run is removed before the stream is written, which
    // a folder that may not be written refuses: the run stops in pass 1.
    const std::string no_database = "1\r2\r3\r\nerror: can't create file d.pdb\n";
    const std::string no_stream = "\nerror: can't create file d.tmp\n";
    struct {
        const char* what;
        unsigned folder, database;  // 0: no database before the run
        const std::string& out;
    } cases[] = {
        {"a read-only database", 0777, 0444, no_database},
        {"a folder that is not writable", 0755, 0, no_stream},
        {"a writable database in a folder that is not", 0755, 0666, no_stream},
    };
    for (const auto& c : cases) {
        write("d.txt", source);
        write("d.tmp", old_database);
        fs::permissions(dir / "d.tmp", fs::perms(0666));
        if (c.database != 0) {
            write("d.pdb", old_database);
            fs::permissions(dir / "d.pdb", fs::perms(c.database));
        }
        fs::permissions(dir.path(), fs::perms(c.folder));
        test::run_options as_user;
        as_user.unprivileged = true;
        const auto r = run({"d.txt"}, as_user);
        fs::permissions(dir.path(), fs::perms(0700));
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.status, 1) << c.what;
        const files left =
            c.database != 0 ? files{"d.pdb", "d.tmp", "d.txt"} : files{"d.tmp", "d.txt"};
        EXPECT_EQ(dir.files(), left) << c.what;
        if (c.database != 0) {
            EXPECT_EQ(read("d.pdb"), old_database) << c.what;
        }
        if (&c.out == &no_stream) {
            EXPECT_EQ(read("d.tmp"), old_database) << c.what;
        }
        dir.clear();
    }
}

TEST_F(Reliability, TheTemporaryFileIsNeverOpenedThroughALink) {
    write("d.txt", source);
    for (bool victim : {true, false}) {
        if (victim) write("victim", old_database);
        if (!test::make_symlink("victim", dir / "d.tmp")) GTEST_SKIP() << "no symbolic links here";
        const auto r = run({"d.txt"});
        EXPECT_EQ(r.out, "\nerror: can't create file d.tmp\n") << victim;
        EXPECT_EQ(dir.files(),
                  victim ? (files{"d.tmp", "d.txt", "victim"}) : (files{"d.tmp", "d.txt"}));
        if (victim) {
            EXPECT_EQ(read("victim"), old_database);
        }
        dir.remove("d.tmp");
        dir.remove("victim");
    }
}

TEST_F(Reliability, AHardLinkAtTheTemporaryNameIsReplacedNotWrittenThrough) {
    // The stream goes into a new file: the file that d.tmp named keeps its
    // bytes and its other name, whether the run succeeds or stops in pass 1.
    const std::string other(5000, 'o');
    struct {
        const char* what;
        std::string source, out;
        int status;
        files left;
    } cases[] = {
        {"a run that succeeds", source, "1\r2\r3\r", 0, {"d.pdb", "d.txt", "other"}},
        {"a run that stops in pass 1", "T\na$1\nb\n",
         "1\r\nerror: '$' (word/translation separator) not found: b\n", 1,
         {"d.tmp", "d.txt", "other"}},
    };
    for (const auto& c : cases) {
        write("d.txt", c.source);
        write("other", other);
        std::error_code error;
        fs::create_hard_link(dir / "other", dir / "d.tmp", error);
        if (error) GTEST_SKIP() << "no hard links here: " << error.message();
        const auto r = run({"d.txt"});
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.status, c.status) << c.what;
        EXPECT_EQ(read("other"), other) << c.what;
        EXPECT_EQ(fs::hard_link_count(dir / "other"), 1u) << c.what;
        EXPECT_EQ(dir.files(), c.left) << c.what;
        if (c.status == 0) {
            const auto text = test::run_lexaro_dump({"--text", "d.pdb"}, dir.path());
            EXPECT_EQ(text.out, c.source) << c.what;
        } else {
            // The header's placeholder and nothing after it: no block was cut.
            EXPECT_EQ(read("d.tmp"), std::string(286, '\0')) << c.what;
        }
        dir.clear();
    }
}

TEST_F(Reliability, ADirectoryOrAFifoAtTheTemporaryNameIsLeftAlone) {
    write("d.txt", source);
    fs::create_directory(dir / "d.tmp");
    auto r = run({"d.txt"});
    EXPECT_EQ(r.out, "\nerror: can't create file d.tmp\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(fs::is_directory(dir / "d.tmp"));
    EXPECT_EQ(dir.files(), (files{"d.tmp", "d.txt"}));
#ifndef _WIN32
    // Tried without waiting for a writer at its other end.
    dir.remove("d.tmp");
    ASSERT_EQ(mkfifo((dir / "d.tmp").c_str(), 0600), 0);
    r = run({"d.txt"});
    EXPECT_EQ(r.out, "\nerror: can't create file d.tmp\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(fs::is_fifo(dir / "d.tmp"));
    EXPECT_EQ(dir.files(), (files{"d.tmp", "d.txt"}));
#endif
}

TEST_F(Reliability, TheUsersOwnTemporaryFileIsReplaced) {
    write("d.txt", source);
    write("d.tmp", old_database);
    const auto r = run({"d.txt"});
    EXPECT_EQ(r.out, "1\r2\r3\r");
    EXPECT_EQ(dir.files(), (files{"d.pdb", "d.txt"}));
}

TEST_F(Reliability, ASecondRunOnTheSameNamesStopsAtOnce) {
    write("d.txt", source);
    write("d.pdb", old_database);
    // This process holds d.tmp as a run does.
    std::FILE* held = nullptr;
    ASSERT_EQ(claim_work_file(dir / "d.tmp", &held), claim_result::claimed);
    std::fwrite(old_database.data(), 1, old_database.size(), held);
    std::fclose(held);
    const auto r = run({"d.txt"});
    release_work_file();
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
    test::run_options closed;
    closed.streams_closed = true;
    const auto r = run({"d.txt"}, closed);
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
        dir.clear();
    }
}

// The least address space, to the MiB, in which lexaro compiles a source of
// one entry; 0 when even 1 GiB is not enough.
long address_space_for_one_entry(const test::scratch_dir& dir) {
    test::write_file(dir / "one.txt", "T\na$1\n");
    auto compiles_within = [&](long mib) {
        test::run_options options;
        options.address_space_limit = mib << 20;
        return test::run_program_with(LEXARO_BINARY, {"one.txt"}, dir.path(), options).status == 0;
    };
    long low = 0, high = 1024;  // too little, and enough
    if (!compiles_within(high)) return 0;
    while (high - low > 1) {
        const long mib = (low + high) / 2;
        (compiles_within(mib) ? high : low) = mib;
    }
    dir.clear();
    return high;
}

TEST_F(Reliability, LongBlockKeysInBoundedMemory) {
    // 50 blocks whose first and last words have 450,000 bytes each: 45 MB of
    // keys, which the key table holds and memory need not. The source is
    // written entry by entry: the test's own memory counts in the run's peak.
    constexpr int per_block = 100, entry_count = 50 * per_block;
    auto entry = [](int i) {
        char number[8];
        std::snprintf(number, sizeof number, "%05d", i);
        const bool edge = i % per_block == 0 || i % per_block == per_block - 1;
        return std::make_pair(number + std::string(edge ? 450000 : 0, 'k'),
                              "t" + std::to_string(i));
    };
    test::run_options options;
    // The memory that compiling one entry takes, and 16 MiB more.
    const bool limited = !test::on_windows && !test::address_sanitizer;
    if (limited) {
        const long mib = address_space_for_one_entry(dir);
        ASSERT_GT(mib, 0);
        options.address_space_limit = (mib + 16) << 20;
    }
    {
        std::ofstream file(dir / "d.txt", std::ios::binary);
        file << "Long keys\n";
        for (int i = 0; i < entry_count; ++i) {
            const auto [word, translation] = entry(i);
            file << word << '$' << translation << '\n';
        }
    }
    const auto r = run({"d.txt", std::to_string(per_block)}, options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == test::progress(entry_count));
    if (!test::address_sanitizer) {
        EXPECT_LT(r.peak_memory_kib, 16 * 1024);
    }
    EXPECT_EQ(dir.files(), (files{"d.pdb", "d.txt"}));

    // The stream in the database, after the header, the record list and its
    // two bytes, is the one the entries make.
    const std::string database = read("d.pdb");
    ASSERT_GT(database.size(), 80u);
    const uint32_t records = get_u16(reinterpret_cast<const uint8_t*>(database.data()) + 76);
    std::vector<std::pair<std::string, std::string>> all;
    for (int i = 0; i < entry_count; ++i) all.push_back(entry(i));
    EXPECT_TRUE(database.substr(80 + 8 * records) ==
                test::expected_stream("Long keys", all, per_block));
}

}  // namespace
}  // namespace lexaro
