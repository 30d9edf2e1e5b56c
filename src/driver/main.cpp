#include "common/entry_point.h"
#include "driver/driver.h"

int program_main(int argc, char** argv) { return lexaro::run(argc, argv); }
