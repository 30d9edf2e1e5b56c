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
    std::optional<format> input_format;  // recognised from the input when not given
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
    std::optional<int> words_per_block;  // for a .pdb output: the block size
    std::optional<int> jobs;  // for a .pdb output: blocks at once; default: usable processors
    bool help = false;
    std::string input;
    std::string output;  // "-" for standard output
};

// The arguments after the program name. Options may come before, between
// or after the two file names, as "--name VALUE" or "--name=VALUE"; "--"
// ends them. Nothing, with the reason in problem, for a usage error.
std::optional<options> parse_arguments(const std::vector<std::string_view>& args,
                                       std::string& problem);

// Opens the input and settles its format, as run() does: the one given,
// else the one its name shows, else the one its first bytes show;
// import_error when none does. Text formats get the input's text, made
// UTF-8, in `text`.
format open_input(const options& o, std::unique_ptr<text_input>& text);

// The input's name without directory and extension(s) (freedict-deu-eng of
// freedict-deu-eng.index): the title of last resort.
std::string dictionary_name(const std::string& path);

// The whole program. terminal: whether to show progress on err.
int run(const std::vector<std::string_view>& args, std::ostream& out, std::ostream& err,
        bool terminal);

}  // namespace lexaro::import
