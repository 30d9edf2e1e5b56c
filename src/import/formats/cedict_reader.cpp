// CC-CEDICT, the Chinese-English dictionary:
//
//   # comment lines, "#! key=value" metadata
//   TRADITIONAL SIMPLIFIED [pin1 yin1] /gloss/gloss/
//
// in UTF-8. The first comment line names the dictionary ("# CC-CEDICT").
// The glosses that translate the word, not those that name other words
// (classifiers, cross references), are an entry's terms.
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

// A gloss that names other words rather than translating this one: a
// classifier ("CL:個|个[ge4]"), a cross reference ("see 吃飯|吃饭[chi1 fan4]",
// "variant of 喫|吃[chi1]", "abbr. for ...", "also written ...", "used in ...").
bool refers(std::string_view gloss) {
    for (const std::string_view start :
         {"CL:", "see ", "see also ", "abbr. for ", "also written ", "used in "})
        if (gloss.substr(0, start.size()) == start) return true;
    const std::size_t variant = gloss.find("variant of ");
    return variant != std::string_view::npos && variant < 24;
}

}  // namespace

std::string read_cedict(reader_input& input, entry_sink& sink) {
    line_reader lines(*input.text, sink);
    std::string title, translation, terms;
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
        terms.clear();
        for (const std::string_view gloss : glosses) {
            translation += '\n';
            translation.append(gloss);
            if (!refers(gloss)) terms.append(gloss) += '\n';
        }
        raw_entry entry{parts.traditional, translation, markup::plain};
        entry.has_terms = true;
        entry.terms = terms;
        sink.add(entry);
        if (parts.simplified != parts.traditional) {
            entry.word = parts.simplified;
            sink.add(entry);
        }
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
