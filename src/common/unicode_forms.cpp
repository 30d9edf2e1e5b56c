#include "common/unicode_forms.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "common/charset.h"

namespace lexaro {

namespace {

struct mark_range {
    char32_t first, last;
    unsigned char combining_class;
};
constexpr mark_range combining_marks[] = {
#include "common/combining_mark_table.inc"
};

struct code_range {
    char32_t first, last;
};
constexpr code_range composition_checks[] = {
#include "common/composition_check_table.inc"
};

struct mapping {
    char32_t code;
    const char* text;
};
constexpr mapping decompositions[] = {
#include "common/decomposition_table.inc"
};
constexpr mapping compatibility_forms[] = {
#include "common/compatibility_table.inc"
};

struct composition {
    char32_t first, second, composite;
};
constexpr composition compositions[] = {
#include "common/composition_table.inc"
};

// Hangul syllables, decomposed and composed by rule rather than by table.
constexpr char32_t hangul_first = 0xAC00, leading_first = 0x1100, vowel_first = 0x1161,
                   trailing_before = 0x11A7;
constexpr char32_t leadings = 19, vowels = 21, trailings = 28, syllables = 11172;

// A byte that is not UTF-8, held among the characters: beyond Unicode, it
// has class 0 and composes with nothing.
constexpr char32_t not_utf8 = 0x110000;

// The first character past ASCII that any of the tables holds.
constexpr char32_t first_marked = 0x300;

const mark_range* find_mark(char32_t c) {
    if (c < first_marked) return nullptr;
    const auto* end = std::end(combining_marks);
    const auto* range = std::upper_bound(
        std::begin(combining_marks), end, c,
        [](char32_t code, const mark_range& r) { return code < r.first; });
    if (range == std::begin(combining_marks)) return nullptr;
    --range;
    return c <= range->last ? range : nullptr;
}

const char* find_text(const mapping* begin, const mapping* end, char32_t c) {
    const mapping* row = std::lower_bound(
        begin, end, c, [](const mapping& m, char32_t code) { return m.code < code; });
    return row != end && row->code == c ? row->text : nullptr;
}

bool in_composition_checks(char32_t c) {
    const auto* end = std::end(composition_checks);
    const auto* range = std::upper_bound(
        std::begin(composition_checks), end, c,
        [](char32_t code, const code_range& r) { return code < r.first; });
    return range != std::begin(composition_checks) && c <= (range - 1)->last;
}

// One bit for each character of the Basic Multilingual Plane, made once from
// the ranges: the check costs a shift for the characters most text holds.
const std::array<uint64_t, 0x10000 / 64>& composition_check_bits() {
    static const std::array<uint64_t, 0x10000 / 64> bits = [] {
        std::array<uint64_t, 0x10000 / 64> made{};
        for (const code_range& r : composition_checks)
            for (char32_t c = r.first; c <= r.last && c < 0x10000; ++c)
                made[c / 64] |= uint64_t{1} << (c % 64);
        return made;
    }();
    return bits;
}

void decompose(char32_t c, std::u32string& out) {
    if (c >= hangul_first && c < hangul_first + syllables) {
        const char32_t index = c - hangul_first;
        out.push_back(leading_first + index / (vowels * trailings));
        out.push_back(vowel_first + index % (vowels * trailings) / trailings);
        if (index % trailings != 0) out.push_back(trailing_before + index % trailings);
        return;
    }
    const char* text =
        c < 0xC0 ? nullptr : find_text(std::begin(decompositions), std::end(decompositions), c);
    if (text == nullptr) {
        out.push_back(c);
        return;
    }
    const std::string_view parts(text);
    for (std::size_t i = 0; i < parts.size();) {
        std::size_t length = 0;
        out.push_back(next_character(parts.substr(i), length));
        i += length;
    }
}

// What first and second compose into; 0 where they do not.
char32_t composed_pair(char32_t first, char32_t second) {
    if (first >= leading_first && first < leading_first + leadings && second >= vowel_first &&
        second < vowel_first + vowels)
        return hangul_first + ((first - leading_first) * vowels + second - vowel_first) * trailings;
    if (first >= hangul_first && first < hangul_first + syllables &&
        (first - hangul_first) % trailings == 0 && second > trailing_before &&
        second < trailing_before + trailings)
        return first + (second - trailing_before);
    const auto* end = std::end(compositions);
    const auto* row = std::lower_bound(std::begin(compositions), end, composition{first, second, 0},
                                       [](const composition& a, const composition& b) {
                                           return a.first != b.first ? a.first < b.first
                                                                     : a.second < b.second;
                                       });
    return row != end && row->first == first && row->second == second ? row->composite : 0;
}

}  // namespace

unsigned combining_class(char32_t c) {
    const mark_range* range = find_mark(c);
    return range != nullptr ? range->combining_class : 0;
}

bool is_combining_mark(char32_t c) { return find_mark(c) != nullptr; }

bool may_change_when_composed(char32_t c) {
    if (c < first_marked) return false;
    if (c < 0x10000) return composition_check_bits()[c / 64] >> (c % 64) & 1;
    return in_composition_checks(c);
}

bool is_composed(std::string_view utf8) {
    for (std::size_t i = 0; i < utf8.size();) {
        // Below 0xCC: ASCII, a byte inside a character, or the first byte of
        // a character below U+0300.
        if (static_cast<unsigned char>(utf8[i]) < 0xCC) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        const char32_t c = next_character(utf8.substr(i), length);
        if (length > 0 && may_change_when_composed(c)) return false;
        i += length == 0 ? 1 : length;
    }
    return true;
}

void compose(std::string_view utf8, std::string& out, std::u32string& work) {
    work.clear();
    for (std::size_t i = 0; i < utf8.size();) {
        std::size_t length = 0;
        const char32_t c = next_character(utf8.substr(i), length);
        if (length == 0) {
            work.push_back(not_utf8 + static_cast<unsigned char>(utf8[i++]));
            continue;
        }
        decompose(c, work);
        i += length;
    }
    // Each run of marks in the order of their classes, marks of one class
    // kept in their order; sorted, not moved one place at a time, so that a
    // long run costs n log n, not n squared.
    for (std::size_t i = 0; i < work.size();) {
        std::size_t end = i;
        while (end < work.size() && combining_class(work[end]) != 0) ++end;
        if (end - i > 1)
            std::stable_sort(work.begin() + static_cast<std::ptrdiff_t>(i),
                             work.begin() + static_cast<std::ptrdiff_t>(end),
                             [](char32_t a, char32_t b) {
                                 return combining_class(a) < combining_class(b);
                             });
        i = end > i ? end : i + 1;
    }
    // Each character joined to the starter before it where the pair composes
    // and no character between them has the class 0 or the character's own
    // class or a higher one.
    std::size_t written = 0, starter = 0;
    bool have_starter = false;
    unsigned last_class = 0;
    for (std::size_t i = 0; i < work.size(); ++i) {
        const char32_t c = work[i];
        const unsigned klass = combining_class(c);
        if (have_starter && (last_class < klass || (last_class == 0 && written == starter + 1))) {
            if (const char32_t joined = composed_pair(work[starter], c)) {
                work[starter] = joined;
                continue;
            }
        }
        if (klass == 0) {
            starter = written;
            have_starter = true;
        }
        last_class = klass;
        work[written++] = c;
    }
    work.resize(written);
    out.clear();
    for (const char32_t c : work) {
        if (c >= not_utf8)
            out.push_back(static_cast<char>(c - not_utf8));
        else
            append_utf8(c, out);
    }
}

std::string_view compatibility_form(char32_t c) {
    if (c < 0xA0) return {};
    const char* text =
        find_text(std::begin(compatibility_forms), std::end(compatibility_forms), c);
    return text != nullptr ? std::string_view(text) : std::string_view();
}

void append_utf8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | c >> 6));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | c >> 12));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | c >> 18));
        out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

}  // namespace lexaro
