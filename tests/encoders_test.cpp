// Byte-exact checks of the fixed records: big-endian helpers, handheld time,
// the stream header, the block index entry and the database records.
#include <gtest/gtest.h>

#include <string>

#include "common/big_endian.h"
#include "common/handheld_time.h"
#include "compiler/stream_format.h"
#include "packager/database_format.h"

namespace lexaro {
namespace {

std::string hex(const uint8_t* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        if (i > 0) out += ' ';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

TEST(BigEndian, StoresMostSignificantByteFirstAndReadsBack) {
    uint8_t b[4];
    put_u16(b, 0x01F4);
    EXPECT_EQ(hex(b, 2), "01 f4");
    EXPECT_EQ(get_u16(b), 0x01F4);
    put_u24(b, 0x012345);
    EXPECT_EQ(hex(b, 3), "01 23 45");
    EXPECT_EQ(get_u24(b), 0x012345u);
    put_u32(b, 0xDEADBEEF);
    EXPECT_EQ(hex(b, 4), "de ad be ef");
    EXPECT_EQ(get_u32(b), 0xDEADBEEFu);
}

TEST(HandheldTime, CountsFrom1904AndWrapsAt32Bits) {
    EXPECT_EQ(handheld_time(0), 2082844800u);
    EXPECT_EQ(handheld_time(1000000000), 3082844800u);
    EXPECT_EQ(handheld_time(2212122496), 0u);  // 2^32 - 2082844800
    EXPECT_EQ(handheld_time(2212122497), 1u);
}

TEST(StreamHeader, PacksEveryFieldBigEndianAtItsOffset) {
    stream_header h;
    h.block_count = 0x0102;
    h.words_per_block = 500;
    h.entry_count = 2;
    h.index_offset = 0x11223344;
    h.max_word_size = 4;
    h.max_translation_size = 6;
    h.avg_word_size = 0xA1A2A3A4;
    h.avg_translation_size = 5;
    const std::string title = "Animals";
    std::copy(title.begin(), title.end(), h.title.begin());
    uint8_t out[stream_header_size];
    encode_stream_header(h, out);
    EXPECT_EQ(hex(out, 30),
              "00 01 01 02 01 f4 00 00 00 02 11 22 33 44 00 00 00 04 00 00 00 06 "
              "a1 a2 a3 a4 00 00 00 05");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out + 30), 7), "Animals");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out + 37), 249), std::string(249, '\0'));

    const stream_header back = decode_stream_header(out);
    EXPECT_EQ(back.index_offset, h.index_offset);
    EXPECT_EQ(back.avg_word_size, h.avg_word_size);
    EXPECT_EQ(back.title, h.title);
}

TEST(BlockIndexEntry, IsThreeBigEndianWords) {
    uint8_t out[block_index_entry_size];
    encode_block_index_entry({0x00000145, 0x0000011E, 0x0A0B0C0D}, out);
    EXPECT_EQ(hex(out, sizeof out), "00 00 01 45 00 00 01 1e 0a 0b 0c 0d");
    const block_index_entry back = decode_block_index_entry(out);
    EXPECT_EQ(back.key_offset, 0x145u);
    EXPECT_EQ(back.block_offset, 0x11Eu);
    EXPECT_EQ(back.block_length, 0x0A0B0C0Du);
}

TEST(DatabaseHeader, HasTypeCreatorThreeEqualDatesAndRecordCount) {
    uint8_t out[database_header_size];
    encode_database_header("en-fr", 0xC0FFEE01, 0x0203, out);
    EXPECT_EQ(hex(out + 32, 46),
              "00 00 00 00 c0 ff ee 01 c0 ff ee 01 c0 ff ee 01 00 00 00 00 00 00 00 00 "
              "00 00 00 00 44 49 64 61 51 7a 76 6b 00 00 00 00 00 00 00 00 02 03");
}

TEST(DatabaseHeader, NameFieldKeepsAtMost31BytesAndAZero) {
    struct {
        std::size_t length;
        std::size_t kept;
    } cases[] = {{0, 0}, {5, 5}, {31, 31}, {32, 31}, {40, 31}};
    for (const auto& c : cases) {
        const std::string name(c.length, 'n');
        uint8_t out[database_header_size];
        encode_database_header(name, 0, 1, out);
        const std::string field(reinterpret_cast<char*>(out), database_name_size);
        EXPECT_EQ(field, std::string(c.kept, 'n') + std::string(32 - c.kept, '\0')) << c.length;
    }
}

TEST(RecordList, EntryHoldsOffsetZeroAttributesAnd24BitId) {
    uint8_t out[record_entry_size];
    encode_record_entry(0x00018058, 0x012345, out);
    EXPECT_EQ(hex(out, sizeof out), "00 01 80 58 00 01 23 45");
}

TEST(RecordList, CountIsSizeDiv32768PlusOne) {
    struct {
        uint64_t stream_size;
        uint32_t count;
    } cases[] = {{286, 1}, {300, 1}, {32767, 1}, {32768, 2}, {32769, 2}, {100000, 4}, {65536, 3}};
    for (const auto& c : cases)
        EXPECT_EQ(record_count_for(c.stream_size), c.count) << c.stream_size;
    EXPECT_EQ(record_offset(1, 0), 88u);
    EXPECT_EQ(record_offset(4, 0), 112u);
    EXPECT_EQ(record_offset(4, 3), 112u + 3 * 32768u);
    EXPECT_EQ(record_offset(65535, 65534), 80u + 8u * 65535 + 32768u * 65534);
}

}  // namespace
}  // namespace lexaro
