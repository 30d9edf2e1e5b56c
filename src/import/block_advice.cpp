#include "import/block_advice.h"

#include "common/layout.h"

namespace lexaro::import {

namespace {

// Whether every block of `per_block` entries fits; when not, where the
// first that does not starts and its size.
bool blocks_fit(const std::vector<uint64_t>& prefix, std::size_t per_block, uint64_t& first_entry,
                uint64_t& bytes) {
    const std::size_t count = prefix.size() - 1;
    if ((count + per_block - 1) / per_block > max_block_count) {
        first_entry = 0;
        bytes = 0;
        return false;
    }
    for (std::size_t start = 0; start < count; start += per_block) {
        const std::size_t end = start + per_block < count ? start + per_block : count;
        if (prefix[end] - prefix[start] > block_buffer_size) {
            first_entry = start;
            bytes = prefix[end] - prefix[start];
            return false;
        }
    }
    return true;
}

}  // namespace

block_advice advise_words_per_block(const std::vector<uint32_t>& entry_sizes) {
    return advise_words_per_block(entry_sizes.data(), entry_sizes.size());
}

block_advice advise_words_per_block(const uint32_t* sizes, std::size_t count) {
    std::vector<uint64_t> prefix(count + 1, 0);
    for (std::size_t i = 0; i < count; ++i) prefix[i + 1] = prefix[i] + sizes[i];
    block_advice advice;
    uint64_t first_entry = 0, bytes = 0;
    // A smaller setting does not always fit where a larger one does: its
    // blocks start elsewhere, and may put two large entries together. The
    // advice is the largest setting below which every one fits too, so that
    // any number up to it can be given. Counting up, the settings cost about
    // count * ln(max / min) steps in all.
    for (int32_t n = min_words_per_block; n <= max_words_per_block; ++n) {
        if (!blocks_fit(prefix, static_cast<std::size_t>(n), first_entry, bytes)) break;
        advice.largest = n;
    }
    if (advice.largest == 0) {
        // The smallest does not fit: the largest that does, if any.
        advice.every_smaller_fits = false;
        for (int32_t n = max_words_per_block; n > min_words_per_block; --n) {
            if (blocks_fit(prefix, static_cast<std::size_t>(n), first_entry, bytes)) {
                advice.largest = n;
                break;
            }
        }
    }
    advice.default_fits = blocks_fit(prefix, default_words_per_block, first_entry, bytes);
    if (advice.largest == 0) {
        blocks_fit(prefix, min_words_per_block, advice.first_entry, advice.bytes);
    }
    return advice;
}

std::optional<block_overflow> first_overflow(const std::vector<uint32_t>& entry_sizes,
                                             int32_t per_block) {
    const auto n = static_cast<uint64_t>(per_block);
    if ((entry_sizes.size() + n - 1) / n > max_block_count) return block_overflow{};
    for (std::size_t start = 0; start < entry_sizes.size(); start += n) {
        uint64_t bytes = 0;
        for (std::size_t i = start; i < entry_sizes.size() && i < start + n; ++i)
            bytes += entry_sizes[i];
        if (bytes > block_buffer_size) return block_overflow{start, bytes};
    }
    return std::nullopt;
}

}  // namespace lexaro::import
