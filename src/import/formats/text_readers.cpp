#include "import/formats/readers.h"

#include <cstdint>
#include <string_view>
#include <vector>

#include "import/formats/line_reader.h"
#include "import/markup_text.h"

namespace lexaro::import {

namespace {

// Undoes the Tabfile escapes: "\n", "\t", "\\"; any other backslash stays.
std::string_view unescape(std::string_view text, std::string& scratch) {
    if (text.find('\\') == std::string_view::npos) return text;
    scratch.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[i + 1];
            if (next == 'n' || next == 't' || next == '\\') {
                scratch += next == 'n' ? '\n' : next == 't' ? '\t' : '\\';
                ++i;
                continue;
            }
        }
        scratch += text[i];
    }
    return scratch;
}

std::string_view trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The file's name without its directory.
std::string base_name(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The bracket that closes an annotation opened by c, or 0.
char closer_of(char c) {
    switch (c) {
        case '(':
            return ')';
        case '[':
            return ']';
        case '{':
            return '}';
        case '<':
            return '>';
        default:
            return 0;
    }
}

// Where each bracket of a text closes, brackets of its own kind nested
// within; npos for one that never does (then it is text, as the '<' of
// "(Stärke < 0,25 mm)" is). Found in one pass with a stack per kind, so that
// a line of a hundred thousand unclosed brackets takes no longer than any
// other line of its length.
class bracket_pairs {
public:
    void match(std::string_view text) {
        closes_.assign(text.size(), none);
        for (auto& open : open_) open.clear();
        for (std::size_t i = 0; i < text.size(); ++i) {
            const std::size_t kind = kind_of(text[i]);
            if (kind < kinds) {
                open_[kind].push_back(static_cast<uint32_t>(i));
            } else if (kind < 2 * kinds && !open_[kind - kinds].empty()) {
                closes_[open_[kind - kinds].back()] = static_cast<uint32_t>(i);
                open_[kind - kinds].pop_back();
            }
        }
    }
    // Where the bracket at text[open] closes, or npos.
    std::size_t close_of(std::size_t open) const {
        return closes_[open] == none ? std::string_view::npos : closes_[open];
    }

private:
    // Positions in a line, which the line reader keeps far below 2^32 bytes.
    static constexpr uint32_t none = UINT32_MAX;
    static constexpr std::size_t kinds = 4;
    // 0 to 3 for an opening bracket, 4 to 7 for its closing one, else 8.
    static std::size_t kind_of(char c) {
        static constexpr std::string_view brackets = "([{<)]}>";
        return brackets.find(c) == std::string_view::npos ? 2 * kinds : brackets.find(c);
    }
    std::vector<uint32_t> closes_;
    std::vector<uint32_t> open_[kinds];
};

// Cuts text at every `delimiter` that stands outside brackets.
void split_outside_brackets(std::string_view text, std::string_view delimiter,
                            std::vector<std::string_view>& parts, bracket_pairs& pairs) {
    parts.clear();
    pairs.match(text);
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (closer_of(text[i]) != 0) {
            const std::size_t close = pairs.close_of(i);
            if (close != std::string_view::npos) i = close;
        } else if (text[i] == delimiter[0] && text.compare(i, delimiter.size(), delimiter) == 0) {
            parts.push_back(text.substr(start, i - start));
            i += delimiter.size() - 1;
            start = i + 1;
        }
    }
    parts.push_back(text.substr(start));
}

// A trans-de-en alternative without its bracketed annotations, its spaces
// made single and trimmed, and the first of its annotations in braces, its
// grammar ("vt", "m"). A bracket that is never closed is kept as text.
void headword(std::string_view alternative, std::string& word, std::string& grammar) {
    std::string annotations;
    split_annotations(alternative, word, annotations);
    grammar.clear();
    const std::size_t open = annotations.find('{');
    if (open == std::string::npos) return;
    const std::size_t close = annotations.find('}', open);
    grammar = annotations.substr(open + 1, close - open - 1);
}

}  // namespace

void split_annotations(std::string_view text, std::string& word, std::string& annotations) {
    static thread_local bracket_pairs pairs;
    pairs.match(text);
    word.clear();
    annotations.clear();
    const auto space = [&] {
        if (!word.empty() && word.back() != ' ') word += ' ';
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (closer_of(c) != 0) {
            const std::size_t close = pairs.close_of(i);
            if (close != std::string_view::npos) {
                if (!annotations.empty()) annotations += ' ';
                annotations.append(text.substr(i, close - i + 1));
                i = close;
                space();
                continue;
            }
        }
        if (c == ' ' || c == '\t')
            space();
        else
            word += c;
    }
    while (!word.empty() && word.back() == ' ') word.pop_back();
}

std::string read_tab(reader_input& in, entry_sink& sink) {
    line_reader input(*in.text, sink);
    std::string title, word_scratch, definition_scratch;
    bool in_header = true;
    std::string_view line;
    while (input.next(line)) {
        if (line.empty()) continue;
        if (in_header && line.size() > 2 && line.compare(0, 2, "##") == 0) {
            std::string_view rest = line.substr(2);
            std::size_t end = rest.find('\t');
            if (end == std::string_view::npos) end = rest.find(' ');
            const std::string_view key = rest.substr(0, end);
            const std::string_view value =
                end == std::string_view::npos ? std::string_view() : trim(rest.substr(end + 1));
            if (key == "name") title = unescape(value, definition_scratch);
            continue;
        }
        const std::size_t tab = line.find('\t');
        if (tab == std::string_view::npos) {
            sink.skipped("lines without a tab", in.path, input.line_number());
            continue;
        }
        in_header = false;
        raw_entry entry;
        entry.word = unescape(line.substr(0, tab), word_scratch);
        entry.definition = unescape(line.substr(tab + 1), definition_scratch);
        entry.kind = holds_markup(entry.definition) ? markup::html : markup::plain;
        sink.add(entry);
    }
    return title;
}

std::string read_trans(reader_input& in, entry_sink& sink) {
    line_reader input(*in.text, sink);
    std::string version, word, grammar;
    std::vector<std::string_view> german_parts, english_parts, alternatives;
    bracket_pairs pairs;
    constexpr std::string_view version_comment = "# Version :: ";
    std::string_view line;
    while (input.next(line)) {
        if (line.empty()) continue;
        if (line[0] == '#') {
            if (version.empty() && line.compare(0, version_comment.size(), version_comment) == 0)
                version = trim(line.substr(version_comment.size()));
            continue;
        }
        const std::size_t middle = line.find(" :: ");
        if (middle == std::string_view::npos) {
            sink.skipped("lines without \" :: \"", in.path, input.line_number());
            continue;
        }
        split_outside_brackets(line.substr(0, middle), " | ", german_parts, pairs);
        split_outside_brackets(line.substr(middle + 4), " | ", english_parts, pairs);
        const bool parallel = german_parts.size() == english_parts.size();
        for (std::size_t p = 0; p < german_parts.size(); ++p) {
            split_outside_brackets(german_parts[p], "; ", alternatives, pairs);
            raw_entry entry;
            entry.definition = trim(parallel ? english_parts[p] : line.substr(middle + 4));
            // The English part is the terms, its alternatives apart by "; ".
            entry.has_terms = true;
            entry.terms = entry.definition;
            for (std::string_view alternative : alternatives) {
                headword(alternative, word, grammar);
                entry.word = word;
                entry.grammar = grammar;
                sink.add(entry);
            }
        }
    }
    std::string title = base_name(in.path);
    if (!version.empty()) title += " " + version;
    return title;
}

std::string read_source(reader_input& in, entry_sink& sink) {
    line_reader input(*in.text, sink);
    std::string title;
    std::string_view line;
    bool first = true;
    while (input.next(line)) {
        const std::size_t end_of_input = line.find('\x1A');
        const bool ends = end_of_input != std::string_view::npos;
        if (ends) line = line.substr(0, end_of_input);
        if (first) {
            title = line;
            first = false;
        } else if (!line.empty()) {
            const std::size_t dollar = line.find('$');
            if (dollar == std::string_view::npos)
                throw import_error(in.path + ": line " + std::to_string(input.line_number()) +
                                   " has no '$' between word and translation");
            sink.add({line.substr(0, dollar), line.substr(dollar + 1), markup::plain});
        }
        if (ends) break;
    }
    return title;
}

}  // namespace lexaro::import
