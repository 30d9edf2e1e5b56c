#include "import/formats/stardict_reader.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "common/big_endian.h"
#include "common/compressed_input.h"
#include "import/formats/article_source.h"

namespace lexaro::import {

namespace {

constexpr std::string_view ifo_magic = "StarDict's dict ifo file";
constexpr std::string_view utf8_bom = "\xef\xbb\xbf";
constexpr uint64_t max_ifo_size = 1 << 20;
constexpr std::size_t field_size_bytes = 4;  // the size before an upper-case field
constexpr std::size_t syn_index_bytes = 4;

struct stardict_files {
    std::string ifo, idx, dict, syn;  // syn is empty when there is none
};

struct ifo_info {
    std::string version, bookname, sametypesequence;
    std::optional<uint64_t> wordcount, synwordcount, idxfilesize;
    int offset_bits = 32;
};

// A word of X.idx or a synonym of X.syn, with its article.
struct word_entry {
    std::string_view word;
    uint64_t offset;
    uint32_t size;
};

bool ends_with(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string first_existing(const std::string& base, std::initializer_list<const char*> suffixes,
                           const std::string& ifo) {
    std::string names;
    for (const char* suffix : suffixes) {
        if (file_exists(base + suffix)) return base + suffix;
        names += (names.empty() ? "" : " nor ") + base + suffix;
    }
    throw import_error(ifo + ": neither " + names + " lies beside it");
}

stardict_files find_files(const std::string& path) {
    for (const std::string_view suffix :
         {".ifo", ".idx", ".idx.gz", ".dict", ".dict.dz", ".syn", ".syn.dz"}) {
        if (!ends_with(path, suffix)) continue;
        const std::string base = path.substr(0, path.size() - suffix.size());
        stardict_files files;
        files.ifo = base + ".ifo";
        if (!file_exists(files.ifo)) throw import_error("can't open file " + files.ifo);
        files.idx = first_existing(base, {".idx", ".idx.gz"}, files.ifo);
        files.dict = first_existing(base, {".dict", ".dict.dz"}, files.ifo);
        for (const char* syn : {".syn", ".syn.dz"}) {
            if (files.syn.empty() && file_exists(base + syn)) files.syn = base + syn;
        }
        return files;
    }
    throw import_error(path + ": a StarDict dictionary is named X.ifo, with X.idx and X.dict");
}

std::optional<uint64_t> parse_count(std::string_view digits) {
    if (digits.empty() || digits.size() > 18) return std::nullopt;
    uint64_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// --- X.ifo ----------------------------------------------------------------------

class ifo_parser {
public:
    explicit ifo_parser(const std::string& path) : path_(path) {}

    ifo_info parse() {
        whole_ = read_whole_file(path_, max_ifo_size);
        std::string_view text = whole_;
        if (text.substr(0, utf8_bom.size()) == utf8_bom) text.remove_prefix(utf8_bom.size());
        bool first = true;
        while (!text.empty()) {
            std::size_t end = text.find('\n');
            if (end == std::string_view::npos) end = text.size();
            std::string_view line = text.substr(0, end);
            text.remove_prefix(std::min(text.size(), end + 1));
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            if (first && line != ifo_magic)
                fail("its first line is not \"" + std::string(ifo_magic) + "\"");
            if (!first) take(line);
            first = false;
        }
        if (first) fail("it is empty");
        check();
        return info_;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw import_error(path_ + ": " + what);
    }

    std::optional<uint64_t> count(std::string_view key, std::string_view value) const {
        const auto number = parse_count(value);
        if (!number) fail(std::string(key) + "=" + std::string(value) + " is not a count");
        return number;
    }

    void take(std::string_view line) {
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) return;
        const std::string_view key = trimmed(line.substr(0, equals));
        const std::string_view value = trimmed(line.substr(equals + 1));
        if (key == "version")
            info_.version = value;
        else if (key == "bookname")
            info_.bookname = value;
        else if (key == "sametypesequence")
            info_.sametypesequence = value;
        else if (key == "wordcount")
            info_.wordcount = count(key, value);
        else if (key == "synwordcount")
            info_.synwordcount = count(key, value);
        else if (key == "idxfilesize")
            info_.idxfilesize = count(key, value);
        else if (key == "idxoffsetbits") {
            if (value != "32" && value != "64")
                fail("idxoffsetbits is " + std::string(value) + ", not 32 or 64");
            info_.offset_bits = value == "64" ? 64 : 32;
        }
    }

    void check() const {
        if (info_.version != "2.4.2" && info_.version != "3.0.0")
            fail("version \"" + info_.version + "\" is neither 2.4.2 nor 3.0.0");
        if (info_.offset_bits == 64 && info_.version != "3.0.0")
            fail("idxoffsetbits=64 needs version 3.0.0");
        if (info_.bookname.empty()) fail("it gives no bookname");
        if (!info_.wordcount) fail("it gives no wordcount");
        if (!info_.idxfilesize) fail("it gives no idxfilesize");
        for (const char type : info_.sametypesequence) {
            if (!std::isalpha(static_cast<unsigned char>(type)))
                fail("sametypesequence holds '" + std::string(1, type) + "', not a field type");
        }
    }

    const std::string& path_;
    std::string whole_;
    ifo_info info_;
};

// --- X.idx and X.syn --------------------------------------------------------------

constexpr std::size_t index_piece_size = 1 << 20;

// X.idx or X.syn, plain or compressed with gzip or dictzip, read a piece at
// a time.
class index_source {
public:
    explicit index_source(const std::string& path) : file_(path) {
        char magic[2];
        if (file_.read_at(0, magic, 2) == 2 && looks_like_gzip(std::string_view(magic, 2)))
            gzip_ = std::make_unique<gzip_stream>(path);
    }
    bool compressed() const { return gzip_ != nullptr; }
    std::size_t read(char* out, std::size_t size) {
        if (gzip_) return gzip_->read(out, size);
        const std::size_t got = file_.read_at(offset_, out, size);
        offset_ += got;
        return got;
    }

private:
    input_file file_;
    std::unique_ptr<gzip_stream> gzip_;
    uint64_t offset_ = 0;
};

// Reads the records of X.idx or X.syn (a zero-terminated word, then
// `fixed_size` bytes) into `bytes` a piece at a time, handing each whole
// record to take(word, fields) as soon as its piece is read; take() adds
// the words it keeps to `words`, viewing them in `bytes`. So a file that
// holds more than its .ifo says is stopped where it passes that, never read
// whole: past max_bytes, or where take() throws at one word too many. Gives
// the bytes left over at the end, a record cut short.
template <typename Take>
std::size_t read_records(index_source& source, const std::string& path, std::size_t fixed_size,
                         std::optional<uint64_t> max_bytes, std::string& bytes,
                         std::vector<word_entry>& words, Take take) {
    const std::size_t first_word = words.size();
    std::size_t at = 0, searched = 0;
    for (;;) {
        const char* const old_data = bytes.data();
        const std::size_t used = bytes.size();
        bytes.resize(used + index_piece_size);
        const std::size_t got = source.read(&bytes[used], index_piece_size);
        bytes.resize(used + got);
        if (max_bytes && bytes.size() > *max_bytes) {
            throw import_error(path + (source.compressed() ? " inflates to more than "
                                                           : " is larger than ") +
                               std::to_string(*max_bytes) + " bytes");
        }
        if (bytes.data() != old_data) {
            for (std::size_t i = first_word; i < words.size(); ++i) {
                const std::size_t word_at = static_cast<std::size_t>(words[i].word.data() - old_data);
                words[i].word = std::string_view(bytes).substr(word_at, words[i].word.size());
            }
        }
        if (got == 0) return bytes.size() - at;
        for (;;) {
            const void* zero = std::memchr(bytes.data() + searched, 0, bytes.size() - searched);
            if (zero == nullptr) {
                searched = bytes.size();
                break;
            }
            const auto word_end = static_cast<std::size_t>(static_cast<const char*>(zero) - bytes.data());
            if (bytes.size() - word_end - 1 < fixed_size) {
                searched = word_end;
                break;
            }
            take(std::string_view(bytes).substr(at, word_end - at),
                 reinterpret_cast<const uint8_t*>(bytes.data() + word_end + 1));
            at = searched = word_end + 1 + fixed_size;
        }
    }
}

std::vector<word_entry> parse_idx(const stardict_files& files, const ifo_info& info,
                                  std::string& bytes, std::optional<uint64_t> dict_size) {
    const std::size_t offset_bytes = info.offset_bits / 8;
    std::vector<word_entry> words;
    words.reserve(static_cast<std::size_t>(std::min<uint64_t>(*info.wordcount, 1 << 20)));
    index_source source(files.idx);
    const std::size_t left = read_records(
        source, files.idx, offset_bytes + 4, info.idxfilesize, bytes, words,
        [&](std::string_view word, const uint8_t* numbers) {
            const uint64_t offset = offset_bytes == 8
                                        ? (uint64_t{get_u32(numbers)} << 32) | get_u32(numbers + 4)
                                        : get_u32(numbers);
            const uint32_t size = get_u32(numbers + offset_bytes);
            if (dict_size && (offset > *dict_size || size > *dict_size - offset)) {
                throw import_error(files.idx + ": word " + std::to_string(words.size() + 1) +
                                   " (" + std::string(word) + "): its article (" +
                                   std::to_string(size) + " bytes at " + std::to_string(offset) +
                                   ") runs past the end of " + files.dict + " (" +
                                   std::to_string(*dict_size) + " bytes)");
            }
            if (words.size() == *info.wordcount) {
                throw import_error(files.idx + " holds more words than its .ifo says (wordcount=" +
                                   std::to_string(*info.wordcount) + ")");
            }
            words.push_back({word, offset, size});
        });
    if (bytes.size() != *info.idxfilesize) {
        throw import_error(files.idx + " holds " + std::to_string(bytes.size()) +
                           " bytes, its .ifo says idxfilesize=" +
                           std::to_string(*info.idxfilesize));
    }
    if (left > 0)
        throw import_error(files.idx + ": word " + std::to_string(words.size() + 1) +
                           " is cut short");
    if (words.size() != *info.wordcount) {
        throw import_error(files.idx + " holds " + std::to_string(words.size()) +
                           " words, its .ifo says wordcount=" + std::to_string(*info.wordcount));
    }
    return words;
}

// Adds each synonym, with the article of the word it points at.
void parse_syn(const std::string& path, const ifo_info& info, std::string& bytes,
               std::vector<word_entry>& words) {
    const std::size_t word_count = words.size();
    uint64_t count = 0;
    index_source source(path);
    const std::size_t left = read_records(
        source, path, syn_index_bytes, std::nullopt, bytes, words,
        [&](std::string_view word, const uint8_t* numbers) {
            ++count;
            const uint32_t index = get_u32(numbers);
            if (index >= word_count) {
                throw import_error(path + ": synonym " + std::to_string(count) + " (" +
                                   std::string(word) + ") points at word " +
                                   std::to_string(index) + ", past the " +
                                   std::to_string(word_count) + " words of the index");
            }
            if (info.synwordcount && count > *info.synwordcount) {
                throw import_error(path + " holds more synonyms than its .ifo says (synwordcount=" +
                                   std::to_string(*info.synwordcount) + ")");
            }
            words.push_back({word, words[index].offset, words[index].size});
        });
    if (left > 0)
        throw import_error(path + ": synonym " + std::to_string(count + 1) + " is cut short");
    if (info.synwordcount && count != *info.synwordcount) {
        throw import_error(
            path + " holds " + std::to_string(count) +
            " synonyms, its .ifo says synwordcount=" + std::to_string(*info.synwordcount));
    }
}

// --- Articles -------------------------------------------------------------------

bool is_lower(char type) { return type >= 'a' && type <= 'z'; }
bool is_upper(char type) { return type >= 'A' && type <= 'Z'; }

std::optional<markup> text_kind(char type) {
    switch (type) {
        case 'm':
        case 't':
            return markup::plain;
        case 'g':
        case 'h':
            return markup::html;
        case 'x':
            return markup::xdxf;
        default:
            return std::nullopt;
    }
}

void append_escaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
}

// Takes an article apart into its fields and gives the text ones as one
// definition.
class article_reader {
public:
    article_reader(const std::string& path, std::string_view sametypesequence)
        : path_(path), types_(sametypesequence) {}

    // The text of the article, or none when it holds no text field. The
    // fields are taken apart twice rather than kept, so that an article of
    // millions of one-byte fields costs no memory beyond its text.
    std::optional<raw_entry> read(std::string_view word, std::string_view article) {
        word_ = word;
        const field* first_text = nullptr;
        field first{};
        std::size_t text_count = 0;
        markup kind = markup::plain;
        for_each_field(article, [&](const field& f) {
            const auto field_kind = text_kind(f.type);
            if (!field_kind) return;
            if (first_text == nullptr) {
                first = f;
                first_text = &first;
            }
            ++text_count;
            if (kind == markup::plain) kind = *field_kind;
        });
        if (first_text == nullptr) return std::nullopt;
        if (text_count == 1) return raw_entry{word, first.data, kind};
        joined_.clear();
        bool any = false;
        for_each_field(article, [&](const field& f) {
            const auto field_kind = text_kind(f.type);
            if (!field_kind || joined_.size() > max_raw_size) return;
            if (any) joined_ += '\n';
            any = true;
            if (*field_kind == markup::plain && kind != markup::plain) {
                append_escaped(joined_, f.data);
            } else {
                joined_ += f.data;
            }
        });
        return raw_entry{word, joined_, kind};
    }

private:
    struct field {
        char type;
        std::string_view data;
    };

    [[noreturn]] void fail(const std::string& what) const {
        throw import_error(path_ + ": the article of \"" + std::string(word_) + "\": " + what);
    }

    // A field of the given type at the start of `rest`; `last` when nothing
    // follows it in the article, so that its end is the article's end.
    field take(char type, std::string_view& rest, bool last) {
        if (last) {
            // StarDict shows a text field up to a zero byte that ends it anyway.
            std::string_view data = rest;
            if (is_lower(type) && !data.empty() && data.back() == '\0') data.remove_suffix(1);
            rest = {};
            return {type, data};
        }
        if (is_lower(type)) {
            const std::size_t zero = rest.find('\0');
            if (zero == std::string_view::npos)
                fail(std::string("its field '") + type + "' has no ending zero byte");
            const field text{type, rest.substr(0, zero)};
            rest.remove_prefix(zero + 1);
            return text;
        }
        if (rest.size() < field_size_bytes)
            fail(std::string("its field '") + type + "' is cut short");
        const uint32_t size = get_u32(reinterpret_cast<const uint8_t*>(rest.data()));
        rest.remove_prefix(field_size_bytes);
        if (size > rest.size())
            fail(std::string("its field '") + type + "' of " + std::to_string(size) +
                 " bytes runs past the article's end");
        const field data{type, rest.substr(0, size)};
        rest.remove_prefix(size);
        return data;
    }

    // Hands each field of the article to `use` in order. With a
    // sametypesequence the types are not stored, and the last field runs to
    // the end of the article. Otherwise each field is its type byte, then the
    // field; a text field that ends the article without its zero byte is
    // taken as it is.
    template <typename Use>
    void for_each_field(std::string_view rest, Use use) {
        if (!types_.empty()) {
            for (std::size_t i = 0; i < types_.size(); ++i)
                use(take(types_[i], rest, i + 1 == types_.size()));
            return;
        }
        while (!rest.empty()) {
            const char type = rest.front();
            rest.remove_prefix(1);
            if (!is_lower(type) && !is_upper(type)) {
                fail("field type byte " + std::to_string(static_cast<unsigned char>(type)) +
                     " is not a letter");
            }
            const bool unterminated = is_lower(type) && rest.find('\0') == std::string_view::npos;
            use(take(type, rest, unterminated));
        }
    }

    const std::string& path_;
    std::string_view types_;
    std::string_view word_;
    std::string joined_;
};

std::string read_files(const std::string& path, entry_sink& sink) {
    const stardict_files files = find_files(path);
    const ifo_info info = ifo_parser(files.ifo).parse();
    const std::unique_ptr<data_file> dict = open_data_file(files.dict);
    std::string idx, syn;
    std::vector<word_entry> words = parse_idx(files, info, idx, dict->size());
    if (!files.syn.empty()) parse_syn(files.syn, info, syn, words);

    // In the order of the data, so that each dictzip chunk is inflated once;
    // words that share an article stay in the order of X.idx, then X.syn.
    std::stable_sort(words.begin(), words.end(),
                     [](const word_entry& a, const word_entry& b) { return a.offset < b.offset; });
    article_reader reader(files.dict, info.sametypesequence);
    article_source articles(*dict, sink, "");
    for (const word_entry& entry : words) {
        const auto article = articles.read(entry.word, entry.offset, entry.size);
        if (!article) continue;
        const auto text = reader.read(entry.word, *article);
        if (!text)
            sink.skipped("articles with no text field", files.dict, 0);
        else if (text->definition.size() > max_raw_size)
            sink.too_large(entry.word, text->definition.size());
        else
            sink.add(*text);
    }
    return info.bookname;
}

}  // namespace

std::string read_stardict(const std::string& path, entry_sink& sink) {
    try {
        return read_files(path, sink);
    } catch (const input_error& error) {
        throw import_error(error.what());
    }
}

}  // namespace lexaro::import
