#include "compiler/stream_format.h"

#include <cstring>

#include "common/big_endian.h"

namespace lexaro {

namespace at = field_offset;

// The header is packed: its 32-bit fields start at offsets 6 to 26, none on a
// 4-byte boundary, so it is written field by field.
void encode_stream_header(const stream_header& h, uint8_t* out) {
    put_u16(out + at::stream_version, h.version);
    put_u16(out + at::block_count, h.block_count);
    put_u16(out + at::words_per_block, h.words_per_block);
    put_u32(out + at::entry_count, h.entry_count);
    put_u32(out + at::index_offset, h.index_offset);
    put_u32(out + at::max_word_size, h.max_word_size);
    put_u32(out + at::max_translation_size, h.max_translation_size);
    put_u32(out + at::avg_word_size, h.avg_word_size);
    put_u32(out + at::avg_translation_size, h.avg_translation_size);
    std::memcpy(out + at::title, h.title.data(), title_size);
}

stream_header decode_stream_header(const uint8_t* in) {
    stream_header h;
    h.version = get_u16(in + at::stream_version);
    h.block_count = get_u16(in + at::block_count);
    h.words_per_block = get_u16(in + at::words_per_block);
    h.entry_count = get_u32(in + at::entry_count);
    h.index_offset = get_u32(in + at::index_offset);
    h.max_word_size = get_u32(in + at::max_word_size);
    h.max_translation_size = get_u32(in + at::max_translation_size);
    h.avg_word_size = get_u32(in + at::avg_word_size);
    h.avg_translation_size = get_u32(in + at::avg_translation_size);
    std::memcpy(h.title.data(), in + at::title, title_size);
    return h;
}

void encode_block_index_entry(const block_index_entry& e, uint8_t* out) {
    put_u32(out + at::key_offset, e.key_offset);
    put_u32(out + at::block_offset, e.block_offset);
    put_u32(out + at::block_length, e.block_length);
}

block_index_entry decode_block_index_entry(const uint8_t* in) {
    block_index_entry e;
    e.key_offset = get_u32(in + at::key_offset);
    e.block_offset = get_u32(in + at::block_offset);
    e.block_length = get_u32(in + at::block_length);
    return e;
}

}  // namespace lexaro
