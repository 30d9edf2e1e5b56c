// Output to a file descriptor, such as standard output, through a buffer of
// its own. Every write is checked: the first failure is kept, and whatever
// comes after it is dropped, so that a caller can stop at the next
// convenient point and report it.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace lexaro {

class buffered_output {
public:
    explicit buffered_output(int fd);
    buffered_output(const buffered_output&) = delete;
    buffered_output& operator=(const buffered_output&) = delete;

    void write(std::string_view text) {
        if (text.size() <= capacity - used_) {
            if (!text.empty()) std::memcpy(buffer_.get() + used_, text.data(), text.size());
            used_ += text.size();
        } else {
            write_through(text);
        }
    }
    void put(char c) {
        if (used_ == capacity) flush();
        buffer_[used_++] = c;
    }

    // Writes out what the buffer holds; false once any write has failed.
    bool flush();
    // Flushes and closes the descriptor; false when that or any write failed.
    bool close();
    bool failed() const { return error_ != 0; }
    int descriptor() const { return fd_; }
    int error() const { return error_; }  // errno of the first failure, or 0

private:
    static constexpr std::size_t capacity = 1 << 16;
    void write_through(std::string_view text);
    void write_all(const char* data, std::size_t length);

    void write_bytes(const char* data, std::size_t length);

    int fd_;
    int error_ = 0;
    bool console_checked_ = false, console_ = false;
    std::string pending_;  // on a console: the start of a character cut short
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
};

}  // namespace lexaro
