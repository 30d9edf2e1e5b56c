#include "import/unwrap.h"

#include <algorithm>

namespace lexaro::import {

namespace {

// Characters in UTF-8 text: bytes that do not continue a sequence.
std::size_t characters(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view without_end_blanks(std::string_view line) {
    while (!line.empty() && is_blank(line.back())) line.remove_suffix(1);
    return line;
}

std::size_t indent_of(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size() && is_blank(line[i])) ++i;
    return i;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }

// Whether a line (without its indentation) begins a new part of the article.
bool begins_structure(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_digit(text[i])) ++i;
    if (i > 0 && i < text.size() && (text[i] == '.' || text[i] == ':' || text[i] == ')') &&
        (i + 1 == text.size() || is_blank(text[i + 1])))
        return true;  // "2." "1:" "3)", not "88.9"
    i = 0;
    while (i < text.size() && i < 5 && is_lower(text[i])) ++i;
    if (i > 0 && i + 2 < text.size() && text[i] == ' ' && is_digit(text[i + 1])) {
        std::size_t j = i + 1;
        while (j < text.size() && is_digit(text[j])) ++j;
        if (j < text.size() && text[j] == ':') return true;  // WordNet's "n 1:", "adj 2:"
    }
    if (text.size() >= 3 && text[0] == '(' && text[2] == ')') return true;  // "(a)"
    if (!text.empty() && text[0] == '[') {
        // A line that is one bracket ("[Obs.]"), begins with a note of words
        // or numbers ("[1913 Webster]") or a label ("[syn: ..."); not a word
        // that begins with a letter written in brackets ("[ae]sthetic",
        // "[`a] (L. ad)") or a list of them.
        const std::string_view line = without_end_blanks(text);
        const std::size_t close = line.find(']');
        if (close == line.size() - 1) return true;
        const std::string_view note = line.substr(1, close == std::string_view::npos ? line.size() : close - 1);
        if (close != std::string_view::npos && note.find_first_of(" 0123456789") != std::string_view::npos)
            return true;
        i = 0;
        while (i < note.size() && is_lower(note[i])) ++i;
        return i > 0 && i < note.size() && note[i] == ':';
    }
    static constexpr std::string_view starts[] = {
        "- ",        "* ",      "\xE2\x80\xA2 ", "--",     "Synonyms:", "Synonym:",
        "Syn.",     "Antonyms:", "Antonym:", "See also",     "See:",   "see:",      "Note:",
        "Usage:",   "Example:",  "Examples:", "Etymology:",  "Compare", "Cf."};
    for (const std::string_view s : starts)
        if (text.substr(0, s.size()) == s) return true;
    return false;
}

}  // namespace

void wrap_width_finder::add(std::string_view text) {
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = without_end_blanks(text.substr(0, end));
        if (indent_of(line) < line.size()) {
            ++lines_[std::min<std::size_t>(characters(line), max_wrap_width + 1)];
            ++total_;
        }
        text.remove_prefix(std::min(end + 1, text.size()));
    }
}

// The narrowest width that half a percent of the lines at most pass, with a
// tenth of them in the eight characters up to it.
unsigned wrap_width_finder::width() const {
    if (total_ < 100) return 0;
    uint64_t longer = lines_[max_wrap_width + 1];  // lines longer than the width tried
    unsigned found = 0;
    for (std::size_t w = max_wrap_width; w >= min_wrap_width; --w) {
        if (longer * 200 >= total_) break;
        uint64_t near = 0;
        for (std::size_t k = w - 7; k <= w; ++k) near += lines_[k];
        if (near * 10 >= total_) found = static_cast<unsigned>(w);
        longer += lines_[w];
    }
    return found;
}

uint64_t unwrap(std::string_view text, unsigned width, std::string& out,
                std::size_t first_line_taken) {
    uint64_t joined = 0;
    std::string_view previous;  // the line before, when it holds text
    std::size_t previous_taken = 0;  // characters before it on its line in the article
    bool first = true;
    for (;;) {
        std::size_t end = text.find('\n');
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(0, end);
        const bool last = end == text.size();
        text.remove_prefix(std::min(end + 1, text.size()));
        const std::size_t indent = indent_of(line);
        const std::string_view body = line.substr(indent);
        bool join = false;
        if (!previous.empty() && !without_end_blanks(body).empty() && !begins_structure(body) &&
            indent >= indent_of(previous)) {
            const std::string_view before = without_end_blanks(previous);
            const std::string_view next_word = body.substr(0, body.find_first_of(" \t"));
            const std::size_t size = previous_taken + characters(before);
            // The next word did not fit on the line; or the line stops
            // inside a sentence that the next line carries on in lower case:
            // after a comma (GCIDE's headword line, "\Bent\,", runs on
            // below it), or, on a long line, after a word (tools that
            // wrapped text with markup later taken out).
            join = size + 1 + characters(next_word) > width ||
                   (is_lower(next_word.front()) &&
                    (before.back() == ',' || (size * 4 >= width * 3 && is_lower(before.back()))));
        }
        if (join) {
            while (!out.empty() && is_blank(out.back())) out.pop_back();
            out += ' ';
            out.append(without_end_blanks(body));
            ++joined;
        } else {
            if (!first) out += '\n';
            out.append(line);
        }
        previous = without_end_blanks(body).empty() ? std::string_view() : line;
        previous_taken = first ? first_line_taken : 0;
        first = false;
        if (last) break;
    }
    return joined;
}

}  // namespace lexaro::import
