// A dict.cc export: "#" comment lines, then
//
//   word {annotations}<TAB>translation<TAB>word class<TAB>[subjects]
//
// The word is the first column without its annotations ({m}, {pl}, [ugs.],
// <Abk.>), so that it is found as typed; the translation is the second
// column, then those annotations, the word class in parentheses and the
// subjects: "Haus$house {n} (noun) [archi.]". The first comment line names the
// export. The translation column is the entry's term, its word class the
// word's grammar.
#include <string>

#include "import/formats/line_reader.h"
#include "import/formats/readers.h"

namespace lexaro::import {

std::string read_dictcc(reader_input& input, entry_sink& sink) {
    line_reader lines(*input.text, sink);
    std::string title, word, annotations, translation;
    for (std::string_view line; lines.next(line);) {
        if (!line.empty() && line.front() == '#' && lines.line_number() == 1) {
            // "# dict.cc German-English vocabulary database" names it.
            const std::size_t start = line.find_first_not_of("# ");
            if (start != std::string_view::npos) title = line.substr(start);
        }
        if (line.empty() || line.front() == '#') continue;
        std::string_view columns[4];
        std::size_t count = 0;
        while (count < 4) {
            const std::size_t tab = count < 3 ? line.find('\t') : std::string_view::npos;
            columns[count++] = line.substr(0, tab);
            if (tab == std::string_view::npos) break;
            line.remove_prefix(tab + 1);
        }
        if (count < 2)
            throw import_error(input.path + ": line " + std::to_string(lines.line_number()) +
                               ": not a dict.cc line \"word<TAB>translation<TAB>class<TAB>"
                               "subjects\"");
        split_annotations(columns[0], word, annotations);
        translation.assign(columns[1]);
        const auto append = [&](std::string_view part, const char* open, const char* close) {
            if (part.empty()) return;
            translation += ' ';
            translation += open;
            translation.append(part);
            translation += close;
        };
        append(annotations, "", "");
        if (count > 2) append(columns[2], "(", ")");
        if (count > 3) append(columns[3], "", "");
        raw_entry entry{word, translation, markup::plain};
        // The translation column is the one term; the word class its grammar.
        entry.has_terms = true;
        entry.terms = columns[1];
        if (count > 2) entry.grammar = columns[2];
        sink.add(entry);
    }
    return title;
}

// dict.cc's header comment, then tab-separated lines.
bool looks_like_dictcc(std::string_view sample, bool) {
    return sample.substr(0, 1) == "#" && sample.substr(0, 400).find("dict.cc") != std::string_view::npos &&
           sample.find('\t') != std::string_view::npos;
}

}  // namespace lexaro::import
