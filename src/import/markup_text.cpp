#include "import/markup_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace lexaro::import {

namespace {

struct known_tag {
    std::string_view name;
    tag_effect effect;
};

using tag_table = std::vector<known_tag>;

bool by_name(const known_tag& a, const known_tag& b) { return a.name < b.name; }

// Tags of HTML (and of the Pango markup that StarDict's h and g types use).
tag_table html_tags() {
    using e = tag_effect;
    tag_table table;
    for (std::string_view n :
         {"a",    "abbr",     "acronym", "b",     "bdi",    "bdo",  "big",    "cite",   "code",
          "col",  "colgroup", "del",     "dfn",   "em",     "font", "i",      "img",    "ins",
          "kbd",  "label",    "link",    "mark",  "meta",   "nobr", "q",      "rp",     "rt",
          "ruby", "s",        "samp",    "small", "source", "span", "strike", "strong", "sub",
          "sup",  "time",     "tt",      "u",     "var",    "wbr"})
        table.push_back({n, e::none});
    for (std::string_view n :
         {"address", "article", "aside", "blockquote", "body",       "br",     "caption", "center",
          "dd",      "div",     "dl",    "dt",         "figcaption", "figure", "footer",  "h1",
          "h2",      "h3",      "h4",    "h5",         "h6",         "header", "hr",      "html",
          "li",      "main",    "nav",   "ol",         "p",          "pre",    "section", "table",
          "tbody",   "tfoot",   "thead", "tr",         "ul"})
        table.push_back({n, e::separator});
    for (std::string_view n : {"td", "th"}) table.push_back({n, e::space});
    for (std::string_view n :
         {"audio", "head", "iframe", "noscript", "object", "script", "style", "title", "video"})
        table.push_back({n, e::hide});
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
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

struct entity {
    std::string_view name;
    uint32_t code_point;
};

// The named character references a dictionary is likely to hold: XML's
// five, all of Latin-1, typography, arrows and the Greek letters.
std::vector<entity> entity_table() {
    std::vector<entity> table = {
        {"amp", '&'},       {"lt", '<'},         {"gt", '>'},       {"quot", '"'},
        {"apos", '\''},     {"OElig", 0x152},    {"oelig", 0x153},  {"Scaron", 0x160},
        {"scaron", 0x161},  {"Yuml", 0x178},     {"fnof", 0x192},   {"circ", 0x2C6},
        {"tilde", 0x2DC},   {"ensp", 0x2002},    {"emsp", 0x2003},  {"thinsp", 0x2009},
        {"zwnj", 0x200C},   {"zwj", 0x200D},     {"lrm", 0x200E},   {"rlm", 0x200F},
        {"ndash", 0x2013},  {"mdash", 0x2014},   {"lsquo", 0x2018}, {"rsquo", 0x2019},
        {"sbquo", 0x201A},  {"ldquo", 0x201C},   {"rdquo", 0x201D}, {"bdquo", 0x201E},
        {"dagger", 0x2020}, {"Dagger", 0x2021},  {"bull", 0x2022},  {"hellip", 0x2026},
        {"permil", 0x2030}, {"prime", 0x2032},   {"Prime", 0x2033}, {"lsaquo", 0x2039},
        {"rsaquo", 0x203A}, {"euro", 0x20AC},    {"trade", 0x2122}, {"larr", 0x2190},
        {"uarr", 0x2191},   {"rarr", 0x2192},    {"darr", 0x2193},  {"harr", 0x2194},
        {"rArr", 0x21D2},   {"hArr", 0x21D4},    {"minus", 0x2212}, {"asymp", 0x2248},
        {"ne", 0x2260},     {"le", 0x2264},      {"ge", 0x2265},    {"infin", 0x221E},
        {"loz", 0x25CA},    {"spades", 0x2660},  {"clubs", 0x2663}, {"hearts", 0x2665},
        {"diams", 0x2666},  {"thetasym", 0x3D1}, {"upsih", 0x3D2},  {"piv", 0x3D6},
        {"sigmaf", 0x3C2},
    };
    // Latin-1: U+00A0 to U+00FF in order.
    static const char* const latin1[] = {
        "nbsp",   "iexcl",  "cent",   "pound",  "curren", "yen",    "brvbar", "sect",   "uml",
        "copy",   "ordf",   "laquo",  "not",    "shy",    "reg",    "macr",   "deg",    "plusmn",
        "sup2",   "sup3",   "acute",  "micro",  "para",   "middot", "cedil",  "sup1",   "ordm",
        "raquo",  "frac14", "frac12", "frac34", "iquest", "Agrave", "Aacute", "Acirc",  "Atilde",
        "Auml",   "Aring",  "AElig",  "Ccedil", "Egrave", "Eacute", "Ecirc",  "Euml",   "Igrave",
        "Iacute", "Icirc",  "Iuml",   "ETH",    "Ntilde", "Ograve", "Oacute", "Ocirc",  "Otilde",
        "Ouml",   "times",  "Oslash", "Ugrave", "Uacute", "Ucirc",  "Uuml",   "Yacute", "THORN",
        "szlig",  "agrave", "aacute", "acirc",  "atilde", "auml",   "aring",  "aelig",  "ccedil",
        "egrave", "eacute", "ecirc",  "euml",   "igrave", "iacute", "icirc",  "iuml",   "eth",
        "ntilde", "ograve", "oacute", "ocirc",  "otilde", "ouml",   "divide", "oslash", "ugrave",
        "uacute", "ucirc",  "uuml",   "yacute", "thorn",  "yuml"};
    for (uint32_t i = 0; i < 96; ++i) table.push_back({latin1[i], 0xA0 + i});
    // Greek: capitals U+0391 to U+03A9 (no U+03A2), small letters U+03B1 to U+03C9.
    static const char* const greek[] = {
        "alpha", "beta",   "gamma",   "delta", "epsilon", "zeta",    "eta",  "theta", "iota",
        "kappa", "lambda", "mu",      "nu",    "xi",      "omicron", "pi",   "rho",   "",
        "sigma", "tau",    "upsilon", "phi",   "chi",     "psi",     "omega"};
    static std::vector<std::string> capitals;  // the names must outlive the table
    capitals.reserve(25);
    for (uint32_t i = 0; i < 25; ++i) {
        const std::string_view small = greek[i];
        if (small.empty()) continue;
        std::string capital(small);
        capital[0] = static_cast<char>(capital[0] - 'a' + 'A');
        capitals.push_back(std::move(capital));
        table.push_back({capitals.back(), 0x391 + i});
        table.push_back({small, 0x3B1 + i});
    }
    std::sort(table.begin(), table.end(),
              [](const entity& a, const entity& b) { return a.name < b.name; });
    return table;
}

std::optional<uint32_t> named_entity(std::string_view name) {
    static const std::vector<entity> table = entity_table();
    const auto found =
        std::lower_bound(table.begin(), table.end(), name,
                         [](const entity& e, std::string_view n) { return e.name < n; });
    if (found == table.end() || found->name != name) return std::nullopt;
    return found->code_point;
}

// The end of the attributes of a tag: the index of its '>', or npos. A quoted
// value may hold '>'; a '<' outside quotes means this was no tag.
std::size_t tag_end(std::string_view text, std::size_t from) {
    char quote = 0;
    for (std::size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i;
        } else if (c == '<') {
            return std::string_view::npos;
        }
    }
    return std::string_view::npos;
}

}  // namespace

std::optional<tag> parse_tag(std::string_view text, std::size_t at, markup kind) {
    std::size_t i = at + 1;
    tag found;
    if (i < text.size() && text[i] == '/') {
        found.closing = true;
        ++i;
    }
    if (i >= text.size() || !is_ascii_letter(text[i])) return std::nullopt;
    char name[16];
    std::size_t length = 0;
    while (i < text.size() && (is_ascii_letter(text[i]) || is_ascii_digit(text[i]) ||
                               text[i] == '_' || text[i] == '-')) {
        if (length == sizeof name) return std::nullopt;
        name[length++] = lower(text[i++]);
    }
    const tag_table& table = tags_of(kind);
    const std::string_view wanted(name, length);
    const auto known =
        std::lower_bound(table.begin(), table.end(), wanted,
                         [](const known_tag& t, std::string_view n) { return t.name < n; });
    if (known == table.end() || known->name != wanted) return std::nullopt;
    if (i >= text.size()) return std::nullopt;
    std::size_t close;
    if (text[i] == '>') {
        close = i;
    } else if (text[i] == '/' && i + 1 < text.size() && text[i + 1] == '>') {
        close = i + 1;
    } else if (is_space(text[i]) && !found.closing) {
        close = tag_end(text, i);
        if (close == std::string_view::npos) return std::nullopt;
    } else if (is_space(text[i])) {
        close = i;
        while (close < text.size() && is_space(text[close])) ++close;
        if (close >= text.size() || text[close] != '>') return std::nullopt;
    } else {
        return std::nullopt;
    }
    found.name = known->name;
    found.effect = known->effect;
    found.self_closing = close > at && text[close - 1] == '/';
    found.length = close - at + 1;
    return found;
}

std::size_t comment_length(std::string_view text, std::size_t at) {
    if (text.compare(at, 4, "<!--") != 0) return 0;
    const std::size_t end = text.find("-->", at + 4);
    return end == std::string_view::npos ? text.size() - at : end + 3 - at;
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
    constexpr std::size_t longest = 32;
    const std::size_t semicolon = text.substr(at, longest).find(';');
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
    } else {
        for (char c : body)
            if (!is_ascii_letter(c) && !is_ascii_digit(c)) return 0;
        const auto named = named_entity(body);
        if (!named) return 0;
        code_point = *named;
    }
    if (!append_utf8(code_point, out)) return 0;
    return semicolon + 1;
}

bool holds_markup(std::string_view text) {
    std::string scratch;
    for (std::size_t i = text.find_first_of("<&"); i != std::string_view::npos;
         i = text.find_first_of("<&", i + 1)) {
        if (text[i] == '<' && parse_tag(text, i, markup::html)) return true;
        if (text[i] == '&' && decode_entity(text, i, scratch) > 0) return true;
    }
    return false;
}

}  // namespace lexaro::import
