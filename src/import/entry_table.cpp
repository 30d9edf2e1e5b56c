#include "import/entry_table.h"

#include <algorithm>
#include <cstring>
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

}  // namespace

void entry_table::add(std::string_view word, std::string_view translation) {
    // The sort reads 8 bytes from the start of every word: room for them.
    const std::size_t need = 2 * max_varint_size + word.size() + translation.size() + 8;
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
    std::memset(at + word.size() + translation.size(), 0, 8);
    c.used = static_cast<std::size_t>(at - c.bytes.get()) + word.size() + translation.size();
    refs_.push_back(ref);
    text_bytes_ += word.size() + translation.size();
}

entry_table::view entry_table::entry(uint64_t ref) const {
    const char* at = chunks_[ref >> 32].bytes.get() + (ref & 0xFFFFFFFFu);
    uint64_t word_size, translation_size;
    at = get_varint(at, word_size);
    at = get_varint(at, translation_size);
    return {{at, word_size}, {at + word_size, translation_size}};
}

std::string_view entry_table::word(std::size_t i) const { return entry(refs_[i]).word; }

std::string_view entry_table::translation(std::size_t i) const {
    return entry(refs_[i]).translation;
}

namespace {

// The first 8 bytes at p as a big-endian number: numbers compare as the
// bytes do with memcmp. The arena keeps 8 readable bytes after every word.
uint64_t first_eight(const char* p) {
    uint64_t value = 0;
    for (int i = 0; i < 8; ++i) value = (value << 8) | static_cast<unsigned char>(p[i]);
    return value;
}

// a < b in memcmp order, a shorter word before the longer words it starts.
bool word_less(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    if (common > 0) {
        const unsigned shift = common >= 8 ? 0 : 8 * static_cast<unsigned>(8 - common);
        const uint64_t x = first_eight(a.data()) >> shift, y = first_eight(b.data()) >> shift;
        if (x != y) return x < y;
        if (common > 8) {
            const int order = std::memcmp(a.data() + 8, b.data() + 8, common - 8);
            if (order != 0) return order < 0;
        }
    }
    return a.size() < b.size();
}

}  // namespace

void entry_table::sort() {
    std::stable_sort(refs_.begin(), refs_.end(), [this](uint64_t a, uint64_t b) {
        return word_less(entry(a).word, entry(b).word);
    });
}

void entry_table::for_each_word(const merge_options& options,
                                const std::function<void(std::string_view, std::string_view)>& out,
                                merge_counts& counts) const {
    std::string merged;
    std::vector<std::string_view> kept;         // the translations of the word so far
    std::unordered_set<std::string_view> seen;  // the same, once a word has many
    constexpr std::size_t many = 16;
    for (std::size_t i = 0; i < refs_.size();) {
        const view first = entry(refs_[i]);
        std::size_t end = i + 1;
        if (options.keep_duplicates) {
            out(first.word, first.translation);
            i = end;
            continue;
        }
        while (end < refs_.size() && entry(refs_[end]).word == first.word) ++end;
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
            const std::string_view t = entry(refs_[j]).translation;
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
