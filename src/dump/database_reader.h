// Reading a database back. Every rule of its layout is checked as it is
// read, and the first one broken is reported with the file offset where it
// lies. The file is untrusted: no count or offset is used to read, allocate
// or inflate anything before it has been checked against the file's size.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/stream_format.h"

namespace lexaro::dump {

// A broken rule: what is wrong, and where in the file.
struct violation {
    uint64_t offset;
    std::string rule;
};
using outcome = std::optional<violation>;  // empty when every rule holds

std::string describe(const violation& v);  // "offset N: rule"

// A database whose header, record list, stream header, block offsets, key
// table and block index have been checked. Views point into the file.
struct database {
    std::string_view file;
    std::string_view name;  // the name field up to its zero byte
    uint32_t creation_date = 0;
    uint32_t record_count = 0;
    uint64_t stream_start = 0;  // file offset of stream offset 0
    std::string_view stream;
    stream_header header;
    std::vector<block_index_entry> index;
    std::vector<std::string_view> first_words, last_words;  // the block keys
};

outcome open_database(std::string_view file, database& db);

// The words and translations of one inflated block, in order.
struct block_entries {
    std::vector<std::string_view> words, translations;
};

// Inflates blocks into one buffer that grows to at most 1,000,000 bytes;
// the views it hands out hold until the next read.
class block_reader {
public:
    // Inflates block i, splits it into its strings and checks them against
    // the entry count its position implies and against its key.
    outcome read(const database& db, uint32_t i, block_entries& out);

private:
    std::string buffer_;
};

// Inflates one zlib stream into out, which never grows beyond bound + 1
// bytes; gives what went wrong, or nothing.
std::optional<std::string> inflate_bounded(std::string_view compressed, std::size_t bound,
                                           std::string& out);

// What reading every entry found besides the rules.
struct entry_totals {
    uint64_t uncompressed_size = 0;  // all blocks inflated
    uint64_t compressed_size = 0;
};

// Reads every block in order and hands each entry to visit, then checks the
// header's size statistics against those of the entries read.
using entry_visitor = std::function<void(std::string_view word, std::string_view translation)>;
outcome read_entries(const database& db, const entry_visitor& visit,
                     entry_totals* totals = nullptr);

// The block whose key range holds word, found as the handheld reader finds
// it: by binary search over the key ranges in byte order.
std::optional<uint32_t> find_block(const database& db, std::string_view word);

}  // namespace lexaro::dump
