// An MDict writer for the tests: small .mdx files of engine version 1.x or
// 2.0, their blocks stored, LZO1X (liblzo2) or zlib, the key-block index
// scrambled or not, and any of the numbers they hold made to lie while
// every checksum stays right, so that each check of the reader can be met
// alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lexaro::test {

enum class mdict_compression { stored, lzo, lzo_best, zlib };

// Numbers written instead of the true ones (nothing: the true one).
struct mdict_lies {
    // The keyword section.
    std::optional<uint64_t> key_blocks, entries, index_stored, key_blocks_stored;
    // The record section.
    std::optional<uint64_t> record_entries, record_table_size, record_blocks_stored;
    int64_t first_row_entries = 0;      // added to the first index row's entry count
    int64_t first_row_inflated = 0;     // added to the first index row's inflated size
    int64_t first_record_inflated = 0;  // added to the first record block's inflated size
    int64_t first_record_stored = 0;    // and to its stored size
    std::vector<std::pair<std::size_t, uint64_t>> record_offsets;  // entry, offset given
    std::optional<uint32_t> first_record_type;                     // its type word
    std::optional<std::string> first_record_data;                  // its data after the prefix
    // Changes made to the key-block index and the first key block before
    // they are compressed, their sizes and checksums taken after.
    std::function<void(std::string&)> edit_index, edit_first_key_block;
};

struct mdict_options {
    std::string version = "2.0";
    std::string encoding = "UTF-8";
    std::string encrypted = "0";
    std::string format = "Html";
    std::string title = "Test";
    std::string more_attributes;  // written as they stand after the others
    std::string element = "Dictionary";
    mdict_compression compression = mdict_compression::zlib;  // key and record blocks
    std::size_t keys_per_block = 2;
    std::size_t records_per_block = 2;
    // When not 0, the records are cut into blocks of this many bytes, so
    // that records straddle blocks.
    std::size_t record_block_bytes = 0;
    // Consecutive entries with the same record share it (one offset).
    bool share_records = true;
    mdict_lies lies;
};

// Where the parts of a written file begin, for tests that damage them.
struct mdict_file {
    std::string bytes;
    std::size_t keyword_section = 0;
    std::size_t key_index = 0;
    std::vector<std::size_t> key_blocks;
    std::size_t record_section = 0;
    std::vector<std::size_t> record_blocks;
};

// Keys and records are bytes in the file's encoding, without the
// terminators, which the writer adds (two zero bytes in UTF-16).
mdict_file write_mdict(const std::vector<std::pair<std::string, std::string>>& entries,
                       const mdict_options& options = {});

// UTF-8 text as UTF-16LE bytes.
std::string utf16le(std::string_view utf8);

// The data as liblzo2 compresses them into a raw LZO1X stream: level 1, or
// with best level 999.
std::string lzo1x_compressed(std::string_view data, bool best);

}  // namespace lexaro::test
