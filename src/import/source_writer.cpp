#include "import/source_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/platform.h"
#include "import/database_output.h"

namespace lexaro::import {

namespace {

constexpr std::size_t buffer_limit = 1 << 20;

}  // namespace

source_writer::source_writer(std::string target)
    : target_(std::move(target)), to_standard_output_(target_ == "-") {
    buffer_.reserve(buffer_limit + 4096);
}

source_writer::~source_writer() { discard(); }

void source_writer::fail(const char* what, int error) const {
    const std::string name = to_standard_output_ ? "standard output" : "file " + target_;
    throw output_error(std::string(what) + " " + name + ": " + std::strerror(error));
}

void source_writer::open() {
    // Standard output that was closed when the run started holds /dev/null
    // now: the run fails before anything is written, as writing to the
    // closed descriptor would have.
    if (to_standard_output_) {
        if (standard_stream_was_closed(1)) fail("can't write", EBADF);
        return;
    }
    // A device or a FIFO gets the source as it is written, as standard
    // output does. The source of a database stays in the hidden file,
    // whatever the database's name holds, to be compiled from there.
    const in_place_writes when =
        is_database_name(target_) ? in_place_writes::at_commit : in_place_writes::as_written;
    if (!file_.open(target_, when)) fail(file_.in_place() ? "can't write" : "can't create", errno);
}

void source_writer::flush_buffer() {
    if (buffer_.empty()) return;
    errno = 0;
    if (to_standard_output_) {
        if (std::fwrite(buffer_.data(), 1, buffer_.size(), stdout) != buffer_.size())
            fail("can't write", errno != 0 ? errno : EIO);
    } else if (!file_.write(buffer_.data(), buffer_.size())) {
        fail("can't write", errno != 0 ? errno : EIO);
    }
    buffer_.clear();
}

void source_writer::write_title(std::string_view title) { buffer_.append(title).push_back('\n'); }

void source_writer::write_entry(std::string_view word, std::string_view translation) {
    const std::size_t start = buffer_.size();
    buffer_.append(word).push_back('$');
    buffer_.append(translation);
    const std::size_t line_size = buffer_.size() - start;  // word $ translation
    buffer_.push_back('\n');
    entry_sizes_.push_back(static_cast<uint32_t>(line_size + 1));
    if (buffer_.size() >= buffer_limit) flush_buffer();
}

void source_writer::commit() {
    flush_buffer();
    if (to_standard_output_) {
        errno = 0;
        if (std::fflush(stdout) != 0 || std::ferror(stdout) || !check_written(1))
            fail("can't write", errno != 0 ? errno : EIO);
        return;
    }
    if (!file_.commit()) fail("can't write", errno != 0 ? errno : EIO);
}

const std::string& source_writer::close_hidden() {
    flush_buffer();
    if (!file_.close_hidden()) fail("can't write", errno != 0 ? errno : EIO);
    return file_.hidden_name();
}

void source_writer::discard() {
    buffer_.clear();
    if (!to_standard_output_) file_.discard();
}

}  // namespace lexaro::import
