#pragma once

namespace lexaro {

// The whole tool: checks the command line, sets the settings and runs the two
// passes. Returns the exit status of every run that does not end in a fatal
// error (which ends the process itself).
int run(int argc, char** argv);

}  // namespace lexaro
