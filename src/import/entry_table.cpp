#include "import/entry_table.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <unordered_set>

#include "common/layout.h"

namespace lexaro::import {

namespace {

constexpr std::size_t first_chunk_size = 1 << 16;
constexpr std::size_t largest_chunk_size = 1 << 24;
constexpr std::size_t max_varint_size = 10;
constexpr std::size_t max_cut_words_kept = 10;

char* put_varint(char* at, uint64_t value) {
    while (value >= 0x80) {
        *at++ = static_cast<char>(value | 0x80);
        value >>= 7;
    }
    *at++ = static_cast<char>(value);
    return at;
}

const char* get_varint(const char* at, uint64_t& value) {
    value = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*at++);
        value |= uint64_t{byte & 0x7Fu} << shift;
        if (byte < 0x80) return at;
    }
}

// The first 8 bytes of a word as a big-endian number, zeros after a shorter
// word: numbers that differ order their words as memcmp does.
uint64_t prefix_of(std::string_view word) {
    uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i)
        value = (value << 8) | (i < word.size() ? static_cast<unsigned char>(word[i]) : 0u);
    return value;
}

}  // namespace

uint64_t entry_table::hash_of(std::string_view word, std::string_view translation) {
    // The library's string hash takes eight bytes a step; the two are mixed
    // so that a word and translation that swap do not collide.
    const std::hash<std::string_view> hash;
    return hash(word) * 0x9E3779B97F4A7C15u ^ hash(translation);
}

bool entry_table::is_repeat(std::string_view word, std::string_view translation,
                            uint64_t hash) const {
    const auto tag = static_cast<uint32_t>(hash);
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = tag & mask; slots_[i] != 0; i = (i + 1) & mask) {
        if (slot_hashes_[i] != tag) continue;
        const view e = entry(slots_[i] - 1);
        if (e.word == word && e.translation == translation) return true;
    }
    return false;
}

void entry_table::remember(uint64_t ref, uint64_t hash) {
    // Grown at three quarters full, so that probes stay short; each slot
    // keeps 32 bits of its entry's hash, which place it again and tell most
    // entries apart without reading the arena.
    if (4 * (keys_.size() + 1) > 3 * slots_.size()) {
        std::vector<uint64_t> old;
        std::vector<uint32_t> old_hashes;
        old.swap(slots_);
        old_hashes.swap(slot_hashes_);
        slots_.assign(old.empty() ? 1024 : 2 * old.size(), 0);
        slot_hashes_.assign(slots_.size(), 0);
        for (std::size_t i = 0; i < old.size(); ++i)
            if (old[i] != 0) place(old[i], old_hashes[i]);
    }
    place(ref + 1, static_cast<uint32_t>(hash));
}

void entry_table::place(uint64_t slot, uint32_t tag) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = tag & mask;
    while (slots_[i] != 0) i = (i + 1) & mask;
    slots_[i] = slot;
    slot_hashes_[i] = tag;
}

void entry_table::end_of_input() {
    std::vector<uint64_t>().swap(slots_);
    std::vector<uint32_t>().swap(slot_hashes_);
    drop_repeats_ = false;
}

void entry_table::add(std::string_view word, std::string_view translation) {
    uint64_t hash = 0;
    if (drop_repeats_) {
        hash = hash_of(word, translation);
        if (!slots_.empty() && is_repeat(word, translation, hash)) {
            ++repeats_dropped_;
            return;
        }
    }
    const std::size_t need = 2 * max_varint_size + word.size() + translation.size();
    if (chunks_.empty() || chunks_.back().size - chunks_.back().used < need) {
        std::size_t size = chunks_.empty() ? first_chunk_size
                                           : std::min(chunks_.back().size * 2, largest_chunk_size);
        size = std::max(size, need);
        chunks_.push_back({std::unique_ptr<char[]>(new char[size]), size, 0});
    }
    chunk& c = chunks_.back();
    const uint64_t ref = (uint64_t{chunks_.size() - 1} << 32) | c.used;
    char* at = c.bytes.get() + c.used;
    at = put_varint(at, word.size());
    at = put_varint(at, translation.size());
    std::memcpy(at, word.data(), word.size());
    std::memcpy(at + word.size(), translation.data(), translation.size());
    c.used = static_cast<std::size_t>(at - c.bytes.get()) + word.size() + translation.size();
    if (drop_repeats_) remember(ref, hash);
    keys_.push_back({prefix_of(word), ref});
    text_bytes_ += word.size() + translation.size();
}

entry_table::view entry_table::entry(uint64_t ref) const {
    const char* at = chunks_[ref >> 32].bytes.get() + (ref & 0xFFFFFFFFu);
    uint64_t word_size, translation_size;
    at = get_varint(at, word_size);
    at = get_varint(at, translation_size);
    return {{at, word_size}, {at + word_size, translation_size}};
}

std::string_view entry_table::word(std::size_t i) const { return entry(keys_[i].ref).word; }

std::string_view entry_table::translation(std::size_t i) const {
    return entry(keys_[i].ref).translation;
}

void entry_table::sort() {
    // References grow in the order of input, so ordering equal words by
    // them makes the (in-place) sort stable. Most comparisons end at the
    // prefixes, without reading the arena.
    std::sort(keys_.begin(), keys_.end(), [this](const sort_key& a, const sort_key& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        const int order = entry(a.ref).word.compare(entry(b.ref).word);  // as memcmp, then size
        if (order != 0) return order < 0;
        return a.ref < b.ref;
    });
}

void entry_table::for_each_word(const merge_options& options,
                                const std::function<void(std::string_view, std::string_view)>& out,
                                merge_counts& counts) const {
    // Repeats dropped as they came were merged into their word and left out.
    counts.merged += repeats_dropped_;
    counts.repeats += repeats_dropped_;
    std::string merged;
    std::vector<std::string_view> kept;         // the translations of the word so far
    std::unordered_set<std::string_view> seen;  // the same, once a word has many
    constexpr std::size_t many = 16;
    for (std::size_t i = 0; i < keys_.size();) {
        const view first = entry(keys_[i].ref);
        std::size_t end = i + 1;
        if (options.keep_duplicates) {
            out(first.word, first.translation);
            i = end;
            continue;
        }
        while (end < keys_.size() && entry(keys_[end].ref).word == first.word) ++end;
        if (end == i + 1) {
            out(first.word, first.translation);
            i = end;
            continue;
        }
        merged.assign(first.translation);
        kept.assign(1, first.translation);
        seen.clear();
        bool lost_some = false;
        for (std::size_t j = i + 1; j < end; ++j) {
            const std::string_view t = entry(keys_[j].ref).translation;
            ++counts.merged;
            // An empty translation adds nothing; an empty first one is replaced.
            const bool repeat =
                t.empty() ||
                (kept.size() < many ? std::find(kept.begin(), kept.end(), t) != kept.end()
                                    : seen.count(t) > 0);
            if (repeat) {
                ++counts.repeats;
                continue;
            }
            if (first.word.size() + 1 + merged.size() + options.join.size() + t.size() + 1 >
                block_buffer_size) {
                ++counts.cut;
                lost_some = true;
                continue;
            }
            if (merged.empty())
                merged.assign(t);
            else
                merged.append(options.join).append(t);
            kept.push_back(t);
            if (kept.size() == many) seen.insert(kept.begin(), kept.end());
            if (kept.size() > many) seen.insert(t);
        }
        if (lost_some && counts.cut_words.size() < max_cut_words_kept)
            counts.cut_words.emplace_back(first.word);
        out(first.word, merged);
        i = end;
    }
}

}  // namespace lexaro::import
