#include "import/case_folding.h"

#include <algorithm>
#include <iterator>

#include "common/charset.h"

namespace lexaro::import {

namespace {

struct folding_row {
    char32_t code;
    const char* folded;
};

constexpr folding_row foldings[] = {
#include "import/case_folding_table.inc"
};

const char* folded(char32_t c) {
    const auto* end = std::end(foldings);
    const auto* row = std::lower_bound(std::begin(foldings), end, c,
                                       [](const folding_row& r, char32_t code) { return r.code < code; });
    return row != end && row->code == c ? row->folded : nullptr;
}

}  // namespace

bool fold_case(std::string_view word, std::string& out) {
    out.clear();
    bool changed = false;
    std::size_t i = 0;
    while (i < word.size()) {
        const unsigned char b = static_cast<unsigned char>(word[i]);
        if (b < 0x80) {
            const bool upper = b >= 'A' && b <= 'Z';
            out.push_back(static_cast<char>(upper ? b + ('a' - 'A') : b));
            changed = changed || upper;
            ++i;
            continue;
        }
        std::size_t length = 0;
        const char32_t c = next_character(word.substr(i), length);
        const char* f = length == 0 ? nullptr : folded(c);
        if (f != nullptr) {
            out.append(f);
            changed = true;
        } else {
            out.append(word.substr(i, length == 0 ? 1 : length));
        }
        i += length == 0 ? 1 : length;
    }
    return changed;
}

}  // namespace lexaro::import
