#include "import/line_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "import/raw_entry.h"

namespace lexaro::import {

namespace {

constexpr std::size_t initial_buffer_size = 1 << 20;
constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";

}  // namespace

line_reader::line_reader(const std::string& path) : path_(path), buffer_(initial_buffer_size) {
    fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw import_error("can't open file " + path + ": " + std::strerror(errno));
}

line_reader::~line_reader() {
    if (fd_ >= 0) close(fd_);
}

bool line_reader::fill() {
    if (at_end_) return false;
    // Keep the unread bytes, moved to the front; grow when they fill the buffer.
    if (start_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    if (end_ == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    for (;;) {
        const ssize_t count = read(fd_, buffer_.data() + end_, buffer_.size() - end_);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) throw import_error("can't read file " + path_ + ": " + std::strerror(errno));
        if (count == 0) {
            at_end_ = true;
            return false;
        }
        end_ += static_cast<std::size_t>(count);
        if (first_read_ && end_ >= byte_order_mark.size()) {
            first_read_ = false;
            if (std::string_view(buffer_.data(), byte_order_mark.size()) == byte_order_mark)
                start_ = byte_order_mark.size();
        }
        if (!first_read_) return true;
    }
}

bool line_reader::next(std::string_view& line) {
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
        if (!fill()) {
            // The file ended: the rest, if any, is a last line without a line feed.
            if (first_read_ && end_ < byte_order_mark.size()) first_read_ = false;
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

}  // namespace lexaro::import
