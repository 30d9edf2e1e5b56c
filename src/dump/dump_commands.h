// The commands of lexaro-dump: check a database and summarise it, write its
// source back, look a word up. Results go to `out`, messages to `err`; each
// command returns the exit status.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/buffered_output.h"
#include "common/charset.h"
#include "common/random_access_file.h"
#include "dump/database_reader.h"

namespace lexaro::dump {

constexpr int status_ok = 0;      // sound, or the word was found
constexpr int status_failed = 1;  // unsound, unreadable, or the word was not found
constexpr int status_usage = 2;

extern const char usage_text[];

struct options {
    enum class command { check, text, lookup, help } what = command::check;
    std::string word;     // for lookup
    std::string charset;  // the database's character set, shown as UTF-8; empty: as it is
    std::vector<std::string> paths;  // one, or for lookup the volumes of a dictionary
};

// The arguments after the program name; nothing for a usage error, with its
// reason in problem where the usage line alone would not say it.
std::optional<options> parse_arguments(const std::vector<std::string_view>& args,
                                       std::string* problem = nullptr);

// Opens a file that can be a database: a regular file, smaller than the
// largest database. Gives the message when it cannot; a FIFO or a device is
// refused without being opened, so the run never waits for a writer.
std::optional<std::string> open_database_file(const std::string& path, random_access_file& file);

// Entries out of ascending byte order, and words that repeat the word
// before them: in a sorted dictionary these are all the repeated words.
struct order_report {
    std::string previous;
    uint64_t entry = 0;
    uint64_t unsorted = 0, first_unsorted = 0;
    uint64_t repeated = 0;
    bool in_repeat = false;
    std::string first_repeated;

    void add(std::string_view word);
};

// What --check checks: every rule of the layout, and every block inflated
// and read, in order. Nothing when the database is sound. With more than
// one job the blocks are inflated that many at a time; the verdict is the
// same for every number.
outcome check_database(const random_access_input& file, database& db, order_report& order,
                       entry_totals& totals, unsigned jobs = 1);

// Each command writes its results to out and stops early once a write has
// failed; the caller reports that failure.
// With a decoder, the text of the database is shown made UTF-8 from its set
// (the word to look up is given in the database's set): in the check's
// summary, the title, the database name and the first repeated word.
int check_command(const random_access_input& file, std::string_view name, buffered_output& out,
                  std::ostream& err, charset_decoder* shown = nullptr);
int text_command(const random_access_input& file, std::string_view name, buffered_output& out,
                 std::ostream& err, charset_decoder* shown = nullptr);
int lookup_command(const random_access_input& file, std::string_view name, std::string_view word,
                   buffered_output& out, std::ostream& err, charset_decoder* shown = nullptr);
// Over the volumes of a dictionary cut by word range, as a reader with all
// of them installed finds a word: in the volume whose range holds it (the
// first given, should several), through that volume's block keys.
int lookup_command(const std::vector<const random_access_input*>& files,
                   const std::vector<std::string>& names, std::string_view word,
                   buffered_output& out, std::ostream& err, charset_decoder* shown = nullptr);

// The whole program: parses the arguments, opens the file, runs the
// command, and closes out; a failed write or close of out is a failure.
int run(int argc, const char* const* argv, buffered_output& out, std::ostream& err);

}  // namespace lexaro::dump
