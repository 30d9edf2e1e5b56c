// Every fixed number of the two file layouts that lexaro writes: the
// dictionary stream (the temporary file) and the Palm OS database around it.
// The reader on the handheld depends on each of them byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lexaro {

// Dictionary stream.
constexpr uint16_t stream_version = 1;
constexpr std::size_t stream_header_size = 286;
constexpr std::size_t title_size = 256;
constexpr std::size_t block_index_entry_size = 12;
constexpr std::size_t block_buffer_size = 1000000;  // blockbuf and the compressed block buffer
constexpr int compression_level = 9;
constexpr uint32_t max_block_count = 65535;  // block_count is 16 bits wide

// Block size setting.
constexpr int32_t default_words_per_block = 500;
constexpr int32_t min_words_per_block = 100;
constexpr int32_t max_words_per_block = 10000;

// Palm OS database.
constexpr std::size_t database_header_size = 78;
constexpr std::size_t database_name_size = 32;  // includes at least one zero byte
constexpr std::size_t record_entry_size = 8;
constexpr std::size_t record_list_gap_size = 2;  // two zero bytes after the record list
constexpr uint32_t record_size = 32768;
constexpr uint32_t max_record_count = 65535;  // the record count is 16 bits wide
constexpr char database_type[4] = {'D', 'I', 'd', 'a'};
constexpr char database_creator[4] = {'Q', 'z', 'v', 'k'};

// A stream must leave room for its last record: with n = size / 32768 + 1
// records, the 16-bit record count holds it only below 65535 * 32768 bytes.
constexpr uint64_t max_stream_size = uint64_t{max_record_count} * record_size;  // exclusive

// Seconds from 1904-01-01 (the handheld's epoch) to 1970-01-01.
constexpr uint32_t handheld_epoch_offset = 2082844800u;

}  // namespace lexaro
