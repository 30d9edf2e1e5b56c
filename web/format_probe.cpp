// What the page shows as soon as a dictionary's files are chosen, found by
// lexaro-import's own code: the format it reads them as, the files it reads
// with the one named, the name the database takes, and the label of each
// dictionary where several are chosen. Linked into the
// WebAssembly build of lexaro-import only; the page calls it through ccall.
#include <emscripten/emscripten.h>

#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "import/import_command.h"

namespace {

std::string probe(const char* path, const char* format, const char* input_charset) {
    using namespace lexaro::import;
    options o;
    o.inputs = {path};
    o.input_charset = input_charset;
    if (*format != '\0') o.input_formats = {*format_from_name(format)};
    try {
        std::unique_ptr<text_input> text;
        const auto f = open_input(o, 0, text);
        std::string result = "ok\t" + std::string(format_name(f)) + '\t' + dictionary_name(path);
        for (const std::string& file : files_read(f, path)) result += '\t' + file;
        return result;
    } catch (const std::exception& e) {
        return std::string("error\tlexaro-import: ") + e.what();
    }
}

}  // namespace

// "ok\tFORMAT\tNAME\tFILE..." or "error\tMESSAGE", the message as
// lexaro-import prints it. format: as --format takes it, or "".
extern "C" EMSCRIPTEN_KEEPALIVE const char* lexaro_probe(const char* path, const char* format,
                                                         const char* input_charset) {
    static std::string result;
    result = probe(path, format, input_charset);
    return result.c_str();
}

// The labels that the inputs' translations take where several give a word,
// as lexaro-import makes them: paths and labels each ended by a line feed.
extern "C" EMSCRIPTEN_KEEPALIVE const char* lexaro_input_labels(const char* paths) {
    static std::string result;
    std::vector<std::string> inputs;
    for (const char* at = paths; *at != '\0';) {
        const char* end = std::strchr(at, '\n');
        if (end == nullptr) end = at + std::strlen(at);
        inputs.emplace_back(at, end);
        at = *end == '\0' ? end : end + 1;
    }
    result.clear();
    for (const std::string& label : lexaro::import::input_labels(inputs)) result += label + '\n';
    return result.c_str();
}

// The formats that --format takes: "stardict, dictd, ... or csv".
extern "C" EMSCRIPTEN_KEEPALIVE const char* lexaro_format_names() {
    return lexaro::import::format_names().c_str();
}
