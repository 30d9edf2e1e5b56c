// Encoders of the two fixed records of the dictionary stream: the 286-byte
// stream header at offset 0 and the 12-byte block index entry.
#pragma once

#include <array>
#include <cstdint>

#include "common/layout.h"

namespace lexaro {

struct stream_header {
    uint16_t version = stream_version;
    uint16_t block_count = 0;
    uint16_t words_per_block = 0;
    uint32_t entry_count = 0;
    uint32_t index_offset = 0;
    uint32_t max_word_size = 0;
    uint32_t max_translation_size = 0;
    uint32_t avg_word_size = 0;
    uint32_t avg_translation_size = 0;
    std::array<uint8_t, title_size> title{};
};

struct block_index_entry {
    uint32_t key_offset = 0;    // stream offset of the block's key in the key table
    uint32_t block_offset = 0;  // stream offset of the compressed block
    uint32_t block_length = 0;  // length of the compressed block
};

void encode_stream_header(const stream_header& header, uint8_t* out);  // stream_header_size bytes
stream_header decode_stream_header(const uint8_t* in);

void encode_block_index_entry(const block_index_entry& entry, uint8_t* out);  // 12 bytes
block_index_entry decode_block_index_entry(const uint8_t* in);

}  // namespace lexaro
