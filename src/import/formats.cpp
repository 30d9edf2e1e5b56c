#include "import/formats.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "import/dictd_reader.h"
#include "import/stardict_reader.h"
#include "import/text_readers.h"

namespace lexaro::import {

namespace {

struct named_format {
    std::string_view name;
    format value;
};
constexpr named_format names[] = {{"tab", format::tab},
                                  {"dictd", format::dictd},
                                  {"stardict", format::stardict},
                                  {"trans", format::trans},
                                  {"lexaro", format::lexaro}};

bool ends_with(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// The files of a dictd dictionary, and of a StarDict one, by what follows
// their common base name.
constexpr std::string_view dictd_suffixes[] = {".index", ".dict.dz", ".dict"};
constexpr std::string_view stardict_suffixes[] = {".ifo",  ".idx.gz", ".idx", ".dict.dz",
                                                  ".dict", ".syn.dz", ".syn"};

// The base name of path when it ends in one of the suffixes, else nothing.
template <std::size_t n>
std::optional<std::string> stem(const std::string& path, const std::string_view (&suffixes)[n]) {
    for (std::string_view suffix : suffixes)
        if (ends_with(path, suffix)) return path.substr(0, path.size() - suffix.size());
    return std::nullopt;
}

bool exists(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0;
}

constexpr std::size_t sample_size = 64 * 1024;
constexpr std::size_t sample_lines = 200;

std::string read_sample(const std::string& path, bool& whole_file) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw import_error("can't open file " + path + ": " + std::strerror(errno));
    std::string sample(sample_size, '\0');
    std::size_t filled = 0;
    while (filled < sample.size()) {
        const ssize_t count = read(fd, &sample[filled], sample.size() - filled);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            const int error = errno;
            close(fd);
            throw import_error("can't read file " + path + ": " + std::strerror(error));
        }
        if (count == 0) break;
        filled += static_cast<std::size_t>(count);
    }
    close(fd);
    whole_file = filled < sample.size();
    sample.resize(filled);
    return sample;
}

}  // namespace

const char format_names[] = "tab, dictd, stardict, trans or lexaro";

std::string_view format_name(format f) {
    for (const named_format& n : names)
        if (n.value == f) return n.name;
    return "?";
}

std::optional<format> format_from_name(std::string_view name) {
    for (const named_format& n : names)
        if (n.name == name) return n.value;
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
        return is_trans ? format::trans : is_tab ? format::tab : format::lexaro;
    // A source whose translations hold tabs: its title line has none.
    if (is_tab && is_source && !is_trans && lines[0].find('\t') == std::string_view::npos &&
        tab == lines.size() - 1)
        return format::lexaro;
    if (is_tab && is_source && !is_trans) return format::tab;
    return std::nullopt;
}

format detect_format(const std::string& path) {
    if (ends_with(path, ".index")) return format::dictd;
    if (ends_with(path, ".dict") || ends_with(path, ".dict.dz")) {
        // StarDict names its articles file the same way; its .ifo tells them apart.
        const std::string base = *stem(path, stardict_suffixes);
        return exists(base + ".ifo") ? format::stardict : format::dictd;
    }
    if (stem(path, stardict_suffixes)) return format::stardict;
    bool whole_file = false;
    const std::string sample = read_sample(path, whole_file);
    if (sample.empty()) throw import_error(path + " is empty");
    if (const auto f = recognise_text(sample, whole_file)) return *f;
    throw import_error(std::string("can't tell the format of ") + path +
                       "; name it with --format (" + format_names + ")");
}

std::vector<std::string> files_read(format f, const std::string& path) {
    std::vector<std::string> files{path};
    const auto add_siblings = [&](const auto& suffixes) {
        const auto base = stem(path, suffixes);
        if (!base) return;
        for (std::string_view suffix : suffixes) {
            const std::string sibling = *base + std::string(suffix);
            if (sibling != path && exists(sibling)) files.push_back(sibling);
        }
    };
    if (f == format::dictd) add_siblings(dictd_suffixes);
    if (f == format::stardict) add_siblings(stardict_suffixes);
    return files;
}

std::string read_dictionary(format f, const std::string& path, entry_sink& sink) {
    switch (f) {
        case format::tab:
            return read_tab(path, sink);
        case format::trans:
            return read_trans(path, sink);
        case format::lexaro:
            return read_source(path, sink);
        case format::dictd:
            return read_dictd(path, sink);
        case format::stardict:
            return read_stardict(path, sink);
    }
    return {};
}

}  // namespace lexaro::import
