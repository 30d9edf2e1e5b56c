// The StarDict format: X.ifo (the description), X.idx or X.idx.gz (each word
// with its article's offset and size), X.dict or X.dict.dz (the articles),
// and X.syn when present (synonyms, each pointing at a word of X.idx).
#pragma once

#include <string>

#include "import/raw_entry.h"

namespace lexaro::import {

// PATH is X.ifo (or X.idx / X.idx.gz / X.dict / X.dict.dz beside it). Gives the title
// (bookname). Throws import_error.
//
// Each word of X.idx and each synonym of X.syn reaches the sink with its
// article's text fields: m and t as plain text, h and g as HTML, x as XDXF;
// the other types (pictures, sounds, resources, ...) are left out, and a word
// whose article holds no text field is left out too. Several text fields are
// joined by a line break; when they differ in kind, the plain ones are escaped
// and the whole takes the kind of the first marked-up one. Entries reach the
// sink in the order of their articles in the data file; a word's synonyms
// follow it.
std::string read_stardict(const std::string& path, entry_sink& sink);

}  // namespace lexaro::import
