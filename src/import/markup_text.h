// The pieces of HTML and XDXF that the clean-up turns into text: tags, read
// as browsers read them whether their names are known or not, comments, and
// character references. A '<' that starts no tag ("3 < 4", "<-", "<1>") is
// text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "import/raw_entry.h"

namespace lexaro::import {

// What a tag does to the text around it.
enum class tag_effect {
    none,       // inline formatting: <b>, <i>, <a>, <span>, <font>, ...
    separator,  // a break between parts: <br>, <p>, <div>, <li>, XDXF <def>, ...
    space,      // a table cell: <td>, <th>
    hide,       // the content is not shown: <script>, <style>, <head>, media, XDXF <k>, <rref>
    brackets,   // the content goes in [ ]: XDXF <tr>, the transcription
};

struct tag {
    // A known tag's name in lower case, as in its table; another's as written.
    std::string_view name;
    tag_effect effect = tag_effect::none;  // none for a tag that is not known
    bool known = false;                    // one of the tags that `kind` names
    bool closing = false;                  // </name>
    bool self_closing = false;             // <name/>
    bool bare_attributes = false;          // one without a value: <body wash>
    std::size_t length = 0;                // bytes from '<' to '>' inclusive
};

// The tag starting at text[at] (a '<'), read as browsers read one: '<' or
// '</', a letter, the name up to white space, '/' or '>', then attributes
// (a name, maybe '=' and a value, quoted or not; a quoted value may hold
// '>') up to the '>'. Comments are not tags. None when the text ends before
// that '>', and then *text_ends_inside is set: a caller reading a text's
// tags in turn takes none after this place, since each '<' after it could
// be read to the end again (browsers show nothing after it).
std::optional<tag> parse_tag(std::string_view text, std::size_t at, markup kind,
                             bool* text_ends_inside = nullptr);

// The length of what browsers read as a comment, starting at text[at]:
// "<!-- ... -->" (or "--!>"; unclosed, to the end), and up to the next '>'
// (or the end) "<!DOCTYPE ...>", "<?xml ...?>", "</ ...>" and "</1>"; "</>"
// is nothing. 0 when there is none.
std::size_t comment_length(std::string_view text, std::size_t at);

// Decodes the character reference starting at text[at] (a '&') as XML has
// them: a named one ("&amp;", "&eacute;"; the names of HTML), "&#N;" or
// "&#xH;", the ';' required. Appends its UTF-8 to out and gives the bytes it
// took, or 0 (out unchanged) when it is not one.
std::size_t decode_entity(std::string_view text, std::size_t at, std::string& out);

// Where a reference in HTML stands: browsers read legacy names without a
// ';' in both, but in an attribute's value not where a letter, a digit or
// '=' follows the name.
enum class reference_place { text, attribute };

// Decodes the character reference starting at text[at] (a '&') as browsers
// read HTML: a name of the table with its ';', or without it one of the
// legacy names ("&amp", "&lt", "&nbsp", "&copy", "&eacute", ...: the longest
// that starts the letters and digits after the '&'); "&#N" and "&#xH" with
// or without a ';', 128 to 159 read as Windows-1252 does. A reference that
// browsers show as U+FFFD (zero, a surrogate, past U+10FFFF) is not one
// here: it stays as written. Appends the UTF-8 to out and gives the bytes
// taken, or 0 (out unchanged).
std::size_t decode_html_reference(std::string_view text, std::size_t at, std::string& out,
                                  reference_place place = reference_place::text);

// Whether the text holds a tag that HTML knows or a character reference
// with its ';': how a tab-separated definition shows that it is HTML. A tag
// with an attribute that has no value is no sign of it: "<body wash>" is a
// spelling in angle brackets, as some dictionaries give them.
bool holds_markup(std::string_view text);

// Appends the UTF-8 form of a Unicode code point; false (nothing appended)
// for a surrogate, zero or a value beyond U+10FFFF.
bool append_utf8(uint32_t code_point, std::string& out);

}  // namespace lexaro::import
