// XML read as a stream of tokens, for the readers of XML dictionaries (TEI,
// JMdict): start tags with their attributes, end tags and text, a piece of
// the file at a time, so that memory stays that of the largest token. It is
// tolerant as the readers need it: a '<' that begins no tag is text, a tag
// it cannot parse is read to its '>' and counted with the sink; only what
// would lose the rest of the file (a comment, tag or CDATA section that
// never ends) stops the run, naming the file and the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/raw_entry.h"
#include "import/text_input.h"

namespace lexaro::import {

bool is_xml_space(char c);

// The name after its namespace prefix, if any.
std::string_view local_name(std::string_view name);

enum class token { start, end, text, done };

// Reads an XML file as tokens. Comments, processing instructions and the
// document type are stepped over (the document type's internal subset is
// kept when asked for); CDATA is text. The views it gives hold until the
// next call.
class xml_scanner {
public:
    xml_scanner(const std::string& path, text_input& text, entry_sink& sink)
        : path_(path), text_(text), sink_(sink) {}

    // Keeps the internal subset of the document type ("[...]" of
    // <!DOCTYPE name [...]>), up to max_size bytes, for internal_subset().
    void keep_internal_subset(std::size_t max_size) { subset_limit_ = max_size; }
    // The subset kept, once the document type has been read past; "" when
    // there was none. Longer than the limit: its first bytes, and
    // subset_cut() is true.
    const std::string& internal_subset() const { return subset_; }
    bool subset_cut() const { return subset_cut_; }

    token next();

    // Reads past the rest of an <entry> too large to hold, adding the bytes
    // it takes to `bytes`. True when the start of another entry ended it: the
    // entry was not closed, which is counted as damage.
    bool skip_rest_of_entry(std::size_t& bytes);

    // A start or end tag's local name.
    std::string_view name() const {
        return local_name(std::string_view(buffer_).substr(name_at_, name_size_));
    }
    bool self_closing() const { return self_closing_; }
    // The raw value (references not decoded) of the attribute with this
    // qualified name, or "".
    std::string_view attribute(std::string_view qualified) const;
    // A text token; raw: CDATA, whose '&' is text.
    std::string_view text() const { return std::string_view(buffer_).substr(token_at_, text_size_); }
    bool raw() const { return raw_; }
    // The bytes the last token took.
    std::size_t size() const { return pos_ - token_at_; }

    // The line (from 1) where the last token begins.
    uint64_t line();
    const std::string& path() const { return path_; }

    [[noreturn]] void fail(const std::string& what) { fail_at(line(), what); }
    [[noreturn]] void fail_at(uint64_t line, const std::string& what) const;
    void damaged(std::string_view kind) { sink_.damaged(kind, path_, line()); }

private:
    struct attribute_at {
        std::size_t name, name_size, value, value_size;
    };

    bool more();
    bool ensure(std::size_t count);
    token one_byte_text();
    std::optional<token> plain_text();
    std::optional<token> cdata_text();
    void skip_past(std::size_t skip, std::string_view terminator, const char* what);
    void skip_doctype();
    void keep_subset(uint64_t begun);
    token tag();
    std::size_t parse_tag(bool& malformed);

    const std::string& path_;
    text_input& text_;
    entry_sink& sink_;
    std::string buffer_;
    std::size_t pos_ = 0;       // the first byte not yet read as a token
    std::size_t token_at_ = 0;  // where the last token begins
    std::size_t counted_ = 0;   // bytes whose line feeds line_ counts
    uint64_t line_ = 1;
    bool at_end_ = false;
    bool done_ = false;  // the last token was the end
    char last_byte_ = '\0';
    bool in_cdata_ = false;
    uint64_t cdata_line_ = 0;
    // The last tag.
    bool closing_ = false, self_closing_ = false;
    std::size_t name_at_ = 0, name_size_ = 0;
    std::vector<attribute_at> attributes_;
    // The last text.
    std::size_t text_size_ = 0;
    bool raw_ = false;
    // The document type's internal subset, when kept.
    std::size_t subset_limit_ = 0;
    std::string subset_;
    bool subset_cut_ = false;
};

}  // namespace lexaro::import
