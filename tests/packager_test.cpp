// Pass 2 run in process on streams of chosen sizes: header, record list,
// record data, and the temporary file's fate.
#include "packager/packager.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include "common/big_endian.h"
#include "common/handheld_time.h"
#include "driver/settings.h"
#include "test_support.h"

namespace lexaro {
namespace {

std::string patterned(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
    return bytes;
}

class Packager : public testing::Test {
protected:
    void SetUp() override { set_file_names(dir / "dict.txt"); }
    test::scratch_dir dir;
};

TEST_F(Packager, WrapsTheStreamInto32768ByteRecords) {
    for (std::size_t size : {300, 32767, 32768, 32769, 100000}) {
        const std::string stream = patterned(size);
        test::write_file(temp_name, stream);
        const uint32_t before = handheld_time_now();
        package_database();
        const uint32_t after = handheld_time_now();
        EXPECT_FALSE(test::exists(temp_name));

        const std::string db = test::read_file(database_file_name);
        const auto* bytes = reinterpret_cast<const uint8_t*>(db.data());
        const uint32_t n = static_cast<uint32_t>(size / 32768 + 1);
        ASSERT_EQ(db.size(), 80 + 8 * n + size) << size;
        // Name, attributes and version; then, after the three dates, the
        // zero fields, type, creator, zero fields and the record count.
        EXPECT_EQ(db.substr(0, 36), "dict" + std::string(32, '\0'));
        EXPECT_EQ(db.substr(48, 28), std::string(12, '\0') + "DIdaQzvk" + std::string(8, '\0'));
        EXPECT_EQ(get_u16(bytes + 76), n);
        const uint32_t created = get_u32(bytes + 36);
        EXPECT_TRUE(created >= before && created <= after);
        EXPECT_EQ(get_u32(bytes + 40), created);
        EXPECT_EQ(get_u32(bytes + 44), created);
        for (uint32_t i = 0; i < n; ++i) {
            EXPECT_EQ(get_u32(bytes + 78 + 8 * i), 80 + 8 * n + 32768 * i)
                << size << " record " << i;
            EXPECT_EQ(get_u32(bytes + 78 + 8 * i + 4), i);  // attributes 0, then the 24-bit ID
        }
        EXPECT_EQ(db.substr(78 + 8 * n, 2), std::string(2, '\0'));
        EXPECT_EQ(db.substr(80 + 8 * n), stream);
    }
}

TEST_F(Packager, ReplacesAnExistingDatabase) {
    test::write_file(database_file_name, std::string(500000, 'x'));
    test::write_file(temp_name, patterned(400));
    package_database();
    EXPECT_EQ(test::read_file(database_file_name).size(), 80u + 8 + 400);
}

// The failures run in a child process whose standard output goes to
// standard error, where the death test can see it.
void package_in_child() {
    dup2(STDERR_FILENO, STDOUT_FILENO);
    package_database();
}

TEST_F(Packager, MissingTemporaryFileIsFatal) {
    EXPECT_EXIT(package_in_child(), testing::ExitedWithCode(1),
                "^\nerror: can't open file .*/dict.tmp\n$");
    EXPECT_EQ(dir.files(), std::vector<std::string>{});
}

TEST_F(Packager, RefusesAStreamTooLargeForOneDatabase) {
    // A sparse file of exactly 65535 * 32768 bytes: one record too many.
    test::write_file(temp_name, "");
    std::filesystem::resize_file(temp_name, 2147450880u);
    EXPECT_EXIT(package_in_child(), testing::ExitedWithCode(1),
                "^\nerror: dictionary too large for one database\n$");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"dict.tmp"});
}

}  // namespace
}  // namespace lexaro
