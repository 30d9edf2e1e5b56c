#include "common/charset_tables.h"

#include <algorithm>
#include <iterator>

#include "common/charset.h"
#include "common/unicode_forms.h"

namespace lexaro::charset_tables {

namespace {

#include "charset_table_data.inc"

// Palm Latin: CP1252 but for the suits at 0x8D to 0x90, and glyphs of the
// handheld's own where CP1252 has Ž, ž and › (0x8E, 0x9E, 0x9B) and at 0x81
// and 0x9D, which the table leaves empty.
constexpr uint16_t palm_latin_singles[] = {
#include "common/palm_latin_table.inc"
};
constexpr generated_set palm_latin = {
    "PALM-LATIN", palm_latin_singles, nullptr, 0, 0, 0, 0, nullptr, 0, nullptr, 0};

// glibc's names of the sets, upper case without '-' and '_'.
struct alias {
    const char* key;
    const char* set;
};
constexpr alias aliases[] = {
    {"CP1250", "CP1250"},     {"WINDOWS1250", "CP1250"},   {"MSEE", "CP1250"},
    {"CP1251", "CP1251"},     {"WINDOWS1251", "CP1251"},   {"MSCYRL", "CP1251"},
    {"CP1252", "CP1252"},     {"WINDOWS1252", "CP1252"},   {"MSANSI", "CP1252"},
    {"CP1253", "CP1253"},     {"WINDOWS1253", "CP1253"},   {"MSGREEK", "CP1253"},
    {"CP1254", "CP1254"},     {"WINDOWS1254", "CP1254"},   {"MSTURK", "CP1254"},
    {"CP1255", "CP1255"},     {"WINDOWS1255", "CP1255"},   {"MSHEBR", "CP1255"},
    {"CP1256", "CP1256"},     {"WINDOWS1256", "CP1256"},   {"MSARAB", "CP1256"},
    {"CP1257", "CP1257"},     {"WINDOWS1257", "CP1257"},   {"WINBALTRIM", "CP1257"},
    {"CP1258", "CP1258"},     {"WINDOWS1258", "CP1258"},   {"KOI8R", "KOI8-R"},
    {"CSKOI8R", "KOI8-R"},    {"SHIFTJIS", "SHIFT_JIS"},   {"SJIS", "SHIFT_JIS"},
    {"MSKANJI", "SHIFT_JIS"}, {"CSSHIFTJIS", "SHIFT_JIS"}, {"BIG5", "BIG5"},
    {"BIGFIVE", "BIG5"},      {"CNBIG5", "BIG5"},          {"GB2312", "GB2312"},
    {"EUCCN", "GB2312"},      {"CSGB2312", "GB2312"},      {"CNGB", "GB2312"},
    {"PALMLATIN", "PALM-LATIN"}, {"PALMOS", "PALM-LATIN"},
};
constexpr const char* euc_jp_names[] = {"EUCJP", "UJIS", "CSEUCPKDFMTJAPANESE", "OSF00030010"};

std::string key_of(std::string_view name) {
    std::string key;
    for (const char c : name) {
        if (c == '-' || c == '_') continue;
        key += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return key;
}

// The 94 cells of a row, from 0xA1 to 0xFE; -1 outside.
int cell_of(unsigned char byte) { return byte >= 0xA1 && byte <= 0xFE ? byte - 0xA1 : -1; }

const generated_set& shift_jis() {
    static const generated_set& set = *find_set("SHIFT_JIS");
    return set;
}

// The character of a JIS X 0208 cell (row and cell from 0), from Shift_JIS's
// table, where the same character is at the cell's shifted bytes.
char32_t jis_x0208(int row, int cell) {
    const generated_set& set = shift_jis();
    const unsigned lead = static_cast<unsigned>(row / 2 + (row < 62 ? 0x81 : 0xC1));
    const unsigned trail =
        static_cast<unsigned>(row % 2 ? cell + 0x9F : cell + 0x40 + (cell >= 63));
    if (lead < set.lead_first || lead >= set.lead_first + set.leads) return 0;
    return set.cells[(lead - set.lead_first) * set.trails + trail - set.trail_first];
}

}  // namespace

const generated_set* find_set(std::string_view name) {
    const std::string key = key_of(name);
    for (const alias& a : aliases) {
        if (key != a.key) continue;
        if (std::string_view(palm_latin.name) == a.set) return &palm_latin;
        for (const generated_set& set : generated_sets)
            if (std::string_view(set.name) == a.set) return &set;
    }
    return nullptr;
}

const generated_set* find_set_of_its_own(std::string_view name) {
    const generated_set* set = find_set(name);
    return set == &palm_latin ? set : nullptr;
}

std::size_t decode_single_bytes(const generated_set& set, std::string_view in, std::string& out,
                                uint64_t& invalid) {
    for (const char byte : in) {
        const auto b = static_cast<unsigned char>(byte);
        if (b < 0x80) {
            out.push_back(byte);
        } else if (set.singles[b - 0x80] != 0) {
            append_utf8(set.singles[b - 0x80], out);
        } else {
            out.append(replacement_character);
            ++invalid;
        }
    }
    return in.size();
}

set_writer::set_writer(const generated_set& set) : set_(set) {
    for (unsigned i = 0; i < 0x80; ++i)
        if (set.singles[i] != 0) codes_.push_back(uint32_t{set.singles[i]} << 16 | (0x80 + i));
    for (unsigned lead = 0; set.cells != nullptr && lead < set.leads; ++lead) {
        for (unsigned trail = 0; trail < set.trails; ++trail) {
            const uint32_t c = set.cells[lead * set.trails + trail];
            if (c != 0)
                codes_.push_back(c << 16 | (set.lead_first + lead) << 8 |
                                 (set.trail_first + trail));
        }
    }
    codes_.insert(codes_.end(), set.extras, set.extras + set.extra_size);
    std::sort(codes_.begin(), codes_.end());
    // Text is composed before it is written, so a character that composing
    // makes of one the set holds is written with that one's bytes where the
    // set lacks it: Shift_JIS holds the angstrom sign (U+212B), which
    // composes to A with ring above (U+00C5).
    std::vector<uint32_t> composed_forms;
    std::string text, composed;
    std::u32string work;
    for (const uint32_t code : codes_) {
        if (!may_change_when_composed(code >> 16)) continue;
        text.clear();
        append_utf8(code >> 16, text);
        compose(text, composed, work);
        std::size_t length = 0;
        const char32_t c = next_character(composed, length);
        if (length == composed.size() && c != code >> 16 && c <= 0xFFFF && !holds(c))
            composed_forms.push_back(static_cast<uint32_t>(c) << 16 | (code & 0xFFFF));
    }
    codes_.insert(codes_.end(), composed_forms.begin(), composed_forms.end());
    std::sort(codes_.begin(), codes_.end());
}

bool set_writer::holds(char32_t c) const {
    const auto found =
        std::lower_bound(codes_.begin(), codes_.end(), static_cast<uint32_t>(c) << 16);
    return found != codes_.end() && *found >> 16 == c;
}

bool set_writer::append(char32_t c, std::string& out) const {
    if (c > 0xFFFF) return false;
    const auto found =
        std::lower_bound(codes_.begin(), codes_.end(), static_cast<uint32_t>(c) << 16);
    if (found != codes_.end() && *found >> 16 == c) {
        const uint32_t code = *found & 0xFFFF;
        if (code > 0xFF) out.push_back(static_cast<char>(code >> 8));
        out.push_back(static_cast<char>(code & 0xFF));
        return true;
    }
    const long_code* end = set_.long_codes + set_.long_size;
    const long_code* found_long = std::lower_bound(
        set_.long_codes, end, c,
        [](const long_code& l, char32_t code_point) { return l.code_point < code_point; });
    if (found_long == end || found_long->code_point != c) return false;
    out.append(found_long->bytes);
    return true;
}

bool is_euc_jp(std::string_view name) {
    const std::string key = key_of(name);
    return std::find(std::begin(euc_jp_names), std::end(euc_jp_names), key) !=
           std::end(euc_jp_names);
}

std::size_t decode_euc_jp(std::string_view in, std::string& out, bool more, uint64_t& invalid) {
    const auto at = [&](std::size_t k) { return static_cast<unsigned char>(in[k]); };
    std::size_t i = 0;
    while (i < in.size()) {
        const unsigned char lead = at(i);
        if (lead < 0x80) {
            std::size_t end = i + 1;
            while (end < in.size() && at(end) < 0x80) ++end;
            out.append(in.substr(i, end - i));
            i = end;
            continue;
        }
        // glibc reads the other bytes below 0xA0 as the C1 controls.
        if (lead <= 0x8D || (lead >= 0x90 && lead <= 0x9F)) {
            append_utf8(lead, out);
            ++i;
            continue;
        }
        // 0x8E: a half-width katakana; 0x8F: JIS X 0212 in the next two
        // bytes; else JIS X 0208 in this byte and the next.
        const std::size_t length = lead == 0x8F ? 3 : 2;
        char32_t c = 0;
        if (lead != 0xFF && (i + 1 == in.size() || at(i + 1) >= 0xA1)) {
            if (i + length > in.size()) {
                if (more) break;  // the rest comes with the next piece
            } else if (lead == 0x8E) {
                // Shift_JIS has these as single bytes.
                if (at(i + 1) <= 0xFE) c = shift_jis().singles[at(i + 1) - 0x80];
            } else if (lead == 0x8F) {
                const int row = cell_of(at(i + 1)), cell = cell_of(at(i + 2));
                if (row >= 0 && cell >= 0) c = euc_jp_jis_x0212[row * 94 + cell];
            } else {
                const int row = cell_of(lead), cell = cell_of(at(i + 1));
                if (row >= 0 && cell >= 0) c = jis_x0208(row, cell);
            }
        }
        if (c == 0) {  // no character: one byte skipped, as glibc does
            out.append(replacement_character);
            ++invalid;
            ++i;
            continue;
        }
        append_utf8(c, out);
        i += length;
    }
    return i;
}

}  // namespace lexaro::charset_tables
