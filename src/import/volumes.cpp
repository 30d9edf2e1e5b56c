#include "import/volumes.h"

#include "common/layout.h"
#include "common/platform.h"
#include "driver/settings.h"
#include "import/clean_up.h"

namespace lexaro::import {

std::optional<uint64_t> size_from(std::string_view text) {
    uint64_t unit = 1;
    if (!text.empty() && (text.back() == 'K' || text.back() == 'k')) unit = 1024;
    if (!text.empty() && (text.back() == 'M' || text.back() == 'm')) unit = 1024 * 1024;
    if (unit > 1) text.remove_suffix(1);
    // Ten digits hold every value up to the largest without overflow.
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value == 0 || value > max_volume_size / unit) return std::nullopt;
    return value * unit;
}

std::string volume_file_name(const std::string& database, uint32_t number) {
    const path_parts parts = split_path(database);
    return parts.drive + parts.directory + parts.base_name + "-" + std::to_string(number) +
           parts.extension;
}

handheld_name database_name_for(std::string_view base_name, std::string_view suffix,
                                charset_encoder* encoder) {
    const std::size_t room = database_name_size - 1 - suffix.size();
    handheld_name name;
    if (encoder == nullptr) {
        const std::string_view kept = cut_at_character(base_name, room);
        name.bytes.assign(kept).append(suffix);
        name.cut = kept.size() < base_name.size();
        return name;
    }
    // Cut by whole characters until the conversion fits; only the name kept
    // tells whether the set changed it.
    std::string_view source = base_name;
    const auto encode = [&] {
        const uint64_t transliterated = encoder->transliterated();
        const uint64_t replaced = encoder->replaced();
        name.bytes.clear();
        encoder->encode(source, name.bytes);
        name.changed =
            encoder->transliterated() != transliterated || encoder->replaced() != replaced;
    };
    encode();
    while (name.bytes.size() > room) {
        source = cut_at_character(source, source.size() - 1);
        name.cut = true;
        encode();
    }
    name.bytes.append(suffix);
    return name;
}

std::string volume_title(std::string_view title, std::string_view first_word,
                         std::string_view last_word, std::string_view dash,
                         const character_cut& cut) {
    std::string range = " (";
    range.append(first_word).append(dash).append(last_word).push_back(')');
    if (title.size() + range.size() <= title_size) return std::string(title) + range;
    if (range.size() < title_size)
        return std::string(title.substr(0, cut(title, title_size - range.size()))) + range;
    const std::string whole = std::string(title) + range;
    return whole.substr(0, cut(whole, title_size));
}

std::vector<std::string> earlier_files(const std::string& database, uint32_t volumes) {
    std::vector<std::string> found;
    if (volumes > 0 && type_of_file(database) != file_type::none) found.push_back(database);
    for (uint32_t n = volumes + 1;; ++n) {
        std::string name = volume_file_name(database, n);
        if (type_of_file(name) == file_type::none) break;
        found.push_back(std::move(name));
    }
    return found;
}

}  // namespace lexaro::import
