#include "compiler/source_reader.h"

#include <algorithm>
#include <cstring>

#include "common/platform.h"
#include "driver/console.h"

namespace lexaro {

namespace {
constexpr std::size_t read_chunk_size = 1 << 16;
constexpr char end_of_text = '\x1A';

// A word and a translation with their zero bytes need the line's length plus
// one byte of a block: a line of 1,000,000 bytes or more can never fit one.
constexpr std::size_t max_line_size = block_buffer_size - 1;
constexpr std::size_t shown_line_size = 100;  // of a line too long, in its message
}  // namespace

source_reader::~source_reader() { close(); }

void source_reader::open(const std::string& name) {
    name_ = name;
    // Binary mode: the line ends and the 0x1A byte are this reader's to
    // handle. A directory is refused rather than taken for an empty source.
    fd_ = open_for_reading(name);
    if (fd_ < 0) fatal_error("can't open file " + name);
    buffer_.resize(read_chunk_size);
}

void source_reader::close() {
    if (fd_ >= 0) close_descriptor(fd_);
    fd_ = -1;
}

bool source_reader::fill() {
    if (input_ended_) return false;
    const long count = read_some(fd_, buffer_.data(), buffer_.size());
    if (count < 0) fatal_error("can't read file " + name_);
    const auto read = static_cast<std::size_t>(count);
    const void* stop = std::memchr(buffer_.data(), end_of_text, read);
    input_ended_ = read == 0 || stop != nullptr;
    position_ = 0;
    filled_ =
        stop ? static_cast<std::size_t>(static_cast<const char*>(stop) - buffer_.data()) : read;
    return filled_ > 0;
}

bool source_reader::read_line(std::size_t limit, long_line action) {
    line_.clear();
    line_view_ = {};
    if (met_end_) return false;
    // Up to one byte more than the limit is kept, which may be the carriage
    // return of a line exactly at the limit; the bytes past it are counted
    // and, for a title, skipped.
    const std::size_t kept = limit + 1;
    uint64_t length = 0;
    for (;;) {
        if (position_ == filled_ && !fill()) {
            met_end_ = true;
            line_view_ = line_;
            // No line end follows: a carriage return here belongs to the line.
            if (length > limit && action == long_line::fail) line_too_long();
            return false;
        }
        const char* start = buffer_.data() + position_;
        const std::size_t available = filled_ - position_;
        const char* feed = static_cast<const char*>(std::memchr(start, '\n', available));
        const std::size_t piece = feed ? static_cast<std::size_t>(feed - start) : available;
        position_ += feed ? piece + 1 : piece;
        if (feed != nullptr && length == 0) {
            line_view_ = {start, piece};  // the whole line lies in the buffer
        } else {
            // The line spans reads: gather what is kept of it.
            if (line_.size() < kept) line_.append(start, std::min(piece, kept - line_.size()));
            line_view_ = line_;
        }
        length += piece;
        if (feed == nullptr && length > kept && action == long_line::fail) line_too_long();
        if (feed == nullptr) continue;
        const bool whole = length <= kept;  // the kept bytes end where the line does
        if (whole && !line_view_.empty() && line_view_.back() == '\r') {
            line_view_.remove_suffix(1);
            --length;
        }
        if (length > limit && action == long_line::fail) line_too_long();
        line_view_ = line_view_.substr(0, limit);
        return true;
    }
}

void source_reader::line_too_long() const {
    const std::string_view shown = line_view_.substr(0, shown_line_size);
    fatal_error("source line too long: " + std::string(shown));
}

title_field source_reader::read_title() {
    // Whatever the result, the bytes read are the title; past its first 256
    // bytes the line is skipped, however long.
    read_line(title_size, long_line::cut);
    const std::string_view title =
        line_view_.substr(0, line_view_.find('\0')).substr(0, title_size);
    title_field field{};
    std::copy(title.begin(), title.end(), field.begin());
    return field;
}

bool source_reader::next_entry(entry& out) {
    if (!read_line(max_line_size, long_line::fail))
        return false;  // an unterminated last line is dropped
    const std::string_view line = line_view_;
    const std::size_t separator = line.find('$');
    if (separator == std::string_view::npos)
        fatal_error("'$' (word/translation separator) not found: " + std::string(line));
    // Words and translations are stored zero-terminated: a zero byte inside
    // one would split it and shift every string after it in the block.
    if (line.find('\0') != std::string_view::npos)
        fatal_error("zero byte in source line: " + std::string(line));
    ++entry_count_;
    write_progress(entry_count_);
    out.word = line.substr(0, separator);
    out.translation = line.substr(separator + 1);
    return true;
}

}  // namespace lexaro
