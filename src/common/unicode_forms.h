// Unicode's normal forms as the handheld's character sets need them: text
// composed (NFC) before it is written, so that "e" and a combining acute
// accent are the "é" that the set holds, and a character's compatibility
// form (NFKC: "ﬁ" is "fi", "①" is "1") where the set lacks the character.
// From tables that scripts/make-unicode-tables writes from Unicode's data.
#pragma once

#include <string>
#include <string_view>

namespace lexaro {

// The canonical combining class of c: 0 for a character that starts a
// cluster, else the order in which its marks stand.
unsigned combining_class(char32_t c);

// Whether c is a combining mark (general category M): an accent, a vowel
// sign, a kana's voicing mark.
bool is_combining_mark(char32_t c);

// Whether composing may change c or the character before it. False for
// every character below U+0300 and most others: text made of such
// characters is composed as it stands.
bool may_change_when_composed(char32_t c);

// Whether every character of utf8 stays as it is when composed.
bool is_composed(std::string_view utf8);

// Writes utf8 composed (NFC) into out, which is overwritten: each character
// decomposed, its marks put in canonical order, and joined again wherever
// Unicode composes them. Bytes that are not UTF-8 stay as they are, and
// nothing composes across them. work is the caller's buffer, kept between
// calls so that they do not allocate.
void compose(std::string_view utf8, std::string& out, std::u32string& work);

// The compatibility form (NFKC) of c where it differs from c's composed form
// ("fi" for "ﬁ", "Haus" for "Ｈａｕｓ" character by character); empty for
// every other character.
std::string_view compatibility_form(char32_t c);

// Appends c in UTF-8.
void append_utf8(char32_t c, std::string& out);

}  // namespace lexaro
