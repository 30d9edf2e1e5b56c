// lexaro and lexaro-dump end to end on names that hold no regular file: a
// database written into a FIFO or a device in place, never renamed over it,
// and a database read from such a name refused at once rather than waited
// for.
#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"

namespace lexaro {
namespace {

namespace fs = std::filesystem;
using files = std::vector<std::string>;

const std::string source = "T\na$1\nb$2\nc$3\n";

#ifdef _WIN32
const std::string device = "NUL";
#else
const std::string device = "/dev/null";
#endif

TEST(NonRegularFiles, LexaroDumpRefusesADatabaseThatIsNotARegularFile) {
    test::scratch_dir dir;
    std::vector<std::string> names{device};
#ifndef _WIN32
    ASSERT_TRUE(test::make_fifo(dir / "fifo.pdb"));
    ASSERT_TRUE(test::make_symlink("fifo.pdb", dir / "link.pdb"));
    names.insert(names.end(), {"fifo.pdb", "link.pdb"});
#endif
    const auto before = dir.files();
    for (const std::string& name : names) {
        for (const std::vector<std::string>& command :
             {std::vector<std::string>{"--check"}, {"--text"}, {"--lookup", "a"}}) {
            std::vector<std::string> args = command;
            args.push_back(name);
#ifdef _WIN32
            const test::run_result run = test::run_lexaro_dump(args, dir.path());
#else
            // A run that waits for a writer ends with status 124.
            const test::run_result run =
                test::run_with_timeout(20, LEXARO_DUMP_BINARY, args, dir.path());
#endif
            EXPECT_EQ(run.status, 1) << name << " " << command[0];
            EXPECT_EQ(run.err, "lexaro-dump: " + name + " is not a regular file\n")
                << name << " " << command[0];
            EXPECT_EQ(run.out, "") << name << " " << command[0];
        }
    }
    EXPECT_EQ(dir.files(), before);
}

#ifndef _WIN32

TEST(NonRegularFiles, LexaroWritesTheDatabaseIntoAFifoOrADeviceInPlace) {
    struct {
        const char* what;
        std::string fifo;    // made and read while the run writes, or ""
        std::string linked;  // what d.pdb is a link to, or ""
    } cases[] = {
        {"a FIFO", "d.pdb", ""},
        {"a link to a FIFO", "fifo", "fifo"},
        {"a link to a device", "", "/dev/null"},
    };
    for (const auto& c : cases) {
        test::scratch_dir dir;
        test::write_file(dir / "d.txt", source);
        if (!c.fifo.empty()) {
            ASSERT_TRUE(test::make_fifo(dir / c.fifo));
        }
        if (!c.linked.empty()) {
            ASSERT_TRUE(test::make_symlink(c.linked, dir / "d.pdb"));
        }
        const auto before = dir.files();
        std::unique_ptr<test::fifo_reader> reader;
        if (!c.fifo.empty()) reader = std::make_unique<test::fifo_reader>(dir / c.fifo);
        const test::run_result run =
            test::run_with_timeout(20, LEXARO_BINARY, {"d.txt"}, dir.path());
        const std::string database = reader ? reader->finish() : "";
        EXPECT_EQ(run.status, 0) << c.what;
        EXPECT_EQ(run.out, test::progress(3)) << c.what;
        // The database and its temporary file go; the name is as it was.
        EXPECT_EQ(dir.files(), before) << c.what;
        if (!c.fifo.empty()) {
            EXPECT_TRUE(fs::is_fifo(fs::symlink_status(dir / c.fifo))) << c.what;
            test::write_file(dir / "got.pdb", database);
            const test::run_result back = test::run_lexaro_dump({"--text", "got.pdb"}, dir.path());
            EXPECT_EQ(back.out, source) << c.what << ": " << back.err;
        }
        if (!c.linked.empty()) {
            EXPECT_TRUE(fs::is_symlink(dir / "d.pdb")) << c.what;
        }
    }
    EXPECT_TRUE(fs::is_character_file(fs::symlink_status("/dev/null")));
}

TEST(NonRegularFiles, LexaroFailsWhenTheDeviceCannotTakeTheDatabase) {
    test::scratch_dir dir;
    test::write_file(dir / "d.txt", source);
    ASSERT_TRUE(test::make_symlink("/dev/full", dir / "d.pdb"));
    const test::run_result run = test::run_with_timeout(20, LEXARO_BINARY, {"d.txt"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, test::progress(3) + "\nerror: can't write file d.pdb\n");
    // As after any failed write of the database, the stream stays in d.tmp.
    EXPECT_EQ(dir.files(), (files{"d.pdb", "d.tmp", "d.txt"}));
    EXPECT_TRUE(fs::is_symlink(dir / "d.pdb"));
    EXPECT_TRUE(fs::is_character_file(fs::symlink_status("/dev/full")));
}

#endif

}  // namespace
}  // namespace lexaro
