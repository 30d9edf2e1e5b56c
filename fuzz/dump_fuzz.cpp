// libFuzzer target: arbitrary bytes taken as a database file by the three
// commands of lexaro-dump. Any crash, sanitizer report, leak or hang is a bug.
#include <fcntl.h>

#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>

#include "common/buffered_output.h"
#include "common/random_access_file.h"
#include "dump/database_reader.h"
#include "dump/dump_commands.h"

namespace {

// Swallows the messages: only the reading paths are under test.
class discard : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static discard sink;
    static std::ostream err(&sink);
    // The results go to /dev/null through the real output path.
    static lexaro::buffered_output out(open("/dev/null", O_WRONLY | O_CLOEXEC));
    using namespace lexaro::dump;
    const lexaro::memory_input file(std::string_view(reinterpret_cast<const char*>(data), size));
    check_command(file, "input", out, err);
    text_command(file, "input", out, err);

    // Look up a word the keys hold, so that the found path is taken too.
    database db;
    std::string word = "cat";
    if (!open_database(file, db) && !db.keys.empty())
        read_key_word(db, static_cast<uint32_t>(db.keys.size() / 2), true, word);
    lookup_command(file, "input", word, out, err);
    out.flush();
    return 0;
}
