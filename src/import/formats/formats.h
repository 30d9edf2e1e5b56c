// The formats lexaro-import reads, one row each in one table: the name, the
// file names that show it, the test that tells it from its first lines, and
// the reader to call.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/raw_entry.h"
#include "import/text_input.h"

namespace lexaro::import {

// What readers may be told beyond their input.
struct reader_options {
    std::string translations;  // Wiktextract: the language whose translations make the words
    std::string input_charset;  // --input-charset, for readers that decode their text themselves
};

// What a reader is given.
struct reader_input {
    const std::string& path;  // as named on the command line ("-": standard input)
    text_input* text;         // its text made UTF-8, for the formats that read text; else null
    const reader_options& options;
};

struct format_row {
    std::string_view name;
    // A file whose name ends so is in this format; for a format that reads
    // text, also when ".gz" or ".dz" follows. Binary formats of several files
    // list them all: the others lie beside the one named.
    std::vector<std::string_view> extensions;
    // When not null, a file that the extensions match is this format only if
    // this agrees (StarDict's X.dict has an X.ifo beside it, dictd's has not).
    bool (*claims)(const std::string& path);
    // Whether these first lines of the text (made UTF-8) are in this format;
    // null for formats known by their names alone. whole_file: the sample
    // holds the whole file, so its last line is not cut short.
    bool (*looks_like)(std::string_view sample, bool whole_file);
    // Hands every entry to the sink in the order of the files; gives the
    // dictionary's own title, or "" when it names none. import_error for
    // input that would lose or shift entries.
    std::string (*read)(reader_input& input, entry_sink& sink);
    // True: the reader takes the text of the input; false: it opens its
    // files itself by path (dictd, StarDict), and any --input-charset is
    // applied to the entries it gives.
    bool reads_text;
    // The set to read the text in when it is not valid UTF-8 and the user
    // named none ("" for UTF-8 alone).
    std::string_view own_charset;
    // True: the files name their own character set and the reader makes
    // their text UTF-8 itself, from --input-charset when one is named
    // (reader_options) instead of what the files say.
    bool decodes_itself = false;
};

// One format.
using format = const format_row*;

std::string_view format_name(format f);
std::optional<format> format_from_name(std::string_view name);
// "tab, dictd, stardict, ..." and "or" before the last.
const std::string& format_names();

// The format that the file's name shows, when one does.
std::optional<format> format_by_name(const std::string& path);

// The format that these first lines of a text show, when exactly one does.
std::optional<format> format_by_content(std::string_view sample, bool whole_file);

// Which of the three plain text formats (tab, trans, lexaro) these first
// lines are in; nothing when they fit none, or more than one equally well.
std::optional<format> recognise_text(std::string_view sample, bool whole_file);

// Every existing file that reading path in format f may open: for dictd and
// StarDict the files beside it with the same base name.
std::vector<std::string> files_read(format f, const std::string& path);

}  // namespace lexaro::import
