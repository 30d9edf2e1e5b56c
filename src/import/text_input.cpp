#include "import/text_input.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/platform.h"
#include "import/clean_up.h"
#include "import/raw_entry.h"

namespace lexaro::import {

namespace {

constexpr std::size_t sample_size = 64 * 1024;
constexpr std::size_t piece_size = 1 << 20;

constexpr std::string_view utf8_mark = "\xEF\xBB\xBF";
constexpr std::string_view utf16le_mark = "\xFF\xFE";
constexpr std::string_view utf16be_mark = "\xFE\xFF";

bool is_utf8_name(const std::string& name) {
    std::string upper;
    for (char c : name)
        if (c != '-' && c != '_') upper += c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    return upper == "UTF8";
}

}  // namespace

text_input::text_input(const std::string& path, const std::string& charset) : path_(path) {
    if (path == "-") {
        fd_ = 0;
        set_binary_mode(0);
    } else {
        fd_ = open_for_reading(path);
        if (fd_ < 0) throw import_error("can't open file " + path + ": " + std::strerror(errno));
        own_fd_ = true;
    }
    // The first piece: enough to see compression, a byte-order mark and the format.
    while (raw_.size() < sample_size && !raw_at_end_) fill_raw(sample_size - raw_.size());
    if (looks_like_gzip(raw_)) {
        // Inflated from the bytes already read on, so that a pipe is read once.
        try {
            gzip_ = std::make_unique<gzip_stream>(path, fd_, raw_);
        } catch (const input_error& e) {
            throw import_error(e.what());
        }
        raw_.clear();
        raw_at_end_ = false;
        while (raw_.size() < sample_size && !raw_at_end_) fill_raw(sample_size - raw_.size());
    }
    const std::string_view start = raw_;
    if (start.substr(0, utf8_mark.size()) == utf8_mark) {
        raw_start_ = utf8_mark.size();
        charset_fixed_ = true;
    } else if (start.substr(0, 2) == utf16le_mark || start.substr(0, 2) == utf16be_mark) {
        raw_start_ = 2;
        charset_fixed_ = true;
        use_charset(start[0] == '\xFF' ? "UTF-16LE" : "UTF-16BE");
    } else if (!charset.empty()) {
        charset_fixed_ = true;
        use_charset(charset);
    }
}

text_input::~text_input() {
    if (own_fd_) close_descriptor(fd_);
}

void text_input::use_charset(const std::string& charset) {
    if (is_utf8_name(charset)) {
        decoder_.reset();
        charset_ = "UTF-8";
        return;
    }
    std::string problem;
    decoder_ = charset_decoder::open(charset, problem);
    if (!decoder_) throw import_error(problem);
    charset_ = charset;
}

std::size_t text_input::read_raw(char* out, std::size_t size) {
    if (gzip_) {
        try {
            return gzip_->read(out, size);
        } catch (const input_error& e) {
            throw import_error(e.what());
        }
    }
    const long count = read_some(fd_, out, size);
    if (count < 0) throw import_error("can't read file " + path_ + ": " + std::strerror(errno));
    return static_cast<std::size_t>(count);
}

void text_input::fill_raw(std::size_t want) {
    if (raw_at_end_) return;
    if (raw_start_ > 0 && raw_start_ == raw_.size()) {
        raw_.clear();
        raw_start_ = 0;
    }
    const std::size_t used = raw_.size();
    raw_.resize(used + want);
    const std::size_t count = read_raw(&raw_[used], want);
    raw_.resize(used + count);
    if (count == 0) raw_at_end_ = true;
}

std::string_view text_input::sample(bool& whole_file) {
    whole_file = raw_at_end_;
    const std::string_view raw = std::string_view(raw_).substr(raw_start_);
    if (!decoder_) return raw;
    if (!sample_made_) {
        std::string problem;
        const auto decoder = charset_decoder::open(charset_, problem);
        sample_.clear();
        if (decoder) decoder->decode(raw, sample_, !raw_at_end_);
        sample_made_ = true;
    }
    return sample_;
}

bool text_input::sample_is_utf8() {
    bool whole_file = false;
    std::string_view text = sample(whole_file);
    if (!whole_file) text = cut_at_character(text, text.size());
    return valid_utf8(text);
}

void text_input::fall_back_to(const std::string& charset) {
    if (charset_fixed_ || started_) return;
    use_charset(charset);
    sample_made_ = false;
}

std::size_t text_input::read(char* out, std::size_t size) {
    started_ = true;
    if (size == 0) return 0;
    if (!decoder_) {
        if (raw_start_ < raw_.size()) {
            const std::size_t count = std::min(size, raw_.size() - raw_start_);
            std::memcpy(out, raw_.data() + raw_start_, count);
            raw_start_ += count;
            return count;
        }
        if (raw_at_end_) return 0;
        const std::size_t count = read_raw(out, size);
        if (count == 0) raw_at_end_ = true;
        return count;
    }
    while (decoded_start_ == decoded_.size()) {
        decoded_.clear();
        decoded_start_ = 0;
        if (raw_start_ == raw_.size() || (!raw_at_end_ && raw_.size() - raw_start_ < 16)) {
            // Keep a character cut short by the last piece in front of the next.
            raw_.erase(0, raw_start_);
            raw_start_ = 0;
            fill_raw(piece_size);
        }
        if (raw_start_ == raw_.size() && raw_at_end_) return 0;
        raw_start_ += decoder_->decode(std::string_view(raw_).substr(raw_start_), decoded_,
                                       !raw_at_end_);
    }
    const std::size_t count = std::min(size, decoded_.size() - decoded_start_);
    std::memcpy(out, decoded_.data() + decoded_start_, count);
    decoded_start_ += count;
    return count;
}

}  // namespace lexaro::import
