// libFuzzer target: arbitrary bytes taken as a dictionary by each of
// lexaro-import's text format readers and by the MDict reader, their entries
// through the clean-up. The first byte picks the reader, and whether the
// text is named UTF-16 (for MDict: --input-charset GBK) and --translations
// is set; the rest is the file. This build lets MDict's blocks through
// whatever their checksums say, so that the fuzzer reaches what they guard.
// An import_error is a finding only if it crashes: any crash, sanitizer
// report, leak, hang or unbounded growth is a bug.
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "import/clean_up.h"
#include "import/formats/formats.h"
#include "import/text_input.h"

namespace {

using namespace lexaro::import;

class cleaning_sink : public entry_sink {
public:
    void add(const raw_entry& entry) override { clean_.clean(entry, word_, translation_); }

private:
    cleaner clean_{"; "};
    std::string word_, translation_;
};

constexpr const char* formats[] = {"dsl",         "xdxf", "csv",   "dictcc", "edict", "cedict",
                                   "wiktextract", "tab",  "trans", "lexaro", "mdict"};
constexpr std::size_t format_count = sizeof formats / sizeof formats[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const std::string path = "/tmp/lexaro-import-fuzz-" + std::to_string(getpid());
    const uint8_t choice = data[0];
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    }
    const format f = *format_from_name(formats[(choice & 0x0F) % format_count]);
    reader_options options;
    if (choice & 0x40) options.translations = "de";
    try {
        if (!f->reads_text) {
            if (choice & 0x80) options.input_charset = "GBK";
            reader_input input{path, nullptr, options};
            cleaning_sink sink;
            f->read(input, sink);
            return 0;
        }
        text_input text(path, (choice & 0x80) ? "UTF-16LE" : "");
        reader_input input{path, &text, options};
        cleaning_sink sink;
        bool whole_file = false;
        format_by_content(text.sample(whole_file), whole_file);
        f->read(input, sink);
    } catch (const import_error&) {
    }
    return 0;
}
