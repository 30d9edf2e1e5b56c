#include "packager/database_format.h"

#include <algorithm>
#include <cstring>

#include "common/big_endian.h"

namespace lexaro {

namespace at = field_offset;

void encode_database_header(std::string_view name, uint32_t handheld_now, uint16_t record_count,
                            uint8_t* out) {
    std::memset(out, 0, database_header_size);
    const std::size_t name_length = std::min(name.size(), database_name_size - 1);
    std::memcpy(out + at::name, name.data(), name_length);  // name, zero-padded to 32 bytes
    put_u16(out + at::attributes, 0);
    put_u16(out + at::version, 0);
    put_u32(out + at::creation_date, handheld_now);
    put_u32(out + at::modification_date, handheld_now);
    put_u32(out + at::backup_date, handheld_now);
    put_u32(out + at::modification_number, 0);
    put_u32(out + at::app_info_offset, 0);
    put_u32(out + at::sort_info_offset, 0);
    std::memcpy(out + at::type, database_type, 4);
    std::memcpy(out + at::creator, database_creator, 4);
    put_u32(out + at::unique_id_seed, 0);
    put_u32(out + at::next_record_list, 0);
    put_u16(out + at::record_count, record_count);
}

void encode_record_entry(uint32_t offset, uint32_t unique_id, uint8_t* out) {
    put_u32(out + at::record_offset, offset);
    out[at::record_attributes] = 0;
    put_u24(out + at::unique_id, unique_id);
}

}  // namespace lexaro
