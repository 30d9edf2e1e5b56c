#include "common/platform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace lexaro {

void ensure_standard_streams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        // open() takes the lowest free descriptor, which is this one.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) ::close(opened);
    }
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool standard_output_is(const std::string& name) {
    struct stat so, sn;
    return fstat(STDOUT_FILENO, &so) == 0 && stat(name.c_str(), &sn) == 0 &&
           so.st_dev == sn.st_dev && so.st_ino == sn.st_ino;
}

bool standard_error_is_terminal() { return isatty(STDERR_FILENO) == 1; }

std::FILE* open_for_reading_no_follow(const std::string& name) {
    const int fd = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return nullptr;
    std::FILE* stream = fdopen(fd, "rb");
    if (stream == nullptr) ::close(fd);
    return stream;
}

namespace {

// The descriptor whose lock marks the working file as this run's. It stays
// open, and the file locked, until the process ends.
int held_work_file = -1;

}  // namespace

claim_result claim_work_file(const std::string& name, std::FILE** stream) {
    release_work_file();  // one working file at a time
    for (;;) {
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
        struct stat opened;
        if (fd < 0 || fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            if (fd >= 0) ::close(fd);
            return claim_result::cannot_create;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const bool busy = errno == EWOULDBLOCK;
            ::close(fd);
            return busy ? claim_result::in_use : claim_result::cannot_create;
        }
        // The run that held the lock may have deleted or replaced the file
        // between our open and our lock: then the lock is on a file that no
        // longer has the name, and the name is opened again.
        struct stat named;
        if (lstat(name.c_str(), &named) != 0 || named.st_dev != opened.st_dev ||
            named.st_ino != opened.st_ino) {
            ::close(fd);
            continue;
        }
        const int writer = dup(fd);
        if (writer < 0 || ftruncate(writer, 0) != 0 ||
            (*stream = fdopen(writer, "wb")) == nullptr) {
            if (writer >= 0) ::close(writer);
            ::close(fd);
            return claim_result::cannot_create;
        }
        held_work_file = fd;
        return claim_result::claimed;
    }
}

void release_work_file() {
    if (held_work_file >= 0) ::close(held_work_file);
    held_work_file = -1;
}

}  // namespace lexaro
