#include "import/reverse.h"

#include <algorithm>
#include <functional>

namespace lexaro::import {

namespace {

constexpr uint32_t none = UINT32_MAX;
constexpr std::string_view fullwidth_dollar = "\xEF\xBC\x84";  // U+FF04, as in words
// The reversed entries of one entry take at most this many times its bytes,
// plus entry_allowance: a hostile entry of a long word and thousands of terms
// cannot make memory grow faster than its input.
constexpr std::size_t growth_per_entry = 8;
constexpr std::size_t entry_allowance = 4096;
// The alternatives that slashes in one term give ("permit/pass/sticker"):
// more than this, and the term stays whole.
constexpr std::size_t max_alternatives = 8;
// A grammar label longer than this is no label.
constexpr std::size_t max_label_size = 64;
// Terms of an entry compared one by one; from this many on, by hash.
constexpr std::size_t few_terms = 16;
constexpr unsigned max_rank = 255;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool is_lower(char c) { return c >= 'a' && c <= 'z'; }
bool is_ascii_letter(char c) { return is_lower(c) || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool starts_with(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}
bool ends_with(std::string_view text, std::string_view end) {
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

std::string_view trim(std::string_view text) {
    std::size_t first = 0, last = text.size();
    while (first < last && is_space(text[first])) ++first;
    while (last > first && is_space(text[last - 1])) --last;
    return text.substr(first, last - first);
}

// 0 to 3 for an opening bracket, 4 to 7 for its closing one, else 8; and
// which bytes may start a separator.
constexpr std::size_t bracket_kinds = 4;
struct byte_table {
    uint8_t kind[256];
    bool separator[256] = {};
    // Bytes that a term's text is not simply copied over: brackets, '/',
    // white space, the lead byte of a no-break space, '$', 0 and 0x1A.
    bool special[256] = {};
    byte_table() {
        for (const char c : std::string_view("()[]{}<>/ \t\r\v\f\n\xC2$\x1A"))
            special[static_cast<unsigned char>(c)] = true;
        special[0] = true;
        std::fill(std::begin(kind), std::end(kind), uint8_t{2 * bracket_kinds});
        const std::string_view brackets = "([{<)]}>";
        for (std::size_t i = 0; i < brackets.size(); ++i)
            kind[static_cast<unsigned char>(brackets[i])] = static_cast<uint8_t>(i);
        // ';' '|' ',' the fullwidth ones and the ideographic comma (EF, E3),
        // " / ", and sense numbers.
        for (const char c : std::string_view(";|,\xEF\xE3 0123456789"))
            separator[static_cast<unsigned char>(c)] = true;
    }
};
const byte_table bytes;
std::size_t bracket_kind(char c) { return bytes.kind[static_cast<unsigned char>(c)]; }

// Quotation marks that open and close a quoted term or an example.
constexpr std::string_view opening_quotes[] = {"\"", "\xE2\x80\x9C", "\xE2\x80\x9E", "\xC2\xAB",
                                               "\xE2\x80\x9A", "\xE2\x80\x98", "'"};
constexpr std::string_view closing_quotes[] = {"\"", "\xE2\x80\x9D", "\xE2\x80\x9C", "\xC2\xBB",
                                               "\xE2\x80\x98", "\xE2\x80\x99", "'"};
// Those that start an example line ("Aal in Aspik" - Jellied Eel): double
// quotes and guillemets, not the apostrophe that starts 's-Hertogenbosch.
constexpr std::size_t example_quotes = 4;

// Whether text may start with a quote, a bullet or an arrow: most lines and
// terms start with none, and are told so by their first byte.
bool may_start_with_mark(std::string_view text) {
    if (text.empty()) return false;
    const char c = text[0];
    return c == '"' || c == '\'' || c == '*' || c == '-' || c == '=' || c == '\xC2' ||
           c == '\xE2';
}

std::size_t quote_at_start(std::string_view text, std::size_t kinds = std::size(opening_quotes)) {
    if (!may_start_with_mark(text)) return 0;
    for (std::size_t k = 0; k < kinds; ++k)
        if (starts_with(text, opening_quotes[k])) return opening_quotes[k].size();
    return 0;
}
std::size_t quote_at_end(std::string_view text) {
    for (const std::string_view q : closing_quotes)
        if (ends_with(text, q)) return q.size();
    return 0;
}

// An example: a quote, then its translation after a dash or an equals sign
// ("Aal in Aspik"  - Jellied Eel; "„Zu vermieten“" - "To let"); a quoted
// term is none.
bool is_example(std::string_view line) {
    const std::size_t open = quote_at_start(line, example_quotes);
    if (open == 0) return false;
    for (std::size_t i = open; i < line.size(); ++i) {
        const std::string_view rest = line.substr(i);
        std::size_t close = 0;
        for (std::size_t k = 0; k < example_quotes && close == 0; ++k)
            if (starts_with(rest, closing_quotes[k])) close = closing_quotes[k].size();
        if (close == 0) continue;
        const std::string_view after = trim(rest.substr(close));
        if (starts_with(after, "-") || starts_with(after, "=") ||
            starts_with(after, "\xE2\x80\x93") || starts_with(after, "\xE2\x80\x94"))
            return true;
        i += close - 1;
    }
    return false;
}

constexpr std::string_view ellipsis = "\xE2\x80\xA6";  // …

// Bullets that start a line of a list.
constexpr std::string_view bullets[] = {"\xE2\x80\xA2 ", "* ", "- ", "\xE2\x80\x93 ",
                                        "\xE2\x80\x94 "};
// Arrows that start a cross reference.
constexpr std::string_view arrows[] = {"\xE2\x86\x92", "\xE2\x87\x92", "=>", "->"};

// Labels of lines that hold no translation: cross references, notes,
// examples and forms, in the languages dictionaries are laid out in
// (compared in lower case, without a final '.').
constexpr std::string_view reference_labels[] = {
    "see", "see also", "cf", "compare", "syn", "synonym", "synonyms", "ant", "antonym",
    "antonyms", "note", "notes", "usage", "usage note", "example", "examples", "e.g", "etymology",
    "origin", "related", "related terms", "derived terms", "hypernym", "hypernyms", "hyponym",
    "hyponyms", "plural", "pl", "abbr", "abbreviation", "also", "variant", "variants", "siehe",
    "siehe auch", "vgl", "gegenteil", "anmerkung", "hinweis", "beispiel", "beispiele",
    "voir", "voir aussi", "synonyme", "synonymes", "antonyme", "antonymes", "exemple",
    "exemples", "remarque", "ver", "véase", "sinónimos", "ejemplo", "ejemplos"};

bool is_reference_label(std::string_view label) {
    if (!label.empty() && label.back() == '.') label.remove_suffix(1);
    if (label.size() > 24) return false;
    char lower[24];
    for (std::size_t i = 0; i < label.size(); ++i) {
        const char c = label[i];
        lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view folded(lower, label.size());
    for (const std::string_view known : reference_labels)
        if (known == folded) return true;
    return false;
}

// The length of a label that starts the line ("See also: ", "Note: "): one
// to three words of letters, dots and hyphens, then ':' and a space or the
// end; 0 when there is none.
std::size_t label_length(std::string_view line) {
    if (line.empty() || !(is_ascii_letter(line[0]) || static_cast<unsigned char>(line[0]) >= 0x80))
        return 0;
    std::size_t spaces = 0;
    for (std::size_t i = 1; i < line.size() && i <= 32; ++i) {
        const char c = line[i];
        if (c == ':') {
            if (line[i - 1] == ' ') return 0;
            if (i + 1 == line.size()) return i + 1;
            return is_space(line[i + 1]) ? i + 2 : 0;
        }
        if (c == ' ' && ++spaces > 2) return 0;
        if (!(c == ' ' || c == '.' || c == '-' || is_ascii_letter(c) ||
              static_cast<unsigned char>(c) >= 0x80))
            return 0;
    }
    return 0;
}

// Steps over the sense numbers and bullets that start a line ("1. ", "2) ",
// "a) ", "IV. ", "1. a) ", "• "); sense: the first number, else 0.
std::string_view after_sense_numbers(std::string_view line, unsigned& sense) {
    sense = 0;
    for (;;) {
        bool bullet = false;
        for (const std::string_view b : bullets) {
            if (!may_start_with_mark(line)) break;
            if (starts_with(line, b)) {
                line = trim(line.substr(b.size()));
                bullet = true;
            }
        }
        if (bullet) continue;
        std::size_t i = 0;
        unsigned number = 0;
        while (i < line.size() && i < 3 && is_digit(line[i])) number = number * 10 + (line[i++] - '0');
        char mark = '.';
        if (i == 0) {
            while (i < line.size() && i < 4 && (line[i] == 'I' || line[i] == 'V' || line[i] == 'X'))
                ++i;
            if (i == 0 && !line.empty() && is_lower(line[0])) {
                i = 1;
                mark = ')';
            }
        }
        if (i == 0 || i + 1 >= line.size() || !(line[i] == mark || (number > 0 && line[i] == ')')) ||
            !is_space(line[i + 1]))
            return line;
        if (number > 0 && sense == 0) sense = number;
        line = trim(line.substr(i + 1));
    }
}

// "...", "…": words left open.
bool is_ellipsis(std::string_view token) {
    if (token.size() >= 2 && token.find_first_not_of('.') == std::string_view::npos) return true;
    while (starts_with(token, ellipsis)) token.remove_prefix(ellipsis.size());
    return token.empty();
}

// A placeholder for an object at a term's end: an abbreviation in lower
// case without a vowel ("sth.", "sb.", "jdn.", "qc."), or "etw." or
// "etc."; or several apart by slashes ("sb./sth."). A word with a vowel
// ends a sentence rather ("Extremes meet.").
bool is_placeholder(std::string_view token) {
    for (;;) {
        const std::size_t slash = token.find('/');
        const std::string_view part = token.substr(0, slash);
        if (part.size() < 2 || part.size() > 6 || part.back() != '.') return false;
        if (part != "etw." && part != "etc.") {
            for (std::size_t i = 0; i + 1 < part.size(); ++i)
                if (!is_lower(part[i]) || std::string_view("aeiouy").find(part[i]) !=
                                              std::string_view::npos)
                    return false;
        }
        if (slash == std::string_view::npos) return true;
        token.remove_prefix(slash + 1);
    }
}

// Words after which "to" starts no verb ("to the left", "to and fro").
bool to_starts_verb(std::string_view next) {
    static constexpr std::string_view not_verbs[] = {
        "the", "a", "an", "and", "or", "me", "you", "him", "her", "it", "us", "them",
        "this", "that", "these", "those", "my", "your", "his", "its", "our", "their"};
    if (next.empty() || !is_lower(next[0])) return false;
    for (const std::string_view w : not_verbs)
        if (w == next) return false;
    return true;
}

bool has_letter_or_digit(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (is_ascii_letter(c) || is_digit(c)) return true;
        if (static_cast<unsigned char>(c) < 0xC0) continue;
        // Beyond ASCII: a character other than the punctuation of U+2000
        // to U+206F (dashes, quotes, the ellipsis) and Latin-1's.
        const std::string_view rest = text.substr(i);
        if (!(starts_with(rest, "\xE2\x80") || starts_with(rest, "\xE2\x81") ||
              (starts_with(rest, "\xC2") && rest.size() > 1 &&
               static_cast<unsigned char>(rest[1]) < 0xC0)))
            return true;
    }
    return false;
}

}  // namespace

std::size_t reverser::reverse(std::string_view word, std::string_view translation,
                              const raw_entry& raw) {
    terms_.clear();
    text_.clear();
    label_at_ = label_size_ = 0;
    word_ = word;
    grammar_ = raw.grammar.size() <= max_label_size ? trim(raw.grammar) : std::string_view();
    budget_ = growth_per_entry * (word.size() + translation.size() + raw.terms.size()) +
              entry_allowance;
    from_reader_ = raw.has_terms;
    ++counts_.entries;
    if (from_reader_)
        from_reader(raw.terms);
    else
        from_text(translation);
    if (terms_.empty()) ++counts_.without_terms;
    counts_.terms += terms_.size();
    if (from_reader_) counts_.from_readers += terms_.size();
    rank_ = static_cast<unsigned>(std::min<std::size_t>(terms_.size(), max_rank));
    return terms_.size();
}

std::string_view reverser::term(std::size_t i) const {
    return std::string_view(text_).substr(terms_[i].at, terms_[i].size);
}

std::string_view reverser::entry_label() const {
    if (!grammar_.empty()) return grammar_;
    return std::string_view(text_).substr(label_at_, label_size_);
}

void reverser::translation(std::size_t i, std::string& out) const {
    const found_term& t = terms_[i];
    const std::string_view label = t.label_size > 0
                                       ? std::string_view(text_).substr(t.label_at, t.label_size)
                                       : entry_label();
    out.assign(word_);
    if (label.empty()) return;
    out += " <";
    out.append(label);
    out += '>';
}

void reverser::from_reader(std::string_view terms) {
    while (!terms.empty()) {
        const std::size_t end = terms.find('\n');
        cut(terms.substr(0, end), 0);
        if (end == std::string_view::npos) break;
        terms.remove_prefix(end + 1);
    }
}

void reverser::from_text(std::string_view translation) {
    bool before_terms = true;
    while (!translation.empty()) {
        const std::size_t end = translation.find('\n');
        std::string_view line = trim(translation.substr(0, end));
        translation.remove_prefix(end == std::string_view::npos ? translation.size() : end + 1);
        if (line.empty()) continue;
        if (is_example(line)) {
            ++counts_.examples;
            continue;
        }
        bool arrow = false;
        for (const std::string_view a : arrows)
            arrow = arrow || (may_start_with_mark(line) && starts_with(line, a));
        if (arrow) {
            ++counts_.references;
            continue;
        }
        unsigned sense = 0;
        line = after_sense_numbers(line, sense);
        if (const std::size_t label = label_length(line); label > 0) {
            if (is_reference_label(line.substr(0, line.find(':')))) {
                ++counts_.references;
                continue;
            }
            // Another label ("noun:", "Hauptstadt:") names what follows.
            line.remove_prefix(label);
        }
        const std::size_t before = terms_.size();
        cut(line, sense);
        if (terms_.size() > before) {
            before_terms = false;
            continue;
        }
        // A line of pronunciation and grammar alone before the first term
        // (the headword's: "/ˈɛsən/ <v, trans>") labels the entry's word.
        if (!before_terms || label_size_ > 0) continue;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] != '<' || closes_.empty() || closes_[i] == none) continue;
            const std::string_view label = trim(line.substr(i + 1, closes_[i] - i - 1));
            if (label.empty() || label.size() > max_label_size) break;
            label_at_ = static_cast<uint32_t>(text_.size());
            label_size_ = static_cast<uint32_t>(label.size());
            text_.append(label);
            break;
        }
    }
}

void reverser::match_brackets(std::string_view line) {
    closes_.clear();
    std::size_t first = 0;
    while (first < line.size() && bracket_kind(line[first]) >= bracket_kinds) ++first;
    if (first == line.size()) return;
    closes_.assign(line.size(), none);
    for (auto& open : open_) open.clear();
    for (std::size_t i = first; i < line.size(); ++i) {
        const std::size_t kind = bracket_kind(line[i]);
        if (kind < bracket_kinds) {
            open_[kind].push_back(static_cast<uint32_t>(i));
        } else if (kind < 2 * bracket_kinds && !open_[kind - bracket_kinds].empty()) {
            closes_[open_[kind - bracket_kinds].back()] = static_cast<uint32_t>(i);
            open_[kind - bracket_kinds].pop_back();
        }
    }
}

void reverser::cut(std::string_view line, unsigned sense) {
    match_brackets(line);
    const std::size_t n = line.size();
    const auto closes = [&](std::size_t i) { return closes_.empty() ? none : closes_[i]; };
    std::size_t start = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = line[i];
        if (bracket_kind(c) < bracket_kinds && closes(i) != none) {
            i = closes(i);
            continue;
        }
        if (!bytes.separator[static_cast<unsigned char>(c)]) continue;
        std::size_t separator = 0;
        const std::string_view rest = line.substr(i);
        if (c == ';' || c == '|') {
            separator = 1;
        } else if (c == ',') {
            // Not a decimal comma ("0,5").
            if (i + 1 == n || is_space(line[i + 1])) separator = 1;
        } else if (c == ' ') {
            if (rest.size() >= 3 && rest[1] == '/' && rest[2] == ' ') separator = 3;  // " / "
        } else if (static_cast<unsigned char>(c) >= 0x80) {
            if (starts_with(rest, "\xEF\xBC\x9B") || starts_with(rest, "\xEF\xBC\x8C") ||
                starts_with(rest, "\xE3\x80\x81"))
                separator = 3;  // fullwidth ; and , and the ideographic comma
        } else if (is_digit(c) && (i == 0 || is_space(line[i - 1]))) {
            // The next sense's number ("1. bank 2. bench"; "eat; 1. a 2. b"):
            // within an item once a sense has been numbered, or starting one.
            const bool item_start = trim(line.substr(start, i - start)).empty();
            std::size_t j = i;
            unsigned number = 0;
            while (j < n && j < i + 3 && is_digit(line[j])) number = number * 10 + (line[j++] - '0');
            if ((sense > 0 || item_start) && number == sense + 1 && j + 1 < n &&
                (line[j] == '.' || line[j] == ')') && is_space(line[j + 1])) {
                separator = j + 1 - i;
                ++sense;
            }
        }
        if (separator == 0) continue;
        take_item(line, start, i);
        i += separator - 1;
        start = i + 1;
    }
    take_item(line, start, n);
}

bool reverser::take_item(std::string_view line, std::size_t begin, std::size_t end) {
    // The item's text without annotations and pronunciations, its white
    // space made single spaces.
    item_.clear();
    std::string_view label;
    bool space = false;
    const auto closes = [&](std::size_t i) { return closes_.empty() ? none : closes_[i]; };
    for (std::size_t i = begin; i < end; ++i) {
        const char c = line[i];
        if (!bytes.special[static_cast<unsigned char>(c)]) {
            std::size_t run = i + 1;
            while (run < end && !bytes.special[static_cast<unsigned char>(line[run])]) ++run;
            if (space && !item_.empty()) item_ += ' ';
            space = false;
            item_.append(line.substr(i, run - i));
            i = run - 1;
            continue;
        }
        const std::size_t kind = bracket_kind(c);
        if (kind < bracket_kinds) {
            const uint32_t close = closes(i);
            if (close == none || close >= end) break;  // the annotation runs to the end
            if (c == '<' && label.empty()) label = trim(line.substr(i + 1, close - i - 1));
            i = close;
            space = true;
            continue;
        }
        if (kind < 2 * bracket_kinds) {  // one that closes nothing
            space = true;
            continue;
        }
        if (c == '/' && (i == begin || is_space(line[i - 1]))) {
            // A pronunciation between slashes: "/ˈɛsən/".
            const std::size_t close = line.substr(0, end).find('/', i + 1);
            if (close != std::string_view::npos && close > i + 1 &&
                (close + 1 == end || is_space(line[close + 1]))) {
                i = close;
                space = true;
                continue;
            }
        }
        if (is_space(c) || c == '\n' || (c == '\xC2' && i + 1 < end && line[i + 1] == '\xA0')) {
            if (c == '\xC2') ++i;  // a no-break space
            space = true;
            continue;
        }
        if (c == '\0' || c == '\x1A') continue;
        if (space && !item_.empty()) item_ += ' ';
        space = false;
        if (c == '$')
            item_.append(fullwidth_dollar);
        else
            item_ += c;
    }
    if (item_.empty()) return false;
    if (label.size() > max_label_size) label = {};

    const std::string_view text = item_;
    // Its words, without a full stop or colon standing alone ("Act your
    // age .") or an ellipsis at either end ("as well as ...", "… in
    // physics"); one within ("from ... to") stands for what is left open.
    tokens_.clear();
    for (std::size_t at = 0; at < text.size();) {
        std::size_t space_at = text.find(' ', at);
        if (space_at == std::string_view::npos) space_at = text.size();
        const std::string_view word = text.substr(at, space_at - at);
        if (word != "." && word != ":")
            tokens_.push_back({static_cast<std::size_t>(word.data() - item_.data()), word.size()});
        at = space_at + 1;
    }
    const auto token_text = [&](std::size_t i) {
        return std::string_view(item_).substr(tokens_[i].at, tokens_[i].size);
    };
    std::size_t first = 0, last = tokens_.size();  // the words kept: [first, last)
    while (first < last && is_ellipsis(token_text(first))) ++first;
    while (last > first && is_ellipsis(token_text(last - 1))) --last;
    if (first == last) return false;
    for (std::string_view tail = token_text(last - 1);
         ends_with(tail, "...") || ends_with(tail, ellipsis);) {
        tail.remove_suffix(ends_with(tail, ellipsis) ? ellipsis.size() : 3);
        if (tail.empty()) break;
        tokens_[last - 1].size = tail.size();
    }
    // Quotes around the whole term go ("„Faust“", "'Under Milk Wood' ...").
    if (const std::size_t open = quote_at_start(token_text(first)); open > 0) {
        const std::size_t close = quote_at_end(token_text(last - 1));
        const std::size_t inside = first + 1 == last ? open + close : 0;
        if (close > 0 && token_text(first).size() > inside) {
            tokens_[first].at += open;
            tokens_[first].size -= open;
            tokens_[last - 1].size -= close;
            while (first < last && tokens_[first].size == 0) ++first;
            while (last > first && tokens_[last - 1].size == 0) --last;
            if (first == last) return false;
        }
    }
    // No ':' at the end ("Use by:").
    if (const std::string_view tail = token_text(last - 1); tail.size() > 1 && tail.back() == ':')
        --tokens_[last - 1].size;
    // Objects left open at the end: "double sth." is looked up as "double".
    while (last - first > 1 && is_placeholder(token_text(last - 1))) --last;
    // English verbs written "to eat" are looked up as "eat", unless a label
    // says the term is no verb.
    const std::string_view nearest = label.empty() ? entry_label() : label;
    if (last - first > 1 && token_text(first) == "to" && to_starts_verb(token_text(first + 1)) &&
        (nearest.empty() || nearest[0] == 'v' || nearest[0] == 'V'))
        ++first;
    if (first == last) return false;
    // Nor the full stop of a sentence ("Extremes meet.").
    const std::string_view end_text = token_text(last - 1);
    if (last - first > 1 && end_text.size() > 1 && end_text.back() == '.' &&
        end_text.find('.') == end_text.size() - 1)
        --tokens_[last - 1].size;
    if (last - first > max_term_words) {
        ++counts_.long_terms;
        return false;
    }
    const std::string_view all = std::string_view(item_).substr(
        tokens_[first].at, tokens_[last - 1].at + tokens_[last - 1].size - tokens_[first].at);
    if (!has_letter_or_digit(all)) {
        ++counts_.no_letters;
        return false;
    }
    const std::size_t before = terms_.size();
    expand_and_add(first, last, label);
    return terms_.size() > before;
}

// Adds the term of the words [first, last) of item_, or, where words hold
// alternatives apart by slashes ("permit/pass/sticker", "by/from"), each
// term they give.
void reverser::expand_and_add(std::size_t first, std::size_t last, std::string_view label) {
    const auto token_text = [&](std::size_t i) {
        return std::string_view(item_).substr(tokens_[i].at, tokens_[i].size);
    };
    // Whether a word is alternatives: two or more parts of two bytes or more
    // with a letter each ("km/h" and "1/2" are words of their own).
    const auto parts_of = [](std::string_view word) -> std::size_t {
        if (word.find('/') == std::string_view::npos) return 1;
        std::size_t parts = 0;
        for (;;) {
            const std::size_t slash = word.find('/');
            const std::string_view part = word.substr(0, slash);
            bool letter = false;
            for (const char c : part)
                letter = letter || is_ascii_letter(c) || static_cast<unsigned char>(c) >= 0x80;
            if (part.size() < 2 || !letter) return 1;
            ++parts;
            if (slash == std::string_view::npos) return parts;
            word.remove_prefix(slash + 1);
        }
    };
    std::size_t alternatives = 1;
    for (std::size_t i = first; i < last && alternatives <= max_alternatives; ++i)
        alternatives *= parts_of(token_text(i));
    if (alternatives == 1 || alternatives > max_alternatives) {
        add(std::string_view(item_).substr(tokens_[first].at, tokens_[last - 1].at +
                                                                  tokens_[last - 1].size -
                                                                  tokens_[first].at),
            label);
        return;
    }
    // Each alternative: the n-th of the combinations, counted in the parts
    // of each word from the last word back.
    for (std::size_t n = 0; n < alternatives; ++n) {
        alternative_.clear();
        std::size_t rest = n;
        std::size_t step = alternatives;
        for (std::size_t i = first; i < last; ++i) {
            std::string_view word = token_text(i);
            const std::size_t parts = parts_of(word);
            step /= parts;
            std::size_t pick = rest / step;
            rest %= step;
            while (parts > 1 && pick-- > 0) word.remove_prefix(word.find('/') + 1);
            if (parts > 1) word = word.substr(0, word.find('/'));
            if (!alternative_.empty()) alternative_ += ' ';
            alternative_.append(word);
        }
        // An object left open may end an alternative ("sb." of "to sb./sth.").
        std::string_view term = alternative_;
        const std::size_t space_at = term.rfind(' ');
        if (space_at != std::string_view::npos && is_placeholder(term.substr(space_at + 1)))
            term = term.substr(0, space_at);
        add(term, label);
    }
}

bool reverser::repeated(std::string_view term) {
    const std::size_t count = terms_.size();
    if (count < few_terms) {
        for (std::size_t i = 0; i < count; ++i)
            if (this->term(i) == term) return true;
        return false;
    }
    // Many terms: an open-addressed table of their indexes + 1, rebuilt
    // twice as large whenever it is half full.
    const std::hash<std::string_view> hash;
    if (seen_.size() < 2 * count + 2 || count == few_terms) {
        std::size_t size = 64;
        while (size < 4 * count) size *= 2;
        seen_.assign(size, 0);
        for (std::size_t i = 0; i < count; ++i) {
            std::size_t slot = hash(this->term(i)) & (seen_.size() - 1);
            while (seen_[slot] != 0) slot = (slot + 1) & (seen_.size() - 1);
            seen_[slot] = static_cast<uint32_t>(i + 1);
        }
    }
    std::size_t slot = hash(term) & (seen_.size() - 1);
    while (seen_[slot] != 0) {
        if (this->term(seen_[slot] - 1) == term) return true;
        slot = (slot + 1) & (seen_.size() - 1);
    }
    return false;
}

void reverser::add(std::string_view term, std::string_view label) {
    if (repeated(term)) {
        ++counts_.repeats;
        return;
    }
    const std::size_t cost = term.size() + word_.size() + label.size() + 4;
    if (cost > budget_) {
        ++counts_.beyond_bound;
        return;
    }
    budget_ -= cost;
    found_term t{static_cast<uint32_t>(text_.size()), static_cast<uint32_t>(term.size()), 0, 0};
    text_.append(term);
    if (!label.empty()) {
        t.label_at = static_cast<uint32_t>(text_.size());
        t.label_size = static_cast<uint32_t>(label.size());
        text_.append(label);
    }
    terms_.push_back(t);
    // Entered into the table of many terms, when there is one.
    if (terms_.size() > few_terms) {
        const std::hash<std::string_view> hash;
        std::size_t slot = hash(term) & (seen_.size() - 1);
        while (seen_[slot] != 0) slot = (slot + 1) & (seen_.size() - 1);
        seen_[slot] = static_cast<uint32_t>(terms_.size());
    }
}

}  // namespace lexaro::import
