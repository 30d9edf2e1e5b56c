// Reads a text input line by line in large buffered reads: one read call per
// megabyte or so, never one per line. Lines are handed on as views into the
// read buffer; a line longer than the buffer makes the buffer grow, up to
// max_raw_size. A longer line is read past without being kept, counted with
// the sink, and given as an empty line, so that the lines after it keep their
// numbers; skipped() tells it from a line that is empty.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "import/raw_entry.h"

namespace lexaro::import {

class entry_sink;
class text_input;

class line_reader {
public:
    // sink: told of each line skipped as too long.
    line_reader(text_input& input, entry_sink& sink);
    ~line_reader();
    line_reader(const line_reader&) = delete;
    line_reader& operator=(const line_reader&) = delete;

    // The next line without its line feed and a carriage return before it;
    // false once the file has ended. A last line without a line feed is a
    // line too. The view holds until the next call. import_error when a read
    // fails.
    bool next(std::string_view& line);

    // Whether the line that next() gave last stands for one too long to keep.
    bool skipped() const { return skipped_; }

    // The number of the line that next() gave last, from 1.
    uint64_t line_number() const { return line_number_; }

    const std::string& path() const;

private:
    bool fill();  // reads more after the unread bytes; false at the end of the file
    void skip_long_line();  // reads past the rest of a line longer than max_raw_size

    text_input& input_;
    entry_sink& sink_;
    bool skipped_ = false;
    std::vector<char> buffer_;
    std::size_t start_ = 0;  // the first unread byte
    std::size_t end_ = 0;    // one past the last byte read
    bool at_end_ = false;
    uint64_t line_number_ = 0;
};

}  // namespace lexaro::import
