#include "compiler/stream_format.h"

#include <cstring>

#include "common/big_endian.h"

namespace lexaro {

// The header is packed: its 32-bit fields start at offsets 6 to 26, none on a
// 4-byte boundary, so it is written field by field.
void encode_stream_header(const stream_header& h, uint8_t* out) {
    put_u16(out + 0, h.version);
    put_u16(out + 2, h.block_count);
    put_u16(out + 4, h.words_per_block);
    put_u32(out + 6, h.entry_count);
    put_u32(out + 10, h.index_offset);
    put_u32(out + 14, h.max_word_size);
    put_u32(out + 18, h.max_translation_size);
    put_u32(out + 22, h.avg_word_size);
    put_u32(out + 26, h.avg_translation_size);
    std::memcpy(out + 30, h.title.data(), title_size);  // title
}

stream_header decode_stream_header(const uint8_t* in) {
    stream_header h;
    h.version = get_u16(in + 0);
    h.block_count = get_u16(in + 2);
    h.words_per_block = get_u16(in + 4);
    h.entry_count = get_u32(in + 6);
    h.index_offset = get_u32(in + 10);
    h.max_word_size = get_u32(in + 14);
    h.max_translation_size = get_u32(in + 18);
    h.avg_word_size = get_u32(in + 22);
    h.avg_translation_size = get_u32(in + 26);
    std::memcpy(h.title.data(), in + 30, title_size);  // title
    return h;
}

void encode_block_index_entry(const block_index_entry& e, uint8_t* out) {
    put_u32(out + 0, e.key_offset);
    put_u32(out + 4, e.block_offset);
    put_u32(out + 8, e.block_length);
}

block_index_entry decode_block_index_entry(const uint8_t* in) {
    block_index_entry e;
    e.key_offset = get_u32(in + 0);
    e.block_offset = get_u32(in + 4);
    e.block_length = get_u32(in + 8);
    return e;
}

}  // namespace lexaro
