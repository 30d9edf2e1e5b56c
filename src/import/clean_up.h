// The clean-up between a format reader and the entry table: one function
// from a raw entry to the word and translation that a source line can hold,
// counting every change for the summary.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "import/raw_entry.h"

namespace lexaro::import {

// What the clean-up changed and dropped.
struct clean_up_counts {
    uint64_t line_breaks = 0;        // line breaks in translations, now the separator
    uint64_t wrapped_texts = 0;      // translations wrapped at a width
    uint64_t joined_lines = 0;       // line breaks in them that only wrapped, now a space
    uint64_t tags = 0;               // markup tags and comments turned into text
    uint64_t entities = 0;           // character references decoded
    uint64_t trimmed = 0;            // words and translations with white space cut from an end
    uint64_t control_bytes = 0;      // zero and 0x1A bytes dropped
    uint64_t dollar_signs = 0;       // '$' in words, now U+FF04
    uint64_t word_spaces = 0;        // words with runs of white space inside, now one space
    uint64_t invalid_utf8 = 0;       // entries holding invalid UTF-8, kept as they are
    std::string first_invalid_utf8;  // the first such word, invalid bytes as \xNN
    uint64_t empty_words = 0;        // entries dropped: no word left
    uint64_t oversize = 0;           // entries dropped: larger than any block
    std::vector<std::string> oversize_words;  // the first few of them
};

// The most words of oversize entries that the counts keep.
constexpr std::size_t max_oversize_words_kept = 10;

class cleaner {
public:
    // separator: what a line break or a break in markup becomes ("; " by default).
    explicit cleaner(std::string separator);

    // Cleans the entry into word and translation (both overwritten). False
    // when the entry is dropped: its word is empty, or word and translation,
    // each with the zero byte that ends it in a block, exceed 1,000,000 bytes.
    //
    // The word: zero and 0x1A bytes dropped, line breaks and tabs made
    // spaces, white space trimmed and each run of it inside made one space,
    // '$' replaced by U+FF04 (EF BC 84).
    // The translation: zero and 0x1A bytes dropped; markup (when the entry
    // is HTML or XDXF) made text; line breaks made the separator; white
    // space trimmed, and separators never doubled, first or last.
    bool clean(const raw_entry& raw, std::string& word, std::string& translation);

    // Counts an entry dropped as larger than any block before it was cleaned
    // (its raw text was skipped unread), named by its raw word.
    void count_oversize(std::string_view word);

    const clean_up_counts& counts() const { return counts_; }

private:
    void clean_word(std::string_view raw, std::string& word);
    // Gives whether the text is valid UTF-8.
    bool clean_text(std::string_view raw, markup kind, std::string& text);

    std::string separator_;
    bool separator_is_utf8_;
    clean_up_counts counts_;
    std::string unwrapped_;
};

// A title made one line: control characters and line breaks become spaces,
// runs of white space one space, zero bytes go, both ends are trimmed.
std::string clean_title(std::string_view title);

// The longest start of text of at most max_size bytes that does not end
// inside a UTF-8 character.
std::string_view cut_at_character(std::string_view text, std::size_t max_size);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// values past U+10FFFF).
bool valid_utf8(std::string_view text);

// The text with every byte that is not part of a valid UTF-8 character
// written as \xNN.
std::string escape_invalid_utf8(std::string_view text);

}  // namespace lexaro::import
