// lexaro-import's output to a database (OUTPUT.pdb). The source is written
// as for OUTPUT.txt, but under a hidden name beside the database, and read
// back by lexaro's own compiler and packager, with lexaro's names, lock and
// whole-or-nothing replacement: the database is the one that lexaro makes
// of that source. It is checked as lexaro-dump --check checks a database
// before it replaces the one before it, and the source is removed.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "import/block_advice.h"
#include "import/progress.h"
#include "import/source_writer.h"

namespace lexaro::import {

// Whether the output names a database rather than a source: it ends in ".pdb".
bool is_database_name(std::string_view output);

// The temporary file beside a database, as lexaro names it (".tmp").
std::string stream_file_of(const std::string& database);

// What went into the database and what the check found in it.
struct database_summary {
    std::string file;
    int32_t words_per_block = 0;
    enum class choice { given, default_fits, largest_fits } chosen = choice::given;
    uint64_t file_size = 0;
    uint32_t entries = 0;
    uint32_t blocks = 0;
    uint64_t unsorted = 0;  // entries below the word before them
    uint64_t repeated = 0;  // words repeated in consecutive entries
    std::string first_repeated;
};

// Compiles the source that the writer has written, and not committed, into
// the database named by its target, with words_per_block when given, else
// lexaro's default when every block fits, else the largest that fits. On
// a failure, output_error with lexaro's message: the hidden source and
// database are removed, and so is the temporary file when this run held it;
// a database of that name stays as it was. A run ended by a signal removes
// them too. Blocks are compressed, and checked, `jobs` at a time; the
// database and the messages are the same for every number.
database_summary write_database(source_writer& writer, std::optional<int> words_per_block,
                                const block_advice& advice, progress& shown, unsigned jobs);

// The summary's last lines.
void print_database_summary(std::ostream& err, const database_summary& d);

}  // namespace lexaro::import
