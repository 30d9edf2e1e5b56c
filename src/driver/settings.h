// The process-wide settings. The driver sets each of them once, before
// either pass runs; the passes only read them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lexaro {

extern int32_t words_per_block;         // entries per block, 100 to 10000
extern std::string source_name;         // the source path as given
extern std::string temp_name;           // drive + directory + base name + ".tmp"
extern std::string database_file_name;  // drive + directory + base name + ".pdb"
extern std::string database_name;       // the base name alone

// A path cut into its four parts; concatenated they give the path back.
struct path_parts {
    std::string drive;      // "d:" when the second byte is a colon, else empty
    std::string directory;  // up to and including the last '/' or '\'
    std::string base_name;  // the rest, before its last '.'
    std::string extension;  // that last '.' and what follows it
};

path_parts split_path(std::string_view path);

// Decimal conversion in the manner of atoi (leading white space, one optional
// sign, digits up to the first non-digit, 0 when there is none), except that
// a value beyond 32 bits saturates instead of wrapping around.
int32_t convert_decimal(const char* text);

// Sets words_per_block from the optional second argument; returns false when
// the argument was out of range and the default was taken instead.
bool set_words_per_block(const char* argument);

// Sets the four names from the source path.
void set_file_names(std::string_view source);

}  // namespace lexaro
