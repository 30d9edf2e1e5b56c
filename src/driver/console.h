// Everything lexaro says goes to standard output; nothing to standard error.
// Standard output is a text stream: on Windows each "\n" reaches it as
// CR LF, while the counter's "\r" stays a lone carriage return.
#pragma once

#include <cstdint>
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

}  // namespace lexaro
