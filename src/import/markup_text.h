// The pieces of HTML and XDXF that the clean-up turns into text: tags it
// knows by name, and character references. Anything else that looks like
// markup, such as the grammar label "<masc, n, sg>" or "<adj>", is text.
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
    hide,       // the content is not text: <script>, <style>, XDXF <k> and <rref>
    brackets,   // the content goes in [ ]: XDXF <tr>, the transcription
};

struct tag {
    std::string_view name;  // lower case, as in the table of known tags
    tag_effect effect = tag_effect::none;
    bool closing = false;       // </name>
    bool self_closing = false;  // <name/>
    std::size_t length = 0;     // bytes from '<' to '>' inclusive
};

// The tag starting at text[at] (a '<'), when it is one that `kind` knows:
// a known name, case ignored, then '>', '/>' or white space and attributes
// up to the '>' (quoted values may hold '>'). Comments are not tags.
std::optional<tag> parse_tag(std::string_view text, std::size_t at, markup kind);

// The length of an HTML comment "<!-- ... -->" starting at text[at], or 0.
std::size_t comment_length(std::string_view text, std::size_t at);

// Decodes the character reference starting at text[at] (a '&'): a named
// entity ("&amp;", "&eacute;"), "&#N;" or "&#xH;". Appends its UTF-8 to out
// and gives the bytes it took, or 0 (out unchanged) when it is not one.
std::size_t decode_entity(std::string_view text, std::size_t at, std::string& out);

// Whether the text holds a tag that HTML knows or a character reference:
// how a tab-separated definition shows that it is HTML.
bool holds_markup(std::string_view text);

// Appends the UTF-8 form of a Unicode code point; false (nothing appended)
// for a surrogate, zero or a value beyond U+10FFFF.
bool append_utf8(uint32_t code_point, std::string& out);

}  // namespace lexaro::import
