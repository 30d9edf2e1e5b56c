// An output file in process: the target changes only when the file is
// committed, and no hidden file outlives the object.
#include "common/output_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "test_support.h"

namespace lexaro {
namespace {

namespace fs = std::filesystem;
using files = std::vector<std::string>;

TEST(OutputFile, TheTargetChangesOnlyWhenCommitted) {
    test::scratch_dir dir;
    struct {
        const char* name;
        bool existed;
        bool commit;
    } cases[] = {{"d.pdb", false, true},
                 {"d.pdb", true, true},
                 {"日本.pdb", true, true},
                 {"d.pdb", false, false},
                 {"d.pdb", true, false}};
    for (const auto& c : cases) {
        const std::string target = dir / c.name;
        if (c.existed) test::write_file(target, "old");
        {
            output_file file;
            ASSERT_TRUE(file.open(target)) << c.name;
            // A hidden name beside the target: ".NAME." and six characters.
            const std::string hidden = file.hidden_name();
            EXPECT_EQ(hidden.substr(0, hidden.size() - 6), dir / ("." + std::string(c.name) + "."));
            EXPECT_EQ(dir.files().size(), c.existed ? 2u : 1u) << c.name;
            ASSERT_TRUE(file.write("new\r\n\x1A", 6));
            EXPECT_EQ(test::exists(target), c.existed) << c.name;
            if (c.commit) {
                EXPECT_TRUE(file.commit()) << c.name;
            }
        }  // the object discards what was not committed
        const bool kept = c.commit || c.existed;
        EXPECT_EQ(dir.files(), kept ? files{c.name} : files{}) << c.name;
        if (kept) {
            EXPECT_EQ(test::read_file(target), c.commit ? "new\r\n\x1A" : "old") << c.name;
        }
        dir.clear();
    }
}

#ifndef _WIN32
// A name of up to 255 bytes is a file name on Linux's file systems: the
// hidden name beside it, eight bytes longer, is cut to fit, between two
// characters.
TEST(OutputFile, ATargetWithTheLongestNameIsWritten) {
    test::scratch_dir dir;
    const std::string e_acute = "\xC3\xA9";
    struct {
        std::string name;
        std::size_t hidden_base;  // the hidden name's bytes before ".xxxxxx"
    } const cases[] = {
        {std::string(247, 'a') + ".pdb", 1 + 243},
        {[&] { std::string n; for (int i = 0; i < 123; ++i) n += e_acute; return n; }() + "a.pdb",
         1 + 242},  // 243 bytes would end inside an e with acute
        {std::string(243, 'a') + ".pdb", 1 + 247},  // fits as it is: 255 bytes
    };
    for (const auto& c : cases) {
        const std::string target = dir / c.name;
        {
            output_file file;
            ASSERT_TRUE(file.open(target)) << c.name.size() << " bytes: " << std::strerror(errno);
            const std::string hidden = fs::path(file.hidden_name()).filename().string();
            EXPECT_EQ(hidden.size(), c.hidden_base + 7) << c.name.size();
            EXPECT_EQ(hidden.substr(0, c.hidden_base), "." + c.name.substr(0, c.hidden_base - 1));
            ASSERT_TRUE(file.write("new", 3));
            EXPECT_TRUE(file.commit());
        }
        EXPECT_EQ(dir.files(), files{c.name});
        EXPECT_EQ(test::read_file(target), "new");
        dir.clear();
    }
}
#endif

TEST(OutputFile, ACommitThatCannotReplaceTheTargetLeavesItAsItWas) {
    test::scratch_dir dir;
    output_file file;
    ASSERT_TRUE(file.open(dir / "d.pdb"));
    ASSERT_TRUE(file.write("new", 3));
    // A folder that is not empty takes the name before the commit.
    fs::create_directory(dir / "d.pdb");
    test::write_file(dir / "d.pdb/inside", "kept");
    EXPECT_FALSE(file.commit());
    EXPECT_EQ(dir.files(), files{"d.pdb"});
    EXPECT_EQ(test::read_file(dir / "d.pdb/inside"), "kept");
}

#ifndef _WIN32

// A link to a device is written through, both ways, and stays a link; a
// device that fails the write fails the commit and leaves nothing behind.
TEST(OutputFile, ADeviceBehindALinkIsWrittenInPlace) {
    test::scratch_dir dir;
    ASSERT_TRUE(test::make_symlink("/dev/null", dir / "null.pdb"));
    ASSERT_TRUE(test::make_symlink("/dev/full", dir / "full.pdb"));
    const files links{"full.pdb", "null.pdb"};
    for (const in_place_writes when : {in_place_writes::at_commit, in_place_writes::as_written}) {
        const bool held = when == in_place_writes::at_commit;
        for (const char* name : {"null.pdb", "full.pdb"}) {
            output_file file;
            ASSERT_TRUE(file.open(dir / name, when)) << name;
            EXPECT_TRUE(file.in_place()) << name;
            // At commit: a hidden file holds the bytes until then.
            EXPECT_EQ(file.hidden_name().empty(), !held) << name;
            EXPECT_EQ(dir.files().size(), held ? 3u : 2u) << name;
            ASSERT_TRUE(file.write("new", 3));
            errno = 0;
            const bool null = std::string(name) == "null.pdb";
            EXPECT_EQ(file.commit(), null) << name;
            EXPECT_EQ(errno, null ? 0 : ENOSPC) << name;
            EXPECT_EQ(dir.files(), links) << name;
            EXPECT_TRUE(fs::is_symlink(dir / name)) << name;
        }
    }
    // A regular file or a missing name is replaced as ever.
    test::write_file(dir / "old.pdb", "old");
    for (const char* name : {"old.pdb", "new.pdb"}) {
        output_file file;
        ASSERT_TRUE(file.open(dir / name, in_place_writes::as_written)) << name;
        EXPECT_FALSE(file.in_place()) << name;
        EXPECT_FALSE(file.hidden_name().empty()) << name;
    }
}

#endif

// Files that replace their targets together: each is closed on the disk
// first, under its hidden name, and only then renamed or discarded.
TEST(OutputFile, AFileClosedOnTheDiskIsCommittedOrDiscardedLater) {
    test::scratch_dir dir;
    test::write_file(dir / "b.pdb", "old");
    {
        output_file a, b;
        ASSERT_TRUE(a.open(dir / "a.pdb"));
        ASSERT_TRUE(b.open(dir / "b.pdb"));
        ASSERT_TRUE(a.write("new a", 5));
        ASSERT_TRUE(b.write("new b", 5));
        EXPECT_TRUE(a.close_synced());
        EXPECT_TRUE(b.close_synced());
        EXPECT_EQ(a.stream(), nullptr);
        errno = 0;
        EXPECT_FALSE(a.close_synced());  // once only
        EXPECT_EQ(errno, EINVAL);
        EXPECT_EQ(dir.files().size(), 3u);  // b.pdb and the two hidden files
        EXPECT_EQ(test::read_file(dir / "b.pdb"), "old");
        EXPECT_TRUE(a.commit());
    }  // b is discarded
    EXPECT_EQ(dir.files(), (files{"a.pdb", "b.pdb"}));
    EXPECT_EQ(test::read_file(dir / "a.pdb"), "new a");
    EXPECT_EQ(test::read_file(dir / "b.pdb"), "old");
}

#ifndef _WIN32

// A signal removes every hidden file the process holds, however many, and
// none that was committed.
void write_three_and_die(const test::scratch_dir& dir) {
    static output_file volumes[3];
    for (int i = 0; i < 3; ++i) {
        volumes[i].open(dir / ("v-" + std::to_string(i + 1) + ".pdb"));
        volumes[i].write("new", 3);
    }
    volumes[1].commit();
    output_file again;  // takes the place that the one committed left
    again.open(dir / "v-4.pdb");
    std::raise(SIGTERM);
}

TEST(OutputFile, ASignalRemovesEveryHiddenFile) {
    test::scratch_dir dir;
    EXPECT_EXIT(write_three_and_die(dir), testing::KilledBySignal(SIGTERM), "");
    EXPECT_EQ(dir.files(), files{"v-2.pdb"});
}

// A signal that comes while files that replace their targets together are
// renamed is held until the last of them is: all are in place, none hidden.
void rename_three_through_a_signal(const test::scratch_dir& dir) {
    static output_file volumes[3];
    for (int i = 0; i < 3; ++i) {
        volumes[i].open(dir / ("v-" + std::to_string(i + 1) + ".pdb"));
        volumes[i].write("new", 3);
        volumes[i].close_synced();
    }
    const signals_held all_or_none;
    for (int i = 0; i < 3; ++i) {
        volumes[i].commit();
        if (i == 0) std::raise(SIGTERM);
    }
}

TEST(OutputFile, ASignalWaitsUntilFilesPutInPlaceTogetherAreAllThere) {
    test::scratch_dir dir;
    for (const char* name : {"v-1.pdb", "v-2.pdb", "v-3.pdb"}) test::write_file(dir / name, "old");
    EXPECT_EXIT(rename_three_through_a_signal(dir), testing::KilledBySignal(SIGTERM), "");
    EXPECT_EQ(dir.files(), (files{"v-1.pdb", "v-2.pdb", "v-3.pdb"}));
    for (const char* name : {"v-1.pdb", "v-2.pdb", "v-3.pdb"})
        EXPECT_EQ(test::read_file(dir / name), "new") << name;
}

#endif

}  // namespace
}  // namespace lexaro
