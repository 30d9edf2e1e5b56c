#include "common/platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#else
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace lexaro {

std::filesystem::path file_path(const std::string& name) { return std::filesystem::u8path(name); }

namespace {

// Which of descriptors 0 to 2 ensure_standard_streams() found closed.
bool closed_at_start[3] = {false, false, false};

}  // namespace

bool standard_stream_was_closed(int fd) { return fd >= 0 && fd <= 2 && closed_at_start[fd]; }

bool lies_within(const std::string& path, const std::string& folder) {
#ifdef _WIN32
    constexpr std::string_view separators = "\\/";
#else
    constexpr std::string_view separators = "/";
#endif
    if (folder.empty() || path.compare(0, folder.size(), folder) != 0) return false;
    return path.size() == folder.size() ||
           separators.find(folder.back()) != std::string_view::npos ||
           separators.find(path[folder.size()]) != std::string_view::npos;
}

#ifdef _WIN32

namespace {

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

void set_errno_from_last_error() {
    switch (GetLastError()) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            errno = ENOENT;
            break;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            errno = EEXIST;
            break;
        default:
            errno = EACCES;
    }
}

// Every handle lets others read, write, rename and remove the file, as
// POSIX systems do: a database may be replaced while it is being read.
HANDLE open_following_links(const std::string& name, DWORD access, DWORD flags = 0) {
    const HANDLE file = CreateFileW(file_path(name).c_str(), access, share_all, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) set_errno_from_last_error();
    return file;
}

// Opens the file at the name itself, never what a link there points to, and
// refuses a link or a directory.
HANDLE open_handle(const std::string& name, DWORD access, DWORD disposition) {
    const HANDLE file =
        CreateFileW(file_path(name).c_str(), access, share_all, nullptr, disposition,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        set_errno_from_last_error();
        return file;
    }
    FILE_ATTRIBUTE_TAG_INFO tag{};
    const bool known = GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag);
    const bool link = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                      IsReparseTagNameSurrogate(tag.ReparseTag);
    if (!known || link || (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(file);
        errno = known ? ELOOP : EACCES;
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// A binary C stream that takes the handle over.
std::FILE* stream_over(HANDLE file, int flags, const char* mode) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), flags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(file);
        return nullptr;
    }
    std::FILE* stream = _fdopen(fd, mode);
    if (stream == nullptr) _close(fd);
    return stream;
}

// Whether two open handles lead to one file: the same volume serial number
// and file index.
bool same_identity(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION x, y;
    return a != INVALID_HANDLE_VALUE && b != INVALID_HANDLE_VALUE &&
           GetFileInformationByHandle(a, &x) && GetFileInformationByHandle(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

// Whether the name still leads to the open file.
bool names_file(const std::string& name, HANDLE file) {
    const HANDLE named = open_handle(name, 0, OPEN_EXISTING);
    const bool same = same_identity(file, named);
    if (named != INVALID_HANDLE_VALUE) CloseHandle(named);
    return same;
}

// The handle whose lock marks the working file as this run's. Windows locks
// are mandatory for the bytes they cover, so the lock covers one byte far
// beyond any data the file holds.
HANDLE held_work_file = INVALID_HANDLE_VALUE;
std::string held_work_name;
constexpr DWORD lock_offset_high = 0x40000000;  // offset 2^62

}  // namespace

void ensure_standard_streams() {
    // The C runtime keeps descriptors 0 to 2 for the standard streams even
    // when the process starts without them, so no file opened later takes
    // their place; which of them came without a handle is noted.
    const DWORD standard[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int fd = 0; fd <= 2; ++fd) {
        const HANDLE handle = GetStdHandle(standard[fd]);
        closed_at_start[fd] = handle == nullptr || handle == INVALID_HANDLE_VALUE;
    }
}

namespace {

// Whether the name is one of the device namespace ("\\.\NUL" for NUL,
// "\\.\pipe\NAME"), as the system's own expansion of it shows.
bool device_name(const std::string& name) {
    const std::wstring wide = file_path(name).native();
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0) return false;
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) return false;
    full.resize(length);
    return full.compare(0, 4, L"\\\\.\\") == 0;
}

}  // namespace

file_type type_of_file(const std::string& name) {
    if (device_name(name)) return file_type::other;
    const DWORD attributes = GetFileAttributesW(file_path(name).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return file_type::none;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? file_type::directory : file_type::regular;
}

std::string folder_of(const std::string& name) {
    return name.substr(0, name.find_last_of("/\\:") + 1);
}

bool written_in_place(const std::string& name) { return device_name(name); }

std::FILE* open_in_place(const std::string& name) {
    const HANDLE file = open_following_links(name, GENERIC_WRITE);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return stream_over(file, _O_WRONLY, "wb");
}

bool check_written(int fd) {
    const int copy = _dup(fd);
    return copy >= 0 && _close(copy) == 0;
}

bool is_console(std::FILE* stream) {
    DWORD mode;
    return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}

void set_binary_mode(int fd) { _setmode(fd, _O_BINARY); }

bool same_file(const std::string& a, const std::string& b) {
    // The C runtime gives every file the inode 0: the file index identifies
    // it. The handles read nothing and keep nobody from replacing the files.
    const HANDLE x = open_following_links(a, 0, FILE_FLAG_BACKUP_SEMANTICS);
    const HANDLE y = open_following_links(b, 0, FILE_FLAG_BACKUP_SEMANTICS);
    const bool same = same_identity(x, y);
    for (HANDLE h : {x, y})
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return same;
}

std::string resolved_path(const std::string& name) {
    const HANDLE file = open_following_links(name, 0, FILE_FLAG_BACKUP_SEMANTICS);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::wstring wide(MAX_PATH, L'\0');
    constexpr DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    DWORD length =
        GetFinalPathNameByHandleW(file, wide.data(), static_cast<DWORD>(wide.size()), flags);
    if (length >= wide.size()) {  // too small: the size it needs, its zero included
        wide.resize(length);
        length =
            GetFinalPathNameByHandleW(file, wide.data(), static_cast<DWORD>(wide.size()), flags);
    }
    const bool known = length > 0 && length < wide.size();
    if (!known) set_errno_from_last_error();
    CloseHandle(file);
    if (!known) return {};
    wide.resize(length);
    // "\\?\C:\dict" and "\\?\UNC\server\share": without the prefix that
    // lifts the length limit, as names are written.
    if (wide.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        wide.replace(0, 8, L"\\\\");
    else if (wide.compare(0, 4, L"\\\\?\\") == 0)
        wide.erase(0, 4);
    return std::filesystem::path(wide).u8string();
}

bool identify_file(const std::string& name, file_identity& identity) {
    const HANDLE file = open_following_links(name, 0, FILE_FLAG_BACKUP_SEMANTICS);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information;
    const bool known = GetFileInformationByHandle(file, &information);
    if (!known) set_errno_from_last_error();
    CloseHandle(file);
    if (!known) return false;
    identity.device = information.dwVolumeSerialNumber;
    identity.file = (uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
    return true;
}

bool standard_output_is(const std::string& name) {
    const HANDLE file = open_following_links(name, 0, FILE_FLAG_BACKUP_SEMANTICS);
    const bool same = same_identity(GetStdHandle(STD_OUTPUT_HANDLE), file);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return same;
}

int open_for_reading(const std::string& name) {
    // A directory does not open without FILE_FLAG_BACKUP_SEMANTICS.
    const HANDLE file = open_following_links(name, GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN);
    if (file == INVALID_HANDLE_VALUE) return -1;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd < 0) CloseHandle(file);
    return fd;
}

long read_some(int fd, void* buffer, std::size_t size) {
    return _read(fd, buffer, static_cast<unsigned>(std::min<std::size_t>(size, INT_MAX)));
}

void close_descriptor(int fd) { _close(fd); }

std::FILE* open_for_reading_no_follow(const std::string& name) {
    const HANDLE file = open_handle(name, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return stream_over(file, _O_RDONLY, "rb");
}

bool remove_file(const std::string& name) { return _wunlink(file_path(name).c_str()) == 0; }

std::FILE* create_new_file(const std::string& name, int) {
    // The handle lets the file be removed while it is open: a run ended by
    // Ctrl-C removes it on the way out.
    const HANDLE file = CreateFileW(file_path(name).c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        set_errno_from_last_error();
        return nullptr;
    }
    std::FILE* stream = stream_over(file, _O_WRONLY, "wb");
    if (stream == nullptr) {
        _wunlink(file_path(name).c_str());
        errno = EACCES;
    }
    return stream;
}

namespace {

// Removes the name of an open file (the handle needs DELETE access): at once
// where the system allows it (Windows 10 1607 on), else when the last handle
// to it closes. FileDispositionInfoEx and its flags are spelled out, since
// headers for older targets lack them.
bool remove_open_file(HANDLE file) {
    constexpr auto disposition_info_ex = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
    constexpr DWORD delete_flag = 0x1, posix_semantics_flag = 0x2;
    DWORD at_once = delete_flag | posix_semantics_flag;  // FILE_DISPOSITION_INFO_EX
    if (SetFileInformationByHandle(file, disposition_info_ex, &at_once, sizeof at_once))
        return true;
    FILE_DISPOSITION_INFO on_close{TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &on_close, sizeof on_close);
}

// Tries the lock of the working file on an open handle, without waiting.
claim_result lock_work_file(HANDLE file) {
    OVERLAPPED place{};
    place.OffsetHigh = lock_offset_high;
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &place))
        return claim_result::claimed;
    return GetLastError() == ERROR_LOCK_VIOLATION ? claim_result::in_use
                                                  : claim_result::cannot_create;
}

}  // namespace

claim_result claim_work_file(const std::string& name, std::FILE** stream) {
    release_work_file();  // one working file at a time
    for (;;) {
        // A file already at the name may be another run's, which its lock
        // shows: it is opened only to try that lock, never through a link.
        const HANDLE old = open_handle(name, GENERIC_READ | DELETE, OPEN_EXISTING);
        if (old == INVALID_HANDLE_VALUE && errno != ENOENT) return claim_result::cannot_create;
        if (old != INVALID_HANDLE_VALUE) {
            const claim_result locked = lock_work_file(old);
            if (locked != claim_result::claimed) {
                CloseHandle(old);
                return locked;
            }
            // The run that held the lock may have removed the file between
            // our open and our lock: then the name is opened again.
            // Otherwise the file goes rather than being emptied and reused:
            // it may be a hard link, whose other names must keep their bytes.
            const bool same = names_file(name, old);
            const bool removed = same && remove_open_file(old);
            CloseHandle(old);
            if (!same) continue;
            if (!removed) return claim_result::cannot_create;
        }
        const HANDLE file =
            CreateFileW(file_path(name).c_str(), GENERIC_READ | GENERIC_WRITE, share_all, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            set_errno_from_last_error();
            // Another run made the file since: its lock tells whether it is
            // still at work.
            if (errno == EEXIST) continue;
            return claim_result::cannot_create;
        }
        // Another run may have taken the new file, or replaced it, before
        // our lock: then the name is opened again.
        const claim_result locked = lock_work_file(file);
        if (locked != claim_result::claimed || !names_file(name, file)) {
            CloseHandle(file);
            if (locked == claim_result::cannot_create) return locked;
            continue;
        }
        // Written, and read back, through a second handle to the same open
        // file, which the stream closes; the lock stays with the first.
        const HANDLE process = GetCurrentProcess();
        HANDLE writer;
        if (!DuplicateHandle(process, file, process, &writer, 0, FALSE, DUPLICATE_SAME_ACCESS) ||
            (*stream = stream_over(writer, _O_RDWR, "w+b")) == nullptr) {
            CloseHandle(file);
            return claim_result::cannot_create;
        }
        held_work_name = name;
        held_work_file = file;
        return claim_result::claimed;
    }
}

void release_work_file() {
    const HANDLE file = held_work_file;
    held_work_file = INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

bool holds_work_file() { return held_work_file != INVALID_HANDLE_VALUE; }

// Windows runs the handler of Ctrl-C on a thread of its own, where any call
// may be made.
void remove_held_work_file() {
    const HANDLE file = held_work_file;
    if (file != INVALID_HANDLE_VALUE && names_file(held_work_name, file))
        _wunlink(file_path(held_work_name).c_str());
}

unsigned usable_processors() {
    DWORD_PTR process = 0, system = 0;
    if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0) return 1;
    unsigned count = 0;
    for (; process != 0; process &= process - 1) ++count;
    return count;
}

bool standard_error_is_terminal() { return _isatty(_fileno(stderr)) != 0; }

bool write_to_console(int fd, std::string_view utf8, std::size_t& taken) {
    const HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode;
    if (console == INVALID_HANDLE_VALUE || !GetConsoleMode(console, &mode)) return false;
    // Up to the last whole character.
    taken = utf8.size();
    for (std::size_t back = 1; back <= 3 && back <= utf8.size(); ++back) {
        const auto c = static_cast<unsigned char>(utf8[utf8.size() - back]);
        if ((c & 0xC0) == 0x80) continue;
        const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        if (length > back) taken = utf8.size() - back;
        break;
    }
    const int size = static_cast<int>(std::min<std::size_t>(taken, INT_MAX / 2));
    taken = static_cast<std::size_t>(size);
    if (size == 0) return true;
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, &wide[0], size);
    for (int done = 0; done < units;) {
        DWORD written = 0;
        if (!WriteConsoleW(console, wide.data() + done, static_cast<DWORD>(units - done), &written,
                           nullptr) || written == 0)
            break;
        done += static_cast<int>(written);
    }
    return true;
}

#else

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

std::string resolved_path(const std::string& name) {
    char* resolved = realpath(name.c_str(), nullptr);
    if (resolved == nullptr) return {};
    std::string path(resolved);
    std::free(resolved);
    return path;
}

bool identify_file(const std::string& name, file_identity& identity) {
    struct stat status;
    if (stat(name.c_str(), &status) != 0) return false;
    identity.device = static_cast<uint64_t>(status.st_dev);
    identity.file = static_cast<uint64_t>(status.st_ino);
    return true;
}

void ensure_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        closed_at_start[fd] = true;
        // open() takes the lowest free descriptor, which is this one.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) ::close(opened);
    }
}

bool is_console(std::FILE* stream) { return isatty(fileno(stream)) != 0; }

void set_binary_mode(int) {}

std::string folder_of(const std::string& name) {
    return name.substr(0, name.find_last_of('/') + 1);
}

file_type type_of_file(const std::string& name) {
    struct stat status;
    if (stat(name.c_str(), &status) != 0) return file_type::none;
    if (S_ISREG(status.st_mode)) return file_type::regular;
    return S_ISDIR(status.st_mode) ? file_type::directory : file_type::other;
}

namespace {

// The descriptor that a name in this process's descriptor folders stands
// for ("/dev/fd/N", "/proc/self/fd/N", "/proc/thread-self/fd/N" or
// "/proc/PID/fd/N" with this process's PID); -1 for any other name.
int descriptor_of_name(std::string_view name) {
    const std::string own = "/proc/" + std::to_string(getpid()) + "/fd/";
    for (std::string_view folder :
         {std::string_view("/dev/fd/"), std::string_view("/proc/self/fd/"),
          std::string_view("/proc/thread-self/fd/"), std::string_view(own)}) {
        if (name.substr(0, folder.size()) != folder) continue;
        const std::string_view number = name.substr(folder.size());
        if (number.empty() || number.size() > 9 ||
            number.find_first_not_of("0123456789") != std::string_view::npos)
            return -1;
        return std::stoi(std::string(number));
    }
    return -1;
}

// The descriptor that a name leads to through its links, as /dev/stdout
// leads to /proc/self/fd/1; -1 when it leads to none. Only the names of the
// links are looked at: a descriptor's own link names what it is open on.
int descriptor_named(std::string name) {
    for (int hop = 0; hop < 40; ++hop) {
        const int fd = descriptor_of_name(name);
        if (fd >= 0) return fd;
        struct stat status;
        if (lstat(name.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return -1;
        std::string target(4096, '\0');
        const ssize_t length = readlink(name.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return -1;
        target.resize(static_cast<std::size_t>(length));
        // A relative link is relative to the folder that holds it.
        if (target[0] != '/') target = name.substr(0, name.find_last_of('/') + 1) + target;
        name = target;
    }
    return -1;
}

}  // namespace

bool written_in_place(const std::string& name) {
    return descriptor_named(name) >= 0 || type_of_file(name) == file_type::other;
}

std::FILE* open_in_place(const std::string& name) {
    int fd;
    if (const int own = descriptor_named(name); own >= 0) {
        if (standard_stream_was_closed(own)) {
            errno = EBADF;
            return nullptr;
        }
        fd = fcntl(own, F_DUPFD_CLOEXEC, 3);
    } else {
        struct stat status;
        const bool fifo = stat(name.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
        fd = ::open(name.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (fifo ? 0 : O_NONBLOCK));
        // Writes wait as on any descriptor: only the open was not to.
        const int flags = fd >= 0 && !fifo ? fcntl(fd, F_GETFL) : -1;
        if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    if (fd < 0) return nullptr;
    std::FILE* stream = fdopen(fd, "wb");
    if (stream == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return stream;
}

bool check_written(int fd) {
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    return copy >= 0 && ::close(copy) == 0;
}

int open_for_reading(const std::string& name) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status;
    // A directory opens for reading here, yet only its reads fail.
    if (fd >= 0 && (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode))) {
        ::close(fd);
        errno = EISDIR;
        return -1;
    }
    return fd;
}

long read_some(int fd, void* buffer, std::size_t size) {
    ssize_t count;
    do {
        count = ::read(fd, buffer, size);
    } while (count < 0 && errno == EINTR);
    return static_cast<long>(count);
}

void close_descriptor(int fd) { ::close(fd); }

bool standard_output_is(const std::string& name) {
    struct stat so, sn;
    return fstat(STDOUT_FILENO, &so) == 0 && stat(name.c_str(), &sn) == 0 &&
           so.st_dev == sn.st_dev && so.st_ino == sn.st_ino;
}

bool standard_error_is_terminal() { return isatty(STDERR_FILENO) == 1; }

bool write_to_console(int, std::string_view, std::size_t&) { return false; }

std::FILE* open_for_reading_no_follow(const std::string& name) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    std::FILE* stream = fdopen(fd, "rb");
    if (stream == nullptr) ::close(fd);
    return stream;
}

bool remove_file(const std::string& name) { return unlink(name.c_str()) == 0; }

std::FILE* create_new_file(const std::string& name, int mode) {
    // Created with 0666 so that the umask applies as to any new file.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    std::FILE* stream = nullptr;
    if ((mode != 0666 && fchmod(fd, static_cast<mode_t>(mode)) != 0) ||
        (stream = fdopen(fd, "wb")) == nullptr) {
        const int error = errno;
        ::close(fd);
        unlink(name.c_str());
        errno = error;
    }
    return stream;
}

namespace {

// The descriptor whose lock marks the working file as this run's. It stays
// open, and the file locked, until the process ends. Its name is kept for
// a signal handler, which may neither allocate nor lock.
volatile std::sig_atomic_t held_work_file = -1;
char held_work_name[4096];

// Whether the name, not followed if it is a link, is the open file.
bool names_descriptor(const char* name, int fd) {
    struct stat named, opened;
    return lstat(name, &named) == 0 && fstat(fd, &opened) == 0 && named.st_dev == opened.st_dev &&
           named.st_ino == opened.st_ino;
}

}  // namespace

claim_result claim_work_file(const std::string& name, std::FILE** stream) {
    release_work_file();  // one working file at a time
    for (;;) {
        // A file already at the name may be another run's, which its lock
        // shows: it is opened only to try that lock, never followed if it is
        // a link and without waiting for a writer if it is a FIFO.
        const int old = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (old < 0 && errno != ENOENT) return claim_result::cannot_create;
        if (old >= 0) {
            struct stat status;
            if (fstat(old, &status) != 0 || !S_ISREG(status.st_mode)) {
                ::close(old);
                return claim_result::cannot_create;
            }
            if (flock(old, LOCK_EX | LOCK_NB) != 0) {
                const bool busy = errno == EWOULDBLOCK;
                ::close(old);
                return busy ? claim_result::in_use : claim_result::cannot_create;
            }
            // The run that held the lock may have deleted or replaced the
            // file between our open and our lock: then the name is tried
            // again. Otherwise the file goes rather than being emptied and
            // reused: it may be a hard link, whose other names must keep
            // their bytes. Its lock keeps other runs out until the new file
            // is made.
            if (!names_descriptor(name.c_str(), old)) {
                ::close(old);
                continue;
            }
            if (unlink(name.c_str()) != 0) {
                ::close(old);
                return claim_result::cannot_create;
            }
        }
        const int fd =
            ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        const int create_error = errno;
        if (old >= 0) ::close(old);
        if (fd < 0) {
            // Another run made the file since: its lock tells whether it is
            // still at work.
            if (create_error == EEXIST) continue;
            return claim_result::cannot_create;
        }
        // Another run may have taken the new file, or replaced it, before
        // our lock: then the name is tried again.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool busy = errno == EWOULDBLOCK;
            ::close(fd);
            if (busy) continue;
            return claim_result::cannot_create;
        }
        if (!names_descriptor(name.c_str(), fd)) {
            ::close(fd);
            continue;
        }
        // Written, and read back, through a second descriptor of the same
        // open file, which the stream closes; the lock stays with the first.
        const int writer = dup(fd);
        if (writer < 0 || (*stream = fdopen(writer, "w+b")) == nullptr) {
            if (writer >= 0) ::close(writer);
            ::close(fd);
            return claim_result::cannot_create;
        }
        // A name too long to keep is never removed by a signal handler.
        const bool kept = name.size() < sizeof held_work_name;
        std::memcpy(held_work_name, kept ? name.c_str() : "", kept ? name.size() + 1 : 1);
        held_work_file = fd;
        return claim_result::claimed;
    }
}

void release_work_file() {
    const int fd = held_work_file;
    held_work_file = -1;
    if (fd >= 0) ::close(fd);
}

bool holds_work_file() { return held_work_file >= 0; }

void remove_held_work_file() {
    const int fd = held_work_file;
    if (fd >= 0 && held_work_name[0] != '\0' && names_descriptor(held_work_name, fd))
        unlink(held_work_name);
}

unsigned usable_processors() {
    if constexpr (!threads_available) return 1;
#ifdef __linux__
    // The mask is as large as the kernel's: grown until it holds it.
    for (int processors = 1024; processors <= (1 << 20); processors *= 2) {
        cpu_set_t* set = CPU_ALLOC(processors);
        if (set == nullptr) break;
        const std::size_t size = CPU_ALLOC_SIZE(processors);
        const int result = sched_getaffinity(0, size, set);
        const int count = result == 0 ? CPU_COUNT_S(size, set) : 0;
        CPU_FREE(set);
        if (result == 0) return count > 0 ? static_cast<unsigned>(count) : 1;
        if (errno != EINVAL) break;
    }
#endif
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1;
}

#endif

}  // namespace lexaro
