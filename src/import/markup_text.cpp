#include "import/markup_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

namespace lexaro::import {

namespace {

// A tag's name of at most 16 bytes as two numbers, the bytes in order from
// the highest: names compare as their keys do, without a call to memcmp
// for each step of the search (a large part of the time that HTML takes).
struct name_key {
    uint64_t high = 0, low = 0;
    bool operator<(const name_key& o) const { return high != o.high ? high < o.high : low < o.low; }
    bool operator==(const name_key& o) const { return high == o.high && low == o.low; }
};
constexpr std::size_t longest_key = 16;

// The key of a name of at most longest_key bytes, each made lower case.
name_key key_of(std::string_view name) {
    name_key key;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        uint64_t& half = i < 8 ? key.high : key.low;
        half |= uint64_t{static_cast<unsigned char>(c)} << (8 * (7 - i % 8));
    }
    return key;
}

struct known_tag {
    std::string_view name;
    tag_effect effect;
    name_key key = {};
};

using tag_table = std::vector<known_tag>;

bool by_name(const known_tag& a, const known_tag& b) { return a.key < b.key; }

// Tags of HTML (and of the Pango markup that StarDict's h and g types use),
// each with what a browser makes of it. An element not named here is
// inline, its content shown: only these need a name. Elements without
// content (embed, input, param, area, bgsound, ...) are listed so that a
// tab-separated text holding one reads as HTML.
tag_table html_tags() {
    using e = tag_effect;
    tag_table table;
    for (std::string_view n :
         {"a",    "abbr",    "acronym", "area",   "b",       "base",  "basefont", "bdi",
          "bdo",  "bgsound", "big",     "button", "cite",    "code",  "col",      "colgroup",
          "data", "del",     "dfn",     "em",     "embed",   "font",  "frame",    "i",
          "img",  "input",   "ins",     "kbd",    "keygen",  "label", "link",     "map",
          "mark", "meta",    "nobr",    "param",  "picture", "q",     "rp",       "rt",
          "ruby", "s",       "samp",    "small",  "source",  "span",  "strike",   "strong",
          "sub",  "sup",     "time",    "track",  "tt",      "u",     "var",      "wbr"})
        table.push_back({n, e::none});
    for (std::string_view n :
         {"address", "article", "aside",  "blockquote", "body", "br",     "caption",  "center",
          "dd",      "details", "dir",    "div",        "dl",   "dt",     "fieldset", "figcaption",
          "figure",  "footer",  "form",   "h1",         "h2",   "h3",     "h4",       "h5",
          "h6",      "header",  "hgroup", "hr",         "html", "legend", "li",       "main",
          "menu",    "nav",     "ol",     "p",          "pre",  "search", "section",  "summary",
          "table",   "tbody",   "tfoot",  "thead",      "tr",   "ul"})
        table.push_back({n, e::separator});
    for (std::string_view n : {"td", "th"}) table.push_back({n, e::space});
    // What a browser does not show: the head and what belongs there, scripts,
    // templates, and media, whose content is only shown by browsers that
    // cannot play or draw them (an SVG picture's text is part of the picture).
    for (std::string_view n :
         {"audio", "canvas", "datalist", "head", "iframe", "noembed", "noframes", "noscript",
          "object", "script", "style", "svg", "template", "title", "video"})
        table.push_back({n, e::hide});
    for (known_tag& t : table) t.key = key_of(t.name);
    std::sort(table.begin(), table.end(), by_name);
    return table;
}

// XDXF's tags on top of HTML's; <tr> is the transcription there, not a row.
tag_table xdxf_tags() {
    using e = tag_effect;
    tag_table table = html_tags();
    table.erase(std::remove_if(table.begin(), table.end(),
                               [](const known_tag& t) { return t.name == "tr"; }),
                table.end());
    for (std::string_view n :
         {"abr", "ant", "c", "categ", "co", "deftext", "dtrn", "etm", "ex_orig", "gr", "hpn",
          "hpr", "iref", "kref", "mer", "mrkd", "nu", "opt", "par", "phr", "pos", "spv", "sr",
          "syn", "tense"})
        table.push_back({n, e::none});
    table.push_back({"ex_tran", e::space});  // an example's translation after the example
    for (std::string_view n : {"ar", "def", "ex"}) table.push_back({n, e::separator});
    for (std::string_view n : {"k", "rref"}) table.push_back({n, e::hide});
    table.push_back({"tr", e::brackets});
    for (known_tag& t : table) t.key = key_of(t.name);
    std::sort(table.begin(), table.end(), by_name);
    return table;
}

const tag_table& tags_of(markup kind) {
    static const tag_table html = html_tags();
    static const tag_table xdxf = xdxf_tags();
    return kind == markup::xdxf ? xdxf : html;
}

bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }
bool is_ascii_alphanumeric(char c) { return is_ascii_letter(c) || is_ascii_digit(c); }
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

struct named_reference {
    std::string_view name;   // without the ';'
    uint32_t first, second;  // second: 0 for a single character
    bool legacy;             // works without the ';'
};

#include "import/entity_table.inc"

// The longest name of the table: "CounterClockwiseContourIntegral".
constexpr std::size_t longest_name = 31;
// The longest name that works without a ';': "frac12", "middot", ...
constexpr std::size_t longest_legacy_name = 6;

const named_reference* find_reference(std::string_view name) {
    const auto end = std::end(named_references);
    const auto found =
        std::lower_bound(std::begin(named_references), end, name,
                         [](const named_reference& r, std::string_view n) { return r.name < n; });
    return found != end && found->name == name ? found : nullptr;
}

void append_reference(const named_reference& r, std::string& out) {
    append_utf8(r.first, out);
    if (r.second != 0) append_utf8(r.second, out);
}

// Past the white space from i on.
std::size_t skip_space(std::string_view text, std::size_t i) {
    while (i < text.size() && is_space(text[i])) ++i;
    return i;
}

// Reads the attributes of a tag from i on, as browsers do: a name up to
// white space, '/', '>' or '=', then maybe '=' and a value, quoted (which
// may hold '>') or not. Gives the index of the '>' that closes the tag
// (npos when the text ends first), and notes in t whether a '/' stands
// right before it and whether an attribute had no value.
std::size_t read_attributes(std::string_view text, std::size_t i, tag& t) {
    const std::size_t n = text.size();
    for (;;) {
        while (i < n && (is_space(text[i]) || text[i] == '/')) {
            if (text[i] == '/' && i + 1 < n && text[i + 1] == '>') {
                t.self_closing = true;
                return i + 1;
            }
            ++i;
        }
        if (i >= n) return std::string_view::npos;
        if (text[i] == '>') return i;
        ++i;  // the name's first character, which may be '='
        while (i < n && !is_space(text[i]) && text[i] != '/' && text[i] != '>' && text[i] != '=')
            ++i;
        i = skip_space(text, i);
        if (i >= n || text[i] != '=') {
            t.bare_attributes = true;
            continue;
        }
        i = skip_space(text, i + 1);
        if (i >= n) return std::string_view::npos;
        if (text[i] == '"' || text[i] == '\'') {
            const std::size_t close = text.find(text[i], i + 1);
            if (close == std::string_view::npos) return std::string_view::npos;
            i = close + 1;
        } else {
            while (i < n && !is_space(text[i]) && text[i] != '>') ++i;
        }
    }
}

// The code point of a numeric reference as browsers read it, or 0 where
// they read U+FFFD (zero, a surrogate, past U+10FFFF): such a reference is
// kept as written.
uint32_t browser_code_point(uint32_t c) {
    if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    if (c >= 0x80 && c <= 0x9F) return windows_1252_references[c - 0x80];
    return c;
}

}  // namespace

std::optional<tag> parse_tag(std::string_view text, std::size_t at, markup kind,
                             bool* text_ends_inside) {
    std::size_t i = at + 1;
    tag found;
    if (i < text.size() && text[i] == '/') {
        found.closing = true;
        ++i;
    }
    if (i >= text.size() || !is_ascii_letter(text[i])) return std::nullopt;
    const std::size_t name_start = i;
    while (i < text.size() && !is_space(text[i]) && text[i] != '/' && text[i] != '>') ++i;
    const std::string_view name = text.substr(name_start, i - name_start);
    const std::size_t close = read_attributes(text, i, found);
    if (close == std::string_view::npos) {
        if (text_ends_inside != nullptr) *text_ends_inside = true;
        return std::nullopt;
    }
    found.name = name;
    found.length = close - at + 1;
    if (name.size() > longest_key) return found;
    const tag_table& table = tags_of(kind);
    const name_key wanted = key_of(name);
    const auto known =
        std::lower_bound(table.begin(), table.end(), wanted,
                         [](const known_tag& t, const name_key& k) { return t.key < k; });
    // The size too: a zero byte in the name would pad the key as nothing does.
    if (known == table.end() || !(known->key == wanted) || known->name.size() != name.size())
        return found;
    found.name = known->name;
    found.effect = known->effect;
    found.known = true;
    return found;
}

std::size_t comment_length(std::string_view text, std::size_t at) {
    const std::string_view rest = text.substr(at);
    // Most '<' start a tag: a letter follows.
    if (rest.size() < 2 || rest[0] != '<' || (rest[1] != '!' && rest[1] != '?' && rest[1] != '/'))
        return 0;
    std::size_t from;  // where the '>' that ends it is looked for
    if (rest.compare(0, 4, "<!--") == 0) {
        // "<!-->" and "<!--->" end where they start; else "-->" or "--!>" ends it.
        if (rest.compare(4, 1, ">") == 0) return 5;
        if (rest.compare(4, 2, "->") == 0) return 6;
        for (std::size_t i = rest.find("--", 4); i != std::string_view::npos;
             i = rest.find("--", i + 1)) {
            if (rest.compare(i + 2, 1, ">") == 0) return i + 3;
            if (rest.compare(i + 2, 2, "!>") == 0) return i + 4;
        }
        return rest.size();
    }
    if (rest[1] == '!' || rest[1] == '?') {
        from = 2;  // <!DOCTYPE ...>, <![CDATA[...]]>, <?xml ...?>
    } else if (rest[1] == '/' && rest.size() > 2 && !is_ascii_letter(rest[2])) {
        if (rest[2] == '>') return 3;  // "</>" is nothing
        from = 3;                      // "</ x>", "</1>"
    } else {
        return 0;
    }
    const std::size_t end = rest.find('>', from);
    return end == std::string_view::npos ? rest.size() : end + 1;
}

bool append_utf8(uint32_t c, std::string& out) {
    if (c == 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return true;
}

std::size_t decode_entity(std::string_view text, std::size_t at, std::string& out) {
    const std::size_t semicolon = text.substr(at, longest_name + 2).find(';');
    if (semicolon == std::string_view::npos || semicolon < 2) return 0;
    const std::string_view body = text.substr(at + 1, semicolon - 1);
    uint32_t code_point = 0;
    if (body[0] == '#') {
        const bool hex = body.size() > 1 && (body[1] == 'x' || body[1] == 'X');
        const std::string_view digits = body.substr(hex ? 2 : 1);
        if (digits.empty() || digits.size() > 8) return 0;
        for (char c : digits) {
            uint32_t value;
            if (is_ascii_digit(c))
                value = static_cast<uint32_t>(c - '0');
            else if (hex && lower(c) >= 'a' && lower(c) <= 'f')
                value = static_cast<uint32_t>(lower(c) - 'a' + 10);
            else
                return 0;
            code_point = code_point * (hex ? 16 : 10) + value;
            if (code_point > 0x10FFFF) return 0;
        }
        if (!append_utf8(code_point, out)) return 0;
        return semicolon + 1;
    }
    for (char c : body)
        if (!is_ascii_alphanumeric(c)) return 0;
    const named_reference* named = find_reference(body);
    if (named == nullptr) return 0;
    append_reference(*named, out);
    return semicolon + 1;
}

std::size_t decode_html_reference(std::string_view text, std::size_t at, std::string& out,
                                  reference_place place) {
    const std::size_t n = text.size();
    std::size_t i = at + 1;
    if (i < n && text[i] == '#') {
        // "&#" and decimal digits, or "&#x" and hexadecimal ones; the ';'
        // may be left out.
        ++i;
        const bool hex = i < n && (text[i] == 'x' || text[i] == 'X');
        if (hex) ++i;
        const std::size_t digits = i;
        uint32_t code_point = 0;
        for (; i < n; ++i) {
            const char c = lower(text[i]);
            uint32_t value;
            if (is_ascii_digit(c))
                value = static_cast<uint32_t>(c - '0');
            else if (hex && c >= 'a' && c <= 'f')
                value = static_cast<uint32_t>(c - 'a' + 10);
            else
                break;
            // Past U+10FFFF it stays there, however many digits follow.
            code_point = std::min<uint32_t>(code_point * (hex ? 16 : 10) + value, 0x110000);
        }
        if (i == digits) return 0;
        if (i < n && text[i] == ';') ++i;
        const uint32_t shown = browser_code_point(code_point);
        if (shown == 0) return 0;
        append_utf8(shown, out);
        return i - at;
    }
    // The name runs over letters and digits; with its ';' it may be any
    // name of the table, without it only one of the legacy names, the
    // longest that starts the run ("&notit;" is "¬it;").
    std::size_t end = i;
    while (end < n && end - i <= longest_name && is_ascii_alphanumeric(text[end])) ++end;
    const std::string_view run = text.substr(i, end - i);
    if (run.empty()) return 0;
    if (end < n && text[end] == ';') {
        if (const named_reference* named = find_reference(run)) {
            append_reference(*named, out);
            return end + 1 - at;
        }
    }
    for (std::size_t length = std::min(run.size(), longest_legacy_name); length >= 2; --length) {
        const named_reference* named = find_reference(run.substr(0, length));
        if (named == nullptr || !named->legacy) continue;
        // In an attribute's value, a name that letters, digits or '=' go on
        // from is kept as written ("?a=1&copy=2" stays a link).
        if (place == reference_place::attribute && i + length < n &&
            (is_ascii_alphanumeric(text[i + length]) || text[i + length] == '='))
            return 0;
        append_reference(*named, out);
        return length + 1;
    }
    return 0;
}

bool holds_markup(std::string_view text) {
    std::string scratch;
    bool tags_end = false;
    for (std::size_t i = text.find_first_of("<&"); i != std::string_view::npos;
         i = text.find_first_of("<&", i + 1)) {
        if (text[i] == '<') {
            if (tags_end) continue;
            const auto t = parse_tag(text, i, markup::html, &tags_end);
            if (t && t->known && !t->bare_attributes) return true;
        } else if (decode_entity(text, i, scratch) > 0) {
            return true;
        }
    }
    return false;
}

}  // namespace lexaro::import
