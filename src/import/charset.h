// Conversion of the output from UTF-8 to a code page, through iconv, for
// readers that show a single-byte character set.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace lexaro::import {

class charset_converter {
public:
    // Opens a conversion from UTF-8 to the named character set. Nothing,
    // with the reason in problem, when iconv does not know the name or the
    // set does not keep ASCII as it is ('$' and the line feed must stay).
    static std::unique_ptr<charset_converter> open(const std::string& name, std::string& problem);
    ~charset_converter();
    charset_converter(const charset_converter&) = delete;
    charset_converter& operator=(const charset_converter&) = delete;

    // Converts text, appending to out. A character that the set lacks, or a
    // byte that is not valid UTF-8, becomes '?' and is counted.
    void convert(std::string_view text, std::string& out);

    uint64_t unconvertible() const { return unconvertible_; }

private:
    explicit charset_converter(void* handle) : handle_(handle) {}
    void* handle_;
    uint64_t unconvertible_ = 0;
};

}  // namespace lexaro::import
