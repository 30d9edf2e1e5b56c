#include "import/formats/formats.h"

#include "common/compressed_input.h"
#include "import/formats/dictd_reader.h"
#include "import/formats/readers.h"
#include "import/formats/stardict_reader.h"

namespace lexaro::import {

namespace {

bool ends_with(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

constexpr std::size_t sample_lines = 200;
// A sample where more than one byte in this many is a control character is binary.
constexpr std::size_t max_control_share = 10;

// StarDict names its articles file as dictd does; its .ifo tells them apart.
bool stardict_claims(const std::string& path) {
    for (std::string_view suffix : {".dict.dz", ".dict"})
        if (ends_with(path, suffix))
            return file_exists(path.substr(0, path.size() - suffix.size()) + ".ifo");
    return true;
}

std::string read_dictd_files(reader_input& input, entry_sink& sink) {
    return read_dictd(input.path, sink);
}
std::string read_stardict_files(reader_input& input, entry_sink& sink) {
    return read_stardict(input.path, sink);
}

bool looks_like_tab(std::string_view sample, bool whole_file);
bool looks_like_trans(std::string_view sample, bool whole_file);
bool looks_like_source(std::string_view sample, bool whole_file);

// The formats, in the order their tests are tried: the formats with marks of
// their own first, the plain text formats (which recognise_text tells apart)
// after them, and CSV, whose lines could be anything's, last.
const format_row table[] = {
    {"stardict", {".ifo", ".idx.gz", ".idx", ".dict.dz", ".dict", ".syn.dz", ".syn"},
     stardict_claims, nullptr, read_stardict_files, false, ""},
    {"dictd", {".index", ".dict.dz", ".dict"}, nullptr, nullptr, read_dictd_files, false, ""},
    {"babylon", {".bgl"}, nullptr, looks_like_babylon, read_babylon, false, "", true},
    {"mdict", {".mdx", ".mdd"}, nullptr, looks_like_mdict, read_mdict, false, "", true},
    {"yomitan", {".zip"}, nullptr, looks_like_yomitan, read_yomitan, false, "", true},
    {"dsl", {".dsl"}, nullptr, looks_like_dsl, read_dsl, true, ""},
    {"xdxf", {".xdxf"}, nullptr, looks_like_xdxf, read_xdxf, true, ""},
    {"tei", {".tei"}, nullptr, looks_like_tei, read_tei, true, ""},
    {"jmdict", {}, nullptr, looks_like_jmdict, read_jmdict, true, ""},
    {"wiktextract", {".jsonl", ".json"}, nullptr, looks_like_wiktextract, read_wiktextract, true,
     ""},
    {"edict", {}, nullptr, looks_like_edict, read_edict, true, "EUC-JP"},
    {"cedict", {}, nullptr, looks_like_cedict, read_cedict, true, ""},
    {"dictcc", {}, nullptr, looks_like_dictcc, read_dictcc, true, ""},
    {"tab", {".tab", ".tsv"}, nullptr, looks_like_tab, read_tab, true, ""},
    {"trans", {}, nullptr, looks_like_trans, read_trans, true, ""},
    {"lexaro", {}, nullptr, looks_like_source, read_source, true, ""},
    {"csv", {".csv"}, nullptr, looks_like_csv, read_csv, true, ""},
};

format row(std::string_view name) { return *format_from_name(name); }

bool looks_like_tab(std::string_view sample, bool whole_file) {
    return recognise_text(sample, whole_file) == row("tab");
}
bool looks_like_trans(std::string_view sample, bool whole_file) {
    return recognise_text(sample, whole_file) == row("trans");
}
bool looks_like_source(std::string_view sample, bool whole_file) {
    return recognise_text(sample, whole_file) == row("lexaro");
}

// Whether a sample (made UTF-8) is of a binary file rather than text: text
// holds no zero byte, and few control characters besides tab, line feed,
// form feed and carriage return. UTF-16 text is decoded by then, so its
// zero bytes are gone.
bool looks_binary(std::string_view sample) {
    std::size_t controls = 0;
    for (const char c : sample) {
        const auto b = static_cast<unsigned char>(c);
        if (b == 0) return true;
        controls += (b < 0x20 && b != '\t' && b != '\n' && b != '\f' && b != '\r') || b == 0x7F;
    }
    return controls * max_control_share > sample.size();
}

// Whether path ends in one of the row's extensions (for a text format, also
// with ".gz" or ".dz" after it); gives that extension's length.
std::optional<std::size_t> extension_of(const format_row& f, std::string_view path) {
    std::string_view stem = path;
    for (int compressed = 0; compressed < 2; ++compressed) {
        for (std::string_view extension : f.extensions)
            if (stem.size() > extension.size() && ends_with(stem, extension))
                return path.size() - stem.size() + extension.size();
        if (!f.reads_text || !(ends_with(stem, ".gz") || ends_with(stem, ".dz"))) break;
        stem.remove_suffix(3);
    }
    return std::nullopt;
}

}  // namespace

std::string_view format_name(format f) { return f->name; }

std::optional<format> format_from_name(std::string_view name) {
    for (const format_row& f : table)
        if (f.name == name) return &f;
    return std::nullopt;
}

const std::string& format_names() {
    static const std::string names = [] {
        std::string list;
        const std::size_t count = std::size(table);
        for (std::size_t i = 0; i < count; ++i) {
            if (i > 0) list += i + 1 == count ? " or " : ", ";
            list += table[i].name;
        }
        return list;
    }();
    return names;
}

std::optional<format> format_by_name(const std::string& path) {
    for (const format_row& f : table)
        if (extension_of(f, path) && (f.claims == nullptr || f.claims(path))) return &f;
    return std::nullopt;
}

std::optional<format> format_by_content(std::string_view sample, bool whole_file) {
    // The signatures of binary formats first: their first bytes are no text.
    for (const format_row& f : table)
        if (!f.reads_text && f.looks_like != nullptr && f.looks_like(sample, whole_file)) return &f;
    if (sample.substr(0, 3) == "\xEF\xBB\xBF") sample.remove_prefix(3);
    if (looks_binary(sample)) return std::nullopt;
    for (const format_row& f : table)
        if (f.reads_text && f.looks_like != nullptr && f.looks_like(sample, whole_file)) return &f;
    return std::nullopt;
}

std::optional<format> recognise_text(std::string_view sample, bool whole_file) {
    // The whole lines of the sample, without blank ones and line ends.
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < sample.size() && lines.size() < sample_lines) {
        std::size_t end = sample.find('\n', start);
        if (end == std::string_view::npos) {
            if (!whole_file) break;  // cut by the sample's end
            end = sample.size();
        }
        std::string_view line = sample.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    if (lines.empty()) return std::nullopt;
    if (lines[0].substr(0, 3) == "\xEF\xBB\xBF") lines[0].remove_prefix(3);

    std::size_t trans = 0, trans_entries = 0, tab = 0, tab_entries = 0, source = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const bool separated = line.find(" :: ") != std::string_view::npos;
        const bool tabbed = line.find('\t') != std::string_view::npos;
        if (line[0] == '#' || separated) ++trans;
        if (line[0] != '#' && separated) ++trans_entries;
        if (line.substr(0, 2) == "##" || tabbed) ++tab;
        if (line.substr(0, 2) != "##" && tabbed) ++tab_entries;
        if (i > 0 && line.find('$') != std::string_view::npos) ++source;
    }
    // A format fits when four lines in five, or more, are its lines.
    const auto fits = [&](std::size_t matching, std::size_t of) {
        return of > 0 && matching * 5 >= of * 4;
    };
    const bool is_trans = trans_entries > 0 && fits(trans, lines.size());
    const bool is_tab = tab_entries > 0 && fits(tab, lines.size());
    const bool is_source = source > 0 && fits(source, lines.size() - 1);
    if (is_trans + is_tab + is_source == 1)
        return row(is_trans ? "trans" : is_tab ? "tab" : "lexaro");
    // A source whose translations hold tabs: its title line has none.
    if (is_tab && is_source && !is_trans && lines[0].find('\t') == std::string_view::npos &&
        tab == lines.size() - 1)
        return row("lexaro");
    if (is_tab && is_source && !is_trans) return row("tab");
    return std::nullopt;
}

std::vector<std::string> files_read(format f, const std::string& path) {
    std::vector<std::string> files{path};
    if (f->reads_text) return files;
    const auto extension = extension_of(*f, path);
    if (!extension) return files;
    const std::string base = path.substr(0, path.size() - *extension);
    for (std::string_view suffix : f->extensions) {
        const std::string sibling = base + std::string(suffix);
        if (sibling != path && file_exists(sibling)) files.push_back(sibling);
    }
    return files;
}

}  // namespace lexaro::import
