// Reads the text dictionary: a title line, then one "word$translation" entry
// per line. Text-mode rules are applied here, the same on every host: a
// carriage return directly before a line feed is dropped, and a byte 0x1A
// ends the input as if the file ended just before it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/layout.h"

namespace lexaro {

struct entry {
    std::string_view word;
    std::string_view translation;
};

using title_field = std::array<uint8_t, title_size>;

class source_reader {
public:
    source_reader() = default;
    source_reader(const source_reader&) = delete;
    source_reader& operator=(const source_reader&) = delete;
    ~source_reader();

    // Opens the file; "can't open file NAME" when it cannot be read.
    void open(const std::string& name);

    // The first line, up to its first zero byte and at most 256 bytes, padded
    // with zero bytes; the rest of a longer line is skipped unread into
    // memory. An empty file gives an empty title.
    title_field read_title();

    // The next entry, or false once the source has ended. A last line without
    // a line feed is not an entry. The entry views stay valid until the next
    // call. Each entry is counted and shown on the progress counter. A line
    // of 1,000,000 bytes or more, which no block could hold, ends the run
    // with "source line too long: " and its first 100 bytes.
    bool next_entry(entry& out);

    uint32_t entry_count() const { return entry_count_; }

    void close();

private:
    // Reads the next line into line_view_, without its line end; false at
    // the end of the input, with the bytes read before it in line_view_. A
    // line longer than limit is cut to it, or ends the run with "source line
    // too long" as soon as its length passes the limit; memory stays bounded
    // by the limit whatever the line holds.
    enum class long_line { cut, fail };
    bool read_line(std::size_t limit, long_line action);
    [[noreturn]] void line_too_long() const;
    bool fill();  // false when no byte is left to read

    int fd_ = -1;
    std::string name_;
    std::vector<char> buffer_;
    std::size_t position_ = 0;
    std::size_t filled_ = 0;
    bool input_ended_ = false;    // the file or a 0x1A byte has ended the input
    bool met_end_ = false;        // a line read has met the end of the input
    std::string_view line_view_;  // in the read buffer, or in line_ when it spans reads
    std::string line_;            // a line that spans reads, gathered
    uint32_t entry_count_ = 0;
};

}  // namespace lexaro
