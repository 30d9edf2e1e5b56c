// The command line of lexaro-import and the whole run: read a dictionary in
// one of the formats, clean its entries up, sort and merge them by word,
// write the source that lexaro compiles, and summarise on standard error.
#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/formats/formats.h"

namespace lexaro::import {

constexpr int status_ok = 0;
constexpr int status_failed = 1;  // an input or output error
constexpr int status_usage = 2;
constexpr int max_jobs = 256;  // --jobs

extern const char usage_line[];
extern const char usage_text[];

struct options {
    // --format: none, each input's format recognised from it; one, every
    // input's; else one for each input, in their order.
    std::vector<format> input_formats;
    std::optional<std::string> title;
    std::string join = " | ";
    std::string newline = "; ";
    bool keep_duplicates = false;
    std::string charset;        // the handheld's character set; empty: UTF-8 as it is
    std::string input_charset;  // the input's character set; empty: UTF-8 or a byte-order mark
    bool fold_case = false;     // words in lower case, the dictionary's spelling kept
    bool fold_accents = false;  // words without diacritics, the dictionary's spelling kept
    std::string translations;   // Wiktextract: the language whose translations make the words
    std::string columns;        // CSV: the columns that make the translation
    bool reverse = false;       // the translations' terms made the words
    std::optional<int> words_per_block;  // for a .pdb output: the block size
    std::optional<int> jobs;  // for a .pdb output: blocks at once; default: usable processors
    std::optional<uint64_t> max_size;  // for a .pdb output: volumes of at most this many bytes
    std::string max_size_given;        // its value as given
    bool help = false;
    std::vector<std::string> inputs;  // read in this order, "-" (standard input) at most once
    std::string output;               // "-" for standard output
};

// The arguments after the program name: the inputs, then the output.
// Options may come before, between or after the file names, as "--name
// VALUE" or "--name=VALUE"; "--" ends them. Nothing, with the reason in
// problem, for a usage error.
std::optional<options> parse_arguments(const std::vector<std::string_view>& args,
                                       std::string& problem);

// Opens input number `which` and settles its format, as run() does: the
// one given, else the one its name shows, else the one its first bytes
// show; import_error when none does. Text formats get the input's text, made
// UTF-8, in `text`.
format open_input(const options& o, std::size_t which, std::unique_ptr<text_input>& text);

// The input's name without directory and extension(s) (freedict-deu-eng of
// freedict-deu-eng.index): the title of last resort.
std::string dictionary_name(const std::string& path);

// The short names that label the inputs' translations where a word comes
// from several: each input's dictionary_name ("stdin" for standard input);
// where an earlier input has the name, the first of NAME-2, NAME-3, ... that
// no input has and no earlier label is.
std::vector<std::string> input_labels(const std::vector<std::string>& inputs);

// The whole program. terminal: whether to show progress on err.
int run(const std::vector<std::string_view>& args, std::ostream& out, std::ostream& err,
        bool terminal);

}  // namespace lexaro::import
