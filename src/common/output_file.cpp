#include "common/output_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <random>
#include <vector>

#include "common/platform.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace lexaro {

namespace {

using native_char = std::filesystem::path::value_type;

#ifdef _WIN32

// Where a name's directory part ends: "d:\dict\en-fr.pdb", "d:en-fr.pdb".
constexpr const char* directory_ends = "/\\:";

// Windows keeps no permission bits to carry over: a file may be written
// unless it is read-only.
int replaceable_mode(const std::string& target) {
    const DWORD attributes = GetFileAttributesW(file_path(target).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return 0666;
        errno = EACCES;
        return -1;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return 0666;
    errno = attributes & FILE_ATTRIBUTE_DIRECTORY ? EISDIR : EACCES;
    return attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY) ? -1 : 0666;
}

bool sync_to_disk(std::FILE* stream) {
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))) != 0;
}

// Replaces the target, a link there included, and waits until the move is
// on the disk. A file that another program holds open for a moment (a virus
// scanner, another run checking its names; under wine any open at all)
// cannot be replaced: the move is tried again for a second.
bool move_over(const std::string& from, const std::string& to) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (MoveFileExW(file_path(from).c_str(), file_path(to).c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) break;
        Sleep(50);
    }
    errno = EACCES;
    return false;
}

void remove_native(const native_char* name) { _wunlink(name); }

// Ctrl-C, Ctrl-Break and a termination request.
void catch_signals(void (*handler)(int)) {
    for (int signal_number : {SIGINT, SIGBREAK, SIGTERM}) {
        // A signal the caller chose to ignore stays ignored.
        if (std::signal(signal_number, handler) == SIG_IGN) std::signal(signal_number, SIG_IGN);
    }
}

#else

constexpr const char* directory_ends = "/";

// What the target's name may hold: nothing, a link (replaced, not followed)
// or a regular file that may be written. Anything else cannot be replaced.
// Gives the permissions for the new file, or -1 with errno set.
int replaceable_mode(const std::string& target) {
    struct stat status;
    if (lstat(target.c_str(), &status) != 0) return errno == ENOENT ? 0666 : -1;
    if (S_ISLNK(status.st_mode)) return 0666;
    if (S_ISDIR(status.st_mode)) {
        errno = EISDIR;
        return -1;
    }
    if (!S_ISREG(status.st_mode)) {
        errno = EINVAL;
        return -1;
    }
    if (faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return -1;
    return static_cast<int>(status.st_mode & 07777);
}

bool sync_to_disk(std::FILE* stream) { return fsync(fileno(stream)) == 0; }

// Makes sure a rename is on the disk before the run reports success.
void sync_directory(const std::string& directory) {
    const int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);  // some file systems refuse to sync a directory; the rename stands
    ::close(fd);
}

// Replaces the target, a link there included, and waits until the rename
// is on the disk.
bool move_over(const std::string& from, const std::string& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) return false;
    const std::size_t slash = to.find_last_of('/');
    sync_directory(slash == std::string::npos ? "" : to.substr(0, slash + 1));
    return true;
}

void remove_native(const native_char* name) { unlink(name); }

// Every signal that ends a process unless it is caught, but for the faults
// of the program itself (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS,
// SIGABRT) and SIGKILL, which no process can catch: Ctrl-C, Ctrl-\, a
// hangup, a termination, the user's own signals, the timers, a pipe or FIFO
// whose reader went away, the processor-time and file-size limits, and the
// real-time signals.
template <typename Take>
void for_each_caught_signal(Take take) {
    for (int signal_number : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM,
                              SIGVTALRM, SIGPROF, SIGPIPE, SIGXCPU, SIGXFSZ})
        take(signal_number);
#ifdef SIGPOLL
    take(SIGPOLL);
#endif
#ifdef SIGPWR
    take(SIGPWR);
#endif
#ifdef SIGSTKFLT
    take(SIGSTKFLT);
#endif
#if defined(__linux__) && defined(SIGRTMIN)
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number)
        take(signal_number);
#endif
}

void catch_signals(void (*handler)(int)) {
    for_each_caught_signal([handler](int signal_number) {
        // A signal the caller chose to ignore, or handles, stays so.
        struct sigaction current;
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            std::signal(signal_number, handler);
    });
}

#endif

struct name_parts {
    std::string directory;  // with its final separator, or empty for the working directory
    std::string base;
};

name_parts split_name(const std::string& path) {
    const std::size_t end = path.find_last_of(directory_ends);
    if (end == std::string::npos) return {"", path};
    return {path.substr(0, end + 1), path.substr(end + 1)};
}

// A file name less its last `bytes` bytes, cut between two characters of its
// UTF-8.
std::string cut_name(const std::string& name, std::size_t bytes) {
    std::size_t end = name.size() > bytes ? name.size() - bytes : 0;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
    return name.substr(0, end);
}

volatile std::sig_atomic_t work_file_too = 0;
constexpr std::size_t pending_name_size = 4096;

}  // namespace

// The hidden files being written, for the signal handler: a run ended by a
// signal removes each of them on the way out. A process may hold several at
// once (the volumes of a dictionary, put in place together). Each is a node
// of a list that only grows: a node whose file is done is marked so and
// taken again for the next one, so that the handler never meets memory that
// is being freed.
struct output_file::pending_entry {
    native_char name[pending_name_size];
    volatile std::sig_atomic_t live = 0;
    pending_entry* next = nullptr;
};

namespace {

std::atomic<output_file::pending_entry*> pending_files{nullptr};

extern "C" void remove_pending_and_die(int signal_number) {
    for (auto* node = pending_files.load(); node != nullptr; node = node->next)
        if (node->live) remove_native(node->name);
    if (work_file_too) remove_held_work_file();
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void install_handlers() {
    static const bool installed = [] {
        catch_signals(remove_pending_and_die);
        return true;
    }();
    (void)installed;
}

// The node that stands for the hidden file until it is untracked; null for
// a name too long to keep, which a signal then leaves behind.
output_file::pending_entry* track_pending(const std::string& name) {
    install_handlers();
    const std::filesystem::path::string_type native = file_path(name).native();
    if (native.size() >= pending_name_size) return nullptr;
    output_file::pending_entry* node = pending_files.load();
    while (node != nullptr && node->live) node = node->next;
    if (node == nullptr) {
        node = new output_file::pending_entry;
        node->next = pending_files.load();
        pending_files.store(node);
    }
    std::copy(native.c_str(), native.c_str() + native.size() + 1, node->name);
    node->live = 1;
    return node;
}

void untrack_pending(output_file::pending_entry*& node) {
    if (node != nullptr) node->live = 0;
    node = nullptr;
}

}  // namespace

#ifdef _WIN32
signals_held::signals_held() = default;
signals_held::~signals_held() = default;
#else
signals_held::signals_held() {
    sigset_t held;
    sigemptyset(&held);
    for_each_caught_signal([&held](int signal_number) { sigaddset(&held, signal_number); });
    static_assert(sizeof(sigset_t) <= sizeof(saved_), "a signal set fits in saved_");
    sigprocmask(SIG_BLOCK, &held, reinterpret_cast<sigset_t*>(saved_));
}

signals_held::~signals_held() {
    // A signal that came meanwhile is delivered here.
    sigprocmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(saved_), nullptr);
}
#endif

void remove_work_file_on_signal() {
    install_handlers();
    work_file_too = 1;
}

output_file::~output_file() { discard(); }

bool output_file::open(const std::string& target, in_place_writes when) {
    discard();
    in_place_ = written_in_place(target);
    if (in_place_ && when == in_place_writes::as_written) {
        stream_ = open_in_place(target);
        if (stream_ == nullptr) return false;
        target_ = target;
        return true;
    }
    // A target written in place at commit: the hidden file is new, with the
    // permissions any new file gets.
    const int mode = in_place_ ? 0666 : replaceable_mode(target);
    if (mode < 0) return false;
    name_parts parts = split_name(target);
    std::minstd_rand random(static_cast<unsigned>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^ std::random_device()()));
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    constexpr std::size_t added = 8;  // '.', then '.' and six letters
    bool cut = false;
    for (int attempt = 0; attempt < 100 && stream_ == nullptr; ++attempt) {
        std::string suffix(6, 'x');
        for (char& c : suffix) c = letters[random() % (sizeof letters - 1)];
        hidden_name_ = parts.directory + "." + parts.base + "." + suffix;
        stream_ = create_new_file(hidden_name_, mode);
        if (stream_ != nullptr || errno == EEXIST) continue;
        // A target whose name is near the longest the file system takes:
        // the hidden name is cut to the target's length.
        if (errno != ENAMETOOLONG || cut || parts.base.size() <= added) break;
        parts.base = cut_name(parts.base, added);
        cut = true;
    }
    if (stream_ == nullptr) {
        hidden_name_.clear();
        return false;
    }
    target_ = target;
    pending_ = track_pending(hidden_name_);
    return true;
}

bool output_file::write(const void* data, std::size_t size) {
    return std::fwrite(data, 1, size, stream_) == size;
}

bool output_file::commit() {
    // The hidden file of a target written in place is read back and removed:
    // it need not reach the disk.
    bool written = true;
    int error = 0;
    if (stream_ != nullptr) {  // else closed by close_synced()
        written = std::fflush(stream_) == 0 && (in_place_ || sync_to_disk(stream_));
        error = errno;
        if (std::fclose(stream_) != 0 && written) {
            written = false;
            error = errno;
        }
    }
    stream_ = nullptr;
    if (hidden_name_.empty()) {  // written in place as written
        errno = error;
        return written;
    }
    if (written && (in_place_ ? copy_in_place() : move_over(hidden_name_, target_))) {
        if (in_place_) remove_file(hidden_name_);
        untrack_pending(pending_);
        hidden_name_.clear();
        return true;
    }
    if (written) error = errno;
    remove_file(hidden_name_);
    untrack_pending(pending_);
    hidden_name_.clear();
    errno = error;
    return false;
}

// Copies the hidden file, closed, into the target opened in place.
bool output_file::copy_in_place() const {
    std::FILE* from = open_for_reading_no_follow(hidden_name_);
    if (from == nullptr) return false;
    std::FILE* to = open_in_place(target_);
    if (to == nullptr) {
        const int error = errno;
        std::fclose(from);
        errno = error;
        return false;
    }
    std::vector<char> buffer(1 << 16);
    bool copied = true;
    int error = 0;
    std::size_t count;
    while (copied && (count = std::fread(buffer.data(), 1, buffer.size(), from)) > 0) {
        copied = std::fwrite(buffer.data(), 1, count, to) == count;
        if (!copied) error = errno;
    }
    if (copied && std::ferror(from)) {
        copied = false;
        error = EIO;
    }
    if (std::fflush(to) != 0 && copied) {
        copied = false;
        error = errno;
    }
    if (std::fclose(to) != 0 && copied) {
        copied = false;
        error = errno;
    }
    std::fclose(from);
    errno = copied || error != 0 ? error : EIO;
    return copied;
}

bool output_file::close_synced() { return close_kept(true); }

bool output_file::close_hidden() { return close_kept(false); }

bool output_file::close_kept(bool synced) {
    if (stream_ == nullptr || hidden_name_.empty()) {
        errno = EINVAL;
        return false;
    }
    bool written = std::fflush(stream_) == 0 && (!synced || sync_to_disk(stream_));
    int error = errno;
    if (std::fclose(stream_) != 0 && written) {
        written = false;
        error = errno;
    }
    stream_ = nullptr;
    errno = error;
    return written;
}

void output_file::discard() {
    if (stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
    if (!hidden_name_.empty()) remove_file(hidden_name_);
    untrack_pending(pending_);
    hidden_name_.clear();
}

}  // namespace lexaro
