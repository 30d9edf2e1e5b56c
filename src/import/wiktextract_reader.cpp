#include "import/readers.h"

namespace lexaro::import {

std::string read_wiktextract(reader_input& input, entry_sink&) {
    throw import_error(input.path + ": the wiktextract reader is not written yet");
}

bool looks_like_wiktextract(std::string_view, bool) { return false; }

}  // namespace lexaro::import
