#include "import/formats/ripemd128.h"

#include <cstring>

namespace lexaro::import {

namespace {

constexpr std::size_t block_size = 64;
constexpr std::size_t length_bytes = 8;  // the message length in bits, little-endian, at the end

// The order in which each round takes the 16 words of a block, and how far
// it rotates, on the left line and on the parallel right line.
constexpr uint8_t left_word[64] = {0, 1,  2,  3,  4,  5,  6,  7, 8,  9, 10, 11, 12, 13, 14, 15,  //
                                   7, 4,  13, 1,  10, 6,  15, 3, 12, 0, 9,  5,  2,  14, 11, 8,   //
                                   3, 10, 14, 4,  9,  15, 8,  1, 2,  7, 0,  6,  13, 11, 5,  12,  //
                                   1, 9,  11, 10, 0,  8,  12, 4, 13, 3, 7,  15, 14, 5,  6,  2};
constexpr uint8_t right_word[64] = {5,  14, 7, 0, 9, 2,  11, 4,  13, 6,  15, 8,  1,  10, 3,  12,  //
                                    6,  11, 3, 7, 0, 13, 5,  10, 14, 15, 8,  12, 4,  9,  1,  2,   //
                                    15, 5,  1, 3, 7, 14, 6,  9,  11, 8,  12, 2,  10, 0,  4,  13,  //
                                    8,  6,  4, 1, 3, 11, 15, 0,  5,  12, 2,  13, 9,  7,  10, 14};
constexpr uint8_t left_shift[64] = {
    11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6,  7,  9,  8,   //
    7,  6,  8,  13, 11, 9,  7,  15, 7,  12, 15, 9,  11, 7,  13, 12,  //
    11, 13, 6,  7,  14, 9,  13, 15, 14, 8,  13, 6,  5,  12, 7,  5,   //
    11, 12, 14, 15, 14, 15, 9,  8,  9,  14, 5,  6,  8,  6,  5,  12};
constexpr uint8_t right_shift[64] = {
    8,  9,  9,  11, 13, 15, 15, 5,  7,  7,  8,  11, 14, 14, 12, 6,   //
    9,  13, 15, 7,  12, 8,  9,  11, 7,  7,  12, 7,  6,  15, 13, 11,  //
    9,  7,  15, 11, 8,  6,  6,  14, 12, 13, 5,  14, 13, 13, 7,  5,   //
    15, 5,  8,  11, 14, 14, 6,  14, 6,  9,  12, 9,  12, 5,  15, 8};
constexpr uint32_t left_constant[4] = {0x00000000, 0x5A827999, 0x6ED9EBA1, 0x8F1BBCDC};
constexpr uint32_t right_constant[4] = {0x50A28BE6, 0x5C4DD124, 0x6D703EF3, 0x00000000};
constexpr uint32_t initial_state[4] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};

uint32_t rotate_left(uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

// The four boolean functions; the left line uses them in order, the right
// line in reverse.
uint32_t mix(unsigned round, uint32_t x, uint32_t y, uint32_t z) {
    switch (round) {
        case 0:
            return x ^ y ^ z;
        case 1:
            return (x & y) | (~x & z);
        case 2:
            return (x | ~y) ^ z;
        default:
            return (x & z) | (y & ~z);
    }
}

void compress(uint32_t state[4], const uint8_t* block) {
    uint32_t words[16];
    for (std::size_t i = 0; i < 16; ++i) {
        const uint8_t* p = block + 4 * i;
        words[i] =
            uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t ar = a, br = b, cr = c, dr = d;
    for (unsigned step = 0; step < 64; ++step) {
        const unsigned round = step / 16;
        uint32_t t =
            rotate_left(a + mix(round, b, c, d) + words[left_word[step]] + left_constant[round],
                        left_shift[step]);
        a = d, d = c, c = b, b = t;
        t = rotate_left(
            ar + mix(3 - round, br, cr, dr) + words[right_word[step]] + right_constant[round],
            right_shift[step]);
        ar = dr, dr = cr, cr = br, br = t;
    }
    const uint32_t t = state[1] + c + dr;
    state[1] = state[2] + d + ar;
    state[2] = state[3] + a + br;
    state[3] = state[0] + b + cr;
    state[0] = t;
}

}  // namespace

ripemd128_digest ripemd128(std::string_view message) {
    uint32_t state[4];
    std::memcpy(state, initial_state, sizeof state);
    const auto* bytes = reinterpret_cast<const uint8_t*>(message.data());
    std::size_t whole = message.size() - message.size() % block_size;
    for (std::size_t at = 0; at < whole; at += block_size) compress(state, bytes + at);

    // The rest, a one bit, zeros, and the length in bits: one or two blocks.
    uint8_t tail[2 * block_size] = {};
    const std::size_t rest = message.size() - whole;
    if (rest > 0) std::memcpy(tail, bytes + whole, rest);
    tail[rest] = 0x80;
    const std::size_t tail_size =
        rest + 1 + length_bytes <= block_size ? block_size : 2 * block_size;
    const uint64_t bits = static_cast<uint64_t>(message.size()) * 8;
    for (std::size_t i = 0; i < length_bytes; ++i)
        tail[tail_size - length_bytes + i] = static_cast<uint8_t>(bits >> (8 * i));
    for (std::size_t at = 0; at < tail_size; at += block_size) compress(state, tail + at);

    ripemd128_digest digest;
    for (std::size_t i = 0; i < 16; ++i)
        digest[i] = static_cast<uint8_t>(state[i / 4] >> (8 * (i % 4)));
    return digest;
}

}  // namespace lexaro::import
