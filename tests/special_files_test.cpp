// lexaro-dump end to end on names that hold no regular file: a database
// read from such a name is refused at once rather than waited for.
#include <gtest/gtest.h>

#include "test_support.h"

namespace lexaro {
namespace {

#ifdef _WIN32
const std::string device = "NUL";
#else
const std::string device = "/dev/null";
#endif

TEST(SpecialFiles, LexaroDumpRefusesADatabaseThatIsNotARegularFile) {
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

}  // namespace
}  // namespace lexaro
