#include "import/formats/line_reader.h"

#include <cstring>
#include <string>

#include "import/text_input.h"

namespace lexaro::import {

namespace {

// Small files are read in one small piece; a file that fills it is read a
// megabyte at a time from then on.
constexpr std::size_t initial_buffer_size = 1 << 16;
constexpr std::size_t large_buffer_size = 1 << 20;

}  // namespace

line_reader::line_reader(text_input& input, entry_sink& sink)
    : input_(input), sink_(sink), buffer_(initial_buffer_size) {}

line_reader::~line_reader() = default;

const std::string& line_reader::path() const { return input_.path(); }

bool line_reader::fill() {
    if (at_end_) return false;
    // Keep the unread bytes, moved to the front; grow when they fill the buffer.
    if (start_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    const std::size_t space = buffer_.size() - end_;
    const std::size_t count = input_.read(buffer_.data() + end_, space);
    if (count == space && buffer_.size() < large_buffer_size) buffer_.resize(large_buffer_size);
    if (count == 0) {
        at_end_ = true;
        return false;
    }
    end_ += count;
    return true;
}

bool line_reader::next(std::string_view& line) {
    skipped_ = false;
    std::size_t searched = start_;
    for (;;) {
        const char* begin = buffer_.data() + start_;
        const void* found = std::memchr(buffer_.data() + searched, '\n', end_ - searched);
        if (found != nullptr) {
            const char* feed = static_cast<const char*>(found);
            std::size_t length = static_cast<std::size_t>(feed - begin);
            if (length > 0 && begin[length - 1] == '\r') --length;
            line = std::string_view(begin, length);
            start_ = static_cast<std::size_t>(feed - buffer_.data()) + 1;
            ++line_number_;
            return true;
        }
        const std::size_t unread = end_ - start_;
        if (unread > max_raw_size) {
            skip_long_line();
            line = {};
            skipped_ = true;
            return true;
        }
        if (!fill()) {
            // The file ended: the rest, if any, is a last line without a line feed.
            if (start_ == end_) return false;
            line = std::string_view(buffer_.data() + start_, end_ - start_);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            start_ = end_;
            ++line_number_;
            return true;
        }
        searched = start_ + unread;
    }
}

void line_reader::skip_long_line() {
    ++line_number_;
    sink_.skipped("lines longer than " + std::to_string(max_raw_size) + " bytes", path(),
                  line_number_);
    for (;;) {
        start_ = end_ = 0;
        if (!fill()) return;
        const void* found = std::memchr(buffer_.data(), '\n', end_);
        if (found != nullptr) {
            start_ = static_cast<std::size_t>(static_cast<const char*>(found) - buffer_.data()) + 1;
            return;
        }
    }
}

}  // namespace lexaro::import
