// What every format reader of lexaro-import hands on: the entries of a
// dictionary as its files hold them, in their own order, before any clean-up,
// sorting or merging.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/layout.h"

namespace lexaro::import {

// The most bytes of raw text that one entry is read from: four times what a
// block of the database holds, so that text whose markup and blank runs the
// clean-up removes may still make an entry that fits. A longer line or
// article is skipped as it streams past, never held whole, and counted.
constexpr std::size_t max_raw_size = 4 * block_buffer_size;

// How a definition is marked up; the clean-up turns each kind into text.
enum class markup {
    plain,  // text as it stands (line breaks may still be in it)
    html,   // HTML, or Pango markup that looks like it (StarDict types h and g)
    xdxf,   // XDXF (StarDict type x)
};

// One word and its definition. The views hold only for the call to add().
struct raw_entry {
    std::string_view word;
    std::string_view definition;
    markup kind = markup::plain;
    // Plain text that the dictionary's tools wrapped at this width, in
    // characters: the clean-up joins the lines that only wrap. 0: not wrapped.
    unsigned wrap_width = 0;
    // Characters of the article's first line that stood before the
    // definition (a headword taken out): that line is measured whole.
    unsigned wrap_first_line_taken = 0;
    // Whether the reader knows which parts of the definition translate the
    // word (they are then looked for nowhere else), and those parts as plain
    // text, one a line, in the order of the definition, each as the
    // dictionary writes it (with its annotations, its own grammar in angle
    // brackets: "eat <v>"). Readers give them where the sink wants_terms().
    bool has_terms = false;
    std::string_view terms = {};
    // The word's own grammar as the dictionary labels it ("n, masc",
    // "verb"), where the reader knows it; may be empty.
    std::string_view grammar = {};
};

// Receives the entries that a reader finds, in the order of its files.
class entry_sink {
public:
    virtual ~entry_sink() = default;
    virtual void add(const raw_entry& entry) = 0;

    // Whether the entries should say which parts of their definitions
    // translate the word (raw_entry::terms), where the reader knows.
    virtual bool wants_terms() const { return false; }

    // Damage within one article that the reader got over without losing or
    // shifting an entry (an unclosed or unknown tag): `kind` names it in a
    // few fixed words ("unclosed tag"), `file` and `line` (from 1) say where;
    // line 0 where `file` says it all (a record of a binary file: "X.bgl
    // entry 17"). The summary counts each kind and names its first place.
    virtual void damaged(std::string_view kind, const std::string& file, uint64_t line) {
        (void)kind, (void)file, (void)line;
    }

    // A line or record of the input that gives no entry: `reason` says why in
    // a few fixed words ("lines without a tab"), `file` and `line` (from 1)
    // say where. The summary counts each reason and names its first place.
    virtual void skipped(std::string_view reason, const std::string& file, uint64_t line) {
        (void)reason, (void)file, (void)line;
    }

    // What the reader made of the input that the summary should say
    // ("columns": which columns it read; "input": the character sets a
    // reader that decodes its files itself read them in; "references": the
    // words given the translation of the word they refer to): `topic` in a
    // word or two, `text` in a line.
    virtual void note(std::string_view topic, std::string_view text) { (void)topic, (void)text; }

    // An entry of `word` whose raw text takes `bytes`, more than max_raw_size:
    // skipped without being read, and counted as too large for a block.
    virtual void too_large(std::string_view word, uint64_t bytes) { (void)word, (void)bytes; }

    // The word of the next entry is the dictionary's own headword, taken from
    // its article rather than from an index that folds keys to lower case;
    // case_differs: it holds capitals that the key did not.
    virtual void headword_taken(bool case_differs) { (void)case_differs; }
};

// An input that cannot be opened, read or understood. The message names the
// file and says what is wrong, ready to be printed after "lexaro-import: ".
class import_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace lexaro::import
