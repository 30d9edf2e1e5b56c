// The body of a JSON string, for the readers of JSON dictionaries
// (Wiktextract, Yomitan): escapes decoded, UTF-16 surrogate pairs joined.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lexaro::import {

// Appends the characters of the JSON string whose body starts at text[at]
// (just after its opening quote) to out, and leaves at just after its
// closing quote. A lone surrogate becomes U+FFFD. Null when the string is
// whole; else what was expected where at stands (an escape, four hexadecimal
// digits), or `unterminated` when the text ends first.
const char* read_json_string(std::string_view text, std::size_t& at, std::string& out,
                             const char* unterminated);

}  // namespace lexaro::import
