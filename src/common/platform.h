// The few calls that differ between the systems lexaro runs on, behind small
// functions so that the rest of the code reads the same everywhere.
#pragma once

#include <cstdio>
#include <string>

namespace lexaro {

// Opens /dev/null on any of standard input, output and error that is closed,
// so that no file the run opens later takes their place and receives what is
// meant for the console.
void ensure_standard_streams();

// Whether the two names lead to one and the same existing file (through a
// link, another spelling, or a hard link).
bool same_file(const std::string& a, const std::string& b);

// Whether standard output is the existing file of that name (a redirection
// onto it).
bool standard_output_is(const std::string& name);

// Whether standard error is a terminal.
bool standard_error_is_terminal();

// Opens a file for binary reading without following a link at its name;
// null, with errno set, when it cannot.
std::FILE* open_for_reading_no_follow(const std::string& name);

// A working file that one run at a time may hold: created, or reused when a
// regular file of that name exists, without following a link at the name;
// then locked for the rest of the process, and only then emptied.
enum class claim_result { claimed, cannot_create, in_use };
claim_result claim_work_file(const std::string& name, std::FILE** stream);

// Ends the claim before the process does (the lock goes with the process).
void release_work_file();

}  // namespace lexaro
