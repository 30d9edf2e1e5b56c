// Every clean entry of a dictionary, held until they are all read, then
// sorted by word and merged. The text lies in one growing arena of chunks
// (each entry whole in one chunk, its two sizes in front); the order is one
// 8-byte key an entry (3 bytes of the word and a reference into the arena),
// made as the entry comes into blocks of a fixed size, gathered into one
// vector at its final size once input ends, and sorted in place, 3 bytes of
// the words at a time. Memory is the text, a few bytes of sizes and 8 bytes
// an entry, and a fixed 32 KiB while reading: about twice the input for
// entries of any size, small ones included.
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

// Between a spelling of the dictionary's own and the translation it labels
// ("café: coffee"), where folding made several spellings one word.
constexpr std::string_view spelling_separator = ": ";

struct merge_options {
    std::string join = " | ";      // between the translations of one word
    bool keep_duplicates = false;  // one line per entry, repeated words and all
    // Translations may end in a grammar label ("essen <v>"): one without a
    // label repeats one with a label that is the same but for it.
    bool grammar_labels = false;
};

struct merge_counts {
    uint64_t merged = 0;   // entries joined to an earlier entry of the same word
    uint64_t repeats = 0;  // translations left out as exact repeats within a word
    uint64_t cut = 0;      // translations left out because the word would outgrow a block
    std::vector<std::string> cut_words;  // the first few words that lost some
    uint64_t labelled = 0;  // words whose translations came from several inputs, labelled
};

class entry_table {
public:
    // drop_repeats: an entry whose word and translation are those of an
    // entry added shortly before (a cache of recent entries finds it) is
    // counted and dropped at once, as the merge would leave it out, so that
    // millions of repeats of a few entries take no memory. Repeats further
    // apart are left to the merge, with the same result.
    explicit entry_table(bool drop_repeats = true);
    entry_table(const entry_table&) = delete;
    entry_table& operator=(const entry_table&) = delete;

    // spelled: the translation starts with the dictionary's own spelling of
    // the word, which folding changed; the merge then labels the entries of
    // the word whose spelling it did not change with theirs, the word.
    // rank: among the entries of one word, those of a lower rank come first
    // (a reversed entry's rank is how many terms its source gave).
    void add(std::string_view word, std::string_view translation, bool spelled = false,
             unsigned rank = 0);

    // The entries added from now on come from another input, known in the
    // merged translations by `label` (its short name). Call it before each
    // input's entries, or never for a table of one input.
    void begin_input(std::string label);

    // Done adding: lets go of what finding repeats took and makes the order
    // (the order of input until sort()).
    void end_of_input();

    std::size_t size() const { return count_; }
    uint64_t text_bytes() const { return text_bytes_; }
    // In the table's current order; only after end_of_input().
    std::string_view word(std::size_t i) const;
    std::string_view translation(std::size_t i) const;

    // Orders the entries by word, byte by byte as memcmp compares (a shorter
    // word before the longer words it starts); equal words keep each input's
    // entries together in the order of the inputs, by rank within one, and
    // in the order of input among equal ranks.
    void sort();

    // Hands each word on in the table's order, once: the translations of its
    // entries joined by options.join in the table's order, each distinct
    // translation once; a translation that would make the entry larger than
    // a block (1,000,000 bytes with both zero bytes) is left out. Where some
    // entries of a word are spelled and some not, those not start with the
    // word and spelling_separator too ("cafe: ..."), so that every
    // translation says which spelling it belongs to. Where the translations
    // kept come from more than one input, the first of each input's starts
    // with its label in brackets ("[de-en] house | home"); the inputs' entries
    // stay together in their order, so each label stands before all of its
    // input's. With
    // keep_duplicates every entry is handed on as it is, labelled where the
    // word's entries come from more than one input.
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
        bool spelled;
        unsigned rank;
    };
    // Each entry in the arena: the word's size times 2 plus 1 when spelled,
    // the translation's size and the rank, as varints; then both texts.
    // ref: chunk index << 24 | offset in the chunk, 40 bits; a key holds 3
    // bytes of the word (big-endian, zeros past its end) above it.
    const char* address(uint64_t ref) const;
    // The input that the entry at ref came from (refs grow in the order of input).
    std::size_t input_of(uint64_t ref) const;
    view entry(uint64_t ref) const;
    std::string_view word_of_key(uint64_t key) const;
    void sort_windows(uint64_t* first, uint64_t* last, std::size_t depth);
    void sort_equal_windows(uint64_t* first, uint64_t* last, std::size_t depth);

    // A cache of recent entries by the hash of word and translation, in
    // buckets of a few slots, the newest first: each slot is an entry's ref
    // + 1 (0 when empty) below 24 bits of its hash.
    bool is_repeat(std::string_view word, std::string_view translation, bool spelled,
                   unsigned rank, uint64_t hash) const;
    // Whether key a, of rank a_rank, comes before key b among entries of
    // one word: an earlier input's first, then the lower rank, then the
    // earlier entry.
    bool by_rank(uint64_t a, unsigned a_rank, uint64_t b, unsigned b_rank) const;
    void remember(uint64_t ref, uint64_t hash);
    static uint64_t hash_of(std::string_view word, std::string_view translation);

    std::vector<chunk> chunks_;
    // The keys of the entries as they are added, in blocks of a fixed size;
    // end_of_input gathers them into keys_ at its final size.
    std::vector<std::unique_ptr<uint64_t[]>> key_blocks_;
    std::vector<uint64_t> keys_;
    std::size_t count_ = 0;
    uint64_t text_bytes_ = 0;
    bool drop_repeats_;
    std::vector<uint64_t> recent_;
    uint64_t repeats_dropped_ = 0;
    // The first ref of each input's entries, and its label: "[name] ".
    std::vector<uint64_t> input_starts_;
    std::vector<std::string> input_labels_;
};

}  // namespace lexaro::import
