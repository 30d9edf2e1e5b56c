// An LZO1X decompressor for the blocks of old MDict files, written from the
// description of the bitstream in the Linux kernel's documentation
// (Documentation/staging/lzo.rst). Every read and every copy is checked
// against the bytes there, so damaged data give a reason, never a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lexaro::import {

enum class lzo_result {
    ok,
    input_ends_early,     // the data end inside an instruction or before the end mark
    output_too_large,     // the data make more than the most bytes allowed
    refers_before_start,  // a copy reaches back past the first byte made
    bytes_after_end,      // bytes follow the end mark
};

// Decompresses a raw LZO1X stream (no header) a piece at a time, never
// making more than max_size bytes in all. It holds the input, the bytes a
// copy may still reach back to (48 KiB) and one piece, however much the
// data make: a stream that claims gigabytes costs no more memory than one
// of a kilobyte.
class lzo1x_stream {
public:
    lzo1x_stream(std::string_view in, std::size_t max_size, std::size_t piece_size);

    // The next bytes the data make, at most piece_size of them; valid until
    // the next call. Empty once the end mark is read or the data are found
    // damaged: result() says which. A piece cut off by damage is given whole
    // before the empty one, and result() already tells of the damage.
    std::string_view next();

    lzo_result result() const { return result_; }
    std::size_t made() const { return made_; }
    // Whether the end mark is read and all it made given.
    bool finished() const { return ended_ && copy_left_ == 0 && literals_left_ == 0; }

private:
    lzo_result instruction();
    lzo_result next_byte(uint8_t& byte);
    lzo_result next_le16(uint16_t& value);
    lzo_result run_length(unsigned op, unsigned mask, std::size_t& length);
    lzo_result set_copy(std::size_t distance, std::size_t length, unsigned trailing);
    lzo_result set_literals(std::size_t count);

    const uint8_t* in_;
    std::size_t in_size_;
    std::size_t at_ = 0;
    std::size_t max_size_;
    std::size_t piece_size_;
    std::string window_;      // what a copy may reach back to, then the piece being made
    std::size_t filled_ = 0;  // the bytes of window_ in use
    std::size_t made_ = 0;    // the bytes made in all
    // What the instruction read last still has to make: a copy, then
    // literals from the input.
    std::size_t copy_left_ = 0, copy_distance_ = 0, literals_left_ = 0;
    unsigned state_ = 0;  // what the last instruction left behind (see the .cpp)
    bool started_ = false, ended_ = false;
    lzo_result result_ = lzo_result::ok;
};

// Decompresses a raw LZO1X stream (no header) into out, which is replaced
// and grows as the data make bytes, never past max_size.
lzo_result lzo1x_decompress(std::string_view in, std::size_t max_size, std::string& out);

// What went wrong, in a few words ("its LZO data end early").
const char* lzo_problem(lzo_result result);

}  // namespace lexaro::import
