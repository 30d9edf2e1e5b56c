#include "driver/settings.h"

#include <limits>

#include "common/layout.h"

namespace lexaro {

int32_t words_per_block = default_words_per_block;
std::string source_name;
std::string temp_name;
std::string database_file_name;
std::string database_name;

path_parts split_path(std::string_view path) {
    path_parts parts;
    if (path.size() >= 2 && path[1] == ':') {
        parts.drive = path.substr(0, 2);
        path.remove_prefix(2);
    }
    const std::size_t slash = path.find_last_of("/\\");
    if (slash != std::string_view::npos) {
        parts.directory = path.substr(0, slash + 1);
        path.remove_prefix(slash + 1);
    }
    const std::size_t dot = path.rfind('.');
    parts.base_name = path.substr(0, dot);
    if (dot != std::string_view::npos) parts.extension = path.substr(dot);
    return parts;
}

int32_t convert_decimal(const char* text) {
    auto is_space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    while (is_space(*text)) ++text;
    const bool negative = *text == '-';
    if (*text == '+' || *text == '-') ++text;
    // Accumulated as a magnitude that stops growing once past every 32-bit value.
    constexpr int64_t cap = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    int64_t magnitude = 0;
    for (; is_digit(*text); ++text) {
        magnitude = magnitude * 10 + (*text - '0');
        if (magnitude > cap) magnitude = cap;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(value);
}

bool set_words_per_block(const char* argument) {
    const int32_t value = convert_decimal(argument);
    if (value < min_words_per_block || value > max_words_per_block) {
        words_per_block = default_words_per_block;
        return false;
    }
    words_per_block = value;
    return true;
}

void set_file_names(std::string_view source) {
    const path_parts parts = split_path(source);
    const std::string stem = parts.drive + parts.directory + parts.base_name;
    source_name = source;
    temp_name = stem + ".tmp";
    database_file_name = stem + ".pdb";
    database_name = parts.base_name;
}

}  // namespace lexaro
