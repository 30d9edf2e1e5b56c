// An output file written whole or not at all. The bytes go to a hidden file
// beside the target (".NAME.XXXXXX" in the target's directory), which commit()
// flushes, syncs to the disk and renames over the target. Until then a file
// at the target's name is untouched, and a run that fails or is killed never
// leaves half a file there; a hidden file never committed is removed, also
// when the run is ended by a signal: any that would end the process and can
// be caught (SIGINT, SIGQUIT, SIGHUP, SIGTERM, SIGUSR1, SIGUSR2, SIGALRM,
// SIGVTALRM, SIGPROF, SIGPIPE, SIGXCPU, SIGXFSZ, and where the system has
// them SIGPOLL, SIGPWR, SIGSTKFLT and the real-time signals), but for the
// program's own faults; on Windows Ctrl-C, Ctrl-Break or SIGTERM. Every
// hidden file the process holds at the time goes, however many. Only
// SIGKILL, a process killed outright, a crash and a power loss leave it
// behind. The process then ends by the same signal, as it would have.
//
// A link at the target's name is replaced by the new file; the file it points
// to is left alone.
//
// A target that cannot be replaced by a file is written in place: a device,
// a FIFO or a socket (or a link to one), and this process's own descriptors
// (/dev/stdout, /dev/fd/N). It is opened for writing as it is, never created
// or emptied, and never renamed over. Its bytes go either through a hidden
// file all the same, copied into it by commit() (the default: nothing
// reaches it unless the whole was written, and the hidden file can be read
// back first), or straight to it as they are written.
//
// Failures are returned, not reported: each caller words its own message.
#pragma once

#include <cstdio>
#include <string>

namespace lexaro {

// When a target written in place receives its bytes.
enum class in_place_writes {
    at_commit,   // held in the hidden file until commit() copies them
    as_written,  // written straight to it; there is no hidden file
};

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
    // created file gets. A target written in place as_written is opened
    // here, and a FIFO's open waits for a reader.
    bool open(const std::string& target, in_place_writes when = in_place_writes::at_commit);

    // Whether the target opened is written in place rather than replaced.
    bool in_place() const { return in_place_; }

    // The file being written, open for binary writing: the hidden file, or
    // the target itself when it is written in place as_written; null before
    // open().
    std::FILE* stream() const { return stream_; }

    // Writes through stream(); false when the write fails.
    bool write(const void* data, std::size_t size);

    // Flushes, syncs and closes the hidden file, then renames it over the
    // target. False, with errno set, when any step fails; the hidden file is
    // then removed and the target left as it was. A target written in place
    // gets the hidden file's bytes copied into it, or, as_written, is
    // flushed and closed; a failure there may leave part of the bytes in it.
    bool commit();

    // Flushes, syncs to the disk and closes the hidden file, which keeps its
    // hidden name until commit() renames it: of several files that are to
    // replace their targets together, each is whole on the disk before the
    // first replaces anything. False, with errno set, when a step fails, and
    // (EINVAL) when there is no hidden file open; discard() then removes it.
    bool close_synced();

    // Flushes and closes the hidden file and leaves it under its hidden name,
    // for the caller to read back; discard() (or the destructor) removes it.
    // False, with errno set, when a step fails, and (EINVAL) when there is no
    // hidden file: a target written in place as_written.
    bool close_hidden();

    // Closes and removes the hidden file, if one is open; a target written
    // in place as_written is closed and keeps what it was given.
    void discard();

    const std::string& hidden_name() const { return hidden_name_; }

    struct pending_entry;  // what a signal removes

private:
    // Flushes (and syncs, when asked) and closes the hidden file, which
    // keeps its hidden name.
    bool close_kept(bool synced);
    bool copy_in_place() const;

    std::FILE* stream_ = nullptr;
    std::string target_;
    std::string hidden_name_;
    bool in_place_ = false;
    pending_entry* pending_ = nullptr;
};

// Holds back the signals above while it lives, so that files put in place
// together (the volumes of a dictionary) are all put there or none is: a
// signal that comes meanwhile ends the run once the last one is renamed.
// Ctrl-C on Windows is not held.
class signals_held {
public:
    signals_held();
    ~signals_held();
    signals_held(const signals_held&) = delete;
    signals_held& operator=(const signals_held&) = delete;

private:
    alignas(8) unsigned char saved_[128] = {};  // the signal mask before
};

// From now on, a run ended by one of the signals above also removes the
// working file it holds (claim_work_file): lexaro-import's temporary file
// goes with its hidden files. lexaro keeps its own, as after any failure.
void remove_work_file_on_signal();

}  // namespace lexaro
