// Messages for a Windows console: an output stream buffer that shows its
// UTF-8 text as written whatever the console's code page. Anywhere else the
// standard streams are used as they are, so bytes to a file or a pipe never
// change.
#pragma once

#include <memory>
#include <streambuf>
#include <string>

namespace lexaro {

// A stream buffer for the descriptor when it is a Windows console, else
// nothing (write through std::cout or std::cerr as before).
std::unique_ptr<std::streambuf> console_streambuf(int fd);

}  // namespace lexaro
