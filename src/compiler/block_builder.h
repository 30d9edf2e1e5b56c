// Pass 1: compiles the source file into the dictionary stream, written into
// the temporary file: header, compressed blocks, key table, block index.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "common/layout.h"
#include "compiler/source_reader.h"

namespace lexaro {

// The bounds beyond which the stream cannot be described or packaged. Tests
// lower them to reach the refusals without writing gigabytes.
struct stream_limits {
    uint32_t max_blocks = max_block_count;
    uint64_t max_size = max_stream_size;  // the stream must stay below this
};

// Reads source_name, words_per_block and temp_name. Returns once the whole
// stream is written and both files are closed; every failure is fatal (an
// observer's failure throws, and the files are closed on the way out).
//
// jobs: how many blocks are compressed at once, each on a thread of its
// own, while this thread reads the source and writes the blocks in order;
// the stream's bytes are the same for every number. With 1, as lexaro runs
// it, each block is compressed and written on this thread as it is cut.
// A failure is the one that one job meets first: blocks cut before it are
// written first, and none after it.
void compile_dictionary(const stream_limits& limits = stream_limits{}, unsigned jobs = 1);

// The entries that one database of a dictionary cut into volumes holds:
// entries counted from 0, the first after the source's title line.
struct volume_extent {
    uint64_t first_entry = 0;
    uint64_t entries = 0;
    uint32_t blocks = 0;
    bool ends_pass = false;  // it ends where the entries compiled end
};

// Cuts a dictionary into volumes as it is compiled: a volume ends before the
// block that would make its database larger than max_database_size(), or
// that would be its 65536th. Each volume's stream is written into temp_name
// and handed over, whole, before the next one begins there; its blocks are
// those the dictionary's single stream would hold, each compressed once.
class volume_cutter {
public:
    virtual uint64_t max_database_size() const = 0;
    // The fatal error's message for a block that makes a database larger
    // than that on its own: its entries and the database's size.
    virtual std::string block_too_large(uint64_t first_entry, uint64_t entries,
                                        uint64_t database_size) = 0;
    // Whether the volume, now cut, is taken; false ends the pass before it
    // is written, and nothing more is compiled.
    virtual bool take(const volume_extent& volume) = 0;
    // The title field of a volume taken, from the source's own title field
    // and the volume's first and last words.
    virtual title_field title(const volume_extent& volume, const title_field& source_title,
                              std::string_view first_word, std::string_view last_word) = 0;
    // The volume's stream is complete in temp_name, closed, for the
    // packager; the temporary file may be removed.
    virtual void compiled(const volume_extent& volume) = 0;

protected:
    ~volume_cutter() = default;
};

// The entries of the source that one pass of compile_volumes compiles.
struct source_range {
    uint64_t first_entry = 0;  // those before it are read and skipped
    uint64_t end_entry = std::numeric_limits<uint64_t>::max();  // exclusive
};

// Compiles the range of the source into volumes for the cutter, with
// words_per_block counted from the range's first entry, as compile_dictionary
// compiles a whole source; the blocks are the same. Returns once the range
// is compiled, or the cutter has refused a volume.
void compile_volumes(volume_cutter& cutter, const source_range& range,
                     const stream_limits& limits = stream_limits{}, unsigned jobs = 1);

}  // namespace lexaro
