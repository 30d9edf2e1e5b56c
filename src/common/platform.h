// The few calls that differ between the systems lexaro runs on, behind small
// functions so that the rest of the code reads the same everywhere.
//
// File names are UTF-8 everywhere. On Windows they are converted to UTF-16
// and opened through the wide-character calls, so that any name works
// whatever the code page; elsewhere they are the bytes given. Every file is
// read and written in binary mode: the only line-end rules are the program's
// own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace lexaro {

// The name as the system's file calls take it.
std::filesystem::path file_path(const std::string& name);

// Opens /dev/null (NUL on Windows) on any of standard input, output and
// error that is closed, so that no file the run opens later takes their
// place and receives what is meant for the console.
void ensure_standard_streams();

// Whether descriptor fd (0 to 2) was closed when ensure_standard_streams()
// ran: an output meant for it fails as a closed descriptor does (EBADF)
// rather than vanish into /dev/null.
bool standard_stream_was_closed(int fd);

// What lies at a name, links followed. Nothing is opened: a FIFO there never
// makes the caller wait for a writer. On Windows, a name of the device
// namespace (NUL, CON, \\.\pipe\NAME) is `other`.
enum class file_type { none, regular, directory, other };
file_type type_of_file(const std::string& name);

// The folder part of a file name, with its final separator ("/", and on
// Windows also "\\" and a drive's ":"), or "" for a name in the working
// folder: what a name relative to that file is put after.
std::string folder_of(const std::string& name);

// Whether an output of this name is written in place rather than replaced
// by a new file: it holds a device, a FIFO or a socket (links followed), or
// it is one of this process's own descriptors (/dev/stdout, /dev/fd/N,
// /proc/self/fd/N), whatever that descriptor leads to. On Windows, a name of
// the device namespace.
bool written_in_place(const std::string& name);

// Opens an output that is written in place for binary writing, without
// creating or emptying anything: one of this process's own descriptors is
// copied (EBADF when it was closed at the start), anything else opened. A
// FIFO's open waits for a reader, as a FIFO's writer must; a device's open
// does not wait. Null, with errno set, when it cannot.
std::FILE* open_in_place(const std::string& name);

// Whether what was written through the descriptor has reached its file as
// far as closing it tells (a network file system reports write errors then),
// leaving the descriptor open; false, with errno set, when it has not.
bool check_written(int fd);

// Whether the stream is a console (a terminal) rather than a file or a pipe.
bool is_console(std::FILE* stream);

// Shows UTF-8 text on the console that the descriptor writes to, as written
// whatever the console's code page (WriteConsoleW), and gives true; false,
// having done nothing, when the descriptor is no Windows console: its bytes
// then go out as they are. `taken` is the bytes shown: a character cut short
// at the end waits for the next call.
bool write_to_console(int fd, std::string_view utf8, std::size_t& taken);

// Makes the descriptor write its bytes unchanged: on Windows standard output
// is a text stream that writes "\n" as CR LF; elsewhere nothing changes.
// Call before the first write.
void set_binary_mode(int fd);

// Whether the two names lead to one and the same existing file (through a
// link, another spelling, or a hard link).
bool same_file(const std::string& a, const std::string& b);

// The absolute name of what lies at a name, with every link and every "."
// and ".." resolved as the system resolves them when it opens the name
// (realpath; on Windows the final name of the file, drive or share first);
// "" with errno set when nothing lies there or it cannot be resolved.
std::string resolved_path(const std::string& name);

// Whether `path` is `folder` or lies below it, both as resolved_path gives
// them: compared separator by separator, so that "/a/bc" is not below "/a/b".
bool lies_within(const std::string& path, const std::string& folder);

// What tells one file from every other while it exists, whatever name leads
// to it (a link, a hard link): its device and inode, on Windows its volume's
// serial number and file index. Links at the name are followed.
struct file_identity {
    uint64_t device = 0;
    uint64_t file = 0;
    bool operator==(const file_identity& o) const { return device == o.device && file == o.file; }
};
// False, with errno set, when nothing lies at the name.
bool identify_file(const std::string& name, file_identity& identity);

// Opens a file for reading in binary mode; -1, with errno set, when it
// cannot, or when it is a directory.
int open_for_reading(const std::string& name);

// Reads up to size bytes from a descriptor of open_for_reading, retrying a
// read that a signal interrupted: the count read, 0 at the end of the file,
// or -1 with errno set.
long read_some(int fd, void* buffer, std::size_t size);

void close_descriptor(int fd);

// Whether standard output is the existing file of that name (a redirection
// onto it).
bool standard_output_is(const std::string& name);

// Whether standard error is a terminal.
bool standard_error_is_terminal();

// Opens a file for binary reading without following a link at its name;
// null, with errno set, when it cannot.
std::FILE* open_for_reading_no_follow(const std::string& name);

// Removes a file; false, with errno set, when it cannot.
bool remove_file(const std::string& name);

// Creates a file that did not exist, for binary writing, never through a
// link at its name; gives it the permission bits in mode (on systems that
// have them). Null, with errno set (EEXIST when the name is taken), when it
// cannot.
std::FILE* create_new_file(const std::string& name, int mode);

// A working file that one run at a time may hold, created new and empty,
// never through a link at the name, and locked for the rest of the process;
// its stream writes and reads.
// A regular file already at the name is another run's while its lock is
// held (in_use, and it is left alone); otherwise it is removed first, never
// written, since it may be a hard link whose other names keep their bytes.
// The lock keeps other runs out and leaves reading and writing the file
// free; the file may be removed while it is held.
enum class claim_result { claimed, cannot_create, in_use };
claim_result claim_work_file(const std::string& name, std::FILE** stream);

// Ends the claim before the process does (the lock goes with the process).
void release_work_file();

// Whether this process holds a working file now.
bool holds_work_file();

// Removes the working file this process holds, as long as its name still
// leads to that file (nothing when it holds none). Safe in a signal handler.
void remove_held_work_file();

// Whether this build can start threads: a WebAssembly build without them
// cannot, and does everything on the one thread it has.
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
constexpr bool threads_available = false;
#else
constexpr bool threads_available = true;
#endif

// The processors this process may run on: those of its affinity mask (as
// taskset or a container's CPU set leaves them), at least 1; 1 where
// threads_available is false.
unsigned usable_processors();

}  // namespace lexaro
