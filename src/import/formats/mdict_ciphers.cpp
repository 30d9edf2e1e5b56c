#include "import/formats/mdict_ciphers.h"

namespace lexaro::import {

namespace {

// --- XXH64 ---

constexpr uint64_t prime1 = 0x9E3779B185EBCA87ULL;
constexpr uint64_t prime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr uint64_t prime3 = 0x165667B19E3779F9ULL;
constexpr uint64_t prime4 = 0x85EBCA77C2B2AE63ULL;
constexpr uint64_t prime5 = 0x27D4EB2F165667C5ULL;
constexpr std::size_t stripe_bytes = 32;  // four lanes of 8 bytes

uint64_t rotl64(uint64_t x, int r) { return x << r | x >> (64 - r); }

uint64_t le64(const uint8_t* p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint64_t xxh_round(uint64_t lane, uint64_t input) {
    return rotl64(lane + input * prime2, 31) * prime1;
}

uint64_t merge_round(uint64_t hash, uint64_t lane) {
    return (hash ^ xxh_round(0, lane)) * prime1 + prime4;
}

// --- Salsa20 ---

constexpr uint32_t expand_16_byte_k[4] = {0x61707865, 0x3120646e, 0x79622d36, 0x6b206574};
constexpr int double_rounds = 4;  // Salsa20/8
constexpr std::size_t salsa_block_bytes = 64;

uint32_t rotl32(uint32_t x, int r) { return x << r | x >> (32 - r); }

void quarter(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d) {
    b ^= rotl32(a + d, 7);
    c ^= rotl32(b + a, 9);
    d ^= rotl32(c + b, 13);
    a ^= rotl32(d + c, 18);
}

// The simple cipher's first "byte before".
constexpr uint8_t simple_start = 0x36;

}  // namespace

uint64_t xxh64(std::string_view bytes, uint64_t seed) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    std::size_t left = bytes.size();
    uint64_t hash;
    if (left >= stripe_bytes) {
        uint64_t lane[4] = {seed + prime1 + prime2, seed + prime2, seed, seed - prime1};
        for (; left >= stripe_bytes; left -= stripe_bytes, p += stripe_bytes)
            for (int i = 0; i < 4; ++i) lane[i] = xxh_round(lane[i], le64(p + 8 * i));
        hash = rotl64(lane[0], 1) + rotl64(lane[1], 7) + rotl64(lane[2], 12) + rotl64(lane[3], 18);
        for (const uint64_t l : lane) hash = merge_round(hash, l);
    } else {
        hash = seed + prime5;
    }
    hash += bytes.size();
    for (; left >= 8; left -= 8, p += 8)
        hash = rotl64(hash ^ xxh_round(0, le64(p)), 27) * prime1 + prime4;
    if (left >= 4) {
        hash = rotl64(hash ^ le32(p) * prime1, 23) * prime2 + prime3;
        left -= 4;
        p += 4;
    }
    for (; left > 0; --left, ++p) hash = rotl64(hash ^ *p * prime5, 11) * prime1;
    hash ^= hash >> 33;
    hash *= prime2;
    hash ^= hash >> 29;
    hash *= prime3;
    hash ^= hash >> 32;
    return hash;
}

block_key key_from_uuid(std::string_view uuid) {
    const std::size_t half = (uuid.size() + 1) / 2;
    block_key key{};
    const uint64_t parts[2] = {xxh64(uuid.substr(0, half), 0), xxh64(uuid.substr(half), 0)};
    for (int part = 0; part < 2; ++part)
        for (int i = 0; i < 8; ++i)
            key[8 * part + i] = static_cast<uint8_t>(parts[part] >> (56 - 8 * i));
    return key;
}

void salsa20_8_xor(const block_key& key, uint8_t* data, std::size_t size) {
    uint32_t k[4];
    for (int i = 0; i < 4; ++i) k[i] = le32(key.data() + 4 * i);
    for (uint64_t counter = 0; size > 0; ++counter) {
        // The key's four words stand in both of its places.
        const uint32_t input[16] = {expand_16_byte_k[0],
                                    k[0],
                                    k[1],
                                    k[2],
                                    k[3],
                                    expand_16_byte_k[1],
                                    0,
                                    0,
                                    static_cast<uint32_t>(counter),
                                    static_cast<uint32_t>(counter >> 32),
                                    expand_16_byte_k[2],
                                    k[0],
                                    k[1],
                                    k[2],
                                    k[3],
                                    expand_16_byte_k[3]};
        uint32_t x[16];
        for (int i = 0; i < 16; ++i) x[i] = input[i];
        for (int r = 0; r < double_rounds; ++r) {
            quarter(x[0], x[4], x[8], x[12]);  // columns
            quarter(x[5], x[9], x[13], x[1]);
            quarter(x[10], x[14], x[2], x[6]);
            quarter(x[15], x[3], x[7], x[11]);
            quarter(x[0], x[1], x[2], x[3]);  // rows
            quarter(x[5], x[6], x[7], x[4]);
            quarter(x[10], x[11], x[8], x[9]);
            quarter(x[15], x[12], x[13], x[14]);
        }
        const std::size_t count = size < salsa_block_bytes ? size : salsa_block_bytes;
        for (std::size_t i = 0; i < count; ++i) {
            const uint32_t word = x[i / 4] + input[i / 4];
            data[i] ^= static_cast<uint8_t>(word >> (8 * (i % 4)));
        }
        data += count;
        size -= count;
    }
}

void simple_decipher(const block_key& key, uint8_t* data, std::size_t size) {
    uint8_t previous = simple_start;
    for (std::size_t i = 0; i < size; ++i) {
        const uint8_t stored = data[i];
        const auto swapped = static_cast<uint8_t>(stored >> 4 | stored << 4);
        data[i] = static_cast<uint8_t>(swapped ^ previous ^ static_cast<uint8_t>(i) ^ key[i % 16]);
        previous = stored;
    }
}

}  // namespace lexaro::import
