// The dictd format: X.index, one "word<TAB>offset<TAB>length" line per key
// (offset and length in dictd's base64 digits), and the articles in X.dict,
// or X.dict.dz when dictzip has compressed it.
#pragma once

#include <string>
#include <string_view>

#include "import/raw_entry.h"

namespace lexaro::import {

// PATH is X.index, X.dict or X.dict.dz (the others are found beside it).
// Hands every (key, article) to sink; gives the dictionary's own title (from the
// 00-database-short / 00databaseshort entry), or "" when it has none. Throws import_error.
//
// Every key is a word; keys that share an article each get it. The
// 00-database-* and 00database* entries describe the dictionary and are not
// words. Entries reach the sink in the order of their articles in the data
// file, which reads each dictzip chunk once; dictfmt writes the articles of
// one key in the order its index lists them.
std::string read_dictd(const std::string& path, entry_sink& sink);

// dictfmt copies each article from its source, which mostly begins with the
// headword as the dictionary writes it, often followed by pronunciation and
// grammar on the same line: "Abfalleimer /ˈapfˌalaɪmɜ/ <masc, n, sg>", while
// the index holds the key folded to lower case ("abfalleimer"). When the first
// line begins with text that dictfmt would have indexed as KEY (letters and
// digits compared without case, runs of white space as one space, other
// characters left out, so "no ... del todo" begins with the key "no del
// todo"), that text is the word, with its capitals and punctuation, and the
// article goes on after it (after its line, when nothing else is on it). The
// headword runs to the last white space before the next letter or digit.
// A first line of headwords joined by ';' (dictfmt --headword-separator) gives
// the one that is KEY, and goes whole. In an index that keeps spellings
// rather than folded keys (spelled_keys: GCIDE's, whose keys hold capitals),
// a KEY that the headword spells otherwise than in case is the word of its
// own ("email" beside the headword "E-mail"), and the headword still goes.
// Otherwise, as when an abbreviation's key
// leads to the article of the full word, the key is the word and the article
// is given whole.
struct headword_split {
    std::string_view word;
    std::string_view text;
    bool from_article;  // the word is the article's own headword
};
headword_split split_headword(std::string_view key, std::string_view article,
                              bool spelled_keys = false);

// Whether a word holds a letter that is not in lower case.
bool differs_in_case(std::string_view word);

}  // namespace lexaro::import
