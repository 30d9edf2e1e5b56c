// Character sets on Windows through the system's code pages
// (MultiByteToWideChar and WideCharToMultiByte), under the names that iconv
// gives them on Linux, so that --input-charset and --charset take the same
// names on both systems. Built on Windows alone; charset.cpp calls it there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lexaro::code_pages {

// Code page numbers of the two UTF-16 orders, which the code-page calls do
// not take: they are converted here.
constexpr unsigned utf16le = 1200;
constexpr unsigned utf16be = 1201;

// The code page of a character set name (case, '-' and '_' aside: "cp1251",
// "WINDOWS-1251", "KOI8-R", "Shift_JIS", "EUC-JP", "Big5", "GB2312",
// "UTF-16LE", "ISO-8859-5"), or 0 when the name is unknown or this Windows
// has no such code page.
unsigned code_page_of(std::string_view name);

// Text in one code page made UTF-8, piece by piece.
class decoder {
public:
    explicit decoder(unsigned code_page);

    // Appends the UTF-8 of `in` to out and gives the bytes it took. With
    // `more`, only whole characters are taken (up to the last line feed, or
    // an even count of UTF-16 bytes), and the rest is left for the next
    // piece; without it, everything is taken. A byte that is no character
    // of the set, or a code unit in UTF-16, becomes U+FFFD and is counted.
    std::size_t decode(std::string_view in, std::string& out, bool more);

    uint64_t invalid() const { return invalid_; }

private:
    void decode_bytes(std::string_view in, std::string& out);
    void decode_utf16(std::string_view in, std::string& out, bool more, std::size_t& taken);
    // Character by character, each tried at every length up to the longest;
    // with `more`, stops before a character cut short at the end. The bytes taken.
    std::size_t decode_slowly(std::string_view in, std::string& out, bool more);

    unsigned code_page_;
    unsigned max_char_size_ = 1;  // bytes of the longest character
    uint64_t invalid_ = 0;
    std::wstring wide_;  // reused between pieces
};

// How the characters of a text went into a code page.
struct encode_counts {
    uint64_t best_fit = 0;  // written as the set's nearest character (transliterated)
    uint64_t replaced = 0;  // written as '?': the set has no such character, or not UTF-8
};

// Appends the UTF-8 text in the code page to out. A character the set lacks
// becomes Windows' best fit for it when best_fit is allowed and there is one,
// else '?'; each byte that is not UTF-8 becomes '?'. Every character that is
// not written exactly is counted.
void encode(unsigned code_page, std::string_view utf8, std::string& out, bool best_fit,
            encode_counts& counts);

}  // namespace lexaro::code_pages
