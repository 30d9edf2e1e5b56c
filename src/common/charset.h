// Character sets by name, converted to UTF-8, the text that the programs
// work in. The one place that knows the system's conversion calls (iconv;
// the code-page calls on Windows).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace lexaro {

// The character U+FFFD, which stands for bytes that are no character.
constexpr std::string_view replacement_character = "\xEF\xBF\xBD";

// Text in a named character set made UTF-8, piece by piece.
class charset_decoder {
public:
    // Nothing, with the reason in problem ("unknown character set NAME"),
    // when the system does not know the name.
    static std::unique_ptr<charset_decoder> open(const std::string& name, std::string& problem);
    ~charset_decoder();
    charset_decoder(const charset_decoder&) = delete;
    charset_decoder& operator=(const charset_decoder&) = delete;

    // Appends the UTF-8 of `in` to out and gives the bytes it took. With
    // `more`, a character cut short at the end of `in` is left for the next
    // piece, which must begin with the bytes not taken; without it, such
    // bytes are invalid. Each byte that is no character of the set becomes
    // U+FFFD and is counted.
    std::size_t decode(std::string_view in, std::string& out, bool more);

    uint64_t invalid() const { return invalid_; }
    const std::string& name() const { return name_; }

private:
    charset_decoder(std::string name, void* handle);
    std::string name_;
    void* handle_;
    std::size_t unit_ = 1;  // the bytes of a code unit, skipped at a bad one: 2 in UTF-16
    uint64_t invalid_ = 0;
};

}  // namespace lexaro
