#include "import/formats/xml_scanner.h"

#include <algorithm>
#include <cstring>

namespace lexaro::import {

namespace {

constexpr std::size_t piece_size = 1 << 20;
// A tag (with its attributes) longer than this is no tag of a dictionary.
constexpr std::size_t max_tag_size = 1 << 16;

bool is_name_start(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' ||
           static_cast<unsigned char>(c) >= 0x80;
}
bool is_name_char(char c) {
    return is_name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

}  // namespace

bool is_xml_space(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r'; }

std::string_view local_name(std::string_view name) {
    const std::size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

void xml_scanner::fail_at(uint64_t line, const std::string& what) const {
    throw import_error(path_ + ": line " + std::to_string(line) + ": " + what);
}

token xml_scanner::next() {
    for (;;) {
        if (in_cdata_) {
            if (const auto t = cdata_text()) return *t;
            continue;
        }
        if (pos_ == buffer_.size() && !more()) {
            token_at_ = pos_;
            done_ = true;
            return token::done;
        }
        token_at_ = pos_;
        if (buffer_[pos_] != '<') {
            if (const auto t = plain_text()) return *t;
            continue;
        }
        if (!ensure(2)) {
            damaged("'<' signs that begin no tag");
            return one_byte_text();
        }
        const char c = buffer_[pos_ + 1];
        if (c == '!') {
            ensure(9);
            const std::string_view head = std::string_view(buffer_).substr(pos_, 9);
            if (head.substr(0, 4) == "<!--") {
                skip_past(4, "-->", "a comment begun here does not end");
            } else if (head == "<![CDATA[") {
                cdata_line_ = line();
                pos_ += 9;
                in_cdata_ = true;
            } else if (head == "<!DOCTYPE") {
                skip_doctype();
            } else {
                damaged("declarations that are no comment, CDATA or DOCTYPE");
                skip_past(2, ">", "a declaration begun here does not end");
            }
            continue;
        }
        if (c == '?') {
            skip_past(2, "?>", "a processing instruction begun here does not end");
            continue;
        }
        if (c == '/' || is_name_start(c)) return tag();
        damaged("'<' signs that begin no tag");
        return one_byte_text();
    }
}

bool xml_scanner::skip_rest_of_entry(std::size_t& bytes) {
    for (;;) {
        const token t = next();
        if (t == token::done) fail("the file ends inside an <entry> larger than a block");
        if (t == token::text || name() != "entry") {
            bytes += size();
            continue;
        }
        if (t == token::start) {
            damaged("entries not closed before the next");
            return true;
        }
        bytes += size();
        return false;
    }
}

std::string_view xml_scanner::attribute(std::string_view qualified) const {
    for (const attribute_at& a : attributes_)
        if (std::string_view(buffer_).substr(a.name, a.name_size) == qualified)
            return std::string_view(buffer_).substr(a.value, a.value_size);
    return {};
}

uint64_t xml_scanner::line() {
    for (; counted_ < token_at_; ++counted_) line_ += buffer_[counted_] == '\n';
    // At the end: the line of the last byte.
    return done_ && last_byte_ == '\n' ? line_ - 1 : line_;
}

// Reads the next piece onto the buffer, first dropping what is read
// through (everything before pos_). False at the end of the text.
bool xml_scanner::more() {
    if (at_end_) return false;
    if (!buffer_.empty()) last_byte_ = buffer_.back();
    if (pos_ > 0) {
        token_at_ = pos_;
        line();
        buffer_.erase(0, pos_);
        counted_ -= pos_;
        token_at_ = 0;
        pos_ = 0;
    }
    const std::size_t old = buffer_.size();
    buffer_.resize(old + piece_size);
    const std::size_t got = text_.read(&buffer_[old], piece_size);
    buffer_.resize(old + got);
    at_end_ = got == 0;
    return got > 0;
}

// Whether `count` bytes from pos_ on are in the buffer, reading on for them.
bool xml_scanner::ensure(std::size_t count) {
    while (buffer_.size() - pos_ < count)
        if (!more()) return false;
    return true;
}

token xml_scanner::one_byte_text() {
    text_size_ = 1;
    raw_ = true;
    ++pos_;
    return token::text;
}

// Text up to the next '<'; a reference that the buffer's end may cut is
// left for the next piece. Nothing when more must be read first.
std::optional<token> xml_scanner::plain_text() {
    const char* from = buffer_.data() + pos_;
    const void* lt = std::memchr(from, '<', buffer_.size() - pos_);
    std::size_t end = lt ? static_cast<const char*>(lt) - buffer_.data() : buffer_.size();
    if (!lt && !at_end_) {
        // A '&' among the last bytes with no ';' after it may be cut.
        for (std::size_t i = end; i > pos_ && end - i < 32; --i) {
            if (buffer_[i - 1] == ';') break;
            if (buffer_[i - 1] == '&') {
                end = i - 1;
                break;
            }
        }
        if (end == pos_) {
            more();
            return std::nullopt;
        }
    }
    text_size_ = end - pos_;
    raw_ = false;
    pos_ = end;
    return token::text;
}

std::optional<token> xml_scanner::cdata_text() {
    const std::string_view rest = std::string_view(buffer_).substr(pos_);
    const std::size_t close = rest.find("]]>");
    token_at_ = pos_;
    raw_ = true;
    if (close != std::string_view::npos) {
        text_size_ = close;
        pos_ += close + 3;
        in_cdata_ = false;
        if (close == 0) return std::nullopt;
        return token::text;
    }
    // All but what may be the start of "]]>".
    if (rest.size() > 2) {
        text_size_ = rest.size() - 2;
        pos_ += text_size_;
        return token::text;
    }
    if (!more()) fail_at(cdata_line_, "a CDATA section begun here does not end");
    return std::nullopt;
}

// Steps over markup from pos_ to the end of `terminator`, searching from
// `skip` bytes in; what it steps over is not held.
void xml_scanner::skip_past(std::size_t skip, std::string_view terminator, const char* what) {
    const uint64_t begun = line();
    std::size_t from = pos_ + skip;
    for (;;) {
        const std::size_t found = buffer_.find(terminator, from);
        if (found != std::string::npos) {
            pos_ = found + terminator.size();
            return;
        }
        // Keep what may begin the terminator.
        const std::size_t keep = std::min(buffer_.size() - from, terminator.size() - 1);
        pos_ = buffer_.size() - keep;
        if (!more()) fail_at(begun, what);
        from = 0;
    }
}

// <!DOCTYPE name ... [ internal subset ]>: the subset is stepped over, or
// kept when asked for.
void xml_scanner::skip_doctype() {
    const uint64_t begun = line();
    std::size_t at = pos_ + 9;
    for (;;) {
        const std::size_t mark = buffer_.find_first_of("[>", at);
        if (mark != std::string::npos) {
            pos_ = mark + 1;
            if (buffer_[mark] == '[') {
                if (subset_limit_ > 0)
                    keep_subset(begun);
                else
                    skip_past(0, "]", "a DOCTYPE begun here does not end");
                skip_past(0, ">", "a DOCTYPE begun here does not end");
            }
            return;
        }
        at = buffer_.size() - pos_;
        if (at > max_tag_size || !more()) fail_at(begun, "a DOCTYPE begun here does not end");
    }
}

// The internal subset from pos_ to its ']', kept up to the limit. Its
// declarations may hold ']' and '>' in quoted values and comments, which do
// not end it.
void xml_scanner::keep_subset(uint64_t begun) {
    subset_.clear();
    char quote = '\0';
    bool in_declaration = false, in_comment = false;
    for (;;) {
        if (pos_ == buffer_.size() && !more()) fail_at(begun, "a DOCTYPE begun here does not end");
        const char c = buffer_[pos_];
        if (in_comment) {
            if (c == '>' && pos_ >= 2 && buffer_.compare(pos_ - 2, 2, "--") == 0)
                in_comment = false;
        } else if (quote != '\0') {
            if (c == quote) quote = '\0';
        } else if (c == '<') {
            ensure(4);
            in_comment = buffer_.compare(pos_, 4, "<!--") == 0;
            in_declaration = !in_comment;
        } else if (in_declaration && (c == '"' || c == '\'')) {
            quote = c;
        } else if (c == '>') {
            in_declaration = false;
        } else if (c == ']' && !in_declaration) {
            ++pos_;
            return;
        }
        if (subset_.size() < subset_limit_)
            subset_ += c;
        else
            subset_cut_ = true;
        ++pos_;
    }
}

// A start or end tag at pos_, read on until it is whole.
token xml_scanner::tag() {
    for (;;) {
        bool malformed = false;
        const std::size_t end = parse_tag(malformed);
        if (end != std::string::npos && end - pos_ > max_tag_size)
            fail("a tag begun here is longer than 64 KiB");
        if (end != std::string::npos) {
            pos_ = end;
            if (malformed) damaged("malformed tags");
            return closing_ ? token::end : token::start;
        }
        if (buffer_.size() - pos_ > max_tag_size)
            fail("a tag begun here is longer than 64 KiB");
        if (!more()) fail("a tag begun here does not end");
    }
}

// Parses the tag at pos_: the index after its '>', or npos when the
// buffer ends first.
std::size_t xml_scanner::parse_tag(bool& malformed) {
    const std::string_view b = buffer_;
    std::size_t i = pos_ + 1;
    closing_ = b[i] == '/';
    if (closing_) ++i;
    name_at_ = i;
    while (i < b.size() && is_name_char(b[i])) ++i;
    name_size_ = i - name_at_;
    attributes_.clear();
    self_closing_ = false;
    if (name_size_ == 0) malformed = true;
    for (;;) {
        while (i < b.size() && is_xml_space(b[i])) ++i;
        if (i >= b.size()) return std::string::npos;
        if (b[i] == '>') return i + 1;
        if (b[i] == '/' && !closing_) {
            if (i + 1 >= b.size()) return std::string::npos;
            if (b[i + 1] == '>') {
                self_closing_ = true;
                return i + 2;
            }
        }
        if (!closing_ && !malformed && is_name_start(b[i])) {
            attribute_at a{i, 0, 0, 0};
            while (i < b.size() && is_name_char(b[i])) ++i;
            a.name_size = i - a.name;
            while (i < b.size() && is_xml_space(b[i])) ++i;
            if (i >= b.size()) return std::string::npos;
            if (b[i] == '=') {
                ++i;
                while (i < b.size() && is_xml_space(b[i])) ++i;
                if (i >= b.size()) return std::string::npos;
                if (b[i] == '"' || b[i] == '\'') {
                    const std::size_t close = b.find(b[i], i + 1);
                    if (close == std::string_view::npos) return std::string::npos;
                    a.value = i + 1;
                    a.value_size = close - i - 1;
                    attributes_.push_back(a);
                    i = close + 1;
                    continue;
                }
            }
        }
        // Anything else: the tag is read to its '>' as it stands.
        malformed = true;
        const std::size_t gt = b.find('>', i);
        if (gt == std::string_view::npos) return std::string::npos;
        self_closing_ = !closing_ && gt > i && b[gt - 1] == '/';
        return gt + 1;
    }
}

}  // namespace lexaro::import
