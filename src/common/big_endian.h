// Byte-order helpers: every multi-byte number in the stream and the database
// is stored most significant byte first, whatever the host's byte order.
#pragma once

#include <cstdint>

namespace lexaro {

inline void put_u16(uint8_t* out, uint16_t value) {
    out[0] = static_cast<uint8_t>(value >> 8);
    out[1] = static_cast<uint8_t>(value);
}

inline void put_u24(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value >> 16);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value);
}

inline void put_u32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value >> 24);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 8);
    out[3] = static_cast<uint8_t>(value);
}

inline uint16_t get_u16(const uint8_t* in) { return static_cast<uint16_t>((in[0] << 8) | in[1]); }

inline uint32_t get_u24(const uint8_t* in) {
    return (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
}

inline uint32_t get_u32(const uint8_t* in) {
    return (uint32_t{in[0]} << 24) | (uint32_t{in[1]} << 16) | (uint32_t{in[2]} << 8) | in[3];
}

}  // namespace lexaro
