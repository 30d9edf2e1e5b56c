// Character sets by name, converted to UTF-8, the text that the programs
// work in. The one place that knows the system's conversion calls (iconv;
// the code-page calls on Windows).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lexaro {

namespace charset_tables {
struct generated_set;
class set_writer;
}

// The character U+FFFD, which stands for bytes that are no character.
constexpr std::string_view replacement_character = "\xEF\xBF\xBD";

// Text in a named character set made UTF-8, piece by piece. EUC-JP is read
// from a table made from glibc's converter on every system, and Palm Latin
// from its own table; other sets through the system's converter.
class charset_decoder {
public:
    // Nothing, with the reason in problem ("unknown character set NAME"),
    // when the system does not know the name.
    static std::unique_ptr<charset_decoder> open(const std::string& name, std::string& problem);
    ~charset_decoder();
    charset_decoder(const charset_decoder&) = delete;
    charset_decoder& operator=(const charset_decoder&) = delete;

    // Appends the UTF-8 of `in` to out and gives the bytes it took. With
    // `more`, a character cut short at the end of `in` is left for the next
    // piece, which must begin with the bytes not taken; without it, such
    // bytes are invalid. Each byte that is no character of the set becomes
    // U+FFFD and is counted.
    std::size_t decode(std::string_view in, std::string& out, bool more);

    uint64_t invalid() const { return invalid_; }
    const std::string& name() const { return name_; }

private:
    charset_decoder(std::string name, void* handle,
                    const charset_tables::generated_set* table = nullptr);
    std::string name_;
    void* handle_;  // null for the sets read from tables: EUC-JP, and those in table_
    const charset_tables::generated_set* table_;  // a set of single bytes of its own
    std::size_t unit_ = 1;  // the bytes of a code unit, skipped at a bad one: 2 in UTF-16
    uint64_t invalid_ = 0;
};

// UTF-8 text written in a named character set, the one the handheld shows.
// Only sets that can carry a source are taken: each ASCII character written
// as itself, and no other character written with the bytes that a source
// line gives a meaning ('$', line feed, carriage return, 0x1A). The sets the
// handheld shows (Palm Latin, CP1250 to CP1258, KOI8-R, Shift_JIS, Big5,
// GB2312) are written from tables, the same bytes on every system: Palm
// Latin from Python's palmos codec, the others from glibc's converters,
// the Japanese and Chinese sets with the characters that Windows' code pages
// (CP932, CP936, CP950) read from their bytes. Other sets through the system's
// converter. Text is composed (NFC) before it is written.
class charset_encoder {
public:
    // Nothing, with the reason in problem, when the system does not know the
    // name or the set cannot carry a source (UTF-16, UTF-32, ISO-2022).
    static std::unique_ptr<charset_encoder> open(const std::string& name, std::string& problem);
    ~charset_encoder();
    charset_encoder(const charset_encoder&) = delete;
    charset_encoder& operator=(const charset_encoder&) = delete;

    // Appends the text in the set to out, composed (NFC) first. A character
    // the set lacks becomes its transliteration where the set has one ("e"
    // for "é", '"' for "„"), else its compatibility form (NFKC) where the set
    // has that ("fi" for "ﬁ", "1" for "①"), else a combining mark is left
    // out; all three are counted as transliterated. What is left becomes '?',
    // as does each byte that is not UTF-8, counted as replaced.
    void encode(std::string_view utf8, std::string& out);

    uint64_t transliterated() const { return transliterated_; }
    uint64_t replaced() const { return replaced_; }
    const std::string& name() const { return name_; }

private:
    charset_encoder(std::string name, void* handle,
                    std::unique_ptr<charset_tables::set_writer> table);
    // Appends the text converted when every character of it is in the set
    // and none is written with a byte that ASCII holds; else false, with out
    // as it was. Unless composed, also false where composing the text might
    // change it.
    bool exact(std::string_view utf8, std::string& out, bool composed);
    bool exact_from_table(std::string_view utf8, std::string& out, bool composed);
    bool exact_by_system(std::string_view utf8, std::string& out);  // the one call into the system
    void encode_slowly(std::string_view utf8, std::string& out);
    // Appends what a character becomes, c being the character of utf8, and
    // counts it: how it is written is remembered by encode_slowly.
    enum class outcome : unsigned char { exact, transliterated, replaced };
    outcome write_character(char32_t c, std::string_view utf8, std::string& out);
    bool carries_a_source();
    static bool holds_no_source_bytes(std::string_view utf8, const std::string& out,
                                      std::size_t start);

    std::string name_;
    void* handle_;  // the system's converter; null with a table
    std::unique_ptr<charset_tables::set_writer> table_;
    uint64_t transliterated_ = 0;
    uint64_t replaced_ = 0;
    std::string composed_;   // the text composed, when it was not
    std::u32string work_;    // the characters being composed
    // The characters written one at a time lately, by code point modulo
    // their count: text that the set cannot write whole mostly repeats a
    // few characters (a dictionary's phonetic letters) many times.
    struct remembered_character {
        char32_t c = 0;  // 0: none
        outcome how = outcome::exact;
        unsigned char size = 0;
        char bytes[10] = {};
    };
    std::vector<remembered_character> remembered_;
};

// What a character becomes where a set lacks it: the letter without its
// marks, a ligature spelt out, typographic punctuation in ASCII; empty when
// there is nothing to offer.
std::string_view transliteration(char32_t c);

// The code point of the UTF-8 sequence at the start of text and its length;
// length 0 when the bytes there are not UTF-8.
char32_t next_character(std::string_view text, std::size_t& length);

}  // namespace lexaro
