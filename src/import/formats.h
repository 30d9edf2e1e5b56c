// The formats lexaro-import reads: their names, how a file shows which one
// it is, which files each reads, and the reader to call.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/raw_entry.h"

namespace lexaro::import {

enum class format { tab, dictd, stardict, trans, lexaro };

// "tab", "dictd", "stardict", "trans", "lexaro".
std::string_view format_name(format f);
std::optional<format> format_from_name(std::string_view name);
extern const char format_names[];  // "tab, dictd, stardict, trans or lexaro"

// The format of the file at path: dictd and StarDict by the names of their
// files, the text formats by their first lines (tab-separated lines or
// "##" headers; " :: " lines; a title line, then "word$translation" lines).
// import_error naming the file and --format when it cannot tell.
format detect_format(const std::string& path);

// Which of the text formats these first lines of a file are in; nothing
// when they fit none, or more than one equally well.
std::optional<format> recognise_text(std::string_view sample, bool whole_file);

// Every existing file that reading path in format f may open: for dictd and
// StarDict the files beside it with the same base name.
std::vector<std::string> files_read(format f, const std::string& path);

// Reads the dictionary with the reader of format f; gives its title or "".
std::string read_dictionary(format f, const std::string& path, entry_sink& sink);

}  // namespace lexaro::import
