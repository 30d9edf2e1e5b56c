#include "import/formats/json_string.h"

#include <cstdint>

#include "import/markup_text.h"

namespace lexaro::import {

namespace {

// The four hexadecimal digits at text[at], which at is left after; false,
// with at on the first that is none, when they are not there.
bool hex4(std::string_view text, std::size_t& at, uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i, ++at) {
        const char d = at < text.size() ? text[at] : '\0';
        const int v = d >= '0' && d <= '9'   ? d - '0'
                      : d >= 'a' && d <= 'f' ? d - 'a' + 10
                      : d >= 'A' && d <= 'F' ? d - 'A' + 10
                                             : -1;
        if (v < 0) return false;
        value = value * 16 + static_cast<uint32_t>(v);
    }
    return true;
}

}  // namespace

const char* read_json_string(std::string_view text, std::size_t& at, std::string& out,
                             const char* unterminated) {
    constexpr const char* hex_digits = "four hexadecimal digits after \\u";
    for (;;) {
        const std::size_t start = at;
        while (at < text.size() && text[at] != '"' && text[at] != '\\') ++at;
        out.append(text.substr(start, at - start));
        if (at == text.size()) return unterminated;
        if (text[at++] == '"') return nullptr;
        if (at == text.size()) return "an escape after '\\'";
        const char c = text[at++];
        // clang-format off
        switch (c) {
            case '"': case '\\': case '/': out += c; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t u = 0;
                if (!hex4(text, at, u)) return hex_digits;
                if (u >= 0xD800 && u <= 0xDBFF && text.substr(at, 2) == "\\u") {
                    const std::size_t back = at;
                    at += 2;
                    uint32_t low = 0;
                    if (!hex4(text, at, low)) return hex_digits;
                    if (low >= 0xDC00 && low <= 0xDFFF)
                        u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                    else
                        at = back;
                }
                if (u >= 0xD800 && u <= 0xDFFF) u = 0xFFFD;  // a lone surrogate
                append_utf8(u, out);
                break;
            }
            default:
                --at;
                return "an escape: \\\" \\\\ \\/ \\b \\f \\n \\r \\t or \\uXXXX";
        }
        // clang-format on
    }
}

}  // namespace lexaro::import
