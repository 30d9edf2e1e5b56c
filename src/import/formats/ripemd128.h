// RIPEMD-128 (Dobbertin, Bosselaers and Preneel, 1996): the hash from which
// MDict derives the key that scrambles its key-block index. No common
// library offers it, so it lives here, checked against the published test
// vectors.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace lexaro::import {

using ripemd128_digest = std::array<uint8_t, 16>;

ripemd128_digest ripemd128(std::string_view message);

}  // namespace lexaro::import
