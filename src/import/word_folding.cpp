#include "import/word_folding.h"

#include <algorithm>
#include <iterator>

#include "common/charset.h"
#include "common/unicode_forms.h"

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

struct script_range {
    char32_t first, last;
    script in;
};
constexpr script_range script_ranges[] = {
#include "import/script_table.inc"
};

// The script of c where it is one whose accents are taken off; else -1.
int script_of(char32_t c) {
    const auto* end = std::end(script_ranges);
    const auto* range = std::upper_bound(
        std::begin(script_ranges), end, c,
        [](char32_t code, const script_range& r) { return code < r.first; });
    if (range == std::begin(script_ranges) || c > (range - 1)->last) return -1;
    return static_cast<int>((range - 1)->in);
}

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

bool without_accents(std::string_view word, std::string& out, unsigned& scripts) {
    out.clear();
    scripts = 0;
    // The script of the letter that the marks read now attach to; -1 after
    // any other character.
    int base = -1;
    for (std::size_t i = 0; i < word.size();) {
        const unsigned char b = static_cast<unsigned char>(word[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
            base = (b | 0x20) >= 'a' && (b | 0x20) <= 'z' ? static_cast<int>(script::latin) : -1;
            ++i;
            continue;
        }
        std::size_t length = 0;
        const char32_t c = next_character(word.substr(i), length);
        if (length == 0) {
            out.push_back(word[i++]);
            base = -1;
            continue;
        }
        const std::string_view character = word.substr(i, length);
        i += length;
        if (is_combining_mark(c)) {
            // A diacritic has a combining class; a virama (9) takes a vowel
            // away rather than marking it.
            const unsigned klass = combining_class(c);
            if (base >= 0 && klass != 0 && klass != 9)
                scripts |= 1u << base;
            else
                out.append(character);
            continue;  // the marks after it attach to the same letter
        }
        base = script_of(c);
        const char* text = base >= 0 ? mapped(accent_mappings, c) : nullptr;
        if (text != nullptr) {
            out.append(text);
            scripts |= 1u << base;
        } else {
            out.append(character);
        }
    }
    return scripts != 0;
}

bool without_accents(std::string_view word, std::string& out) {
    unsigned scripts = 0;
    return without_accents(word, out, scripts);
}

}  // namespace lexaro::import
