// The commands of lexaro-dump: check a database and summarise it, write its
// source back, look a word up. Results go to `out`, messages to `err`; each
// command returns the exit status.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lexaro::dump {

constexpr int status_ok = 0;      // sound, or the word was found
constexpr int status_failed = 1;  // unsound, unreadable, or the word was not found
constexpr int status_usage = 2;

extern const char usage_text[];

struct options {
    enum class command { check, text, lookup, help } what = command::check;
    std::string word;  // for lookup
    std::string path;
};

// The arguments after the program name; nothing for a usage error.
std::optional<options> parse_arguments(const std::vector<std::string_view>& args);

// Reads a whole file that is small enough to be a database; gives the
// message when it cannot.
std::optional<std::string> read_database_file(const std::string& path, std::string& bytes);

int check_command(std::string_view file, std::string_view name, std::ostream& out,
                  std::ostream& err);
int text_command(std::string_view file, std::string_view name, std::ostream& out,
                 std::ostream& err);
int lookup_command(std::string_view file, std::string_view name, std::string_view word,
                   std::ostream& out, std::ostream& err);

// The whole program: parses the arguments, reads the file, runs the command.
int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace lexaro::dump
