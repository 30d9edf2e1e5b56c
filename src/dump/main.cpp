#include <iostream>

#include "common/entry_point.h"
#include "dump/dump_commands.h"

int program_main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    return lexaro::dump::run(argc, argv, std::cout, std::cerr);
}
