// The tables that the handheld's sets are written from, against glibc's
// iconv itself (Linux only): every character each set writes, as iconv
// writes it, and everything else transliterated or '?' as iconv would have
// it; EUC-JP read as iconv reads it, byte sequence by byte sequence.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>

#include "common/charset.h"

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

TEST(CharsetsAgainstGlibc, EveryCharacterIsWrittenAsIconvWritesIt) {
    for (const char* set : {"CP1250", "CP1251", "CP1252", "CP1253", "CP1254", "CP1255", "CP1256",
                            "CP1257", "CP1258", "KOI8-R", "SHIFT_JIS", "BIG5", "GB2312"}) {
        std::string problem;
        auto encoder = charset_encoder::open(set, problem);
        glibc_converter glibc(set, "UTF-8");
        ASSERT_TRUE(encoder && glibc.ok()) << set << ": " << problem;
        uint64_t exact = 0, differing = 0;
        for (char32_t c = 1; c <= 0x10FFFF; c += c < 0x10000 ? 1 : 4099) {
            if (c >= 0xD800 && c <= 0xDFFF) continue;
            const std::string text = utf8_of(c);
            std::string expected;
            const bool in_set =
                c < 0x80 ? (expected = text, true)
                         : glibc.exactly(text, expected) && !holds_source_bytes(expected);
            exact += in_set && c >= 0x80;
            if (!in_set) {
                const std::string_view instead = transliteration(c);
                if (instead.empty() || !glibc.exactly(std::string(instead), expected) ||
                    holds_source_bytes(expected))
                    expected = "?";
            }
            const uint64_t changed = encoder->transliterated() + encoder->replaced();
            std::string out;
            encoder->encode(text, out);
            const bool counted = encoder->transliterated() + encoder->replaced() != changed;
            if (out != expected || counted == in_set) {
                if (++differing <= 10)
                    ADD_FAILURE() << set << " U+" << std::hex << static_cast<uint32_t>(c);
            }
        }
        EXPECT_EQ(differing, 0u) << set;
        EXPECT_GT(exact, 100u) << set;
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
