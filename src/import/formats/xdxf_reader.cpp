// XDXF, in its visual and its logical form: an XML file whose articles are
//
//   <ar><k>word</k><k>other <opt>word</opt></k> text, <def>...</def></ar>
//
// and whose <full_name> (visual) or <full_title> (logical) names it. Every <k>
// of an article is a word, an <opt> part optional (the word with and without
// it); the article without its <k> elements is the translation, made text by
// the clean-up's XDXF rules (<br/> and each <def> a line, <tr> in brackets).
//
// The file is read as a tolerant XML reader would: comments are skipped,
// CDATA gives its text, and an <ar> that begins before the last one ended
// ends it (counted as damage). A logical article's white space is XML's,
// not the text's: its elements that carry text of their own are set apart by
// a space, or by a line for the ones that make a block.
//
// The file is read in large pieces; only the article being read is held,
// and every byte of it is looked at a bounded number of times.
#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "import/formats/readers.h"
#include "import/markup_text.h"
#include "import/text_input.h"

namespace lexaro::import {

namespace {

constexpr std::size_t piece_size = 1 << 20;
// An article that has not ended after this many bytes never will: no entry
// can be larger than a block.
constexpr std::size_t max_article_size = 16 << 20;
// A title element's text lies within this many bytes of its start.
constexpr std::size_t max_title_size = 65536;
// At most this many <opt> parts of a key make variants (2^5 words); later
// ones stay in every word.
constexpr int max_optional_parts = 5;
// Enough bytes after a '<' to tell what it starts.
constexpr std::size_t lookahead = 16;

constexpr uint64_t none = UINT64_MAX;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '-';
}

// The text of an XML fragment: tags left out, entities decoded, white space
// runs made one space.
void append_text(std::string_view xml, std::string& out) {
    std::string plain;
    for (std::size_t i = 0; i < xml.size(); ++i) {
        if (xml[i] == '<') {
            const std::size_t end = xml.find('>', i);
            if (end == std::string_view::npos) break;
            i = end;
            continue;
        }
        plain += xml[i];
    }
    std::string decoded;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        const std::size_t taken = plain[i] == '&' ? decode_entity(plain, i, decoded) : 0;
        if (taken > 0)
            i += taken - 1;
        else
            decoded += plain[i];
    }
    for (const char c : decoded) {
        const bool blank = is_space(c);
        if (blank && (out.empty() || out.back() == ' ')) continue;
        out += blank ? ' ' : c;
    }
}

// How the elements of a logical article stand apart from their neighbours.
enum class apart {
    no,     // formatting within text: <b>, <i>, <c>, <sup>, ...
    space,  // a part of its own within a line: <gr>, <tr>, <deftext>, <co>, <dtrn>, ...
    line,   // a block: <def>, <ex>, <etm>, <sr>
};

apart logical_spacing(std::string_view name) {
    static constexpr std::string_view spaced[] = {
        "abbr", "abr", "ant",  "categ",   "co",  "deftext", "dtrn", "ex_orig", "ex_tran",
        "gr",   "hpn", "hpr",  "iref",    "kref", "mer",    "par",  "phr",     "pos",
        "spv",  "syn", "tense", "tr"};
    static constexpr std::string_view blocks[] = {"def", "etm", "ex", "sr"};
    for (const std::string_view n : blocks)
        if (name == n) return apart::line;
    for (const std::string_view n : spaced)
        if (name == n) return apart::space;
    return apart::no;
}

class xdxf_parser {
public:
    xdxf_parser(const std::string& path, text_input& text, entry_sink& sink)
        : path_(path), text_(text), sink_(sink) {}

    std::string read() {
        uint64_t at = 0;
        for (;;) {
            keep_ = at;  // nothing before here is needed again
            const uint64_t lt = find("<", at, none, true);
            if (lt == none) break;
            hold(lt, lookahead);
            if (starts(lt, "<!--") || starts(lt, "<![CDATA[")) {
                at = skip_section(lt, none);
            } else if (tag_at(lt, "ar")) {
                at = article(lt);
            } else if (tag_at(lt, "xdxf")) {
                at = lt + 1;
                const uint64_t gt = tag_end(lt, lt + max_title_size);
                if (gt != none) logical_ = view(lt, gt).find("logical") != std::string_view::npos;
            } else if (title_.empty() && (tag_at(lt, "full_name") || tag_at(lt, "full_title"))) {
                at = lt + 1;
                title(lt);
            } else {
                at = lt + 1;
            }
        }
        return title_;
    }

private:
    [[noreturn]] void fail(uint64_t line, const std::string& what) const {
        throw import_error(path_ + ": line " + std::to_string(line) + ": " + what);
    }

    // --- The input, in positions from the start of the text ------------------

    uint64_t end() const { return base_ + buffer_.size(); }
    char byte(uint64_t at) const { return buffer_[static_cast<std::size_t>(at - base_)]; }
    // Valid until the next read.
    std::string_view view(uint64_t from, uint64_t to) const {
        return std::string_view(buffer_).substr(static_cast<std::size_t>(from - base_),
                                                static_cast<std::size_t>(to - from));
    }
    bool starts(uint64_t at, std::string_view text) const {
        return at + text.size() <= end() && view(at, at + text.size()) == text;
    }

    // Reads the next piece onto the buffer, first dropping what lies before keep_.
    bool more() {
        if (at_end_) return false;
        if (keep_ > base_) {
            count_lines(keep_);
            buffer_.erase(0, static_cast<std::size_t>(keep_ - base_));
            base_ = keep_;
        }
        const std::size_t old = buffer_.size();
        buffer_.resize(old + piece_size);
        const std::size_t got = text_.read(&buffer_[old], piece_size);
        buffer_.resize(old + got);
        at_end_ = got == 0;
        return got > 0;
    }

    // Makes the buffer hold `size` bytes from `at`, or all there are.
    void hold(uint64_t at, std::size_t size) {
        while (end() < at + size && more()) {
        }
    }

    // Where `needle` next stands at or after `from`, reading on as needed;
    // none when the input ends first, or when it would end past `limit`.
    // pass_over: what is searched is not needed again, and is not kept.
    uint64_t find(std::string_view needle, uint64_t from, uint64_t limit, bool pass_over = false) {
        for (;;) {
            const std::size_t i = buffer_.find(needle, static_cast<std::size_t>(from - base_));
            if (i != std::string::npos) {
                const uint64_t found = base_ + i;
                return found + needle.size() <= limit ? found : none;
            }
            // A needle cut by the end of the piece is found in the next.
            if (end() >= needle.size()) from = std::max(from, end() - (needle.size() - 1));
            if (pass_over) keep_ = std::max(keep_, from);
            if (end() >= limit || !more()) return none;
        }
    }

    // The '>' that ends the tag at `lt`, or none when another '<' (or the
    // input's end, or `limit`) comes first.
    uint64_t tag_end(uint64_t lt, uint64_t limit) {
        for (uint64_t from = lt + 1;;) {
            const std::size_t i =
                buffer_.find_first_of("<>", static_cast<std::size_t>(from - base_));
            if (i != std::string::npos)
                return buffer_[i] == '>' && base_ + i < limit ? base_ + i : none;
            from = end();
            if (end() >= limit || !more()) return none;
        }
    }

    // Keeps line_ the number of the line at `to`.
    void count_lines(uint64_t to) {
        for (; counted_ < to; ++counted_) line_ += byte(counted_) == '\n';
    }

    uint64_t line_at(uint64_t at) {
        count_lines(at);
        return line_;
    }

    // Whether the tag at `at` is <name followed by '>', '/' or white space.
    bool tag_at(uint64_t at, std::string_view name) {
        hold(at, name.size() + 2);
        if (!starts(at + 1, name) || at + 1 + name.size() >= end()) return false;
        const char after = byte(at + 1 + name.size());
        return after == '>' || after == '/' || is_space(after);
    }

    // The element name of the tag at `at` ("" when none), and whether it closes.
    std::string_view tag_name(uint64_t at, bool& closing) {
        hold(at, lookahead + 2);
        uint64_t i = at + 1;
        closing = i < end() && byte(i) == '/';
        if (closing) ++i;
        const uint64_t first = i;
        while (i < end() && i - first < lookahead && is_name_char(byte(i))) ++i;
        return view(first, i);
    }

    // Passes over the comment or CDATA section at `lt`; gives where reading
    // goes on. One that does not end before `limit` stops the run.
    uint64_t skip_section(uint64_t lt, uint64_t limit) {
        const bool comment = starts(lt, "<!--");
        const uint64_t line = line_at(lt);
        const uint64_t close = find(comment ? "-->" : "]]>", lt + (comment ? 4 : 9), limit, true);
        if (close == none)
            fail(line, comment ? "the comment begun here does not end"
                               : "the CDATA section begun here does not end");
        return close + 3;
    }

    // --- The title -----------------------------------------------------------

    // Takes the title from the element at `lt`: its text up to the next
    // "</full_" within max_title_size bytes. Where that search came up empty
    // before, it goes on from where it stopped, so that a file of unclosed
    // title tags is searched once.
    void title(uint64_t lt) {
        const uint64_t gt = tag_end(lt, lt + max_title_size);
        if (gt == none) return;
        hold(gt, max_title_size + 8);
        const uint64_t window_end = std::min(end(), gt + max_title_size + 7);
        if (title_close_ == none || title_close_ < gt) {
            const uint64_t from = std::max(gt, title_searched_);
            const std::size_t i =
                std::string_view(buffer_)
                    .substr(0, static_cast<std::size_t>(window_end - base_))
                    .find("</full_", static_cast<std::size_t>(from - base_));
            title_close_ = i == std::string_view::npos ? none : base_ + i;
            if (title_close_ == none) title_searched_ = window_end > 6 ? window_end - 6 : 0;
        }
        if (title_close_ == none || title_close_ > window_end) {
            sink_.damaged("unclosed title tags", path_, line_at(lt));
            return;
        }
        append_text(view(gt + 1, title_close_), title_);
    }

    // --- Articles ------------------------------------------------------------

    // Reads the article whose <ar> tag is at `start`; gives where reading goes on.
    uint64_t article(uint64_t start) {
        const uint64_t line = line_at(start);
        const uint64_t limit = start + max_article_size;
        const auto unended = [&] { fail(line, "the article begun here does not end"); };
        words_.clear();
        seen_.clear();
        body_.clear();
        pending_ = apart::no;
        bool keyed = false;
        const uint64_t gt = tag_end(start, limit);
        uint64_t at = gt == none ? start + 3 : gt + 1;
        for (;;) {
            keep_ = at;
            const uint64_t lt = find("<", at, limit);
            if (lt == none) unended();
            text(view(at, lt), false);
            hold(lt, lookahead);
            if (starts(lt, "<!--")) {
                at = skip_section(lt, limit);
                continue;
            }
            if (starts(lt, "<![CDATA[")) {
                const uint64_t close = find("]]>", lt + 9, limit);
                if (close == none) skip_section(lt, limit);  // says so
                text(view(lt + 9, close), true);
                at = close + 3;
                continue;
            }
            bool closing = false;
            const std::string_view name = tag_name(lt, closing);
            if (name == "ar" && closing) {
                const uint64_t close = tag_end(lt, limit);
                at = close == none ? lt + 4 : close + 1;
                break;
            }
            // What can only stand outside an article ends one left open.
            if ((name == "ar" && tag_at(lt, "ar")) ||
                (closing && (name == "lexicon" || name == "xdxf"))) {
                sink_.damaged("articles without </ar>", path_, line);
                at = lt;
                break;
            }
            if (name == "k" && !closing && tag_at(lt, "k")) {
                keyed = true;
                at = key(lt, limit);
                if (at == none) unended();
                continue;
            }
            at = tag(lt, name, closing, limit);
        }
        if (!keyed) fail(line, "an article with no <k> headword");
        if (words_.empty()) words_.emplace_back();  // an empty key: dropped and counted
        for (const std::string& word : words_) sink_.add(raw_entry{word, body_, markup::xdxf});
        return at;
    }

    // What a logical article's element just closed puts before what follows.
    void put_pending(char next) {
        const bool punctuation =
            std::string_view(",.;:!?)]}").find(next) != std::string_view::npos;
        if (pending_ == apart::line)
            body_ += '\n';
        else if (pending_ == apart::space && !punctuation && !is_space(next))
            body_ += ' ';
        pending_ = apart::no;
    }

    // Appends a run of the article's text to its body; CDATA's text has its
    // markup characters escaped, so that the clean-up shows them as they are.
    void text(std::string_view run, bool cdata) {
        if (run.empty()) return;
        if (pending_ != apart::no) put_pending(run.front());
        for (const char c : run) {
            if (logical_ && is_space(c))
                body_ += ' ';  // XML white space, not a line of the text
            else if (cdata && c == '<')
                body_ += "&lt;";
            else if (cdata && c == '>')
                body_ += "&gt;";
            else if (cdata && c == '&')
                body_ += "&amp;";
            else
                body_ += c;
        }
    }

    // Copies the tag at `lt` to the body, setting a logical article's parts
    // apart; gives where reading goes on.
    uint64_t tag(uint64_t lt, std::string_view name, bool closing, uint64_t limit) {
        const uint64_t gt = logical_ && !name.empty() ? tag_end(lt, limit) : none;
        if (gt == none) {
            if (pending_ != apart::no) put_pending('<');
            body_ += '<';
            return lt + 1;
        }
        const apart spacing = logical_spacing(name);
        const std::string_view whole = view(lt, gt + 1);
        if (!closing) {
            // Before an element: the wider of the gaps its neighbour and it want.
            const apart gap = std::max(pending_, spacing);
            if (gap == apart::line) {
                body_ += '\n';
            } else if (gap == apart::space && !body_.empty() &&
                       std::string_view(" \n([{").find(body_.back()) == std::string_view::npos) {
                body_ += ' ';
            }
            pending_ = apart::no;
        }
        body_.append(whole);
        const bool self_closing = whole.size() >= 2 && whole[whole.size() - 2] == '/';
        if ((closing || self_closing) && spacing > pending_) pending_ = spacing;
        return gt + 1;
    }

    // Reads the <k> element at `lt` into the article's words; gives where
    // reading goes on. A key that another <k>, or the article's end, comes
    // before its </k> ends there, counted as damage.
    uint64_t key(uint64_t lt, uint64_t limit) {
        const uint64_t line = line_at(lt);
        const uint64_t gt = tag_end(lt, limit);
        const uint64_t start = gt == none ? lt + 2 : gt + 1;
        for (uint64_t at = start;;) {
            const uint64_t next = find("<", at, limit);
            if (next == none) return none;
            bool closing = false;
            const std::string_view name = tag_name(next, closing);
            if (name == "k" && closing) {
                key_words(view(start, next), line);
                const uint64_t close = tag_end(next, limit);
                return close == none ? next + 3 : close + 1;
            }
            if ((name == "k" && !closing && tag_at(next, "k")) || name == "ar" ||
                (closing && (name == "lexicon" || name == "xdxf"))) {
                sink_.damaged("unclosed <k> headwords", path_, line);
                key_words(view(start, next), line);
                return next;
            }
            at = next + 1;
        }
    }

    // The words a <k> element stands for: each of its first five <opt>
    // parts with and without, later ones in every word.
    void key_words(std::string_view key, uint64_t line) {
        std::string part;
        std::vector<std::string> variants{""};
        int optional = 0;
        std::size_t at = 0;
        while (at < key.size()) {
            const std::size_t opt = key.find("<opt>", at);
            const std::size_t end = opt == std::string_view::npos ? key.size() : opt;
            part.clear();
            append_text(key.substr(at, end - at), part);
            for (std::string& v : variants) v += part;
            if (opt == std::string_view::npos) break;
            const std::size_t close = key.find("</opt>", opt);
            const std::size_t opt_end = close == std::string_view::npos ? key.size() : close;
            part.clear();
            append_text(key.substr(opt + 5, opt_end - opt - 5), part);
            if (optional++ < max_optional_parts) {
                const std::size_t n = variants.size();
                for (std::size_t i = 0; i < n; ++i) variants.push_back(variants[i] + part);
            } else {
                if (optional == max_optional_parts + 1)
                    sink_.damaged("headwords with too many optional parts", path_, line);
                for (std::string& v : variants) v += part;
            }
            at = close == std::string_view::npos ? key.size() : close + 6;
        }
        for (std::string& v : variants) {
            while (!v.empty() && v.back() == ' ') v.pop_back();
            const std::size_t first = v.find_first_not_of(' ');
            if (first == std::string::npos) continue;
            v.erase(0, first);
            if (seen_.insert(v).second) words_.push_back(std::move(v));
        }
    }

    const std::string& path_;
    text_input& text_;
    entry_sink& sink_;
    std::string buffer_;
    uint64_t base_ = 0;     // where buffer_[0] stands in the text
    uint64_t keep_ = 0;     // what lies before here is not needed again
    uint64_t counted_ = 0;  // line_ counts the line feeds before here
    uint64_t line_ = 1;
    bool at_end_ = false;
    bool logical_ = false;
    std::string title_;
    uint64_t title_close_ = none;  // the "</full_" found last
    uint64_t title_searched_ = 0;  // no "</full_" starts between the last search's start and here
    std::vector<std::string> words_;
    std::unordered_set<std::string> seen_;
    std::string body_;
    apart pending_ = apart::no;  // what goes between the element just closed and the next text
};

}  // namespace

std::string read_xdxf(reader_input& input, entry_sink& sink) {
    return xdxf_parser(input.path, *input.text, sink).read();
}

bool looks_like_xdxf(std::string_view sample, bool) {
    const std::string_view head = sample.substr(0, 2048);
    return head.find("<xdxf") != std::string_view::npos ||
           head.find("<!DOCTYPE xdxf") != std::string_view::npos;
}

}  // namespace lexaro::import
