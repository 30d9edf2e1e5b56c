#include "common/buffered_output.h"

#include <unistd.h>

#include <cerrno>

#include "common/platform.h"

namespace lexaro {

buffered_output::buffered_output(int fd) : fd_(fd), buffer_(new char[capacity]) {}

void buffered_output::write_through(std::string_view text) {
    flush();
    if (text.size() < capacity) {
        std::memcpy(buffer_.get(), text.data(), text.size());
        used_ = text.size();
    } else {
        write_all(text.data(), text.size());
    }
}

bool buffered_output::flush() {
    write_all(buffer_.get(), used_);
    used_ = 0;
    return !failed();
}

bool buffered_output::close() {
    flush();
    if (fd_ >= 0 && ::close(fd_) != 0 && !failed()) error_ = errno;
    fd_ = -1;
    return !failed();
}

void buffered_output::write_all(const char* data, std::size_t length) {
    if (!console_checked_ || console_) {
        // A Windows console shows the UTF-8 as written; a character cut by
        // the buffer's end waits for the rest.
        console_checked_ = true;
        pending_.append(data, length);
        std::size_t taken = 0;
        console_ = write_to_console(fd_, pending_, taken);
        if (console_) {
            pending_.erase(0, taken);
            return;
        }
        data = pending_.data();  // no console: the bytes as they are, once
        length = pending_.size();
        write_bytes(data, length);
        pending_.clear();
        return;
    }
    write_bytes(data, length);
}

void buffered_output::write_bytes(const char* data, std::size_t length) {
    while (length > 0 && !failed()) {
        const ssize_t count = ::write(fd_, data, length);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            error_ = count < 0 ? errno : EIO;
            return;
        }
        data += count;
        length -= static_cast<std::size_t>(count);
    }
}

}  // namespace lexaro
