// What only the MDict reader needs: the LZO1X decompressor, against what
// liblzo2 compresses and against streams damaged by hand, and RIPEMD-128
// against the published test vectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "format_test_support.h"
#include "import/formats/lzo1x.h"
#include "import/formats/ripemd128.h"
#include "mdict_writer.h"

namespace lexaro::import {
namespace {

using namespace std::string_literals;

std::string random_bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

TEST(Lzo1x, DecompressesWhatLiblzo2Compresses) {
    const std::string far = random_bytes(40000, 2);  // repeated 40,000 bytes back: a far copy
    const std::pair<const char*, std::string> inputs[] = {
        {"nothing", ""},
        {"one byte", "a"},
        {"three bytes", "abc"},
        {"dictionary text", test::dictionary_like_text(200000)},
        {"zeros", std::string(300000, '\0')},
        {"random", random_bytes(70000, 1)},
        {"far repeats", far + "between" + far + far.substr(0, 1000)},
        {"short repeats", "abababababab" + std::string(20, 'x') + "abcabcabcabc" + "a"},
    };
    for (const auto& [what, data] : inputs) {
        for (const bool best : {false, true}) {
            SCOPED_TRACE(std::string(what) + (best ? ", level 999" : ", level 1"));
            std::string out = "left over";
            EXPECT_EQ(lzo1x_decompress(test::lzo1x_compressed(data, best), data.size(), out),
                      lzo_result::ok);
            EXPECT_TRUE(out == data);
        }
    }
}

// Read a piece at a time, the stream gives the same bytes whatever the size
// of its pieces: copies that reach back across pieces (the far repeats reach
// 40,000 bytes back, past many pieces of 7 bytes), runs longer than a piece,
// and a size limit met exactly.
TEST(Lzo1x, PiecesOfAnySizeMakeTheSameBytes) {
    const std::string far = random_bytes(40000, 3);
    const std::pair<const char*, std::string> inputs[] = {
        {"dictionary text", test::dictionary_like_text(100000)},
        {"zeros, a run far longer than a piece", std::string(300000, '\0')},
        {"far repeats", far + "between" + far + far.substr(0, 1000)},
        {"one byte", "a"},
    };
    for (const auto& [what, data] : inputs) {
        for (const bool best : {false, true}) {
            const std::string compressed = test::lzo1x_compressed(data, best);
            for (const std::size_t piece : {1u, 7u, 4096u, 49151u, 1u << 20}) {
                SCOPED_TRACE(std::string(what) + (best ? ", level 999" : ", level 1") +
                             ", pieces of " + std::to_string(piece));
                lzo1x_stream stream(compressed, data.size(), piece);
                std::string out;
                std::size_t largest = 0;
                for (std::string_view p; !(p = stream.next()).empty();) {
                    largest = std::max(largest, p.size());
                    out.append(p);
                }
                EXPECT_EQ(stream.result(), lzo_result::ok);
                EXPECT_TRUE(stream.finished());
                EXPECT_LE(largest, piece);
                EXPECT_EQ(stream.made(), data.size());
                EXPECT_TRUE(out == data);
                // One byte less allowed: the stream says so instead of making it.
                if (!data.empty()) {
                    lzo1x_stream short_of_one(compressed, data.size() - 1, piece);
                    std::size_t made = 0;
                    for (std::string_view p; !(p = short_of_one.next()).empty();) made += p.size();
                    EXPECT_EQ(short_of_one.result(), lzo_result::output_too_large);
                    EXPECT_LE(made, data.size() - 1);
                }
            }
        }
    }
}

TEST(Lzo1x, StreamsMadeByHand) {
    const std::string end = "\x11\x00\x00"s;  // a far copy from distance 16384: the end mark
    struct stream_case {
        const char* what;
        std::string in;
        std::size_t max_size;
        lzo_result result;
        std::string out;  // made before it ended
    };
    const stream_case cases[] = {
        {"the end alone", end, 10, lzo_result::ok, ""},
        {"literals, then the end",
         "\x15"
         "abcd" +
             end,
         10, lzo_result::ok, "abcd"},
        {"two bytes 1 back after one literal",
         "\x12"
         "a"
         "\x00\x00"s +
             end,
         10, lzo_result::ok, "aaa"},
        {"three bytes 4 back",
         "\x15"
         "abcd"
         "\x21\x0c\x00"s +
             end,
         10, lzo_result::ok, "abcdabc"},
        {"a copy with two literals after it",
         "\x15"
         "abcd"
         "\x21\x0e\x00"
         "xy"s +
             end,
         10, lzo_result::ok, "abcdabcxy"},
        {"a long run of literals", "\x00\x00\x05"s + std::string(278, 'q') + end, 300,
         lzo_result::ok, std::string(278, 'q')},
        {"a copy from before the start",
         "\x12"
         "o"
         "\x40\x10",
         10, lzo_result::refers_before_start, "o"},
        {"after four literals, a copy 2049 back",
         "\x15"
         "abcd"
         "\x00\x00"s,
         10, lzo_result::refers_before_start, "abcd"},
        {"literals cut short",
         "\x16"
         "one",
         10, lzo_result::input_ends_early, ""},
        {"no end mark",
         "\x15"
         "abcd",
         10, lzo_result::input_ends_early, "abcd"},
        {"the end mark cut short",
         "\x15"
         "abcd"
         "\x11\x00"s,
         10, lzo_result::input_ends_early, "abcd"},
        {"a length of zero bytes that never ends", "\x00\x00\x00"s, 10000,
         lzo_result::input_ends_early, ""},
        {"a length past the most allowed", "\x00"s + std::string(100, '\0') + "\x01", 1000,
         lzo_result::output_too_large, ""},
        {"more than the most allowed",
         "\x15"
         "abcd" +
             end,
         3, lzo_result::output_too_large, ""},
        {"bytes after the end", end + "x", 10, lzo_result::bytes_after_end, ""},
        {"nothing at all", "", 10, lzo_result::input_ends_early, ""},
    };
    for (const stream_case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string out;
        EXPECT_EQ(lzo1x_decompress(c.in, c.max_size, out), c.result);
        EXPECT_EQ(out, c.out);
    }
}

std::string hex(const ripemd128_digest& digest) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const uint8_t b : digest) out += {digits[b >> 4], digits[b & 15]};
    return out;
}

TEST(Ripemd128, PublishedTestVectors) {
    std::string eighty;
    for (int i = 0; i < 8; ++i) eighty += "1234567890";
    const std::pair<std::string, const char*> vectors[] = {
        {"", "cdf26213a150dc3ecb610f18f6b38b46"},
        {"a", "86be7afa339d0fc7cfc785e72f578d33"},
        {"abc", "c14a12199c66e4ba84636b0f69144c77"},
        {"message digest", "9e327b3d6e523062afc1132d7df9d1b8"},
        {"abcdefghijklmnopqrstuvwxyz", "fd2aa607f71dc8f510714922b371834e"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "a1aa0689d0fafa2ddc22e88b49133a06"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d1e959eb179c911faea4624c60c5c702"},
        {eighty, "3f45ef194732c2dbb2c4a2c769795fa3"},
        {std::string(1000000, 'a'), "4a7f5723f954eba1216c9d8f6320431f"},
    };
    for (const auto& [message, digest] : vectors) {
        SCOPED_TRACE(message.substr(0, 20));
        EXPECT_EQ(hex(ripemd128(message)), digest);
    }
}

}  // namespace
}  // namespace lexaro::import
