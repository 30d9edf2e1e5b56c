// Reads a text file line by line in large buffered reads: one read call per
// megabyte or so, never one per line. Lines are handed on as views into the
// read buffer; a line longer than the buffer makes the buffer grow.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lexaro::import {

class line_reader {
public:
    // Opens the file; import_error "can't open file PATH: REASON" when it cannot.
    explicit line_reader(const std::string& path);
    ~line_reader();
    line_reader(const line_reader&) = delete;
    line_reader& operator=(const line_reader&) = delete;

    // The next line without its line feed and a carriage return before it;
    // false once the file has ended. A last line without a line feed is a
    // line too. A UTF-8 byte order mark at the start of the file is skipped.
    // The view holds until the next call. import_error when a read fails.
    bool next(std::string_view& line);

    // The number of the line that next() gave last, from 1.
    uint64_t line_number() const { return line_number_; }

    const std::string& path() const { return path_; }

private:
    bool fill();  // reads more after the unread bytes; false at the end of the file

    std::string path_;
    int fd_ = -1;
    std::vector<char> buffer_;
    std::size_t start_ = 0;  // the first unread byte
    std::size_t end_ = 0;    // one past the last byte read
    bool at_end_ = false;
    bool first_read_ = true;
    uint64_t line_number_ = 0;
};

}  // namespace lexaro::import
