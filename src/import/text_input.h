// The text of an input file, read in large pieces and made UTF-8 as it is
// read: a gzip or dictzip file is inflated, a byte-order mark says UTF-8 or
// UTF-16 by itself, and any other set is decoded when it is named. The first
// piece is kept as a sample, so that the format can be told from it before
// the reader takes the same bytes; standard input ("-") and pipes work as
// files do, but for compressed input, which needs a file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/charset.h"
#include "common/compressed_input.h"

namespace lexaro::import {

class text_input {
public:
    // Opens the file, "-" for standard input. charset: the set the text is
    // in, or "" for UTF-8; a byte-order mark overrides it. import_error when
    // the file cannot be opened or read, or the set is unknown.
    text_input(const std::string& path, const std::string& charset);
    ~text_input();
    text_input(const text_input&) = delete;
    text_input& operator=(const text_input&) = delete;

    // The first bytes of the text (about 64 KiB), made UTF-8, without taking
    // them: read() gives them again. whole_file: the text ends within them.
    std::string_view sample(bool& whole_file);

    // Whether the sample is valid UTF-8 as it stands (a character cut short
    // by the sample's end aside).
    bool sample_is_utf8();

    // Reads the text as `charset` instead, when no set was named and no
    // byte-order mark seen; only before the first read(). For formats with a
    // set of their own (EDICT's EUC-JP) when their text is not UTF-8.
    void fall_back_to(const std::string& charset);

    // Up to `size` bytes of UTF-8 text; 0 only at the end.
    std::size_t read(char* out, std::size_t size);

    const std::string& path() const { return path_; }
    // The set the text is read in: "UTF-8", "UTF-16LE" or "UTF-16BE" from a
    // byte-order mark, or the set named.
    const std::string& charset() const { return charset_; }
    // Bytes that were no character of that set, each read as U+FFFD.
    uint64_t invalid() const { return decoder_ ? decoder_->invalid() : 0; }

private:
    std::size_t read_raw(char* out, std::size_t size);
    void fill_raw(std::size_t want);  // reads up to want more raw bytes after the unread ones
    void use_charset(const std::string& charset);

    std::string path_;
    std::string charset_ = "UTF-8";
    bool charset_fixed_ = false;  // named, or said by a byte-order mark
    int fd_ = -1;
    bool own_fd_ = false;
    std::unique_ptr<gzip_stream> gzip_;
    std::string raw_;  // bytes read and not yet decoded or handed on
    std::size_t raw_start_ = 0;
    bool raw_at_end_ = false;
    std::unique_ptr<charset_decoder> decoder_;  // null for UTF-8
    std::string decoded_;                       // decoded and not yet handed on
    std::size_t decoded_start_ = 0;
    std::string sample_;
    bool sample_made_ = false;
    bool started_ = false;  // read() was called
};

}  // namespace lexaro::import
