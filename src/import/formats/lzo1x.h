// An LZO1X decompressor for the blocks of old MDict files, written from the
// description of the bitstream in the Linux kernel's documentation
// (Documentation/staging/lzo.rst). Every read and every copy is checked
// against the bytes there, so damaged data give a reason, never a crash.
#pragma once

#include <cstddef>
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

// Decompresses a raw LZO1X stream (no header) into out, which is replaced
// and grows as the data make bytes, never past max_size.
lzo_result lzo1x_decompress(std::string_view in, std::size_t max_size, std::string& out);

// What went wrong, in a few words ("its LZO data end early").
const char* lzo_problem(lzo_result result);

}  // namespace lexaro::import
