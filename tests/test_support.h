// Shared helpers for the tests: scratch folders, whole-file I/O, running the
// built lexaro binary, and reading a dictionary stream back. File names are
// UTF-8 on every system.
#pragma once

#include <atomic>
#include <csignal>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "compiler/stream_format.h"

namespace lexaro::test {

// A fresh folder under the system's temporary directory, removed afterwards.
// Its name comes from the test and the folders the test made before it, so
// that a death test's child process, which GoogleTest on Windows starts
// anew and which runs the test again up to the death, finds the same folder.
class scratch_dir {
public:
    scratch_dir();
    ~scratch_dir();
    scratch_dir(const scratch_dir&) = delete;
    scratch_dir& operator=(const scratch_dir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(std::string_view name) const { return path_ + "/" + std::string(name); }
    std::vector<std::string> files() const;  // sorted names of what the folder holds
    void remove(std::string_view name) const;
    void clear() const;  // removes everything the folder holds

private:
    std::string path_;
};

void write_file(const std::string& path, std::string_view bytes);
std::string read_file(const std::string& path);
bool exists(const std::string& path);

// Creates or empties a file for writing in binary mode; gives its descriptor.
int open_for_writing(const std::string& path);

// Makes a symbolic link; false where the system cannot (Windows without the
// right to, or wine, which only pretends to).
bool make_symlink(const std::string& target, const std::string& link);

// Whether this process may write any file, read-only ones too (root).
bool is_superuser();

// Whether the bytes can reach a program as a command-line argument: on
// Windows the command line is UTF-16, so only UTF-8 converts, and it holds
// at most 32767 characters.
bool passes_as_argument(std::string_view bytes);

struct run_result {
    std::string out;           // everything written to standard output
    std::string err;           // everything written to standard error
    int status;                // exit status, or 128 + signal number
    long peak_memory_kib = 0;  // the run's peak resident memory
};

// How a program is started, beyond its arguments and folder.
struct run_options {
    long file_size_limit = 0;  // when positive, caps every file the run writes (RLIMIT_FSIZE)
    long address_space_limit = 0;  // when positive, caps the run's memory in bytes (RLIMIT_AS)
    bool limit_kills = false;  // passing the cap kills the run (SIGXFSZ) instead of failing a write
    bool streams_closed = false;  // the run starts with standard input and output closed
    // Standard output carries bytes rather than console text. Console text
    // on Windows ends its lines with CR LF: the run's result holds the text
    // written, each CR LF back to "\n", and a lone "\n" fails the test.
    bool binary_output = false;
    bool unprivileged = false;    // a run started by root runs as the user nobody
    // When positive (not on Windows): the run's processor time in seconds
    // (RLIMIT_CPU), past which it is killed.
    long cpu_seconds_limit = 0;
    std::string standard_output;  // when set, the file standard output goes to, uncaptured
    // When set (not on Windows): the run is sent the signal as soon as the
    // file of this name in its folder holds a byte.
    std::string signal_when_written;
    // When set (not on Windows): the run is sent the signal as soon as a
    // file whose name begins so is in its folder, empty or not (".out.txt."
    // for a hidden output), or killed after a minute without one.
    std::string signal_when_named;
    int signal_number = 0;
    // When set (not on Windows): standard input is a pipe that gives these
    // bytes and stays open until the run ends, so that a run reading it to
    // its end waits there.
    std::string held_input;
};

// Windows has no file-size or address-space limits for run_options, no /proc,
// and no permission bits beyond read-only.
#ifdef _WIN32
constexpr bool on_windows = true;
constexpr int killed_by_file_size_limit = 0;  // never
#else
constexpr bool on_windows = false;
constexpr int killed_by_file_size_limit = 128 + SIGXFSZ;  // a run's status
#endif

// Whether the tests, and so the programs, are built with AddressSanitizer,
// whose shadow memory makes a run's resident memory and address space say
// nothing of what the program holds.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool address_sanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool address_sanitizer = true;
#else
constexpr bool address_sanitizer = false;
#endif
#else
constexpr bool address_sanitizer = false;
#endif

// Runs the lexaro binary in `folder` with the given arguments. A positive
// file_size_limit caps the size of every file the run writes (RLIMIT_FSIZE).
run_result run_lexaro(const std::vector<std::string>& args, const std::string& folder,
                      long file_size_limit = 0);

// The same for any program, and for the lexaro-dump binary (whose output
// with --text is binary). A non-empty standard_output names the file that
// standard output goes to instead of being captured (such as /dev/full).
run_result run_program(const char* binary, const std::vector<std::string>& args,
                       const std::string& folder, long file_size_limit = 0,
                       const std::string& standard_output = "");
run_result run_lexaro_dump(const std::vector<std::string>& args, const std::string& folder,
                           const std::string& standard_output = "");
run_result run_lexaro_import(const std::vector<std::string>& args, const std::string& folder);
run_result run_program_with(const char* binary, const std::vector<std::string>& args,
                            const std::string& folder, const run_options& options);

#ifndef _WIN32
// Runs the program under timeout(1): a run that waits for ever (on a FIFO)
// ends with status 124 after `seconds`.
run_result run_with_timeout(int seconds, const char* binary, const std::vector<std::string>& args,
                            const std::string& folder, const run_options& options = {});

// Makes a FIFO; false when it cannot.
bool make_fifo(const std::string& path);

// Reads what is written to a FIFO, from a thread of its own, until its
// writers close it. A run that never opens the FIFO leaves the thread
// waiting in its open; finish() ends that wait by opening it for a moment.
class fifo_reader {
public:
    explicit fifo_reader(std::string path);
    ~fifo_reader();
    fifo_reader(const fifo_reader&) = delete;
    fifo_reader& operator=(const fifo_reader&) = delete;

    // Everything read; call once the writers are done.
    std::string finish();

private:
    std::string path_;
    std::string bytes_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

#endif

// Compiles the source as dict.txt in `dir` with the lexaro binary and gives
// the bytes of dict.pdb; throws when lexaro fails.
std::string compile_database(const scratch_dir& dir, std::string_view source, int words_per_block);

// A dictionary source: the title line, then one "word$translation\n" per pair.
std::string make_source(std::string_view title,
                        const std::vector<std::pair<std::string, std::string>>& entries);

// The uncompressed block that holds these entries.
std::string uncompressed_block(const std::vector<std::pair<std::string, std::string>>& entries);

// Compresses a block as lexaro does: one zlib stream at level 9.
std::string compress_block(std::string_view block);

// The dictionary stream for these entries, put together here from the
// layout: the header, the blocks of per_block entries, the key table (each
// block's first and last words) and the block index. The title holds no
// zero byte and at most 256 bytes.
std::string expected_stream(std::string_view title,
                            const std::vector<std::pair<std::string, std::string>>& entries,
                            int per_block);

// Inflates one zlib stream.
std::string inflate(std::string_view compressed);

// A dictionary stream taken apart through its header and block index.
struct parsed_stream {
    stream_header header;
    std::vector<block_index_entry> index;
    std::vector<std::string> blocks;  // inflated
    std::vector<std::pair<std::string, std::string>> keys;
};
parsed_stream parse_stream(std::string_view stream);

// The usual progress counter output for entries 1 to n.
std::string progress(uint32_t n);

// Bytes that deflate cannot shrink, without those that end a line or the
// source (zero, LF, CR, 0x1A); the same bytes on every call.
std::string noise(std::size_t size);

}  // namespace lexaro::test
