#include "import/formats/dictd_reader.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "common/compressed_input.h"
#include "import/byte_scan.h"
#include "import/formats/article_source.h"
#include "import/unwrap.h"

namespace lexaro::import {

namespace {

// Keys of the entries that describe the dictionary rather than a word.
constexpr std::string_view database_prefixes[] = {"00-database-", "00database"};
constexpr std::string_view short_name_keys[] = {"00-database-short", "00databaseshort"};
// How many entries ahead the reading of a key from the index starts.
constexpr std::size_t key_prefetch_distance = 8;
// What dictfmt writes as the short name when it was given none.
constexpr std::string_view unnamed = "unknown";

// Calls visit with each line of text, without its line feed.
template <typename Visit>
void for_each_line(std::string_view text, Visit visit) {
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        visit(text.substr(start, end - start));
        start = end + 1;
    }
}

// --- Keys as dictfmt indexes them -------------------------------------------

struct code_point {
    uint32_t value;
    std::size_t size;  // bytes
};

// Bytes that are not UTF-8 stand for themselves, one at a time, out of the
// way of every real code point.
constexpr uint32_t stray_byte_base = 0x110000;

code_point decode_multibyte(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t size = lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 ? 2 : 0;
    if (size == 0 || text.size() - at < size) return {stray_byte_base + lead, 1};
    uint32_t value = lead & (0x7f >> size);
    for (std::size_t i = 1; i < size; ++i) {
        const auto next = static_cast<unsigned char>(text[at + i]);
        if ((next & 0xc0) != 0x80) return {stray_byte_base + lead, 1};
        value = (value << 6) | (next & 0x3f);
    }
    return {value, size};
}

inline code_point decode_utf8(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    return lead < 0x80 ? code_point{lead, 1} : decode_multibyte(text, at);
}

bool is_ascii_alnum(char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
}

char fold_ascii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 0x20) : c; }

bool is_space(uint32_t c) { return c == ' ' || c == '\t' || c == '\r'; }

// Letters and digits: every code point outside the ASCII, Latin-1, general
// punctuation and symbol ranges counts as one, as the letters of most
// scripts lie there.
bool is_word_char(uint32_t c) {
    if (c < 0x80) return is_ascii_alnum(static_cast<char>(c));
    if (c < 0xc0) return c == 0xaa || c == 0xb5 || c == 0xba;
    if (c == 0xd7 || c == 0xf7) return false;
    if (c >= 0x2000 && c <= 0x2bff) return false;  // punctuation, symbols, arrows, shapes
    if (c >= 0x3000 && c <= 0x303f) return false;  // CJK punctuation
    if (c >= 0xfe30 && c <= 0xfe4f) return false;  // CJK compatibility forms
    if (c >= 0xff00 && c <= 0xff0f) return false;  // full-width punctuation
    return true;
}

// Lower case for ASCII, Latin-1, Latin Extended-A and Additional, Greek and
// Cyrillic; other code points as they are.
uint32_t fold_case(uint32_t c) {
    if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
    if (c >= 0xc0 && c <= 0xde && c != 0xd7) return c + 0x20;
    if (c >= 0x100 && c <= 0x17f) {
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17f) return c;
        if (c == 0x178) return 0xff;
        const bool odd_upper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17e);
        return (c % 2 == 1) == odd_upper ? c + 1 : c;
    }
    if (c >= 0x1e00 && c <= 0x1e95) return c % 2 == 0 ? c + 1 : c;
    if (c >= 0x1ea0 && c <= 0x1eff) return c % 2 == 0 ? c + 1 : c;
    if (c >= 0x391 && c <= 0x3a9 && c != 0x3a2) return c + 0x20;
    if (c >= 0x410 && c <= 0x42f) return c + 0x20;
    if (c >= 0x400 && c <= 0x40f) return c + 0x50;
    return c;
}

// The code points of a key as dictfmt indexes it: letters and digits folded,
// a run of white space as one space before the next letter or digit, other
// characters left out.
class folded_key {
public:
    explicit folded_key(std::string_view text) : text_(text) {}

    std::optional<uint32_t> next() {
        bool space = false;
        while (at_ < text_.size()) {
            const code_point c = decode_utf8(text_, at_);
            if (is_space(c.value)) space = true;
            if (!is_word_char(c.value)) {
                at_ += c.size;
                continue;
            }
            if (space && !space_given_) {
                space_given_ = true;
                return ' ';
            }
            space_given_ = false;
            at_ += c.size;
            return fold_case(c.value);
        }
        return std::nullopt;
    }

private:
    std::string_view text_;
    std::size_t at_ = 0;
    bool space_given_ = false;
};

// Where the first line's headword ends, if the line begins with the key: at
// the last white space (or the end of the line) before anything that would
// make the line's folded text longer than the key's.
std::optional<std::size_t> headword_end(std::string_view key, std::string_view article) {
    // Most headwords begin with ASCII letters and digits that the key holds
    // as they are but for case: compare those bytes directly first.
    std::size_t at = 0;
    while (at < key.size() && at < article.size() && is_ascii_alnum(key[at]) &&
           fold_ascii(key[at]) == fold_ascii(article[at])) {
        ++at;
    }
    folded_key wanted(key.substr(at));
    std::optional<uint32_t> expected = wanted.next();
    std::optional<std::size_t> end;  // once the whole key is matched
    bool space = false;
    while (at < article.size() && article[at] != '\n') {
        const code_point c = decode_utf8(article, at);
        if (is_space(c.value)) {
            if (!expected) end = at;
            space = true;
        } else if (is_word_char(c.value)) {
            if (!expected) return end;
            if (space) {
                if (expected != uint32_t{' '}) return std::nullopt;
                expected = wanted.next();
            }
            if (expected != fold_case(c.value)) return std::nullopt;
            expected = wanted.next();
            space = false;
        }
        at += c.size;
    }
    if (expected) return std::nullopt;
    return at;
}

bool same_but_for_case(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const code_point x = decode_utf8(a, i), y = decode_utf8(b, j);
        if (fold_case(x.value) != fold_case(y.value)) return false;
        i += x.size;
        j += y.size;
    }
    return i == a.size() && j == b.size();
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && is_space(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && is_space(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

// A headword without the marks that only set it off from its article: the
// colons around a Jargon File entry (":AT&T:"), a dash or equals sign after it
// ("Apfel - apple").
std::string_view headword_text(std::string_view text) {
    text = trimmed(text);
    while (!text.empty() && text.front() == ':') text.remove_prefix(1);
    while (!text.empty() && text.back() == ':') text.remove_suffix(1);
    for (const std::string_view mark : {" -", " =", " \u2013", " \u2014"}) {
        if (text.size() > mark.size() && text.substr(text.size() - mark.size()) == mark)
            text.remove_suffix(mark.size());
    }
    return trimmed(text);
}

// The text from `at`, past the white space there and the line feed after it.
std::string_view after_line(std::string_view text, std::size_t at) {
    while (at < text.size() && is_space(static_cast<unsigned char>(text[at]))) ++at;
    if (at < text.size() && text[at] == '\n') ++at;
    return text.substr(at);
}

// --- The index ----------------------------------------------------------------

struct index_entry {
    std::string_view word;
    uint64_t offset;
    uint64_t length;
};

struct dictd_files {
    std::string index;
    std::string data;
};

bool ends_with(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

dictd_files find_files(const std::string& path) {
    for (const std::string_view suffix : {".index", ".dict.dz", ".dict"}) {
        if (!ends_with(path, suffix)) continue;
        const std::string base = path.substr(0, path.size() - suffix.size());
        dictd_files files{base + ".index", path};
        if (suffix != ".index") return files;
        for (const char* data_suffix : {".dict.dz", ".dict"}) {
            files.data = base + data_suffix;
            if (file_exists(files.data)) return files;
        }
        throw import_error(path + ": neither " + base + ".dict.dz nor " + base +
                           ".dict lies beside it");
    }
    throw import_error(path + ": a dictd dictionary is named X.index, X.dict or X.dict.dz");
}

// dictd's numbers: base64 digits, most significant first.
constexpr std::string_view base64_digits =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t not_a_digit = 0xff;

struct digit_table {
    uint8_t value[256];
    constexpr digit_table() : value() {
        for (uint8_t& v : value) v = not_a_digit;
        for (std::size_t i = 0; i < base64_digits.size(); ++i)
            value[static_cast<unsigned char>(base64_digits[i])] = static_cast<uint8_t>(i);
    }
};
constexpr digit_table digit_values;

std::optional<uint64_t> decode_number(std::string_view digits) {
    if (digits.empty()) return std::nullopt;
    uint64_t value = 0;
    for (const char c : digits) {
        const uint8_t digit = digit_values.value[static_cast<unsigned char>(c)];
        if (digit == not_a_digit || value >> 58 != 0) return std::nullopt;  // or past 64 bits
        value = (value << 6) | digit;
    }
    return value;
}

bool describes_dictionary(std::string_view key) {
    return std::any_of(
        std::begin(database_prefixes), std::end(database_prefixes),
        [&](std::string_view prefix) { return key.substr(0, prefix.size()) == prefix; });
}

bool is_short_name(std::string_view key) {
    return std::find(std::begin(short_name_keys), std::end(short_name_keys), key) !=
           std::end(short_name_keys);
}

class index_parser {
public:
    index_parser(const std::string& path, std::optional<uint64_t> data_size,
                 const std::string& data_path)
        : path_(path), data_size_(data_size), data_path_(data_path) {}

    // The entries of the words, in the order of the index, and the short
    // name's entry when there is one.
    void parse(std::string_view text, std::vector<index_entry>& words,
               std::optional<index_entry>& short_name) {
        words.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
        for_each_line(text, [&](std::string_view line) {
            ++line_number_;
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (line.empty()) return;
            const index_entry entry = parse_line(line);
            if (!describes_dictionary(entry.word)) {
                words.push_back(entry);
            } else if (is_short_name(entry.word)) {
                short_name = entry;
            }
        });
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw import_error(path_ + ": line " + std::to_string(line_number_) + ": " + what);
    }

    index_entry parse_line(std::string_view line) {
        const std::size_t tab1 = line.find('\t');
        const std::size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string_view::npos) fail("not word<TAB>offset<TAB>length");
        std::size_t tab3 = line.find('\t', tab2 + 1);  // an original headword may follow
        if (tab3 == std::string_view::npos) tab3 = line.size();
        const std::string_view offset_digits = line.substr(tab1 + 1, tab2 - tab1 - 1);
        const std::string_view length_digits = line.substr(tab2 + 1, tab3 - tab2 - 1);
        const auto offset = decode_number(offset_digits);
        const auto length = decode_number(length_digits);
        if (!offset) fail("offset \"" + std::string(offset_digits) + "\" is not a dictd number");
        if (!length) fail("length \"" + std::string(length_digits) + "\" is not a dictd number");
        if (data_size_ && (*offset > *data_size_ || *length > *data_size_ - *offset)) {
            fail("its article (" + std::to_string(*length) + " bytes at " +
                 std::to_string(*offset) + ") runs past the end of " + data_path_ + " (" +
                 std::to_string(*data_size_) + " bytes)");
        }
        return {line.substr(0, tab1), *offset, *length};
    }

    const std::string& path_;
    std::optional<uint64_t> data_size_;
    const std::string& data_path_;
    std::size_t line_number_ = 0;
};

// The short name's article as one line: its lines trimmed and joined by spaces.
std::string title_from(std::string_view text) {
    std::string title;
    for_each_line(text, [&](std::string_view line) {
        while (!line.empty() && is_space(static_cast<unsigned char>(line.front())))
            line.remove_prefix(1);
        while (!line.empty() && is_space(static_cast<unsigned char>(line.back())))
            line.remove_suffix(1);
        if (line.empty()) return;
        if (!title.empty()) title += ' ';
        title += line;
    });
    return title == unnamed ? std::string() : title;
}

// The characters that stood before `text` on the article's first line, when
// the text begins on that line: what the wrapping of that line counted.
unsigned first_line_taken(std::string_view article, std::string_view text) {
    const std::string_view before = article.substr(0, article.size() - text.size());
    if (before.find('\n') != std::string_view::npos) return 0;
    return static_cast<unsigned>(std::count_if(before.begin(), before.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

// Whether the index keeps the dictionary's spellings as its keys, where
// dictfmt folds them to lower case by default: one key in a hundred or more
// holds a capital (most of GCIDE's do; FreeDict's and WordNet's none).
// Judged on about ten thousand keys spread over the index.
bool keys_are_spellings(const std::vector<index_entry>& words) {
    const std::size_t step = std::max<std::size_t>(1, words.size() / 10000);
    std::size_t looked = 0, capitals = 0;
    for (std::size_t n = 0; n < words.size(); n += step, ++looked)
        capitals += differs_in_case(words[n].word) ? 1 : 0;
    return capitals > 0 && capitals * 100 >= looked;
}

// The width the dictionary's articles were wrapped at, from their first few
// megabytes; 0 when they do not look wrapped.
unsigned find_wrap_width(const std::vector<index_entry>& words, data_file& data) {
    constexpr uint64_t sample_size = 4 << 20;
    wrap_width_finder finder;
    uint64_t sampled = 0;
    const index_entry* previous = nullptr;
    for (const index_entry& entry : words) {
        if (sampled >= sample_size) break;
        if (previous != nullptr && entry.offset == previous->offset) continue;
        if (entry.length > max_raw_size) continue;
        previous = &entry;
        finder.add(data.read(entry.offset, static_cast<std::size_t>(entry.length)));
        sampled += entry.length;
    }
    return finder.width();
}

std::string read_files(const std::string& path, entry_sink& sink) {
    const dictd_files files = find_files(path);
    const std::unique_ptr<data_file> data = open_data_file(files.data);
    const std::string index = read_whole_file(files.index);

    std::vector<index_entry> words;
    std::optional<index_entry> short_name;
    index_parser(files.index, data->size(), files.data).parse(index, words, short_name);

    std::string title;
    if (short_name && short_name->length <= max_raw_size) {
        title = title_from(split_headword(short_name->word,
                                          data->read(short_name->offset,
                                                     static_cast<std::size_t>(short_name->length)))
                               .text);
    }

    const bool spelled_keys = keys_are_spellings(words);  // in the index's order, near in memory

    // In the order of the data, so that each dictzip chunk is inflated once.
    // Keys that share an article stay in the order of the index, in which
    // their text lies in the index's buffer.
    std::sort(words.begin(), words.end(), [](const index_entry& a, const index_entry& b) {
        return a.offset != b.offset ? a.offset < b.offset
                                    : std::less<const char*>()(a.word.data(), b.word.data());
    });
    const unsigned wrap_width = find_wrap_width(words, *data);
    article_source articles(*data, sink, " in " + files.index);
    for (std::size_t n = 0; n < words.size(); ++n) {
        const index_entry& entry = words[n];
        // The keys lie in the index in the order of the words, far apart
        // in the order of the articles.
        if (n + key_prefetch_distance < words.size())
            prefetch(words[n + key_prefetch_distance].word.data());
        const auto article = articles.read(entry.word, entry.offset, entry.length);
        if (!article) continue;
        const headword_split split = split_headword(entry.word, *article, spelled_keys);
        if (split.from_article) sink.headword_taken(differs_in_case(split.word));
        raw_entry raw{split.word, split.text, markup::plain, wrap_width};
        raw.wrap_first_line_taken = first_line_taken(*article, split.text);
        sink.add(raw);
    }
    return title;
}

}  // namespace

headword_split split_headword(std::string_view key, std::string_view article, bool spelled_keys) {
    headword_split split{key, article, false};
    // A line of headwords that dictfmt's --headword-separator split into
    // keys: the one that is this key is the word, and the line goes.
    const std::string_view first = article.substr(0, article.find('\n'));
    if (first.find(';') != std::string_view::npos) {
        for (std::size_t start = 0; start <= first.size();) {
            std::size_t end = first.find(';', start);
            if (end == std::string_view::npos) end = first.size();
            const std::string_view part = trimmed(first.substr(start, end - start));
            // A part in braces is a cross-reference (GCIDE's "n.; pl.;
            // {Refectories}"), not a headword.
            if (!part.empty() && part.front() != '{' && headword_end(key, part) == part.size()) {
                split = {part, after_line(article, first.size()), true};
                // The text below may begin with the headword once more.
                if (const auto again = headword_end(key, split.text))
                    split.text = after_line(split.text, *again);
                return split;
            }
            start = end + 1;
        }
    }
    const std::optional<std::size_t> end = headword_end(key, article);
    if (!end) return split;
    const std::string_view word = headword_text(article.substr(0, *end));
    // In an index of spellings (GCIDE's keeps "e-mail" beside "email", both
    // leading to one article), a key that the headword spells otherwise
    // than in case stays the word; the headword still leaves the text.
    if (!word.empty() && (!spelled_keys || same_but_for_case(key, word))) {
        split.word = word;
        split.from_article = true;
    }
    split.text = after_line(article, *end);
    return split;
}

bool differs_in_case(std::string_view word) {
    for (std::size_t at = 0; at < word.size();) {
        const code_point c = decode_utf8(word, at);
        if (fold_case(c.value) != c.value) return true;
        at += c.size;
    }
    return false;
}

std::string read_dictd(const std::string& path, entry_sink& sink) {
    try {
        return read_files(path, sink);
    } catch (const input_error& error) {
        throw import_error(error.what());
    }
}

}  // namespace lexaro::import
