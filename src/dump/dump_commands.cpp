#include "dump/dump_commands.h"

#include <cstring>
#include <iomanip>
#include <ostream>
#include <sstream>

#include "common/handheld_time.h"
#include "common/layout.h"
#include "common/platform.h"
#include "dump/database_reader.h"

namespace lexaro::dump {

const char usage_text[] =
    "usage: lexaro-dump [--check | --text] [--charset NAME] FILE.pdb\n"
    "       lexaro-dump --lookup WORD [--charset NAME] FILE.pdb [VOLUME.pdb ...]\n"
    "  --check        check every rule of the database's layout and summarise it (default)\n"
    "  --text         write the dictionary's source back to standard output\n"
    "  --lookup WORD  print the translations of WORD, found through the block keys; over\n"
    "                 the volumes of one dictionary (lexaro-import --max-size), in the\n"
    "                 volume whose range of words holds it\n"
    "  --charset NAME the database's character set (as given to lexaro-import): the WORD\n"
    "                 typed in UTF-8 is converted to it, and what is shown back to UTF-8\n"
    "  --help         print this help\n"
    "exit status: 0 sound (and found), 1 unsound (or not found), 2 usage error\n";

namespace {

const char program[] = "lexaro-dump: ";

int unsound(std::string_view name, const violation& v, std::ostream& err) {
    if (v.unreadable)
        err << program << "can't read file " << name << '\n';
    else
        err << program << name << ": " << describe(v) << '\n';
    return status_failed;
}

// The title field up to its first zero byte; all of it when it has none.
std::string_view title_of(const database& db) {
    const std::string_view field(reinterpret_cast<const char*>(db.header.title.data()), title_size);
    return field.substr(0, field.find('\0'));
}

// Writes text, made UTF-8 when the database is in another set.
void write_shown(buffered_output& out, std::string_view text, charset_decoder* shown,
                 std::string& scratch) {
    if (shown == nullptr) {
        out.write(text);
        return;
    }
    scratch.clear();
    shown->decode(text, scratch, false);
    out.write(scratch);
}

}  // namespace

std::optional<options> parse_arguments(const std::vector<std::string_view>& args,
                                       std::string* problem) {
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
        } else if (a == "--charset" || a.substr(0, 10) == "--charset=") {
            if (a == "--charset" && ++i == args.size()) return std::nullopt;
            o.charset = a == "--charset" ? args[i] : a.substr(10);
            if (o.charset.empty()) return std::nullopt;
        } else if (a.size() > 1 && a[0] == '-') {
            return std::nullopt;
        } else {
            o.paths.emplace_back(a);
        }
    }
    if (o.paths.empty()) return std::nullopt;
    // Only a lookup goes through several volumes.
    if (o.paths.size() > 1 && o.what != options::command::lookup) {
        if (problem != nullptr)
            *problem = "give one database at a time; several are the volumes of one dictionary, "
                       "for --lookup";
        return std::nullopt;
    }
    return o;
}

std::optional<std::string> open_database_file(const std::string& path, random_access_file& file) {
    if (!file.open(path)) return "can't open file " + path;
    if (file.directory()) return "can't read file " + path;
    if (!file.regular()) return path + " is not a regular file";
    if (file.size() >= max_database_size) return path + " is too large for a database";
    return std::nullopt;
}

void order_report::add(std::string_view word) {
    ++entry;
    if (entry > 1 && word < previous && unsorted++ == 0) first_unsorted = entry;
    const bool repeats = entry > 1 && word == previous;
    if (repeats && !in_repeat && repeated++ == 0) first_repeated = word;
    in_repeat = repeats;
    previous.assign(word);
}

outcome check_database(const random_access_input& file, database& db, order_report& order,
                       entry_totals& totals, unsigned jobs) {
    if (auto v = open_database(file, db)) return v;
    entry_reader reader(db, jobs);
    while (reader.next()) {
        const block_entries& block = reader.entries();
        for (uint32_t j = 0; j < block.count; ++j) order.add(block.word(j));
    }
    if (const outcome& v = reader.problem()) return v;
    totals = reader.totals();
    return std::nullopt;
}

int check_command(const random_access_input& file, std::string_view name, buffered_output& out,
                  std::ostream& err, charset_decoder* shown) {
    database db;
    order_report order;
    entry_totals totals;
    if (auto v = check_database(file, db, order, totals)) return unsound(name, *v, err);

    const stream_header& h = db.header;
    const uint64_t last_record = db.stream_size - uint64_t{record_size} * (db.record_count - 1);
    const auto as_shown = [shown](std::string_view text) {
        std::string utf8;
        if (shown == nullptr) return std::string(text);
        shown->decode(text, utf8, false);
        return utf8;
    };
    std::ostringstream summary;
    summary << "title:         " << as_shown(title_of(db)) << '\n'
            << "database name: " << as_shown(db.name) << '\n'
            << "date:          " << handheld_date(db.creation_date) << '\n'
            << "entries:       " << h.entry_count << '\n'
            << "blocks:        " << h.block_count << ", words_per_block " << h.words_per_block
            << '\n'
            << "stream:        " << db.stream_size << " bytes\n"
            << "records:       " << db.record_count << " of " << record_size << " bytes, the last "
            << last_record << " bytes; file " << db.file_size << " bytes\n"
            << "compression:   " << totals.uncompressed_size << " bytes in blocks of "
            << totals.compressed_size << " bytes";
    if (totals.compressed_size > 0)
        summary << ", ratio " << std::fixed << std::setprecision(2)
                << double(totals.uncompressed_size) / double(totals.compressed_size);
    summary << "\nwords:         largest size " << h.max_word_size << ", average size "
            << h.avg_word_size << '\n'
            << "translations:  largest size " << h.max_translation_size << ", average size "
            << h.avg_translation_size << '\n';
    if (order.unsorted == 0)
        summary << "order:         ascending byte order\n";
    else
        summary << "order:         " << order.unsorted
                << " entries below the word before them, the first entry " << order.first_unsorted
                << "; the reader cannot find every word\n";
    if (order.repeated == 0)
        summary << "duplicates:    none\n";
    else
        summary << "duplicates:    " << order.repeated
                << " words repeated in consecutive entries, the first "
                << as_shown(order.first_repeated)
                << '\n';
    summary << name << ": sound\n";
    out.write(summary.str());
    return status_ok;
}

int text_command(const random_access_input& file, std::string_view name, buffered_output& out,
                 std::ostream& err, charset_decoder* shown) {
    database db;
    if (auto v = open_database(file, db)) return unsound(name, *v, err);
    std::string scratch;
    write_shown(out, title_of(db), shown, scratch);
    out.put('\n');
    entry_reader reader(db);
    while (!out.failed() && reader.next()) {
        const block_entries& block = reader.entries();
        for (uint32_t j = 0; j < block.count; ++j) {
            write_shown(out, block.word(j), shown, scratch);
            out.put('$');
            write_shown(out, block.translation(j), shown, scratch);
            out.put('\n');
        }
    }
    if (const outcome& v = reader.problem()) return unsound(name, *v, err);
    return out.failed() ? status_failed : status_ok;
}

int lookup_command(const random_access_input& file, std::string_view name, std::string_view word,
                   buffered_output& out, std::ostream& err, charset_decoder* shown) {
    return lookup_command({&file}, {std::string(name)}, word, out, err, shown);
}

int lookup_command(const std::vector<const random_access_input*>& files,
                   const std::vector<std::string>& names, std::string_view word,
                   buffered_output& out, std::ostream& err, charset_decoder* shown) {
    database db;
    bool holds = false;
    std::size_t volume = 0;
    for (; volume < files.size() && !holds; ++volume) {
        if (auto v = open_database(*files[volume], db)) return unsound(names[volume], *v, err);
        if (files.size() == 1) break;  // its blocks are searched all the same
        if (auto v = range_holds(db, word, holds)) return unsound(names[volume], *v, err);
    }
    if (holds) --volume;
    bool found = false;
    std::string scratch;
    if (volume < files.size()) {
        std::optional<uint32_t> i;
        if (auto v = find_block(db, word, i)) return unsound(names[volume], *v, err);
        if (i) {
            block_reader reader;
            block_entries block;
            if (auto v = reader.read(db, *i, block)) return unsound(names[volume], *v, err);
            for (uint32_t j = 0; j < block.count; ++j)
                if (block.word(j) == word) {
                    write_shown(out, block.translation(j), shown, scratch);
                    out.put('\n');
                    found = true;
                }
        }
    }
    if (found) return status_ok;
    if (shown != nullptr) shown->decode(word, scratch, false);
    err << program << (shown != nullptr ? std::string_view(scratch) : word) << ": not found\n";
    return status_failed;
}

namespace {

int run_command(int argc, const char* const* argv, buffered_output& out, std::ostream& err) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    std::string usage_problem;
    const auto o = parse_arguments(args, &usage_problem);
    if (!o) {
        if (!usage_problem.empty()) err << program << usage_problem << '\n';
        err << usage_text;
        return status_usage;
    }
    if (o->what == options::command::help) {
        out.write(usage_text);
        return status_ok;
    }
    std::unique_ptr<charset_decoder> shown;
    std::string word = o->word;
    if (!o->charset.empty()) {
        std::string problem;
        auto encoder = charset_encoder::open(o->charset, problem);
        if (encoder) shown = charset_decoder::open(o->charset, problem);
        if (!shown) {
            err << program << problem << '\n' << usage_text;
            return status_usage;
        }
        word.clear();
        encoder->encode(o->word, word);
    }
    std::vector<random_access_file> files(o->paths.size());
    std::vector<const random_access_input*> inputs;
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (auto problem = open_database_file(o->paths[i], files[i])) {
            err << program << *problem << '\n';
            return status_failed;
        }
        inputs.push_back(&files[i]);
    }
    switch (o->what) {
        case options::command::text:
            // The source's bytes go out unchanged: on Windows standard output
            // is otherwise a text stream that turns each "\n" into CR LF.
            set_binary_mode(out.descriptor());
            return text_command(files[0], o->paths[0], out, err, shown.get());
        case options::command::lookup:
            return lookup_command(inputs, o->paths, word, out, err, shown.get());
        default:
            return check_command(files[0], o->paths[0], out, err, shown.get());
    }
}

}  // namespace

int run(int argc, const char* const* argv, buffered_output& out, std::ostream& err) {
    const int status = run_command(argc, argv, out, err);
    if (out.close()) return status;
    err << program << "can't write standard output: " << std::strerror(out.error()) << '\n';
    return status_failed;
}

}  // namespace lexaro::dump
