// Helpers for the tests of the dictionary format readers: a sink that keeps
// what it is given, the Debian tools that make dictd files, and gzip output.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "import/entry_table.h"
#include "import/raw_entry.h"

namespace lexaro::test {

struct collected_entry {
    std::string word;
    std::string definition;
    import::markup kind = import::markup::plain;

    bool operator==(const collected_entry& other) const {
        return word == other.word && definition == other.definition && kind == other.kind;
    }
};
std::ostream& operator<<(std::ostream& out, const collected_entry& entry);

// One run of lexaro-import on one input file.
struct format_case {
    const char* what;
    std::string input_name;
    std::string input;
    std::vector<std::string> options;
    std::string expected;  // the source written
};

// Runs each case in a folder of its own: exit status 0, the exact bytes, and
// nothing left in the folder but the input and the output.
void check_cases(const std::vector<format_case>& cases);

// A run whose summary says something too: these lines, each whole, among the
// lines lexaro-import writes to standard error.
struct summary_case {
    const char* what;
    std::string input_name;
    std::string input;
    std::vector<std::string> options;
    std::string expected;              // the source written
    std::vector<std::string> summary;  // lines of the summary, without their line feeds
};

// As check_cases, and each summary line is there.
void check_summaries(const std::vector<summary_case>& cases);

// Keeps a copy of every entry handed to it.
class collecting_sink : public import::entry_sink {
public:
    void add(const import::raw_entry& entry) override;
    std::vector<collected_entry> entries;
};

// True when the program can be found on the PATH.
bool have_program(const char* name);

// Runs a shell command line in `folder`; false when it fails.
bool run_shell(const std::string& folder, const std::string& command);

// Compresses PATH with dictzip into PATH.dz, keeping PATH; false when it fails.
bool dictzip(const std::string& path);

// dictd's numbers: base64 digits, most significant first.
std::string dictd_number(uint64_t n);

// A 32-bit big-endian number, as StarDict's files hold them.
std::string be32(uint32_t value);

// The lines "word$translation" that the sorted table's for_each_word hands
// on. Inline: the readers' tests, which share this file, have no entry table.
inline std::vector<std::string> word_lines(const import::entry_table& table,
                                           const import::merge_options& options,
                                           import::merge_counts& counts) {
    std::vector<std::string> lines;
    table.for_each_word(
        options,
        [&](std::string_view w, std::string_view t) {
            lines.push_back(std::string(w) + "$" + std::string(t));
        },
        counts);
    return lines;
}

// BYTES deflated by zlib at LEVEL, WINDOW_BITS as deflateInit2 takes them
// (negative: a raw stream; over 15: a gzip member).
std::string deflated(std::string_view bytes, int level, int window_bits);

// BYTES as a gzip file of one member.
std::string gzip_bytes(std::string_view bytes);

// Babylon glossaries, built record by record. A record: its type, then its
// data, framed with `length_bytes` bytes of length (1 to 4), or with the
// length inside the first byte (0, for data of up to 11 bytes); -1: the
// shortest framing.
std::string bgl_record(unsigned type, std::string_view data, int length_bytes = -1);
// The data of an entry record (types 1, 7, 10, 13), and of a wide one (type 11).
std::string bgl_entry(std::string_view headword, std::string_view definition,
                      const std::vector<std::string>& alternates = {});
std::string bgl_wide_entry(std::string_view headword, std::string_view definition,
                           const std::vector<std::string>& alternates = {});
// A property record (type 3): its 16-bit code, then the value.
std::string bgl_property(uint16_t code, std::string_view value);
// A .bgl file: the signature, the offset of the gzip data, bytes up to it,
// then the body gzipped.
std::string bgl_file(std::string_view body);
constexpr std::size_t bgl_gzip_offset = 71;  // as Babylon's builder writes it

// Text of the given size that compresses about as well as a dictionary:
// lines of words drawn by a fixed seed.
std::string dictionary_like_text(std::size_t size);

}  // namespace lexaro::test
