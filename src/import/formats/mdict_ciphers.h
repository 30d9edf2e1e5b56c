// What MDict 3.0's enciphered blocks need beside RIPEMD-128: the 64-bit
// xxHash (XXH64) from which the header's UUID gives the key of every block,
// Salsa20 of 8 rounds with a 16-byte key, and MDict's own simple cipher (the
// one that scrambles 2.0's key-block index). Small enough to live here, so
// that the page and the Windows build need no library for them; the tests
// check them against libxxhash and libsodium.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace lexaro::import {

using block_key = std::array<uint8_t, 16>;

// XXH64 of the bytes with the seed.
uint64_t xxh64(std::string_view bytes, uint64_t seed);

// The key of a 3.0 file's blocks: XXH64 of the UUID's first half (its
// larger half when its length is odd), then of the rest, each big-endian.
block_key key_from_uuid(std::string_view uuid);

// XORs the data with the Salsa20/8 keystream of the 16-byte key ("expand
// 16-byte k"), a nonce of zero and block counter 0 for its first 64 bytes.
void salsa20_8_xor(const block_key& key, uint8_t* data, std::size_t size);

// Undoes MDict's simple cipher in place: each byte's halves swapped, then
// XORed with the byte before it as stored (0x36 before the first), with its
// place and with the key.
void simple_decipher(const block_key& key, uint8_t* data, std::size_t size);

}  // namespace lexaro::import
