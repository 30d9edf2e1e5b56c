#include "driver/driver.h"

#include <string>

#include "common/platform.h"
#include "compiler/block_builder.h"
#include "driver/console.h"
#include "driver/settings.h"
#include "packager/packager.h"

namespace lexaro {

namespace {

// The passes create the temporary file and the database file over whatever
// has their names; refuse a source that one of them would destroy, whether it
// has the same name (a source ending in ".tmp" or ".pdb") or is the same file
// through a link or another spelling.
void refuse_output_over_source() {
    for (const std::string* output : {&temp_name, &database_file_name}) {
        if (*output == source_name || same_file(*output, source_name))
            fatal_error("output file would overwrite the source file " + *output);
    }
}

}  // namespace

int run(int argc, char** argv) {
    ensure_standard_streams();
    setup_console();
    const int arguments = argc - 1;
    if (arguments != 1 && arguments != 2) {
        console_write("usage: lexaro filename [words_per_block]\n");
        return 0;
    }
    if (arguments == 2 && !set_words_per_block(argv[2]))
        console_write("bad value for words_per_block parameter, using 500\n");
    set_file_names(argv[1]);
    refuse_output_over_source();
    compile_dictionary();
    package_database();
    return 0;
}

}  // namespace lexaro
