// Scanning text eight bytes at a time for the few bytes that need a closer
// look: the clean-up passes over runs of ordinary ASCII this way, and the
// UTF-8 check over ASCII, rather than testing every byte in turn. And a hint
// for memory read in an order of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace lexaro::import {

constexpr uint64_t every_byte = 0x0101010101010101u;
constexpr uint64_t high_bits = 0x8080808080808080u;

// Eight bytes of text from p, the first in the lowest byte on any host.
inline uint64_t load_8(const char* p) {
    uint64_t bytes;
    std::memcpy(&bytes, p, sizeof bytes);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    bytes = __builtin_bswap64(bytes);
#endif
    return bytes;
}

// The high bit of each byte below n (at most 0x80). A borrow may mark bytes
// above the first one below n, never one before it: the first marked byte is
// always right.
inline uint64_t bytes_below(uint64_t bytes, unsigned char n) {
    return (bytes - every_byte * n) & ~bytes & high_bits;
}

// The high bit of each byte equal to c; the first marked byte is right.
inline uint64_t bytes_equal(uint64_t bytes, unsigned char c) {
    return bytes_below(bytes ^ (every_byte * c), 1);
}

// The index (0 to 7) of the first byte whose high bit a nonzero mask marks.
inline std::size_t first_marked(uint64_t mask) {
    return static_cast<std::size_t>(__builtin_ctzll(mask)) / 8;
}

// From i on, the index of the first byte of 0x80 or above; text.size() when
// there is none.
inline std::size_t skip_ascii(std::string_view text, std::size_t i) {
    for (; i + 8 <= text.size(); i += 8) {
        const uint64_t high = load_8(text.data() + i) & high_bits;
        if (high != 0) return i + first_marked(high);
    }
    while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
    return i;
}

// Starts loading the memory at p into the processor's caches, for a loop
// that will read it a few steps later and whose reads jump about (the keys
// of an index taken in the order of the articles, entries taken in sorted
// order): a wait for memory at each step would otherwise cost more than the
// step's own work. Call it in the loop itself: GCC takes a function or
// lambda that does nothing but call it for one without effect, and drops it.
inline void prefetch(const void* p) { __builtin_prefetch(p); }

}  // namespace lexaro::import
