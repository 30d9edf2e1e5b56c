// Compressed input: dictzip files made by Debian's dictzip read by range
// against the plain file, only the chunks a range touches inflated, gzip
// files whole and forwards, and damaged files reported with their names.
#include "common/compressed_input.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <random>

#include "format_test_support.h"
#include "test_support.h"

namespace lexaro {
namespace {

// dictzip's header: the gzip extra field (XLEN at 10) holds the "RA" subfield
// first, its version, chunk length, chunk count, then the chunk sizes.
constexpr std::size_t ra_id_at = 12, ra_version_at = 16, ra_chunk_length_at = 18,
                      ra_chunk_count_at = 20, ra_sizes_at = 22;

uint16_t le16(const std::string& s, std::size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) |
                                 (static_cast<unsigned char>(s[at + 1]) << 8));
}
void set_le16(std::string& s, std::size_t at, uint16_t v) {
    s[at] = static_cast<char>(v & 0xff);
    s[at + 1] = static_cast<char>(v >> 8);
}

// A plain file of four dictzip chunks and a bit, and its dictzip twin.
class dictzip_file : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::have_program("dictzip")) GTEST_SKIP() << "dictzip is not installed";
        text_ = test::dictionary_like_text(4 * 58315 + 1000);
        test::write_file(plain_, text_);
        ASSERT_TRUE(test::dictzip(plain_));
        compressed_ = test::read_file(dz_);
        ASSERT_EQ(compressed_.substr(ra_id_at, 2), "RA");
        chunk_length_ = le16(compressed_, ra_chunk_length_at);
        chunk_count_ = le16(compressed_, ra_chunk_count_at);
        ASSERT_EQ(chunk_count_, (text_.size() + chunk_length_ - 1) / chunk_length_);
    }

    test::scratch_dir dir_;
    const std::string plain_ = dir_ / "words.dict", dz_ = dir_ / "words.dict.dz";
    std::string text_, compressed_;
    uint64_t chunk_length_ = 0, chunk_count_ = 0;
};

TEST_F(dictzip_file, RandomRangesMatchThePlainFile) {
    auto plain = open_data_file(plain_), dz = open_data_file(dz_);
    ASSERT_EQ(dz->size(), text_.size());
    ASSERT_EQ(plain->size(), text_.size());

    std::vector<std::pair<uint64_t, uint64_t>> ranges;  // offset, length
    for (uint64_t chunk = 1; chunk < chunk_count_; ++chunk) {
        const uint64_t edge = chunk * chunk_length_;
        for (const uint64_t before : {0, 1, 7}) {
            for (const uint64_t length : {1, 2, 8, 300}) ranges.push_back({edge - before, length});
        }
        ranges.push_back({edge - chunk_length_, chunk_length_});  // exactly one chunk
    }
    ranges.push_back({0, text_.size()});  // all of it
    ranges.push_back({text_.size() - 1, 1});
    ranges.push_back({text_.size(), 0});
    ranges.push_back({chunk_length_ - 5, 2 * chunk_length_ + 10});  // three chunks
    std::mt19937_64 random(7);
    for (int i = 0; i < 2000; ++i) {
        const uint64_t offset = random() % text_.size();
        ranges.push_back({offset, random() % std::min<uint64_t>(5000, text_.size() - offset + 1)});
    }
    for (const auto& [offset, length] : ranges) {
        SCOPED_TRACE(std::to_string(offset) + "+" + std::to_string(length));
        const std::string expected = text_.substr(offset, length);
        ASSERT_EQ(dz->read(offset, length), expected);
        ASSERT_EQ(plain->read(offset, length), expected);
    }
}

TEST_F(dictzip_file, InflatesOnlyTheChunksARangeTouches) {
    auto dz = open_data_file(dz_);
    const uint64_t c = chunk_length_;
    struct step {
        uint64_t offset, length;
        uint64_t inflated;  // chunks inflated so far
    };
    const step steps[] = {
        {2 * c + 10, 100, 1},   // chunk 3
        {2 * c + 500, 100, 1},  // chunk 3 again: kept
        {3 * c - 50, 100, 2},   // chunks 3 and 4: 4 is new
        {2 * c, 1, 2},          // chunk 3: still kept
        {3 * c, 1, 2},          // chunk 4: still kept
        {0, 1, 3},              // chunk 1 replaces the one used longest ago (3)
        {3 * c + 9, 5, 3},      // chunk 4 stayed
        {2 * c + 9, 5, 4},      // chunk 3 was dropped
        {4 * c, 1000, 5},       // the last, short chunk
        {4 * c + 999, 1, 5},
        {c - 1, c + 2, 8},  // chunks 1 (dropped by now), 2 and 3
    };
    for (const step& s : steps) {
        SCOPED_TRACE(std::to_string(s.offset) + "+" + std::to_string(s.length));
        ASSERT_EQ(dz->read(s.offset, s.length), text_.substr(s.offset, s.length));
        EXPECT_EQ(dz->chunks_inflated(), s.inflated);
    }
}

TEST_F(dictzip_file, AscendingRangesInflateEachChunkOnce) {
    auto dz = open_data_file(dz_);
    for (uint64_t offset = 0; offset < text_.size(); offset += 777) {
        const uint64_t length = std::min<uint64_t>(1500, text_.size() - offset);
        ASSERT_EQ(dz->read(offset, length), text_.substr(offset, length));
    }
    EXPECT_EQ(dz->chunks_inflated(), chunk_count_);
}

TEST_F(dictzip_file, DamageIsReportedWithTheFileName) {
    struct damage {
        const char* name;
        std::function<void(std::string& file, uint64_t chunk_count)> apply;
        const char* message;  // a part of what is said after the file name
    };
    const damage cases[] = {
        {"version", [](std::string& f, uint64_t) { set_le16(f, ra_version_at, 2); },
         "chunk table is damaged (version 2)"},
        {"chunk length 0", [](std::string& f, uint64_t) { set_le16(f, ra_chunk_length_at, 0); },
         "chunk table is damaged (chunk length 0)"},
        {"count past the table",
         [](std::string& f, uint64_t) { set_le16(f, ra_chunk_count_at, 900); },
         "900 chunks in a table of"},
        {"count too small for the length",
         [](std::string& f, uint64_t n) { set_le16(f, ra_chunk_count_at, uint16_t(n - 1)); },
         "cannot hold the length in its trailer"},
        {"chunks past the end of the file",
         [](std::string& f, uint64_t) { set_le16(f, ra_sizes_at + 2, 0xffff); },
         "its chunks end past the end of the file"},
        {"length in the trailer", [](std::string& f, uint64_t) { f[f.size() - 2] = 0x40; },
         "cannot hold the length in its trailer"},
        {"extra field length past the file",
         [](std::string& f, uint64_t) {
             set_le16(f, 10, 0xfff0);
             f.resize(2000);
         },
         "is cut short"},
        {"subfield length past the extra field",
         [](std::string& f, uint64_t) { set_le16(f, ra_id_at + 2, 0xff00); },
         "its gzip extra field is damaged"},
        {"reserved header flag", [](std::string& f, uint64_t) { f[3] |= 0x20; },
         "its gzip header is damaged"},
        {"deflate data of chunk 2",
         [](std::string& f, uint64_t n) {
             const std::size_t chunk2 = ra_sizes_at + 2 * n + 11 + le16(f, ra_sizes_at);
             for (std::size_t i = 0; i < 64; ++i) f[chunk2 + 100 + i] = '\xff';
         },
         "chunk 2 of 5 "},
        {"chunk 1 shorter than its table says",
         [](std::string& f, uint64_t) {
             set_le16(f, ra_sizes_at, uint16_t(le16(f, ra_sizes_at) / 2));
         },
         "chunk 1 of 5 "},
    };
    ASSERT_EQ(compressed_.substr(ra_sizes_at + 2 * chunk_count_, 10), "words.dict");  // FNAME
    for (const damage& d : cases) {
        SCOPED_TRACE(d.name);
        std::string file = compressed_;
        d.apply(file, chunk_count_);
        const std::string path = dir_ / "damaged.dict.dz";
        test::write_file(path, file);
        try {
            auto dz = open_data_file(path);
            dz->read(0, 10);
            dz->read(chunk_length_ + 10, 10);
            FAIL() << "no error";
        } catch (const input_error& e) {
            EXPECT_EQ(std::string(e.what()).rfind(path, 0), 0u) << e.what();
            EXPECT_NE(std::string(e.what()).find(d.message), std::string::npos) << e.what();
        }
    }
}

TEST(DataFile, RangesPastTheEndAreRefused) {
    test::scratch_dir dir;
    const std::string text = "0123456789";
    test::write_file(dir / "plain.dict", text);
    test::write_file(dir / "data.dict.gz", test::gzip_bytes(text));
    for (const char* name : {"plain.dict", "data.dict.gz"}) {
        SCOPED_TRACE(name);
        const std::string path = dir / name;
        const std::pair<uint64_t, uint64_t> ranges[] = {{0, 11}, {10, 1}, {11, 0}, {3, UINT64_MAX}};
        for (const auto& [offset, length] : ranges) {
            auto data = open_data_file(path);
            try {
                data->read(offset, length);
                FAIL() << offset << "+" << length;
            } catch (const input_error& e) {
                EXPECT_EQ(e.what(), path + ": " + std::to_string(length) + " bytes at offset " +
                                        std::to_string(offset) +
                                        " run past the end of its data (10 bytes)");
            }
        }
        auto data = open_data_file(path);
        EXPECT_EQ(data->read(10, 0), "");
        EXPECT_EQ(data->read(0, 10), text);
    }
}

TEST(DataFile, GzipWithoutChunkTableReadsForwardsAndStartsAgainToGoBack) {
    test::scratch_dir dir;
    const std::string text = test::dictionary_like_text(300000);
    test::write_file(dir / "data.dict.gz", test::gzip_bytes(text));
    auto data = open_data_file(dir / "data.dict.gz");
    EXPECT_FALSE(data->size().has_value());
    const std::pair<uint64_t, uint64_t> ranges[] = {
        {0, 10},      {5, 10},       {5, 100000}, {150000, 20}, {150010, 5},
        {299990, 10}, {100, 200000}, {0, 300000}, {299999, 1},  {1, 1},
    };
    for (const auto& [offset, length] : ranges) {
        SCOPED_TRACE(std::to_string(offset) + "+" + std::to_string(length));
        ASSERT_EQ(data->read(offset, length), text.substr(offset, length));
    }
    EXPECT_EQ(data->chunks_inflated(), 0u);
}

TEST(GzipFile, ReadsWholeFilesAndReportsDamage) {
    test::scratch_dir dir;
    const std::string text = test::dictionary_like_text(100000);
    const std::string good = test::gzip_bytes(text);
    struct gzip_case {
        const char* name;
        std::string bytes;
        uint64_t max_size;
        std::string expected;  // the contents, or the error after the file name
    };
    std::string damaged = good;
    damaged[good.size() / 2] ^= 0x55;
    std::string bad_crc = good;
    bad_crc[good.size() - 8] ^= 1;
    const gzip_case cases[] = {
        {"one member", good, text.size(), text},
        {"two members", good + test::gzip_bytes("and more"), UINT64_MAX, text + "and more"},
        {"empty contents", test::gzip_bytes(""), 0, ""},
        {"larger than allowed", good, text.size() - 1,
         " inflates to more than " + std::to_string(text.size() - 1) + " bytes"},
        {"cut short", good.substr(0, good.size() - 3), UINT64_MAX,
         ": its compressed data end early"},
        {"damaged", damaged, UINT64_MAX, ": its compressed data are damaged"},
        {"wrong check sum", bad_crc, UINT64_MAX,
         ": its compressed data are damaged (incorrect data check)"},
        {"garbage after the member", good + "junk", UINT64_MAX,
         ": its compressed data are damaged (incorrect header check)"},
        {"not gzip", "plain text", UINT64_MAX, " is not gzip data"},
        {"empty file", "", UINT64_MAX, " is not gzip data"},
    };
    for (const gzip_case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / "file.gz";
        test::write_file(path, c.bytes);
        std::string got;
        try {
            got = read_gzip_file(path, c.max_size);
        } catch (const input_error& e) {
            got = e.what();
            ASSERT_EQ(got.rfind(path, 0), 0u) << got;
            got = got.substr(path.size(), c.expected.size());
        }
        EXPECT_EQ(got, c.expected);
    }
    EXPECT_THROW(read_gzip_file(dir / "missing.gz", 10), input_error);
}

// A gzip member after a header of another format (Babylon's .bgl): read from
// its offset, again after rewind(), to its end only; its trailer unchecked.
TEST(GzipStream, AnEmbeddedMemberIsReadFromItsOffsetWithoutItsCheckValues) {
    test::scratch_dir dir;
    const std::string text = test::dictionary_like_text(200000);
    const std::string header = "HEADER";
    const std::string good = test::gzip_bytes(text);
    std::string zeroed = good, wrong = good;
    zeroed.replace(good.size() - 8, 8, std::string(8, '\0'));  // CRC-32 and length
    wrong[good.size() - 8] ^= 1;
    std::string damaged = good;
    damaged[10] = '\x07';  // the first deflate block of type 3, which does not exist
    struct embedded_case {
        const char* name;
        std::string bytes;
        uint64_t offset;
        std::string expected;  // the contents, or the error after the file name
    };
    const embedded_case cases[] = {
        {"sound", header + good, header.size(), text},
        {"trailer zeroed", header + zeroed, header.size(), text},
        {"check value wrong", header + wrong, header.size(), text},
        {"bytes after the member", header + good + "junk" + good, header.size(), text},
        {"cut short", header + good.substr(0, good.size() / 2), header.size(),
         ": its compressed data end early"},
        {"damaged", header + damaged, header.size(),
         ": its compressed data are damaged (invalid block type)"},
        {"no gzip at the offset", header + good, 2, ": no gzip data at offset 2"},
        {"offset past the end", header, 100, ": no gzip data at offset 100"},
    };
    for (const embedded_case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir / "file.bgl";
        test::write_file(path, c.bytes);
        std::string got;
        try {
            gzip_stream stream(path, c.offset);
            for (int pass = 0; pass < 2; ++pass) {
                got.clear();
                char piece[10000];
                while (const std::size_t count = stream.read(piece, sizeof piece))
                    got.append(piece, count);
                stream.rewind();
            }
        } catch (const input_error& e) {
            got = e.what();
            ASSERT_EQ(got.rfind(path, 0), 0u) << got;
            got = got.substr(path.size());
        }
        EXPECT_EQ(got, c.expected);
    }
}

TEST(InputFile, OpenFailuresNameTheFile) {
    test::scratch_dir dir;
    for (const std::string& path : {dir / "missing", dir.path()}) {
        try {
            read_whole_file(path);
            FAIL() << path;
        } catch (const input_error& e) {
            EXPECT_EQ(e.what(), "can't open file " + path);
        }
    }
    test::write_file(dir / "big", "12345");
    EXPECT_EQ(read_whole_file(dir / "big", 5), "12345");
    try {
        read_whole_file(dir / "big", 4);
        FAIL();
    } catch (const input_error& e) {
        EXPECT_EQ(e.what(), dir / "big" + " is larger than 4 bytes");
    }
}

// A FIFO is found, but never opened: its open would wait for a writer.
TEST(InputFile, AFifoIsThereButIsNotRead) {
    test::scratch_dir dir;
    ASSERT_TRUE(test::make_fifo(dir / "x.syn"));
    // Held open here for writing and reading, so that even an open for
    // reading returns at once.
    const int held = open((dir / "x.syn").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(held, 0);
    EXPECT_TRUE(file_exists(dir / "x.syn"));
    EXPECT_FALSE(file_exists(dir / "missing"));
    EXPECT_FALSE(file_exists(dir.path()));
    for (auto reading : {+[](const std::string& p) { read_whole_file(p); },
                         +[](const std::string& p) { open_data_file(p); },
                         +[](const std::string& p) { read_gzip_file(p, 10); }}) {
        try {
            reading(dir / "x.syn");
            ADD_FAILURE() << "no error";
        } catch (const input_error& e) {
            EXPECT_EQ(e.what(), dir / "x.syn" + " is not a regular file");
        }
    }
    close(held);
}

}  // namespace
}  // namespace lexaro
