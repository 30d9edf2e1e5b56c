// The entry point of every lexaro program. On Windows the program starts
// from the wide-character command line (linked with -municode), so that any
// file name reaches it whole; the arguments are converted to UTF-8 here,
// once, and every file is opened through helpers that convert them back.
#include "common/entry_point.h"

#ifdef _WIN32
#include <filesystem>
#include <string>
#include <vector>

extern "C" int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(std::filesystem::path(argv[i]).u8string());
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return program_main(argc, pointers.data());
}
#else
int main(int argc, char** argv) { return program_main(argc, argv); }
#endif
