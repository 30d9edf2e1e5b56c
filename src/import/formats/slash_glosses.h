// The gloss field that EDICT and CC-CEDICT share: "/gloss/gloss/.../".
#pragma once

#include <string_view>
#include <vector>

namespace lexaro::import {

// The glosses of a field that begins and ends with '/', in order, each
// trimmed; empty ones left out. False when the field is not so enclosed. A
// lone "/" holds none.
inline bool slash_glosses(std::string_view field, std::vector<std::string_view>& glosses) {
    glosses.clear();
    if (field == "/") return true;
    if (field.size() < 2 || field.front() != '/' || field.back() != '/') return false;
    field = field.substr(1, field.size() - 2);
    while (true) {
        const std::size_t slash = field.find('/');
        std::string_view gloss = field.substr(0, slash);
        while (!gloss.empty() && gloss.front() == ' ') gloss.remove_prefix(1);
        while (!gloss.empty() && gloss.back() == ' ') gloss.remove_suffix(1);
        if (!gloss.empty()) glosses.push_back(gloss);
        if (slash == std::string_view::npos) return true;
        field.remove_prefix(slash + 1);
    }
}

}  // namespace lexaro::import
