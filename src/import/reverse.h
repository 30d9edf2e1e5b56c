// The stage of --reverse, between the clean-up and the handheld text: from
// one clean entry to the entries of the other direction. Each term of the
// translation (what a reader would look up: the translation cut at its
// senses and separators, without annotations, pronunciations, examples,
// cross references and labels) becomes a word whose translation is the
// entry's word with its grammar label ("eat" from "essen: eat <v>" gives
// "eat$essen <v>"). Readers that know which parts of their definitions
// translate the word hand those over (raw_entry::terms); for the rest the
// terms come from the clean translation, line by line. The entry table
// sorts and merges the reversed entries as it does any others.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "import/raw_entry.h"

namespace lexaro::import {

// A term of more words than this is a phrase or a sentence: no word.
constexpr std::size_t max_term_words = 5;

// What the reversal made and left out.
struct reverse_counts {
    uint64_t entries = 0;         // entries reversed
    uint64_t without_terms = 0;   // of them, entries that gave no term
    uint64_t terms = 0;           // reversed entries made
    uint64_t from_readers = 0;    // of them, from the terms that a reader handed over
    uint64_t long_terms = 0;      // left out: more than max_term_words words
    uint64_t no_letters = 0;      // left out: no letter or digit left
    uint64_t repeats = 0;         // left out: given before by the same entry
    uint64_t beyond_bound = 0;    // left out: past what one entry may give
    uint64_t examples = 0;        // lines left out as examples ("..." - ...)
    uint64_t references = 0;      // lines left out as cross references and notes (see:, Note:)
};

class reverser {
public:
    // Finds the terms of a clean entry (word and translation as the
    // clean-up made them, the translation's lines apart by '\n'): those that
    // raw.terms holds when the reader handed them over, else those of the
    // translation. Gives how many reversed entries it made; term(i) and
    // translation(i) read them until the next call.
    std::size_t reverse(std::string_view word, std::string_view translation, const raw_entry& raw);

    // The i-th term, as a word: white space made single spaces, '$' made
    // U+FF04, as the clean-up makes words.
    std::string_view term(std::size_t i) const;

    // The i-th reversed translation: the entry's word and the grammar label
    // nearest the term ("essen <v>": the term's own, else the entry's).
    void translation(std::size_t i, std::string& out) const;

    // How many terms the entry gave, at most 255: the merge puts the words
    // that give a term alone before those that give it among many.
    unsigned rank() const { return rank_; }

    const reverse_counts& counts() const { return counts_; }

private:
    struct found_term {
        uint32_t at, size;              // in text_
        uint32_t label_at, label_size;  // in text_; size 0: none of its own
    };
    struct token {
        std::size_t at, size;  // in item_
    };

    void from_text(std::string_view translation);
    void from_reader(std::string_view terms);
    // Cuts a line at its separators outside brackets and takes each piece's
    // terms; sense: the line's sense number (0: none), the next of which
    // also cuts it.
    void cut(std::string_view line, unsigned sense);
    // The terms of one piece of a line; whether it gave any.
    bool take_item(std::string_view line, std::size_t begin, std::size_t end);
    void expand_and_add(std::size_t first, std::size_t last, std::string_view label);
    void add(std::string_view term, std::string_view label);
    bool repeated(std::string_view term);
    void match_brackets(std::string_view line);
    std::string_view entry_label() const;

    reverse_counts counts_;
    std::string_view word_;
    std::string_view grammar_;  // the reader's, for the whole entry
    std::size_t budget_ = 0;    // bytes the entry's reversed entries may still take
    unsigned rank_ = 0;
    bool from_reader_ = false;
    std::string text_;  // the terms and labels of the entry
    std::vector<found_term> terms_;
    uint32_t label_at_ = 0, label_size_ = 0;  // the entry's own grammar, from its text
    std::string item_, alternative_;          // scratch
    std::vector<token> tokens_;
    std::vector<uint32_t> closes_;       // where each bracket of a line closes
    std::vector<uint32_t> open_[4];      // brackets open, by kind
    std::vector<uint32_t> seen_;         // the terms' indexes + 1 by hash, for many terms
};

}  // namespace lexaro::import
