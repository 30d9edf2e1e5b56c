// CC-CEDICT, the Chinese-English dictionary:
//
//   # comment lines, "#! key=value" metadata
//   TRADITIONAL SIMPLIFIED [pin1 yin1] /gloss/gloss/
//
// in UTF-8. The first comment line names the dictionary ("# CC-CEDICT").
#include <string>
#include <vector>

#include "import/formats/line_reader.h"
#include "import/formats/readers.h"
#include "import/formats/slash_glosses.h"

namespace lexaro::import {

namespace {

struct cedict_line {
    std::string_view traditional, simplified, pinyin, glosses;
};

bool parse(std::string_view line, cedict_line& out) {
    const std::size_t space = line.find(' ');
    const std::size_t open = line.find(" [");
    if (space == std::string_view::npos || open == std::string_view::npos || open <= space)
        return false;
    const std::size_t close = line.find("] /", open);
    if (close == std::string_view::npos || line.back() != '/') return false;
    out.traditional = line.substr(0, space);
    out.simplified = line.substr(space + 1, open - space - 1);
    out.pinyin = line.substr(open + 1, close - open);  // with its brackets
    out.glosses = line.substr(close + 2);
    return !out.traditional.empty() && !out.simplified.empty() &&
           out.simplified.find(' ') == std::string_view::npos;
}

}  // namespace

std::string read_cedict(reader_input& input, entry_sink& sink) {
    line_reader lines(*input.text, sink);
    std::string title, translation;
    bool first_comment = true;
    std::vector<std::string_view> glosses;
    cedict_line parts;
    for (std::string_view line; lines.next(line);) {
        if (line.empty()) continue;
        if (line.front() == '#') {
            if (first_comment && line.substr(0, 2) != "#!") title = line.substr(1);
            first_comment = false;
            continue;
        }
        if (!parse(line, parts) || !slash_glosses(parts.glosses, glosses))
            throw import_error(input.path + ": line " + std::to_string(lines.line_number()) +
                               ": not a CC-CEDICT line \"TRADITIONAL SIMPLIFIED [pin1 yin1] "
                               "/gloss/.../\"");
        // The pinyin, then the glosses one a line.
        translation.assign(parts.pinyin);
        for (const std::string_view gloss : glosses) {
            translation += '\n';
            translation.append(gloss);
        }
        sink.add(raw_entry{parts.traditional, translation, markup::plain});
        if (parts.simplified != parts.traditional)
            sink.add(raw_entry{parts.simplified, translation, markup::plain});
    }
    return title;
}

// "# CC-CEDICT" at the top, or entry lines of its shape.
bool looks_like_cedict(std::string_view sample, bool whole_file) {
    if (sample.substr(0, 11) == "# CC-CEDICT") return true;
    int seen = 0;
    cedict_line parts;
    while (!sample.empty() && seen < 5) {
        const std::size_t end = sample.find('\n');
        if (end == std::string_view::npos && !whole_file) break;
        std::string_view line = sample.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        sample.remove_prefix(end == std::string_view::npos ? sample.size() : end + 1);
        if (line.empty() || line.front() == '#') continue;
        if (!parse(line, parts)) return false;
        ++seen;
    }
    return seen > 0;
}

}  // namespace lexaro::import
