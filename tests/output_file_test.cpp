// An output file in process: the target changes only when the file is
// committed, and no hidden file outlives the object.
#include "common/output_file.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace lexaro
