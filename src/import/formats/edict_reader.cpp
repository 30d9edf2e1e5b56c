// EDICT and EDICT2, the Japanese-English dictionary files of the Electronic
// Dictionary Research and Development Group:
//
//   KANJI;KANJI(iK) [KANA;KANA(ok)] /(pos) (1) gloss/(2) gloss/(P)/EntL1234567X/
//   KANA /(pos) gloss/
//
// in EUC-JP (the format row falls back to it when the text is not UTF-8) or
// UTF-8. The first line is a header entry ("　？？？ /EDICT, .../") whose first
// gloss is the title. The glosses are an entry's terms, the parts of speech
// that open the first one its grammar.
#include <string>
#include <vector>

#include "import/formats/line_reader.h"
#include "import/formats/readers.h"
#include "import/formats/slash_glosses.h"

namespace lexaro::import {

namespace {

// The forms of a field cut at ';', each without the markers that follow it:
// "(iK)", "(P)", or a reading's restriction to some written forms.
void split_forms(std::string_view field, std::vector<std::string_view>& forms) {
    forms.clear();
    while (!field.empty()) {
        const std::size_t semicolon = field.find(';');
        std::string_view form = field.substr(0, semicolon);
        const std::size_t marker = form.find('(');
        if (marker != std::string_view::npos && marker > 0) form = form.substr(0, marker);
        if (!form.empty()) forms.push_back(form);
        if (semicolon == std::string_view::npos) break;
        field.remove_prefix(semicolon + 1);
    }
}

bool is_marker(std::string_view gloss) {
    return gloss == "(P)" || gloss.substr(0, 4) == "EntL";
}

// The parts of speech that open the first gloss: "v1,vt" of "(v1,vt) (1) to
// eat"; "" when it opens with none (a sense number is none).
std::string_view part_of_speech(std::string_view gloss) {
    if (gloss.size() < 3 || gloss.front() != '(') return {};
    const std::size_t close = gloss.find(')');
    if (close == std::string_view::npos) return {};
    const std::string_view inside = gloss.substr(1, close - 1);
    if (inside.empty() || (inside.front() >= '0' && inside.front() <= '9')) return {};
    return inside;
}

// The parts of a line: written forms, readings (maybe none) and glosses.
struct edict_line {
    std::string_view written, readings, glosses;
};

bool parse(std::string_view line, edict_line& out) {
    const std::size_t slash = line.find(" /");
    if (slash == std::string_view::npos || slash == 0 || line.back() != '/') return false;
    std::string_view head = line.substr(0, slash);
    out.glosses = line.substr(slash + 1);
    out.readings = {};
    const std::size_t open = head.find(" [");
    if (open != std::string_view::npos) {
        if (head.back() != ']') return false;
        out.readings = head.substr(open + 2, head.size() - open - 3);
        head = head.substr(0, open);
    }
    out.written = head;
    return !head.empty() && head.find(' ') == std::string_view::npos;
}

bool is_header(std::string_view written) {
    return written == "\xE3\x80\x80\xEF\xBC\x9F\xEF\xBC\x9F\xEF\xBC\x9F";  // "　？？？"
}

}  // namespace

std::string read_edict(reader_input& input, entry_sink& sink) {
    line_reader lines(*input.text, sink);
    std::string title, translation, terms;
    std::vector<std::string_view> written, readings, glosses;
    edict_line parts;
    for (std::string_view line; lines.next(line);) {
        if (line.empty()) continue;
        if (!parse(line, parts) || !slash_glosses(parts.glosses, glosses))
            throw import_error(input.path + ": line " + std::to_string(lines.line_number()) +
                               ": not an EDICT line \"WORD [READING] /GLOSS/.../\"");
        if (is_header(parts.written)) {
            if (title.empty() && !glosses.empty()) title = glosses.front();
            continue;
        }
        if (glosses.empty()) sink.damaged("entries with no gloss", input.path, lines.line_number());
        split_forms(parts.written, written);
        split_forms(parts.readings, readings);
        // The glosses, one a line, after the reading; a reading's entry shows
        // the written forms in the reading's place.
        std::string glossed;
        terms.clear();
        for (const std::string_view gloss : glosses) {
            if (is_marker(gloss)) continue;
            glossed += '\n';
            glossed.append(gloss);
            terms.append(gloss) += '\n';
        }
        const auto add_all = [&](const std::vector<std::string_view>& words,
                                 const std::vector<std::string_view>& shown) {
            translation.clear();
            for (const std::string_view form : shown) {
                if (!translation.empty()) translation += "; ";
                translation.append(form);
            }
            translation += glossed;
            raw_entry entry{{}, translation, markup::plain};
            entry.has_terms = true;
            entry.terms = terms;
            entry.grammar = glosses.empty() ? std::string_view() : part_of_speech(glosses.front());
            for (const std::string_view word : words) {
                entry.word = word;
                sink.add(entry);
            }
        };
        add_all(written, readings);
        add_all(readings, written);
    }
    return title;
}

// Lines of the shape FORMS [READINGS] /.../, the header among them.
bool looks_like_edict(std::string_view sample, bool whole_file) {
    int seen = 0;
    edict_line parts;
    while (!sample.empty() && seen < 5) {
        const std::size_t end = sample.find('\n');
        if (end == std::string_view::npos && !whole_file) break;  // cut short
        std::string_view line = sample.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        sample.remove_prefix(end == std::string_view::npos ? sample.size() : end + 1);
        if (line.empty()) continue;
        if (!parse(line, parts)) return false;
        ++seen;
    }
    return seen > 0;
}

}  // namespace lexaro::import
