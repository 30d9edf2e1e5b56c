// The two platform helpers that lexaro-dump reads and writes through: a
// file read at any offset, and output that keeps the first failed write.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "common/buffered_output.h"
#include "common/random_access_file.h"
#include "test_support.h"

namespace lexaro {
namespace {

TEST(RandomAccessFile, ReadsExactlyWhatTheFileHolds) {
    test::scratch_dir dir;
    test::write_file(dir / "f", std::string("0123456789\0\r\n\x1A", 14));
    random_access_file file;
    ASSERT_TRUE(file.open(dir / "f"));
    EXPECT_TRUE(file.regular());
    EXPECT_EQ(file.size(), 14u);
    char got[6] = {};
    ASSERT_TRUE(file.read_at(9, got, 5));  // binary: no byte changed or dropped
    EXPECT_EQ(std::string(got, 5), std::string("9\0\r\n\x1A", 5));
    EXPECT_FALSE(file.read_at(10, got, 5));  // the file ends first
    EXPECT_FALSE(random_access_file().open(dir / "missing"));
    random_access_file folder;
    EXPECT_TRUE(folder.open(dir.path()));
    EXPECT_FALSE(folder.regular());
}

TEST(BufferedOutput, WritesEveryByteAcrossItsBuffer) {
    test::scratch_dir dir;
    buffered_output out(test::open_for_writing(dir / "out"));
    std::string expected;
    // Around the buffer's 65536 bytes: fills, a write larger than it, single bytes.
    for (std::size_t size : {65535, 1, 65536, 3, 65537, 200000, 0}) {
        const std::string text(size, static_cast<char>('a' + expected.size() % 26));
        out.write(text);
        out.put('\n');
        expected += text + '\n';
    }
    EXPECT_TRUE(out.close());
    EXPECT_TRUE(test::read_file(dir / "out") == expected);
}

TEST(BufferedOutput, KeepsTheFirstFailedWrite) {
    if (test::on_windows) GTEST_SKIP() << "no /dev/full";
    buffered_output full(open("/dev/full", O_WRONLY));
    full.write("lost");
    EXPECT_FALSE(full.failed());  // still in the buffer
    EXPECT_FALSE(full.close());
    EXPECT_EQ(full.error(), ENOSPC);
}

}  // namespace
}  // namespace lexaro
