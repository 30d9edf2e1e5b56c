// XDXF, in its visual and its logical form: an XML file whose articles are
//
//   <ar><k>word</k><k>other <opt>word</opt></k> text, <def>...</def></ar>
//
// and whose <full_name> (visual) or <full_title> (logical) names it. Every <k>
// of an article is a word, an <opt> part optional (the word with and without
// it); the article without its <k> elements is the translation, made text by
// the clean-up's XDXF rules (<br/> and each <def> a line, <tr> in brackets).
// The file is read in large pieces and one article held at a time.
#include <algorithm>
#include <string>
#include <vector>

#include "import/markup_text.h"
#include "import/formats/readers.h"
#include "import/text_input.h"

namespace lexaro::import {

namespace {

constexpr std::size_t piece_size = 1 << 20;
// An article that has not ended after this many bytes never will: no entry
// can be larger than a block.
constexpr std::size_t max_article_size = 16 << 20;

// Character references decoded; anything else stays as it is.
void append_decoded(std::string_view text, std::string& out) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t taken = text[i] == '&' ? decode_entity(text, i, out) : 0;
        if (taken > 0)
            i += taken - 1;
        else
            out += text[i];
    }
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
    append_decoded(plain, decoded);
    for (const char c : decoded) {
        const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (blank && (out.empty() || out.back() == ' ')) continue;
        out += blank ? ' ' : c;
    }
}

// The words a <k> element stands for: each <opt> part with and without.
void key_words(std::string_view key, std::vector<std::string>& words) {
    std::vector<std::string> variants{""};
    std::size_t at = 0;
    while (at < key.size()) {
        const std::size_t opt = key.find("<opt>", at);
        const std::size_t end = opt == std::string_view::npos ? key.size() : opt;
        std::string fixed;
        append_text(key.substr(at, end - at), fixed);
        for (std::string& v : variants) v += fixed;
        if (opt == std::string_view::npos) break;
        const std::size_t close = key.find("</opt>", opt);
        std::string optional;
        append_text(key.substr(opt + 5, (close == std::string_view::npos ? key.size() : close) - opt - 5),
                    optional);
        if (variants.size() < 32) {
            const std::size_t n = variants.size();
            for (std::size_t i = 0; i < n; ++i) variants.push_back(variants[i] + optional);
        }
        at = close == std::string_view::npos ? key.size() : close + 6;
    }
    for (std::string& v : variants) {
        while (!v.empty() && v.back() == ' ') v.pop_back();
        const std::size_t first = v.find_first_not_of(' ');
        if (first == std::string::npos) continue;
        v.erase(0, first);
        if (std::find(words.begin(), words.end(), v) == words.end()) words.push_back(std::move(v));
    }
}

bool tag_at(std::string_view text, std::size_t at, std::string_view name) {
    if (text.substr(at, name.size() + 1) != "<" + std::string(name)) return false;
    const std::size_t after = at + 1 + name.size();
    return after < text.size() && (text[after] == '>' || text[after] == ' ' || text[after] == '/');
}

class xdxf_parser {
public:
    xdxf_parser(const std::string& path, text_input& text, entry_sink& sink)
        : path_(path), text_(text), sink_(sink) {}

    std::string read() {
        std::size_t at = 0;
        for (;;) {
            std::size_t ar = find_article(at);
            if (ar == std::string::npos) break;
            std::size_t end, searched = ar;
            while ((end = buffer_.find("</ar>", searched)) == std::string::npos) {
                const std::size_t held = buffer_.size() - ar;
                const bool too_long = held > max_article_size;
                if (too_long || !more()) {
                    count_lines(too_long ? ar : 0);
                    fail("the article begun here does not end");
                }
                ar = 0;  // what came before it is dropped
                // The search goes on where it stopped, less a "</ar>" cut by
                // the end of the last piece.
                searched = held < 4 ? 0 : held - 4;
            }
            count_lines(ar);
            article(std::string_view(buffer_).substr(ar, end - ar));
            at = end + 5;
        }
        return title_;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw import_error(path_ + ": line " + std::to_string(line_) + ": " + what);
    }

    // Reads the next piece onto the buffer, first dropping what is done.
    bool more() {
        if (done_ > 0) {
            count_lines(done_);
            buffer_.erase(0, done_);
            counted_ -= done_;
            done_ = 0;
        }
        const std::size_t old = buffer_.size();
        buffer_.resize(old + piece_size);
        const std::size_t got = text_.read(&buffer_[old], piece_size);
        buffer_.resize(old + got);
        return got > 0;
    }

    // Keeps line_ the line number at buffer_[to].
    void count_lines(std::size_t to) {
        for (; counted_ < to; ++counted_) line_ += buffer_[counted_] == '\n';
    }

    // Where the next article begins at or after `at`, reading on as needed;
    // takes the title on the way.
    std::size_t find_article(std::size_t at) {
        for (;;) {
            const std::size_t lt = buffer_.find('<', at);
            if (lt == std::string::npos || lt + 16 > buffer_.size()) {
                done_ = lt == std::string::npos ? buffer_.size() : lt;
                at = 0;
                if (!more()) return std::string::npos;
                continue;
            }
            if (tag_at(buffer_, lt, "ar")) {
                done_ = lt;
                return lt;
            }
            if (title_.empty() && (tag_at(buffer_, lt, "full_name") || tag_at(buffer_, lt, "full_title"))) {
                const std::size_t close = buffer_.find("</full_", lt);
                if (close == std::string::npos && buffer_.size() - lt < 65536 && more()) {
                    at = 0;
                    continue;
                }
                const std::size_t start = buffer_.find('>', lt) + 1;
                if (close != std::string::npos) append_text(std::string_view(buffer_).substr(start, close - start), title_);
            }
            at = lt + 1;
        }
    }

    void article(std::string_view ar) {
        words_.clear();
        bool keyed = false;
        // The next <k> is looked for after the end of this one: a <k> inside
        // a key is part of it, not another key.
        std::size_t next = 0;
        for (std::size_t k = ar.find("<k"); k != std::string_view::npos; k = ar.find("<k", next)) {
            next = k + 2;
            if (!tag_at(ar, k, "k")) continue;
            keyed = true;
            const std::size_t start = ar.find('>', k) + 1;
            const std::size_t close = ar.find("</k>", start);
            if (close == std::string_view::npos) {
                sink_.damaged("unclosed <k> headwords", path_, line_);
                break;
            }
            key_words(ar.substr(start, close - start), words_);
            next = close + 4;
        }
        if (!keyed) fail("an article with no <k> headword");
        const std::string_view body = ar.substr(ar.find('>') + 1);
        if (words_.empty()) words_.emplace_back();  // an empty key: dropped and counted
        for (const std::string& word : words_) sink_.add(raw_entry{word, body, markup::xdxf});
    }

    const std::string& path_;
    text_input& text_;
    entry_sink& sink_;
    std::string buffer_;
    std::size_t done_ = 0;     // bytes at the buffer's start that are read through
    std::size_t counted_ = 0;  // bytes whose line feeds line_ counts
    uint64_t line_ = 1;
    std::string title_;
    std::vector<std::string> words_;
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
