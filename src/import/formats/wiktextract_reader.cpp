// Wiktextract's JSON lines: one Wiktionary entry per line, such as
//
//   {"word": "house", "pos": "noun", "lang_code": "en",
//    "sounds": [{"ipa": "/haʊs/"}, ...],
//    "senses": [{"glosses": ["A structure serving as an abode."]}, ...],
//    "translations": [{"code": "de", "word": "Haus", "sense": "abode"}, ...],
//    ... many more members ...}
//
// The word with its part of speech, IPA and numbered glosses; or, with
// --translations CODE, each translation into CODE as a word, with the entry's
// word, part of speech and the sense it translates. The glosses, or with
// --translations the entry's word, are the terms of an entry, its part of
// speech their grammar. A small strict parser
// takes the members it needs and steps over the rest without building them;
// one line is held at a time.
#include <string>
#include <vector>

#include "import/formats/json_string.h"
#include "import/formats/line_reader.h"
#include "import/markup_text.h"
#include "import/formats/readers.h"

namespace lexaro::import {

namespace {

// Deeper nesting than this is not Wiktextract's, and is refused rather than
// followed.
constexpr int max_depth = 64;
// The IPA transcriptions shown.
constexpr std::size_t max_ipa = 2;

struct translation {
    std::string code, word, sense;
};

struct entry {
    std::string word, pos;
    std::vector<std::string> ipa;
    std::vector<std::string> glosses;  // one per sense, the most specific
    std::vector<translation> translations;
    std::size_t ipa_count = 0, gloss_count = 0, translation_count = 0;
    bool has_word = false;

    void clear() {
        word.clear();
        pos.clear();
        ipa_count = gloss_count = translation_count = 0;
        has_word = false;
    }
};

// Slots that a value may be read into, reused from entry to entry.
std::string& slot(std::vector<std::string>& slots, std::size_t& count) {
    if (count == slots.size()) slots.emplace_back();
    std::string& s = slots[count++];
    s.clear();
    return s;
}

class json_line {
public:
    json_line(std::string_view text, const std::string& path, uint64_t line)
        : text_(text), path_(path), line_(line) {}

    // Reads the line's object into e.
    void read_entry(entry& e) {
        skip_space();
        expect('{', "a '{' starting the entry");
        members(0, [&](std::string_view name) {
            if (name == "word") {
                string(e.word);
                e.has_word = true;
            } else if (name == "pos") {
                string(e.pos);
            } else if (name == "sounds") {
                array(1, [&] {
                    object(2, [&](std::string_view n) {
                        if (n == "ipa" && e.ipa_count < max_ipa && peek() == '"')
                            string(slot(e.ipa, e.ipa_count));
                        else
                            skip(3);
                    });
                });
            } else if (name == "senses") {
                array(1, [&] {
                    std::string* gloss = nullptr;
                    object(2, [&](std::string_view n) {
                        if (n == "glosses") {
                            array(3, [&] {
                                if (peek() != '"') return skip(4);
                                if (gloss == nullptr) gloss = &slot(e.glosses, e.gloss_count);
                                gloss->clear();
                                string(*gloss);  // the last is the most specific
                            });
                        } else if (n == "translations") {
                            translations(3, e);
                        } else {
                            skip(3);
                        }
                    });
                });
            } else if (name == "translations") {
                translations(1, e);
            } else {
                skip(1);
            }
        });
        skip_space();
        if (at_ != text_.size()) fail("the end of the line after the entry");
    }

private:
    [[noreturn]] void fail(const char* expected) const {
        throw import_error(path_ + ": line " + std::to_string(line_) + ": column " +
                           std::to_string(at_ + 1) + ": expected " + expected);
    }

    char peek() {
        skip_space();
        return at_ < text_.size() ? text_[at_] : '\0';
    }

    void skip_space() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r' || text_[at_] == '\n'))
            ++at_;
    }

    void expect(char c, const char* what) {
        if (peek() != c) fail(what);
        ++at_;
    }

    // "name": value, ... } with `value(name)` reading each value; the '{' is taken.
    template <typename Value>
    void members(int depth, Value value) {
        if (depth > max_depth) fail("less deeply nested values");
        if (peek() == '}') {
            ++at_;
            return;
        }
        std::string name;
        for (;;) {
            if (peek() != '"') fail("a member's name in quotes");
            name.clear();
            string(name);
            expect(':', "a ':' after a member's name");
            value(std::string_view(name));
            const char c = peek();
            ++at_;
            if (c == '}') return;
            if (c != ',') {
                --at_;
                fail("a ',' or '}' after a member");
            }
        }
    }

    template <typename Value>
    void object(int depth, Value value) {
        if (peek() != '{') return skip(depth);
        ++at_;
        members(depth, value);
    }

    template <typename Element>
    void array(int depth, Element element) {
        if (depth > max_depth) fail("less deeply nested values");
        if (peek() != '[') return skip(depth);
        ++at_;
        if (peek() == ']') {
            ++at_;
            return;
        }
        for (;;) {
            element();
            const char c = peek();
            ++at_;
            if (c == ']') return;
            if (c != ',') {
                --at_;
                fail("a ',' or ']' after an element");
            }
        }
    }

    void translations(int depth, entry& e) {
        array(depth, [&] {
            if (e.translation_count == e.translations.size()) e.translations.emplace_back();
            translation& t = e.translations[e.translation_count++];
            t.code.clear();
            t.word.clear();
            t.sense.clear();
            object(depth + 1, [&](std::string_view n) {
                if (peek() == '"' && (n == "code" || n == "lang_code")) string(t.code);
                else if (peek() == '"' && n == "word") string(t.word);
                else if (peek() == '"' && n == "sense") string(t.sense);
                else skip(depth + 2);
            });
        });
    }

    // A string, unescaped, appended to out.
    void string(std::string& out) {
        expect('"', "a string");
        if (const char* expected = read_json_string(
                text_, at_, out, "a '\"' ending the string before the line ends"))
            fail(expected);
    }

    // Steps over any value.
    void skip(int depth) {
        if (depth > max_depth) fail("less deeply nested values");
        const char c = peek();
        if (c == '"') {
            scratch_.clear();
            string(scratch_);
        } else if (c == '{') {
            ++at_;
            members(depth + 1, [&](std::string_view) { skip(depth + 1); });
        } else if (c == '[') {
            array(depth + 1, [&] { skip(depth + 1); });
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            const std::size_t start = at_;
            while (at_ < text_.size() && (std::string_view("+-.eE0123456789").find(text_[at_]) !=
                                          std::string_view::npos))
                ++at_;
            if (at_ == start + (c == '-')) fail("a number");
        } else if (text_.substr(at_, 4) == "true" || text_.substr(at_, 4) == "null") {
            at_ += 4;
        } else if (text_.substr(at_, 5) == "false") {
            at_ += 5;
        } else {
            fail("a value");
        }
    }

    std::string_view text_;
    const std::string& path_;
    uint64_t line_;
    std::size_t at_ = 0;
    std::string scratch_;
};

}  // namespace

std::string read_wiktextract(reader_input& input, entry_sink& sink) {
    line_reader lines(*input.text, sink);
    const std::string& code = input.options.translations;
    entry e;
    std::string text, terms;
    for (std::string_view line; lines.next(line);) {
        if (line.find_first_not_of(" \t\r") == std::string_view::npos) continue;
        e.clear();
        json_line(line, input.path, lines.line_number()).read_entry(e);
        if (!e.has_word) {
            sink.skipped("records with no word", input.path, lines.line_number());
            continue;
        }
        if (code.empty()) {
            // Part of speech and IPA, then the numbered glosses.
            text = e.pos;
            for (std::size_t i = 0; i < e.ipa_count; ++i) {
                if (!text.empty()) text += ' ';
                text += e.ipa[i];
            }
            for (std::size_t i = 0; i < e.gloss_count; ++i) {
                text += '\n';
                if (e.gloss_count > 1) text += std::to_string(i + 1) + ". ";
                text += e.glosses[i];
            }
            raw_entry entry{e.word, text, markup::plain};
            if (sink.wants_terms()) {
                // The glosses are the terms, the part of speech the grammar.
                terms.clear();
                for (std::size_t i = 0; i < e.gloss_count; ++i) terms.append(e.glosses[i]) += '\n';
                entry.has_terms = true;
                entry.terms = terms;
                entry.grammar = e.pos;
            }
            sink.add(entry);
            continue;
        }
        bool translated = false;
        for (std::size_t i = 0; i < e.translation_count; ++i) {
            const translation& t = e.translations[i];
            if (t.code != code || t.word.empty()) continue;
            translated = true;
            text = e.word;
            if (!e.pos.empty()) text += " (" + e.pos + ")";
            const std::string& sense = !t.sense.empty() ? t.sense
                                       : e.gloss_count > 0 ? e.glosses[0] : t.sense;
            if (!sense.empty()) text += ": " + sense;
            raw_entry entry{t.word, text, markup::plain};
            // The entry's word is the term of its translations.
            entry.has_terms = true;
            entry.terms = e.word;
            entry.grammar = e.pos;
            sink.add(entry);
        }
        if (!translated)
            sink.skipped("records with no translation into " + code, input.path,
                         lines.line_number());
    }
    return "";
}

// A first line that is a JSON object naming a "word" and its "pos" or "senses".
bool looks_like_wiktextract(std::string_view sample, bool) {
    const std::string_view first = sample.substr(0, sample.find('\n'));
    return !first.empty() && first.front() == '{' && first.find("\"word\"") != std::string_view::npos &&
           (first.find("\"pos\"") != std::string_view::npos ||
            first.find("\"senses\"") != std::string_view::npos);
}

}  // namespace lexaro::import
