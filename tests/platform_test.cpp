// The helpers that tell where a name leads on each system: a name resolved
// through its links, ".." and "." to the file's own, whether one resolved
// name lies within a folder, and what identifies a file whatever its name.
#include "common/platform.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "test_support.h"

namespace lexaro {
namespace {

namespace fs = std::filesystem;

TEST(Platform, WhatLiesWithinAFolderIsComparedPartByPart) {
    struct within {
        std::string path, folder;
        bool inside;
    };
    std::vector<within> cases = {
        {"/d/dict/x/a.xml", "/d/dict", true},
        {"/d/dict", "/d/dict", true},
        {"/d/dictionary", "/d/dict", false},
        {"/d", "/d/dict", false},
        {"/a.xml", "/", true},
        {"/d/dict/a.xml", "", false},
    };
    if (test::on_windows) {
        cases.insert(cases.end(), {{"C:\\d\\dict\\a.xml", "C:\\d\\dict", true},
                                   {"C:\\d\\dictionary", "C:\\d\\dict", false},
                                   {"C:\\a.xml", "C:\\", true}});
    }
    for (const within& c : cases)
        EXPECT_EQ(lies_within(c.path, c.folder), c.inside) << c.path << " in " << c.folder;
}

TEST(Platform, NamesResolveToTheFilesTheyLeadTo) {
    test::scratch_dir dir;
    fs::create_directories(fs::u8path(dir / "dict/letters"));
    test::write_file(dir / "dict/letters/a.xml", "a");
    test::write_file(dir / "secret.xml", "s");
    const std::string folder = resolved_path(dir / "dict");
    const std::string file = resolved_path(dir / "dict/letters/a.xml");
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(fs::u8path(folder).is_absolute()) << folder;
    EXPECT_TRUE(lies_within(file, folder)) << file << " in " << folder;
    for (const char* name : {"dict/letters/../letters/a.xml", "dict/./letters//a.xml"})
        EXPECT_EQ(resolved_path(dir / name), file) << name;
    EXPECT_FALSE(lies_within(resolved_path(dir / "dict/../secret.xml"), folder));
    errno = 0;
    EXPECT_EQ(resolved_path(dir / "dict/missing.xml"), "");
    EXPECT_NE(errno, 0);

    // One file, whatever name leads to it; another file is another.
    file_identity a, again, linked, secret, none;
    fs::create_hard_link(fs::u8path(dir / "dict/letters/a.xml"), fs::u8path(dir / "dict/hard.xml"));
    ASSERT_TRUE(identify_file(dir / "dict/letters/a.xml", a));
    ASSERT_TRUE(identify_file(dir / "dict/letters/../letters/a.xml", again));
    ASSERT_TRUE(identify_file(dir / "dict/hard.xml", linked));
    ASSERT_TRUE(identify_file(dir / "secret.xml", secret));
    EXPECT_TRUE(a == again);
    EXPECT_TRUE(a == linked);
    EXPECT_FALSE(a == secret);
    EXPECT_FALSE(identify_file(dir / "dict/missing.xml", none));

    // Links are followed to where they lead, a folder's as a file's.
    if (!test::make_symlink("../secret.xml", dir / "dict/s.xml") ||
        !test::make_symlink("..", dir / "dict/up"))
        return;  // no symbolic links here
    EXPECT_EQ(resolved_path(dir / "dict/s.xml"), resolved_path(dir / "secret.xml"));
    EXPECT_FALSE(lies_within(resolved_path(dir / "dict/s.xml"), folder));
    EXPECT_EQ(resolved_path(dir / "dict/up/dict/letters/a.xml"), file);
    EXPECT_FALSE(lies_within(resolved_path(dir / "dict/up"), folder));
    file_identity through_link;
    ASSERT_TRUE(identify_file(dir / "dict/s.xml", through_link));
    EXPECT_TRUE(through_link == secret);
}

}  // namespace
}  // namespace lexaro
