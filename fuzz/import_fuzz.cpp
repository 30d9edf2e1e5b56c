// libFuzzer target: arbitrary bytes taken as a dictionary by each of
// lexaro-import's text format readers and by the Babylon, MDict and Yomitan
// readers, their entries through the clean-up. The first byte picks the reader, and
// whether the text is named UTF-16 (for Babylon: --input-charset CP1256; for
// MDict: GBK), --translations is set (German glosses for JMdict) (for Babylon: the bytes are the whole
// file rather than the body of records that the target gzips behind a
// header) and the clean entries are reversed, as --reverse does; the rest is
// the file. This build lets MDict's blocks and the members of Yomitan's zip
// archives through whatever their checksums say, so that the fuzzer reaches
// what they guard.
// The file lies in a folder of its own beside TEI and DSL files that include
// each other, itself and a file below them, and links that lead out of the
// folder, for its includes to find.
// An import_error is a finding only if it crashes: any crash, sanitizer
// report, leak, hang or unbounded growth is a bug.
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

#include "import/clean_up.h"
#include "import/formats/formats.h"
#include "import/reverse.h"
#include "import/text_input.h"

namespace {

using namespace lexaro::import;

class cleaning_sink : public entry_sink {
public:
    explicit cleaning_sink(bool reverse) : reverse_(reverse), clean_(reverse ? "\n" : "; ") {}

    void add(const raw_entry& entry) override {
        if (!clean_.clean(entry, word_, translation_) || !reverse_) return;
        const std::size_t count = reversed_.reverse(word_, translation_, entry);
        for (std::size_t i = 0; i < count; ++i) reversed_.translation(i, source_);
    }
    bool wants_terms() const override { return reverse_; }

private:
    bool reverse_;
    cleaner clean_;
    reverser reversed_;
    std::string word_, translation_, source_;
};

constexpr const char* formats[] = {"dsl",    "xdxf",        "csv",     "dictcc", "edict",
                                   "cedict", "wiktextract", "tab",     "trans",  "lexaro",
                                   "tei",    "babylon",     "mdict",   "jmdict", "yomitan"};
constexpr std::size_t format_count = sizeof formats / sizeof formats[0];

// A Babylon file around a body of records: the signature, the offset of the
// gzip data (8), two bytes, then the body gzipped.
std::string babylon_file(const uint8_t* body, std::size_t size) {
    std::string file("\x12\x34\x00\x01\x00\x08\x00\x00", 8);
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, MAX_WBITS + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return file;
    const std::size_t start = file.size();
    file.resize(start + deflateBound(&z, size) + 32);
    z.next_in = const_cast<Bytef*>(body);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = reinterpret_cast<Bytef*>(&file[start]);
    z.avail_out = static_cast<uInt>(file.size() - start);
    deflate(&z, Z_FINISH);
    file.resize(start + z.total_out);
    deflateEnd(&z);
    return file;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The folder of the fuzzed file and what its includes may name: a.xml and
// a.dsl include b, which includes a, the dictionary and letters/c; in
// letters, d climbs out by "..", e through up, a link to the folder above;
// out is a link to /etc.
// It goes when the process ends.
std::string make_folder() {
    static const std::string folder = "/tmp/lexaro-import-fuzz-" + std::to_string(getpid());
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    });
    mkdir(folder.c_str(), 0700);
    mkdir((folder + "/letters").c_str(), 0700);
    // A TEI part of one entry and the includes named.
    const auto tei = [](const std::string& word, std::initializer_list<const char*> names) {
        std::string part = "<div><entry><form><orth>" + word + "</orth></form></entry>";
        for (const char* name : names) part += "<include href=\"" + std::string(name) + "\"/>";
        return part + "</div>";
    };
    write_file(folder + "/a.xml", tei("a", {"b.xml"}));
    write_file(folder + "/b.xml", tei("b", {"a.xml", "dictionary", "letters/c.xml"}));
    write_file(folder + "/letters/c.xml", tei("c", {}));
    write_file(folder + "/letters/d.xml", tei("d", {"../a.xml"}));
    write_file(folder + "/letters/e.xml", tei("e", {"up/a.xml"}));
    write_file(folder + "/a.dsl", "#NAME \"a\"\n#INCLUDE \"b.dsl\"\na\n\tx\n");
    write_file(folder + "/b.dsl",
               "#INCLUDE \"a.dsl\"\n#INCLUDE \"dictionary\"\n#INCLUDE \"letters/c.dsl\"\nb\n\ty\n");
    write_file(folder + "/letters/c.dsl", "c\n\tz\n#INCLUDE \"up/a.dsl\"\n");
    // Already there when an earlier process of this number made them.
    const bool linked = symlink("/etc", (folder + "/out").c_str()) == 0 &&
                        symlink("..", (folder + "/letters/up").c_str()) == 0;
    (void)linked;
    return folder + "/dictionary";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const std::string path = make_folder();
    const uint8_t choice = data[0];
    const format f = *format_from_name(formats[(choice & 0x0F) % format_count]);
    const bool babylon = format_name(f) == "babylon";
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        const std::string bytes =
            babylon && !(choice & 0x40)
                ? babylon_file(data + 1, size - 1)
                : std::string(reinterpret_cast<const char*>(data + 1), size - 1);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    reader_options options;
    if (choice & 0x40) options.translations = "de";
    try {
        cleaning_sink sink((choice & 0x20) != 0);
        if (!f->reads_text) {
            if (choice & 0x80) options.input_charset = babylon ? "CP1256" : "GBK";
            reader_input input{path, nullptr, options};
            f->read(input, sink);
            return 0;
        }
        text_input text(path, (choice & 0x80) ? "UTF-16LE" : "");
        reader_input input{path, &text, options};
        bool whole_file = false;
        format_by_content(text.sample(whole_file), whole_file);
        f->read(input, sink);
    } catch (const import_error&) {
    }
    return 0;
}
