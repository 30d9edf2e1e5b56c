// What a database, or each volume of a dictionary too large for one, is
// called: its file, the database name that the handheld lists, in the
// handheld's character set, and the title that says which words it holds.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/charset.h"

namespace lexaro::import {

// --max-size's value: bytes, or with K or M (1024-based: 8M is 8388608),
// from 1 byte to 2048M, beyond which no database can reach. Nothing when the
// text is none of these.
std::optional<uint64_t> size_from(std::string_view text);
constexpr uint64_t max_volume_size = uint64_t{2048} << 20;

// The file of volume `number` (from 1) of the database OUTPUT.pdb:
// OUTPUT-1.pdb, OUTPUT-2.pdb, ...
std::string volume_file_name(const std::string& database, uint32_t number);

// The database name for a file's base name: in the handheld's set (null
// encoder: UTF-8 as it is), cut before a whole character so that it and
// the suffix ("-1" of a volume; empty for a single database) take at most
// the 31 bytes the name field keeps.
struct handheld_name {
    std::string bytes;
    bool changed = false;  // characters the set lacks were transliterated or written as '?'
    bool cut = false;
};
handheld_name database_name_for(std::string_view base_name, std::string_view suffix,
                                charset_encoder* encoder);

// The length of the longest start of `text`, bytes in the handheld's set,
// that takes at most max_size bytes and does not end inside a character.
using character_cut = std::function<std::size_t(std::string_view text, std::size_t max_size)>;

// A volume's title: the dictionary's title, then its range " (first – last)"
// in the set's bytes (`dash` is " – " as the set writes it), within the
// 256-byte title field. Where the whole does not fit the title is cut, so
// that the range stays whole; a range too long for the field on its own is
// cut at its end. Cuts fall between characters.
std::string volume_title(std::string_view title, std::string_view first_word,
                         std::string_view last_word, std::string_view dash,
                         const character_cut& cut);

// Files of an earlier run beside OUTPUT.pdb that this run, which wrote
// `volumes` volumes (0: the single database), leaves as they are: the
// volumes after the last one written (OUTPUT-4.pdb after three), up to the
// first number missing, and OUTPUT.pdb itself beside volumes.
std::vector<std::string> earlier_files(const std::string& database, uint32_t volumes);

}  // namespace lexaro::import
