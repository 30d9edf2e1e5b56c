#include "common/random_access_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lexaro {

random_access_file::~random_access_file() {
    if (fd_ >= 0) ::close(fd_);
}

bool random_access_file::open(const std::string& path) {
    // POSIX has no text mode: every file is read as bytes.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct stat status;
    regular_ = fstat(fd_, &status) == 0 && S_ISREG(status.st_mode);
    size_ = regular_ ? static_cast<uint64_t>(status.st_size) : 0;
    return true;
}

bool random_access_file::read_at(uint64_t offset, void* buffer, std::size_t length) const {
    auto* out = static_cast<char*>(buffer);
    while (length > 0) {
        const ssize_t count = pread(fd_, out, length, static_cast<off_t>(offset));
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;  // an error, or the file ends first
        out += count;
        offset += static_cast<uint64_t>(count);
        length -= static_cast<std::size_t>(count);
    }
    return true;
}

bool memory_input::read_at(uint64_t offset, void* buffer, std::size_t length) const {
    if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
    if (length > 0) std::memcpy(buffer, bytes_.data() + offset, length);
    return true;
}

}  // namespace lexaro
