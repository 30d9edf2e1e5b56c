// Reading dictionary files that may be compressed: whole files, gzip streams,
// and the uncompressed bytes of a dictionary's data file by range, whether the
// file is plain, gzip, or dictzip (gzip whose header holds a table of chunks
// compressed one by one, so that a range needs only the chunks it touches).
//
// Every failure throws input_error with a message that names the file.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/random_access_file.h"

namespace lexaro {

// A file that cannot be opened, read or decoded; the message names it.
class input_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One regular file opened for reading at any position, which throws on
// failure.
class input_file {
public:
    // "can't open file PATH", or "PATH is not a regular file" for a FIFO or a
    // device, which is refused without being opened.
    explicit input_file(const std::string& path);

    const std::string& path() const { return path_; }
    uint64_t size() const { return file_.size(); }

    // Reads up to `length` bytes at `offset`; gives how many, fewer only at
    // the end of the file. "can't read file PATH" when the system fails.
    std::size_t read_at(uint64_t offset, void* out, std::size_t length) const;

    // Reads exactly `length` bytes at `offset`, or says that the file ends early.
    void read_exactly(uint64_t offset, void* out, std::size_t length) const;

private:
    std::string path_;
    random_access_file file_;
};

// True when something other than a directory lies at PATH (links
// followed). It is not opened: a FIFO found beside a dictionary's file is
// taken as there, and input_file then says what it is, rather than waiting
// for a writer or passing for a missing file.
bool file_exists(const std::string& path);

// The whole of a plain file; "PATH is larger than N bytes" past max_size,
// or past what memory can hold on a 32-bit system (SIZE_MAX).
std::string read_whole_file(const std::string& path, uint64_t max_size = UINT64_MAX);

// True when the bytes begin as a gzip file does.
bool looks_like_gzip(std::string_view first_bytes);

// A gzip file (one member or several in a row) inflated from the start, piece
// by piece. zlib checks each member's header and its CRC and length trailer.
class gzip_stream {
public:
    explicit gzip_stream(const std::string& path);  // "PATH is not gzip data" when it is not
    // The gzip data that begin with first_bytes, already read from the
    // descriptor, and go on with what it reads; a pipe too. Named `name` in
    // messages; cannot rewind. The descriptor stays the caller's.
    gzip_stream(const std::string& name, int fd, std::string_view first_bytes);
    // The one gzip member that starts at `offset` of the file, as another
    // format embeds it after a header of its own: "PATH: no gzip data at
    // offset N" when none starts there. Reading ends with that member, and
    // its trailer's CRC-32 and length go unchecked, since the writers of such
    // formats leave them wrong; damaged or missing deflate data still fail.
    gzip_stream(const std::string& path, uint64_t offset);
    ~gzip_stream();
    gzip_stream(const gzip_stream&) = delete;
    gzip_stream& operator=(const gzip_stream&) = delete;

    const std::string& path() const { return name_; }

    // Inflates up to `length` bytes into `out`; gives how many, 0 only at the
    // end of the data.
    std::size_t read(char* out, std::size_t length);

    // Starts again from the first byte (of an embedded member, from its offset).
    void rewind();

private:
    void fill_input();
    [[noreturn]] void fail(int status) const;

    std::string name_;
    std::unique_ptr<input_file> file_;  // null when reading a descriptor
    int fd_ = -1;
    std::string first_bytes_;  // of a descriptor, read before it was handed over
    z_stream z_{};
    std::vector<unsigned char> input_;
    uint64_t start_ = 0;         // file offset of the gzip data
    uint64_t input_offset_ = 0;  // file offset of the next byte to read
    bool embedded_ = false;      // one member at start_, trailer unchecked
    bool finished_ = false;
};

// The whole uncompressed contents of a gzip file; "PATH inflates to more
// than N bytes" past max_size, so that a small file cannot fill the memory.
std::string read_gzip_file(const std::string& path, uint64_t max_size);

// The uncompressed bytes of a dictionary's data file, read by range. Reading
// ranges in ascending order is the fast way for every kind: a gzip file that
// is not dictzip has to be inflated from the start to go back.
class data_file {
public:
    virtual ~data_file() = default;

    const std::string& path() const { return path_; }

    // The uncompressed size, when it is known before reading: always for
    // plain and dictzip files, never for other gzip files.
    virtual std::optional<uint64_t> size() const = 0;

    // The bytes [offset, offset + length), valid until the next call. Throws
    // input_error when the range lies past the end or the data are damaged.
    // The length is held in memory, so it is a size_t: a length that a file
    // claims is checked against the caller's own limit before it gets here,
    // never cut to fit on a 32-bit system.
    virtual std::string_view read(uint64_t offset, std::size_t length) = 0;

    // Checks that the bytes [offset, offset + length) are there, without
    // holding them: a gzip file that is not dictzip is inflated past the
    // range and the bytes let go. Throws as read() does when they are not.
    virtual void check_range(uint64_t offset, uint64_t length);

    // How many dictzip chunks have been inflated so far; 0 for other files.
    virtual uint64_t chunks_inflated() const { return 0; }

protected:
    explicit data_file(std::string path) : path_(std::move(path)) {}
    [[noreturn]] void past_end(uint64_t offset, uint64_t length, uint64_t data_size) const;

private:
    std::string path_;
};

// Opens a data file, telling plain, gzip and dictzip apart by content.
std::unique_ptr<data_file> open_data_file(const std::string& path);

}  // namespace lexaro
