// The progress display on standard error, shown only on a terminal: the
// entries read so far, then the sort, then a bar while the source is
// written and, for a database, another while it is compiled. Redrawn at most ten times a second;
// cleared before the summary.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>

namespace lexaro::import {

class progress {
public:
    progress(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}

    void reading(uint64_t entries);
    void sorting(uint64_t entries);
    void writing(uint64_t done, uint64_t total);
    void compiling(uint64_t done, uint64_t total);  // into a database
    void checking(const std::string& name);
    void clear();

private:
    bool due();  // whether a redraw is due: the clock is read every few thousand calls
    void show(const std::string& line);
    void bar(const char* stage, uint64_t done, uint64_t total);

    std::ostream& err_;
    bool enabled_;
    bool shown_ = false;
    uint64_t calls_ = 0;
    std::chrono::steady_clock::time_point last_{};
};

}  // namespace lexaro::import
