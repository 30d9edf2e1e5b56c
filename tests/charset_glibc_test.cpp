// The tables that the handheld's sets are written from, against glibc's
// iconv itself (Linux only): every character each set writes, as iconv
// writes it, with the characters that the Windows code pages read from the
// Japanese and Chinese sets' bytes, and everything else transliterated, in
// its compatibility form, left out or '?' as the sets have them; EUC-JP read
// as iconv reads it, byte sequence by byte sequence.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <map>
#include <string_view>
#include <vector>

#include "common/charset.h"
#include "common/unicode_forms.h"

namespace lexaro {
namespace {

std::string utf8_of(char32_t c) {
    std::string text;
    if (c < 0x80) {
        text.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        text.push_back(static_cast<char>(0xC0 | c >> 6));
        text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        text.push_back(static_cast<char>(0xE0 | c >> 12));
        text.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        text.push_back(static_cast<char>(0xF0 | c >> 18));
        text.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    return text;
}

class glibc_converter {
public:
    glibc_converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~glibc_converter() {
        if (ok()) iconv_close(handle_);
    }
    bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

    // The text converted whole, or false where iconv stops or counts an
    // irreversible conversion.
    bool exactly(const std::string& in, std::string& out) {
        char* from = const_cast<char*>(in.data());
        std::size_t from_left = in.size();
        char buffer[64];
        char* to = buffer;
        std::size_t to_left = sizeof buffer;
        const std::size_t result = iconv(handle_, &from, &from_left, &to, &to_left);
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        out.assign(buffer, to);
        return result == 0;
    }

    // Bytes read as lexaro reads them through iconv: a byte skipped, and
    // U+FFFD written, where iconv finds no character.
    std::string read(std::string_view in) {
        std::string out;
        char* from = const_cast<char*>(in.data());
        std::size_t from_left = in.size();
        while (from_left > 0) {
            char buffer[256];
            char* to = buffer;
            std::size_t to_left = sizeof buffer;
            const std::size_t result = iconv(handle_, &from, &from_left, &to, &to_left);
            out.append(buffer, to);
            if (result != static_cast<std::size_t>(-1)) break;
            if (errno == E2BIG) continue;
            out.append(replacement_character);
            ++from;
            --from_left;
        }
        iconv(handle_, nullptr, nullptr, nullptr, nullptr);
        return out;
    }

private:
    iconv_t handle_;
};

bool holds_source_bytes(const std::string& bytes) {
    return bytes.find_first_of("$\n\r\x1A") != std::string::npos;
}

// The characters of the handheld's sets, as glibc writes them, and the
// characters of their Windows code pages that these write with bytes of the
// set where the set has another character there.
class glibc_set {
public:
    glibc_set(const char* name, const char* windows)
        : to_set_(name, "UTF-8"), from_set_("UTF-8", name),
          to_windows_(windows != nullptr ? windows : name, "UTF-8"),
          from_windows_("UTF-8", windows != nullptr ? windows : name), windows_(windows) {
        // The characters that composing makes of one the set writes.
        std::string bytes, composed, lacking;
        std::u32string work;
        for (char32_t c = 0x80; ok() && c < 0x10000; ++c) {
            if ((c >= 0xD800 && c <= 0xDFFF) || !to_set_.exactly(utf8_of(c), bytes)) continue;
            compose(utf8_of(c), composed, work);
            std::size_t length = 0;
            const char32_t d = next_character(composed, length);
            if (length == composed.size() && d != c && !to_set_.exactly(composed, lacking))
                composed_forms_[d] = bytes;
        }
    }
    bool ok() const { return to_set_.ok() && from_set_.ok() && to_windows_.ok() && from_windows_.ok(); }

    // The bytes of one character past ASCII: glibc's, else the Windows
    // page's bytes for it where the set reads them as a character that it
    // writes with those bytes and the page reads them back as this one.
    bool writes(char32_t c, std::string& bytes) {
        const std::string text = utf8_of(c);
        if (to_set_.exactly(text, bytes)) return !holds_source_bytes(bytes);
        if (const auto found = composed_forms_.find(c); found != composed_forms_.end()) {
            bytes = found->second;
            return true;
        }
        std::string in_set, back, read;
        return windows_ != nullptr && to_windows_.exactly(text, bytes) &&
               from_set_.exactly(bytes, in_set) && to_set_.exactly(in_set, back) &&
               back == bytes && from_windows_.exactly(bytes, read) && read == text;
    }
    bool windows_variant(char32_t c, std::string& bytes) {
        std::string own;
        return windows_ != nullptr && !to_set_.exactly(utf8_of(c), own) &&
               composed_forms_.count(c) == 0 && writes(c, bytes);
    }

    // Text that the set writes whole, character by character.
    bool writes(std::string_view text, std::string& bytes) {
        bytes.clear();
        for (std::size_t i = 0; i < text.size();) {
            std::size_t length = 0;
            const char32_t c = next_character(text.substr(i), length);
            std::string one;
            if (length == 0 || (c >= 0x80 && !writes(c, one))) return false;
            bytes += c < 0x80 ? std::string(1, static_cast<char>(c)) : one;
            i += length;
        }
        return true;
    }

private:
    glibc_converter to_set_, from_set_, to_windows_, from_windows_;
    const char* windows_;
    std::map<char32_t, std::string> composed_forms_;
};

struct handheld_set {
    const char* name;
    const char* windows;  // the code page that may add characters, or null
};
constexpr handheld_set handheld_sets[] = {
    {"CP1250", nullptr}, {"CP1251", nullptr}, {"CP1252", nullptr},   {"CP1253", nullptr},
    {"CP1254", nullptr}, {"CP1255", nullptr}, {"CP1256", nullptr},   {"CP1257", nullptr},
    {"CP1258", nullptr}, {"KOI8-R", nullptr}, {"SHIFT_JIS", "CP932"}, {"BIG5", "CP950"},
    {"GB2312", "CP936"},
};

// What the encoder must write for text, with glibc (and the Windows page) as
// the judge of what the set holds: the text composed, written whole where
// the set has every character; else character by character, each as it is,
// else its transliteration, else its compatibility form, else nothing for a
// combining mark, else '?'.
std::string expected_bytes(glibc_set& set, const std::string& text, uint64_t& changed) {
    std::string composed, bytes, out;
    std::u32string work;
    compose(text, composed, work);
    if (set.writes(composed, bytes)) return bytes;
    for (std::size_t i = 0; i < composed.size();) {
        std::size_t length = 0;
        const char32_t c = next_character(std::string_view(composed).substr(i), length);
        i += length;
        const std::string_view instead = transliteration(c);
        const std::string_view compatible = compatibility_form(c);
        if (set.writes(std::string_view(utf8_of(c)), bytes)) {
            out += bytes;
            continue;
        }
        ++changed;
        if ((!instead.empty() && set.writes(instead, bytes)) ||
            (!compatible.empty() && set.writes(compatible, bytes) && !holds_source_bytes(bytes)))
            out += bytes;
        else if (!is_combining_mark(c))
            out += '?';
    }
    return out;
}

TEST(CharsetsAgainstGlibc, EveryCharacterIsWrittenAsIconvWritesIt) {
    for (const handheld_set& h : handheld_sets) {
        std::string problem;
        auto encoder = charset_encoder::open(h.name, problem);
        glibc_set glibc(h.name, h.windows);
        ASSERT_TRUE(encoder && glibc.ok()) << h.name << ": " << problem;
        uint64_t exact = 0, differing = 0;
        for (char32_t c = 1; c <= 0x10FFFF; c += c < 0x10000 ? 1 : 4099) {
            if (c >= 0xD800 && c <= 0xDFFF) continue;
            const std::string text = utf8_of(c);
            uint64_t expected_changes = 0;
            const std::string expected = expected_bytes(glibc, text, expected_changes);
            exact += c >= 0x80 && expected_changes == 0;
            const uint64_t changed = encoder->transliterated() + encoder->replaced();
            std::string out;
            encoder->encode(text, out);
            if (out != expected ||
                encoder->transliterated() + encoder->replaced() - changed != expected_changes) {
                if (++differing <= 10)
                    ADD_FAILURE() << h.name << " U+" << std::hex << static_cast<uint32_t>(c);
            }
        }
        EXPECT_EQ(differing, 0u) << h.name;
        EXPECT_GT(exact, 100u) << h.name;
    }
}

// The characters that a Windows code page reads from the bytes of a handheld
// set where the set has another character, found in glibc's converters: the
// whole list, each written with those bytes.
TEST(CharsetsAgainstGlibc, TheWindowsCharactersOfEachSetAreTheWholeList) {
    struct variant {
        char32_t c;
        const char* bytes;
    };
    struct set_variants {
        handheld_set set;
        std::vector<variant> variants;
    };
    const set_variants cases[] = {
        {{"SHIFT_JIS", "CP932"},
         {{0x2225, "\x81\x61"}, {0xFF0D, "\x81\x7C"}, {0xFF5E, "\x81\x60"}}},
        {{"GB2312", "CP936"}, {{0x00B7, "\xA1\xA4"}, {0x2014, "\xA1\xAA"}}},
        {{"BIG5", "CP950"}, {}},  // glibc's Big5 has CP950's characters
    };
    for (const set_variants& v : cases) {
        glibc_set glibc(v.set.name, v.set.windows);
        ASSERT_TRUE(glibc.ok()) << v.set.name;
        std::vector<variant> found;
        std::vector<std::string> found_bytes;
        for (char32_t c = 0x80; c < 0x10000; ++c) {
            std::string bytes;
            if ((c < 0xD800 || c > 0xDFFF) && glibc.windows_variant(c, bytes)) {
                found.push_back({c, nullptr});
                found_bytes.push_back(bytes);
            }
        }
        ASSERT_EQ(found.size(), v.variants.size()) << v.set.name;
        std::string problem;
        auto encoder = charset_encoder::open(v.set.name, problem);
        ASSERT_TRUE(encoder) << problem;
        for (std::size_t i = 0; i < found.size(); ++i) {
            EXPECT_EQ(found[i].c, v.variants[i].c) << v.set.name;
            EXPECT_EQ(found_bytes[i], v.variants[i].bytes) << v.set.name;
            std::string out;
            encoder->encode(utf8_of(v.variants[i].c), out);
            EXPECT_EQ(out, v.variants[i].bytes) << v.set.name;
        }
        EXPECT_EQ(encoder->transliterated() + encoder->replaced(), 0u) << v.set.name;
    }
}

// Every sequence of one, two and three bytes that could start a character,
// alone and before an 'A', as glibc reads it.
TEST(CharsetsAgainstGlibc, EucJpIsReadAsIconvReadsIt) {
    glibc_converter glibc("UTF-8", "EUC-JP");
    ASSERT_TRUE(glibc.ok());
    std::vector<std::string> inputs;
    for (int a = 0x80; a <= 0xFF; ++a) {
        inputs.push_back(std::string(1, static_cast<char>(a)));
        for (int b = 0; b <= 0xFF; ++b) {
            inputs.push_back({static_cast<char>(a), static_cast<char>(b)});
            if (a == 0x8F)
                for (int c = 0; c <= 0xFF; ++c)
                    inputs.push_back(
                        {static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)});
        }
    }
    uint64_t differing = 0;
    for (const std::string& sequence : inputs) {
        for (const std::string& input : {sequence, sequence + "A"}) {
            std::string problem, out;
            auto decoder = charset_decoder::open("EUC-JP", problem);
            decoder->decode(input, out, false);
            if (out != glibc.read(input) && ++differing <= 10) {
                std::string shown;
                for (const char byte : input)
                    shown += std::to_string(static_cast<unsigned char>(byte)) + " ";
                ADD_FAILURE() << "EUC-JP " << shown;
            }
        }
    }
    EXPECT_EQ(differing, 0u);
}

}  // namespace
}  // namespace lexaro
