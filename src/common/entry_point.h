// Each program's own main, reached through the entry point in
// entry_point.cpp: its arguments are in UTF-8 on every system.
#pragma once

int program_main(int argc, char** argv);
