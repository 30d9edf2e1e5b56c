#include <iostream>

#include "common/entry_point.h"
#include "common/platform.h"
#include "import/import_command.h"

int program_main(int argc, char** argv) {
    lexaro::ensure_standard_streams();
    std::ios::sync_with_stdio(false);
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    return lexaro::import::run(args, std::cout, std::cerr, lexaro::standard_error_is_terminal());
}
