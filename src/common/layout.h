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

// The largest file a database can be: header, a full record list, the gap
// and a stream just short of max_stream_size (exclusive).
constexpr uint64_t max_database_size = database_header_size + record_entry_size * max_record_count +
                                       record_list_gap_size + max_stream_size;

// Every block is compressed at level 9 with zlib's default window, which
// makes its first two bytes these.
constexpr uint8_t block_zlib_header[2] = {0x78, 0xDA};

// Where each field lies within the database header, a record entry, the
// stream header and a block index entry.
namespace field_offset {
constexpr std::size_t name = 0, attributes = 32, version = 34, creation_date = 36,
                      modification_date = 40, backup_date = 44, modification_number = 48,
                      app_info_offset = 52, sort_info_offset = 56, type = 60, creator = 64,
                      unique_id_seed = 68, next_record_list = 72, record_count = 76;
constexpr std::size_t record_offset = 0, record_attributes = 4, unique_id = 5;
constexpr std::size_t stream_version = 0, block_count = 2, words_per_block = 4, entry_count = 6,
                      index_offset = 10, max_word_size = 14, max_translation_size = 18,
                      avg_word_size = 22, avg_translation_size = 26, title = 30;
constexpr std::size_t key_offset = 0, block_offset = 4, block_length = 8;
}  // namespace field_offset

// Seconds from 1904-01-01 (the handheld's epoch) to 1970-01-01.
constexpr uint32_t handheld_epoch_offset = 2082844800u;

}  // namespace lexaro
