// Comma-separated values (RFC 4180): fields in double quotes may hold the
// separator, doubled quotes and line breaks. The separator (comma, semicolon
// or tab) is the one that gives the first records the same number of fields,
// or else one number with some rows cut short;
// a first row that names its columns ("word,translation") is a header.
// "#key,value" rows before the first entry describe the dictionary, "#name"
// giving its title. The first column is the word; the translation is every
// other column, each on a line of its own, or the columns that --columns
// names (a column past the first row's is refused; rows with fewer fields
// than the first are counted). A definition that holds HTML tags or
// character references is HTML. A file that writes its line breaks as the
// two characters "\n" (and has no real one inside quotes) has them read as
// line breaks.
#include <algorithm>
#include <string>
#include <vector>

#include "import/formats/line_reader.h"
#include "import/formats/readers.h"
#include "import/markup_text.h"
#include "import/text_input.h"

namespace lexaro::import {

namespace {

// A quoted field longer than this is a quote that never closed: no entry can
// be larger than a block.
constexpr std::size_t max_record_size = 1000000;

// The fields of one record, unquoted, one after another in `text`.
struct record {
    std::string text;
    std::vector<std::size_t> ends;
    std::size_t size() const { return ends.size(); }
    std::string_view field(std::size_t i) const {
        const std::size_t start = i == 0 ? 0 : ends[i - 1];
        return std::string_view(text).substr(start, ends[i] - start);
    }
};

// How a separator splits the first lines, quotes respected within a line:
// the fields of the first, and how many lines have as many and how many
// fewer (a row without its last columns, a word without a translation).
struct line_shape {
    std::size_t fields = 0;
    int full = 0, shorter = 0, longer = 0;
};

line_shape shape_of_lines(std::string_view sample, bool whole_file, char separator) {
    line_shape shape;
    int lines = 0;
    while (!sample.empty() && lines < 10) {
        const std::size_t end = sample.find('\n');
        if (end == std::string_view::npos && !whole_file) break;
        const std::string_view line = sample.substr(0, end);
        sample.remove_prefix(end == std::string_view::npos ? sample.size() : end + 1);
        if (line.empty() || line == "\r") continue;
        std::size_t count = 1;
        bool quoted = false;
        for (const char c : line) {
            if (c == '"') quoted = !quoted;
            if (c == separator && !quoted) ++count;
        }
        if (quoted) break;  // a field goes on past the line: judge by what came before
        if (shape.fields == 0) shape.fields = count;
        if (count == shape.fields)
            ++shape.full;
        else if (count < shape.fields)
            ++shape.shorter;
        else
            ++shape.longer;
        ++lines;
    }
    return shape;
}

// The separator that gives the first lines one number of fields, two or
// more; else the one whose first line has the most lines beside it with as
// many fields and none with more, the others being rows cut short (at
// least two such lines); else a comma.
char find_separator(text_input& text) {
    bool whole_file = false;
    const std::string_view sample = text.sample(whole_file);
    constexpr char separators[] = {',', ';', '\t'};
    line_shape shapes[3];
    for (int k = 0; k < 3; ++k) {
        shapes[k] = shape_of_lines(sample, whole_file, separators[k]);
        if (shapes[k].fields >= 2 && shapes[k].shorter == 0 && shapes[k].longer == 0)
            return separators[k];
    }
    int best = -1;
    for (int k = 0; k < 3; ++k) {
        const line_shape& s = shapes[k];
        if (s.fields >= 2 && s.longer == 0 && s.full >= 2 && (best < 0 || s.full > shapes[best].full))
            best = k;
    }
    return best >= 0 ? separators[best] : ',';
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return out;
}

std::string_view trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// A first row that names its columns: the word's first ("word", "term", ...),
// a translation's after it ("translation", "definition", ...).
bool names_columns(const record& r) {
    static constexpr std::string_view words[] = {"word", "headword", "term", "lemma", "entry",
                                                 "front", "source", "key"};
    static constexpr std::string_view translations[] = {
        "translation", "definition", "meaning", "gloss", "back", "target", "value", "description"};
    if (std::find(std::begin(words), std::end(words), lower(r.field(0))) == std::end(words))
        return false;
    for (std::size_t i = 1; i < r.size(); ++i)
        if (std::find(std::begin(translations), std::end(translations), lower(r.field(i))) !=
            std::end(translations))
            return true;
    return false;
}

// The items of a --columns list, trimmed.
std::vector<std::string_view> column_items(std::string_view list) {
    std::vector<std::string_view> items;
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = list.find(',', start);
        if (end == std::string_view::npos) end = list.size();
        items.push_back(trim(list.substr(start, end - start)));
        start = end + 1;
    }
    return items;
}

// A column number from 1, or 0 when the item is a name.
std::size_t column_number(std::string_view item) {
    if (item.empty() || item.size() > 6 || item.find_first_not_of("0123456789") != std::string_view::npos)
        return 0;
    return static_cast<std::size_t>(std::stoul(std::string(item)));
}

// Whether the text holds a line break written as the two characters "\n"
// and no real one inside quotes: a file that escapes its line breaks.
bool escapes_line_breaks(std::string_view sample) {
    bool quoted = false, escaped = false;
    for (std::size_t i = 0; i < sample.size(); ++i) {
        const char c = sample[i];
        if (c == '"') quoted = !quoted;
        if ((c == '\n' || c == '\r') && quoted) return false;
        if (c == '\\' && i + 1 < sample.size() && sample[i + 1] == 'n') escaped = true;
    }
    return escaped;
}

class csv_parser {
public:
    csv_parser(const std::string& path, line_reader& lines, char separator)
        : path_(path), lines_(lines), separator_(separator) {}

    // The next record that holds anything; false at the end.
    bool next(record& r) {
        std::string_view line;
        do {
            if (!lines_.next(line)) return false;
            // A quote in the line may go on to the lines after it, so that no
            // record after it could be trusted.
            if (lines_.skipped())
                throw import_error(path_ + ": line " + std::to_string(lines_.line_number()) +
                                   ": a record longer than " + std::to_string(max_raw_size) +
                                   " bytes");
        } while (line.empty());
        r.text.clear();
        r.ends.clear();
        const uint64_t first_line = lines_.line_number();
        line_ = first_line;
        bool quoted = false, at_start = true;
        for (;;) {
            for (std::size_t i = 0; i < line.size(); ++i) {
                const char c = line[i];
                if (quoted) {
                    if (c != '"') {
                        r.text += c;
                    } else if (i + 1 < line.size() && line[i + 1] == '"') {
                        r.text += '"';
                        ++i;
                    } else {
                        quoted = false;
                    }
                } else if (c == separator_) {
                    r.ends.push_back(r.text.size());
                    at_start = true;
                    continue;
                } else if (c == '"' && at_start) {
                    quoted = true;
                } else {
                    r.text += c;
                }
                at_start = false;
            }
            if (!quoted) break;
            if (r.text.size() > max_record_size || !lines_.next(line) || lines_.skipped())
                throw import_error(path_ + ": line " + std::to_string(first_line) +
                                   ": the quote opened here does not close");
            r.text += '\n';
        }
        r.ends.push_back(r.text.size());
        return true;
    }

    // The line where the last record begins.
    uint64_t line() const { return line_; }

private:
    const std::string& path_;
    line_reader& lines_;
    char separator_;
    uint64_t line_ = 0;
};

// Which columns make the translation, as --columns names them or else
// every column but the word's; the header row, when there is one, names them.
class column_choice {
public:
    column_choice(const std::string& path, std::string_view list) : path_(path), list_(list) {}

    // Whether the first record is a header, settling the columns from it.
    bool take_first(const record& r) {
        bool named = false;  // the list names a column
        for (const std::string_view item : column_items(list_)) named |= column_number(item) == 0;
        const bool header = r.size() >= 2 && (names_columns(r) || (named && holds_names(r)));
        if (header)
            for (std::size_t i = 0; i < r.size(); ++i) names_.emplace_back(r.field(i));
        if (list_.empty()) return header;
        for (const std::string_view item : column_items(list_)) {
            const std::size_t number = column_number(item);
            if (number > 0) {
                columns_.push_back(number - 1);
                continue;
            }
            const auto found = std::find_if(names_.begin(), names_.end(), [&](const std::string& n) {
                return lower(trim(n)) == lower(item);
            });
            if (found == names_.end()) {
                std::string row;
                for (std::size_t i = 0; i < r.size(); ++i)
                    row += (i == 0 ? "" : ", ") + std::string(r.field(i));
                throw import_error(path_ + ": --columns names \"" + std::string(item) +
                                   "\", which the first row (" + row + ") does not name");
            }
            columns_.push_back(static_cast<std::size_t>(found - names_.begin()));
        }
        for (const std::size_t column : columns_)
            if (column >= r.size()) refuse_column(column, r);
        return header;
    }

    // The translation of a record: the chosen fields that hold anything,
    // one a line.
    void translation(const record& r, std::string& out) const {
        out.clear();
        const auto add = [&](std::size_t i) {
            if (i >= r.size() || r.field(i).empty()) return;
            if (!out.empty()) out += '\n';
            out.append(r.field(i));
        };
        if (list_.empty()) {
            for (std::size_t i = 1; i < r.size(); ++i) add(i);
        } else {
            for (const std::size_t i : columns_) add(i);
        }
    }

    // What the summary says of them.
    std::string described(std::size_t fields) const {
        std::string text = "the translation from ";
        const auto name = [&](std::size_t i) {
            std::string n = std::to_string(i + 1);
            if (i < names_.size()) n += " (" + names_[i] + ")";
            return n;
        };
        std::vector<std::size_t> used = columns_;
        if (list_.empty())
            for (std::size_t i = 1; i < std::max<std::size_t>(fields, 2); ++i) used.push_back(i);
        for (std::size_t k = 0; k < used.size(); ++k) text += (k == 0 ? "" : ", ") + name(used[k]);
        text += "; the word from " + name(0);
        if (list_.empty() && fields > 2) text += "; --columns picks others";
        return text;
    }

private:
    // A column past the first row's: nothing would fill it. The message
    // lists the columns there are, by number and by the header's names.
    [[noreturn]] void refuse_column(std::size_t column, const record& first) const {
        std::string have;
        for (std::size_t i = 0; i < first.size(); ++i) {
            have += (i == 0 ? "" : ", ") + std::to_string(i + 1);
            if (!names_.empty()) have += " (" + names_[i] + ")";
        }
        if (names_.empty()) {
            have += ", unnamed (the first row: ";
            for (std::size_t i = 0; i < first.size(); ++i)
                have += (i == 0 ? "" : ", ") + std::string(first.field(i));
            have += ")";
        }
        throw import_error(path_ + ": --columns names column " + std::to_string(column + 1) +
                           ", which the file does not have; its columns are " + have);
    }

    bool holds_names(const record& r) const {
        for (const std::string_view item : column_items(list_)) {
            if (column_number(item) > 0) continue;
            bool found = false;
            for (std::size_t i = 0; i < r.size(); ++i) found |= lower(trim(r.field(i))) == lower(item);
            if (!found) return false;
        }
        return true;
    }

    const std::string& path_;
    std::string_view list_;
    std::vector<std::string> names_;   // from the header row
    std::vector<std::size_t> columns_;  // from --columns, from 0
};

}  // namespace

std::string read_csv(reader_input& input, entry_sink& sink) {
    bool whole_file = false;
    const bool escaped_breaks = escapes_line_breaks(input.text->sample(whole_file));
    const char separator = find_separator(*input.text);
    line_reader lines(*input.text, sink);
    csv_parser parser(input.path, lines, separator);
    column_choice columns(input.path, input.options.columns);
    record r;
    std::string title, translation, unescaped;
    bool first = true, header = false;
    std::size_t fields = 0;
    uint64_t breaks = 0;
    // Rows with fewer fields than the first row: whatever column they lack
    // gives their translation nothing.
    uint64_t short_rows = 0, first_short_row = 0;
    while (parser.next(r)) {
        // "#name,Title" and other "#key,value" rows before the first entry
        // describe the dictionary.
        const std::string_view head = r.field(0);
        if (first && head.size() > 1 && head[0] == '#' && head[1] != '#' && head[1] != ' ') {
            if (head == "#name" && r.size() >= 2) title = trim(r.field(1));
            continue;
        }
        if (first) {
            first = false;
            fields = r.size();
            header = columns.take_first(r);
            sink.note("columns", columns.described(fields));
            if (header) continue;
        }
        if (r.size() < fields && short_rows++ == 0) first_short_row = parser.line();
        columns.translation(r, translation);
        std::string_view text = translation;
        if (escaped_breaks && translation.find("\\n") != std::string::npos) {
            unescaped.clear();
            for (std::size_t i = 0; i < translation.size(); ++i) {
                if (translation[i] == '\\' && i + 1 < translation.size() && translation[i + 1] == 'n') {
                    unescaped += '\n';
                    ++breaks;
                    ++i;
                } else {
                    unescaped += translation[i];
                }
            }
            text = unescaped;
        }
        sink.add(raw_entry{r.field(0), text, holds_markup(text) ? markup::html : markup::plain});
    }
    if (short_rows > 0)
        sink.note("short rows", std::to_string(short_rows) + " with fewer than the " +
                                    (header ? "header's " : "first row's ") +
                                    std::to_string(fields) + " columns, the first at line " +
                                    std::to_string(first_short_row));
    if (breaks > 0)
        sink.note("line breaks", std::to_string(breaks) +
                                     " written as the two characters \\n, read as line breaks");
    return title;
}

// Known by the file's name alone: many text files would pass for it.
bool looks_like_csv(std::string_view, bool) { return false; }

}  // namespace lexaro::import
