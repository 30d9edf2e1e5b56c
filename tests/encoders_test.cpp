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

TEST(HandheldTime, ShowsEveryDateFrom1904To2040) {
    const struct {
        uint32_t seconds;
        const char* date;
    } cases[] = {
        {0, "1904-01-01 00:00:00 UTC"},
        {59 * 86400 - 1, "1904-02-28 23:59:59 UTC"},
        {59 * 86400, "1904-02-29 00:00:00 UTC"},  // a leap year
        {60 * 86400, "1904-03-01 00:00:00 UTC"},
        {2082844799, "1969-12-31 23:59:59 UTC"},
        {2082844800, "1970-01-01 00:00:00 UTC"},
        {2082844800u + 951782400, "2000-02-29 00:00:00 UTC"},  // a leap year of 400
        {4294967295u, "2040-02-06 06:28:15 UTC"},
    };
    for (const auto& c : cases) EXPECT_EQ(handheld_date(c.seconds), c.date) << c.seconds;
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
