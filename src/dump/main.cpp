#include <unistd.h>

#include <iostream>

#include "dump/dump_commands.h"

int main(int argc, char** argv) {
    lexaro::buffered_output out(STDOUT_FILENO);
    return lexaro::dump::run(argc, argv, out, std::cerr);
}
