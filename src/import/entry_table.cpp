#include "import/entry_table.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <new>
#include <unordered_set>

#include "common/layout.h"
#include "import/byte_scan.h"

namespace lexaro::import {

namespace {

constexpr std::size_t first_chunk_size = 1 << 16;
constexpr std::size_t largest_chunk_size = 1 << 24;
constexpr std::size_t max_varint_size = 10;
constexpr std::size_t max_cut_words_kept = 10;
// How many entries ahead of the one read the merge asks for an entry.
constexpr std::size_t prefetch_distance = 8;
// Keys are made as entries come, in blocks of this many (512 KiB).
constexpr std::size_t key_block_size = 1 << 16;

// A reference into the arena: 16 bits of chunk index, 24 bits of offset.
// Chunks hold at most largest_chunk_size bytes but for one larger entry, so
// every entry starts below offset_limit.
constexpr int offset_bits = 24;
constexpr uint64_t offset_limit = uint64_t{1} << offset_bits;
constexpr std::size_t max_chunks = std::size_t{1} << 16;
constexpr int ref_bits = 40;
constexpr uint64_t ref_mask = (uint64_t{1} << ref_bits) - 1;
static_assert(largest_chunk_size <= offset_limit, "chunk offsets take 24 bits");

// A ref's chunk, below max_chunks, and its offset there, below offset_limit:
// size_t values on every system.
std::size_t chunk_of(uint64_t ref) { return static_cast<std::size_t>(ref >> offset_bits); }
std::size_t offset_of(uint64_t ref) { return static_cast<std::size_t>(ref & (offset_limit - 1)); }

// The cache of recent entries: 1,024 buckets of 4 slots, 32 KiB, small
// enough to stay in the processor's nearest caches: the bucket of every
// entry added is read, in no order, while the text streams past.
constexpr std::size_t recent_buckets = 1 << 10;
constexpr std::size_t recent_ways = 4;
// The bytes at each end of a translation that its hash takes.
constexpr std::size_t hashed_end_size = 32;

char* put_varint(char* at, uint64_t value) {
    while (value >= 0x80) {
        *at++ = static_cast<char>(value | 0x80);
        value >>= 7;
    }
    *at++ = static_cast<char>(value);
    return at;
}

// The sizes were put from size_t values (a word's doubled, a bit beside it:
// words are far below 2 GiB), so they fit one on every system.
const char* get_varint(const char* at, std::size_t& value) {
    value = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = static_cast<unsigned char>(*at++);
        value |= std::size_t{byte & 0x7Fu} << shift;
        if (byte < 0x80) return at;
    }
}

// The sizes and rank in front of an entry; gives where its word starts.
const char* get_sizes(const char* at, std::size_t& word_size, std::size_t& translation_size,
                      bool& spelled, unsigned& rank) {
    at = get_varint(at, word_size);
    spelled = (word_size & 1) != 0;
    word_size >>= 1;
    at = get_varint(at, translation_size);
    std::size_t r;
    at = get_varint(at, r);
    rank = static_cast<unsigned>(r);
    return at;
}

// A word's sort key: 3 of its bytes from `depth` on (a window) as a
// big-endian number, zeros past its end, above the entry's reference. Among
// words that share their first `depth` bytes, keys whose windows differ
// order their words as memcmp does; equal windows leave the rest to the
// words, and equal words to their inputs and ranks, then to the references,
// which grow in the order of input.
constexpr std::size_t window_size = 3;
uint64_t key_of(std::string_view word, std::size_t depth, uint64_t ref) {
    uint64_t window = 0;
    for (std::size_t i = depth; i < depth + window_size; ++i)
        window = (window << 8) | (i < word.size() ? static_cast<unsigned char>(word[i]) : 0u);
    return window << ref_bits | ref;
}

// Past this many bytes shared, keys are sorted by comparing their words.
constexpr std::size_t window_depth_limit = 5 * window_size;

// A translation without the grammar label that ends it ("essen <v>" ->
// "essen"); the translation itself when none does.
std::string_view without_label(std::string_view translation) {
    if (translation.empty() || translation.back() != '>') return translation;
    const std::size_t open = translation.rfind(" <");
    return open == std::string_view::npos ? translation : translation.substr(0, open);
}

}  // namespace

entry_table::entry_table(bool drop_repeats) : drop_repeats_(drop_repeats) {
    if (drop_repeats_) recent_.assign(recent_buckets * recent_ways, 0);
}

uint64_t entry_table::hash_of(std::string_view word, std::string_view translation) {
    // The word, the translation's size and its two ends: translations of
    // one word that differ only in their middle share a hash, and are told
    // apart by the comparison that every match of hashes is checked with.
    // The parts are mixed so that a word and translation that swap do not
    // collide.
    const std::hash<std::string_view> hash;
    const std::size_t ends = std::min(translation.size(), hashed_end_size);
    return ((hash(word) * 0x9E3779B97F4A7C15u ^ hash(translation.substr(0, ends))) *
                0x9E3779B97F4A7C15u ^
            hash(translation.substr(translation.size() - ends))) +
           translation.size();
}

bool entry_table::is_repeat(std::string_view word, std::string_view translation, bool spelled,
                            unsigned rank, uint64_t hash) const {
    const uint64_t tag = hash >> ref_bits;
    const uint64_t* bucket = &recent_[(hash % recent_buckets) * recent_ways];
    for (std::size_t i = 0; i < recent_ways && bucket[i] != 0; ++i) {
        if (bucket[i] >> ref_bits != tag) continue;
        const view e = entry((bucket[i] & ref_mask) - 1);
        if (e.word == word && e.translation == translation && e.spelled == spelled &&
            e.rank == rank)
            return true;
    }
    return false;
}

void entry_table::remember(uint64_t ref, uint64_t hash) {
    uint64_t* bucket = &recent_[(hash % recent_buckets) * recent_ways];
    std::copy_backward(bucket, bucket + recent_ways - 1, bucket + recent_ways);
    bucket[0] = (hash >> ref_bits) << ref_bits | (ref + 1);
}

void entry_table::end_of_input() {
    std::vector<uint64_t>().swap(recent_);
    drop_repeats_ = false;
    if (key_blocks_.empty()) return;
    // The keys in the order of input, each block let go of once copied.
    keys_.reserve(count_);
    for (std::size_t b = 0; b < key_blocks_.size(); ++b) {
        const std::size_t in_block = std::min(key_block_size, count_ - b * key_block_size);
        keys_.insert(keys_.end(), key_blocks_[b].get(), key_blocks_[b].get() + in_block);
        key_blocks_[b].reset();
    }
    key_blocks_.clear();
}

void entry_table::begin_input(std::string label) {
    // Every later entry lies past the end of the arena so far.
    input_starts_.push_back(chunks_.empty() ? 0
                                            : uint64_t{chunks_.size() - 1} << offset_bits |
                                                  chunks_.back().used);
    input_labels_.push_back("[" + label + "] ");
}

std::size_t entry_table::input_of(uint64_t ref) const {
    const auto after = std::upper_bound(input_starts_.begin(), input_starts_.end(), ref);
    return after == input_starts_.begin() ? 0
                                          : static_cast<std::size_t>(after - input_starts_.begin()) - 1;
}

void entry_table::add(std::string_view word, std::string_view translation, bool spelled,
                      unsigned rank) {
    uint64_t hash = 0;
    if (drop_repeats_) {
        hash = hash_of(word, translation);
        if (is_repeat(word, translation, spelled, rank, hash)) {
            ++repeats_dropped_;
            return;
        }
    }
    const std::size_t need = 3 * max_varint_size + word.size() + translation.size();
    if (chunks_.empty() || chunks_.back().size - chunks_.back().used < need ||
        chunks_.back().used >= offset_limit) {
        if (chunks_.size() == max_chunks) throw std::bad_alloc();
        std::size_t size = chunks_.empty() ? first_chunk_size
                                           : std::min(chunks_.back().size * 2, largest_chunk_size);
        size = std::max(size, need);
        chunks_.push_back({std::unique_ptr<char[]>(new char[size]), size, 0});
    }
    chunk& c = chunks_.back();
    const uint64_t ref = uint64_t{chunks_.size() - 1} << offset_bits | c.used;
    char* at = c.bytes.get() + c.used;
    at = put_varint(at, uint64_t{word.size()} << 1 | spelled);
    at = put_varint(at, translation.size());
    at = put_varint(at, rank);
    std::memcpy(at, word.data(), word.size());
    std::memcpy(at + word.size(), translation.data(), translation.size());
    c.used = static_cast<std::size_t>(at - c.bytes.get()) + word.size() + translation.size();
    if (drop_repeats_) remember(ref, hash);
    if (count_ % key_block_size == 0) key_blocks_.emplace_back(new uint64_t[key_block_size]);
    key_blocks_.back()[count_ % key_block_size] = key_of(word, 0, ref);
    ++count_;
    text_bytes_ += word.size() + translation.size();
}

const char* entry_table::address(uint64_t ref) const {
    return chunks_[chunk_of(ref)].bytes.get() + offset_of(ref);
}

entry_table::view entry_table::entry(uint64_t ref) const {
    std::size_t word_size, translation_size;
    bool spelled;
    unsigned rank;
    const char* at = get_sizes(address(ref), word_size, translation_size, spelled, rank);
    return {{at, word_size}, {at + word_size, translation_size}, spelled, rank};
}

std::string_view entry_table::word_of_key(uint64_t key) const { return entry(key & ref_mask).word; }

std::string_view entry_table::word(std::size_t i) const { return entry(keys_[i] & ref_mask).word; }

std::string_view entry_table::translation(std::size_t i) const {
    return entry(keys_[i] & ref_mask).translation;
}

void entry_table::sort() {
    end_of_input();
    sort_windows(keys_.data(), keys_.data() + keys_.size(), 0);
}

// Sorts keys that share their words' first `depth` bytes, each holding the
// window of its word from there: by window, which needs no word read; then
// each run of an equal window by what follows it.
void entry_table::sort_windows(uint64_t* first, uint64_t* last, std::size_t depth) {
    std::sort(first, last);
    for (uint64_t* run = first; run != last;) {
        uint64_t* end = run + 1;
        while (end != last && (*end ^ *run) >> ref_bits == 0) ++end;
        if (end - run > 1) sort_equal_windows(run, end, depth);
        run = end;
    }
}

bool entry_table::by_rank(uint64_t a, unsigned a_rank, uint64_t b, unsigned b_rank) const {
    const uint64_t a_ref = a & ref_mask, b_ref = b & ref_mask;
    if (a_rank != b_rank && !input_starts_.empty()) {
        const std::size_t a_input = input_of(a_ref), b_input = input_of(b_ref);
        if (a_input != b_input) return a_input < b_input;
    }
    return a_rank != b_rank ? a_rank < b_rank : a_ref < b_ref;
}

void entry_table::sort_equal_windows(uint64_t* first, uint64_t* last, std::size_t depth) {
    const std::size_t next = depth + window_size;
    // A word that ends within the window starts every longer one: those come
    // first, a shorter before a longer (they differ in the zero bytes at
    // their ends), then each input's entries together, in the order of
    // input, by rank within it, then in the order of input.
    uint64_t* longer =
        std::partition(first, last, [&](uint64_t key) { return word_of_key(key).size() <= next; });
    std::sort(first, longer, [this](uint64_t a, uint64_t b) {
        const view x = entry(a & ref_mask), y = entry(b & ref_mask);
        if (x.word.size() != y.word.size()) return x.word.size() < y.word.size();
        return by_rank(a, x.rank, b, y.rank);
    });
    if (last - longer < 2) return;
    if (next >= window_depth_limit) {
        // Words that share this much: compared whole, equal ones by rank.
        std::sort(longer, last, [this](uint64_t a, uint64_t b) {
            const view x = entry(a & ref_mask), y = entry(b & ref_mask);
            const int order = x.word.compare(y.word);
            return order != 0 ? order < 0 : by_rank(a, x.rank, b, y.rank);
        });
        return;
    }
    for (uint64_t* key = longer; key != last; ++key)
        *key = key_of(word_of_key(*key), next, *key & ref_mask);
    sort_windows(longer, last, next);
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
    std::unordered_set<std::string_view> bare;  // and without their grammar labels
    std::deque<std::string> labels;             // the labelled translations of the word
    constexpr std::size_t many = 16;
    // The entries lie in the arena in the order of input: each is asked for
    // a few steps before it is read (when it is the next to be compared).
    const bool several_inputs = input_starts_.size() > 1;
    for (std::size_t i = 0; i < keys_.size();) {
        const view first = entry(keys_[i] & ref_mask);
        std::size_t end = i + 1;
        if (options.keep_duplicates && !several_inputs) {
            if (end + prefetch_distance < keys_.size())
                prefetch(address(keys_[end + prefetch_distance] & ref_mask));
            out(first.word, first.translation);
            i = end;
            continue;
        }
        for (; end < keys_.size(); ++end) {
            if (end + prefetch_distance < keys_.size())
                prefetch(address(keys_[end + prefetch_distance] & ref_mask));
            if (word_of_key(keys_[end]) != first.word) break;
        }
        // The word's entries lie in the order of input, so they come from
        // several inputs when the first and the last come from two.
        const bool by_input =
            several_inputs && input_of(keys_[i] & ref_mask) != input_of(keys_[end - 1] & ref_mask);
        if (options.keep_duplicates) {
            for (std::size_t j = i; j < end; ++j) {
                const uint64_t ref = keys_[j] & ref_mask;
                const std::string_view t = entry(ref).translation;
                const std::string& label = input_labels_[by_input ? input_of(ref) : 0];
                // A label that would make the entry outgrow a block is left out.
                if (!by_input || t.empty() ||
                    first.word.size() + 1 + label.size() + t.size() + 1 > block_buffer_size) {
                    out(first.word, t);
                    continue;
                }
                labels.assign(1, label);
                out(first.word, labels.back().append(t));
            }
            counts.labelled += by_input;
            i = end;
            continue;
        }
        if (end == i + 1) {
            out(first.word, first.translation);
            i = end;
            continue;
        }
        // Where folding made several spellings one word, each translation
        // says which it belongs to: the entries whose spelling folding did
        // not change are labelled with the word.
        bool labelled = false;
        for (std::size_t j = i; j < end && !labelled; ++j)
            labelled = entry(keys_[j] & ref_mask).spelled;
        labels.clear();
        const auto translation_of = [&](const view& e) -> std::string_view {
            if (!labelled || e.spelled || e.translation.empty()) return e.translation;
            labels.push_back(
                std::string(first.word).append(spelling_separator).append(e.translation));
            return labels.back();
        };
        const auto fits = [&](std::size_t more) {
            return first.word.size() + 1 + merged.size() + more + 1 <= block_buffer_size;
        };
        // Where the word comes from several inputs, each input's first
        // translation kept starts with its label.
        std::size_t shown_input = 0, inputs_shown = 0;
        const auto label_of = [&](std::size_t j, std::string_view t) -> std::string_view {
            if (!by_input || t.empty()) return {};
            const std::size_t input = input_of(keys_[j] & ref_mask);
            if (inputs_shown > 0 && input == shown_input) return {};
            shown_input = input;
            return input_labels_[input];
        };
        const std::string_view first_translation = translation_of(first);
        const std::string_view first_label = label_of(i, first_translation);
        merged.clear();
        kept.clear();
        seen.clear();
        bare.clear();
        bool lost_some = false;
        if (first_label.empty() || fits(first_label.size() + first_translation.size())) {
            merged.assign(first_label).append(first_translation);
            kept.push_back(first_translation);
            inputs_shown += !first_label.empty();
        } else {
            ++counts.cut;
            lost_some = true;
        }
        for (std::size_t j = i + 1; j < end; ++j) {
            const std::string_view t = translation_of(entry(keys_[j] & ref_mask));
            ++counts.merged;
            // An empty translation adds nothing; an empty first one is replaced.
            const auto is_kept = [&](std::string_view k) {
                return kept.size() < many ? std::find(kept.begin(), kept.end(), k) != kept.end()
                                          : seen.count(k) > 0;
            };
            bool repeat = t.empty() || is_kept(t);
            if (!repeat && options.grammar_labels) {
                // "Brandenburg" beside "Brandenburg <n>": the same word, once.
                const std::string_view t_bare = without_label(t);
                if (t_bare.size() < t.size())
                    repeat = is_kept(t_bare);
                else if (kept.size() < many)
                    repeat = std::any_of(kept.begin(), kept.end(), [&](std::string_view k) {
                        return without_label(k) == t;
                    });
                else
                    repeat = bare.count(t) > 0;
            }
            if (repeat) {
                ++counts.repeats;
                continue;
            }
            const std::size_t previous_input = shown_input;
            const std::string_view label = label_of(j, t);
            if (!fits(options.join.size() + label.size() + t.size())) {
                shown_input = previous_input;
                ++counts.cut;
                lost_some = true;
                continue;
            }
            if (merged.empty())
                merged.assign(label).append(t);
            else
                merged.append(options.join).append(label).append(t);
            inputs_shown += !label.empty();
            kept.push_back(t);
            if (kept.size() == many) {
                seen.insert(kept.begin(), kept.end());
                if (options.grammar_labels)
                    for (const std::string_view k : kept) bare.insert(without_label(k));
            }
            if (kept.size() > many) {
                seen.insert(t);
                if (options.grammar_labels) bare.insert(without_label(t));
            }
        }
        // One input's translations alone were kept (the others' repeated
        // them, or were cut): its label, at the start, says nothing.
        if (inputs_shown == 1) merged.erase(0, input_labels_[shown_input].size());
        counts.labelled += inputs_shown > 1;
        if (lost_some && counts.cut_words.size() < max_cut_words_kept)
            counts.cut_words.emplace_back(first.word);
        out(first.word, merged);
        i = end;
    }
}

}  // namespace lexaro::import
