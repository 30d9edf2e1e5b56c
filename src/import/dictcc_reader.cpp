#include "import/readers.h"

namespace lexaro::import {

std::string read_dictcc(reader_input& input, entry_sink&) {
    throw import_error(input.path + ": the dictcc reader is not written yet");
}

bool looks_like_dictcc(std::string_view, bool) { return false; }

}  // namespace lexaro::import
