// Reads a text input line by line in large buffered reads: one read call per
// megabyte or so, never one per line. Lines are handed on as views into the
// read buffer; a line longer than the buffer makes the buffer grow.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lexaro::import {

class text_input;

class line_reader {
public:
    explicit line_reader(text_input& input);
    ~line_reader();
    line_reader(const line_reader&) = delete;
    line_reader& operator=(const line_reader&) = delete;

    // The next line without its line feed and a carriage return before it;
    // false once the file has ended. A last line without a line feed is a
    // line too. The view holds until the next call. import_error when a read
    // fails.
    bool next(std::string_view& line);

    // The number of the line that next() gave last, from 1.
    uint64_t line_number() const { return line_number_; }

    const std::string& path() const;

private:
    bool fill();  // reads more after the unread bytes; false at the end of the file

    text_input& input_;
    std::vector<char> buffer_;
    std::size_t start_ = 0;  // the first unread byte
    std::size_t end_ = 0;    // one past the last byte read
    bool at_end_ = false;
    uint64_t line_number_ = 0;
};

}  // namespace lexaro::import
