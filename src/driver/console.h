// Everything lexaro says goes to standard output; nothing to standard error.
// Standard output is a text stream: on Windows each "\n" reaches it as
// CR LF, while the counter's "\r" stays a lone carriage return.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lexaro {

// Leaves standard output unbuffered on a terminal or console, so that each value of the
// progress counter shows at once, and fully buffered otherwise. Call before
// the first write.
void setup_console();

void console_write(std::string_view text);

// Writes the running entry count, "N\r", as one write.
void write_progress(uint32_t count);

// Prints "\nerror: ", the message up to its first zero byte and a newline,
// flushes standard output and ends the process with status 1. exit() writes
// out what is still buffered for every open C stdio stream, so files written
// through stdio keep everything written before the error.
[[noreturn]] void fatal_error(std::string_view message);

// A program that runs the two passes inside a run of its own (lexaro-import)
// takes over what they report: the counter goes to its own display, a fatal
// error leaves the passes by throwing, so that the caller removes its files
// and reports it, and the database may be checked before it replaces the
// one before it. lexaro itself sets none, and keeps the behaviour above.
class pass_observer {
public:
    virtual void entry_read(uint32_t count) = 0;
    // Must throw; the passes' objects close their files on the way out.
    [[noreturn]] virtual void failed(const std::string& message) = 0;
    // The database written whole under hidden_name, not yet in place: what
    // is wrong with it, or nothing.
    virtual std::optional<std::string> check_database(const std::string& hidden_name) = 0;

protected:
    ~pass_observer() = default;
};

// While an observer is set, write_progress and fatal_error go to it.
void observe_passes(pass_observer* observer);

// Work that a fatal error settles before it is reported: the compiler's
// blocks still being compressed on other threads. Those cut before the
// failure are written first, in order, since a failure among them is the
// one that came first; then the threads end, so that nothing runs beside
// the exit or the caller that takes the error over.
class failure_settler {
public:
    // Runs once, on the failing thread; a failure of its own is fatal in
    // its place.
    virtual void settle() = 0;

protected:
    ~failure_settler() = default;
};

// While a settler is set, the next fatal error calls it first (and clears it).
void settle_before_failing(failure_settler* settler);

// The observer's verdict on a database written whole; nothing without one.
std::optional<std::string> check_written_database(const std::string& hidden_name);

}  // namespace lexaro
