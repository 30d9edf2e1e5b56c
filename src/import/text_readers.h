// The readers of the three text formats. Each reads its file in large
// buffered reads, hands every entry to the sink in the order of the file and
// gives the dictionary's title, or "" when the file names none.
#pragma once

#include <string>

#include "import/raw_entry.h"

namespace lexaro::import {

// Tab-separated text as PyGlossary's Tabfile writes it: "word<TAB>definition"
// per line, "\n", "\t" and "\\" escaped in both; "##name<TAB>Title" (or
// "##name Title") and other "##key value" header lines before the first
// entry. A definition that holds HTML tags or character references is
// marked HTML. Blank lines and lines without a tab are skipped.
std::string read_tab(const std::string& path, entry_sink& sink);

// Debian's trans-de-en: "German :: English" per line, "#" lines comments.
// Both sides are cut at " | " into parts that belong together, and each
// German part at "; " into alternatives (never inside brackets). Every
// alternative is a word, with its annotations ({n}, [mus.], (...), <...>)
// left out and its spaces made single; its translation is the English part
// in the same place, or the whole English side when the two sides have a
// different number of parts. The title is the file's name and the version
// from its "# Version :: " comment.
std::string read_trans(const std::string& path, entry_sink& sink);

// lexaro's own source: the first line is the title, every further line
// "word$translation", cut at its first '$'. Line ends LF or CR LF; a byte
// 0x1A ends the input; blank lines are skipped. import_error for a line
// without '$', naming the file and the line.
std::string read_source(const std::string& path, entry_sink& sink);

}  // namespace lexaro::import
