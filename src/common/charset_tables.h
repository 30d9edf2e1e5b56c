// The handheld's character sets written from tables that the build makes
// from glibc's converters (scripts/make-charset-tables), so that Linux,
// Windows and the web page write the same bytes for the same text; and
// EUC-JP read from the same source, since not every system's converter
// knows its JIS X 0212 characters. Palm Latin, Palm OS's own Western set,
// which no system's converter knows, is written and read from a table of
// its own (palm_latin_table.inc, from Python's palmos codec).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lexaro::charset_tables {

// A character written with more than two bytes.
struct long_code {
    uint16_t code_point;
    const char* bytes;
};

// The characters of a set past ASCII, by their bytes.
struct generated_set {
    const char* name;
    const uint16_t* singles;  // the characters of the bytes 0x80 to 0xFF, 0 for none
    const uint16_t* cells;    // of two bytes, leads by trails; null in a set of single bytes
    unsigned lead_first, leads, trail_first, trails;
    // Characters written with bytes that a single byte or a cell holds for
    // another character, or with bytes below 0x80: code point << 16 | the
    // one or two bytes, by code point.
    const uint32_t* extras;
    std::size_t extra_size;
    const long_code* long_codes;  // by code point
    std::size_t long_size;
};

// The set that name or one of glibc's aliases of it names, in any case and
// with or without '-' and '_' (CP1252, windows-1252, Shift_JIS, SJIS, EUC-CN,
// PALM-LATIN, palmos, ...); null for every other name.
const generated_set* find_set(std::string_view name);

// The set of single bytes that name names where no system's converter
// knows it (Palm Latin), so that it is read from its table too; else null.
const generated_set* find_set_of_its_own(std::string_view name);

// Appends the UTF-8 of text in a set of single bytes to out and gives the
// bytes taken (all of them). A byte that the set holds no character for
// becomes U+FFFD and is counted in invalid.
std::size_t decode_single_bytes(const generated_set& set, std::string_view in, std::string& out,
                                uint64_t& invalid);

// Writes characters in a set, from its table turned around once.
class set_writer {
public:
    explicit set_writer(const generated_set& set);
    // Appends the bytes of c, a character past ASCII; false when the set lacks it.
    bool append(char32_t c, std::string& out) const;

private:
    bool holds(char32_t c) const;  // among the characters of one or two bytes
    const generated_set& set_;
    std::vector<uint32_t> codes_;  // code point << 16 | its one or two bytes, by code point
};

// Whether name names EUC-JP (EUC-JP, eucJP, UJIS, ...).
bool is_euc_jp(std::string_view name);

// Appends the UTF-8 of EUC-JP text to out, as glibc's iconv reads it, and
// gives the bytes it took: with `more`, a character cut short at the end is
// left for the next piece; without it, such bytes are invalid. Each byte
// that starts no character becomes U+FFFD and is counted in invalid.
std::size_t decode_euc_jp(std::string_view in, std::string& out, bool more, uint64_t& invalid);

}  // namespace lexaro::charset_tables
