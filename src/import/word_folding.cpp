#include "import/word_folding.h"

#include <algorithm>
#include <iterator>

#include "common/charset.h"

namespace lexaro::import {

namespace {

struct mapping {
    char32_t code;
    const char* text;
};

constexpr mapping lower_case_mappings[] = {
#include "import/lower_case_table.inc"
};

constexpr mapping accent_mappings[] = {
#include "import/accent_table.inc"
};

template <std::size_t size>
const char* mapped(const mapping (&table)[size], char32_t c) {
    const mapping* end = std::end(table);
    const mapping* row = std::lower_bound(
        std::begin(table), end, c, [](const mapping& m, char32_t code) { return m.code < code; });
    return row != end && row->code == c ? row->text : nullptr;
}

// Writes word into out with each character that table maps replaced by its
// text, unless in_context(c, before, after) gives another, and each ASCII
// byte by ascii(byte); true when out differs from word.
template <std::size_t size, typename ascii_map, typename context_map>
bool map_characters(std::string_view word, const mapping (&table)[size], ascii_map ascii,
                    context_map in_context, std::string& out) {
    out.clear();
    bool changed = false;
    std::size_t i = 0;
    while (i < word.size()) {
        const unsigned char b = static_cast<unsigned char>(word[i]);
        if (b < 0x80) {
            const char c = ascii(static_cast<char>(b));
            out.push_back(c);
            changed = changed || c != static_cast<char>(b);
            ++i;
            continue;
        }
        std::size_t length = 0;
        const char32_t c = next_character(word.substr(i), length);
        const char* text = nullptr;
        if (length > 0) {
            text = in_context(c, word.substr(0, i), word.substr(i + length));
            if (text == nullptr) text = mapped(table, c);
        }
        if (text != nullptr) {
            out.append(text);
            changed = true;
        } else {
            out.append(word.substr(i, length == 0 ? 1 : length));
        }
        i += length == 0 ? 1 : length;
    }
    return changed;
}

bool is_greek_letter(char32_t c) {
    return (c >= 0x0386 && c <= 0x03FF && c != 0x0387) || (c >= 0x1F00 && c <= 0x1FFC);
}

// Whether the last character of text is a Greek letter.
bool ends_in_greek_letter(std::string_view text) {
    std::size_t start = text.size();
    while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80 &&
           text.size() - start < 3)
        --start;
    if (start == 0) return false;
    std::size_t length = 0;
    const char32_t c = next_character(text.substr(start - 1), length);
    return length == text.size() - start + 1 && is_greek_letter(c);
}

}  // namespace

bool lower_case(std::string_view word, std::string& out) {
    const auto ascii = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
    };
    // Capital sigma ending a Greek word is final sigma, as it is typed
    // ("ΛΟΓΟΣ" is "λογος"); elsewhere it is sigma.
    const auto final_sigma = [](char32_t c, std::string_view before,
                                std::string_view after) -> const char* {
        if (c != 0x03A3 || !ends_in_greek_letter(before)) return nullptr;
        std::size_t length = 0;
        const char32_t next = after.empty() ? 0 : next_character(after, length);
        return length > 0 && is_greek_letter(next) ? nullptr : "\xCF\x82";
    };
    return map_characters(word, lower_case_mappings, ascii, final_sigma, out);
}

bool without_accents(std::string_view word, std::string& out) {
    return map_characters(
        word, accent_mappings, [](char c) { return c; },
        [](char32_t, std::string_view, std::string_view) -> const char* { return nullptr; }, out);
}

}  // namespace lexaro::import
