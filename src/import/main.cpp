#include <iostream>

#include "common/console_stream.h"
#include "common/entry_point.h"
#include "common/platform.h"
#include "import/import_command.h"

int program_main(int argc, char** argv) {
    lexaro::ensure_standard_streams();
    std::ios::sync_with_stdio(false);
    // On a Windows console, words and file names show as written.
    const auto out_console = lexaro::console_streambuf(1);
    const auto err_console = lexaro::console_streambuf(2);
    std::ostream console_out(out_console.get()), console_err(err_console.get());
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    return lexaro::import::run(args, out_console ? console_out : std::cout,
                               err_console ? console_err : std::cerr,
                               lexaro::standard_error_is_terminal());
}
