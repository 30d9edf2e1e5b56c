// An MDict writer for the tests: small .mdx files of engine version 1.x or
// 2.0, their blocks stored, LZO1X (liblzo2) or zlib, the key-block index
// scrambled or not, and any of the numbers they hold made to lie while
// every checksum stays right, so that each check of the reader can be met
// alone. Beside it, one of engine version 3.0, whose blocks it enciphers
// with libsodium's Salsa20/8 and a key from libxxhash's XXH64, not with
// the reader's own.
#pragma once

#include <array>
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

// --- Engine 3.0 ---

enum class mdict3_cipher { none = 0, simple = 1, salsa = 2 };

// How one kind of block is stored.
struct mdict3_block_kind {
    mdict_compression compression = mdict_compression::zlib;
    mdict3_cipher cipher = mdict3_cipher::none;
    std::size_t enciphered = 16;  // the bytes of its head enciphered, at most all its data
};

using mdict3_key = std::array<uint8_t, 16>;

// Numbers and texts written instead of the true ones.
struct mdict3_lies {
    // The info blocks' XML, by unit type (1 to 4), before it is stored.
    std::function<void(int, std::string&)> edit_info;
    // The record index, the key-block index and the first key block before
    // they are stored, their sizes and checksums taken after.
    std::function<void(std::string&)> edit_record_index, edit_key_index, edit_first_key_block;
    std::vector<std::pair<std::size_t, uint64_t>> record_offsets;  // entry, offset given
    int64_t first_record_frame_inflated = 0;     // added to the first record block's frame
    std::optional<uint32_t> record_block_count;  // in the record-data unit's header
    std::optional<uint64_t> record_unit_length;  // likewise
    std::optional<uint32_t> first_unit_type;     // the type word of the first unit written
    // The first record block's first prefix byte (compression and cipher)
    // and second (its count of enciphered bytes), its checksum kept.
    std::optional<uint8_t> first_record_methods, first_record_enciphered;
};

struct mdict3_options {
    std::string version = "3.0";
    // The UUID that keys every block; "": none, each block keyed by the
    // RIPEMD-128 of its checksum.
    std::string uuid = "ef4250aa-e614-4346-9998-872175ed02aa";
    std::string title = "Test";  // "": no Title attribute
    std::string content_type = "Html";
    std::string more_attributes;  // written as they stand after the others
    // As mdx_util writes: the header ended by a NUL alone, every unit's
    // length 0, the info elements without line ends, its RecordIndex
    // counting record blocks.
    bool mdx_util = false;
    std::size_t keys_per_block = 2;
    std::size_t records_per_block = 2;
    // As MdxBuilder 4 stores each kind of block.
    mdict3_block_kind records{mdict_compression::zlib, mdict3_cipher::salsa};
    mdict3_block_kind record_index{mdict_compression::zlib, mdict3_cipher::simple};
    mdict3_block_kind keys{mdict_compression::zlib, mdict3_cipher::simple};
    mdict3_block_kind key_index{mdict_compression::stored, mdict3_cipher::simple};
    mdict3_block_kind info{mdict_compression::stored, mdict3_cipher::salsa};
    // Blocks enciphered with this key instead of the UUID's: a registered
    // user's file.
    std::optional<mdict3_key> registered_key;
    std::vector<int> unit_order = {1, 2, 3, 4};
    mdict3_lies lies;
};

// Where the parts of a written 3.0 file begin, for tests that damage them.
struct mdict3_file {
    std::string bytes;
    std::array<std::size_t, 5> units{};  // each unit's header, by type (1 to 4)
    std::array<std::size_t, 5> infos{};  // each info block (its prefix, after its frame)
    std::vector<std::size_t> record_blocks, key_blocks;  // each block's prefix
    std::size_t record_index = 0, key_index = 0;         // the index blocks' prefixes
};

mdict3_file write_mdict3(const std::vector<std::pair<std::string, std::string>>& entries,
                         const mdict3_options& options = {});

// The key that the UUID gives a 3.0 file's blocks, by libxxhash.
mdict3_key mdict3_key_of(const std::string& uuid);

// UTF-8 text as UTF-16LE bytes.
std::string utf16le(std::string_view utf8);

// The data as liblzo2 compresses them into a raw LZO1X stream: level 1, or
// with best level 999.
std::string lzo1x_compressed(std::string_view data, bool best);

}  // namespace lexaro::test
