#include "common/charset.h"

#include "common/charset_tables.h"
#include "common/unicode_forms.h"

#ifdef _WIN32
#include "common/windows_code_pages.h"
#else
#include <iconv.h>
#endif

#include <algorithm>
#include <iterator>
#include <cerrno>

namespace lexaro {

charset_decoder::charset_decoder(std::string name, void* handle,
                                 const charset_tables::generated_set* table)
    : name_(std::move(name)), handle_(handle), table_(table) {
    std::string upper = name_;
    for (char& c : upper) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    if (upper.find("UTF-16") != std::string::npos || upper.find("UCS-2") != std::string::npos)
        unit_ = 2;
    if (upper.find("UTF-32") != std::string::npos || upper.find("UCS-4") != std::string::npos)
        unit_ = 4;
}

charset_encoder::charset_encoder(std::string name, void* handle,
                                 std::unique_ptr<charset_tables::set_writer> table)
    : name_(std::move(name)), handle_(handle), table_(std::move(table)) {}

namespace {

std::string cannot_carry_a_source(const std::string& name) {
    return "character set " + name +
           " does not keep ASCII as it is, so a source line could break inside a character;"
           " use a set of one or two bytes a character, such as CP1252, CP1250, CP1251, KOI8-R,"
           " Shift_JIS, Big5 or GB2312";
}

}  // namespace

#ifdef _WIN32

// The handle of a decoder is a code_pages::decoder; an encoder's holds its
// code page number.
std::unique_ptr<charset_decoder> charset_decoder::open(const std::string& name,
                                                       std::string& problem) {
    if (charset_tables::is_euc_jp(name))
        return std::unique_ptr<charset_decoder>(new charset_decoder(name, nullptr));
    if (const charset_tables::generated_set* set = charset_tables::find_set_of_its_own(name))
        return std::unique_ptr<charset_decoder>(new charset_decoder(name, nullptr, set));
    const unsigned code_page = code_pages::code_page_of(name);
    if (code_page == 0) {
        problem = "unknown character set " + name;
        return nullptr;
    }
    return std::unique_ptr<charset_decoder>(
        new charset_decoder(name, new code_pages::decoder(code_page)));
}

charset_decoder::~charset_decoder() { delete static_cast<code_pages::decoder*>(handle_); }

std::size_t charset_decoder::decode(std::string_view in, std::string& out, bool more) {
    if (table_ != nullptr) return charset_tables::decode_single_bytes(*table_, in, out, invalid_);
    if (handle_ == nullptr) return charset_tables::decode_euc_jp(in, out, more, invalid_);
    auto* decoder = static_cast<code_pages::decoder*>(handle_);
    const uint64_t before = decoder->invalid();
    const std::size_t taken = decoder->decode(in, out, more);
    invalid_ += decoder->invalid() - before;
    return taken;
}

std::unique_ptr<charset_encoder> charset_encoder::open(const std::string& name,
                                                       std::string& problem) {
    if (const charset_tables::generated_set* set = charset_tables::find_set(name))
        return std::unique_ptr<charset_encoder>(
            new charset_encoder(name, nullptr, std::make_unique<charset_tables::set_writer>(*set)));
    const unsigned code_page = code_pages::code_page_of(name);
    if (code_page == 0) {
        problem = "unknown character set " + name;
        return nullptr;
    }
    std::unique_ptr<charset_encoder> encoder(
        new charset_encoder(name, reinterpret_cast<void*>(static_cast<uintptr_t>(code_page)), {}));
    if (!encoder->carries_a_source()) {
        problem = cannot_carry_a_source(name);
        return nullptr;
    }
    return encoder;
}

charset_encoder::~charset_encoder() = default;

bool charset_encoder::exact_by_system(std::string_view utf8, std::string& out) {
    const std::size_t start = out.size();
    code_pages::encode_counts counts;
    code_pages::encode(static_cast<unsigned>(reinterpret_cast<uintptr_t>(handle_)), utf8, out,
                       false, counts);
    if (counts.replaced == 0 && counts.best_fit == 0 && holds_no_source_bytes(utf8, out, start))
        return true;
    out.resize(start);
    return false;
}

#else

namespace {

iconv_t as_iconv(void* handle) { return static_cast<iconv_t>(handle); }

}  // namespace

std::unique_ptr<charset_decoder> charset_decoder::open(const std::string& name,
                                                       std::string& problem) {
    if (charset_tables::is_euc_jp(name))
        return std::unique_ptr<charset_decoder>(new charset_decoder(name, nullptr));
    if (const charset_tables::generated_set* set = charset_tables::find_set_of_its_own(name))
        return std::unique_ptr<charset_decoder>(new charset_decoder(name, nullptr, set));
    const iconv_t handle = iconv_open("UTF-8", name.c_str());
    if (handle == reinterpret_cast<iconv_t>(-1)) {
        problem = "unknown character set " + name;
        return nullptr;
    }
    return std::unique_ptr<charset_decoder>(new charset_decoder(name, handle));
}

charset_decoder::~charset_decoder() {
    if (handle_ != nullptr) iconv_close(as_iconv(handle_));
}

std::size_t charset_decoder::decode(std::string_view in, std::string& out, bool more) {
    if (table_ != nullptr) return charset_tables::decode_single_bytes(*table_, in, out, invalid_);
    if (handle_ == nullptr) return charset_tables::decode_euc_jp(in, out, more, invalid_);
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

std::unique_ptr<charset_encoder> charset_encoder::open(const std::string& name,
                                                       std::string& problem) {
    if (const charset_tables::generated_set* set = charset_tables::find_set(name))
        return std::unique_ptr<charset_encoder>(
            new charset_encoder(name, nullptr, std::make_unique<charset_tables::set_writer>(*set)));
    const iconv_t handle = iconv_open(name.c_str(), "UTF-8");
    if (handle == reinterpret_cast<iconv_t>(-1)) {
        problem = "unknown character set " + name;
        return nullptr;
    }
    std::unique_ptr<charset_encoder> encoder(new charset_encoder(name, handle, {}));
    if (!encoder->carries_a_source()) {
        problem = cannot_carry_a_source(name);
        return nullptr;
    }
    return encoder;
}

charset_encoder::~charset_encoder() {
    if (handle_ != nullptr) iconv_close(as_iconv(handle_));
}

bool charset_encoder::exact_by_system(std::string_view utf8, std::string& out) {
    char* from = const_cast<char*>(utf8.data());
    std::size_t from_left = utf8.size();
    const std::size_t start = out.size();
    std::size_t used = start;
    out.resize(start + 2 * utf8.size() + 16);
    for (;;) {
        char* to = &out[used];
        std::size_t to_left = out.size() - used;
        const std::size_t result = iconv(as_iconv(handle_), &from, &from_left, &to, &to_left);
        used = out.size() - to_left;
        // A count of irreversible conversions means characters written as
        // something else; a character the set lacks or a byte that is not
        // UTF-8 stops the call. Neither is exact.
        if (result != static_cast<std::size_t>(-1) && result > 0) errno = EILSEQ;
        else if (result != static_cast<std::size_t>(-1)) break;
        if (errno != E2BIG) {
            iconv(as_iconv(handle_), nullptr, nullptr, nullptr, nullptr);
            out.resize(start);
            return false;
        }
        out.resize(out.size() + 2 * from_left + 16);
    }
    // Ends any shift state (the sets taken have none to write).
    char* to = &out[used];
    std::size_t to_left = out.size() - used;
    const std::size_t shift = iconv(as_iconv(handle_), nullptr, nullptr, &to, &to_left);
    used = out.size() - to_left;
    out.resize(used);
    if (shift == static_cast<std::size_t>(-1) || !holds_no_source_bytes(utf8, out, start)) {
        out.resize(start);
        return false;
    }
    return true;
}

#endif

namespace {

// Bytes that a source line gives a meaning, and a set must write only for
// the ASCII characters they are.
bool is_source_byte(char c) { return c == '$' || c == '\n' || c == '\r' || c == '\x1A'; }

struct transliteration_row {
    char32_t code;
    const char* text;
};

constexpr transliteration_row transliterations[] = {
#include "common/transliteration_table.inc"
};

}  // namespace

bool charset_encoder::exact(std::string_view utf8, std::string& out, bool composed) {
    if (table_ != nullptr) return exact_from_table(utf8, out, composed);
    return (composed || is_composed(utf8)) && exact_by_system(utf8, out);
}

// ASCII as itself, every other character as the table has it. The tables
// write no '$', line feed, carriage return or 0x1A for a character past
// ASCII (their generator makes sure), so nothing more is checked.
bool charset_encoder::exact_from_table(std::string_view utf8, std::string& out, bool composed) {
    const std::size_t start = out.size();
    for (std::size_t i = 0; i < utf8.size();) {
        if (static_cast<unsigned char>(utf8[i]) < 0x80) {
            out.push_back(utf8[i++]);
            continue;
        }
        std::size_t length = 0;
        const char32_t c = next_character(utf8.substr(i), length);
        if (length == 0 || (!composed && may_change_when_composed(c)) || !table_->append(c, out)) {
            out.resize(start);
            return false;
        }
        i += length;
    }
    return true;
}

bool charset_encoder::carries_a_source() {
    std::string upper = name_;
    for (char& c : upper) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    if (upper.find("2022") != std::string::npos) return false;  // shifts between sets
    std::string ascii;
    for (int c = 1; c < 0x80; ++c) ascii.push_back(static_cast<char>(c));
    std::string out;
    return exact(ascii, out, true) && out == ascii;
}

bool charset_encoder::holds_no_source_bytes(std::string_view utf8, const std::string& out,
                                            std::size_t start) {
    std::size_t in_text = 0, in_out = 0;
    for (const char c : utf8) in_text += is_source_byte(c);
    for (std::size_t i = start; i < out.size(); ++i) in_out += is_source_byte(out[i]);
    return in_text == in_out;
}

void charset_encoder::encode(std::string_view utf8, std::string& out) {
    bool ascii = true;
    for (const char c : utf8) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii) {
        out.append(utf8);
        return;
    }
    // Text that is composed as it stands and in the set costs one pass.
    if (exact(utf8, out, false)) return;
    std::string_view text = utf8;
    if (!is_composed(utf8)) {
        compose(utf8, composed_, work_);
        text = composed_;
        if (exact(text, out, true)) return;
    }
    encode_slowly(text, out);
}

// Character by character: each as it is, else its transliteration, else its
// compatibility form, else nothing for a combining mark, else '?'.
void charset_encoder::encode_slowly(std::string_view utf8, std::string& out) {
    if (remembered_.empty()) remembered_.resize(256);
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t start = i;
        while (i < utf8.size() && static_cast<unsigned char>(utf8[i]) < 0x80) ++i;
        out.append(utf8.substr(start, i - start));
        if (i == utf8.size()) break;
        std::size_t length = 0;
        const char32_t c = next_character(utf8.substr(i), length);
        if (length == 0) {
            out.push_back('?');
            ++replaced_;
            ++i;
            continue;
        }
        remembered_character& r = remembered_[c % remembered_.size()];
        if (r.c == c) {
            out.append(r.bytes, r.size);
            transliterated_ += r.how == outcome::transliterated;
            replaced_ += r.how == outcome::replaced;
        } else {
            const std::size_t before = out.size();
            const outcome how = write_character(c, utf8.substr(i, length), out);
            if (out.size() - before <= sizeof r.bytes) {
                r.c = c;
                r.how = how;
                r.size = static_cast<unsigned char>(out.size() - before);
                out.copy(r.bytes, r.size, before);
            }
        }
        i += length;
    }
}

charset_encoder::outcome charset_encoder::write_character(char32_t c, std::string_view utf8,
                                                          std::string& out) {
    if (exact(utf8, out, true)) return outcome::exact;
    const std::string_view instead = transliteration(c);
    // A compatibility form is no '$' ("＄" is one) that would end the word.
    const std::string_view compatible = compatibility_form(c);
    if ((!instead.empty() && exact(instead, out, true)) ||
        (!compatible.empty() && std::none_of(compatible.begin(), compatible.end(), is_source_byte) &&
         exact(compatible, out, true)) ||
        is_combining_mark(c)) {
        ++transliterated_;
        return outcome::transliterated;
    }
    out.push_back('?');
    ++replaced_;
    return outcome::replaced;
}

std::string_view transliteration(char32_t c) {
    const auto* end = std::end(transliterations);
    const auto* row = std::lower_bound(
        std::begin(transliterations), end, c,
        [](const transliteration_row& r, char32_t code) { return r.code < code; });
    return row != end && row->code == c ? std::string_view(row->text) : std::string_view();
}

char32_t next_character(std::string_view text, std::size_t& length) {
    length = 0;
    if (text.empty()) return 0;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t size = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2
                     : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (size == 0 || size > text.size()) return 0;
    char32_t c = size == 1 ? lead : size == 2 ? lead & 0x1F : size == 3 ? lead & 0x0F : lead & 0x07;
    for (std::size_t i = 1; i < size; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        c = (c << 6) | (byte(i) & 0x3F);
    }
    // Overlong forms, surrogates and code points beyond Unicode are not UTF-8.
    if ((size == 3 && c < 0x800) || (size == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
        (c >= 0xD800 && c <= 0xDFFF))
        return 0;
    length = size;
    return c;
}

}  // namespace lexaro
