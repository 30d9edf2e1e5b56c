#include "format_test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <stdexcept>

#include "test_support.h"

namespace lexaro::test {

std::ostream& operator<<(std::ostream& out, const collected_entry& entry) {
    return out << "{\"" << entry.word << "\", \"" << entry.definition << "\", kind "
               << static_cast<int>(entry.kind) << "}";
}

void collecting_sink::add(const import::raw_entry& entry) {
    entries.push_back({std::string(entry.word), std::string(entry.definition), entry.kind});
}

bool have_program(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

bool run_shell(const std::string& folder, const std::string& command) {
    return std::system(("cd '" + folder + "' && " + command + " >/dev/null 2>&1").c_str()) == 0;
}

bool dictzip(const std::string& path) { return run_shell("/", "dictzip -k -f '" + path + "'"); }

std::string dictd_number(uint64_t n) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    do {
        text.insert(text.begin(), digits[n % 64]);
        n /= 64;
    } while (n > 0);
    return text;
}

std::string be32(uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
            static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string deflated(std::string_view bytes, int level, int window_bits) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    std::string out(deflateBound(&z, bytes.size()) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&z, Z_FINISH);
    deflateEnd(&z);
    if (status != Z_STREAM_END) throw std::runtime_error("deflate failed");
    out.resize(z.total_out);
    return out;
}

std::string gzip_bytes(std::string_view bytes) { return deflated(bytes, 6, MAX_WBITS + 16); }

std::string bgl_record(unsigned type, std::string_view data, int length_bytes) {
    if (length_bytes < 0 && data.size() < 12) length_bytes = 0;
    if (length_bytes < 0)
        for (length_bytes = 1; length_bytes < 4 && data.size() >> (8 * length_bytes) != 0;)
            ++length_bytes;
    std::string record;
    if (length_bytes == 0) {
        record += static_cast<char>(((data.size() + 4) << 4) | type);
    } else {
        record += static_cast<char>(((length_bytes - 1) << 4) | type);
        for (int i = length_bytes - 1; i >= 0; --i)
            record += static_cast<char>(data.size() >> (8 * i));
    }
    return record.append(data);
}

namespace {

// A number in `size` bytes, most significant first.
std::string big_endian_bytes(uint64_t value, std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[size - 1 - i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

}  // namespace

std::string bgl_entry(std::string_view headword, std::string_view definition,
                      const std::vector<std::string>& alternates) {
    std::string data = big_endian_bytes(headword.size(), 1);
    data.append(headword);
    data += big_endian_bytes(definition.size(), 2);
    data.append(definition);
    for (const std::string& alternate : alternates)
        data += big_endian_bytes(alternate.size(), 1) + alternate;
    return data;
}

std::string bgl_wide_entry(std::string_view headword, std::string_view definition,
                           const std::vector<std::string>& alternates) {
    std::string data = big_endian_bytes(headword.size(), 5);
    data.append(headword);
    data += big_endian_bytes(alternates.size(), 4);
    for (const std::string& alternate : alternates)
        data += big_endian_bytes(alternate.size(), 4) + alternate;
    data += big_endian_bytes(definition.size(), 4);
    return data.append(definition);
}

std::string bgl_property(uint16_t code, std::string_view value) {
    return bgl_record(3, big_endian_bytes(code, 2).append(value));
}

std::string bgl_file(std::string_view body) {
    std::string file = std::string("\x12\x34\x00\x01", 4) + big_endian_bytes(bgl_gzip_offset, 2);
    file.resize(bgl_gzip_offset, '\x5a');
    return file + gzip_bytes(body);
}

std::string dictionary_like_text(std::size_t size) {
    static const char* const words[] = {"apple",  "Baum",   "der",  "house",   "<n>", "[Am.]",
                                        "Straße", "to run", "über", "/ˈhaʊs/", "1.",  "see:"};
    std::mt19937 random(20261208);
    std::string text;
    while (text.size() < size) {
        text += words[random() % std::size(words)];
        text += random() % 6 == 0 ? '\n' : ' ';
    }
    text.resize(size);
    return text;
}

void check_cases(const std::vector<format_case>& cases) {
    std::vector<summary_case> runs;
    for (const format_case& c : cases)
        runs.push_back({c.what, c.input_name, c.input, c.options, c.expected, {}});
    check_summaries(runs);
}

void check_summaries(const std::vector<summary_case>& cases) {
    for (const summary_case& c : cases) {
        scratch_dir dir;
        write_file(dir / c.input_name, c.input);
        std::vector<std::string> args = c.options;
        args.push_back(c.input_name);
        args.push_back("out.txt");
        const run_result run = run_lexaro_import(args, dir.path());
        EXPECT_EQ(run.status, 0) << c.what << ": " << run.err;
        EXPECT_EQ(read_file(dir / "out.txt"), c.expected) << c.what;
        std::vector<std::string> expected_files{c.input_name, "out.txt"};
        std::sort(expected_files.begin(), expected_files.end());
        EXPECT_EQ(dir.files(), expected_files) << c.what;
        EXPECT_EQ(run.out, "") << c.what;
        for (const std::string& line : c.summary)
            EXPECT_NE(run.err.find("\n" + line + "\n"), std::string::npos)
                << c.what << ": " << line << "\n" << run.err;
    }
}

}  // namespace lexaro::test
