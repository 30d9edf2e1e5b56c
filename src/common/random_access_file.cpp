#include "common/random_access_file.h"

#include <cstring>

#include "common/platform.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace lexaro {

random_access_file::~random_access_file() {
    if (fd_ >= 0) close_descriptor(fd_);
}

#ifdef _WIN32

bool random_access_file::open(const std::string& path) {
    // A device (NUL, a named pipe) is not opened at all.
    type_ = type_of_file(path);
    if (type_ == file_type::other) return true;
    // Binary, as every handle is; a folder opens too, to be told apart. The
    // file may be replaced or removed while it is read, as on POSIX systems.
    const HANDLE file = CreateFileW(file_path(path).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd_ < 0) {
        CloseHandle(file);
        return false;
    }
    BY_HANDLE_FILE_INFORMATION information;
    LARGE_INTEGER size;
    const bool known = GetFileInformationByHandle(file, &information);
    if (known && (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        type_ = file_type::directory;
    else if (known && GetFileType(file) == FILE_TYPE_DISK && GetFileSizeEx(file, &size))
        type_ = file_type::regular;
    else
        type_ = file_type::other;
    size_ = regular() ? static_cast<uint64_t>(size.QuadPart) : 0;
    return true;
}

bool random_access_file::read_at(uint64_t offset, void* buffer, std::size_t length) const {
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(fd_));
    auto* out = static_cast<char*>(buffer);
    while (length > 0) {
        // The offset goes with each read: the handle's own position is not used.
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const auto wanted = static_cast<DWORD>(std::min<std::size_t>(length, 1 << 30));
        DWORD count = 0;
        if (!ReadFile(file, out, wanted, &count, &at) || count == 0) return false;
        out += count;
        offset += count;
        length -= count;
    }
    return true;
}

#else

bool random_access_file::open(const std::string& path) {
    // Looked at before it is opened: a FIFO or a device is never opened.
    type_ = type_of_file(path);
    if (type_ == file_type::none) return false;
    if (type_ != file_type::regular) return true;
    // POSIX has no text mode: every file is read as bytes. Should a FIFO
    // take the name in the meantime, the open does not wait for a writer.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct stat status;
    const bool known = fstat(fd_, &status) == 0;
    if (!known || !S_ISREG(status.st_mode)) {
        type_ = known && S_ISDIR(status.st_mode) ? file_type::directory : file_type::other;
        ::close(fd_);
        fd_ = -1;
        return true;
    }
    const int flags = fcntl(fd_, F_GETFL);
    if (flags >= 0) fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
    size_ = static_cast<uint64_t>(status.st_size);
    return true;
}

bool random_access_file::read_at(uint64_t offset, void* buffer, std::size_t length) const {
    auto* out = static_cast<char*>(buffer);
    while (length > 0) {
#ifdef __EMSCRIPTEN__
        // Emscripten's pread takes the low 32 bits of the offset alone, its
        // lseek all 64; no other thread shares the descriptor.
        const ssize_t count =
            lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0 ? -1 : read(fd_, out, length);
#else
        const ssize_t count = pread(fd_, out, length, static_cast<off_t>(offset));
#endif
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;  // an error, or the file ends first
        out += count;
        offset += static_cast<uint64_t>(count);
        length -= static_cast<std::size_t>(count);
    }
    return true;
}

#endif

bool memory_input::read_at(uint64_t offset, void* buffer, std::size_t length) const {
    if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
    if (length > 0) std::memcpy(buffer, bytes_.data() + offset, length);
    return true;
}

}  // namespace lexaro
