// The fixed-record encoders where the end-to-end tests do not reach every
// value: handheld time around its wrap, the database name field, and the
// 24-bit unique ID of a record entry.
#include <gtest/gtest.h>

#include <string>

#include "common/handheld_time.h"
#include "packager/database_format.h"

namespace lexaro {
namespace {

TEST(HandheldTime, CountsFrom1904AndWrapsAt32Bits) {
    EXPECT_EQ(handheld_time(0), 2082844800u);
    EXPECT_EQ(handheld_time(1000000000), 3082844800u);
    EXPECT_EQ(handheld_time(2212122496), 0u);  // 2^32 - 2082844800
    EXPECT_EQ(handheld_time(2212122497), 1u);
}

TEST(DatabaseHeader, NameFieldKeepsAtMost31BytesAndAZero) {
    for (std::size_t length : {0, 5, 31, 32, 40}) {
        uint8_t out[database_header_size];
        encode_database_header(std::string(length, 'n'), 0, 1, out);
        const std::size_t kept = std::min<std::size_t>(length, 31);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), database_name_size),
                  std::string(kept, 'n') + std::string(32 - kept, '\0'))
            << length;
    }
}

TEST(RecordList, EntryHoldsOffsetZeroAttributesAnd24BitId) {
    uint8_t out[record_entry_size];
    encode_record_entry(0x00018058, 0x012345, out);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), sizeof out),
              std::string("\x00\x01\x80\x58\x00\x01\x23\x45", 8));
}

}  // namespace
}  // namespace lexaro
