// Plain-text articles that a dictionary's tools wrapped at a fixed width
// (dictd's GCIDE, WordNet, Jargon File, FOLDOC): a line break that only wraps
// a long line joins the two lines with one space; a real break stays.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace lexaro::import {

constexpr unsigned min_wrap_width = 30;
constexpr unsigned max_wrap_width = 250;

// Finds the width a dictionary's text was wrapped at from the lengths of its
// lines: wrapped text has almost no line longer than the width, and many
// lines just short of it. Text with long unwrapped lines has no width.
class wrap_width_finder {
public:
    // Counts the length, in characters, of each line of an article.
    void add(std::string_view text);
    // The width, or 0 when the text does not look wrapped.
    unsigned width() const;

private:
    std::array<uint64_t, max_wrap_width + 2> lines_{};  // by length; the last: longer
    uint64_t total_ = 0;
};

// Appends text to out with each line break that only wraps a line at `width`
// replaced by one space; gives how many it replaced. A break stays where the
// line did not reach the width (its next word would have fitted) unless it
// ends in a comma before a word in lower case; and it stays before or after
// a blank line, before a new numbered sense ("2.", "n 1:", "(a)"), a list
// item, a structure word ("Synonyms:", "see:", "[syn: ...", a line that is
// one bracket such as "[1913 Webster]") or a line indented less than the one
// before. first_line_taken: characters that stood before the text on its
// first line (a headword taken out), which count towards that line's width.
uint64_t unwrap(std::string_view text, unsigned width, std::string& out,
                std::size_t first_line_taken = 0);

}  // namespace lexaro::import
