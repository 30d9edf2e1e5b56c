// lexaro-import's output to a database (OUTPUT.pdb). The source is written
// as for OUTPUT.txt, but under a hidden name beside the database, and read
// back by lexaro's own compiler and packager, with lexaro's names, lock and
// whole-or-nothing replacement: the database is the one that lexaro makes
// of that source. It is checked as lexaro-dump --check checks a database
// before it replaces the one before it, and the source is removed.
//
// With a largest size, a dictionary whose database would be larger is cut
// by word range into volumes, OUTPUT-1.pdb, OUTPUT-2.pdb, ...: the same
// compiler writes each from its part of the source, and the same packager
// wraps it, with a name and a title of its own. The volumes replace the
// files of those names together, once every one is written and checked.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/block_advice.h"
#include "import/progress.h"
#include "import/source_writer.h"

namespace lexaro::import {

// Whether the output names a database rather than a source: it ends in ".pdb".
bool is_database_name(std::string_view output);

// The temporary file beside a database, as lexaro names it (".tmp").
std::string stream_file_of(const std::string& database);

// How a database is to be written.
struct database_options {
    std::optional<int> words_per_block;  // else lexaro's default or the largest that fits
    std::optional<uint64_t> max_size;    // volumes of at most this many bytes
    std::string max_size_given;          // as typed (8M), for the messages
    std::string charset;                 // the handheld's set, for names and titles; empty: UTF-8
    unsigned jobs = 1;                   // blocks compressed and checked at once
    // The files the run read: a volume's name, known only once the cut is
    // made, must not be one of them, or putting the volume in place would
    // replace the dictionary it was made from.
    std::vector<std::string> inputs;
};

enum class block_choice { given, default_fits, largest_fits };

// One database written: what went into it and what the check found in it.
struct database_facts {
    std::string file;
    std::string name;  // the database name, in the handheld's set
    int32_t words_per_block = 0;
    block_choice chosen = block_choice::given;
    uint64_t file_size = 0;
    uint32_t entries = 0;
    uint32_t blocks = 0;
    uint64_t unsorted = 0;  // entries below the word before them
    uint64_t repeated = 0;  // words repeated in consecutive entries
    std::string first_repeated;
    std::string first_word, last_word;  // a volume's range, in the handheld's set
};

// The database, or its volumes, and what the summary says of their names.
struct database_summary {
    std::vector<database_facts> databases;  // one, or the volumes in order
    bool volumes = false;
    std::optional<uint64_t> max_size;
    std::string max_size_given;  // as typed
    bool name_changed = false;   // the handheld's set lacked characters of the file's name
    bool name_cut = false;       // it was cut to fit the name field
    // Files beside the output that an earlier run wrote and this one did
    // not write again.
    std::vector<std::string> left_alone;
    std::string charset;  // for showing names and words as UTF-8
};

// Compiles the source that the writer has written, and not committed, into
// the database named by its target, with words_per_block when given, else
// lexaro's default when every block fits, else the largest that fits; with
// a largest size, into volumes when the database would be larger, each
// choosing its words_per_block so too. On a failure, output_error with
// lexaro's message: the hidden source and databases are removed, and so is
// the temporary file when this run held it; the files of the databases'
// names stay as they were. A run ended by a signal removes them too.
// Blocks are compressed, and checked, `jobs` at a time; the databases and
// the messages are the same for every number.
database_summary write_database(source_writer& writer, const database_options& options,
                                const block_advice& advice, progress& shown);

// The warning for a single database larger than the handhelds of the
// 16 MB class hold, which names --max-size; nothing for a smaller one.
constexpr uint64_t large_database_size = uint64_t{16} << 20;
std::optional<std::string> size_warning(const database_facts& database);

// The summary's last lines.
void print_database_summary(std::ostream& err, const database_summary& d);

}  // namespace lexaro::import
