#include <unistd.h>

#include <iostream>

#include "common/entry_point.h"
#include "dump/dump_commands.h"

int program_main(int argc, char** argv) {
    lexaro::buffered_output out(STDOUT_FILENO);
    return lexaro::dump::run(argc, argv, out, std::cerr);
}
