// The last stage before the entry table: words in lower case (--fold-case)
// and words and translations in the handheld's character set (--charset).
// It comes before sorting and merging because the reader on the handheld
// compares the bytes that are written, not the UTF-8 they came from.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/charset.h"

namespace lexaro::import {

struct handheld_counts {
    uint64_t folded = 0;               // words that --fold-case changed
    uint64_t changed_words = 0;        // entries that the character set changed
    std::vector<std::string> first_changed;  // the first few of their words, as read
    bool non_ascii = false;            // some text written is not ASCII
};

// The most words that the counts keep of those the character set changed.
constexpr std::size_t changed_words_kept = 3;

class handheld_text {
public:
    // encoder may be null: the text stays UTF-8.
    handheld_text(bool fold_case, charset_encoder* encoder);

    // Makes a clean word and translation what the handheld is given.
    void apply(std::string& word, std::string& translation);

    // The title in the handheld's set, cut before a whole character so that
    // it takes at most max_size bytes; original_size: its bytes uncut.
    std::string title(std::string_view title, std::size_t max_size, std::size_t& original_size);

    const handheld_counts& counts() const { return counts_; }
    const charset_encoder* encoder() const { return encoder_; }

private:
    bool fold_case_;
    charset_encoder* encoder_;
    handheld_counts counts_;
    std::string scratch_;
};

}  // namespace lexaro::import
