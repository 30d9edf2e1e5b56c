#include "compiler/source_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "driver/console.h"

namespace lexaro {

namespace {
constexpr std::size_t read_chunk_size = 1 << 16;
constexpr char end_of_text = '\x1A';
}  // namespace

source_reader::~source_reader() { close(); }

void source_reader::open(const std::string& name) {
    name_ = name;
    fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status;
    // A directory opens for reading here, yet only its reads fail: refuse it
    // now rather than take it for an empty dictionary.
    if (fd_ < 0 || fstat(fd_, &status) != 0 || S_ISDIR(status.st_mode))
        fatal_error("can't open file " + name);
    buffer_.resize(read_chunk_size);
}

void source_reader::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool source_reader::fill() {
    if (input_ended_) return false;
    ssize_t count;
    do {
        count = ::read(fd_, buffer_.data(), buffer_.size());
    } while (count < 0 && errno == EINTR);
    if (count < 0) fatal_error("can't read file " + name_);
    const auto read = static_cast<std::size_t>(count);
    const void* stop = std::memchr(buffer_.data(), end_of_text, read);
    input_ended_ = read == 0 || stop != nullptr;
    position_ = 0;
    filled_ =
        stop ? static_cast<std::size_t>(static_cast<const char*>(stop) - buffer_.data()) : read;
    return filled_ > 0;
}

bool source_reader::read_line() {
    line_.clear();
    if (met_end_) return false;
    for (;;) {
        if (position_ == filled_ && !fill()) {
            met_end_ = true;
            return false;
        }
        const char* start = buffer_.data() + position_;
        const std::size_t available = filled_ - position_;
        const char* feed = static_cast<const char*>(std::memchr(start, '\n', available));
        if (feed == nullptr) {
            line_.append(start, available);
            position_ = filled_;
            continue;
        }
        line_.append(start, static_cast<std::size_t>(feed - start));
        position_ += static_cast<std::size_t>(feed - start) + 1;
        if (!line_.empty() && line_.back() == '\r') line_.pop_back();
        return true;
    }
}

title_field source_reader::read_title() {
    read_line();  // whatever the result, the bytes read are the title
    title_field field{};
    const std::size_t length = std::min({line_.find('\0'), line_.size(), field.size()});
    std::memcpy(field.data(), line_.data(), length);
    return field;
}

bool source_reader::next_entry(entry& out) {
    if (!read_line()) return false;  // an unterminated last line is dropped
    const std::size_t separator = line_.find('$');
    if (separator == std::string::npos)
        fatal_error("'$' (word/translation separator) not found: " + line_);
    // Words and translations are stored zero-terminated: a zero byte inside
    // one would split it and shift every string after it in the block.
    if (line_.find('\0') != std::string::npos) fatal_error("zero byte in source line: " + line_);
    ++entry_count_;
    write_progress(entry_count_);
    const std::string_view line = line_;
    out.word = line.substr(0, separator);
    out.translation = line.substr(separator + 1);
    return true;
}

}  // namespace lexaro
