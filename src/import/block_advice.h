// Which words_per_block lexaro can compile a source with: every block of
// that many entries (the last one the rest) must fit in its 1,000,000-byte
// block buffer, and there may be at most 65535 blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace lexaro::import {

struct block_advice {
    // The largest words_per_block with which it and every smaller setting
    // fit; when the smallest does not, the largest that fits, and
    // every_smaller_fits is false; 0 when none does.
    int32_t largest = 0;
    bool every_smaller_fits = true;
    bool default_fits = false;  // whether lexaro's default, 500, fits
    // When none fits: the first block too large at the smallest setting.
    uint64_t first_entry = 0;  // its first entry, counted from 0
    uint64_t bytes = 0;        // its size
};

// entry_sizes: word size + 1 + translation size + 1 of each entry in order.
// Prefix sums give every block's size at once, so all 9901 settings cost
// about five passes over the entries.
block_advice advise_words_per_block(const std::vector<uint32_t>& entry_sizes);
// The same for `count` entries from `sizes` on, a part of a dictionary.
block_advice advise_words_per_block(const uint32_t* sizes, std::size_t count);

// The first block too large when each holds per_block entries: its first
// entry (from 0) and its size; bytes 0 when there would be too many blocks.
// Nothing when every block fits.
struct block_overflow {
    uint64_t first_entry = 0;
    uint64_t bytes = 0;
};
std::optional<block_overflow> first_overflow(const std::vector<uint32_t>& entry_sizes,
                                             int32_t per_block);

}  // namespace lexaro::import
