// libFuzzer target: arbitrary bytes taken as a database file by the three
// commands of lexaro-dump. Any crash, sanitizer report, leak or hang is a bug.
#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>

#include "dump/database_reader.h"
#include "dump/dump_commands.h"

namespace {

// Swallows the results and messages: only the reading paths are under test.
class discard : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static discard sink;
    static std::ostream out(&sink);
    using namespace lexaro::dump;
    const std::string_view file(reinterpret_cast<const char*>(data), size);
    check_command(file, "input", out, out);
    text_command(file, "input", out, out);

    // Look up a word the keys hold, so that the found path is taken too.
    database db;
    std::string word = "cat";
    if (!open_database(file, db) && !db.last_words.empty())
        word = db.last_words[db.last_words.size() / 2];
    lookup_command(file, "input", word, out, out);
    return 0;
}
