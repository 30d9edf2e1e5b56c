#include "import/progress.h"

#include <ostream>

namespace lexaro::import {

namespace {

constexpr auto redraw_interval = std::chrono::milliseconds(100);
constexpr uint64_t check_every = 4096;  // entries between looks at the clock
constexpr int bar_width = 30;
constexpr std::size_t line_width = 60;

}  // namespace

bool progress::due() {
    if (!enabled_ || ++calls_ % check_every != 0) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < redraw_interval) return false;
    last_ = now;
    return true;
}

void progress::show(const std::string& line) {
    err_ << '\r' << line
         << std::string(line.size() < line_width ? line_width - line.size() : 0, ' ') << '\r'
         << std::flush;
    shown_ = true;
}

void progress::reading(uint64_t entries) {
    if (due()) show("reading: " + std::to_string(entries) + " entries");
}

void progress::sorting(uint64_t entries) {
    if (enabled_) show("sorting " + std::to_string(entries) + " entries");
}

void progress::bar(const char* stage, uint64_t done, uint64_t total) {
    if (!due() || total == 0) return;
    const auto filled = static_cast<int>(done * bar_width / total);
    show(stage + (": [" + std::string(filled, '#')) + std::string(bar_width - filled, '.') + "] " +
         std::to_string(done * 100 / total) + "%");
}

void progress::writing(uint64_t done, uint64_t total) { bar("writing", done, total); }

void progress::compiling(uint64_t done, uint64_t total) { bar("compiling", done, total); }

void progress::checking(const std::string& name) {
    if (enabled_) show("checking " + name);
}

void progress::clear() {
    if (!shown_) return;
    err_ << '\r' << std::string(line_width, ' ') << '\r' << std::flush;
    shown_ = false;
}

}  // namespace lexaro::import
