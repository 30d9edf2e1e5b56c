// Encoders of the Palm OS database around the dictionary stream: the 78-byte
// database header and the 8-byte record entries of the record list.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/layout.h"

namespace lexaro {

// n = S div 32768 + 1: not rounded up, so a stream of exactly k * 32768 bytes
// gets an empty last record.
inline uint32_t record_count_for(uint64_t stream_size) {
    return static_cast<uint32_t>(stream_size / record_size + 1);
}

// The bytes of a database around a stream of this size: header, record
// list, the two bytes after it, and the stream.
inline uint64_t database_file_size(uint64_t stream_size) {
    return database_header_size + uint64_t{record_entry_size} * record_count_for(stream_size) +
           record_list_gap_size + stream_size;
}

// File offset of record i in a database of n records.
inline uint32_t record_offset(uint32_t record_count, uint32_t i) {
    return static_cast<uint32_t>(database_header_size + record_entry_size * record_count +
                                 record_list_gap_size + uint64_t{record_size} * i);
}

// The name field takes at most 31 bytes of the name, then zero bytes; the three
// dates are all the given handheld time.
void encode_database_header(std::string_view name, uint32_t handheld_now, uint16_t record_count,
                            uint8_t* out);  // database_header_size bytes

void encode_record_entry(uint32_t offset, uint32_t unique_id, uint8_t* out);  // 8 bytes

}  // namespace lexaro
