// The buffered output that lexaro-dump writes through, around its buffer's
// size; its failed writes are tested end to end on /dev/full.
#include <gtest/gtest.h>

#include <string>

#include "common/buffered_output.h"
#include "test_support.h"

namespace lexaro {
namespace {

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

}  // namespace
}  // namespace lexaro
