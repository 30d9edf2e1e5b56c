#include "common/windows_code_pages.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace lexaro::code_pages {

namespace {

// The names iconv knows these sets by, upper case without '-' and '_'.
struct named_page {
    const char* name;
    unsigned code_page;
};
constexpr named_page named_pages[] = {
    {"CP1250", 1250},      {"WINDOWS1250", 1250}, {"CP1251", 1251},    {"WINDOWS1251", 1251},
    {"CP1252", 1252},      {"WINDOWS1252", 1252}, {"CP1253", 1253},    {"WINDOWS1253", 1253},
    {"CP1254", 1254},      {"WINDOWS1254", 1254}, {"CP1255", 1255},    {"WINDOWS1255", 1255},
    {"CP1256", 1256},      {"WINDOWS1256", 1256}, {"CP1257", 1257},    {"WINDOWS1257", 1257},
    {"CP1258", 1258},      {"WINDOWS1258", 1258}, {"CP874", 874},      {"KOI8R", 20866},
    {"KOI8U", 21866},      {"SHIFTJIS", 932},     {"SJIS", 932},       {"CP932", 932},
    {"EUCJP", 20932},      {"BIG5", 950},         {"CP950", 950},      {"GB2312", 936},
    {"GBK", 936},          {"CP936", 936},        {"EUCCN", 936},      {"EUCKR", 949},
    {"CP949", 949},        {"UTF16", utf16le},    {"UTF16LE", utf16le}, {"UTF16BE", utf16be},
    {"UTF8", CP_UTF8},     {"ASCII", 20127},      {"USASCII", 20127},  {"LATIN1", 28591},
    {"CP437", 437},        {"CP850", 850},        {"CP852", 852},      {"CP866", 866},
    {"ISO88591", 28591},   {"ISO88592", 28592},   {"ISO88593", 28593}, {"ISO88594", 28594},
    {"ISO88595", 28595},   {"ISO88596", 28596},   {"ISO88597", 28597}, {"ISO88598", 28598},
    {"ISO88599", 28599},   {"ISO885910", 28600},  {"ISO885913", 28603}, {"ISO885914", 28604},
    {"ISO885915", 28605},  {"ISO885916", 28606},
    {"GB18030", 54936},  // GBK and GB2312 as MDict files name them, with what GBK lacks
};

constexpr std::string_view replacement = "\xEF\xBF\xBD";

bool is_utf16(unsigned code_page) { return code_page == utf16le || code_page == utf16be; }

// Appends UTF-16 text as UTF-8.
void append_utf8(const wchar_t* wide, std::size_t count, std::string& out) {
    if (count == 0) return;
    const std::size_t used = out.size();
    out.resize(used + 3 * count);
    const int written = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(count), &out[used],
                                            static_cast<int>(3 * count), nullptr, nullptr);
    out.resize(used + static_cast<std::size_t>(std::max(written, 0)));
}

// The next character of UTF-8 text at i, moving i past it; -1, with i past
// one byte, for a byte that starts no valid sequence.
long next_code_point(std::string_view text, std::size_t& i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned lead = byte(i);
    if (lead < 0x80) return static_cast<long>(text[i++]);
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (lead > 0xF4 || length == 0 || i + length > text.size()) {
        ++i;
        return -1;
    }
    long c = static_cast<long>(lead & (0x7F >> length));
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return -1;
        }
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    const long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < smallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        ++i;
        return -1;
    }
    i += length;
    return c;
}

// Appends the UTF-16 code units of a character; the count appended.
int append_units(long c, wchar_t* units) {
    if (c < 0x10000) {
        units[0] = static_cast<wchar_t>(c);
        return 1;
    }
    c -= 0x10000;
    units[0] = static_cast<wchar_t>(0xD800 + (c >> 10));
    units[1] = static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
    return 2;
}

// One character (one or two units) into the code page: the bytes written
// and whether the default character stood in for it.
int encode_one(unsigned code_page, DWORD flags, const wchar_t* units, int count, char* bytes,
               BOOL& used_default) {
    used_default = FALSE;
    return WideCharToMultiByte(code_page, flags, units, count, bytes, 8, "?", &used_default);
}

// Appends valid UTF-16 text in the code page, each character exactly, as
// its best fit or as '?'.
void encode_wide(unsigned code_page, const std::wstring& wide, std::string& out, bool best_fit,
                 encode_counts& counts) {
    if (wide.empty()) return;
    const std::size_t used = out.size();
    const int room = static_cast<int>(std::min<std::size_t>(4 * wide.size(), INT_MAX));
    out.resize(used + static_cast<std::size_t>(room));
    BOOL used_default = FALSE;
    const int written =
        WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, wide.data(),
                            static_cast<int>(wide.size()), &out[used], room, "?", &used_default);
    out.resize(used + static_cast<std::size_t>(std::max(written, 0)));
    if (written > 0 && !used_default) return;  // every character exact: the common case
    // Some character is not in the set: again one by one, to say which.
    out.resize(used);
    for (std::size_t i = 0; i < wide.size();) {
        const int count =
            (wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size()) ? 2 : 1;
        char bytes[8];
        int length = encode_one(code_page, WC_NO_BEST_FIT_CHARS, &wide[i], count, bytes,
                                used_default);
        if (length > 0 && used_default && best_fit) {
            length = encode_one(code_page, 0, &wide[i], count, bytes, used_default);
            if (length > 0 && !used_default) ++counts.best_fit;
        }
        if (length <= 0 || used_default) {
            ++counts.replaced;
            out.push_back('?');
        } else {
            out.append(bytes, static_cast<std::size_t>(length));
        }
        i += static_cast<std::size_t>(count);
    }
}

}  // namespace

unsigned code_page_of(std::string_view name) {
    std::string key;
    for (char c : name) {
        if (c == '-' || c == '_') continue;
        key += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    for (const named_page& page : named_pages) {
        if (key != page.name) continue;
        if (is_utf16(page.code_page) || IsValidCodePage(page.code_page)) return page.code_page;
        return 0;
    }
    return 0;
}

decoder::decoder(unsigned code_page) : code_page_(code_page) {
    CPINFO info;
    if (is_utf16(code_page))
        max_char_size_ = 2;
    else if (GetCPInfo(code_page, &info))
        max_char_size_ = std::max<unsigned>(info.MaxCharSize, 1);
    // EUC-JP's JIS X 0212 characters take three bytes (0x8F and two more).
    if (code_page == 20932) max_char_size_ = 3;
}

std::size_t decoder::decode(std::string_view in, std::string& out, bool more) {
    if (is_utf16(code_page_)) {
        std::size_t taken = 0;
        decode_utf16(in, out, more, taken);
        return taken;
    }
    if (!more || max_char_size_ == 1) {
        decode_bytes(in, out);
        return in.size();
    }
    // A byte below 0x40 (a line feed, a space, a digit) is a character of its
    // own in every set here, never part of a longer one: the piece is cut
    // after the last such byte. A piece without one is read character by
    // character, up to one cut short at its end.
    std::size_t end = in.size();
    while (end > 0 && static_cast<unsigned char>(in[end - 1]) >= 0x40) --end;
    if (end == 0) return decode_slowly(in, out, true);
    decode_bytes(in.substr(0, end), out);
    return end;
}

void decoder::decode_bytes(std::string_view in, std::string& out) {
    if (in.empty()) return;
    // One UTF-16 unit for each byte is enough for every set here.
    wide_.resize(in.size());
    const int count = MultiByteToWideChar(code_page_, MB_ERR_INVALID_CHARS, in.data(),
                                          static_cast<int>(in.size()), wide_.data(),
                                          static_cast<int>(wide_.size()));
    if (count > 0) {
        append_utf8(wide_.data(), static_cast<std::size_t>(count), out);
        return;
    }
    // Some byte is no character: line by line, and the bad lines character
    // by character.
    for (std::size_t start = 0; start < in.size();) {
        std::size_t end = in.find('\n', start);
        end = end == std::string_view::npos ? in.size() : end + 1;
        const std::string_view line = in.substr(start, end - start);
        const int n = MultiByteToWideChar(code_page_, MB_ERR_INVALID_CHARS, line.data(),
                                          static_cast<int>(line.size()), wide_.data(),
                                          static_cast<int>(wide_.size()));
        if (n > 0)
            append_utf8(wide_.data(), static_cast<std::size_t>(n), out);
        else
            decode_slowly(line, out, false);
        start = end;
    }
}

std::size_t decoder::decode_slowly(std::string_view in, std::string& out, bool more) {
    std::size_t i = 0;
    while (i < in.size()) {
        std::size_t length = 0;
        wchar_t units[2];
        int count = 0;
        for (std::size_t n = 1; n <= max_char_size_ && i + n <= in.size(); ++n) {
            count = MultiByteToWideChar(code_page_, MB_ERR_INVALID_CHARS, in.data() + i,
                                        static_cast<int>(n), units, 2);
            if (count > 0) {
                length = n;
                break;
            }
        }
        // Bytes at the end that may begin a character the next piece ends.
        if (length == 0 && more && in.size() - i < max_char_size_) break;
        if (length == 0) {
            out.append(replacement);
            ++invalid_;
            ++i;
        } else {
            append_utf8(units, static_cast<std::size_t>(count), out);
            i += length;
        }
    }
    return i;
}

void decoder::decode_utf16(std::string_view in, std::string& out, bool more,
                           std::size_t& taken) {
    const bool big_endian = code_page_ == utf16be;
    const auto unit_at = [&](std::size_t i) {
        const unsigned a = static_cast<unsigned char>(in[i]);
        const unsigned b = static_cast<unsigned char>(in[i + 1]);
        return static_cast<wchar_t>(big_endian ? (a << 8 | b) : (b << 8 | a));
    };
    std::size_t end = in.size() & ~std::size_t{1};
    // A high surrogate at the end of a piece waits for its low one.
    if (more && end >= 2 && unit_at(end - 2) >= 0xD800 && unit_at(end - 2) <= 0xDBFF) end -= 2;
    wide_.clear();
    for (std::size_t i = 0; i < end; i += 2) {
        const wchar_t unit = unit_at(i);
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (high && i + 4 <= end && unit_at(i + 2) >= 0xDC00 && unit_at(i + 2) <= 0xDFFF) {
            wide_.push_back(unit);
            wide_.push_back(unit_at(i + 2));
            i += 2;
        } else if (high || low) {
            wide_.push_back(0xFFFD);
            ++invalid_;
        } else {
            wide_.push_back(unit);
        }
    }
    append_utf8(wide_.data(), wide_.size(), out);
    taken = end;
    if (!more && end < in.size()) {  // an odd byte at the very end
        out.append(replacement);
        ++invalid_;
        taken = in.size();
    }
}

void encode(unsigned code_page, std::string_view utf8, std::string& out, bool best_fit,
            encode_counts& counts) {
    std::wstring wide;
    const auto flush = [&] {
        if (code_page == CP_UTF8) {
            append_utf8(wide.data(), wide.size(), out);
        } else if (is_utf16(code_page)) {
            for (wchar_t unit : wide) {
                const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit);
                out.push_back(code_page == utf16be ? high : low);
                out.push_back(code_page == utf16be ? low : high);
            }
        } else {
            encode_wide(code_page, wide, out, best_fit, counts);
        }
        wide.clear();
    };
    for (std::size_t i = 0; i < utf8.size();) {
        const long c = next_code_point(utf8, i);
        if (c >= 0) {
            wchar_t units[2];
            wide.append(units, static_cast<std::size_t>(append_units(c, units)));
            continue;
        }
        flush();
        ++counts.replaced;
        if (is_utf16(code_page))
            wide.push_back(L'?');
        else
            out.push_back('?');
    }
    flush();
}

}  // namespace lexaro::code_pages
