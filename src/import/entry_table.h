// Every clean entry of a dictionary, held until they are all read, then
// sorted by word and merged. The text lies in one growing arena of chunks
// (each entry whole in one chunk, its two sizes in front), and the order in
// a vector of 16-byte keys (the word's first 8 bytes and a reference into
// the arena), sorted in place: memory is the text, a few bytes of sizes and
// 16 bytes an entry.
//
// A table that outgrows memory could sort runs into temporary files and
// merge them behind the same add / sort / for_each_word calls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lexaro::import {

struct merge_options {
    std::string join = " | ";      // between the translations of one word
    bool keep_duplicates = false;  // one line per entry, repeated words and all
};

struct merge_counts {
    uint64_t merged = 0;   // entries joined to an earlier entry of the same word
    uint64_t repeats = 0;  // translations left out as exact repeats within a word
    uint64_t cut = 0;      // translations left out because the word would outgrow a block
    std::vector<std::string> cut_words;  // the first few words that lost some
};

class entry_table {
public:
    // drop_repeats: an entry whose word and translation are those of an
    // entry already added is counted and dropped at once, as the merge would
    // leave it out, so that millions of repeats of one entry take no memory.
    explicit entry_table(bool drop_repeats = true) : drop_repeats_(drop_repeats) {}
    entry_table(const entry_table&) = delete;
    entry_table& operator=(const entry_table&) = delete;

    void add(std::string_view word, std::string_view translation);

    // Done adding: lets go of what finding repeats took.
    void end_of_input();

    std::size_t size() const { return keys_.size(); }
    uint64_t text_bytes() const { return text_bytes_; }
    std::string_view word(std::size_t i) const;  // in the table's current order
    std::string_view translation(std::size_t i) const;

    // Orders the entries by word, byte by byte as memcmp compares (a shorter
    // word before the longer words it starts), keeping the order of input
    // among equal words.
    void sort();

    // Hands each word on in the table's order, once: the translations of its
    // entries joined by options.join in the order of input, each distinct
    // translation once; a translation that would make the entry larger than
    // a block (1,000,000 bytes with both zero bytes) is left out. With
    // keep_duplicates every entry is handed on as it is.
    void for_each_word(const merge_options& options,
                       const std::function<void(std::string_view, std::string_view)>& out,
                       merge_counts& counts) const;

private:
    struct chunk {
        std::unique_ptr<char[]> bytes;
        std::size_t size = 0;
        std::size_t used = 0;
    };
    struct view {
        std::string_view word, translation;
    };
    view entry(uint64_t ref) const;

    struct sort_key {
        uint64_t prefix;  // the word's first 8 bytes, big-endian
        uint64_t ref;     // chunk index << 32 | offset in the chunk
    };

    // An open-addressing set of the entries added, by the hash of word and
    // translation: each slot is an entry's ref + 1, or 0 when empty, beside
    // the low 32 bits of its hash.
    bool is_repeat(std::string_view word, std::string_view translation, uint64_t hash) const;
    void remember(uint64_t ref, uint64_t hash);
    void place(uint64_t slot, uint32_t tag);
    static uint64_t hash_of(std::string_view word, std::string_view translation);

    std::vector<chunk> chunks_;
    std::vector<sort_key> keys_;
    uint64_t text_bytes_ = 0;
    bool drop_repeats_;
    std::vector<uint64_t> slots_;
    std::vector<uint32_t> slot_hashes_;
    uint64_t repeats_dropped_ = 0;
};

}  // namespace lexaro::import
