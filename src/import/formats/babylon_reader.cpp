// Babylon glossaries (X.bgl): a header, then one gzip member whose inflated
// body is a run of typed records.
//
//   header   12 34 00 01 (or 02), the offset G of the gzip data (16 bits),
//            bytes of no known use up to G
//   record   a byte b: type b & 0x0F, and h = b >> 4 gives the length of
//            the data: below 4, the next h + 1 bytes hold it; else it is
//            h - 4. Then the data.
//   entry    (types 1, 7, 10, 13) headword length (1), headword, definition
//            length (2), definition, then alternates to the record's end:
//            length (1) and alternate; type 11 has wide lengths and its
//            alternates before the definition
//
// Records of types 0 and 3 describe the glossary: its title, its character
// sets, its languages. Most files write them after the entries, so the body
// is read twice: first for the description, checking the framing and layout
// of every record before any entry goes out, then for the entries.
//
// Every headword and every alternate is a word, with the definition as its
// translation. The fields after a 0x14 in a definition give the part of
// speech and the transcription, which go in front of it. Text is made UTF-8
// from the set the file names (words in the source set, definitions in the
// target set), with <charset c=X> tags applied and runs of UTF-8 in a file
// that names a code page found and counted.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/charset.h"
#include "common/compressed_input.h"
#include "import/clean_up.h"
#include "import/formats/readers.h"
#include "import/markup_text.h"

namespace lexaro::import {

namespace {

// --- The file's layout ---------------------------------------------------------

constexpr std::string_view signature_start = std::string_view("\x12\x34\x00", 3);
constexpr unsigned char signature_versions[] = {0x01, 0x02};
constexpr std::size_t signature_size = 4;
constexpr std::size_t header_size = 6;  // the signature, then the gzip data's offset (16 bits)

constexpr unsigned record_type_mask = 0x0F;
constexpr unsigned record_size_shift = 4;
constexpr unsigned most_length_bytes = 4;  // h from 0 to 3: h + 1 bytes of length follow
constexpr unsigned inline_length_bias = 4;  // h from 4 to 15: the length is h - 4

enum record_type : unsigned {
    control = 0,   // small values: the default character set, the entry count
    entry = 1,
    resource = 2,  // an embedded file (an image, a page)
    property = 3,  // a glossary property: 2-byte code, value
    end_of_data = 4,
    empty_record = 6,  // empty in every file seen
    entry_7 = 7,
    entry_10 = 10,
    wide_entry = 11,
    entry_13 = 13,
};

bool is_entry(unsigned type) {
    return type == entry || type == entry_7 || type == entry_10 || type == wide_entry ||
           type == entry_13;
}

// Type 0: the first byte says what the rest is.
constexpr uint8_t control_default_charset = 0x08;
constexpr uint8_t control_entry_count = 0x02;

// Type 3: property codes.
constexpr uint16_t property_title = 0x01;
constexpr uint16_t property_source_language = 0x07;
constexpr uint16_t property_target_language = 0x08;
constexpr uint16_t property_entry_count = 0x0c;
constexpr uint16_t property_flags = 0x11;
constexpr uint16_t property_source_charset = 0x1a;
constexpr uint16_t property_target_charset = 0x1b;
constexpr uint64_t flag_utf8 = 0x8000;  // every text of the file is UTF-8
constexpr std::size_t property_code_size = 2;

// Entries: the sizes of their length fields.
constexpr std::size_t headword_length_size = 1, definition_length_size = 2,
                      alternate_length_size = 1;
constexpr std::size_t wide_headword_length_size = 5, wide_count_size = 4,
                      wide_alternate_length_size = 4, wide_definition_length_size = 4;

// Within a definition: a 0x14 not followed by a space ends the text, and
// fields follow, each after a code byte.
constexpr char fields_mark = '\x14';
constexpr uint8_t field_part_of_speech = 0x02;  // 1 byte
constexpr uint8_t field_unknown_byte = 0x06;    // 1 byte
constexpr uint8_t field_unknown_pair = 0x07;    // 2 bytes
constexpr uint8_t field_unknown_data = 0x13;    // 1-byte length, data
constexpr uint8_t field_title = 0x18;           // 1-byte length, text
constexpr uint8_t field_unknown_text = 0x1a;    // 1-byte length, text
constexpr uint8_t field_title_html = 0x28;      // 2-byte length, text
constexpr uint8_t field_digits_first = 0x40;    // 0x40 to 0x4f: code - 0x3f bytes follow
constexpr uint8_t field_digits_last = 0x4f;
constexpr uint8_t field_short_text = 0x50;  // sub-code, 1-byte length, text
constexpr uint8_t field_long_text = 0x60;   // sub-code, 2-byte length, text
constexpr uint8_t subcode_transcription = 0x1b;

// Parts of speech from 0x30 on; "" where the code means nothing known.
constexpr uint8_t first_part_of_speech = 0x30;
constexpr std::string_view parts_of_speech[] = {
    "noun", "adjective", "verb", "adverb", "interjection", "pronoun", "preposition",
    "conjunction", "suffix", "prefix", "article", "", "abbreviation",
    // 0x3d to 0x42: nouns of a gender (Hebrew glossaries)
    "noun", "noun", "noun", "noun", "noun", "noun", "numeral", "participle"};

// Character set codes (properties 0x1a and 0x1b, control code 8) from 0x41.
constexpr uint8_t first_charset_code = 0x41;
constexpr std::string_view charset_names[] = {
    "CP1252", "CP1252", "CP1250", "CP1251", "CP932", "CP950", "CP936",
    "CP1257", "CP1253", "CP949",  "CP1254", "CP1255", "CP1256", "CP874"};

// The code page of each language code (properties 7 and 8), from 0.
constexpr uint16_t language_code_pages[] = {
    1252, 1252, 1252, 1252, 1252, 1252, 1252, 1251, 932,  950,  936,  1253, 949,  1254, 1255, 1256,
    874,  1252, 936,  950,  1250, 1252, 1251, 932,  1257, 1253, 949,  1254, 874,  1250, 1250, 1250,
    1257, 1257, 1252, 1250, 1250, 1250, 1252, 1256, 1250, 1252, 1250, 1252, 1252, 1252, 1252, 1252,
    1252, 1251, 1251, 1256, 1252, 1250, 1252, 1252, 1252, 1254, 1252, 1252, 1252, 1252};
static_assert(std::size(language_code_pages) == 0x3e);

constexpr std::string_view default_code_page = "CP1252";
constexpr std::string_view gbk_name = "CP936";  // <charset c=G>

// The body is inflated in pieces of this size; a record larger than
// max_raw_size is checked to be there and passed over, its first bytes kept.
constexpr std::size_t piece_size = 1 << 20;
constexpr std::size_t oversize_prefix = 1 << 16;

// Every word of an entry is handed on with the whole definition: an entry's
// words stop where their definitions would add up to more than this, so that
// a record of a million alternates cannot cost a million definitions.
constexpr uint64_t max_entry_output = 4 * max_raw_size;
// Up to this many words an entry's repeats are found by a linear search.
constexpr std::size_t few_words = 16;

uint64_t big_endian(std::string_view bytes) {
    uint64_t value = 0;
    for (const char c : bytes) value = (value << 8) | static_cast<unsigned char>(c);
    return value;
}

bool is_ascii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether text at `at` begins with `word`, ASCII case ignored.
bool starts_with_word(std::string_view text, std::size_t at, std::string_view word) {
    if (text.size() - at < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (lower(text[at + i]) != word[i]) return false;
    return true;
}

// --- Records ---------------------------------------------------------------------

struct record {
    unsigned type = 0;
    uint64_t number = 0;  // from 1, in the body's order
    uint64_t length = 0;  // as the record says; data holds all of it unless it is too large
    std::string_view data;
};

// The records of the inflated body, one at a time. A record's data stay
// valid until the next call.
class record_reader {
public:
    explicit record_reader(gzip_stream& body) : body_(body) {}

    // The next record, or false at the end of the body or its end record.
    // import_error for a record that the body ends inside.
    bool next(record& r) {
        if (skip_ > 0) pass_over();
        if (ended_ || !fill(1)) return false;
        const auto lead = static_cast<unsigned char>(buffer_[begin_]);
        r.type = lead & record_type_mask;
        r.number = ++number_;
        const unsigned h = lead >> record_size_shift;
        const std::size_t length_size = h < most_length_bytes ? h + 1 : 0;
        if (!fill(1 + length_size))
            fail("record " + std::to_string(r.number) + " is cut short by the end of its data");
        r.length = length_size > 0 ? big_endian(std::string_view(buffer_).substr(begin_ + 1,
                                                                                 length_size))
                                   : h - inline_length_bias;
        const std::size_t held =
            r.length > max_raw_size ? oversize_prefix : static_cast<std::size_t>(r.length);
        if (!fill(1 + length_size + held)) past_end(r);
        r.data = std::string_view(buffer_).substr(begin_ + 1 + length_size, held);
        consume(1 + length_size + held);
        skip_ = r.length - held;
        skipped_record_ = r;
        if (r.type == end_of_data) ended_ = true;
        return true;
    }

    void rewind() {
        body_.rewind();
        begin_ = end_ = 0;
        offset_ = number_ = skip_ = 0;
        body_ended_ = ended_ = false;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw import_error(body_.path() + ": " + what);
    }

    // Called once the body has ended: what is held is all there is.
    [[noreturn]] void past_end(const record& r) {
        const uint64_t size = offset_ + (end_ - begin_);
        fail("record " + std::to_string(r.number) + " (type " + std::to_string(r.type) + ") of " +
             std::to_string(r.length) + " bytes runs past the end of its data (" +
             std::to_string(size) + " bytes)");
    }

    std::size_t read_body(char* out, std::size_t size) {
        try {
            return body_.read(out, size);
        } catch (const input_error& e) {
            throw import_error(e.what());
        }
    }

    // Holds at least `want` bytes from begin_ on; false when the body ends first.
    bool fill(std::size_t want) {
        while (end_ - begin_ < want) {
            if (body_ended_) return false;
            if (buffer_.size() - end_ < piece_size && begin_ > 0) {
                std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
                end_ -= begin_;
                begin_ = 0;
            }
            if (buffer_.size() - end_ < piece_size) buffer_.resize(end_ + piece_size);
            const std::size_t got = read_body(buffer_.data() + end_, buffer_.size() - end_);
            if (got == 0) body_ended_ = true;
            end_ += got;
        }
        return true;
    }

    void consume(std::size_t count) {
        begin_ += count;
        offset_ += count;
    }

    // Inflates the rest of a record too large to hold and lets it go.
    void pass_over() {
        while (skip_ > 0) {
            if (begin_ == end_ && !fill(1)) past_end(skipped_record_);
            const auto count = static_cast<std::size_t>(std::min<uint64_t>(skip_, end_ - begin_));
            consume(count);
            skip_ -= count;
        }
    }

    gzip_stream& body_;
    std::string buffer_;  // bytes [begin_, end_) are inflated and not yet read
    std::size_t begin_ = 0, end_ = 0;
    uint64_t offset_ = 0;  // the body offset of buffer_[begin_]
    uint64_t number_ = 0;
    uint64_t skip_ = 0;  // bytes of the last record still to pass over
    record skipped_record_;
    bool body_ended_ = false, ended_ = false;
};

// --- Entries ---------------------------------------------------------------------

// Where an entry record keeps its parts. alternates: the bytes that hold
// them, `count` of them (narrow entries: as many as the bytes hold).
struct entry_parts {
    std::string_view headword, definition, alternates;
    bool wide = false;
    uint64_t count = 0;
};

class entry_layout {
public:
    entry_layout(const std::string& path, uint64_t number, std::string_view data)
        : path_(path), number_(number), data_(data) {}

    // The parts of a record held whole; import_error for a length that runs
    // past the record's end.
    entry_parts parts(bool wide) {
        entry_parts p;
        p.wide = wide;
        if (!wide) {
            p.headword = take(take_length(headword_length_size, "headword"), "headword");
            p.definition = take(take_length(definition_length_size, "definition"), "definition");
            p.alternates = data_.substr(at_);
            return p;
        }
        p.headword = take(take_length(wide_headword_length_size, "headword"), "headword");
        p.count = take_length(wide_count_size, "alternates");
        const std::size_t first = at_;
        for (uint64_t i = 0; i < p.count; ++i) {
            if (at_ == data_.size())
                fail("its " + std::to_string(p.count) + " alternates run past the end of its record (" +
                     std::to_string(data_.size()) + " bytes)");
            take(take_length(wide_alternate_length_size, "alternate"), "alternate");
        }
        p.alternates = data_.substr(first, at_ - first);
        p.definition = take(take_length(wide_definition_length_size, "definition"), "definition");
        return p;
    }

    // The headword of a record too large to hold, from the bytes kept of it.
    std::string_view headword(bool wide) {
        const std::size_t size = wide ? wide_headword_length_size : headword_length_size;
        if (data_.size() < size) return {};
        const uint64_t length = big_endian(data_.substr(0, size));
        return data_.substr(size, static_cast<std::size_t>(std::min<uint64_t>(length, data_.size())));
    }

    // Hands each alternate of the parts to `use`.
    template <typename Use>
    static void for_each_alternate(const entry_parts& p, Use use) {
        std::string_view rest = p.alternates;
        const std::size_t length_size = p.wide ? wide_alternate_length_size : alternate_length_size;
        while (rest.size() >= length_size) {
            const auto length = static_cast<std::size_t>(big_endian(rest.substr(0, length_size)));
            use(rest.substr(length_size, length));
            rest.remove_prefix(std::min(rest.size(), length_size + length));
        }
    }

    // Checks that the alternates of a narrow entry end with its record.
    void check_alternates(const entry_parts& p) {
        if (p.wide) return;
        at_ = data_.size() - p.alternates.size();
        for (uint64_t i = 1; at_ < data_.size(); ++i) {
            const std::string what = "alternate " + std::to_string(i);
            take(take_length(alternate_length_size, what), what);
        }
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw import_error(path_ + ": entry " + std::to_string(number_) + ": " + what);
    }

    [[noreturn]] void overrun(const std::string& part) const {
        fail("its " + part + " runs past the end of its record (" + std::to_string(data_.size()) +
             " bytes)");
    }

    uint64_t take_length(std::size_t size, const std::string& part) {
        if (data_.size() - at_ < size) overrun(part);
        const uint64_t length = big_endian(data_.substr(at_, size));
        at_ += size;
        return length;
    }

    std::string_view take(uint64_t length, const std::string& part) {
        if (data_.size() - at_ < length) overrun(part);
        const std::string_view bytes = data_.substr(at_, static_cast<std::size_t>(length));
        at_ += static_cast<std::size_t>(length);
        return bytes;
    }

    const std::string& path_;
    uint64_t number_;
    std::string_view data_;
    std::size_t at_ = 0;
};

// The definition's text, before its fields.
std::size_t text_end(std::string_view definition) {
    for (std::size_t i = definition.find(fields_mark); i != std::string_view::npos;
         i = definition.find(fields_mark, i + 1)) {
        if (i + 1 < definition.size() && definition[i + 1] != ' ') return i;
    }
    return definition.size();
}

// What the fields after a definition's text say.
struct definition_fields {
    std::string_view part_of_speech;  // its name, or ""
    std::string_view transcription;   // raw, in the definitions' set
    bool unknown_part_of_speech = false;
    bool unknown_field = false;  // a code not known: the fields after it are left
    bool cut_short = false;      // a field that runs past the definition's end
};

definition_fields read_fields(std::string_view fields) {
    definition_fields f;
    std::size_t at = 0;
    const auto bytes = [&](std::size_t count) -> std::optional<std::string_view> {
        if (fields.size() - at < count) {
            f.cut_short = true;
            return std::nullopt;
        }
        const std::string_view b = fields.substr(at, count);
        at += count;
        return b;
    };
    // A length of `size` bytes, then that many bytes.
    const auto counted = [&](std::size_t size) -> std::optional<std::string_view> {
        const auto length = bytes(size);
        if (!length) return std::nullopt;
        return bytes(static_cast<std::size_t>(big_endian(*length)));
    };
    while (at < fields.size()) {
        const auto code = static_cast<uint8_t>(fields[at++]);
        std::optional<std::string_view> value;
        if (code == field_part_of_speech) {
            value = bytes(1);
            if (!value) break;
            const auto pos = static_cast<uint8_t>((*value)[0]);
            const std::size_t index = pos >= first_part_of_speech
                                          ? std::size_t{pos} - first_part_of_speech
                                          : std::size(parts_of_speech);
            if (index < std::size(parts_of_speech) && !parts_of_speech[index].empty())
                f.part_of_speech = parts_of_speech[index];
            else
                f.unknown_part_of_speech = true;
        } else if (code == field_unknown_byte) {
            value = bytes(1);
        } else if (code == field_unknown_pair) {
            value = bytes(2);
        } else if (code == field_unknown_data || code == field_title ||
                   code == field_unknown_text) {
            value = counted(1);
        } else if (code == field_title_html) {
            value = counted(2);
        } else if (code >= field_digits_first && code <= field_digits_last) {
            value = bytes(code - field_digits_first + 1);
        } else if (code == field_short_text || code == field_long_text) {
            const auto subcode = bytes(1);
            if (!subcode) break;
            value = counted(code == field_short_text ? 1 : 2);
            if (value && static_cast<uint8_t>((*subcode)[0]) == subcode_transcription)
                f.transcription = *value;
        } else {
            f.unknown_field = true;
            break;
        }
        if (!value) break;
    }
    return f;
}

// --- Text ------------------------------------------------------------------------

// How a side of the glossary (its words, or its definitions) is read.
struct text_side {
    std::string charset;  // "UTF-8", or the code page
    std::string why;      // what named it, for the summary
    charset_decoder* decoder = nullptr;  // the code page; for a UTF-8 side, the one for text that is not
    // What the texts beyond ASCII show, counted on the first reading: UTF-8
    // with sure_utf8 characters or more beyond ASCII, UTF-8 with fewer
    // (which text in a code page may be by chance), not UTF-8.
    uint64_t utf8_texts = 0, weak_texts = 0, other_texts = 0;
    // Whether such a text of a character or two is read as UTF-8: where most
    // texts beyond ASCII are UTF-8, those of both sides when they share a set.
    bool weak_is_utf8 = false;
    // What the second reading found: texts read as UTF-8 in a side named a
    // code page, texts in it that hold UTF-8 among the code page's bytes,
    // texts not UTF-8 in a side named UTF-8.
    uint64_t read_as_utf8 = 0, mixed = 0, not_utf8 = 0;
    bool single_byte = false;  // a code page of one byte a character, which any byte may end
    bool utf8() const { return charset == "UTF-8"; }
};

// Text in a code page is UTF-8 by chance now and then, for a character or two
// (Persian "سگ" in CP1256 is D3 90, which is U+04D0 in UTF-8; so is a Chinese
// character in GBK in one case of twelve), hardly ever for three.
constexpr std::size_t sure_utf8 = 3;

// Whether text beyond ASCII is UTF-8, and how many characters beyond ASCII it holds.
struct utf8_shape {
    bool valid = true;
    std::size_t wide_characters = 0;
};

utf8_shape shape_of(std::string_view text) {
    utf8_shape s;
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        next_character(text.substr(i), length);
        if (length == 0) {
            s.valid = false;
            return s;
        }
        ++s.wide_characters;
        i += length;
    }
    return s;
}

// Counts what a text of a side shows (first reading).
void weigh(std::string_view text, text_side& side) {
    if (is_ascii(text)) return;
    const utf8_shape s = shape_of(text);
    if (!s.valid)
        ++side.other_texts;
    else if (s.wide_characters >= sure_utf8)
        ++side.utf8_texts;
    else
        ++side.weak_texts;
}

// HTML's character references that may go without their ';' ("&aring.",
// "&quotflux&quot"): the Latin-1 names and XML's four. Gives the bytes the
// reference takes in text[at...] (a '&'), its UTF-8 appended; 0 when none.
std::size_t legacy_entity(std::string_view text, std::size_t at, std::string& out) {
    constexpr std::size_t longest = 6;  // "middot", "frac14"
    std::size_t end = at + 1;
    while (end < text.size() && end - at - 1 < longest + 1 &&
           ((text[end] >= 'a' && text[end] <= 'z') || (text[end] >= 'A' && text[end] <= 'Z') ||
            (text[end] >= '0' && text[end] <= '9')))
        ++end;
    char reference[longest + 3];
    for (std::size_t length = std::min(end - at - 1, longest); length >= 2; --length) {
        reference[0] = '&';
        std::memcpy(reference + 1, text.data() + at + 1, length);
        reference[length + 1] = ';';
        const std::string_view name(reference + 1, length);
        if (name == "apos") continue;
        const std::size_t old = out.size();
        if (decode_entity(std::string_view(reference, length + 2), 0, out) == 0) continue;
        std::size_t size = 0;
        if (next_character(std::string_view(out).substr(old), size) <= 0xFF) return length + 1;
        out.resize(old);
    }
    return 0;
}

class babylon_reader {
public:
    babylon_reader(reader_input& input, entry_sink& sink) : path_(input.path), sink_(sink) {
        input_charset_ = input.options.input_charset;
    }

    std::string read() {
        std::unique_ptr<gzip_stream> body;
        try {
            body = std::make_unique<gzip_stream>(path_, gzip_offset());
        } catch (const input_error& e) {
            throw import_error(e.what());
        }
        record_reader records(*body);
        describe(records);
        settle_sides();
        std::string title;
        if (!title_.empty()) word_text(decoded(title_, words_), title, false);
        records.rewind();
        read_entries(records);
        sink_.note("input", summary());
        return title;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw import_error(path_ + ": " + what);
    }

    // Checks the header; gives where the gzip data begin.
    uint64_t gzip_offset() const {
        input_file file = [&] {
            try {
                return input_file(path_);
            } catch (const input_error& e) {
                throw import_error(e.what());
            }
        }();
        char header[header_size];
        const std::size_t got = file.read_at(0, header, header_size);
        const std::string_view start(header, got);
        if (!looks_like_babylon(start, true))
            throw import_error(path_ +
                               " is not a Babylon glossary: it does not begin with 12 34 00 01 "
                               "or 12 34 00 02 and the offset of its data");
        const uint64_t offset = big_endian(start.substr(signature_size, 2));
        if (offset >= file.size())
            fail("its header puts the gzip data at offset " + std::to_string(offset) +
                 ", past the end of the file (" + std::to_string(file.size()) + " bytes)");
        return offset;
    }

    // The first reading: the glossary's description, and every record's
    // framing and layout checked.
    void describe(record_reader& records) {
        record r;
        uint64_t entries = 0;
        while (records.next(r)) {
            if (r.type == control && !r.data.empty()) {
                const auto code = static_cast<uint8_t>(r.data[0]);
                if (code == control_default_charset)
                    default_charset_ = charset_code(r.data.substr(1));
                else if (code == control_entry_count)
                    announced_ = big_endian(r.data.substr(1, 8));
            } else if (r.type == property && r.data.size() >= property_code_size) {
                take_property(static_cast<uint16_t>(big_endian(r.data.substr(0, 2))),
                              r.data.substr(property_code_size));
            } else if (is_entry(r.type) && r.length > 0) {
                ++entries;
                if (r.data.size() < r.length) continue;  // too large: passed over
                entry_layout layout(path_, entries, r.data);
                const entry_parts p = layout.parts(r.type == wide_entry);
                layout.check_alternates(p);
                weigh(p.headword, words_);
                entry_layout::for_each_alternate(p, [&](std::string_view a) { weigh(a, words_); });
                const std::size_t end = text_end(p.definition);
                weigh(p.definition.substr(0, end), definitions_);
                if (end < p.definition.size())
                    weigh(read_fields(p.definition.substr(end + 1)).transcription, definitions_);
            }
        }
        entries_ = entries;
    }

    void take_property(uint16_t code, std::string_view value) {
        switch (code) {
            case property_title:
                if (title_.empty()) title_ = value.substr(0, value.find('\0'));
                break;
            case property_source_language:
                source_language_ = language_code(value);
                break;
            case property_target_language:
                target_language_ = language_code(value);
                break;
            case property_entry_count:
                announced_ = big_endian(value.substr(0, 8));
                break;
            case property_flags:
                flags_ = big_endian(value.substr(0, 8));
                break;
            case property_source_charset:
                source_charset_ = charset_code(value);
                break;
            case property_target_charset:
                target_charset_ = charset_code(value);
                break;
            default:
                break;
        }
    }

    // The code page a charset code names; nothing for 0 (not set) and for a
    // code that names none.
    static std::optional<std::string> charset_of(std::optional<uint8_t> code) {
        if (!code || *code < first_charset_code) return std::nullopt;
        const std::size_t index = std::size_t{*code} - first_charset_code;
        if (index >= std::size(charset_names)) return std::nullopt;
        return std::string(charset_names[index]);
    }

    static std::optional<std::string> language_code_page(std::optional<uint64_t> language) {
        if (!language || *language >= std::size(language_code_pages)) return std::nullopt;
        return "CP" + std::to_string(language_code_pages[*language]);
    }

    // A charset code as read: nothing for 0 (not set); a code that names no
    // set is counted and left out.
    std::optional<uint8_t> charset_code(std::string_view value) {
        if (value.empty() || value[0] == 0) return std::nullopt;
        const auto code = static_cast<uint8_t>(value[0]);
        if (charset_of(code)) return code;
        ++unknown_charset_codes_;
        return std::nullopt;
    }

    std::optional<uint64_t> language_code(std::string_view value) {
        const uint64_t language = big_endian(value.substr(0, 8));
        if (language_code_page(language)) return language;
        ++unknown_charset_codes_;
        return std::nullopt;
    }

    void settle(text_side& side, std::optional<uint8_t> charset, std::optional<uint64_t> language) {
        std::string fallback;  // the code page, also for text that is not UTF-8 in a UTF-8 side
        std::string why;
        if (auto named = charset_of(charset)) {
            fallback = *named;
            why = "its charset field";
        } else if (auto page = language_code_page(language)) {
            fallback = *page;
            why = "its language";
        } else if (auto preset = charset_of(default_charset_)) {
            fallback = *preset;
            why = "its default charset";
        } else {
            fallback = default_code_page;
            why = "named nowhere in the file";
        }
        if (!input_charset_.empty()) {
            side.charset = input_charset_;
            side.why = "--input-charset";
        } else if (flags_ && (*flags_ & flag_utf8)) {
            side.charset = "UTF-8";
            side.why = "its UTF-8 flag";
        } else {
            side.charset = fallback;
            side.why = why;
        }
        if (is_utf8_name(side.charset)) side.charset = "UTF-8";
        side.decoder = decoder(side.utf8() ? fallback : side.charset);
        side.single_byte = side.charset.rfind("CP12", 0) == 0 || side.charset == "CP874";
    }

    static bool is_utf8_name(const std::string& name) {
        std::string upper;
        for (const char c : name)
            if (c != '-' && c != '_') upper += c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
        return upper == "UTF8";
    }

    void settle_sides() {
        settle(words_, source_charset_, source_language_);
        settle(definitions_, target_charset_, target_language_);
        const bool shared = words_.charset == definitions_.charset;
        for (text_side* side : {&words_, &definitions_}) {
            const text_side& other = side == &words_ ? definitions_ : words_;
            uint64_t utf8 = side->utf8_texts + side->weak_texts, not_utf8 = side->other_texts;
            if (shared) {
                utf8 += other.utf8_texts + other.weak_texts;
                not_utf8 += other.other_texts;
            }
            side->weak_is_utf8 = utf8 > not_utf8;
        }
    }

    // The decoder for a set, opened once.
    charset_decoder* decoder(const std::string& name) {
        for (const auto& d : decoders_)
            if (d->name() == name) return d.get();
        std::string problem;
        auto opened = charset_decoder::open(name, problem);
        if (!opened) {
            if (!input_charset_.empty()) throw import_error(problem);
            fail("its text is in " + name + ", which this system cannot read (" + problem + ")");
        }
        decoders_.push_back(std::move(opened));
        return decoders_.back().get();
    }

    // --- The second reading --------------------------------------------------------

    void read_entries(record_reader& records) {
        record r;
        while (records.next(r)) {
            if (!is_entry(r.type)) {
                if (r.type != control && r.type != resource && r.type != property &&
                    r.type != end_of_data && r.type != empty_record)
                    sink_.skipped("records of unknown type", place("record", r.number), 0);
                continue;
            }
            if (r.length == 0) {
                sink_.skipped("empty entry records", place("record", r.number), 0);
                continue;
            }
            const uint64_t entries = ++entry_;
            entry_layout layout(path_, entries, r.data);
            const bool wide = r.type == wide_entry;
            if (r.data.size() < r.length) {
                word_text(decoded(layout.headword(wide), words_), word_, true);
                sink_.too_large(word_, r.length);
                continue;
            }
            const entry_parts p = layout.parts(wide);
            translation(p.definition);
            words_of(p);
            for (const std::string& word : words_found_)
                sink_.add(raw_entry{word, definition_, markup::html});
        }
        entry_ = 0;
    }

    // Where the entry being read is, for the summary's counts.
    std::string where() const { return entry_ > 0 ? place("entry", entry_) : path_; }

    std::string place(const char* what, uint64_t number) const {
        return path_ + " " + what + " " + std::to_string(number);
    }

    // The headword and the alternates that differ from it and each other,
    // as many as the definition may be repeated for.
    void words_of(const entry_parts& p) {
        words_found_.clear();
        seen_.clear();
        const uint64_t most = std::max<uint64_t>(1, max_entry_output / (definition_.size() + 1));
        bool cut = false;
        const auto add = [&](std::string_view raw) {
            word_text(decoded(raw, words_), word_, true);
            if (word_.empty()) return;
            const bool repeat =
                words_found_.size() < few_words
                    ? std::find(words_found_.begin(), words_found_.end(), word_) !=
                          words_found_.end()
                    : !seen_.insert(word_).second;
            if (repeat) return;
            if (words_found_.size() == most) {
                cut = true;
                return;
            }
            words_found_.push_back(word_);
            if (words_found_.size() == few_words) seen_.insert(words_found_.begin(), words_found_.end());
        };
        add(p.headword);
        entry_layout::for_each_alternate(p, add);
        if (cut)
            sink_.damaged("alternates left out where their definition would repeat past " +
                              std::to_string(max_entry_output) + " bytes",
                          where(), 0);
        if (words_found_.empty()) words_found_.emplace_back();  // no word: dropped and counted
    }

    // The translation: part of speech and transcription on a line before
    // the text, as HTML.
    void translation(std::string_view definition) {
        const std::size_t end = text_end(definition);
        definition_.clear();
        if (end < definition.size()) {
            const definition_fields f = read_fields(definition.substr(end + 1));
            if (f.unknown_field)
                sink_.damaged("fields of unknown code after definitions", where(), 0);
            if (f.cut_short) sink_.damaged("fields after definitions cut short", where(), 0);
            if (f.unknown_part_of_speech)
                sink_.damaged("parts of speech of unknown code", where(), 0);
            definition_ += f.part_of_speech;
            if (!f.transcription.empty()) {
                if (!definition_.empty()) definition_ += ' ';
                definition_ += '[';
                html_text(decoded(f.transcription, definitions_), definition_);
                definition_ += ']';
            }
            if (!definition_.empty()) definition_ += '\n';
        }
        html_text(decoded(definition.substr(0, end), definitions_), definition_);
    }

    // Babylon text made UTF-8 in decoded_: <charset c=X> tags applied, the
    // runs between them read in the side's set (or as UTF-8, where they are).
    std::string_view decoded(std::string_view raw, text_side& side) {
        decoded_.clear();
        if (raw.find('<') == std::string_view::npos && is_ascii(raw)) return raw;
        enum class mode { own, utf8, code_points, gbk, source };
        mode modes[8];
        std::size_t depth = 0;
        const auto current = [&] { return depth == 0 ? mode::own : modes[depth - 1]; };
        std::size_t run = 0;
        const auto hand_on = [&](std::size_t to) {
            const std::string_view text = raw.substr(run, to - run);
            switch (current()) {
                case mode::own:
                    decode_run(text, side);
                    break;
                case mode::source:
                    decode_run(text, words_);
                    break;
                case mode::utf8:
                    if (shape_of(text).valid)
                        decoded_ += text;
                    else
                        decode_run(text, side);
                    break;
                case mode::gbk:
                    decoder(std::string(gbk_name))->decode(text, decoded_, false);
                    break;
                case mode::code_points:
                    code_points(text, side);
                    break;
            }
        };
        for (std::size_t i = raw.find('<'); i != std::string_view::npos; i = raw.find('<', i)) {
            if (starts_with_word(raw, i, "</charset>")) {
                hand_on(i);
                if (depth > 0) --depth;
                i += 10;
                run = i;
                continue;
            }
            std::size_t length = 0;
            const char c = charset_tag(raw, i, length);
            if (length == 0) {
                ++i;
                continue;
            }
            hand_on(i);
            mode m = current();
            if (c == 'u')
                m = mode::utf8;
            else if (c == 't')
                m = mode::code_points;
            else if (c == 'g')
                m = mode::gbk;
            else if (c == 'k' || c == 'e')
                m = mode::source;
            else
                sink_.damaged("<charset> tags naming no set", where(), 0);
            if (depth < std::size(modes))
                modes[depth++] = m;
            else
                sink_.damaged("<charset> tags nested too deep", where(), 0);
            i += length;
            run = i;
        }
        hand_on(raw.size());
        return decoded_;
    }

    // The tag <charset c=X> at text[at]: X in lower case and the tag's length;
    // length 0 when there is none.
    static char charset_tag(std::string_view text, std::size_t at, std::size_t& length) {
        length = 0;
        if (!starts_with_word(text, at, "<charset")) return 0;
        std::size_t i = at + 8;
        const auto blanks = [&] {
            while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
        };
        blanks();
        if (i >= text.size() || lower(text[i]) != 'c') return 0;
        ++i;
        blanks();
        if (i >= text.size() || text[i] != '=') return 0;
        ++i;
        blanks();
        const char quote = i < text.size() && (text[i] == '"' || text[i] == '\'') ? text[i] : 0;
        if (quote) ++i;
        if (i >= text.size()) return 0;
        const char c = lower(text[i++]);
        if (quote) {
            if (i >= text.size() || text[i] != quote) return 0;
            ++i;
        }
        blanks();
        if (i >= text.size() || text[i] != '>') return 0;
        length = i + 1 - at;
        return c;
    }

    // A run of text in a side's set, or UTF-8 where it is that.
    void decode_run(std::string_view text, text_side& side) {
        if (is_ascii(text)) {
            decoded_ += text;
            return;
        }
        const utf8_shape s = shape_of(text);
        if (side.utf8()) {
            if (s.valid) {
                decoded_ += text;
                return;
            }
            ++side.not_utf8;
        } else if (s.valid && (s.wide_characters >= sure_utf8 || side.weak_is_utf8)) {
            ++side.read_as_utf8;
            decoded_ += text;
            return;
        } else if (!s.valid && side.single_byte && utf8_inside(text, side)) {
            ++side.mixed;
            return;
        }
        side.decoder->decode(text, decoded_, false);
    }

    // Text in a one-byte code page with UTF-8 inside, where a builder pasted
    // it in: each stretch between bytes that are no UTF-8 that holds
    // sure_utf8 characters or more beyond ASCII, all of one block of 256
    // code points (one script; chance sequences scatter), is read as UTF-8,
    // the rest in the code page. False, with nothing appended, when there
    // is no such stretch.
    bool utf8_inside(std::string_view text, text_side& side) {
        std::size_t page_start = 0;  // text from here on not yet appended
        std::size_t stretch = 0, wide = 0;
        char32_t block = 0;
        bool one_block = true, found = false;
        const auto close = [&](std::size_t end) {
            if (wide >= sure_utf8 && one_block) {
                side.decoder->decode(text.substr(page_start, stretch - page_start), decoded_, false);
                decoded_ += text.substr(stretch, end - stretch);
                page_start = end;
                found = true;
            }
        };
        for (std::size_t i = 0; i < text.size();) {
            if (static_cast<unsigned char>(text[i]) < 0x80) {
                ++i;
                continue;
            }
            std::size_t length = 0;
            const char32_t c = next_character(text.substr(i), length);
            if (length == 0) {
                close(i);
                stretch = ++i;
                wide = 0;
                one_block = true;
                continue;
            }
            if (wide++ == 0)
                block = c >> 8;
            else if (c >> 8 != block)
                one_block = false;
            i += length;
        }
        close(text.size());
        if (found) side.decoder->decode(text.substr(page_start), decoded_, false);
        return found;
    }

    // <charset c=T>: hexadecimal code points, each ended by ';'.
    void code_points(std::string_view text, text_side& side) {
        std::size_t i = 0;
        while (i < text.size()) {
            uint32_t value = 0;
            std::size_t digits = 0;
            for (; i + digits < text.size() && digits < 8; ++digits) {
                const char d = lower(text[i + digits]);
                if (d >= '0' && d <= '9')
                    value = value * 16 + static_cast<uint32_t>(d - '0');
                else if (d >= 'a' && d <= 'f')
                    value = value * 16 + static_cast<uint32_t>(d - 'a' + 10);
                else
                    break;
            }
            if (digits > 0 && i + digits < text.size() && text[i + digits] == ';' &&
                append_utf8(value, decoded_)) {
                i += digits + 1;
            } else if (text[i] == ' ' || text[i] == '\r' || text[i] == '\n') {
                ++i;
            } else {
                sink_.damaged("<charset c=T> text that is no code point", where(), 0);
                decode_run(text.substr(i), side);
                return;
            }
        }
    }

    // A word made plain text in out: tags left out, character references
    // decoded, control bytes gone, blanks made single spaces and trimmed; with
    // homographs, "$1$" indexes and "$$" padding left out too.
    void word_text(std::string_view text, std::string& out, bool homographs) {
        out.clear();
        bool tags_end = false;  // a tag ran into the end: what follows is text
        for (std::size_t i = 0; i < text.size();) {
            const char c = text[i];
            if (c == '<') {
                std::size_t length = comment_length(text, i);
                if (length == 0 && !tags_end) {
                    if (const auto t = parse_tag(text, i, markup::html, &tags_end))
                        length = t->length;
                }
                if (length > 0) {
                    i += length;
                    continue;
                }
            } else if (c == '&') {
                const std::size_t length = entity(text, i, out);
                if (length > 0) {
                    i += length;
                    continue;
                }
            } else if (c == '$' && homographs) {
                std::size_t end = i + 1;
                if (end < text.size() && text[end] == '$') {
                    while (end < text.size() && text[end] == '$') ++end;
                    i = end;
                    continue;
                }
                while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
                if (end < text.size() && text[end] == '$') {
                    i = end + 1;
                    continue;
                }
            } else if (static_cast<unsigned char>(c) <= ' ' || c == '\x7F') {
                if ((c == ' ' || c == '\t' || c == '\n' || c == '\r') && !out.empty() &&
                    out.back() != ' ')
                    out += ' ';
                ++i;
                continue;
            }
            out += c;
            ++i;
        }
        while (!out.empty() && out.back() == ' ') out.pop_back();
    }

    std::size_t entity(std::string_view text, std::size_t at, std::string& out) {
        const std::size_t length = decode_entity(text, at, out);
        return length > 0 ? length : legacy_entity(text, at, out);
    }

    // Definition HTML into out: control bytes dropped (the 0x1e and 0x1f
    // around resource names among them), references without their ';'
    // completed, so that the clean-up reads them.
    void html_text(std::string_view html, std::string& out) {
        std::size_t run = 0;
        for (std::size_t i = 0; i < html.size(); ++i) {
            const auto c = static_cast<unsigned char>(html[i]);
            if (c >= ' ' ? c != '&' : c == '\t' || c == '\n' || c == '\r') continue;
            out.append(html, run, i - run);
            run = i + 1;
            if (c != '&') continue;
            if (decode_entity(html, i, scratch_) == 0) {
                scratch_.clear();
                const std::size_t length = legacy_entity(html, i, scratch_);
                if (length > 0) {
                    out.append(html, i, length);
                    out += ';';
                    i += length - 1;
                    run = i + 1;
                    scratch_.clear();
                    continue;
                }
            }
            scratch_.clear();
            out += '&';
        }
        out.append(html, run, html.size() - run);
    }

    // --- The summary ---------------------------------------------------------------

    std::string summary() const {
        std::string s;
        if (words_.charset == definitions_.charset && words_.why == definitions_.why)
            s = "read as " + words_.charset + " (" + words_.why + ")";
        else
            s = "words read as " + words_.charset + " (" + words_.why + "), translations as " +
                definitions_.charset + " (" + definitions_.why + ")";
        for (const text_side* side : {&words_, &definitions_}) {
            const char* what = side == &words_ ? "words" : "translations";
            if (side->read_as_utf8 > 0)
                s += "; " + std::to_string(side->read_as_utf8) + " texts of the " + what +
                     " in UTF-8 though " + side->charset + " is named, read as UTF-8";
            if (side->mixed > 0)
                s += "; " + std::to_string(side->mixed) + " texts of the " + what + " in " +
                     side->charset + " with UTF-8 inside, each part read as it is";
            if (side->not_utf8 > 0)
                s += "; " + std::to_string(side->not_utf8) + " texts of the " + what +
                     " not in UTF-8, read as " + side->decoder->name();
        }
        for (const auto& d : decoders_)
            if (d->invalid() > 0)
                s += "; " + std::to_string(d->invalid()) + " bytes that are no character of " +
                     d->name() + " read as U+FFFD";
        if (unknown_charset_codes_ > 0)
            s += "; " + std::to_string(unknown_charset_codes_) +
                 " charset or language codes that name no set";
        if (announced_ && *announced_ != entries_)
            s += "; " + std::to_string(entries_) + " entries where the file announces " +
                 std::to_string(*announced_);
        return s;
    }

    const std::string& path_;
    entry_sink& sink_;
    std::string input_charset_;

    // What the first reading found.
    std::string title_;
    std::optional<uint8_t> default_charset_, source_charset_, target_charset_;
    std::optional<uint64_t> source_language_, target_language_, flags_, announced_;
    uint64_t entries_ = 0;
    uint64_t unknown_charset_codes_ = 0;

    text_side words_, definitions_;
    std::vector<std::unique_ptr<charset_decoder>> decoders_;

    // Reused from entry to entry.
    uint64_t entry_ = 0;  // the entry being read, from 1; 0 outside the entries
    std::string decoded_, word_, definition_, scratch_;
    std::vector<std::string> words_found_;
    std::unordered_set<std::string> seen_;  // words_found_, once it holds few_words
};

}  // namespace

std::string read_babylon(reader_input& input, entry_sink& sink) {
    return babylon_reader(input, sink).read();
}

bool looks_like_babylon(std::string_view sample, bool) {
    if (sample.size() < header_size || sample.substr(0, signature_start.size()) != signature_start)
        return false;
    const auto version = static_cast<unsigned char>(sample[signature_start.size()]);
    if (std::find(std::begin(signature_versions), std::end(signature_versions), version) ==
        std::end(signature_versions))
        return false;
    return big_endian(sample.substr(signature_size, 2)) >= header_size;
}

}  // namespace lexaro::import
