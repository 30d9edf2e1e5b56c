// DSL, the text dictionaries of ABBYY Lingvo: "#NAME" and other header lines,
// then cards. A card is one or more headword lines at the left margin and the
// indented lines of its text:
//
//   #NAME "English-Russian"
//   colo(u)r
//   {the }colour
//   	[m1][trn]цвет[/trn][/m]
//   	[m1][ex]a ~ TV[/ex][/m]
//   	@ colour bar
//   	[m1]цветная полоса[/m]
//
// Headwords: "{...}" is shown but not searched (left out), "(...)" is
// optional (the word with and without it), '\' escapes the next character.
// "@ word" in a card's text starts a sub-entry with a headword of its own, up
// to the next "@" line. The text keeps what its tags hold, drops "[s]" media
// and "{{...}}" comments, and puts the headword for '~'.
#include <algorithm>
#include <string>
#include <vector>

#include "import/formats/line_reader.h"
#include "import/formats/readers.h"

namespace lexaro::import {

namespace {

// At most this many optional parts of a headword make variants (2^5 words).
constexpr int max_optional_parts = 5;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    return text;
}

// Tags whose text is kept (the tag itself goes).
bool is_text_tag(std::string_view name) {
    static constexpr std::string_view names[] = {
        "m", "trn", "trn1", "!trn", "!trs", "trs", "b", "i", "u", "c", "p", "ex", "com", "lang",
        "ref", "*", "'", "sup", "sub", "t", "url", "preview"};
    if (name.size() == 2 && name[0] == 'm' && name[1] >= '0' && name[1] <= '9') return true;
    for (const std::string_view n : names)
        if (name == n) return true;
    return false;
}

class dsl_parser {
public:
    dsl_parser(const std::string& path, entry_sink& sink) : path_(path), sink_(sink) {}

    std::string read(line_reader& lines) {
        bool in_header = true;
        for (std::string_view line; lines.next(line);) {
            line_ = lines.line_number();
            if (lines.skipped()) continue;  // counted; the card goes on without it
            if (in_header && line_ == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
            if (in_header && !line.empty() && line.front() == '#') {
                header(line);
                continue;
            }
            in_header = false;
            if (trim(line).empty()) {
                end_card();
                continue;
            }
            if (is_blank(line.front())) {
                body_line(trim(line));
            } else {
                if (has_text_) end_card();
                if (headwords_.empty()) card_line_ = line_;
                headword(line, headwords_);
            }
        }
        end_card();
        return title_;
    }

private:
    void header(std::string_view line) {
        if (line.substr(0, 5) != "#NAME") return;
        std::string_view name = trim(line.substr(5));
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
            name = name.substr(1, name.size() - 2);
        title_ = name;
    }

    [[noreturn]] void fail(const std::string& what) const {
        throw import_error(path_ + ": line " + std::to_string(line_) + ": " + what);
    }

    // Adds the words a headword line stands for: braces left out, each
    // optional part with and without.
    void headword(std::string_view line, std::vector<std::string>& words) {
        // The text with the optional parts marked by \1 ... \2.
        std::string marked;
        int braces = 0, parens = 0, optional = 0;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '\1' || c == '\2') continue;  // control bytes, and the marks here
            if (c == '\\') {
                if (++i == line.size()) fail("the '\\' at the end of the headword escapes nothing");
                if (braces == 0 && line[i] != '\1' && line[i] != '\2') marked += line[i];
            } else if (c == '{') {
                ++braces;
            } else if (c == '}' && braces > 0) {
                --braces;
            } else if (braces > 0) {
                continue;
            } else if (c == '(') {
                if (parens++ == 0 && optional++ < max_optional_parts) marked += '\1';
                else if (parens == 1) sink_.damaged("headwords with too many optional parts", path_, line_);
            } else if (c == ')' && parens > 0) {
                if (--parens == 0 && optional <= max_optional_parts) marked += '\2';
            } else {
                marked += c;
            }
        }
        if (braces > 0 || parens > 0) {
            sink_.damaged("unclosed brackets in headwords", path_, line_);
            if (parens > 0 && optional <= max_optional_parts) marked += '\2';
        }
        const int parts = std::min(optional, max_optional_parts);
        for (int mask = (1 << parts) - 1; mask >= 0; --mask) {
            std::string word;
            int part = 0;
            bool keep = true;
            for (const char c : marked) {
                if (c == '\1') {
                    keep = (mask >> (parts - 1 - part++)) & 1;
                } else if (c == '\2') {
                    keep = true;
                } else if (keep && !(is_blank(c) && (word.empty() || word.back() == ' '))) {
                    word += is_blank(c) ? ' ' : c;
                }
            }
            while (!word.empty() && word.back() == ' ') word.pop_back();
            if (!word.empty() && std::find(words.begin(), words.end(), word) == words.end())
                words.push_back(std::move(word));
        }
    }

    void body_line(std::string_view line) {
        if (headwords_.empty()) fail("a card's text with no headword before it");
        has_text_ = true;
        if (!line.empty() && line.front() == '@') {
            end_sub_entry();
            const std::string_view sub = trim(line.substr(1));
            if (!sub.empty()) {
                headword(sub, sub_words_);
                in_sub_entry_ = !sub_words_.empty();
            }
            return;
        }
        std::string& text = in_sub_entry_ ? sub_text_ : text_;
        const std::string& shown = in_sub_entry_ ? sub_words_.front() : headwords_.front();
        if (!text.empty()) text += '\n';
        append_text(line, shown, text);
    }

    // The text of a line without its markup.
    void append_text(std::string_view line, const std::string& headword, std::string& out) {
        // A '[' after the last ']' is never closed: known without a search,
        // so that a line of unclosed brackets takes one pass.
        const std::size_t last_close = line.rfind(']');
        for (std::size_t i = 0; i < line.size(); ++i) {
            const char c = line[i];
            if (c == '\\' && i + 1 < line.size()) {
                out += line[++i];
            } else if (c == '~') {
                out += headword;
            } else if (c == '{' && i + 1 < line.size() && line[i + 1] == '{') {
                const std::size_t end = line.find("}}", i + 2);
                if (end == std::string_view::npos) {
                    sink_.damaged("unclosed comments", path_, line_);
                    return;
                }
                i = end + 1;
            } else if ((c == '<' || c == '>') && i + 1 < line.size() && line[i + 1] == c) {
                ++i;  // a reference <<...>> keeps its text
            } else if (c == '[') {
                const std::size_t end = last_close != std::string_view::npos && last_close > i
                                            ? line.find(']', i)
                                            : std::string_view::npos;
                if (end == std::string_view::npos) {
                    sink_.damaged("unclosed tags", path_, line_);
                    out += c;
                    continue;
                }
                i = tag(line, i, end);
            } else {
                out += c;
            }
        }
    }

    // Handles the tag in line[open..close]; gives where reading goes on.
    std::size_t tag(std::string_view line, std::size_t open, std::size_t close) {
        std::string_view inside = line.substr(open + 1, close - open - 1);
        const bool closing = !inside.empty() && inside.front() == '/';
        if (closing) inside.remove_prefix(1);
        const std::string_view name = inside.substr(0, inside.find(' '));
        if (name == "s" && !closing) {
            // Media: a sound or picture file name, left out with its tags.
            const std::size_t end = line.find("[/s]", close);
            if (end != std::string_view::npos) return end + 3;
            sink_.damaged("unclosed tags", path_, line_);
            return line.size();
        }
        if (!is_text_tag(name)) {
            sink_.damaged("unknown tags", path_, line_);
            return close;
        }
        if (name[0] == 'm') return close;  // margins: the line itself breaks
        if (!closing) {
            ++open_tags_;
        } else if (open_tags_ > 0) {
            --open_tags_;
        }
        return close;
    }

    void end_sub_entry() {
        if (in_sub_entry_) {
            for (const std::string& word : sub_words_)
                sink_.add(raw_entry{word, sub_text_, markup::plain});
        }
        in_sub_entry_ = false;
        sub_words_.clear();
        sub_text_.clear();
    }

    void end_card() {
        end_sub_entry();
        if (!headwords_.empty()) {
            if (!has_text_) sink_.damaged("cards with no text", path_, card_line_);
            if (open_tags_ > 0) sink_.damaged("unclosed tags", path_, card_line_);
            for (const std::string& word : headwords_)
                sink_.add(raw_entry{word, text_, markup::plain});
        }
        headwords_.clear();
        text_.clear();
        has_text_ = false;
        open_tags_ = 0;
    }

    const std::string& path_;
    entry_sink& sink_;
    std::string title_;
    uint64_t line_ = 0, card_line_ = 0;
    std::vector<std::string> headwords_, sub_words_;
    std::string text_, sub_text_;
    bool has_text_ = false, in_sub_entry_ = false;
    int open_tags_ = 0;
};

}  // namespace

std::string read_dsl(reader_input& input, entry_sink& sink) {
    line_reader lines(*input.text, sink);
    return dsl_parser(input.path, sink).read(lines);
}

bool looks_like_dsl(std::string_view sample, bool) {
    if (sample.substr(0, 3) == "\xEF\xBB\xBF") sample.remove_prefix(3);
    for (const std::string_view start : {"#NAME", "#INDEX_LANGUAGE", "#CONTENTS_LANGUAGE"})
        if (sample.substr(0, start.size()) == start) return true;
    return false;
}

}  // namespace lexaro::import
