#include <iostream>

#include "dump/dump_commands.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    return lexaro::dump::run(argc, argv, std::cout, std::cerr);
}
