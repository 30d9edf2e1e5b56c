// Reading a database back. Every rule of its layout is checked as it is
// read, and the first one broken is reported with the file offset where it
// lies. The file is untrusted: no count or offset is used to read, allocate
// or inflate anything before it has been checked against the file's size.
//
// Memory stays bounded whatever the file holds: the header, record list,
// key table and block index are read in small pieces, the keys stay in the
// file (only their sizes are kept), and the blocks are read and inflated one
// at a time through two buffers of 1,000,000 bytes (a pair more for each
// further job).
#pragma once

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ordered_work.h"
#include "common/random_access_file.h"
#include "compiler/stream_format.h"

namespace lexaro::dump {

// A broken rule: what is wrong, and where in the file. An unreadable one
// says that the file could not be read there (an error of the device, or a
// file that shrank while it was read).
struct violation {
    uint64_t offset;
    std::string rule;
    bool unreadable = false;
};
using outcome = std::optional<violation>;  // empty when every rule holds

std::string describe(const violation& v);  // "offset N: rule"

// The sizes of a block's key: its first and last word, without their zero
// bytes. The words themselves are read from the file when needed.
struct key_sizes {
    uint32_t first = 0, last = 0;
};

// A database whose header, record list, stream header, block offsets, key
// table and block index have been checked.
struct database {
    const random_access_input* file = nullptr;
    uint64_t file_size = 0;
    std::string name;  // the name field up to its zero byte
    uint32_t creation_date = 0;
    uint32_t record_count = 0;
    uint64_t stream_start = 0;  // file offset of stream offset 0
    uint64_t stream_size = 0;
    stream_header header;
    std::vector<block_index_entry> index;
    std::vector<key_sizes> keys;
};

// The file must outlive db.
outcome open_database(const random_access_input& file, database& db);

// The first (or last) word of block i's key, read from the file.
outcome read_key_word(const database& db, uint32_t i, bool last, std::string& word);

// Inflates one zlib stream read from a file into a buffer of bound + 1
// bytes, feeding it at most bound bytes of input at a time.
class bounded_inflater {
public:
    explicit bounded_inflater(std::size_t bound);
    ~bounded_inflater();
    bounded_inflater(const bounded_inflater&) = delete;
    bounded_inflater& operator=(const bounded_inflater&) = delete;

    // Inflates the length bytes at offset; gives what went wrong, or
    // nothing. When it is because the file could not be read, read_failed().
    std::optional<std::string> inflate(const random_access_input& file, uint64_t offset,
                                       uint64_t length);
    std::string_view output() const { return {output_.data(), output_length_}; }
    bool read_failed() const { return read_failed_; }

private:
    std::size_t bound_;
    z_stream z_{};
    bool started_ = false;
    static constexpr std::size_t first_output_size = 1 << 16;
    std::vector<char> input_, output_;
    std::size_t output_length_ = 0;
    bool read_failed_ = false;
};

// The words and translations of one inflated block, in order: count words,
// then their count translations. The views hold until the next read.
struct block_entries {
    std::vector<std::string_view> strings;
    uint32_t count = 0;
    std::string_view word(uint32_t j) const { return strings[j]; }
    std::string_view translation(uint32_t j) const { return strings[count + j]; }
};

class block_reader {
public:
    block_reader() : inflater_(block_buffer_size) {}
    // Inflates block i, splits it into its strings and checks them against
    // the entry count its position implies and against its key.
    outcome read(const database& db, uint32_t i, block_entries& out);

private:
    bounded_inflater inflater_;
};

// What reading every entry found besides the rules.
struct entry_totals {
    uint64_t uncompressed_size = 0;  // all blocks inflated
    uint64_t compressed_size = 0;
};

// Reads every block in order; after the last one, checks the header's size
// statistics against those of the entries read. With more than one job the
// blocks are inflated and checked that many at a time, on threads of their
// own, each with its own buffers, and taken in order all the same: the
// first broken rule in file order is the one found, as with one.
class entry_reader {
public:
    explicit entry_reader(const database& db, unsigned jobs = 1);
    // Reads the next block into entries(); false after the last block or a
    // broken rule, which problem() then gives.
    bool next();
    const block_entries& entries() const { return slots_[current_]->entries; }
    const outcome& problem() const { return problem_; }
    const entry_totals& totals() const { return totals_; }  // once next() gave false

private:
    outcome check_statistics();

    // One block read on its way: which, into what, and what broke.
    struct block_slot {
        block_reader reader;
        block_entries entries;
        uint32_t block = 0;
        outcome problem;
    };

    const database& db_;
    std::vector<std::unique_ptr<block_slot>> slots_;
    ordered_work work_;
    std::size_t current_ = 0;
    bool holds_current_ = false;
    uint32_t next_block_ = 0;  // the next to start reading
    bool finished_ = false;
    outcome problem_;
    entry_totals totals_;
    uint32_t max_word_ = 0, max_translation_ = 0;
    uint64_t total_word_ = 0, total_translation_ = 0;
};

// The block whose key range holds word, found as the handheld reader finds
// it: by binary search over the key ranges in byte order. Nothing in block
// when no range holds it.
outcome find_block(const database& db, std::string_view word, std::optional<uint32_t>& block);

// Whether word lies in the database's range, from its first block's first
// word to its last block's last word in byte order: the range of one volume
// of a dictionary cut into several. A database without blocks holds none.
outcome range_holds(const database& db, std::string_view word, bool& holds);

}  // namespace lexaro::dump
