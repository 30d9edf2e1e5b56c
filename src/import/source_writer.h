// Writes the source that lexaro compiles: the title line, then one
// "word$translation" line per entry, through a hidden file renamed into
// place at the end, or straight to standard output ("-") or to a target
// that is written in place (a device, a FIFO, /dev/stdout), bytes as they
// are given.
// Remembers each entry's size in a block for the words_per_block advice.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/output_file.h"

namespace lexaro::import {

// An output that cannot be created or written; the message names it.
class output_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How the title line was made to fit.
struct title_fit {
    std::size_t size = 0;           // bytes written
    std::size_t original_size = 0;  // bytes before the cut (after conversion)
    bool cut() const { return size < original_size; }
};

class source_writer {
public:
    // target "-" is standard output.
    explicit source_writer(std::string target);
    ~source_writer();

    // Creates the hidden file beside the target, or opens a target written
    // in place; output_error when it cannot, also when the target is
    // standard output and that was closed when the run started.
    void open();

    // At most this many entries follow: their sizes get their memory at
    // once, rather than twice as much while it grows.
    void expect_entries(std::size_t count) { entry_sizes_.reserve(count); }

    // The title line, already cut to what lexaro keeps; then the entries.
    void write_title(std::string_view title);
    void write_entry(std::string_view word, std::string_view translation);

    // Writes out what is buffered and renames the hidden file into place.
    void commit();
    // Writes out what is buffered and closes the hidden file, to be read
    // back under the name given; discard() removes it.
    const std::string& close_hidden();
    void discard();

    // word size + 1 + translation size + 1 of every entry written, in order.
    const std::vector<uint32_t>& entry_sizes() const { return entry_sizes_; }
    const std::string& target() const { return target_; }

private:
    void flush_buffer();
    [[noreturn]] void fail(const char* what, int error) const;

    std::string target_;
    output_file file_;
    bool to_standard_output_;
    std::string buffer_;
    std::vector<uint32_t> entry_sizes_;
};

}  // namespace lexaro::import
