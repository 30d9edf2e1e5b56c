// An output file written whole or not at all. The bytes go to a hidden file
// beside the target (".NAME.XXXXXX" in the target's directory), which commit()
// flushes, syncs to the disk and renames over the target. Until then a file
// at the target's name is untouched, and a run that fails or is killed never
// leaves half a file there; a hidden file never committed is removed, also
// when the run is ended by SIGINT, SIGHUP, SIGTERM or SIGXFSZ (on Windows by
// Ctrl-C, Ctrl-Break or SIGTERM); only SIGKILL, a process killed outright
// and a power loss leave it behind.
//
// A link at the target's name is replaced by the new file; the file it points
// to is left alone.
//
// Failures are returned, not reported: each caller words its own message.
#pragma once

#include <cstdio>
#include <string>

namespace lexaro {

class output_file {
public:
    output_file() = default;
    output_file(const output_file&) = delete;
    output_file& operator=(const output_file&) = delete;
    ~output_file();  // discards a file that was not committed

    // Creates the hidden file beside target. False, with errno set, when the
    // target cannot be written: its directory is missing or not writable, or
    // the name holds a directory or a file that may not be written. A new
    // file gets the permissions of the file it replaces, or those a newly
    // created file gets.
    bool open(const std::string& target);

    // The hidden file, open for binary writing; null before open().
    std::FILE* stream() const { return stream_; }

    // Writes through stream(); false when the write fails.
    bool write(const void* data, std::size_t size);

    // Flushes, syncs and closes the hidden file, then renames it over the
    // target. False, with errno set, when any step fails; the hidden file is
    // then removed and the target left as it was.
    bool commit();

    // Flushes and closes the hidden file and leaves it under its hidden name,
    // for the caller to read back; discard() (or the destructor) removes it.
    // False, with errno set, when a step fails.
    bool close_hidden();

    // Closes and removes the hidden file, if one is open.
    void discard();

    const std::string& hidden_name() const { return hidden_name_; }

private:
    std::FILE* stream_ = nullptr;
    std::string target_;
    std::string hidden_name_;
};

}  // namespace lexaro
