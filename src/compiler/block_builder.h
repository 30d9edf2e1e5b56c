// Pass 1: compiles the source file into the dictionary stream, written into
// the temporary file: header, compressed blocks, key table, block index.
#pragma once

#include <cstdint>

#include "common/layout.h"

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

}  // namespace lexaro
