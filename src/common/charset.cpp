#include "common/charset.h"

#ifdef _WIN32
// Windows: the code-page calls (not yet: no set is known there).
#else
#include <iconv.h>
#endif

#include <algorithm>
#include <cerrno>

namespace lexaro {

charset_decoder::charset_decoder(std::string name, void* handle)
    : name_(std::move(name)), handle_(handle) {
    std::string upper = name_;
    for (char& c : upper) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    if (upper.find("UTF-16") != std::string::npos || upper.find("UCS-2") != std::string::npos)
        unit_ = 2;
    if (upper.find("UTF-32") != std::string::npos || upper.find("UCS-4") != std::string::npos)
        unit_ = 4;
}

#ifdef _WIN32

std::unique_ptr<charset_decoder> charset_decoder::open(const std::string& name,
                                                       std::string& problem) {
    problem = "unknown character set " + name;
    return nullptr;
}

charset_decoder::~charset_decoder() = default;

std::size_t charset_decoder::decode(std::string_view, std::string&, bool) { return 0; }

#else

namespace {

iconv_t as_iconv(void* handle) { return static_cast<iconv_t>(handle); }

}  // namespace

std::unique_ptr<charset_decoder> charset_decoder::open(const std::string& name,
                                                       std::string& problem) {
    const iconv_t handle = iconv_open("UTF-8", name.c_str());
    if (handle == reinterpret_cast<iconv_t>(-1)) {
        problem = "unknown character set " + name;
        return nullptr;
    }
    return std::unique_ptr<charset_decoder>(new charset_decoder(name, handle));
}

charset_decoder::~charset_decoder() { iconv_close(as_iconv(handle_)); }

std::size_t charset_decoder::decode(std::string_view in, std::string& out, bool more) {
    char* from = const_cast<char*>(in.data());
    std::size_t from_left = in.size();
    std::size_t used = out.size();
    // UTF-8 takes at most three bytes for each byte of a set of one or two
    // bytes a character, and four for each two of UTF-16.
    out.resize(used + 3 * in.size() + 16);
    while (from_left > 0) {
        char* to = &out[used];
        std::size_t to_left = out.size() - used;
        const std::size_t result = iconv(as_iconv(handle_), &from, &from_left, &to, &to_left);
        used = out.size() - to_left;
        if (result != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() + 3 * from_left + 16);
            continue;
        }
        if (errno == EINVAL && more) break;  // cut short: the rest comes with the next piece
        // EILSEQ, or EINVAL at the very end: a code unit that is no character.
        ++invalid_;
        const std::size_t skip = std::min(unit_, from_left);
        from += skip;
        from_left -= skip;
        if (out.size() - used < replacement_character.size())
            out.resize(out.size() + 3 * from_left + 16);
        out.replace(used, replacement_character.size(), replacement_character);
        used += replacement_character.size();
    }
    out.resize(used);
    if (!more) iconv(as_iconv(handle_), nullptr, nullptr, nullptr, nullptr);  // reset the state
    return in.size() - from_left;
}

#endif

}  // namespace lexaro
