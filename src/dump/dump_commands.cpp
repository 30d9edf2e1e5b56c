#include "dump/dump_commands.h"

#include <iomanip>
#include <iostream>

#include "common/handheld_time.h"
#include "common/layout.h"
#include "common/platform.h"
#include "dump/database_reader.h"

namespace lexaro::dump {

const char usage_text[] =
    "usage: lexaro-dump [--check | --text | --lookup WORD] FILE.pdb\n"
    "  --check        check every rule of the database's layout and summarise it (default)\n"
    "  --text         write the dictionary's source back to standard output\n"
    "  --lookup WORD  print the translations of WORD, found through the block keys\n"
    "  --help         print this help\n"
    "exit status: 0 sound (and found), 1 unsound (or not found), 2 usage error\n";

namespace {

const char program[] = "lexaro-dump: ";

int unsound(std::string_view name, const violation& v, std::ostream& err) {
    err << program << name << ": " << describe(v) << '\n';
    return status_failed;
}

// The title field up to its first zero byte; all of it when it has none.
std::string_view title_of(const database& db) {
    const std::string_view field(reinterpret_cast<const char*>(db.header.title.data()), title_size);
    return field.substr(0, field.find('\0'));
}

// Entries out of ascending byte order, and words that repeat the word
// before them: in a sorted dictionary these are all the repeated words.
struct order_report {
    std::string previous;
    uint64_t entry = 0;
    uint64_t unsorted = 0, first_unsorted = 0;
    uint64_t repeated = 0;
    bool in_repeat = false;
    std::string first_repeated;

    void add(std::string_view word) {
        ++entry;
        if (entry > 1 && word < previous && unsorted++ == 0) first_unsorted = entry;
        const bool repeats = entry > 1 && word == previous;
        if (repeats && !in_repeat && repeated++ == 0) first_repeated = word;
        in_repeat = repeats;
        previous.assign(word);
    }
};

}  // namespace

std::optional<options> parse_arguments(const std::vector<std::string_view>& args) {
    options o;
    bool command_given = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if (a == "--help") {
            o.what = options::command::help;
            return o;
        }
        if (a == "--check" || a == "--text" || a == "--lookup") {
            if (command_given) return std::nullopt;
            command_given = true;
            o.what = a == "--check"  ? options::command::check
                     : a == "--text" ? options::command::text
                                     : options::command::lookup;
            if (o.what == options::command::lookup) {
                if (++i == args.size()) return std::nullopt;
                o.word = args[i];
            }
        } else if (a.size() > 1 && a[0] == '-') {
            return std::nullopt;
        } else {
            if (!o.path.empty()) return std::nullopt;
            o.path = a;
        }
    }
    if (o.path.empty()) return std::nullopt;
    return o;
}

std::optional<std::string> read_database_file(const std::string& path, std::string& bytes) {
    const int fd = open_for_reading(path);
    if (fd < 0) return "can't open file " + path;
    const std::string too_large = path + " is too large for a database";
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(file_path(path), error);
    if (!error && size >= max_database_size) {
        close_descriptor(fd);
        return too_large;
    }
    bytes.clear();
    char chunk[1 << 16];
    for (;;) {
        const long count = read_some(fd, chunk, sizeof chunk);
        if (count <= 0) {
            close_descriptor(fd);
            if (count < 0) return "can't read file " + path;
            return std::nullopt;
        }
        if (bytes.size() + static_cast<std::size_t>(count) >= max_database_size) {
            close_descriptor(fd);
            return too_large;
        }
        bytes.append(chunk, static_cast<std::size_t>(count));
    }
}

int check_command(std::string_view file, std::string_view name, std::ostream& out,
                  std::ostream& err) {
    database db;
    if (auto v = open_database(file, db)) return unsound(name, *v, err);
    order_report order;
    entry_totals totals;
    if (auto v = read_entries(
            db, [&](std::string_view word, std::string_view) { order.add(word); }, &totals))
        return unsound(name, *v, err);

    const stream_header& h = db.header;
    const uint64_t last_record = db.stream.size() - uint64_t{record_size} * (db.record_count - 1);
    out << "title:         " << title_of(db) << '\n'
        << "database name: " << db.name << '\n'
        << "date:          " << handheld_date(db.creation_date) << '\n'
        << "entries:       " << h.entry_count << '\n'
        << "blocks:        " << h.block_count << ", words_per_block " << h.words_per_block << '\n'
        << "stream:        " << db.stream.size() << " bytes\n"
        << "records:       " << db.record_count << " of " << record_size << " bytes, the last "
        << last_record << " bytes; file " << file.size() << " bytes\n"
        << "compression:   " << totals.uncompressed_size << " bytes in blocks of "
        << totals.compressed_size << " bytes";
    if (totals.compressed_size > 0)
        out << ", ratio " << std::fixed << std::setprecision(2)
            << double(totals.uncompressed_size) / double(totals.compressed_size);
    out << "\nwords:         largest size " << h.max_word_size << ", average size "
        << h.avg_word_size << '\n'
        << "translations:  largest size " << h.max_translation_size << ", average size "
        << h.avg_translation_size << '\n';
    if (order.unsorted == 0)
        out << "order:         ascending byte order\n";
    else
        out << "order:         " << order.unsorted
            << " entries below the word before them, the first entry " << order.first_unsorted
            << "; the reader cannot find every word\n";
    if (order.repeated == 0)
        out << "duplicates:    none\n";
    else
        out << "duplicates:    " << order.repeated
            << " words repeated in consecutive entries, the first " << order.first_repeated << '\n';
    out << name << ": sound\n";
    return status_ok;
}

int text_command(std::string_view file, std::string_view name, std::ostream& out,
                 std::ostream& err) {
    database db;
    if (auto v = open_database(file, db)) return unsound(name, *v, err);
    out << title_of(db) << '\n';
    const auto write_entry = [&](std::string_view word, std::string_view translation) {
        out << word << '$' << translation << '\n';
    };
    if (auto v = read_entries(db, write_entry)) return unsound(name, *v, err);
    return status_ok;
}

int lookup_command(std::string_view file, std::string_view name, std::string_view word,
                   std::ostream& out, std::ostream& err) {
    database db;
    if (auto v = open_database(file, db)) return unsound(name, *v, err);
    bool found = false;
    if (const auto i = find_block(db, word)) {
        block_reader reader;
        block_entries block;
        if (auto v = reader.read(db, *i, block)) return unsound(name, *v, err);
        for (std::size_t j = 0; j < block.words.size(); ++j)
            if (block.words[j] == word) {
                out << block.translations[j] << '\n';
                found = true;
            }
    }
    if (found) return status_ok;
    err << program << word << ": not found\n";
    return status_failed;
}

int run(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const auto o = parse_arguments(args);
    if (!o) {
        err << usage_text;
        return status_usage;
    }
    if (o->what == options::command::help) {
        out << usage_text;
        return status_ok;
    }
    std::string file;
    if (auto problem = read_database_file(o->path, file)) {
        err << program << *problem << '\n';
        return status_failed;
    }
    switch (o->what) {
        case options::command::text:
            // The source's bytes go out unchanged: on Windows standard output
            // is otherwise a text stream that turns each "\n" into CR LF.
            if (&out == &std::cout) set_binary_mode(stdout);
            return text_command(file, o->path, out, err);
        case options::command::lookup:
            return lookup_command(file, o->path, o->word, out, err);
        default:
            return check_command(file, o->path, out, err);
    }
}

}  // namespace lexaro::dump
