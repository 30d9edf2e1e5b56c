#include "common/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <random>

namespace lexaro {

namespace {

struct name_parts {
    std::string directory;  // with its final '/', or empty for the working directory
    std::string base;
};

name_parts split_name(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {"", path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

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

// Makes sure a rename is on the disk before the run reports success.
void sync_directory(const std::string& directory) {
    const int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);  // some file systems refuse to sync a directory; the rename stands
    ::close(fd);
}

// The hidden file being written, for the signal handler: a run ended by
// Ctrl-C, a hangup, a termination or a file-size limit removes it on the
// way out. Only the last file opened is tracked; a process writes one at a
// time.
char pending_name[4096];
volatile std::sig_atomic_t pending = 0;

extern "C" void remove_pending_and_die(int signal_number) {
    if (pending) unlink(pending_name);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

void track_pending(const std::string& name) {
    static const bool handlers_installed = [] {
        for (int signal_number : {SIGINT, SIGHUP, SIGTERM, SIGXFSZ}) {
            // A signal the caller chose to ignore stays ignored.
            struct sigaction current;
            if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
                std::signal(signal_number, remove_pending_and_die);
        }
        return true;
    }();
    (void)handlers_installed;
    pending = 0;
    if (name.size() >= sizeof pending_name) return;
    std::memcpy(pending_name, name.c_str(), name.size() + 1);
    pending = 1;
}

void untrack_pending() { pending = 0; }

}  // namespace

output_file::~output_file() { discard(); }

bool output_file::open(const std::string& target) {
    discard();
    const int mode = replaceable_mode(target);
    if (mode < 0) return false;
    const name_parts parts = split_name(target);
    std::minstd_rand random(static_cast<unsigned>(
        std::chrono::steady_clock::now().time_since_epoch().count() ^ getpid()));
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        std::string suffix(6, 'x');
        for (char& c : suffix) c = letters[random() % (sizeof letters - 1)];
        hidden_name_ = parts.directory + "." + parts.base + "." + suffix;
        // The file is made new, never opened through a link, and created
        // with 0666 so that the umask applies as to any new file.
        fd = ::open(hidden_name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        hidden_name_.clear();
        return false;
    }
    if ((mode != 0666 && fchmod(fd, static_cast<mode_t>(mode)) != 0) ||
        (stream_ = fdopen(fd, "wb")) == nullptr) {
        const int error = errno;
        ::close(fd);
        unlink(hidden_name_.c_str());
        hidden_name_.clear();
        errno = error;
        return false;
    }
    target_ = target;
    track_pending(hidden_name_);
    return true;
}

bool output_file::write(const void* data, std::size_t size) {
    return std::fwrite(data, 1, size, stream_) == size;
}

bool output_file::commit() {
    bool written = std::fflush(stream_) == 0 && fsync(fileno(stream_)) == 0;
    int error = errno;
    if (std::fclose(stream_) != 0 && written) {
        written = false;
        error = errno;
    }
    stream_ = nullptr;
    if (written && std::rename(hidden_name_.c_str(), target_.c_str()) == 0) {
        untrack_pending();
        sync_directory(split_name(target_).directory);
        hidden_name_.clear();
        return true;
    }
    if (written) error = errno;
    unlink(hidden_name_.c_str());
    untrack_pending();
    hidden_name_.clear();
    errno = error;
    return false;
}

void output_file::discard() {
    if (stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
    if (!hidden_name_.empty()) unlink(hidden_name_.c_str());
    untrack_pending();
    hidden_name_.clear();
}

}  // namespace lexaro
