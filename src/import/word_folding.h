// Words as people type them on the handheld, where capitals and accents take
// extra strokes and the reader compares bytes exactly: in lower case
// (--fold-case) and without their diacritics (--fold-accents). Both map one
// character at a time through tables that scripts/make-unicode-tables writes
// from Unicode's data.
#pragma once

#include <string>
#include <string_view>

namespace lexaro::import {

// Writes word in lower case into out (overwritten): Unicode's simple
// lower-case mapping, so a word already in lower case never changes ("ß",
// final "ς" and "µ" stay) and "İ" becomes "i". Bytes that are not UTF-8 stay
// as they are. True when out differs from word.
bool lower_case(std::string_view word, std::string& out);

// Writes word without its diacritics into out (overwritten): each character
// as its canonical decomposition without the combining marks ("é" "e", "ǘ"
// "u", "й" "и"), a letter whose mark has no decomposition as its base letter
// ("ø" "o", "ł" "l", "đ" "d"), a combining mark on its own as nothing. Bytes
// that are not UTF-8 stay as they are. True when out differs from word.
bool without_accents(std::string_view word, std::string& out);

}  // namespace lexaro::import
