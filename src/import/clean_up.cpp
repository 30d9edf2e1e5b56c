#include "import/clean_up.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "common/layout.h"
#include "import/byte_scan.h"
#include "import/markup_text.h"
#include "import/unwrap.h"

namespace lexaro::import {

namespace {

constexpr std::string_view fullwidth_dollar = "\xEF\xBC\x84";  // U+FF04

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }
bool is_html_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The bytes that end a run of ordinary text in a translation or a word.
struct byte_class_table {
    bool special_in_plain[256] = {};
    bool special_in_markup[256] = {};
    bool special_in_word[256] = {};
    byte_class_table() {
        for (unsigned char c : {'\0', '\x1A', '\r', '\n', ' ', '\t', '\v', '\f'})
            special_in_plain[c] = special_in_markup[c] = special_in_word[c] = true;
        special_in_word[static_cast<unsigned char>('$')] = true;
        special_in_markup[static_cast<unsigned char>('<')] = true;
        special_in_markup[static_cast<unsigned char>('&')] = true;
    }
};
const byte_class_table byte_classes;

// The high bit of each of the eight bytes from p that may end a run of
// ordinary text in a translation: a byte of 0x80 and above, a control byte,
// in markup '<' or '&', and a space that another space, a control byte (or
// '<' or '&') follows; p[8] is read as the byte after the last. A single
// space between words goes on with the run. Some ordinary bytes after the
// first that may end it can be marked too.
uint64_t run_stops(const char* p, bool markup) {
    const uint64_t bytes = load_8(p);
    const uint64_t next = load_8(p + 1);  // the byte after each
    uint64_t stops = bytes_below(bytes, 0x20) | (bytes & high_bits);
    uint64_t breaks = bytes_below(next, 0x21);
    if (markup) {
        stops |= bytes_equal(bytes, '<') | bytes_equal(bytes, '&');
        breaks |= bytes_equal(next, '<') | bytes_equal(next, '&');
    }
    return stops | (bytes_equal(bytes, ' ') & breaks);
}

// From i on, the first byte of a translation that may end a run of ordinary
// text (see run_stops), or an ordinary byte before it; text.size() at the end.
std::size_t skip_ordinary(std::string_view text, std::size_t i, bool markup) {
    for (; i + 9 <= text.size(); i += 8) {
        const uint64_t stops = run_stops(text.data() + i, markup);
        if (stops != 0) return i + first_marked(stops);
    }
    // The last bytes (eight at most), then zero bytes, which stop a run as
    // its end does.
    char last[16] = {};
    std::memcpy(last, text.data() + i, text.size() - i);
    const uint64_t stops = run_stops(last, markup);
    return stops != 0 ? std::min(text.size(), i + first_marked(stops)) : text.size();
}

// Builds a translation from text, white space and breaks: white space and
// breaks are held back until more text follows, so that nothing stands
// first or last, a run of breaks gives one separator and the white space
// around a break goes with it.
class text_builder {
public:
    text_builder(std::string& out, std::string_view separator, bool collapse_spaces)
        : out_(out), separator_(separator), collapse_spaces_(collapse_spaces) {
        // The separator's printing part ("; " -> ";"): after text that already
        // ends with it, only the rest of the separator is added. Where that
        // part is a comma or a semicolon, text ending in either is already
        // cut there: a verse line or a list that breaks after a comma reads
        // "nature, Are led" or "as, (a) A bubble", not "nature,; Are led".
        // A colon announces what follows, and the break after it stays.
        const std::size_t first = separator.find_first_not_of(" \t");
        const std::size_t last = separator.find_last_not_of(" \t");
        if (first != std::string_view::npos) {
            core_ = separator.substr(first, last - first + 1);
            after_core_ = separator.substr(last + 1);
        }
    }

    void text(std::string_view bytes) {
        if (bytes.empty()) return;
        flush();
        out_.append(bytes);
    }

    void space(char c) {
        if (collapse_spaces_)
            spaces_.assign(1, ' ');
        else
            spaces_ += c;
    }

    void separator() { pending_separator_ = true; }

    // Drops what is held back at the end; true when white space was cut
    // from either end.
    bool finish() {
        if (!spaces_.empty()) trimmed_ = true;
        return trimmed_;
    }

private:
    static bool is_cutting_mark(char c) { return c == ',' || c == ';'; }

    void flush() {
        if (pending_separator_) {
            pending_separator_ = false;
            spaces_.clear();
            if (out_.empty()) return;
            const bool ends_with_core =
                !core_.empty() && out_.size() >= core_.size() &&
                (std::string_view(out_).substr(out_.size() - core_.size()) == core_ ||
                 (core_.size() == 1 && is_cutting_mark(core_[0]) && is_cutting_mark(out_.back())));
            out_.append(ends_with_core ? after_core_ : separator_);
        } else if (!spaces_.empty()) {
            if (out_.empty())
                trimmed_ = true;
            else
                out_.append(spaces_);
            spaces_.clear();
        }
    }

    std::string& out_;
    std::string_view separator_;
    std::string_view core_;
    std::string_view after_core_;
    bool collapse_spaces_;
    std::string spaces_;
    bool pending_separator_ = false;
    bool trimmed_ = false;
};

// Where the element that an opening tag at `from` starts ends: just past its
// closing tag </name>, case ignored; `from` itself when there is none. A
// text that has no closing tag after some place has none after any later
// place either: `unclosed` remembers, for each name, the first place from
// which the search failed, so that a text of many unclosed <script> tags is
// searched once, not once for each.
class closing_tags {
public:
    std::size_t past(std::string_view text, std::size_t from, std::string_view name) {
        for (const auto& [unclosed_name, unclosed_from] : unclosed_)
            if (unclosed_name == name && unclosed_from <= from) return from;
        for (std::size_t i = text.find("</", from); i != std::string_view::npos;
             i = text.find("</", i + 2)) {
            std::size_t j = 0;
            while (j < name.size() && i + 2 + j < text.size() && lower(text[i + 2 + j]) == name[j])
                ++j;
            // "</scripts>" does not close a <script>; "</script >" does.
            const std::size_t after = i + 2 + j;
            if (j < name.size() || (after < text.size() && text[after] != '>' &&
                                    text[after] != '/' && !is_html_space(text[after])))
                continue;
            const std::size_t close = text.find('>', after);
            if (close == std::string_view::npos) break;
            return close + 1;
        }
        unclosed_.emplace_back(name, from);
        return from;
    }

private:
    std::vector<std::pair<std::string_view, std::size_t>> unclosed_;
};

// The length of the UTF-8 character at text[i], or 0 when it is not valid:
// a lead byte, as many continuation bytes as it says, and no overlong form,
// surrogate or value past U+10FFFF (the second byte's range after E0, ED, F0
// and F4 rules those out).
inline std::size_t utf8_length(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // below U+0800
        if (lead == 0xED) high = 0x9F;  // U+D800 to U+DFFF
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // below U+10000
        if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
    } else {
        return 0;
    }
    if (text.size() - i < length || byte(1) < low || byte(1) > high) return 0;
    for (std::size_t k = 2; k < length; ++k)
        if ((byte(k) & 0xC0) != 0x80) return 0;
    return length;
}

}  // namespace

cleaner::cleaner(std::string separator)
    : separator_(std::move(separator)), separator_is_utf8_(valid_utf8(separator_)) {}

void cleaner::count_oversize(std::string_view word) {
    ++counts_.oversize;
    if (counts_.oversize_words.size() < max_oversize_words_kept)
        counts_.oversize_words.push_back(escape_invalid_utf8(cut_at_character(word, 80)));
}

void cleaner::clean_word(std::string_view raw, std::string& word) {
    word.clear();
    bool trimmed = false;
    // A run of white space inside the word is one space: `spaces` counts
    // the white space since the word's last byte, `inner_run` says whether
    // two or more stood together where the word went on after them.
    std::size_t spaces = 0;
    bool inner_run = false;
    std::size_t run = 0;  // start of the bytes not yet appended
    const auto append_run = [&](std::size_t end) {
        if (end == run) return;
        if (spaces > 1) inner_run = true;
        spaces = 0;
        word.append(raw.substr(run, end - run));
    };
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (!byte_classes.special_in_word[static_cast<unsigned char>(c)]) continue;
        append_run(i);
        run = i + 1;
        if (c == '\0' || c == '\x1A') {
            ++counts_.control_bytes;
        } else if (c == '$') {
            ++counts_.dollar_signs;
            if (spaces > 1) inner_run = true;
            spaces = 0;
            word.append(fullwidth_dollar);
        } else if (word.empty()) {  // a line break or blank
            trimmed = true;
        } else if (spaces++ == 0) {
            word += ' ';
        }
    }
    append_run(raw.size());
    if (spaces > 0) {
        trimmed = true;
        word.pop_back();
    }
    if (trimmed && !word.empty()) ++counts_.trimmed;
    if (inner_run) ++counts_.word_spaces;
}

bool cleaner::clean_text(std::string_view raw, markup kind, std::string& text) {
    text.clear();
    const bool marked_up = kind != markup::plain;
    text_builder out(text, separator_, marked_up);
    std::size_t run = 0;  // start of the ordinary bytes not yet handed on
    std::size_t i = 0;
    const auto hand_on_run = [&] { out.text(raw.substr(run, i - run)); };
    std::string decoded;
    closing_tags closing;
    bool tags_end = false;  // a tag ran into the end: what follows is text
    const bool* special =
        marked_up ? byte_classes.special_in_markup : byte_classes.special_in_plain;
    // Every character of the runs handed on is checked as it is passed
    // over; whether the translation is valid UTF-8 then needs no pass of its
    // own unless a run held a byte that is not (dropping a byte between
    // the two halves of a character may still give a valid one).
    bool runs_valid = true;
    while (i < raw.size()) {
        // A space that starts a run is not ordinary.
        if (i > run || raw[i] != ' ') i = skip_ordinary(raw, i, marked_up);
        if (i == raw.size()) break;
        const char c = raw[i];
        if (static_cast<unsigned char>(c) >= 0x80) {
            // Characters beyond ASCII, as many as follow each other (a word
            // in most scripts).
            do {
                const std::size_t length = utf8_length(raw, i);
                runs_valid = runs_valid && length > 0;
                i += length > 0 ? length : 1;
            } while (i < raw.size() && static_cast<unsigned char>(raw[i]) >= 0x80);
            continue;
        }
        if (!special[static_cast<unsigned char>(c)]) {
            ++i;
            continue;
        }
        // A single space between two ordinary bytes is ordinary too.
        if (c == ' ' && i > run && i + 1 < raw.size() &&
            !special[static_cast<unsigned char>(raw[i + 1])]) {
            ++i;
            continue;
        }
        hand_on_run();
        std::size_t taken = 1;
        if (c == '\0' || c == '\x1A') {
            ++counts_.control_bytes;
        } else if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') taken = 2;
            ++counts_.line_breaks;
            out.separator();
        } else if (is_blank(c)) {
            out.space(c);
        } else if (c == '&') {
            decoded.clear();
            taken = kind == markup::html ? decode_html_reference(raw, i, decoded)
                                         : decode_entity(raw, i, decoded);
            if (taken == 0) {
                taken = 1;
                out.text("&");
            } else {
                ++counts_.entities;
                if (decoded == "\xC2\xA0")  // no-break space
                    out.space(' ');
                else
                    out.text(decoded);
            }
        } else if (const std::size_t comment = comment_length(raw, i); comment > 0) {
            ++counts_.tags;
            taken = comment;
        } else if (const auto t = tags_end ? std::nullopt : parse_tag(raw, i, kind, &tags_end)) {
            ++counts_.tags;
            taken = t->length;
            switch (t->effect) {
                case tag_effect::separator:
                    out.separator();
                    break;
                case tag_effect::space:
                    out.space(' ');
                    break;
                case tag_effect::brackets:
                    if (!t->self_closing) out.text(t->closing ? "]" : "[");
                    break;
                case tag_effect::hide:
                    if (!t->closing && !t->self_closing)
                        taken = closing.past(raw, i + t->length, t->name) - i;
                    break;
                case tag_effect::none:
                    break;
            }
        } else {
            out.text("<");
        }
        i += taken;
        run = i;
    }
    hand_on_run();
    if (out.finish()) ++counts_.trimmed;
    // Entities decode to valid UTF-8, and what else is put in is ASCII.
    return (runs_valid && separator_is_utf8_) || valid_utf8(text);
}

bool cleaner::clean(const raw_entry& raw, std::string& word, std::string& translation) {
    clean_word(raw.word, word);
    if (word.empty()) {
        ++counts_.empty_words;
        return false;
    }
    bool translation_valid;
    if (raw.wrap_width > 0 && raw.kind == markup::plain) {
        unwrapped_.clear();
        counts_.joined_lines +=
            unwrap(raw.definition, raw.wrap_width, unwrapped_, raw.wrap_first_line_taken);
        ++counts_.wrapped_texts;
        translation_valid = clean_text(unwrapped_, raw.kind, translation);
    } else {
        translation_valid = clean_text(raw.definition, raw.kind, translation);
    }
    if (word.size() + 1 + translation.size() + 1 > block_buffer_size) {
        count_oversize(word);
        return false;
    }
    if (!translation_valid || !valid_utf8(word)) {
        if (counts_.invalid_utf8++ == 0) counts_.first_invalid_utf8 = escape_invalid_utf8(word);
    }
    return true;
}

std::string clean_title(std::string_view title) {
    std::string out;
    bool space = false;
    for (char c : title) {
        if (c == '\0' || c == '\x1A') continue;
        if (static_cast<unsigned char>(c) < 0x20 || c == ' ' || c == '\x7F') {
            space = !out.empty();
            continue;
        }
        if (space) out += ' ';
        space = false;
        out += c;
    }
    return out;
}

std::string_view cut_at_character(std::string_view text, std::size_t max_size) {
    if (text.size() <= max_size) return text;
    std::size_t end = max_size;
    // Step back over continuation bytes to the start of the character that
    // the cut falls in, unless the cut is right after a whole character.
    std::size_t start = end;
    while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    if (start < end) end = start;
    return text.substr(0, end);
}

bool valid_utf8(std::string_view text) {
    for (std::size_t i = skip_ascii(text, 0); i < text.size(); i = skip_ascii(text, i)) {
        const std::size_t length = utf8_length(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string escape_invalid_utf8(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8_length(text, i);
        if (length > 0) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(text[i]));
            out += hex;
            ++i;
        }
    }
    return out;
}

}  // namespace lexaro::import
