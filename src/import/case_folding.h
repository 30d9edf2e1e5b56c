// Words in lower case for --fold-case: Unicode's simple case folding, one
// character to one, so a word is written as someone types it on the handheld.
#pragma once

#include <string>
#include <string_view>

namespace lexaro::import {

// Writes word folded into out (overwritten); bytes that are not UTF-8 stay as
// they are. True when the folded word differs from the word.
bool fold_case(std::string_view word, std::string& out);

}  // namespace lexaro::import
