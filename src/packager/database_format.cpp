#include "packager/database_format.h"

#include <algorithm>
#include <cstring>

#include "common/big_endian.h"

namespace lexaro {

void encode_database_header(std::string_view name, uint32_t handheld_now, uint16_t record_count,
                            uint8_t* out) {
    std::memset(out, 0, database_header_size);
    const std::size_t name_length = std::min(name.size(), database_name_size - 1);
    std::memcpy(out + 0, name.data(), name_length);  // name, zero-padded to 32 bytes
    put_u16(out + 32, 0);                            // attributes
    put_u16(out + 34, 0);                            // version
    put_u32(out + 36, handheld_now);                 // creation date
    put_u32(out + 40, handheld_now);                 // modification date
    put_u32(out + 44, handheld_now);                 // last backup date
    put_u32(out + 48, 0);                            // modification number
    put_u32(out + 52, 0);                            // application info offset
    put_u32(out + 56, 0);                            // sort info offset
    std::memcpy(out + 60, database_type, 4);         // type
    std::memcpy(out + 64, database_creator, 4);      // creator
    put_u32(out + 68, 0);                            // unique ID seed
    put_u32(out + 72, 0);                            // next record list
    put_u16(out + 76, record_count);                 // record count
}

void encode_record_entry(uint32_t offset, uint32_t unique_id, uint8_t* out) {
    put_u32(out + 0, offset);     // record offset
    out[4] = 0;                   // record attributes
    put_u24(out + 5, unique_id);  // unique ID
}

}  // namespace lexaro
