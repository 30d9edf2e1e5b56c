// Words as people type them on the handheld, where capitals and accents take
// extra strokes and the reader compares bytes exactly: in lower case
// (--fold-case) and without their diacritics (--fold-accents). Both map one
// character at a time through tables that scripts/make-unicode-tables writes
// from Unicode's data.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lexaro::import {

// Writes word in lower case into out (overwritten): Unicode's simple
// lower-case mapping, so a word already in lower case never changes ("ß",
// final "ς" and "µ" stay) and "İ" becomes "i". Bytes that are not UTF-8 stay
// as they are. True when out differs from word.
bool lower_case(std::string_view word, std::string& out);

// The scripts whose letters --fold-accents takes the marks off: there a mark
// is an accent on the letter, elsewhere it may make another letter (a kana's
// voicing mark, a Thai tone mark, an Arabic or Hebrew vowel sign).
enum class script { latin, greek, cyrillic };
constexpr std::size_t script_count = 3;
constexpr const char* script_names[script_count] = {"Latin", "Greek", "Cyrillic"};

// Writes word without the diacritics of its Latin, Greek and Cyrillic letters
// into out (overwritten): each such letter as its canonical decomposition
// without the combining marks ("é" "e", "ǘ" "u", "й" "и", "ΐ" "ι"), one whose
// mark has no decomposition as its base letter ("ø" "o", "ł" "l", "đ" "d"),
// and a combining diacritic after such a letter as nothing. The letters of
// other scripts keep their marks ("が", "ข้าว"). Bytes that are not UTF-8 stay
// as they are. True when out differs from word; scripts: the bit 1 << script
// of each script whose letters changed.
bool without_accents(std::string_view word, std::string& out, unsigned& scripts);
bool without_accents(std::string_view word, std::string& out);

}  // namespace lexaro::import
