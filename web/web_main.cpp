// The page's one program: lexaro-dump when it is called by that name, else
// lexaro-import. Their own mains (src/dump/main.cpp and src/import/main.cpp)
// are compiled for this module with program_main renamed, so that the code
// they share (lexaro-import checks what it writes with lexaro-dump's reader)
// is downloaded once.
#include <cstring>

#include "common/entry_point.h"

int import_program_main(int argc, char** argv);
int dump_program_main(int argc, char** argv);

int program_main(int argc, char** argv) {
    const char* slash = std::strrchr(argv[0], '/');
    const char* name = slash != nullptr ? slash + 1 : argv[0];
    return std::strcmp(name, "lexaro-dump") == 0 ? dump_program_main(argc, argv)
                                                 : import_program_main(argc, argv);
}
