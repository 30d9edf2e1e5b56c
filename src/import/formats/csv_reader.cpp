// Comma-separated values (RFC 4180): fields in double quotes may hold the
// separator, doubled quotes and line breaks. The separator (comma, semicolon
// or tab) is the one that gives the first records the same number of fields;
// a first row that names its columns ("word,translation") is a header. The
// first column is the word, the second the translation, further columns
// follow it on lines of their own.
#include <algorithm>
#include <string>
#include <vector>

#include "import/formats/line_reader.h"
#include "import/formats/readers.h"
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

// Fields per line for a separator in the first lines, quotes respected
// within a line; 0 where the counts differ.
std::size_t fields_per_line(std::string_view sample, bool whole_file, char separator) {
    std::size_t fields = 0;
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
        if (fields != 0 && count != fields) return 0;
        fields = count;
        ++lines;
    }
    return fields >= 2 ? fields : 0;
}

char find_separator(text_input& text) {
    bool whole_file = false;
    const std::string_view sample = text.sample(whole_file);
    for (const char c : {',', ';', '\t'})
        if (fields_per_line(sample, whole_file, c) != 0) return c;
    return ',';
}

bool names_columns(const record& r) {
    static constexpr std::string_view words[] = {"word", "headword", "term", "lemma", "entry",
                                                 "front", "source", "key"};
    static constexpr std::string_view translations[] = {
        "translation", "definition", "meaning", "gloss", "back", "target", "value", "description"};
    const auto lower = [](std::string_view text) {
        std::string out(text);
        for (char& c : out) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        return out;
    };
    const std::string first = lower(r.field(0)), second = lower(r.field(1));
    return std::find(std::begin(words), std::end(words), first) != std::end(words) &&
           std::find(std::begin(translations), std::end(translations), second) !=
               std::end(translations);
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

private:
    const std::string& path_;
    line_reader& lines_;
    char separator_;
};

}  // namespace

std::string read_csv(reader_input& input, entry_sink& sink) {
    const char separator = find_separator(*input.text);
    line_reader lines(*input.text, sink);
    csv_parser parser(input.path, lines, separator);
    record r;
    std::string translation;
    bool first = true;
    while (parser.next(r)) {
        if (first && r.size() >= 2 && names_columns(r)) {
            first = false;
            continue;
        }
        first = false;
        translation.clear();
        for (std::size_t i = 1; i < r.size(); ++i) {
            const std::string_view field = r.field(i);
            if (field.empty()) continue;
            if (!translation.empty()) translation += '\n';
            translation.append(field);
        }
        sink.add(raw_entry{r.field(0), translation, markup::plain});
    }
    return "";
}

// Known by the file's name alone: many text files would pass for it.
bool looks_like_csv(std::string_view, bool) { return false; }

}  // namespace lexaro::import
