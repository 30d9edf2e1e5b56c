// The last stage before the entry table: words as people type them (in lower
// case with --fold-case, without diacritics with --fold-accents) and words
// and translations in the handheld's character set (--charset). It comes
// before sorting and merging because the reader on the handheld compares the
// bytes that are written, not the UTF-8 they came from.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/charset.h"
#include "import/word_folding.h"

namespace lexaro::import {

struct handheld_counts {
    uint64_t lowered = 0;     // words that --fold-case changed
    uint64_t unaccented = 0;  // words that --fold-accents changed
    // Of them, those whose letters of each script changed (by script).
    std::array<uint64_t, script_count> unaccented_in{};
    // Words that the character set cannot write: their entries are left out.
    uint64_t unwritable = 0;
    std::vector<std::string> first_unwritable;  // the first few, as read
    // In what is written: characters transliterated, and written as '?'.
    uint64_t transliterated = 0;
    uint64_t replaced = 0;
    uint64_t changed_words = 0;              // entries written that the character set changed
    std::vector<std::string> first_changed;  // the first few of their words, as read
    bool non_ascii = false;                  // some text written is not ASCII
};

// The most words that the counts name of those the character set changed,
// and of those it cannot write.
constexpr std::size_t changed_words_kept = 3;

struct folding {
    bool lower_case = false;  // --fold-case
    bool accents = false;     // --fold-accents
};

class handheld_text {
public:
    // encoder may be null: the text stays UTF-8.
    handheld_text(folding fold, charset_encoder* encoder);

    // Makes a clean word and translation what the handheld is given. False
    // when the character set cannot write the word, for a word written with
    // '?' could not be found and would merge unrelated entries: the entry is
    // left out, and counted.
    bool apply(std::string& word, std::string& translation);

    // Whether the last apply() changed the word and put the dictionary's own
    // spelling in front of the translation ("café: coffee"), so that the
    // merge can label the other spellings of the word alike.
    bool spelled() const { return spelled_; }

    // The title in the handheld's set, cut before a whole character so that
    // it takes at most max_size bytes; original_size: its bytes uncut.
    std::string title(std::string_view title, std::size_t max_size, std::size_t& original_size);

    const handheld_counts& counts() const { return counts_; }
    const charset_encoder* encoder() const { return encoder_; }

private:
    void fold(std::string& word, std::string& translation);
    bool spelled_ = false;

    folding fold_;
    charset_encoder* encoder_;
    handheld_counts counts_;
    std::string lowered_, unaccented_, word_, translation_;
};

}  // namespace lexaro::import
