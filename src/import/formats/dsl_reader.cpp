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
// and "{{...}}" comments (which may span lines), and puts the headword for
// '~'; a line of escaped blanks ("\ ") is an empty line.
//
// '#INCLUDE "file"', in the header or between cards, reads the named file
// beside the dictionary there, as if its cards stood in its place: a file in
// the folder of the file that names it or below it, links resolved, and each
// file once.
#include <algorithm>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/platform.h"
#include "import/formats/included_files.h"
#include "import/formats/line_reader.h"
#include "import/formats/readers.h"
#include "import/text_input.h"

namespace lexaro::import {

namespace {

// At most this many optional parts of a headword make variants (2^5 words).
constexpr int max_optional_parts = 5;
// Included files within included files, at most this deep.
constexpr int max_include_depth = 16;

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

// Whether a trimmed body line holds nothing but escaped blanks ("\ "), the
// way DSL writes an empty line in a card.
bool only_escaped_blanks(std::string_view line) {
    if (line.empty()) return false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && (i + 1 == line.size() || is_blank(line[i + 1])))
            ++i;
        else if (!is_blank(line[i]))
            return false;
    }
    return true;
}

// Words in the order found, each once.
class word_list {
public:
    void add(std::string&& word) {
        if (seen_.insert(word).second) words_.push_back(std::move(word));
    }
    void clear() {
        words_.clear();
        seen_.clear();
    }
    bool empty() const { return words_.empty(); }
    const std::string& front() const { return words_.front(); }
    std::vector<std::string>::const_iterator begin() const { return words_.begin(); }
    std::vector<std::string>::const_iterator end() const { return words_.end(); }

private:
    std::vector<std::string> words_;
    std::unordered_set<std::string> seen_;
};

// An error that names the file and line where it arose: an include passes
// it on as it is, from however deep.
class placed_error : public import_error {
public:
    using import_error::import_error;
};

// The files a dictionary reads through #INCLUDE, and how it reads them.
struct include_context {
    explicit include_context(const std::string& dictionary) : files(dictionary) {}
    std::string charset;   // the dictionary's set ("" for UTF-8)
    included_files files;  // every file read so far, the dictionary first
    int depth = 0;
};

class dsl_parser {
public:
    dsl_parser(const std::string& path, entry_sink& sink, include_context& included)
        : path_(path), sink_(sink), included_(included) {}

    std::string read(line_reader& lines) {
        bool in_header = true;
        for (std::string_view line; lines.next(line);) {
            line_ = lines.line_number();
            if (lines.skipped()) continue;  // counted; the card goes on without it
            if (in_header && line_ == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
            if (line.substr(0, 8) == "#INCLUDE") {
                end_card();
                include(line.substr(8));
                continue;
            }
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
                end_comment();
                if (headwords_.empty()) card_line_ = line_;
                headword(line, headwords_);
            }
        }
        end_card();
        return title_;
    }

private:
    // Reads the file that an #INCLUDE line names, beside the file that names
    // it: a name of a file in that folder or below it, each file once.
    void include(std::string_view rest) {
        std::string_view name = trim(rest);
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
            name = name.substr(1, name.size() - 2);
        const std::string quoted = "#INCLUDE \"" + std::string(name) + "\"";
        if (name.empty()) fail(quoted + " names no file");
        if (path_ == "-")
            fail(quoted + ": a dictionary read from standard input has no folder to find it in");
        const included_files::admission admitted = included_.files.admit(path_, name);
        if (admitted.what == included_files::admission::verdict::refused)
            fail(quoted + ": " + admitted.problem);
        if (admitted.what == included_files::admission::verdict::read_before) {
            sink_.skipped("#INCLUDE lines naming a file already read", path_, line_);
            return;
        }
        const std::string& file = admitted.path;
        if (type_of_file(file) != file_type::regular)
            fail(quoted + ": " + file +
                 (type_of_file(file) == file_type::none ? " does not exist" : " is not a file"));
        if (included_.depth == max_include_depth)
            fail(quoted + ": files included more than " + std::to_string(max_include_depth) +
                 " deep");
        ++included_.depth;
        try {
            text_input text(file, included_.charset);
            line_reader lines(text, sink_);
            dsl_parser(text.path(), sink_, included_).read(lines);
        } catch (const placed_error&) {
            throw;  // it says where it arose, however deep
        } catch (const import_error& e) {
            // Named where it is included, unless it says where in itself.
            const std::string what = e.what();
            if (what.compare(0, file.size() + 1, file + ":") == 0) throw;
            fail(quoted + ": " + what);
        }
        --included_.depth;
    }

    void header(std::string_view line) {
        if (line.substr(0, 5) != "#NAME") return;
        std::string_view name = trim(line.substr(5));
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
            name = name.substr(1, name.size() - 2);
        title_ = name;
    }

    [[noreturn]] void fail(const std::string& what) const {
        throw placed_error(path_ + ": line " + std::to_string(line_) + ": " + what);
    }

    // Adds the words a headword line stands for: braces left out, each
    // optional part with and without.
    void headword(std::string_view line, word_list& words) {
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
            if (!word.empty()) words.add(std::move(word));
        }
    }

    void body_line(std::string_view line) {
        if (headwords_.empty()) fail("a card's text with no headword before it");
        has_text_ = true;
        std::size_t from = 0;
        if (comment_line_ > 0) {
            // Within a comment begun on a line above, up to its end.
            const std::size_t end = line.find("}}");
            if (end == std::string_view::npos) return;
            comment_line_ = 0;
            from = end + 2;
        } else if (!line.empty() && line.front() == '@') {
            end_sub_entry();
            const std::string_view sub = trim(line.substr(1));
            if (!sub.empty()) {
                headword(sub, sub_words_);
                in_sub_entry_ = !sub_words_.empty();
                sub_line_ = line_;
            }
            return;
        }
        std::string& text = in_sub_entry_ ? sub_text_ : text_;
        const std::string& shown = in_sub_entry_ ? sub_words_.front() : headwords_.front();
        // The text after a comment goes on the line where the comment began.
        if (!text.empty() && from == 0) text += '\n';
        if (from == 0 && only_escaped_blanks(line)) return;  // an empty line
        append_text(line.substr(from), shown, text);
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
                    comment_line_ = line_;  // goes on below
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

    // A comment still open where its card ends: the card's text stops there.
    void end_comment() {
        if (comment_line_ > 0) sink_.damaged("unclosed comments", path_, comment_line_);
        comment_line_ = 0;
    }

    static bool is_empty_text(std::string_view text) {
        return text.find_first_not_of(" \t\n") == std::string_view::npos;
    }

    void end_sub_entry() {
        if (in_sub_entry_ && is_empty_text(sub_text_)) {
            sink_.skipped("@ sub-entries with no text", path_, sub_line_);
        } else if (in_sub_entry_) {
            for (const std::string& word : sub_words_)
                sink_.add(raw_entry{word, sub_text_, markup::plain});
        }
        in_sub_entry_ = false;
        sub_words_.clear();
        sub_text_.clear();
    }

    void end_card() {
        end_comment();
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
    include_context& included_;
    std::string title_;
    uint64_t line_ = 0, card_line_ = 0, sub_line_ = 0;
    uint64_t comment_line_ = 0;  // where a comment still open began; 0: none is
    word_list headwords_, sub_words_;
    std::string text_, sub_text_;
    bool has_text_ = false, in_sub_entry_ = false;
    int open_tags_ = 0;
};

}  // namespace

std::string read_dsl(reader_input& input, entry_sink& sink) {
    line_reader lines(*input.text, sink);
    include_context included(input.path);
    included.charset = input.text->charset() == "UTF-8" ? "" : input.text->charset();
    return dsl_parser(input.path, sink, included).read(lines);
}

bool looks_like_dsl(std::string_view sample, bool) {
    if (sample.substr(0, 3) == "\xEF\xBB\xBF") sample.remove_prefix(3);
    for (const std::string_view start : {"#NAME", "#INDEX_LANGUAGE", "#CONTENTS_LANGUAGE"})
        if (sample.substr(0, start.size()) == start) return true;
    return false;
}

}  // namespace lexaro::import
