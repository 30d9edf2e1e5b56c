// MDict dictionaries (X.mdx). Engine versions 1.x and 2.0: a header of XML
// attributes in UTF-16, a keyword section (the key-block index and the key
// blocks, each key with the offset of its record) and a record section (the
// record blocks, which concatenated hold every record). Engine 3.0: a UTF-8
// header, then four units (record blocks, their index, key blocks, their
// index), each block framed by its sizes and the head of its data
// enciphered with a key from the header's UUID. Blocks are stored, LZO1X or
// zlib, each with the Adler-32 of its data; every count, size and checksum
// is checked against the bytes there, so that a damaged file stops the run
// instead of losing or shifting entries.
//
// The file is read twice at most: once in the order of its records, handing
// every entry on as it comes; then, when some records are references
// (@@@LINK=other), once more for just the blocks that hold the records they
// lead to. Memory holds the keys that give words and one record at a time:
// blocks are inflated a piece at a time, whatever size they claim.
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/big_endian.h"
#include "common/charset.h"
#include "common/compressed_input.h"
#include "import/formats/lzo1x.h"
#include "import/formats/mdict_ciphers.h"
#include "import/formats/readers.h"
#include "import/formats/ripemd128.h"
#include "import/markup_text.h"
#include "import/word_folding.h"

namespace lexaro::import {

namespace {

// --- The layout --------------------------------------------------------------------

constexpr std::size_t header_size_bytes = 4;      // the header's length, before it
constexpr std::size_t header_checksum_bytes = 4;  // its Adler-32, after it, little-endian
constexpr std::size_t checksum_bytes = 4;         // every other Adler-32, big-endian
constexpr std::size_t block_prefix_bytes = 8;     // a block's type word (LE) and Adler-32
constexpr std::size_t block_checksum_at = 4;      // where the Adler-32 lies in that prefix
constexpr uint32_t compression_bits = 0x0F;       // the type word's low bits; the rest are 0
enum compression : uint32_t { stored_block = 0, lzo_block = 1, zlib_block = 2 };
constexpr std::size_t keyword_numbers_v1 = 4;  // key blocks, entries, index size, key blocks' size
constexpr std::size_t keyword_numbers_v2 = 5;  // and the index's inflated size, then a checksum
constexpr std::size_t record_numbers = 4;      // record blocks, entries, table size, blocks' size
constexpr std::size_t first_v2_major = 2;      // numbers of 8 bytes from here on, 4 before
constexpr std::size_t first_v3_major = 3;      // a <ZDB> header, and units in the body
// Engine 3.0's body: four units, each a header (its type, 4 bytes LE; its
// length from byte 12 on; its count of blocks; the size of its blocks),
// its blocks, each framed by its inflated and stored sizes (4 bytes each),
// and a framed info block, one XML element that counts what the unit holds.
enum unit_type : uint32_t { record_data = 1, record_index = 2, key_data = 3, key_index = 4 };
constexpr std::size_t unit_header_bytes = 24;
constexpr std::size_t unit_length_from = 12;
constexpr std::size_t frame_bytes = 8;
constexpr std::size_t record_index_row_bytes = 16;  // a record block's framed and inflated sizes
constexpr uint64_t most_info_bytes = 1 << 16;       // an info block is one short element
enum cipher : unsigned { no_cipher = 0, simple_cipher = 1, salsa_cipher = 2 };
// The names of the compressions that MDict's own library knows beyond
// those above; no writer is known to use them.
constexpr const char* v3_compression_names[] = {"", "", "", " (LZMA)", " (bzip2)", " (LZ4)"};
// Encrypted="N": bit 0, the keyword section enciphered with a registration
// key; bit 1, the key-block index scrambled with a key from its checksum.
constexpr unsigned registered_user_bit = 1, scrambled_index_bit = 2;
constexpr std::string_view index_key_salt{"\x95\x36\x00\x00", 4};  // 0x3695, little-endian
// How much a block's data may grow when inflated: deflate's best ratio
// (LZO1X's is lower), and a little over for tiny blocks.
constexpr uint64_t most_inflated_per_byte = 1032;
constexpr uint64_t inflated_slack = 64;
constexpr uint64_t max_header_size = 1 << 24;
constexpr std::string_view dictionary_element = "<Dictionary";
constexpr std::string_view v3_element = "<ZDB";                  // in UTF-8, X.mdd too
constexpr std::string_view resources_element = "<Library_Data";  // X.mdd
constexpr std::string_view link_mark = "@@@LINK=";
constexpr std::string_view link_scheme = "entry://";  // an HTML link to another word
constexpr std::string_view untitled = "Title (No HTML code allowed)";  // the writer's placeholder

// References lead through at most this many others before one with a
// translation, and give a word the translations of at most this many
// records of the word they name: enough for any dictionary, and a bound on
// what a hostile file can make of a few bytes.
constexpr unsigned max_reference_steps = 16;
constexpr std::size_t max_referred_records = 32;
// The summary's words for references whose chain is cut at its last step.
const std::string too_long_chain =
    "references that lead through more than " + std::to_string(max_reference_steps) + " others";

// The most bytes a block is inflated into at a time: more than any block
// that MDict's writers make, so that a sound block is checked whole before
// any of its bytes leave, and a bound on what one that lies can cost.
constexpr std::size_t block_piece_bytes = 1 << 20;

// A build for fuzzing lets data through whatever their checksums say, so
// that the fuzzer reaches the parsing that the checksums guard.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr bool checksums_checked = false;
#else
constexpr bool checksums_checked = true;
#endif

const std::string mdd_refusal = " holds pictures and sounds, not words; import the .mdx";
const std::string registered_refusal =
    " is enciphered for one registered user: it cannot be read without that user's key";

// --- Small helpers -----------------------------------------------------------------

uint64_t get_number(const uint8_t* p, std::size_t size) {
    uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = value << 8 | p[i];
    return value;
}

uint32_t get_le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t adler(std::string_view bytes) {
    uLong sum = adler32(0, nullptr, 0);
    while (!bytes.empty()) {
        const std::size_t piece = std::min<std::size_t>(bytes.size(), 1 << 30);
        sum = adler32(sum, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(piece));
        bytes.remove_prefix(piece);
    }
    return static_cast<uint32_t>(sum);
}

std::string upper_without_dashes(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '-' || c == '_' || c == ' ') continue;
        out += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return out;
}

bool same_letters(std::string_view a, std::string_view b) {
    return upper_without_dashes(a) == upper_without_dashes(b);
}

// Whether the name ends so, in any case.
bool ends_with(std::string_view text, std::string_view end) {
    if (text.size() < end.size()) return false;
    text.remove_prefix(text.size() - end.size());
    for (std::size_t i = 0; i < end.size(); ++i)
        if ((text[i] | 0x20) != (end[i] | 0x20)) return false;
    return true;
}

std::string_view trimmed(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

std::string hex32(uint32_t value) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) out += digits[(value >> shift) & 0xF];
    return out;
}

const std::string gb18030 = "GB18030";

// The character set to decode with, as this system's converters name it, for
// the names MDict's header gives; "" for UTF-8, which needs none.
std::string decoder_name(std::string_view encoding) {
    const std::string name = upper_without_dashes(encoding);
    if (name.empty() || name == "UTF8") return "";
    if (name == "UTF16" || name == "UTF16LE" || name == "UNICODE") return "UTF-16LE";
    if (name == "UTF16BE") return "UTF-16BE";
    // GB18030 holds GBK, which holds GB2312: one set reads all three.
    if (name == "GBK" || name == "GB2312" || name == "GB18030" || name == "CP936" ||
        name == "EUCCN")
        return gb18030;
    if (name == "BIG5" || name == "CP950") return "BIG5";
    return std::string(encoding);
}

// The text of an XML attribute value with its character references decoded.
std::string unescaped(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size();) {
        const std::size_t taken = value[i] == '&' ? decode_entity(value, i, out) : 0;
        if (taken == 0) out += value[i];
        i += std::max<std::size_t>(taken, 1);
    }
    return out;
}

// The text without its HTML tags: titles may hold some.
std::string without_tags(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::size_t close = text[i] == '<' ? text.find('>', i) : std::string_view::npos;
        if (close == std::string_view::npos)
            out += text[i];
        else
            i = close;
    }
    return out;
}

// The name="value" pairs of the header's one element, found by a tolerant
// scan rather than an XML parser: values may hold newlines and entities.
std::vector<std::pair<std::string, std::string>> attributes_of(std::string_view element) {
    std::vector<std::pair<std::string, std::string>> found;
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t i = element.find_first_of(" \t\r\n/>");
    while (i < element.size()) {
        while (i < element.size() && space(element[i])) ++i;
        if (i >= element.size() || element[i] == '/' || element[i] == '>') break;
        const std::size_t name_start = i;
        while (i < element.size() && !space(element[i]) && element[i] != '=' && element[i] != '/' &&
               element[i] != '>')
            ++i;
        const std::string_view name = element.substr(name_start, i - name_start);
        while (i < element.size() && space(element[i])) ++i;
        if (i >= element.size() || element[i] != '=') continue;  // a name without a value
        ++i;
        while (i < element.size() && space(element[i])) ++i;
        std::string_view value;
        if (i < element.size() && (element[i] == '"' || element[i] == '\'')) {
            const char quote = element[i++];
            std::size_t end = element.find(quote, i);
            if (end == std::string_view::npos) end = element.size();
            value = element.substr(i, end - i);
            i = end + 1;
        } else {
            const std::size_t start = i;
            while (i < element.size() && !space(element[i]) && element[i] != '>') ++i;
            value = element.substr(start, i - start);
        }
        found.emplace_back(std::string(name), unescaped(value));
    }
    return found;
}

// --- Blocks ---------------------------------------------------------------------

// The bytes of one block, inflated a piece at a time: stored data whole (they
// are bytes of the file), zlib and LZO1X data in pieces of at most
// block_piece_bytes, so that a block claiming gigabytes costs no more memory
// than one of a kilobyte. Inflation stops one byte past the size the block
// claims. Its size and checksum are checked as its last piece is made,
// before that piece is given: a block that fits in one piece is checked
// before any of its bytes leave.
class block_data {
public:
    using failure = std::function<void(const std::string&)>;

    explicit block_data(failure fail) : fail_(std::move(fail)) {
        if (inflateInit(&z_) != Z_OK) fail_("zlib cannot start");
    }
    ~block_data() { inflateEnd(&z_); }
    block_data(const block_data&) = delete;
    block_data& operator=(const block_data&) = delete;

    // data: what follows the block's prefix, held by the caller until the
    // last piece is given; checksum: the Adler-32 of the inflated bytes, or
    // nothing where it was checked on the stored ones.
    void open(std::string_view data, uint32_t compression, uint64_t inflated,
              std::optional<uint32_t> checksum, std::string part) {
        part_ = std::move(part);
        if (compression != stored_block &&
            inflated > data.size() * most_inflated_per_byte + inflated_slack)
            fail(": its index says that its " + std::to_string(data.size()) + " bytes inflate to " +
                 std::to_string(inflated) + ", more than any data can");
        if (inflated > std::numeric_limits<std::size_t>::max() / 2)
            fail(": " + std::to_string(inflated) + " bytes are more than this system can hold");
        data_ = data;
        compression_ = compression;
        size_ = static_cast<std::size_t>(inflated);
        checksum_ = checksum;
        made_ = 0;
        sum_ = adler32(0, nullptr, 0);
        done_ = false;
        lzo_.reset();
        switch (compression) {
            case stored_block:
                break;
            case lzo_block:
                lzo_.emplace(data, size_, block_piece_bytes);
                break;
            case zlib_block:
                inflateReset(&z_);
                z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
                z_.avail_in = 0;
                fed_ = 0;
                break;
            default:
                fail(": its compression, " + std::to_string(compression) +
                     ", is none of 0 (stored), 1 (LZO) and 2 (zlib)");
        }
    }

    // The next piece; empty only once the block is done and checked.
    std::string_view next() {
        if (done_) return {};
        switch (compression_) {
            case stored_block: {
                if (data_.size() != size_)
                    fail(": it holds " +
                         (data_.size() > size_ ? "more than " + std::to_string(size_)
                                               : std::to_string(data_.size())) +
                         " bytes, its index says " + std::to_string(size_));
                made_ = size_;
                sum_ = adler(data_);
                finish();
                return data_;
            }
            case lzo_block: {
                const std::string_view piece = lzo_->next();
                if (lzo_->result() == lzo_result::output_too_large) too_many();
                if (lzo_->result() != lzo_result::ok)
                    fail(std::string(": ") + lzo_problem(lzo_->result()));
                made_ = lzo_->made();
                sum_ = add_to_adler(sum_, piece);
                if (lzo_->finished()) finish();
                return piece;
            }
            default:
                return inflate_piece();
        }
    }

    bool done() const { return done_; }

private:
    [[noreturn]] void fail(const std::string& what) const {
        fail_(part_ + what);
        std::abort();  // fail_ throws
    }

    [[noreturn]] void too_many() const {
        fail(": it inflates to more than " + std::to_string(size_) + " bytes, its index says " +
             std::to_string(size_));
    }

    static uLong add_to_adler(uLong sum, std::string_view bytes) {
        while (!bytes.empty()) {
            const std::size_t piece = std::min<std::size_t>(bytes.size(), 1 << 30);
            sum = adler32(sum, reinterpret_cast<const Bytef*>(bytes.data()),
                          static_cast<uInt>(piece));
            bytes.remove_prefix(piece);
        }
        return sum;
    }

    // The block's size and checksum, once it has made all it makes.
    void finish() {
        if (made_ != size_)
            fail(": it inflates to " + std::to_string(made_) + " bytes, its index says " +
                 std::to_string(size_));
        if (checksums_checked && checksum_ && sum_ != *checksum_) fail(": its checksum is wrong");
        done_ = true;
    }

    // Inflates zlib data into a piece, up to one byte past the block's size
    // (a byte there shows data that make more).
    std::string_view inflate_piece() {
        const std::size_t want = std::min<std::size_t>(block_piece_bytes, size_ + 1 - made_);
        if (piece_.size() < want) piece_.resize(want);
        std::size_t got = 0;
        bool ended = false;
        while (got < want) {
            if (z_.avail_in == 0 && fed_ < data_.size()) {
                const std::size_t piece = std::min<std::size_t>(data_.size() - fed_, 1 << 30);
                z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data_.data() + fed_));
                z_.avail_in = static_cast<uInt>(piece);
                fed_ += piece;
            }
            const std::size_t room = std::min<std::size_t>(want - got, 1 << 30);
            z_.next_out = reinterpret_cast<Bytef*>(&piece_[got]);
            z_.avail_out = static_cast<uInt>(room);
            const int status = inflate(&z_, Z_NO_FLUSH);
            got += room - z_.avail_out;
            if (status == Z_STREAM_END) {
                if (z_.avail_in > 0 || fed_ < data_.size())
                    fail(": bytes follow the end of its zlib data");
                ended = true;
                break;
            }
            if (status == Z_BUF_ERROR && z_.avail_in == 0 && fed_ == data_.size())
                fail(": its zlib data end early");
            if (status != Z_OK && status != Z_BUF_ERROR)
                fail(": its zlib data are damaged (" +
                     (z_.msg != nullptr ? z_.msg : "zlib error " + std::to_string(status)) + ")");
        }
        made_ += got;
        if (made_ > size_) too_many();
        if (ended) {
            sum_ = z_.adler;  // zlib reckons it on the way, and checks it against the stream's
            finish();
        }
        return std::string_view(piece_).substr(0, got);
    }

    failure fail_;
    z_stream z_{};
    std::string part_;
    std::string_view data_;
    uint32_t compression_ = stored_block;
    std::size_t size_ = 0, made_ = 0, fed_ = 0;
    std::optional<uint32_t> checksum_;
    uLong sum_ = 0;
    bool done_ = true;
    std::optional<lzo1x_stream> lzo_;
    std::string piece_;
};

// A block's bytes in order for a parser, whatever pieces they come in.
class block_bytes {
public:
    // open_next, where the bytes run on through several blocks: opens the
    // next one into data, or says there is none.
    explicit block_bytes(block_data& data, std::function<bool()> open_next = {})
        : data_(data), open_next_(std::move(open_next)) {}

    // Whether the block has no bytes left (the block is then done and checked).
    bool at_end() { return !fill(); }

    // The next n bytes; fewer only where the block ends first.
    std::string_view take(std::size_t n) {
        fill();
        if (rest_.size() >= n) {
            const std::string_view out = rest_.substr(0, n);
            rest_.remove_prefix(n);
            return out;
        }
        joined_.assign(rest_);
        rest_ = {};
        while (joined_.size() < n && fill()) {
            const std::size_t part = std::min(n - joined_.size(), rest_.size());
            joined_.append(rest_.substr(0, part));
            rest_.remove_prefix(part);
        }
        return joined_;
    }

    // Passes over n bytes; false where the block ends first.
    bool skip(uint64_t n) {
        while (n > 0) {
            if (!fill()) return false;
            const auto part = static_cast<std::size_t>(std::min<uint64_t>(n, rest_.size()));
            rest_.remove_prefix(part);
            n -= part;
        }
        return true;
    }

    // The bytes up to a terminator, a zero unit of `unit` bytes, passed over
    // with it: the first `most` of them appended to out, all counted in
    // size. False where the block ends first.
    bool until_zero(std::size_t unit, std::string& out, std::size_t most, uint64_t& size) {
        size = 0;
        const auto keep = [&](std::string_view bytes) {
            size += bytes.size();
            if (out.size() < most) out.append(bytes.substr(0, most - out.size()));
        };
        for (;;) {
            if (!fill()) return false;
            if (unit == 1) {
                const void* zero = std::memchr(rest_.data(), 0, rest_.size());
                const std::size_t n =
                    zero == nullptr
                        ? rest_.size()
                        : static_cast<std::size_t>(static_cast<const char*>(zero) - rest_.data());
                keep(rest_.substr(0, n));
                rest_.remove_prefix(n);
                if (zero != nullptr) {
                    rest_.remove_prefix(1);
                    return true;
                }
                continue;
            }
            if (rest_.size() < 2) {  // a unit across two pieces
                const std::string_view pair = take(2);
                if (pair.size() < 2) return false;
                if (pair[0] == 0 && pair[1] == 0) return true;
                keep(pair);
                continue;
            }
            std::size_t i = 0;
            while (i + 1 < rest_.size() && (rest_[i] != 0 || rest_[i + 1] != 0)) i += 2;
            keep(rest_.substr(0, i));
            if (i + 1 < rest_.size()) {
                rest_.remove_prefix(i + 2);
                return true;
            }
            rest_.remove_prefix(i);
        }
    }

private:
    bool fill() {
        while (rest_.empty()) {
            if (!data_.done())
                rest_ = data_.next();
            else if (!open_next_ || !open_next_())
                return false;
        }
        return true;
    }

    block_data& data_;
    std::function<bool()> open_next_;
    std::string_view rest_;
    std::string joined_;
};

// --- The reader --------------------------------------------------------------------

// Marks an entry kept only for where its record starts, which ends the
// record of the entry before it: its key gives no word.
constexpr uint32_t no_word = UINT32_MAX;

struct entry {
    uint64_t record;  // where its record starts in the records, all blocks concatenated
    uint64_t key_at;  // its key, made UTF-8, in the reader's keys
    uint32_t key_size;
    uint32_t link = 0;  // 1 + its place among the references; 0 when its record is none
};

struct reference {
    uint32_t entry;
    uint32_t target_size : 31;
    uint32_t by_entry_link : 1;  // the record is an <a href="entry://..."> link, not @@@LINK=
    uint64_t target_at;          // the word it names, in the reader's targets
};

// A block of the file: where it lies, and what it inflates to.
struct block_place {
    uint64_t at, stored;
    uint64_t start, size;  // in the concatenated data of its kind
};

struct style {
    std::string begin, end;
};

// The text without its style marks ("`1`", a number of one to five digits
// between backquotes), where the header has no style sheet to give them
// texts: MDict shows none of them. Gives text itself when it holds none.
std::string_view without_style_marks(std::string_view text, std::string& out) {
    std::size_t at = 0;  // the start of what is not yet copied
    bool any = false;
    for (std::size_t mark = text.find('`'); mark != std::string_view::npos;
         mark = text.find('`', mark + 1)) {
        std::size_t end = mark + 1;
        while (end < text.size() && end - mark < 6 && text[end] >= '0' && text[end] <= '9') ++end;
        if (end == mark + 1 || end >= text.size() || text[end] != '`') continue;
        if (!any) out.clear();
        any = true;
        out.append(text, at, mark - at);
        at = end + 1;
        mark = end;
    }
    if (!any) return text;
    out.append(text, at, std::string_view::npos);
    return out;
}

class mdict_reader {
public:
    mdict_reader(const std::string& path, const reader_options& options, entry_sink& sink)
        : path_(path), options_(options), sink_(sink) {
        if (ends_with(path_, ".mdd")) throw import_error(path_ + mdd_refusal);
        file_ = std::make_unique<input_file>(path_);
        size_ = file_->size();
    }
    mdict_reader(const mdict_reader&) = delete;
    mdict_reader& operator=(const mdict_reader&) = delete;

    std::string read() {
        const uint64_t body_at = read_header();
        if (v3_)
            read_units(body_at);
        else
            read_keys(body_at);
        read_records();
        follow_references();
        if (decoder_) {
            std::string line = "read as " + decoder_->name();
            if (decoder_->invalid() > 0)
                line += ", " + std::to_string(decoder_->invalid()) +
                        " bytes that are no character of it read as U+FFFD";
            sink_.note("input", line);
        }
        if (followed_ > 0)
            sink_.note("references",
                       std::to_string(followed_) +
                           " words given the translation of the word they refer to" +
                           (followed_by_links_ > 0 ? ", " + std::to_string(followed_by_links_) +
                                                         " of them by an entry:// link"
                                                   : ""));
        return title_;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw import_error(path_ + ": " + what);
    }

    block_data::failure failure() const {
        return [this](const std::string& what) { fail(what); };
    }

    std::string at_byte(uint64_t at) const { return " (at byte " + std::to_string(at) + ")"; }

    // For messages: "record block 3 (at byte 1234)".
    std::string record_block_name(std::size_t i, uint64_t at) const {
        return "record block " + std::to_string(i + 1) + at_byte(at);
    }

    // Reads `length` bytes at `at` into out, once they are known to be there.
    void read_bytes(uint64_t at, uint64_t length, std::string& out) {
        if (length > std::numeric_limits<std::size_t>::max() / 2)
            to_size(length, "the bytes at byte " + std::to_string(at));  // says they are too many
        out.resize(static_cast<std::size_t>(length));
        file_->read_exactly(at, out.data(), out.size());
    }

    // A size that the file claims, checked to fit in memory's sizes (the web
    // page's are 32 bits).
    std::size_t to_size(uint64_t value, const std::string& what) const {
        if (value > std::numeric_limits<std::size_t>::max() / 2)
            fail(what + ": " + std::to_string(value) + " bytes are more than this system can hold");
        return static_cast<std::size_t>(value);
    }

    uint64_t number_at(std::string_view bytes, std::size_t at) const {
        return get_number(reinterpret_cast<const uint8_t*>(bytes.data()) + at, number_size_);
    }
    // --- The header ---

    uint64_t read_header() {
        const uint64_t least = header_size_bytes + header_checksum_bytes;
        if (size_ < least)
            fail("it is too short for an MDict dictionary (" + std::to_string(size_) + " bytes)");
        std::string bytes;
        read_bytes(0, header_size_bytes, bytes);
        const uint32_t length = get_u32(reinterpret_cast<const uint8_t*>(bytes.data()));
        if (length > size_ - least || length > max_header_size)
            throw import_error(path_ +
                               " is not an MDict dictionary: its first 4 bytes give a"
                               " header of " +
                               std::to_string(length) + " bytes, and the file holds " +
                               std::to_string(size_));
        std::string header;
        read_bytes(header_size_bytes, length, header);
        read_bytes(header_size_bytes + length, header_checksum_bytes, bytes);
        const bool utf16 = header.size() >= 2 && header[0] == '<' && header[1] == '\0';
        if (!utf16 && header.substr(0, 1) != "<")
            throw import_error(path_ + " is not an MDict dictionary: its header is not XML");
        if (checksums_checked &&
            adler(header) != get_le32(reinterpret_cast<const uint8_t*>(bytes.data())))
            fail("its header" + at_byte(header_size_bytes) + " is damaged: its checksum is wrong");

        std::string text;
        if (utf16) {
            std::string problem;
            const auto decoder = charset_decoder::open("UTF-16LE", problem);
            if (!decoder) fail(problem);
            decoder->decode(header, text, false);
        } else {
            text = header;
        }
        while (!text.empty() && text.back() == '\0') text.pop_back();
        if (text.rfind(resources_element, 0) == 0) throw import_error(path_ + mdd_refusal);
        v3_ = text.rfind(v3_element, 0) == 0;
        if (!v3_ && text.rfind(dictionary_element, 0) != 0)
            throw import_error(path_ +
                               " is not an MDict dictionary: its header is neither a"
                               " <Dictionary> nor a <ZDB> element");
        attributes_ = attributes_of(text);
        if (v3_)
            take_v3_header();
        else
            take_header();
        take_common_attributes();
        return header_size_bytes + length + header_checksum_bytes;
    }

    std::string attribute(std::string_view name) const {
        for (const auto& [key, value] : attributes_)
            if (same_letters(key, name)) return value;
        return "";
    }

    // The major number of GeneratedByEngineVersion, checked to be a version.
    std::size_t engine_major() const {
        const std::string version = attribute("GeneratedByEngineVersion");
        std::size_t major = 0, digits = 0;
        while (digits < version.size() && version[digits] >= '0' && version[digits] <= '9' &&
               major < 1000)
            major = major * 10 + static_cast<std::size_t>(version[digits++] - '0');
        if (version.empty()) fail("its header gives no GeneratedByEngineVersion");
        std::size_t minor = digits;
        if (minor < version.size() && version[minor] == '.') ++minor;
        const std::size_t minor_start = minor;
        while (minor < version.size() && version[minor] >= '0' && version[minor] <= '9') ++minor;
        if (digits == 0 || minor != version.size() ||
            (minor_start > digits && minor == minor_start))
            fail("GeneratedByEngineVersion=\"" + version + "\" is not a version number");
        return major;
    }

    // The header of engine 1.x and 2.0: <Dictionary ...>, with its numbers,
    // enciphering and encoding.
    void take_header() {
        const std::string version = attribute("GeneratedByEngineVersion");
        const std::size_t major = engine_major();
        if (major >= first_v3_major)
            fail("its <Dictionary> header gives GeneratedByEngineVersion=\"" + version +
                 "\", but such headers come only from MDict 1.x and 2.0");
        number_size_ = major >= first_v2_major ? 8 : 4;

        const std::string encrypted = attribute("Encrypted");
        unsigned bits = 0;
        if (same_letters(encrypted, "Yes")) {
            bits = registered_user_bit;
        } else if (!encrypted.empty() && !same_letters(encrypted, "No")) {
            for (const char c : encrypted) {
                if (c < '0' || c > '9' || bits > 1000)
                    fail("Encrypted=\"" + encrypted + "\" is not a value MDict writes");
                bits = bits * 10 + static_cast<unsigned>(c - '0');
            }
        }
        if (bits & registered_user_bit) throw import_error(path_ + registered_refusal);
        if (bits & ~(registered_user_bit | scrambled_index_bit))
            fail("Encrypted=\"" + encrypted +
                 "\" is a kind of enciphering that MDict 1.x and 2.0 do not write");
        scrambled_index_ = (bits & scrambled_index_bit) != 0;
        if (scrambled_index_ && number_size_ == 4)
            fail("Encrypted=\"" + encrypted + "\" scrambles the key-block index of a version " +
                 version + " file, which MDict does only from version 2.0");

        take_charset(options_.input_charset.empty() ? attribute("Encoding")
                                                    : options_.input_charset);
        kind_ = same_letters(attribute("Format"), "Text") ? markup::plain : markup::html;
    }

    // The header of engine 3.0: <ZDB ...>, whose keys and records are
    // always UTF-8 and whose blocks are enciphered with a key from its UUID.
    void take_v3_header() {
        const std::string version = attribute("GeneratedByEngineVersion");
        const std::size_t major = engine_major();
        if (major > first_v3_major)
            throw import_error(path_ + " was made by MDict " + version +
                               ", whose files lexaro-import cannot read; it reads those of"
                               " MDict 1.x, 2.0 and 3.0");
        if (major < first_v3_major)
            fail("its <ZDB> header gives GeneratedByEngineVersion=\"" + version +
                 "\", but only MDict 3.0 writes such a header");
        const std::string content = attribute("ContentType");
        if (same_letters(content, "Binary")) throw import_error(path_ + mdd_refusal);
        // A registration code in the header names the user whose key
        // enciphers the file; the key needs that user's e-mail or device too.
        if (!attribute("RegCode").empty() || !attribute("LibSN").empty())
            throw import_error(path_ + registered_refusal);
        const std::string uuid = attribute("UUID");
        if (!uuid.empty()) uuid_key_ = key_from_uuid(uuid);
        if (!options_.input_charset.empty()) take_charset(options_.input_charset);
        kind_ = same_letters(content, "Text") ? markup::plain : markup::html;
    }

    // The decoder for keys and records in the set named, "" for UTF-8.
    void take_charset(const std::string& named) {
        const std::string charset = decoder_name(named);
        if (!charset.empty()) {
            std::string problem;
            decoder_ = charset_decoder::open(charset, problem);
            // Where the system lacks GB18030 (wine's code pages), GBK reads
            // all but its four-byte characters.
            if (!decoder_ && charset == gb18030) decoder_ = charset_decoder::open("GBK", problem);
            if (!decoder_)
                fail(problem + (options_.input_charset.empty() ? ", which its header names" : ""));
            const std::string upper = upper_without_dashes(charset);
            if (upper.rfind("UTF16", 0) == 0 || upper.rfind("UCS2", 0) == 0) unit_ = 2;
            big_endian_units_ = upper == "UTF16BE" || upper == "UCS2BE";
        }
    }

    // What both kinds of header say alike.
    void take_common_attributes() {
        title_ = without_tags(trimmed(attribute("Title")));
        if (title_ == untitled) title_.clear();
        case_sensitive_ = same_letters(attribute("KeyCaseSensitive"), "Yes");
        strip_key_ = same_letters(attribute("StripKey"), "Yes");
        take_style_sheet(attribute("StyleSheet"));
    }

    // Lines in threes: a style's number, the text that begins it, the text
    // that ends it.
    void take_style_sheet(std::string_view sheet) {
        std::vector<std::string_view> lines;
        for (std::size_t start = 0; !sheet.empty();) {
            const std::size_t end = sheet.find('\n', start);
            std::string_view line = sheet.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            lines.push_back(line);  // the last, after the last line feed, too: an empty end text
            if (end == std::string_view::npos) break;
            start = end + 1;
        }
        for (std::size_t i = 0; i + 2 < lines.size(); i += 3) {
            const std::string_view number = trimmed(lines[i]);
            unsigned n = 0;
            bool sound = !number.empty() && number.size() < 6;
            for (const char c : number) {
                if (c < '0' || c > '9') sound = false;
                n = n * 10 + static_cast<unsigned>(c - '0');
            }
            if (sound) styles_[n] = {std::string(lines[i + 1]), std::string(lines[i + 2])};
        }
    }

    // --- Blocks ---

    // Opens a stored block (type word, checksum, data) for reading; it must
    // come to `inflated` bytes with the checksum it gives. The stored bytes
    // (and `unscrambled`, for 2.0's scrambled key-block index, whose key is
    // the RIPEMD-128 of its checksum bytes and a fixed salt) must stay until
    // it is read. A 3.0 block is deciphered in place.
    void open_block(std::string& stored, uint64_t inflated, const std::string& part,
                    block_data& data, std::string* unscrambled = nullptr) const {
        if (v3_) return open_v3_block(prepare_v3_block(stored, part), inflated, part, data);
        if (stored.size() < block_prefix_bytes)
            fail(part + ": it takes " + std::to_string(stored.size()) +
                 " bytes, fewer than the 8 that begin a block");
        const auto* prefix = reinterpret_cast<const uint8_t*>(stored.data());
        const uint32_t type = get_le32(prefix);
        if (type & ~compression_bits)
            fail(part + ": its type word " + hex32(type) +
                 " sets bits that MDict 1.x and 2.0 never set (an enciphered block?)");
        std::string_view payload = std::string_view(stored).substr(block_prefix_bytes);
        if (unscrambled != nullptr) {
            unscrambled->assign(payload);
            simple_decipher(ripemd128(stored.substr(block_checksum_at, checksum_bytes) +
                                      std::string(index_key_salt)),
                            reinterpret_cast<uint8_t*>(unscrambled->data()), unscrambled->size());
            payload = *unscrambled;
        }
        data.open(payload, type, inflated, get_u32(prefix + block_checksum_at), part);
    }

    // A 3.0 block's prefix: compression in the low half of its first byte,
    // cipher in the high half, then the count of enciphered bytes that
    // begin its data, two zero bytes and the Adler-32.
    struct v3_block {
        uint32_t compression = stored_block;
        bool enciphered = false;
        bool sound = true;  // for an enciphered block: its checksum holds
        std::string_view payload;
        uint32_t checksum = 0;
    };

    // Checks a 3.0 block's prefix and deciphers its enciphered head in
    // place. The checksum of an enciphered block is that of its data as
    // stored, deciphered; of a plain one, that of its data inflated.
    v3_block prepare_v3_block(std::string& stored, const std::string& part) const {
        if (stored.size() < block_prefix_bytes)
            fail(part + ": it takes " + std::to_string(stored.size()) +
                 " bytes, fewer than the 8 that begin a block");
        auto* prefix = reinterpret_cast<uint8_t*>(stored.data());
        const unsigned compression = prefix[0] & 0x0F, cipher = prefix[0] >> 4;
        const std::size_t count = prefix[1];
        if (prefix[2] != 0 || prefix[3] != 0)
            fail(part + ": its type word " + hex32(get_le32(prefix)) +
                 " sets bits that MDict 3.0 never sets");
        if (compression > zlib_block) {
            const char* name = compression < std::size(v3_compression_names)
                                   ? v3_compression_names[compression]
                                   : "";
            fail(part + ": its compression, " + std::to_string(compression) + name +
                 ", is none of 0 (stored), 1 (LZO) and 2 (zlib), which lexaro-import reads");
        }
        if (cipher > salsa_cipher)
            fail(part + ": its cipher, " + std::to_string(cipher) +
                 ", is none of 0 (none), 1 (MDict's simple cipher) and 2 (Salsa20/8)");
        v3_block block;
        block.compression = compression;
        block.checksum = get_u32(prefix + block_checksum_at);
        block.payload = std::string_view(stored).substr(block_prefix_bytes);
        if (count > block.payload.size())
            fail(part + ": it says that " + std::to_string(count) +
                 " of its bytes are enciphered, but " + std::to_string(block.payload.size()) +
                 " follow its prefix");
        if (cipher != no_cipher) {
            // Without a UUID, each block's key is the RIPEMD-128 of its checksum bytes.
            const block_key key = uuid_key_
                                      ? *uuid_key_
                                      : ripemd128(stored.substr(block_checksum_at, checksum_bytes));
            if (cipher == simple_cipher)
                simple_decipher(key, prefix + block_prefix_bytes, count);
            else
                salsa20_8_xor(key, prefix + block_prefix_bytes, count);
            block.enciphered = true;
            block.sound = !checksums_checked || adler(block.payload) == block.checksum;
        }
        return block;
    }

    void open_v3_block(const v3_block& block, uint64_t inflated, const std::string& part,
                       block_data& data) const {
        if (!block.sound) fail(part + ": its checksum is wrong");
        data.open(block.payload, block.compression, inflated,
                  block.enciphered ? std::nullopt : std::optional<uint32_t>(block.checksum), part);
    }

    // --- Engine 3.0: the units ---

    // A key as a 3.0 key-block index gives it: its size and XXH64, so that a
    // row costs a few bytes however long its keys.
    struct key_print {
        uint64_t size = 0, hash = 0;
        bool operator==(const key_print& other) const {
            return size == other.size && hash == other.hash;
        }
    };
    static key_print print_of(std::string_view key) { return {key.size(), xxh64(key, 0)}; }

    struct key_row {
        uint64_t entries;
        std::pair<key_print, key_print> ends;  // its first and last keys
    };

    struct frame {
        uint64_t at = 0;  // where the stored block begins, after its frame
        uint64_t stored = 0, inflated = 0;
    };

    struct unit {
        uint64_t at = 0;
        bool seen = false;
        std::vector<frame> blocks;
        frame info;
    };

    static std::string unit_name(uint32_t type) {
        static const char* const names[] = {"", "record-data", "record-index", "key-data",
                                            "key-index"};
        return names[type];
    }

    std::string unit_label(uint32_t type, const unit& u) const {
        return "its " + unit_name(type) + " unit" + at_byte(u.at);
    }

    std::string info_label(uint32_t type, const unit& u) const {
        return "the info block of its " + unit_name(type) + " unit" + at_byte(u.info.at);
    }

    frame read_frame(uint64_t at) {
        std::string bytes;
        read_bytes(at, frame_bytes, bytes);
        const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
        return {at + frame_bytes, get_u32(p + 4), get_u32(p)};
    }

    // The units, walked by the sizes of their blocks (some writers leave
    // their length 0), each checked to fill what it says; then what they
    // hold, checked against one another before any key is taken.
    void read_units(uint64_t at) {
        unit units[key_index + 1];
        unsigned seen = 0;
        std::string bytes;
        while (at < size_) {
            if (seen == key_index)
                fail(std::to_string(size_ - at) + " bytes follow its last unit, from byte " +
                     std::to_string(at) + " to the end of the file");
            if (size_ - at < unit_header_bytes)
                fail("its unit at byte " + std::to_string(at) +
                     " is cut short by the end of the file");
            read_bytes(at, unit_header_bytes, bytes);
            const auto* header = reinterpret_cast<const uint8_t*>(bytes.data());
            const uint32_t type = get_le32(header);
            if (type < record_data || type > key_index)
                fail("its unit at byte " + std::to_string(at) + " has type " +
                     std::to_string(type) +
                     ", none of 1 (record data), 2 (record index), 3 (key data) and 4 (key index)");
            unit& u = units[type];
            if (u.seen)
                fail("its unit at byte " + std::to_string(at) + " is a second " + unit_name(type) +
                     " unit");
            u.seen = true;
            ++seen;
            u.at = at;
            const std::string name = unit_label(type, u);
            const uint64_t length = get_number(header + 4, 8);
            const uint64_t count = get_u32(header + 12);
            const uint64_t data_size = get_number(header + 16, 8);
            const uint64_t data_at = at + unit_header_bytes;
            if (data_size > size_ - data_at)
                fail(name + ": its blocks (" + std::to_string(data_size) + " bytes at byte " +
                     std::to_string(data_at) + ") run past the end of the file (" +
                     std::to_string(size_) + " bytes)");
            const uint64_t end = data_at + data_size;
            for (uint64_t p = data_at; p < end;) {
                const std::string block =
                    "block " + std::to_string(u.blocks.size() + 1) + at_byte(p);
                if (u.blocks.size() == count)
                    fail(name + ": its blocks are more than the " + std::to_string(count) +
                         " its header counts");
                if (end - p < frame_bytes)
                    fail(name + ": " + block + " is cut short by the end of its blocks");
                const frame f = read_frame(p);
                if (f.stored > end - f.at)
                    fail(name + ": " + block + " runs past the end of its blocks (byte " +
                         std::to_string(end) + ")");
                u.blocks.push_back(f);
                p = f.at + f.stored;
            }
            if (u.blocks.size() != count)
                fail(name + ": it holds " + std::to_string(u.blocks.size()) +
                     " blocks, its header counts " + std::to_string(count));
            if (size_ - end < frame_bytes)
                fail(name + ": its info block (at byte " + std::to_string(end) +
                     ") is cut short by the end of the file");
            u.info = read_frame(end);
            if (u.info.stored > size_ - u.info.at)
                fail(name + ": its info block (at byte " + std::to_string(end) +
                     ") runs past the end of the file");
            const uint64_t unit_end = u.info.at + u.info.stored;
            if (length != 0 && length != unit_end - (at + unit_length_from))
                fail(name + " gives its length as " + std::to_string(length) +
                     " bytes, but its blocks and info block take " +
                     std::to_string(unit_end - (at + unit_length_from)));
            at = unit_end;
        }
        for (uint32_t type = record_data; type <= key_index; ++type)
            if (!units[type].seen)
                fail("it ends at byte " + std::to_string(size_) + " without its " +
                     unit_name(type) + " unit");

        std::string info[key_index + 1];
        read_infos(units, info);
        const uint64_t records = info_count(info[record_data], record_data, units, "recordCount");
        // Its recordCount counts records in some files, record blocks in others.
        info_count(info[record_index], record_index, units, "");
        const uint64_t keys = info_count(info[key_data], key_data, units, "keyCount");
        const uint64_t key_blocks = info_count(info[key_index], key_index, units, "blockCount");
        if (keys != records)
            fail("its key-data unit counts " + std::to_string(keys) +
                 " keys, its record-data unit " + std::to_string(records) + " records");
        if (keys > UINT32_MAX)
            fail("its key-data unit counts " + std::to_string(keys) +
                 " keys, more than lexaro-import can hold");
        if (key_blocks != units[key_data].blocks.size())
            fail("its key-index unit counts " + std::to_string(key_blocks) +
                 " key blocks, its key-data unit holds " +
                 std::to_string(units[key_data].blocks.size()));
        entry_count_ = keys;

        uint64_t start = 0;
        for (const frame& f : units[record_data].blocks) {
            blocks_.push_back({f.at, f.stored, start, f.inflated});
            start += f.inflated;
        }
        records_size_ = start;
        check_record_index(units[record_index]);
        const auto rows = key_index_rows(units[key_index], units[key_data]);

        block_data data(failure());
        std::string stored;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const frame& f = units[key_data].blocks[i];
            const std::string name = "key block " + std::to_string(i + 1) + at_byte(f.at);
            read_bytes(f.at, f.stored, stored);
            open_block(stored, f.inflated, name, data);
            block_bytes keys_of_block(data);
            take_keys(keys_of_block, rows[i].entries, name, &rows[i].ends);
        }
    }

    // The info blocks' texts. Their enciphered heads are checked first: if
    // every enciphered one fails while the plain ones hold, the file is
    // enciphered with another key than its UUID gives, a registered
    // user's, and is refused as such rather than as damaged.
    void read_infos(unit (&units)[key_index + 1], std::string (&texts)[key_index + 1]) {
        std::string stored[key_index + 1];
        v3_block blocks[key_index + 1];
        unsigned enciphered = 0, failed = 0;
        for (uint32_t type = record_data; type <= key_index; ++type) {
            const frame& f = units[type].info;
            read_bytes(f.at, f.stored, stored[type]);
            blocks[type] = prepare_v3_block(stored[type], info_label(type, units[type]));
            enciphered += blocks[type].enciphered;
            failed += !blocks[type].sound;
        }
        if (failed > 0 && failed == enciphered) {
            for (uint32_t type = record_data; type <= key_index; ++type)
                if (!blocks[type].enciphered) info_text(blocks[type], type, units, texts[type]);
            throw import_error(path_ + registered_refusal);
        }
        for (uint32_t type = record_data; type <= key_index; ++type)
            info_text(blocks[type], type, units, texts[type]);
    }

    void info_text(const v3_block& block, uint32_t type, unit (&units)[key_index + 1],
                   std::string& text) {
        const std::string name = info_label(type, units[type]);
        const uint64_t inflated = units[type].info.inflated;
        if (inflated > most_info_bytes)
            fail(name + ": it inflates to " + std::to_string(inflated) + " bytes, more than the " +
                 std::to_string(most_info_bytes) + " an info block may take");
        block_data data(failure());
        open_v3_block(block, inflated, name, data);
        text.clear();
        for (std::string_view piece; !(piece = data.next()).empty();) text.append(piece);
    }

    // The number that an info block gives in the attribute named ("": none),
    // once it is known to be the element of its unit.
    uint64_t info_count(const std::string& text, uint32_t type, unit (&units)[key_index + 1],
                        std::string_view name) const {
        static const char* const elements[] = {"", "RecordData", "RecordIndex", "KeyData",
                                               "KeyBlockIndex"};
        const std::string label = info_label(type, units[type]);
        const std::string_view element = trimmed(text);
        const std::size_t name_end = element.find_first_of(" \t\r\n/>");
        const std::string_view found = element.substr(0, std::min(name_end, std::size_t{40}));
        if (found != std::string("<") + elements[type])
            fail(label + " is " +
                 (found.size() > 1 && found[0] == '<' ? "a " + std::string(found) + "> element"
                                                      : "no XML element") +
                 ", not <" + elements[type] + ">");
        if (name.empty()) return 0;
        std::string value;
        for (const auto& [key, v] : attributes_of(element))
            if (key == name) value = v;
        uint64_t number = 0;
        bool sound = !value.empty() && value.size() <= 18;
        for (const char c : value) {
            if (c < '0' || c > '9') sound = false;
            number = number * 10 + static_cast<uint64_t>(c - '0');
        }
        if (!sound) fail(label + " gives no " + std::string(name) + " that is a number");
        return number;
    }

    // The blocks of a unit as one run of bytes.
    block_bytes unit_bytes(const unit& u, const std::string& name, block_data& data,
                           std::string& stored, std::size_t& next) {
        next = 0;
        return block_bytes(data, [this, &u, name, &data, &stored, &next]() {
            if (next == u.blocks.size()) return false;
            const frame& f = u.blocks[next++];
            read_bytes(f.at, f.stored, stored);
            open_block(stored, f.inflated, name + at_byte(f.at), data);
            return true;
        });
    }

    // The record index: for each record block, its framed and inflated
    // sizes, which must be those its frame gives.
    void check_record_index(const unit& u) {
        block_data data(failure());
        std::string stored;
        std::size_t next = 0;
        block_bytes rows = unit_bytes(u, "its record index", data, stored, next);
        std::size_t row = 0;
        while (!rows.at_end()) {
            if (row == blocks_.size())
                fail("its record index holds more rows than the " + std::to_string(blocks_.size()) +
                     " record blocks of its record-data unit");
            const std::string_view bytes = rows.take(record_index_row_bytes);
            if (bytes.size() < record_index_row_bytes)
                fail("its record index ends within its row " + std::to_string(row + 1));
            const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
            const uint64_t framed = get_number(p, 8), inflated = get_number(p + 8, 8);
            const block_place& b = blocks_[row];
            if (framed != frame_bytes + b.stored || inflated != b.size)
                fail("row " + std::to_string(row + 1) + " of its record index gives " +
                     record_block_name(row, b.at) + " " + std::to_string(framed) +
                     " framed bytes and " + std::to_string(inflated) + " inflated, its frame " +
                     std::to_string(frame_bytes + b.stored) + " and " + std::to_string(b.size));
            ++row;
        }
        if (row != blocks_.size())
            fail("its record index holds " + std::to_string(row) + " rows, its record-data unit " +
                 std::to_string(blocks_.size()) + " record blocks");
    }

    // The key-block index: for each key block, its count of keys, its first
    // and last keys, and its framed and inflated sizes, which must be those
    // its frame gives.
    std::vector<key_row> key_index_rows(const unit& u, const unit& key_blocks) {
        block_data data(failure());
        std::string stored;
        std::size_t next = 0;
        block_bytes index = unit_bytes(u, "its key-block index", data, stored, next);
        std::vector<key_row> rows;
        uint64_t entries = 0;
        while (!index.at_end()) {
            const std::string row =
                "row " + std::to_string(rows.size() + 1) + " of its key-block index";
            if (rows.size() == key_blocks.blocks.size())
                fail("its key-block index holds more rows than the " +
                     std::to_string(key_blocks.blocks.size()) + " blocks of its key-data unit");
            const auto number = [&](std::size_t size) {
                const std::string_view bytes = index.take(size);
                if (bytes.size() < size) fail(row + " is cut short");
                return get_number(reinterpret_cast<const uint8_t*>(bytes.data()), size);
            };
            const uint64_t count = number(4);
            key_print ends[2];
            for (key_print& end : ends) {
                const auto size = static_cast<std::size_t>(number(2));
                const std::string_view key = index.take(size + 1);  // and its terminator
                if (key.size() < size + 1) fail(row + " is cut short");
                end = print_of(key.substr(0, size));
            }
            const uint64_t framed = number(4), inflated = number(4);
            const frame& f = key_blocks.blocks[rows.size()];
            if (framed != frame_bytes + f.stored || inflated != f.inflated)
                fail(row + " gives key block " + std::to_string(rows.size() + 1) + at_byte(f.at) +
                     " " + std::to_string(framed) + " framed bytes and " +
                     std::to_string(inflated) + " inflated, its frame " +
                     std::to_string(frame_bytes + f.stored) + " and " + std::to_string(f.inflated));
            if (count > entry_count_ - entries)
                fail(row + " gives its key blocks more than the " + std::to_string(entry_count_) +
                     " keys its key-data unit counts");
            entries += count;
            rows.push_back({count, {ends[0], ends[1]}});
        }
        if (rows.size() != key_blocks.blocks.size())
            fail("its key-block index holds " + std::to_string(rows.size()) +
                 " rows, its key-data unit " + std::to_string(key_blocks.blocks.size()) +
                 " key blocks");
        if (entries != entry_count_)
            fail("its key-block index gives its key blocks " + std::to_string(entries) +
                 " keys, its key-data unit counts " + std::to_string(entry_count_));
        return rows;
    }

    // --- The keyword section ---

    struct key_block_row {
        uint64_t entries, stored, inflated;
    };

    // The keyword section, the record-block table, then the keys.
    void read_keys(uint64_t at) {
        const bool v2 = number_size_ == 8;
        const std::size_t count = v2 ? keyword_numbers_v2 : keyword_numbers_v1;
        const std::size_t section = count * number_size_ + (v2 ? checksum_bytes : 0);
        if (size_ - at < section)
            fail("its keyword section" + at_byte(at) + " is cut short by the end of the file");
        std::string numbers;
        read_bytes(at, section, numbers);
        if (checksums_checked && v2 &&
            adler(std::string_view(numbers).substr(0, count * number_size_)) !=
                get_u32(reinterpret_cast<const uint8_t*>(numbers.data()) + count * number_size_))
            fail("its keyword section" + at_byte(at) + " is damaged: its checksum is wrong");
        std::size_t field = 0;
        const auto next = [&] { return number_at(numbers, number_size_ * field++); };
        const uint64_t block_count = next();
        entry_count_ = next();
        const uint64_t index_inflated = v2 ? next() : 0;
        const uint64_t index_stored = next();
        const uint64_t blocks_stored = next();
        at += section;
        if (index_stored > size_ - at)
            fail("its key-block index (" + std::to_string(index_stored) + " bytes at byte " +
                 std::to_string(at) + ") runs past the end of the file (" + std::to_string(size_) +
                 " bytes)");
        const uint64_t blocks_at = at + index_stored;
        if (blocks_stored > size_ - blocks_at)
            fail("its key blocks (" + std::to_string(blocks_stored) + " bytes at byte " +
                 std::to_string(blocks_at) + ") run past the end of the file (" +
                 std::to_string(size_) + " bytes)");
        // Every key block begins with its 8 bytes of type and checksum.
        if (block_count > blocks_stored / block_prefix_bytes)
            fail("its keyword section counts " + std::to_string(block_count) +
                 " key blocks, more than its " + std::to_string(blocks_stored) +
                 " bytes of key blocks can hold");
        if (entry_count_ > UINT32_MAX)
            fail("its keyword section counts " + std::to_string(entry_count_) +
                 " entries, more than lexaro-import can hold");

        block_data data(failure());
        std::string stored, unscrambled;
        read_bytes(at, index_stored, stored);
        const std::string index_name = "its key-block index" + at_byte(at);
        if (v2)
            open_block(stored, index_inflated, index_name, data,
                       scrambled_index_ ? &unscrambled : nullptr);
        else
            data.open(stored, stored_block, stored.size(), std::nullopt, index_name);
        block_bytes index(data);
        const std::vector<key_block_row> rows = index_rows(index, block_count, blocks_stored);

        read_record_table(blocks_at + blocks_stored);

        uint64_t block_at = blocks_at;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::string name = "key block " + std::to_string(i + 1) + at_byte(block_at);
            read_bytes(block_at, rows[i].stored, stored);
            open_block(stored, rows[i].inflated, name, data);
            block_bytes keys(data);
            take_keys(keys, rows[i].entries, name);
            block_at += rows[i].stored;
        }
    }

    // The rows of the key-block index, checked against the keyword section.
    std::vector<key_block_row> index_rows(block_bytes& index, uint64_t block_count,
                                          uint64_t blocks_stored) const {
        const bool v2 = number_size_ == 8;
        const std::size_t length_size = v2 ? 2 : 1;
        const std::size_t key_end = v2 ? 1 : 0;  // the terminator after each key, in units
        std::vector<key_block_row> rows;
        uint64_t entries = 0, stored = 0;
        const auto cut_short = [&] {
            fail("row " + std::to_string(rows.size() + 1) + " of its key-block index is cut short");
        };
        while (!index.at_end()) {
            if (rows.size() == block_count)
                fail("its key-block index holds more rows than the " + std::to_string(block_count) +
                     " key blocks its keyword section counts");
            key_block_row row{};
            std::string_view field = index.take(number_size_);
            if (field.size() < number_size_) cut_short();
            row.entries = number_at(field, 0);
            for (int key = 0; key < 2; ++key) {  // the block's first and last keys
                field = index.take(length_size);
                if (field.size() < length_size) cut_short();
                const uint64_t units =
                    get_number(reinterpret_cast<const uint8_t*>(field.data()), length_size);
                if (!index.skip((units + key_end) * unit_)) cut_short();
            }
            field = index.take(2 * number_size_);
            if (field.size() < 2 * number_size_) cut_short();
            row.stored = number_at(field, 0);
            row.inflated = number_at(field, number_size_);
            if (row.stored > blocks_stored - std::min(stored, blocks_stored) ||
                row.entries > entry_count_ - std::min(entries, entry_count_))
                fail("row " + std::to_string(rows.size() + 1) + " of its key-block index gives" +
                     (row.stored > blocks_stored - std::min(stored, blocks_stored)
                          ? " its key blocks more than the " + std::to_string(blocks_stored) +
                                " bytes its keyword section says"
                          : " its key blocks more than the " + std::to_string(entry_count_) +
                                " entries its keyword section says"));
            entries += row.entries;
            stored += row.stored;
            rows.push_back(row);
        }
        if (rows.size() != block_count)
            fail("its key-block index holds " + std::to_string(rows.size()) +
                 " rows, its keyword section counts " + std::to_string(block_count) +
                 " key blocks");
        if (entries != entry_count_)
            fail("its key-block index gives its key blocks " + std::to_string(entries) +
                 " entries, its keyword section says " + std::to_string(entry_count_));
        if (stored != blocks_stored)
            fail("its key-block index gives its key blocks " + std::to_string(stored) +
                 " bytes, its keyword section says " + std::to_string(blocks_stored));
        return rows;
    }

    // Each entry of a key block: its record's offset, then its key up to a
    // terminator (a zero unit). ends: the first and last keys the block's
    // index row gives, where it gives them whole.
    void take_keys(block_bytes& block, uint64_t expected, const std::string& name,
                   const std::pair<key_print, key_print>* ends = nullptr) {
        uint64_t number = 0;
        while (!block.at_end()) {
            if (++number > expected)
                fail(name + ": it holds more keys than the " + std::to_string(expected) +
                     " its index row says");
            const std::string_view offset = block.take(number_size_);
            if (offset.size() < number_size_)
                fail(name + ": its entry " + std::to_string(number) + " is cut short");
            const uint64_t record = number_at(offset, 0);
            raw_key_.clear();
            uint64_t key_size = 0;
            if (!block.until_zero(unit_, raw_key_, max_raw_size, key_size))
                fail(name + ": the key of its entry " + std::to_string(number) +
                     " has no terminator");
            if (ends != nullptr && (number == 1 || number == expected)) {
                const key_print print =
                    key_size == raw_key_.size() ? print_of(raw_key_) : key_print{key_size, 0};
                if (number == 1 && !(print == ends->first))
                    fail(name + ": its first key, \"" + raw_key_ +
                         "\", is not the first key its index row gives");
                if (number == expected && !(print == ends->second))
                    fail(name + ": its last key, \"" + raw_key_ +
                         "\", is not the last key its index row gives");
            }
            take_key(record, key_size);
        }
        if (number != expected)
            fail(name + ": it holds " + std::to_string(number) + " keys, its index row says " +
                 std::to_string(expected));
    }

    // A key (in raw_key_, the first max_raw_size of its key_size bytes) and
    // where its record starts. A key that can give no word costs nothing
    // but, where it starts a record, the place of that record: it is
    // handed on at once, with no translation, and counted there; so a
    // block of millions of empty keys costs no memory for them.
    void take_key(uint64_t record, uint64_t key_size) {
        ++keys_seen_;
        const std::size_t key_at = keys_.size();
        if (decoder_)
            decoder_->decode(raw_key_, keys_, false);
        else
            keys_.append(raw_key_);
        const std::string_view key = std::string_view(keys_).substr(key_at);
        if (record > records_size_)
            fail("the record of \"" + std::string(key) + "\" (entry " + std::to_string(keys_seen_) +
                 ") starts at " + std::to_string(record) + ", past the " +
                 std::to_string(records_size_) + " bytes of its records");
        if (record < last_record_)
            fail("the record of \"" + std::string(key) + "\" (entry " + std::to_string(keys_seen_) +
                 ") starts at " + std::to_string(record) +
                 ", before that of the entry before it (" + std::to_string(last_record_) + ")");
        last_record_ = record;
        if (key_size <= max_raw_size && !trimmed(key).empty()) {
            entries_.push_back({record, key_at, static_cast<uint32_t>(keys_.size() - key_at)});
            return;
        }
        if (key_size > max_raw_size)
            sink_.too_large(key, key_size);
        else
            sink_.add(raw_entry{key, {}, kind_});
        keys_.resize(key_at);
        if (!entries_.empty() && record > entries_.back().record && entries_.back().link != no_word)
            entries_.push_back({record, key_at, 0, no_word});
    }

    std::string_view key(std::size_t i) const {
        return std::string_view(keys_).substr(static_cast<std::size_t>(entries_[i].key_at),
                                              entries_[i].key_size);
    }

    bool is_word(std::size_t i) const { return entries_[i].link != no_word; }

    // --- The record section ---

    void read_record_table(uint64_t at) {
        const std::size_t section = record_numbers * number_size_;
        if (size_ - at < section)
            fail("its record section" + at_byte(at) + " is cut short by the end of the file");
        std::string numbers;
        read_bytes(at, section, numbers);
        const uint64_t block_count = number_at(numbers, 0);
        const uint64_t entries = number_at(numbers, number_size_);
        const uint64_t table_size = number_at(numbers, 2 * number_size_);
        const uint64_t blocks_stored = number_at(numbers, 3 * number_size_);
        if (entries != entry_count_)
            fail("its record section" + at_byte(at) + " counts " + std::to_string(entries) +
                 " entries, its keyword section " + std::to_string(entry_count_));
        const uint64_t row_size = 2 * number_size_;
        if (block_count > table_size / row_size || block_count * row_size != table_size)
            fail("its record-block table takes " + std::to_string(table_size) + " bytes, not the " +
                 std::to_string(row_size) + " a block that " + std::to_string(block_count) +
                 " record blocks need");
        at += section;
        if (table_size > size_ - at)
            fail("its record-block table (" + std::to_string(table_size) + " bytes at byte " +
                 std::to_string(at) + ") runs past the end of the file (" + std::to_string(size_) +
                 " bytes)");
        std::string table;
        read_bytes(at, table_size, table);
        uint64_t block_at = at + table_size;
        if (blocks_stored != size_ - block_at)
            fail("its record blocks take " + std::to_string(blocks_stored) + " bytes from byte " +
                 std::to_string(block_at) + ", but " + std::to_string(size_ - block_at) +
                 " bytes follow there to the end of the file");
        uint64_t start = 0;
        for (std::size_t i = 0; i < block_count; ++i) {
            // The table is held, so its offsets fit in size_t.
            const auto row = static_cast<std::size_t>(i * row_size);
            const uint64_t stored = number_at(table, row);
            const uint64_t inflated = number_at(table, row + number_size_);
            if (stored > size_ - block_at)
                fail(record_block_name(i, block_at) + ": its " + std::to_string(stored) +
                     " bytes run past the end of the file");
            if (inflated > UINT64_MAX / 2 - start)
                fail(record_block_name(i, block_at) +
                     ": it inflates to more bytes than any file"
                     " holds");
            blocks_.push_back({block_at, stored, start, inflated});
            block_at += stored;
            start += inflated;
        }
        if (block_at != size_)
            fail("its record-block table gives its blocks " +
                 std::to_string(block_at - at - table_size) + " bytes, its record section says " +
                 std::to_string(blocks_stored));
        records_size_ = start;
    }

    // The records' bytes by range, a piece of a block at a time: a range
    // within one piece is given where it lies, one across pieces or blocks
    // is gathered. Ranges come in ascending order, none longer than
    // max_raw_size; with every_block, each block is read and checked on the
    // way, those that hold no range too, else only those that hold one.
    class record_stream {
    public:
        record_stream(mdict_reader& reader, bool every_block)
            : reader_(reader), every_block_(every_block), data_(reader.failure()) {}

        std::string_view text(uint64_t start, uint64_t end) {
            if (held_ && start == start_ && end == end_) return text_;
            held_ = true;
            start_ = start;
            end_ = end;
            if (start == end) return text_ = {};
            while (piece_at_ + piece_.size() <= start) next_piece(start);
            const auto from = static_cast<std::size_t>(start - piece_at_);
            if (end <= piece_at_ + piece_.size())
                return text_ = piece_.substr(from, static_cast<std::size_t>(end - start));
            carry_.assign(piece_.substr(from));
            while (carry_.size() < end - start) {
                next_piece(start);
                carry_.append(piece_.substr(0, static_cast<std::size_t>(std::min<uint64_t>(
                                                   piece_.size(), end - start - carry_.size()))));
            }
            return text_ = carry_;
        }

        // Reads and checks the blocks that no range reached.
        void finish() {
            if (!every_block_) return;
            while (!data_.done()) data_.next();
            while (next_ < reader_.blocks_.size()) {
                open(next_++);
                while (!data_.done()) data_.next();
            }
        }

    private:
        // The next piece that holds bytes, from this block or the next one
        // that reaches the range beginning at start.
        void next_piece(uint64_t start) {
            piece_at_ += piece_.size();
            piece_ = data_.next();
            while (piece_.empty()) {
                const std::size_t i = next_++;
                if (i == reader_.blocks_.size())
                    reader_.fail("its records end before byte " + std::to_string(start));
                const block_place& b = reader_.blocks_[i];
                if (!every_block_ && b.start + b.size <= start) continue;
                open(i);
                piece_at_ = b.start;
                piece_ = data_.next();
            }
        }

        void open(std::size_t i) {
            const block_place& b = reader_.blocks_[i];
            reader_.read_bytes(b.at, b.stored, stored_);
            reader_.open_block(stored_, b.size, reader_.record_block_name(i, b.at), data_);
        }

        mdict_reader& reader_;
        bool every_block_;
        block_data data_;
        std::string stored_;
        std::size_t next_ = 0;
        uint64_t piece_at_ = 0;  // where piece_ lies in the records
        std::string_view piece_;
        std::string carry_;
        bool held_ = false;
        uint64_t start_ = 0, end_ = 0;
        std::string_view text_;
    };

    // A record as text: without its terminator and line end, made UTF-8,
    // its style markers replaced. Nothing when its styles make it longer
    // than max_raw_size: the expansion is checked as it grows.
    std::optional<std::string_view> record_text(std::string_view raw) {
        const auto last_unit = [&]() -> unsigned {
            if (unit_ == 1) return static_cast<unsigned char>(raw.back());
            const auto lo =
                static_cast<unsigned char>(raw[raw.size() - (big_endian_units_ ? 1 : 2)]);
            const auto hi =
                static_cast<unsigned char>(raw[raw.size() - (big_endian_units_ ? 2 : 1)]);
            return static_cast<unsigned>(hi << 8 | lo);
        };
        while (raw.size() >= unit_) {
            const unsigned c = last_unit();
            if (c != 0 && c != '\r' && c != '\n') break;
            raw.remove_suffix(unit_);
        }
        std::string_view text = raw;
        if (decoder_) {
            decoded_.clear();
            decoder_->decode(raw, decoded_, false);
            text = decoded_;
        }
        if (text.find('`') == std::string_view::npos) return text;
        if (styles_.empty()) return without_style_marks(text, styled_);
        styled_.clear();
        const style* open = nullptr;
        std::size_t at = 0;
        for (;;) {
            const std::size_t mark = text.find('`', at);
            if (mark == std::string_view::npos) break;
            std::size_t end = mark + 1;
            unsigned number = 0;
            while (end < text.size() && end - mark < 6 && text[end] >= '0' && text[end] <= '9')
                number = number * 10 + static_cast<unsigned>(text[end++] - '0');
            const auto found = styles_.find(number);
            if (end == mark + 1 || end >= text.size() || text[end] != '`' ||
                found == styles_.end()) {
                styled_.append(text, at, mark + 1 - at);
                at = mark + 1;
                continue;
            }
            const std::size_t closing = open != nullptr ? open->end.size() : 0;
            if (styled_.size() + (mark - at) + closing + found->second.begin.size() > max_raw_size)
                return std::nullopt;
            styled_.append(text, at, mark - at);
            if (open != nullptr) styled_ += open->end;
            open = &found->second;
            styled_ += open->begin;
            at = end + 1;
        }
        if (styled_.size() + (text.size() - at) + (open != nullptr ? open->end.size() : 0) >
            max_raw_size)
            return std::nullopt;
        styled_.append(text, at, std::string_view::npos);
        if (open != nullptr) styled_ += open->end;
        return styled_;
    }

    // The word that a reference record names, when the text is one.
    static std::optional<std::string_view> reference_target(std::string_view text) {
        std::string_view rest = text;
        while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\r' ||
                                 rest.front() == '\n' || rest.front() == '\t'))
            rest.remove_prefix(1);
        if (rest.substr(0, link_mark.size()) != link_mark) return std::nullopt;
        rest.remove_prefix(link_mark.size());
        return trimmed(rest.substr(0, rest.find_first_of(std::string_view("\r\n\0", 3))));
    }

    // The word that an HTML record names when it is nothing but a link to
    // it, <a href="entry://word">...</a>, as some dictionaries write their
    // references: the href's character references decoded, and a "#place"
    // in the word's record left out.
    std::optional<std::string_view> entry_link_target(std::string_view text) {
        const auto starts = [](std::string_view s, std::string_view prefix) {
            if (s.size() < prefix.size()) return false;
            for (std::size_t i = 0; i < prefix.size(); ++i)
                if ((s[i] | 0x20) != prefix[i]) return false;
            return true;
        };
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
        const std::string_view rest = trimmed(text);
        if (!starts(rest, "<a") || rest.size() < 3 || !blank(rest[2])) return std::nullopt;
        // The start tag ends at the first '>' outside quotes.
        std::size_t i = 2;
        for (char quote = 0; i < rest.size() && (quote != 0 || rest[i] != '>'); ++i) {
            if (quote == 0 && (rest[i] == '"' || rest[i] == '\''))
                quote = rest[i];
            else if (rest[i] == quote)
                quote = 0;
        }
        if (i == rest.size()) return std::nullopt;
        // Its end tag (not that of an <abbr> in it), and nothing after it.
        const auto end_tag = [&](std::size_t at) {
            return starts(rest.substr(at), "</a") &&
                   (at + 3 == rest.size() || blank(rest[at + 3]) || rest[at + 3] == '>');
        };
        std::size_t close = i + 1;
        while (close < rest.size() && !end_tag(close)) ++close;
        std::string_view after = rest.substr(std::min(close + 3, rest.size()));
        while (!after.empty() && blank(after.front())) after.remove_prefix(1);
        if (close == rest.size() || after != ">") return std::nullopt;
        for (const auto& [name, value] : attributes_of(rest.substr(0, i + 1))) {
            if (!same_letters(name, "href")) continue;
            if (!starts(value, link_scheme)) return std::nullopt;
            std::string_view word = std::string_view(value).substr(link_scheme.size());
            if (const std::size_t place = word.find('#'); place != 0) word = word.substr(0, place);
            link_target_.assign(trimmed(word));
            if (link_target_.empty()) return std::nullopt;
            return std::string_view(link_target_);
        }
        return std::nullopt;
    }

    // Every record in the order of the file; the entries whose record is a
    // reference are kept for later. Keys that share a record share its text.
    void read_records() {
        record_stream records(*this, true);
        const std::size_t n = entries_.size();
        for (std::size_t i = 0; i < n;) {
            std::size_t j = i + 1;
            while (j < n && entries_[j].record == entries_[i].record) ++j;
            const uint64_t start = entries_[i].record;
            const uint64_t end = j < n ? entries_[j].record : records_size_;
            const auto words = [&](auto each) {
                for (std::size_t k = i; k < j; ++k)
                    if (is_word(k)) each(k);
            };
            bool wanted = false;
            words([&](std::size_t) { wanted = true; });
            if (!wanted) {
                i = j;
                continue;
            }
            std::optional<std::string_view> text, target;
            if (end - start <= max_raw_size) text = record_text(records.text(start, end));
            bool by_entry_link = false;
            if (text && !(target = reference_target(*text)) && kind_ == markup::html)
                by_entry_link = (target = entry_link_target(*text)).has_value();
            if (!text) {
                words([&](std::size_t k) { sink_.too_large(key(k), end - start); });
            } else if (target) {
                words([&](std::size_t k) {
                    entries_[k].link = static_cast<uint32_t>(references_.size() + 1);
                    references_.push_back({static_cast<uint32_t>(k),
                                           static_cast<uint32_t>(target->size()), by_entry_link,
                                           targets_.size()});
                    targets_.append(*target);
                });
            } else {
                words([&](std::size_t k) { sink_.add(raw_entry{key(k), *text, kind_}); });
            }
            i = j;
        }
        records.finish();
    }

    // --- References ---

    std::string_view target(const reference& r) const {
        return std::string_view(targets_).substr(static_cast<std::size_t>(r.target_at),
                                                 r.target_size);
    }

    // A key as the dictionary's look-ups compare it: in lower case unless
    // KeyCaseSensitive="Yes", without ASCII punctuation and spaces when
    // StripKey="Yes".
    void normalise(std::string_view word, std::string& out) const {
        if (!case_sensitive_)
            lower_case(word, out);
        else
            out.assign(word);
        if (strip_key_) {
            out.erase(std::remove_if(out.begin(), out.end(),
                                     [](char c) {
                                         const auto u = static_cast<unsigned char>(c);
                                         return u < 0x80 &&
                                                !((c >= '0' && c <= '9') ||
                                                  ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'));
                                     }),
                      out.end());
        }
    }

    // The entries of one word, as places in by_key_ or by_normal_key_.
    struct span {
        std::size_t first = 0, last = 0;
        bool normal = false;
        bool empty() const { return first == last; }
    };

    // The entries whose key is the word: those written exactly so, else
    // those the dictionary's look-ups take for it.
    span entries_of(std::string_view word) {
        const auto exact = std::equal_range(
            by_key_.begin(), by_key_.end(), word,
            [this](const auto& a, const auto& b) { return as_key(a) < as_key(b); });
        span found{static_cast<std::size_t>(exact.first - by_key_.begin()),
                   static_cast<std::size_t>(exact.second - by_key_.begin()), false};
        if (!found.empty() || (case_sensitive_ && !strip_key_)) return found;
        if (by_normal_key_.empty()) {
            std::string normal;
            normal_keys_.resize(entries_.size());
            for (std::size_t i = 0; i < entries_.size(); ++i) {
                if (!is_word(i)) continue;
                normalise(key(i), normal);
                normal_keys_[i] = {normal_text_.size(), normal.size()};
                normal_text_ += normal;
                by_normal_key_.push_back(static_cast<uint32_t>(i));
            }
            std::stable_sort(
                by_normal_key_.begin(), by_normal_key_.end(),
                [this](uint32_t a, uint32_t b) { return normal_key(a) < normal_key(b); });
            normal_memo_.assign(by_normal_key_.size(), 0);
        }
        normalise(word, normal_word_);
        const auto normal = std::equal_range(
            by_normal_key_.begin(), by_normal_key_.end(), std::string_view(normal_word_),
            [this](const auto& a, const auto& b) { return as_normal_key(a) < as_normal_key(b); });
        return {static_cast<std::size_t>(normal.first - by_normal_key_.begin()),
                static_cast<std::size_t>(normal.second - by_normal_key_.begin()), true};
    }

    // The entry at a place of a span.
    uint32_t entry_at(const span& s, std::size_t place) const {
        return s.normal ? by_normal_key_[place] : by_key_[place];
    }

    std::string_view as_key(uint32_t i) const { return key(i); }
    std::string_view as_key(std::string_view word) const { return word; }
    std::string_view normal_key(uint32_t i) const {
        return std::string_view(normal_text_).substr(normal_keys_[i].first, normal_keys_[i].second);
    }
    std::string_view as_normal_key(uint32_t i) const { return normal_key(i); }
    std::string_view as_normal_key(std::string_view word) const { return word; }

    enum class outcome : uint8_t { unknown, on_the_way, found, missing, circle };

    // Where the entries of a word lead: to records of their own (found, 0
    // steps), through `steps` references to a word with records (found) or
    // to a word the dictionary lacks (missing), or in a circle.
    struct resolution {
        outcome state = outcome::unknown;
        uint32_t steps = 0;
        uint32_t records_at = 0, record_count = 0;  // in resolved_records_
    };

    // What the word of a span leads to, found once for each word: the
    // words on its way are resolved with it, so that many references to
    // one word, or to words of one chain, cost one walk in all.
    const resolution& resolve(span s) {
        way_.clear();
        resolution end;
        uint32_t first = 0;
        for (;;) {
            uint32_t& slot = (s.normal ? normal_memo_ : exact_memo_)[s.first];
            if (slot != 0) {
                end = resolutions_[slot - 1];
                if (end.state == outcome::on_the_way) end = {outcome::circle};
                if (way_.empty()) first = slot;
                break;
            }
            resolutions_.push_back({outcome::on_the_way});
            slot = static_cast<uint32_t>(resolutions_.size());
            if (way_.empty()) first = slot;
            resolution here{outcome::found, 0, static_cast<uint32_t>(resolved_records_.size()), 0};
            for (std::size_t p = s.first; p != s.last; ++p) {
                const uint32_t e = entry_at(s, p);
                if (entries_[e].link == 0 && here.record_count < max_referred_records) {
                    resolved_records_.push_back(e);
                    ++here.record_count;
                }
            }
            if (here.record_count > 0) {
                resolutions_[slot - 1] = end = here;
                break;
            }
            way_.push_back(slot);
            s = entries_of(target(references_[entries_[entry_at(s, s.first)].link - 1]));
            if (s.empty()) {
                end = {outcome::missing};
                break;
            }
        }
        // Each word on the way is one step further from where it ends.
        for (auto i = way_.rbegin(); i != way_.rend(); ++i) {
            if (end.state != outcome::circle && end.steps < UINT32_MAX) ++end.steps;
            resolutions_[*i - 1] = end;
        }
        return resolutions_[first - 1];
    }

    void follow_references() {
        if (references_.empty()) return;
        for (std::size_t i = 0; i < entries_.size(); ++i)
            if (is_word(i)) by_key_.push_back(static_cast<uint32_t>(i));
        std::stable_sort(by_key_.begin(), by_key_.end(),
                         [this](uint32_t a, uint32_t b) { return key(a) < key(b); });
        exact_memo_.assign(by_key_.size(), 0);

        struct wanted {
            uint32_t record_entry, word_entry;
        };
        std::vector<wanted> wants;
        for (const reference& r : references_) {
            const span s = entries_of(target(r));
            const resolution found = s.empty() ? resolution{outcome::missing} : resolve(s);
            if (found.state == outcome::circle) {
                sink_.skipped("references that lead in a circle", path_, 0);
            } else if (found.steps > max_reference_steps) {
                sink_.skipped(too_long_chain, path_, 0);
            } else if (found.state == outcome::missing) {
                sink_.skipped("references to a word the dictionary lacks", path_, 0);
            } else {
                ++followed_;
                followed_by_links_ += r.by_entry_link;
                for (uint32_t i = 0; i < found.record_count; ++i)
                    wants.push_back({resolved_records_[found.records_at + i], r.entry});
            }
        }
        std::stable_sort(wants.begin(), wants.end(), [this](const wanted& a, const wanted& b) {
            return entries_[a.record_entry].record < entries_[b.record_entry].record;
        });

        // Only the blocks that hold the records wanted, in the order of the
        // file; each record made text once for all the words that want it.
        record_stream records(*this, false);
        std::size_t next = 0;  // the first entry whose record starts past the one wanted
        for (std::size_t i = 0; i < wants.size();) {
            const uint64_t start = entries_[wants[i].record_entry].record;
            std::size_t j = i + 1;
            while (j < wants.size() && entries_[wants[j].record_entry].record == start) ++j;
            while (next < entries_.size() && entries_[next].record <= start) ++next;
            const uint64_t end = next < entries_.size() ? entries_[next].record : records_size_;
            std::optional<std::string_view> text;
            if (end - start <= max_raw_size) text = record_text(records.text(start, end));
            for (; i < j; ++i) {
                if (text)
                    sink_.add(raw_entry{key(wants[i].word_entry), *text, kind_});
                else
                    sink_.too_large(key(wants[i].word_entry), end - start);
            }
        }
    }

    const std::string& path_;
    const reader_options& options_;
    entry_sink& sink_;
    std::unique_ptr<input_file> file_;
    uint64_t size_ = 0;

    std::vector<std::pair<std::string, std::string>> attributes_;
    bool v3_ = false;                    // engine 3.0: a <ZDB> header and units
    std::optional<block_key> uuid_key_;  // 3.0: the key from the header's UUID
    std::size_t number_size_ = 8;
    bool scrambled_index_ = false;
    std::unique_ptr<charset_decoder> decoder_;  // null for UTF-8
    std::size_t unit_ = 1;                      // bytes of a code unit: 2 in UTF-16
    bool big_endian_units_ = false;
    markup kind_ = markup::html;
    std::string title_;
    bool case_sensitive_ = false, strip_key_ = false;
    std::map<unsigned, style> styles_;

    uint64_t entry_count_ = 0;
    uint64_t keys_seen_ = 0, last_record_ = 0;
    std::string raw_key_;
    std::vector<entry> entries_;  // the keys that give words, and places that end records
    std::string keys_;
    std::vector<block_place> blocks_;
    uint64_t records_size_ = 0;
    std::vector<reference> references_;
    std::string targets_;
    uint64_t followed_ = 0;           // references that gave their word a translation
    uint64_t followed_by_links_ = 0;  // of them, records that are an entry:// link
    std::string link_target_;

    std::vector<uint32_t> by_key_, by_normal_key_;
    std::vector<std::pair<std::size_t, std::size_t>> normal_keys_;
    std::string normal_text_, normal_word_;
    // For each place in by_key_ and by_normal_key_ that starts a word: 1 +
    // its place in resolutions_, or 0 while it is not resolved.
    std::vector<uint32_t> exact_memo_, normal_memo_;
    std::vector<resolution> resolutions_;
    std::vector<uint32_t> resolved_records_, way_;

    std::string decoded_, styled_;
};

}  // namespace

bool looks_like_mdict(std::string_view sample, bool) {
    if (sample.size() < header_size_bytes) return false;
    const std::string_view element = sample.substr(header_size_bytes);
    if (element.substr(0, v3_element.size() + 1) == std::string(v3_element) + " ") return true;
    for (const std::string_view name : {dictionary_element, resources_element}) {
        bool same = element.size() >= 2 * name.size();
        for (std::size_t i = 0; same && i < name.size(); ++i)
            same = element[2 * i] == name[i] && element[2 * i + 1] == '\0';
        if (same) return true;
    }
    return false;
}

std::string read_mdict(reader_input& input, entry_sink& sink) {
    if (input.path == "-")
        throw import_error(
            "-: an MDict dictionary is read at any place of its file; name the file, not standard"
            " input");
    try {
        mdict_reader reader(input.path, input.options, sink);
        return reader.read();
    } catch (const input_error& error) {
        throw import_error(error.what());
    }
}

}  // namespace lexaro::import
