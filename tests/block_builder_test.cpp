// Pass 1 run in process: the stream it leaves in the temporary file, read
// back through its header, block index and key table.
#include "compiler/block_builder.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>


#include "common/big_endian.h"
#include "common/platform.h"
#include "driver/settings.h"
#include "packager/database_format.h"
#include "test_support.h"

namespace lexaro {
namespace {

using entries = std::vector<std::pair<std::string, std::string>>;

entries numbered(int count, const std::string& prefix = "w") {
    entries list;
    for (int i = 0; i < count; ++i)
        list.emplace_back(prefix + std::to_string(i), "t" + std::to_string(i));
    return list;
}

class BlockBuilder : public testing::Test {
protected:
    // Compiles the source with the given block size; returns the stream.
    std::string compile(const std::string& source, int32_t per_block = 500,
                        stream_limits limits = stream_limits{}, unsigned jobs = 1) {
        prepare(source, per_block);
        testing::internal::CaptureStdout();
        compile_dictionary(limits, jobs);
        release_work_file();  // as the end of a run does
        testing::internal::GetCapturedStdout();
        return test::read_file(temp_name);
    }

    void prepare(const std::string& source, int32_t per_block) {
        test::write_file(dir / "d.txt", source);
        set_file_names(dir / "d.txt");
        words_per_block = per_block;
    }

    test::scratch_dir dir;
};

std::string compressed(const std::string& block) {
    std::string out(compressBound(block.size()), '\0');
    uLongf length = out.size();
    compress2(reinterpret_cast<Bytef*>(out.data()), &length,
              reinterpret_cast<const Bytef*>(block.data()), block.size(), 9);
    out.resize(length);
    return out;
}

TEST_F(BlockBuilder, AnimalsStreamByteForByte) {
    const std::string stream = compile("Animals\ncat$chat\ndog$chien\n");
    const std::string block = compressed(std::string("cat\0dog\0chat\0chien\0", 19));
    const uint32_t L = static_cast<uint32_t>(block.size());
    ASSERT_EQ(stream.size(), 306 + L);
    EXPECT_EQ(stream.substr(286, 2), "\x78\xDA");

    std::string expected(286, '\0');
    auto* h = reinterpret_cast<uint8_t*>(expected.data());
    put_u16(h + 0, 1);         // version
    put_u16(h + 2, 1);         // block_count
    put_u16(h + 4, 500);       // words_per_block
    put_u32(h + 6, 2);         // entry_count
    put_u32(h + 10, 294 + L);  // index_offset
    put_u32(h + 14, 4);        // max_word_size
    put_u32(h + 18, 6);        // max_translation_size
    put_u32(h + 22, 4);        // avg_word_size
    put_u32(h + 26, 5);        // avg_translation_size: 11 / 2
    expected.replace(30, 7, "Animals");
    expected += block + std::string("cat\0dog\0", 8);
    uint8_t index[12];
    put_u32(index + 0, 286 + L);
    put_u32(index + 4, 286);
    put_u32(index + 8, L);
    expected.append(reinterpret_cast<char*>(index), 12);
    EXPECT_EQ(stream, expected);
}

TEST_F(BlockBuilder, CutsAfterEveryFullBlockAndOnceForTheRest) {
    struct {
        int entry_count, per_block;
        std::vector<int> block_sizes;
    } cases[] = {{1000, 500, {500, 500}}, {501, 500, {500, 1}},       {499, 500, {499}},
                 {100, 100, {100}},       {250, 100, {100, 100, 50}}, {0, 500, {}}};
    for (const auto& c : cases) {
        const entries all = numbered(c.entry_count);
        const test::parsed_stream s =
            test::parse_stream(compile(test::make_source("T", all), c.per_block));
        ASSERT_EQ(s.blocks.size(), c.block_sizes.size()) << c.entry_count;
        EXPECT_EQ(s.header.entry_count, static_cast<uint32_t>(c.entry_count));
        EXPECT_EQ(s.header.words_per_block, c.per_block);
        uint32_t offset = 286, first = 0;
        for (std::size_t b = 0; b < s.blocks.size(); ++b) {
            const entries part(all.begin() + first, all.begin() + first + c.block_sizes[b]);
            EXPECT_EQ(s.blocks[b], test::uncompressed_block(part))
                << c.entry_count << " block " << b;
            EXPECT_EQ(s.keys[b], std::make_pair(part.front().first, part.back().first));
            EXPECT_EQ(s.index[b].block_offset, offset);
            offset += s.index[b].block_length;
            first += c.block_sizes[b];
        }
        // Keys follow the last block; the index follows the keys.
        uint32_t key_offset = offset;
        for (std::size_t b = 0; b < s.blocks.size(); ++b) {
            EXPECT_EQ(s.index[b].key_offset, key_offset);
            key_offset +=
                static_cast<uint32_t>(s.keys[b].first.size() + s.keys[b].second.size() + 2);
        }
        EXPECT_EQ(s.header.index_offset, key_offset);
    }
}

TEST_F(BlockBuilder, EmptyDictionaryIsTheHeaderAlone) {
    const std::string stream = compile("Only a title\n");
    ASSERT_EQ(stream.size(), 286u);
    const stream_header h = decode_stream_header(reinterpret_cast<const uint8_t*>(stream.data()));
    EXPECT_EQ(h.block_count, 0);
    EXPECT_EQ(h.entry_count, 0u);
    EXPECT_EQ(h.index_offset, 286u);
    EXPECT_EQ(h.max_word_size, 0u);
    EXPECT_EQ(h.avg_word_size, 0u);
    EXPECT_EQ(h.avg_translation_size, 0u);
}

TEST_F(BlockBuilder, StatisticsCoverTheWholeDictionary) {
    // The longest word and translation lie in the first block, not the last.
    entries all = numbered(150);
    all[3] = {"a-rather-long-word", "x"};
    all[7] = {"w", std::string(40, 't')};
    all.push_back({"", ""});
    const test::parsed_stream s = test::parse_stream(compile(test::make_source("T", all), 100));
    uint64_t words = 0, translations = 0;
    for (const auto& e : all) words += e.first.size() + 1, translations += e.second.size() + 1;
    EXPECT_EQ(s.header.max_word_size, 19u);
    EXPECT_EQ(s.header.max_translation_size, 41u);
    EXPECT_EQ(s.header.avg_word_size, words / all.size());
    EXPECT_EQ(s.header.avg_translation_size, translations / all.size());
    // Sizes 2 and 3 average to 2, the remainder dropped; keys keep source order.
    const test::parsed_stream two = test::parse_stream(compile("T\nzebra$x\nab$y\n"));
    EXPECT_EQ(two.keys[0], std::make_pair(std::string("zebra"), std::string("ab")));
    const test::parsed_stream sizes = test::parse_stream(compile("T\na$x\nbc$y\n"));
    EXPECT_EQ(sizes.header.avg_word_size, 2u);
}

TEST_F(BlockBuilder, KeysOfAnyLengthAreTheBlocksOwnWords) {
    // The key table holds each block's edge words as the block does: long
    // ones, an empty one, a carriage return inside a word (only one before
    // the line feed is dropped), and a block of one entry whose word is both.
    entries all = numbered(201);
    all[0].first = std::string(300000, 'a');
    all[99].first = "z\r" + std::string(300000, 'b');
    all[100].first = "";
    all[199].first = std::string(400000, 'c');
    all[200].first = std::string(250000, 'd');
    std::string source = "Long keys\r\n";
    for (const auto& [word, translation] : all) source += word + "$" + translation + "\r\n";
    EXPECT_EQ(compile(source, 100), test::expected_stream("Long keys", all, 100));
}

// Runs pass 1 with lowered limits in a child process, whose standard output
// goes to standard error where the death test can see it.
void compile_with(stream_limits limits, unsigned jobs = 1) {
    dup2(STDERR_FILENO, STDOUT_FILENO);
    compile_dictionary(limits, jobs);
}

TEST_F(BlockBuilder, RefusesABlockBeyondTheBlockCount) {
    const entries all = numbered(250);
    prepare(test::make_source("T", all), 100);
    EXPECT_EXIT(compile_with({2, max_stream_size}), testing::ExitedWithCode(1),
                "250\r\nerror: too many blocks, try to increase words_per_block parameter\n$");
    // The two blocks cut before stay behind the placeholder, nothing else.
    EXPECT_EQ(test::read_file(temp_name),
              std::string(286, '\0') +
                  compressed(test::uncompressed_block({all.begin(), all.begin() + 100})) +
                  compressed(test::uncompressed_block({all.begin() + 100, all.begin() + 200})));
}

TEST_F(BlockBuilder, RefusesAStreamTheDatabaseCannotHold) {
    const std::string source = test::make_source("T", numbered(3));
    const std::string stream = compile(source);
    // The limit is exclusive: the stream must stay below it.
    EXPECT_EQ(compile(source, 500, {max_block_count, stream.size() + 1}), stream);
    for (uint64_t limit : {uint64_t{stream.size()}, uint64_t{290}}) {
        prepare(source, 500);
        EXPECT_EXIT(compile_with({max_block_count, limit}), testing::ExitedWithCode(1),
                    "3\r\nerror: dictionary too large for one database\n$");
    }
}

std::string regex_escaped(std::string_view text) {
    std::string escaped;
    for (char c : text) {
        if (std::string_view(".[]{}()\\*+?^$|").find(c) != std::string_view::npos) escaped += '\\';
        escaped += c;
    }
    return escaped;
}

// A failure ends the pass as with one job: the same message, and the
// temporary file holds the same blocks, those cut before the failure,
// whatever the blocks still being compressed when it was met.
TEST_F(BlockBuilder, AFailureWithJobsEndsAsWithOneJob) {
    const auto source_of = [](int count, const std::string& tail) {
        return test::make_source("T", numbered(count)) + tail;
    };
    // The stream of 500 entries, to place a size limit within its third block.
    const test::parsed_stream five = test::parse_stream(compile(source_of(500, ""), 100));
    const auto within = [&](int block) {
        return five.index[block].block_offset + five.index[block].block_length / 2;
    };
    const std::string no_dollar =
        "no dollar here\n" + test::make_source("", numbered(300)).substr(1);
    const struct {
        const char* what;
        std::string source;
        stream_limits limits;
        std::string message;
    } cases[] = {
        {"too many blocks",
         source_of(950, ""),
         {5, max_stream_size},
         "too many blocks, try to increase words_per_block parameter"},
        {"a line without '$' while blocks are compressed",
         source_of(720, no_dollar),
         {max_block_count, max_stream_size},
         "'$' (word/translation separator) not found: no dollar here"},
        {"a block beyond blockbuf while blocks are compressed",
         source_of(650, "big$" + std::string(999990, 'x') + "\n"),
         {max_block_count, max_stream_size},
         "not enough space in blockbuf, try to decrease words_per_block parameter"},
        {"the stream too large at the third block, a line without '$' after it",
         source_of(500, no_dollar),
         {max_block_count, within(2)},
         "dictionary too large for one database"},
        {"a last block that does not compress",
         source_of(700, "zz$" + test::noise(999990) + "\n"),
         {max_block_count, max_stream_size},
         "compress() failed"},
        {"the stream too large at the fifth block, the last does not compress",
         source_of(500, "zz$" + test::noise(999990) + "\n"),
         {max_block_count, within(4)},
         "dictionary too large for one database"},
    };
    for (const auto& c : cases) {
        std::string one;
        for (unsigned jobs : {1u, 2u, 3u, 8u}) {
            prepare(c.source, 100);
            EXPECT_EXIT(compile_with(c.limits, jobs), testing::ExitedWithCode(1),
                        "\nerror: " + regex_escaped(c.message) + "\n$")
                << c.what << ", " << jobs << " jobs";
            const std::string stream = test::read_file(temp_name);
            if (jobs == 1) {
                one = stream;
                EXPECT_GT(one.size(), 286u + 2 * 100) << c.what;  // blocks were written
            } else {
                EXPECT_EQ(stream, one) << c.what << ", " << jobs << " jobs";
            }
        }
    }
}

}  // namespace
}  // namespace lexaro

namespace lexaro {
namespace {

// A cutter that keeps each volume's stream and what the pass told it.
class keeping_cutter : public volume_cutter {
public:
    explicit keeping_cutter(uint64_t max_size, std::size_t refuse_volume = 0)
        : max_size_(max_size), refuse_volume_(refuse_volume) {}

    uint64_t max_database_size() const override { return max_size_; }
    std::string block_too_large(uint64_t first, uint64_t count, uint64_t size) override {
        return "entries " + std::to_string(first) + "+" + std::to_string(count) + ": " +
               std::to_string(size);
    }
    bool take(const volume_extent& volume) override {
        taken.push_back(volume);
        return taken.size() != refuse_volume_;
    }
    title_field title(const volume_extent&, const title_field&, std::string_view first,
                      std::string_view last) override {
        const std::string text = std::string(first) + "-" + std::string(last);
        title_field field{};
        std::copy(text.begin(), text.end(), field.begin());
        return field;
    }
    void compiled(const volume_extent&) override {
        streams.push_back(test::read_file(temp_name));
        remove_file(temp_name);
    }

    std::vector<volume_extent> taken;
    std::vector<std::string> streams;

private:
    uint64_t max_size_;
    std::size_t refuse_volume_;
};

class Volumes : public testing::Test {
protected:
    void SetUp() override {
        // Translations of varied lengths, so that blocks differ in size.
        for (int i = 0; i < 1000; ++i)
            all.emplace_back("w" + std::to_string(10000 + i),
                             std::string(static_cast<std::size_t>(i % 37) * 3, 'a' + i % 26) +
                                 std::to_string(i * 7919));
        test::write_file(dir / "d.txt", test::make_source("T", all));
        set_file_names(dir / "d.txt");
        words_per_block = 100;
    }

    keeping_cutter cut(uint64_t max_size, unsigned jobs = 1, source_range range = {},
                       std::size_t refuse_volume = 0) {
        keeping_cutter cutter(max_size, refuse_volume);
        testing::internal::CaptureStdout();
        compile_volumes(cutter, range, stream_limits{}, jobs);
        release_work_file();
        testing::internal::GetCapturedStdout();
        return cutter;
    }

    // The entries from first, count of them.
    entries part(uint64_t first, uint64_t count) const {
        return {all.begin() + static_cast<std::ptrdiff_t>(first),
                all.begin() + static_cast<std::ptrdiff_t>(first + count)};
    }

    test::scratch_dir dir;
    entries all;
};

// Each volume is the stream of its entries alone, as the dictionary's single
// stream would hold their blocks; it stays within the size, and the next
// block would have taken it past: volumes are as full as the size allows.
TEST_F(Volumes, EachIsTheStreamOfItsEntriesAndAsFullAsTheSizeAllows) {
    const std::string single = test::expected_stream("T", all, 100);
    const test::parsed_stream whole = test::parse_stream(single);
    const uint64_t single_size = database_file_size(single.size());
    // The largest block alone, in a database of its own.
    uint64_t smallest = 0;
    for (std::size_t b = 0; b < whole.index.size(); ++b)
        smallest = std::max<uint64_t>(
            smallest, database_file_size(stream_header_size + whole.index[b].block_length +
                                         whole.keys[b].first.size() + whole.keys[b].second.size() +
                                         2 + block_index_entry_size));
    for (const uint64_t max_size :
         {single_size + 1, single_size, single_size - 1, single_size / 2, single_size / 3,
          smallest + 1, smallest}) {
        std::string one_job;
        for (unsigned jobs : {1u, 3u}) {
            const keeping_cutter cutter = cut(max_size, jobs);
            ASSERT_EQ(cutter.streams.size(), cutter.taken.size()) << max_size;
            EXPECT_EQ(cutter.taken.size() == 1, max_size >= single_size) << max_size;
            uint64_t next = 0, block = 0;
            std::string all_streams;
            for (std::size_t v = 0; v < cutter.taken.size(); ++v) {
                const volume_extent& volume = cutter.taken[v];
                const std::string what = std::to_string(max_size) + ", volume " + std::to_string(v);
                EXPECT_EQ(volume.first_entry, next) << what;
                EXPECT_EQ(volume.ends_pass, v + 1 == cutter.taken.size()) << what;
                const entries own = part(volume.first_entry, volume.entries);
                const std::string title = own.front().first + "-" + own.back().first;
                EXPECT_EQ(cutter.streams[v], test::expected_stream(title, own, 100)) << what;
                const uint64_t size = database_file_size(cutter.streams[v].size());
                EXPECT_LE(size, max_size) << what;
                block += volume.blocks;
                if (v + 1 < cutter.taken.size()) {
                    const uint64_t with_next =
                        cutter.streams[v].size() + whole.index[block].block_length +
                        whole.keys[block].first.size() + whole.keys[block].second.size() + 2 +
                        block_index_entry_size;
                    EXPECT_GT(database_file_size(with_next), max_size) << what;
                }
                next += volume.entries;
                all_streams += cutter.streams[v];
            }
            EXPECT_EQ(next, all.size()) << max_size;
            if (jobs == 1)
                one_job = all_streams;
            else
                EXPECT_EQ(all_streams, one_job) << max_size << ", " << jobs << " jobs";
        }
    }
}

TEST_F(Volumes, ARangeIsCompiledWithBlocksCountedFromItsStart) {
    const keeping_cutter cutter = cut(max_database_size, 1, {250, 730});
    ASSERT_EQ(cutter.taken.size(), 1u);
    EXPECT_EQ(cutter.taken[0].first_entry, 250u);
    EXPECT_EQ(cutter.taken[0].entries, 480u);
    EXPECT_EQ(cutter.taken[0].blocks, 5u);
    EXPECT_EQ(cutter.streams[0], test::expected_stream("w10250-w10729", part(250, 480), 100));
}

TEST_F(Volumes, ARefusedVolumeEndsThePassUnwritten) {
    const keeping_cutter cutter = cut(database_file_size(5000), 2, {}, 2);
    ASSERT_EQ(cutter.taken.size(), 2u);
    EXPECT_EQ(cutter.streams.size(), 1u);
    EXPECT_EQ(cutter.taken[1].first_entry, cutter.taken[0].entries);
}

TEST_F(Volumes, EachHoldsAtMostTheBlocksAStreamCanDescribe) {
    keeping_cutter cutter(max_database_size);
    testing::internal::CaptureStdout();
    compile_volumes(cutter, {}, {3, max_stream_size}, 2);
    release_work_file();
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(cutter.taken.size(), 4u);
    for (std::size_t v = 0; v < 4; ++v) {
        EXPECT_EQ(cutter.taken[v].blocks, v < 3 ? 3u : 1u);
        const entries own = part(cutter.taken[v].first_entry, cutter.taken[v].entries);
        EXPECT_EQ(cutter.streams[v],
                  test::expected_stream(own.front().first + "-" + own.back().first, own, 100));
    }
}

void compile_volumes_with(volume_cutter& cutter) {
    dup2(STDERR_FILENO, STDOUT_FILENO);
    compile_volumes(cutter, {}, stream_limits{}, 2);
}

TEST_F(Volumes, ABlockLargerThanTheSizeOnItsOwnEndsTheRun) {
    // The largest block in a database of its own, one byte too large: the
    // run ends at it with the cutter's words.
    const test::parsed_stream whole = test::parse_stream(test::expected_stream("T", all, 100));
    std::size_t largest = 0;
    uint64_t largest_size = 0;
    for (std::size_t b = 0; b < whole.index.size(); ++b) {
        const uint64_t size = database_file_size(
            stream_header_size + whole.index[b].block_length + whole.keys[b].first.size() +
            whole.keys[b].second.size() + 2 + block_index_entry_size);
        if (size > largest_size) {
            largest = b;
            largest_size = size;
        }
    }
    keeping_cutter cutter(largest_size - 1);
    EXPECT_EXIT(compile_volumes_with(cutter), testing::ExitedWithCode(1),
                "\nerror: entries " + std::to_string(largest * 100) + "\\+100: " +
                    std::to_string(largest_size) + "\n$");
}

}  // namespace
}  // namespace lexaro
