#include "import/charset.h"

#include <iconv.h>

#include <cerrno>

#include "import/clean_up.h"

namespace lexaro::import {

namespace {

iconv_t as_iconv(void* handle) { return static_cast<iconv_t>(handle); }

// The length of the UTF-8 sequence that a lead byte starts; 1 for a byte
// that starts none, so that a bad byte is passed over alone.
std::size_t sequence_length(unsigned char lead, std::size_t left) {
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    return length <= left ? length : 1;
}

}  // namespace

std::unique_ptr<charset_converter> charset_converter::open(const std::string& name,
                                                           std::string& problem) {
    const iconv_t handle = iconv_open(name.c_str(), "UTF-8");
    if (handle == reinterpret_cast<iconv_t>(-1)) {
        problem = "unknown character set " + name;
        return nullptr;
    }
    std::unique_ptr<charset_converter> converter(new charset_converter(handle));
    const std::string ascii = "$\n?azAZ09 |;";
    std::string converted;
    converter->convert(ascii, converted);
    if (converted != ascii || converter->unconvertible_ != 0) {
        problem = "character set " + name + " does not keep ASCII as it is";
        return nullptr;
    }
    return converter;
}

charset_converter::~charset_converter() { iconv_close(as_iconv(handle_)); }

void charset_converter::convert(std::string_view text, std::string& out) {
    char* in = const_cast<char*>(text.data());
    std::size_t in_left = text.size();
    std::size_t start = out.size();
    out.resize(start + text.size() + 16);
    for (;;) {
        char* to = &out[start];
        std::size_t to_left = out.size() - start;
        const std::size_t result = iconv(as_iconv(handle_), &in, &in_left, &to, &to_left);
        start = out.size() - to_left;
        if (result != static_cast<std::size_t>(-1)) {
            // Ends any shift state; ASCII-keeping sets have none to write.
            to = &out[start];
            to_left = out.size() - start;
            iconv(as_iconv(handle_), nullptr, nullptr, &to, &to_left);
            start = out.size() - to_left;
            break;
        }
        if (errno == E2BIG) {
            out.resize(out.size() + in_left + 16);
            continue;
        }
        // EILSEQ: a character the set lacks or a bad byte; EINVAL: a
        // sequence cut short at the end of the text.
        ++unconvertible_;
        std::size_t skip = sequence_length(static_cast<unsigned char>(*in), in_left);
        if (skip > 1 && !valid_utf8(std::string_view(in, skip))) skip = 1;
        in += skip;
        in_left -= skip;
        if (start == out.size()) out.resize(out.size() + in_left + 16);
        out[start++] = '?';
    }
    out.resize(start);
}

}  // namespace lexaro::import
