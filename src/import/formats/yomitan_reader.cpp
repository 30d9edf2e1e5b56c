// Yomitan dictionaries (formerly Yomichan's), made for a pop-up dictionary of
// web pages: a zip archive of JSON files. index.json names the dictionary and
// the layout of its rows; term_bank_N.json and kanji_bank_N.json hold its
// terms and kanji, each an array of rows; term_meta_bank_N.json and
// kanji_meta_bank_N.json hold frequencies, pitch accents and IPA, which are
// no words and are only counted. Banks are read in the order of their
// numbers, every file at the archive's root; pictures and styles are not read.
//
// Every expression is a word, and so is its reading where it differs, each
// with the other as its first line. Rows of one expression and reading (and,
// in a dictionary that says its rows are sequenced, one sequence number) make
// one entry, numbered senses ordered by their score, with the term's tags
// once. Structured content becomes text as the dictionary's readers show it:
// blocks and list items on lines of their own, ordered lists numbered, ruby
// as base(reading), table cells joined by " | ", pictures left out.
//
// The archive is read through minizip. Before any member is inflated, each
// one read is checked against the file: its data lie inside it, no two
// overlap, and what they claim to inflate to is no more than deflate can make
// of their bytes. Members are inflated a piece at a time and never held
// whole: a bank is cut into its rows as it inflates, and one row is parsed at
// a time. What makes the entries is kept (about the text of the terms) until
// the last term bank is read, since rows of one entry may lie in any bank.
#include <unzip.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/compressed_input.h"
#include "import/formats/json_string.h"
#include "import/formats/readers.h"

namespace lexaro::import {

namespace {

// --- The archive -------------------------------------------------------------------

constexpr unsigned stored_method = 0, deflate_method = 8;  // zip's compression methods
constexpr unsigned encrypted_flag = 1;                     // bit 0 of a member's flags
// The most that deflate makes of a byte, and a little over for tiny members.
constexpr uint64_t most_inflated_per_byte = 1032;
constexpr uint64_t inflated_slack = 64;
// The end-of-central-directory record: its signature, its size without the
// comment, and the longest comment after it.
constexpr std::string_view end_record_signature{"PK\x05\x06", 4};
constexpr std::size_t end_record_size = 22;
constexpr std::size_t max_comment_size = 0xFFFF;
// A count of 0xFFFF in the end record may stand for more (zip64); minizip
// then walks the directory until an entry fails to begin as one.
constexpr uint64_t zip64_count = 0xFFFF;
// A size of 0xFFFFFFFF in an entry stands for the one in its zip64 extra
// field (of this id), which minizip 1.1 reads only where a long has 32 bits.
constexpr uint64_t zip64_size = 0xFFFFFFFF;
constexpr unsigned zip64_extra_id = 0x0001;
constexpr std::size_t source_buffer_size = 1 << 16;
constexpr std::size_t read_piece = 1 << 16;

// --- The dictionary ----------------------------------------------------------------

const std::string index_name = "index.json";
constexpr std::size_t max_index_size = 1 << 20;
// A row of more JSON than this is read past, never held: its text could not
// fit a block.
constexpr std::size_t max_row_size = 4 * max_raw_size;
// Deeper nesting than this is no dictionary's, and is refused rather than followed.
constexpr int max_depth = 128;
constexpr int64_t first_format = 1, last_format = 3;
// The rows of a term in formats 2 and 3, and in format 1 the elements
// before its definitions; a kanji's the same.
constexpr std::size_t term_elements = 8, old_term_elements = 5;
constexpr std::size_t kanji_elements = 5, old_kanji_elements = 4;
// A part of structured content that a dictionary marks so is boilerplate
// (a link back to the dictionary's source), not a definition.
constexpr std::string_view boilerplate_content = "backlink";
// The list whose items a dictionary marks so run on as one sense's glosses.
constexpr std::string_view glossary_content = "glossary";

// A build for fuzzing lets members through whatever their CRC-32 says, so
// that the fuzzer reaches the JSON behind it.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr bool checksums_checked = false;
#else
constexpr bool checksums_checked = true;
#endif

std::string at_byte(uint64_t at) { return " at byte " + std::to_string(at); }

// The archive's bytes as minizip reads them: through input_file, from a
// buffer, since minizip reads its directory a few bytes at a time. A read
// that fails keeps input_file's message for the reader to report, since
// minizip only says that something failed. Past the end of the file it
// reads zeros: minizip reads a member's data in pieces of 16 KiB that it
// wants whole, past the member's end where it takes a zip64 member for
// larger, and the reader has checked that every member's data lie inside
// the file; zeros are never the signature of a header or directory.
struct zip_source {
    explicit zip_source(const input_file& f) : file(f) {}
    const input_file& file;
    uint64_t position = 0;
    std::string buffer;
    uint64_t buffer_at = 0;
    std::string failure;
};

voidpf ZCALLBACK open_source(voidpf, const void* source, int) { return const_cast<void*>(source); }

uLong ZCALLBACK read_source(voidpf, voidpf stream, void* out, uLong size) {
    auto& s = *static_cast<zip_source*>(stream);
    auto* to = static_cast<char*>(out);
    uLong done = 0;
    try {
        while (done < size) {
            if (s.position >= s.buffer_at && s.position - s.buffer_at < s.buffer.size()) {
                const auto from = static_cast<std::size_t>(s.position - s.buffer_at);
                const std::size_t n = std::min<std::size_t>(size - done, s.buffer.size() - from);
                std::memcpy(to + done, s.buffer.data() + from, n);
                done += static_cast<uLong>(n);
                s.position += n;
                continue;
            }
            const std::size_t wanted = size - done;
            if (wanted >= source_buffer_size) {
                const std::size_t got = s.file.read_at(s.position, to + done, wanted);
                done += static_cast<uLong>(got);
                s.position += got;
                break;
            }
            s.buffer.resize(source_buffer_size);
            s.buffer.resize(s.file.read_at(s.position, s.buffer.data(), source_buffer_size));
            s.buffer_at = s.position;
            if (s.buffer.empty()) break;
        }
        if (done < size) {
            std::memset(to + done, 0, size - done);
            s.position += size - done;
            done = size;
        }
    } catch (const input_error& error) {
        s.failure = error.what();
        return 0;
    }
    return done;
}

uLong ZCALLBACK write_source(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T ZCALLBACK tell_source(voidpf, voidpf stream) {
    return static_cast<zip_source*>(stream)->position;
}

long ZCALLBACK seek_source(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto& s = *static_cast<zip_source*>(stream);
    if (origin == ZLIB_FILEFUNC_SEEK_SET)
        s.position = offset;
    else if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        s.position += offset;
    else
        s.position = s.file.size() + offset;
    return 0;
}

int ZCALLBACK close_source(voidpf, voidpf) { return 0; }

int ZCALLBACK source_error(voidpf, voidpf stream) {
    return static_cast<zip_source*>(stream)->failure.empty() ? 0 : 1;
}

// What the archive's directory says of one member.
struct member {
    std::string name;
    unz64_file_pos place{};
    uint64_t compressed = 0, size = 0;
    uint32_t crc = 0;
    unsigned method = 0, flags = 0;
    uint64_t data_at = 0;  // where its data begin in the file, once located
};

// A zip archive read through minizip; every failure an import_error that
// names the file and, where there is one, the member.
class zip_archive {
public:
    explicit zip_archive(const std::string& path) : path_(path), file_(path), source_{file_} {
        zlib_filefunc64_def functions{};
        functions.zopen64_file = open_source;
        functions.zread_file = read_source;
        functions.zwrite_file = write_source;
        functions.ztell64_file = tell_source;
        functions.zseek64_file = seek_source;
        functions.zclose_file = close_source;
        functions.zerror_file = source_error;
        zip_ = unzOpen2_64(&source_, &functions);
        if (zip_ == nullptr) refuse_opening();
    }
    ~zip_archive() {
        if (zip_ != nullptr) unzClose(zip_);
    }
    zip_archive(const zip_archive&) = delete;
    zip_archive& operator=(const zip_archive&) = delete;

    const std::string& path() const { return path_; }

    // Hands each member of the central directory, in its order, to take.
    template <typename Take>
    void for_each_member(Take take) {
        unz_global_info64 global{};
        if (unzGetGlobalInfo64(zip_, &global) != UNZ_OK) fail_reading("its central directory");
        name_buffer_.resize(0x10000);
        extra_buffer_.resize(0x10000);
        uint64_t number = 0;
        for (int status = global.number_entry == 0 ? UNZ_END_OF_LIST_OF_FILE : UNZ_OK;
             status != UNZ_END_OF_LIST_OF_FILE; status = unzGoToNextFile(zip_)) {
            ++number;
            if (status != UNZ_OK) {
                // Past 0xFFFF counted entries, the end of the directory.
                if (global.number_entry == zip64_count && number > zip64_count) break;
                fail_reading("entry " + std::to_string(number) + " of its central directory");
            }
            unz_file_info64 info{};
            member m;
            if (unzGetCurrentFileInfo64(
                    zip_, &info, name_buffer_.data(), static_cast<uLong>(name_buffer_.size()),
                    extra_buffer_.data(), static_cast<uLong>(extra_buffer_.size()), nullptr,
                    0) != UNZ_OK ||
                unzGetFilePos64(zip_, &m.place) != UNZ_OK)
                fail_reading("entry " + std::to_string(number) + " of its central directory");
            m.name.assign(name_buffer_.data(),
                          std::min<std::size_t>(info.size_filename, name_buffer_.size()));
            m.compressed = info.compressed_size;
            m.size = info.uncompressed_size;
            m.crc = static_cast<uint32_t>(info.crc);
            if (m.size == zip64_size || m.compressed == zip64_size)
                take_zip64_sizes(std::string_view(extra_buffer_.data(), info.size_file_extra), m);
            m.method = static_cast<unsigned>(info.compression_method);
            m.flags = static_cast<unsigned>(info.flag);
            take(std::move(m));
        }
    }

    // Checks what a member claims against the file, before anything of it
    // is inflated, and finds where its data begin.
    void locate(member& m) {
        const std::string where = path_ + ": " + m.name;
        if (m.flags & encrypted_flag)
            throw import_error(where + " is encrypted; lexaro-import reads no encrypted members");
        if (m.method != stored_method && m.method != deflate_method)
            throw import_error(where + " is compressed with method " + std::to_string(m.method) +
                               ", which lexaro-import does not read (it reads stored and"
                               " deflated members)");
        if (m.method == stored_method && m.compressed != m.size)
            throw import_error(where + ": its zip entry says it is stored in " +
                               std::to_string(m.compressed) + " bytes and holds " +
                               std::to_string(m.size));
        const uint64_t size = file_.size();
        if (m.compressed > size)
            throw import_error(where + ": its zip entry gives it " + std::to_string(m.compressed) +
                               " bytes, more than the whole file's " + std::to_string(size));
        if (m.size > m.compressed * most_inflated_per_byte + inflated_slack)
            throw import_error(where + ": its zip entry says that its " +
                               std::to_string(m.compressed) + " bytes inflate to " +
                               std::to_string(m.size) + ", more than deflate makes of them");
        go_to(m);
        if (unzOpenCurrentFile(zip_) != UNZ_OK) fail_opening(m);
        m.data_at = unzGetCurrentFileZStreamPos64(zip_);
        unzCloseCurrentFile(zip_);
        if (m.data_at > size || m.compressed > size - m.data_at)
            throw import_error(where + ": its " + std::to_string(m.compressed) + " bytes" +
                               at_byte(m.data_at) + " run past the end of the file (" +
                               std::to_string(size) + " bytes)");
    }

    // Refuses members (located) whose data overlap: one range of bytes
    // inflated again and again under other names is how a small zip claims
    // to hold far more than it does.
    void check_overlaps(std::vector<const member*> members) const {
        std::stable_sort(members.begin(), members.end(),
                         [](const member* a, const member* b) { return a->data_at < b->data_at; });
        for (std::size_t i = 1; i < members.size(); ++i) {
            const member& before = *members[i - 1];
            const member& m = *members[i];
            if (m.data_at < before.data_at + before.compressed || m.data_at == before.data_at)
                throw import_error(path_ + ": " + m.name + " and " + before.name +
                                   " share their bytes" + at_byte(m.data_at) +
                                   ": a damaged zip, or one made to inflate without end");
        }
    }

    // The bytes of a member, a piece at a time; its size and CRC-32 are
    // checked at its end.
    class reader {
    public:
        reader(zip_archive& zip, const member& m) : zip_(zip), member_(m) {
            zip_.go_to(m);
            if (unzOpenCurrentFile(zip_.zip_) != UNZ_OK) zip_.fail_opening(m);
        }
        ~reader() {
            if (!closed_) unzCloseCurrentFile(zip_.zip_);
        }
        reader(const reader&) = delete;
        reader& operator=(const reader&) = delete;

        // Up to `size` bytes into out; gives how many, 0 only at the end.
        // Reads no further than the size its entry gives (minizip may take
        // a zip64 member for larger), and checks the CRC-32 itself.
        std::size_t read(char* out, std::size_t size) {
            if (closed_) return 0;
            const uint64_t left = member_.size - done_;
            if (left > 0) {
                const auto wanted = static_cast<unsigned>(std::min<uint64_t>(size, left));
                const int got = unzReadCurrentFile(zip_.zip_, out, wanted);
                if (got < 0) zip_.fail_inflating(member_, got);
                if (got > 0) {
                    done_ += static_cast<unsigned>(got);
                    crc_ = crc32(crc_, reinterpret_cast<const Bytef*>(out),
                                 static_cast<unsigned>(got));
                    return static_cast<std::size_t>(got);
                }
            }
            closed_ = true;
            unzCloseCurrentFile(zip_.zip_);
            const std::string where = zip_.path_ + ": " + member_.name;
            if (done_ != member_.size)
                throw import_error(where + " inflates to " + std::to_string(done_) +
                                   " bytes, its zip entry says " + std::to_string(member_.size));
            if (crc_ != member_.crc && checksums_checked)
                throw import_error(where + ": its CRC-32 is wrong: its bytes are damaged");
            return 0;
        }

    private:
        zip_archive& zip_;
        const member& member_;
        uint64_t done_ = 0;
        uLong crc_ = crc32(0, nullptr, 0);
        bool closed_ = false;
    };

private:
    // The sizes that stand in a zip64 extra field for those of 0xFFFFFFFF:
    // the inflated size first, then the stored one, each only if its field
    // says 0xFFFFFFFF.
    static void take_zip64_sizes(std::string_view extra, member& m) {
        const auto number = [&](std::size_t at, std::size_t size) {
            uint64_t value = 0;
            for (std::size_t k = size; k-- > 0;)
                value = value << 8 | static_cast<unsigned char>(extra[at + k]);
            return value;
        };
        for (std::size_t at = 0; extra.size() - at >= 4;) {
            const auto id = static_cast<unsigned>(number(at, 2));
            const auto size = static_cast<std::size_t>(number(at + 2, 2));
            at += 4;
            if (size > extra.size() - at) return;
            if (id == zip64_extra_id) {
                std::size_t field = at;
                for (uint64_t* value : {&m.size, &m.compressed}) {
                    if (*value != zip64_size) continue;
                    if (field + 8 > at + size) return;
                    *value = number(field, 8);
                    field += 8;
                }
                return;
            }
            at += size;
        }
    }

    void go_to(const member& m) {
        unz64_file_pos place = m.place;
        if (unzGoToFilePos64(zip_, &place) != UNZ_OK)
            fail_reading("the central directory entry of " + m.name);
    }

    // minizip found no directory: says whether there is none, or it is damaged.
    [[noreturn]] void refuse_opening() {
        if (!source_.failure.empty()) throw import_error(source_.failure);
        const uint64_t size = file_.size();
        const auto tail =
            static_cast<std::size_t>(std::min<uint64_t>(size, end_record_size + max_comment_size));
        std::string bytes(tail, '\0');
        file_.read_exactly(size - tail, bytes.data(), tail);
        const std::size_t end = bytes.rfind(end_record_signature);
        if (end == std::string::npos || bytes.size() - end < end_record_size)
            throw import_error(path_ +
                               " is not a zip archive: it has no zip central directory at its end");
        const auto number = [&](std::size_t at) {
            return static_cast<unsigned>(static_cast<unsigned char>(bytes[end + at]) |
                                         static_cast<unsigned char>(bytes[end + at + 1]) << 8);
        };
        if (number(4) != 0 || number(6) != 0)
            throw import_error(path_ +
                               " is one part of a zip archive split into several; join"
                               " the parts into one file first");
        if (size - tail + end == 0 && number(10) == 0)
            throw import_error(path_ + " is an empty zip archive: it is not a Yomitan dictionary");
        throw import_error(path_ + ": its zip central directory is damaged");
    }

    [[noreturn]] void fail_reading(const std::string& part) const {
        if (!source_.failure.empty()) throw import_error(source_.failure);
        throw import_error(path_ + ": " + part + " is damaged");
    }

    [[noreturn]] void fail_opening(const member& m) const {
        if (!source_.failure.empty()) throw import_error(source_.failure);
        throw import_error(path_ + ": " + m.name +
                           ": its local header is damaged, or does not match its entry in the"
                           " central directory");
    }

    [[noreturn]] void fail_inflating(const member& m, int status) const {
        if (!source_.failure.empty()) throw import_error(source_.failure);
        const std::string where = path_ + ": " + m.name;
        switch (status) {
            case Z_DATA_ERROR:
                throw import_error(where + ": its deflate data are damaged");
            case Z_BUF_ERROR:
                throw import_error(where + ": its deflate data end before the " +
                                   std::to_string(m.size) + " bytes its zip entry says");
            case Z_MEM_ERROR:
                throw std::bad_alloc();
            default:
                throw import_error(where + ": its data cannot be read (zip error " +
                                   std::to_string(status) + ")");
        }
    }

    const std::string& path_;
    input_file file_;
    zip_source source_;
    unzFile zip_ = nullptr;
    std::vector<char> name_buffer_, extra_buffer_;
};

// --- JSON --------------------------------------------------------------------------

enum class json_kind : uint8_t { null, boolean, number, string, array, object };

// One value of a parsed row, in document order: an array's elements and an
// object's names and values follow it, up to `end`.
struct json_node {
    json_kind kind = json_kind::null;
    bool truth = false;
    uint32_t count = 0;  // elements of an array, members of an object
    uint32_t end = 0;    // the node after this value and all it holds
    std::size_t at = 0;  // a string's or number's text in the parser's strings
    std::size_t size = 0;
};

// What a row's JSON lacks where: an offset in the row.
struct json_error {
    std::size_t at;
    const char* expected;
};

// A strict JSON parser of one value at a time into nodes; strings are
// unescaped into one buffer. Both are reused from row to row.
class json_parser {
public:
    void parse(std::string_view text) {
        text_ = text;
        at_ = 0;
        nodes_.clear();
        strings_.clear();
        value(0);
        skip_space();
        if (at_ != text_.size()) fail("the end of the value");
    }

    const json_node& operator[](uint32_t i) const { return nodes_[i]; }
    std::string_view text(const json_node& n) const {
        return std::string_view(strings_).substr(n.at, n.size);
    }
    std::string_view text(uint32_t i) const { return text(nodes_[i]); }

    // The elements of an array, or the names and values of an object, in turn.
    template <typename Each>
    void children(uint32_t i, Each each) const {
        for (uint32_t child = i + 1; child < nodes_[i].end; child = nodes_[child].end) each(child);
    }
    std::vector<uint32_t>& elements(uint32_t i, std::vector<uint32_t>& out) const {
        out.clear();
        children(i, [&](uint32_t child) { out.push_back(child); });
        return out;
    }

    // An object's value of that name, if it has one.
    std::optional<uint32_t> member(uint32_t object, std::string_view name) const {
        if (nodes_[object].kind != json_kind::object) return std::nullopt;
        for (uint32_t key = object + 1; key < nodes_[object].end;) {
            const uint32_t value = key + 1;
            if (text(key) == name) return value;
            key = nodes_[value].end;
        }
        return std::nullopt;
    }
    std::optional<std::string_view> string_member(uint32_t object, std::string_view name) const {
        const auto found = member(object, name);
        if (!found || nodes_[*found].kind != json_kind::string) return std::nullopt;
        return text(*found);
    }

    bool is(uint32_t i, json_kind kind) const { return nodes_[i].kind == kind; }

    // A number as a double, roughly: enough to order by.
    double number(uint32_t i) const {
        const std::string_view t = text(i);
        double value = 0, scale = 1;
        int exponent = 0, sign = 1;
        bool fraction = false;
        for (std::size_t k = 0; k < t.size(); ++k) {
            const char c = t[k];
            if (c >= '0' && c <= '9') {
                if (fraction) scale /= 10;
                value = value * (fraction ? 1 : 10) + (c - '0') * (fraction ? scale : 1);
            } else if (c == '.') {
                fraction = true;
            } else if (c == 'e' || c == 'E') {
                int e = 0, e_sign = 1;
                for (++k; k < t.size(); ++k) {
                    if (t[k] == '-') e_sign = -1;
                    if (t[k] >= '0' && t[k] <= '9' && e < 10000) e = e * 10 + (t[k] - '0');
                }
                exponent = e_sign * e;
            } else if (c == '-') {
                sign = -1;
            }
        }
        for (; exponent > 0 && value < 1e300; --exponent) value *= 10;
        for (; exponent < 0 && value > 1e-300; ++exponent) value /= 10;
        return sign * value;
    }

    // A number written as a whole number that fits 64 bits.
    std::optional<int64_t> integer(uint32_t i) const {
        if (!is(i, json_kind::number)) return std::nullopt;
        std::string_view t = text(i);
        const bool negative = t[0] == '-';
        if (negative) t.remove_prefix(1);
        uint64_t value = 0;
        for (const char c : t) {
            if (c < '0' || c > '9' || value > (uint64_t{INT64_MAX} - 9) / 10) return std::nullopt;
            value = value * 10 + static_cast<uint64_t>(c - '0');
        }
        return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
    }

private:
    [[noreturn]] void fail(const char* expected) const { throw json_error{at_, expected}; }

    void skip_space() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }

    char peek() {
        skip_space();
        return at_ < text_.size() ? text_[at_] : '\0';
    }

    uint32_t add(json_kind kind) {
        if (nodes_.size() >= UINT32_MAX) fail("fewer values");
        nodes_.push_back({});
        nodes_.back().kind = kind;
        return static_cast<uint32_t>(nodes_.size() - 1);
    }

    void value(int depth) {
        if (depth > max_depth) fail("less deeply nested values");
        const char c = peek();
        uint32_t node;
        if (c == '{') {
            node = add(json_kind::object);
            ++at_;
            if (peek() == '}') {
                ++at_;
            } else {
                for (;;) {
                    if (peek() != '"') fail("a member's name in quotes");
                    string();
                    if (peek() != ':') fail("a ':' after a member's name");
                    ++at_;
                    value(depth + 1);
                    ++nodes_[node].count;
                    const char after = peek();
                    if (after == '}') break;
                    if (after != ',') fail("a ',' or '}' after a member");
                    ++at_;
                }
                ++at_;
            }
        } else if (c == '[') {
            node = add(json_kind::array);
            ++at_;
            if (peek() == ']') {
                ++at_;
            } else {
                for (;;) {
                    value(depth + 1);
                    ++nodes_[node].count;
                    const char after = peek();
                    if (after == ']') break;
                    if (after != ',') fail("a ',' or ']' after an element");
                    ++at_;
                }
                ++at_;
            }
        } else if (c == '"') {
            node = string();
        } else if (text_.substr(at_, 4) == "true" || text_.substr(at_, 5) == "false") {
            node = add(json_kind::boolean);
            nodes_[node].truth = text_[at_] == 't';
            at_ += nodes_[node].truth ? 4 : 5;
        } else if (text_.substr(at_, 4) == "null") {
            node = add(json_kind::null);
            at_ += 4;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            node = number_text();
        } else {
            fail("a value");
        }
        nodes_[node].end = static_cast<uint32_t>(nodes_.size());
    }

    uint32_t number_text() {
        const std::size_t start = at_;
        const auto digits = [&] {
            const std::size_t from = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
            return at_ - from;
        };
        if (text_[at_] == '-') ++at_;
        const std::size_t first = at_;
        if (digits() == 0 || (text_[first] == '0' && at_ - first > 1)) fail("a number");
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (digits() == 0) fail("digits after a number's '.'");
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            if (digits() == 0) fail("digits in a number's exponent");
        }
        const uint32_t node = add(json_kind::number);
        nodes_[node].at = strings_.size();
        nodes_[node].size = at_ - start;
        strings_.append(text_, start, at_ - start);
        nodes_[node].end = node + 1;
        return node;
    }

    // A string (at_ on its quote), unescaped.
    uint32_t string() {
        const uint32_t node = add(json_kind::string);
        nodes_[node].at = strings_.size();
        ++at_;
        if (const char* expected = read_json_string(text_, at_, strings_, "a '\"' ending the string"))
            fail(expected);
        nodes_[node].size = strings_.size() - nodes_[node].at;
        nodes_[node].end = node + 1;
        return node;
    }

    std::string_view text_;
    std::size_t at_ = 0;
    std::vector<json_node> nodes_;
    std::string strings_;
};

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The rows of a bank (a JSON array) as its member inflates: each element cut
// out whole by its brackets and quotes, then parsed alone. A row of more
// than max_row_size bytes is read past and not kept.
class bank_rows {
public:
    bank_rows(zip_archive& zip, const member& m)
        : in_(zip, m), where_(zip.path() + ": " + m.name) {}

    // The next row's JSON, held until the next call; false after the last.
    // `at` is where it starts in the bank; `too_large` when it was not kept
    // (then `row` is empty and `size` says how large it was).
    bool next(std::string_view& row, uint64_t& at, bool& too_large, uint64_t& size) {
        if (!started_) {
            started_ = true;
            skip_space();
            if (!more() || buffer_[pos_] != '[') fail("a '[' starting the bank's array of rows");
            ++pos_;
            skip_space();
            if (more() && buffer_[pos_] == ']') {
                ++pos_;
                return finish();
            }
        } else {
            skip_space();
            if (!more()) fail("a ',' or ']' after a row");
            const char c = buffer_[pos_++];
            if (c == ']') return finish();
            if (c != ',') {
                --pos_;
                fail("a ',' or ']' after a row");
            }
            skip_space();
        }
        if (!more()) fail("a row");
        at = offset();
        row_.clear();
        row_size_ = 0;
        take_value();
        row = row_;
        too_large = row_size_ > max_row_size;
        size = row_size_;
        return true;
    }

    // The message for a row that is no JSON, at `at` in the bank.
    import_error error(uint64_t at, const char* expected) const {
        return import_error(where_ + ": byte " + std::to_string(at) + ": expected " + expected);
    }

private:
    [[noreturn]] void fail(const char* expected) const { throw error(offset(), expected); }

    uint64_t offset() const { return consumed_ + pos_; }

    // Whether a byte is there to look at, reading more when none is held.
    bool more() {
        if (pos_ < end_) return true;
        if (at_end_) return false;
        consumed_ += end_;
        buffer_.resize(read_piece);
        end_ = in_.read(buffer_.data(), read_piece);
        pos_ = 0;
        at_end_ = end_ == 0;
        return end_ > 0;
    }

    void skip_space() {
        while (more()) {
            // A byte-order mark before the array, as some writers put it.
            if (offset() == 0 && end_ - pos_ >= 3 &&
                std::memcmp(buffer_.data() + pos_, "\xEF\xBB\xBF", 3) == 0) {
                pos_ += 3;
                continue;
            }
            if (!is_space(buffer_[pos_])) return;
            ++pos_;
        }
    }

    void keep(std::size_t from) {
        row_size_ += pos_ - from;
        if (row_size_ <= max_row_size) row_.append(buffer_.data() + from, pos_ - from);
    }

    // One value, whole: an array or object up to its closing bracket, a
    // string to its closing quote, anything else to the next ',' ']' or
    // white space. The parser checks the rest.
    void take_value() {
        int depth = 0;
        bool in_string = false, escaped = false;
        const char first = buffer_[pos_];
        const bool scalar = first != '[' && first != '{' && first != '"';
        for (;;) {
            if (!more()) {
                if (scalar) return;
                fail("the rest of the row before the end of the bank");
            }
            const std::size_t from = pos_;
            bool done = false;
            while (pos_ < end_ && !done) {
                const char c = buffer_[pos_];
                if (in_string) {
                    ++pos_;
                    if (escaped)
                        escaped = false;
                    else if (c == '\\')
                        escaped = true;
                    else if (c == '"')
                        in_string = false, done = depth == 0;
                } else if (scalar) {
                    if (c == ',' || c == ']' || is_space(c)) {
                        done = true;
                    } else {
                        ++pos_;
                    }
                } else {
                    ++pos_;
                    if (c == '"') {
                        in_string = true;
                    } else if (c == '[' || c == '{') {
                        ++depth;
                    } else if (c == ']' || c == '}') {
                        done = --depth == 0;
                    }
                }
            }
            keep(from);
            if (done) return;
        }
    }

    bool finish() {
        skip_space();
        if (more()) fail("the end of the bank after its array of rows");
        return false;
    }

    zip_archive::reader in_;
    std::string where_;
    std::string buffer_;
    std::size_t pos_ = 0, end_ = 0;
    uint64_t consumed_ = 0;  // bytes of the bank before the buffer's first
    bool at_end_ = false, started_ = false;
    std::string row_;
    uint64_t row_size_ = 0;
};

// --- Structured content as text ----------------------------------------------------

// Text built as a reader of the dictionary sees it: runs of spaces and tabs
// one space, lines trimmed, empty lines dropped.
class text_builder {
public:
    void clear() {
        out_.clear();
        line_has_text_ = space_ = at_marker_ = false;
    }

    // Text whose line feeds are line breaks.
    void text(std::string_view s) {
        for (const char c : s) {
            if (c == '\n') {
                line_break();
            } else if (c == ' ' || c == '\t' || c == '\r') {
                space_ = line_has_text_;
            } else {
                if (space_) out_ += ' ';
                space_ = false;
                out_ += c;
                line_has_text_ = true;
                at_marker_ = false;
            }
        }
    }

    void line_break() {
        if (!line_has_text_) return;
        while (!out_.empty() && out_.back() == ' ') out_.pop_back();
        out_ += '\n';
        line_has_text_ = space_ = at_marker_ = false;
    }

    // The start or end of a block: what follows begins a line, unless
    // nothing but a list item's marker stands on this one.
    void block() {
        if (!at_marker_) line_break();
    }

    // A list item's marker ("1. ", "- ") at the start of a line.
    void marker(std::string_view text) {
        line_break();
        out_.append(text);
        line_has_text_ = at_marker_ = true;
        space_ = false;
    }

    bool ends_with(char c) const { return line_has_text_ && !out_.empty() && out_.back() == c; }

    // The text, without the line breaks at its end.
    const std::string& finish() {
        while (!out_.empty() && (out_.back() == '\n' || out_.back() == ' ')) out_.pop_back();
        return out_;
    }

private:
    std::string out_;
    bool line_has_text_ = false;  // the current line holds text (or a marker)
    bool space_ = false;          // a space is due before the next text on the line
    bool at_marker_ = false;      // nothing but a marker on the current line
};

// What reading the rows found that the summary counts.
struct yomitan_counts {
    uint64_t term_banks = 0, kanji_banks = 0, meta_banks = 0;
    uint64_t term_rows = 0, kanji_rows = 0, deinflections = 0, images = 0;
    uint64_t frequencies = 0, pitches = 0, transcriptions = 0, kanji_frequencies = 0,
             other_meta = 0;
};

// Structured content (and the other glossary items) made text.
class flattener {
public:
    flattener(const json_parser& json, text_builder& out, yomitan_counts& counts)
        : json_(json), out_(out), counts_(counts) {}

    // Whether an element it did not know was met since the last call.
    bool take_unknown() { return std::exchange(unknown_, false); }

    void content(uint32_t i) {
        switch (json_[i].kind) {
            case json_kind::string:
                out_.text(json_.text(i));
                break;
            case json_kind::array: {
                bool badge_before = false;
                json_.children(i, [&](uint32_t child) {
                    const bool badge = is_badge(child);
                    if (badge && badge_before) out_.text(" ");
                    badge_before = badge;
                    content(child);
                });
                break;
            }
            case json_kind::object:
                element(i);
                break;
            default:
                unknown_ = true;
        }
    }

private:
    struct list {
        bool ordered, run_on;
        unsigned items = 0;
    };

    // A span or link that carries data (a part-of-speech badge and the
    // like): two side by side are two words.
    bool is_badge(uint32_t i) const {
        const auto tag = json_.string_member(i, "tag");
        return tag && (*tag == "span" || *tag == "a") && json_.member(i, "data");
    }

    std::optional<std::string_view> data_content(uint32_t i) const {
        const auto data = json_.member(i, "data");
        if (!data) return std::nullopt;
        return json_.string_member(*data, "content");
    }

    void inner(uint32_t i) {
        if (const auto c = json_.member(i, "content")) content(*c);
    }

    void element(uint32_t i) {
        const auto found = json_.string_member(i, "tag");
        const std::string_view tag = found ? *found : std::string_view();
        const auto marked = data_content(i);
        if (marked && *marked == boilerplate_content) return;
        if (tag == "br") {
            out_.line_break();
        } else if (tag == "span" || tag == "a") {
            inner(i);
        } else if (tag == "div" || tag == "table" || tag == "thead" || tag == "tbody" ||
                   tag == "tfoot" || tag == "details") {
            out_.block();
            inner(i);
            out_.block();
        } else if (tag == "tr") {
            out_.block();
            const unsigned outer = cells_;
            cells_ = 0;
            inner(i);
            cells_ = outer;
            out_.block();
        } else if (tag == "td" || tag == "th") {
            if (cells_++ > 0) out_.text(" | ");
            inner(i);
        } else if (tag == "summary") {
            out_.block();
            inner(i);
            if (!out_.ends_with(':')) out_.text(":");
            out_.block();
        } else if (tag == "ol" || tag == "ul") {
            lists_.push_back({tag == "ol", tag == "ul" && marked && *marked == glossary_content});
            out_.block();
            inner(i);
            out_.block();
            lists_.pop_back();
        } else if (tag == "li") {
            item(i);
        } else if (tag == "ruby") {
            inner(i);
        } else if (tag == "rt") {
            out_.text("(");
            inner(i);
            out_.text(")");
        } else if (tag == "rp") {
            // Only the parentheses that a browser without ruby shows: written above.
        } else if (tag == "img") {
            ++counts_.images;
        } else {
            unknown_ = true;
            inner(i);
        }
    }

    void item(uint32_t i) {
        if (lists_.empty()) {
            out_.marker("- ");
            inner(i);
            out_.block();
            return;
        }
        list& l = lists_.back();
        if (l.run_on) {
            if (l.items++ > 0) out_.text("; ");
            inner(i);
            return;
        }
        out_.marker(l.ordered ? std::to_string(++l.items) + ". " : "- ");
        inner(i);
        out_.block();
    }

    const json_parser& json_;
    text_builder& out_;
    yomitan_counts& counts_;
    std::vector<list> lists_;
    unsigned cells_ = 0;
    bool unknown_ = false;
};

// --- The dictionary ----------------------------------------------------------------

enum class bank_kind { term, kanji, term_meta, kanji_meta };

struct bank {
    bank_kind kind;
    std::string number;  // its N, without leading zeros
    member file;
};

// The N of PREFIXN.json, when the name is exactly that.
std::optional<std::string> bank_number(std::string_view name, std::string_view prefix) {
    if (name.substr(0, prefix.size()) != prefix) return std::nullopt;
    name.remove_prefix(prefix.size());
    if (name.size() <= 5 || name.substr(name.size() - 5) != ".json") return std::nullopt;
    name.remove_suffix(5);
    if (name.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
    const std::size_t first = std::min(name.find_first_not_of('0'), name.size() - 1);
    return std::string(name.substr(first));
}

// One term row, kept until every bank is read: its parts one after another
// in the reader's text.
struct term_row {
    std::size_t at;
    uint32_t expression_size, reading_size, tags_size, text_size;
    int64_t sequence;  // 0 when rows are not grouped by it
    double score;
};

class yomitan_reader {
public:
    yomitan_reader(const std::string& path, entry_sink& sink)
        : path_(path), sink_(sink), zip_(path) {}

    std::string read() {
        std::optional<member> index;
        std::string nested_index;
        std::vector<bank> banks;
        zip_.for_each_member([&](member&& m) {
            if (m.name == index_name) {
                if (index) twice(m.name);
                index = std::move(m);
                return;
            }
            const std::size_t slash = m.name.find_last_of("/\\");
            if (slash != std::string::npos && m.name.substr(slash + 1) == index_name) {
                if (nested_index.empty()) nested_index = m.name;
                return;
            }
            static const std::pair<std::string_view, bank_kind> prefixes[] = {
                {"term_bank_", bank_kind::term},
                {"kanji_bank_", bank_kind::kanji},
                {"term_meta_bank_", bank_kind::term_meta},
                {"kanji_meta_bank_", bank_kind::kanji_meta},
            };
            for (const auto& [prefix, kind] : prefixes) {
                if (auto number = bank_number(m.name, prefix)) {
                    banks.push_back({kind, std::move(*number), std::move(m)});
                    return;
                }
            }
        });
        if (!index && !nested_index.empty())
            throw import_error(path_ + ": its index.json lies in a folder (" + nested_index +
                               "), not at the root of the archive, where Yomitan dictionaries"
                               " have it");
        if (!index)
            throw import_error(path_ +
                               " holds no index.json: it is a zip archive, but not a Yomitan"
                               " dictionary");
        std::sort(banks.begin(), banks.end(), [](const bank& a, const bank& b) {
            if (a.kind != b.kind) return a.kind < b.kind;
            if (a.number.size() != b.number.size()) return a.number.size() < b.number.size();
            if (a.number != b.number) return a.number < b.number;
            return a.file.name < b.file.name;
        });
        for (std::size_t i = 1; i < banks.size(); ++i)
            if (banks[i].file.name == banks[i - 1].file.name) twice(banks[i].file.name);

        // Every member to be read, checked before any is inflated.
        std::vector<const member*> read;
        zip_.locate(*index);
        read.push_back(&*index);
        for (bank& b : banks) {
            zip_.locate(b.file);
            read.push_back(&b.file);
        }
        zip_.check_overlaps(read);

        const std::string title = read_index(*index);
        const auto has = [&](bank_kind kind) {
            return std::any_of(banks.begin(), banks.end(),
                               [&](const bank& b) { return b.kind == kind; });
        };
        if (!has(bank_kind::term) && !has(bank_kind::kanji)) {
            if (!banks.empty())
                throw import_error(path_ + " holds frequency, pitch or IPA data only (" +
                                   banks.front().file.name +
                                   "), no terms or kanji to look up: it adds to another"
                                   " Yomitan dictionary");
            throw import_error(path_ +
                               " holds no term_bank_N.json or kanji_bank_N.json: a"
                               " Yomitan dictionary with nothing to look up");
        }
        for (const bank& b : banks)
            if (b.kind == bank_kind::term) read_bank(b);
        add_terms();
        for (const bank& b : banks)
            if (b.kind != bank_kind::term) read_bank(b);
        note_counts();
        return title;
    }

private:
    [[noreturn]] void twice(const std::string& name) const {
        throw import_error(path_ + " holds two members named " + name +
                           ": which one the dictionary means is not known");
    }

    std::string place(const std::string& bank_name, uint64_t row) const {
        return path_ + ": " + bank_name + " row " + std::to_string(row);
    }

    // --- index.json ---

    std::string read_index(const member& m) {
        const std::string where = path_ + ": " + index_name;
        if (m.size > max_index_size)
            throw import_error(where + " inflates to " + std::to_string(m.size) +
                               " bytes, more than the " + std::to_string(max_index_size) +
                               " a dictionary's index may take");
        std::string text(static_cast<std::size_t>(m.size), '\0');
        zip_archive::reader in(zip_, m);
        std::size_t done = 0;
        while (done < text.size()) {
            const std::size_t got = in.read(&text[done], text.size() - done);
            if (got == 0) break;
            done += got;
        }
        char end_probe;
        in.read(&end_probe, 1);  // the end, where the size and CRC-32 are checked
        std::string_view json = text;
        if (json.substr(0, 3) == "\xEF\xBB\xBF") json.remove_prefix(3);
        try {
            json_.parse(json);
        } catch (const json_error& e) {
            throw import_error(where + ": byte " +
                               std::to_string(e.at + (text.size() - json.size())) + ": expected " +
                               e.expected);
        }
        if (!json_.is(0, json_kind::object))
            throw import_error(where +
                               " is not a JSON object: it is not a Yomitan dictionary's"
                               " index");
        const auto title = json_.string_member(0, "title");
        if (!title || title->find_first_not_of(" \t\r\n") == std::string_view::npos)
            throw import_error(where + " gives the dictionary no \"title\"");
        if (!json_.string_member(0, "revision"))
            throw import_error(where + " gives the dictionary no \"revision\"");
        std::optional<uint32_t> format = json_.member(0, "format");
        if (!format || !json_.is(*format, json_kind::number)) format = json_.member(0, "version");
        const auto number = format ? json_.integer(*format) : std::nullopt;
        if (!format || !json_.is(*format, json_kind::number))
            throw import_error(where + " gives no \"format\" (or \"version\") of its rows");
        if (!number || *number < first_format || *number > last_format)
            throw import_error(where + " gives its rows format " +
                               std::string(json_.text(*format)) +
                               "; lexaro-import reads formats 1, 2 and 3");
        old_layout_ = *number == 1;
        const auto sequenced = json_.member(0, "sequenced");
        sequenced_ =
            sequenced && json_[*sequenced].kind == json_kind::boolean && json_[*sequenced].truth;
        return std::string(*title);
    }

    // --- Banks ---

    void read_bank(const bank& b) {
        switch (b.kind) {
            case bank_kind::term:
                ++counts_.term_banks;
                break;
            case bank_kind::kanji:
                ++counts_.kanji_banks;
                break;
            default:
                ++counts_.meta_banks;
        }
        bank_rows rows(zip_, b.file);
        std::string_view row;
        uint64_t at = 0, size = 0, number = 0;
        bool too_large = false;
        while (rows.next(row, at, too_large, size)) {
            ++number;
            if (b.kind == bank_kind::term) ++counts_.term_rows;
            if (b.kind == bank_kind::kanji) ++counts_.kanji_rows;
            if (too_large) {
                sink_.skipped("rows of more than " + std::to_string(max_row_size) +
                                  " bytes of JSON, too large for a block",
                              place(b.file.name, number), 0);
                continue;
            }
            try {
                json_.parse(row);
            } catch (const json_error& e) {
                throw rows.error(at + e.at, e.expected);
            }
            switch (b.kind) {
                case bank_kind::term:
                    term(b.file.name, number);
                    break;
                case bank_kind::kanji:
                    kanji(b.file.name, number);
                    break;
                case bank_kind::term_meta:
                    meta(false);
                    break;
                case bank_kind::kanji_meta:
                    meta(true);
                    break;
            }
        }
    }

    // The text of a list of tag names ("n vs"), joined by ", "; appended to out.
    static void append_tags(std::string_view names, std::string& out) {
        bool first = true;
        while (!names.empty()) {
            const std::size_t end = names.find(' ');
            const std::string_view name = names.substr(0, end);
            if (!name.empty()) {
                if (!first) out += ", ";
                out.append(name);
                first = false;
            }
            if (end == std::string_view::npos) break;
            names.remove_prefix(end + 1);
        }
    }

    // A string or null (as tags may be); nothing for another kind of value.
    std::optional<std::string_view> tags_at(uint32_t i) const {
        if (json_.is(i, json_kind::null)) return std::string_view();
        if (json_.is(i, json_kind::string)) return json_.text(i);
        return std::nullopt;
    }

    // One glossary item as text into item_; false when it gives none.
    bool glossary_item(uint32_t i, bool& unknown) {
        item_.clear();
        flattener flat(json_, item_, counts_);
        if (json_.is(i, json_kind::string)) {
            item_.text(json_.text(i));
        } else if (json_.is(i, json_kind::object)) {
            const auto type = json_.string_member(i, "type");
            if (type && *type == "image") {
                ++counts_.images;
            } else if (type && *type == "text") {
                if (const auto text = json_.string_member(i, "text")) item_.text(*text);
            } else if (type && *type == "structured-content") {
                if (const auto content = json_.member(i, "content")) flat.content(*content);
            } else {
                unknown = true;
                if (const auto content = json_.member(i, "content"))
                    flat.content(*content);
                else if (const auto text = json_.string_member(i, "text"))
                    item_.text(*text);
            }
        } else if (json_.is(i, json_kind::array) && deinflection(i)) {
            return true;
        } else {
            unknown = true;
        }
        unknown |= flat.take_unknown();
        return !item_.finish().empty();
    }

    // ["lemma", ["rule", ...]]: the row's term is an inflected form of the
    // lemma, through those rules. Made "→ lemma (rule « rule)".
    bool deinflection(uint32_t i) {
        json_.elements(i, elements_);
        if (elements_.size() != 2 || !json_.is(elements_[0], json_kind::string) ||
            !json_.is(elements_[1], json_kind::array))
            return false;
        const uint32_t lemma = elements_[0], rules = elements_[1];
        std::string text = "\xE2\x86\x92 " + std::string(json_.text(lemma));  // →
        bool first = true;
        bool sound = true;
        json_.children(rules, [&](uint32_t rule) {
            if (!json_.is(rule, json_kind::string)) {
                sound = false;
                return;
            }
            text += first ? " (" : " \xC2\xAB ";  // «
            text.append(json_.text(rule));
            first = false;
        });
        if (!sound) return false;
        if (!first) text += ')';
        item_.text(text);
        ++counts_.deinflections;
        return true;
    }

    void term(const std::string& bank_name, uint64_t number) {
        const auto wrong = [&] {
            sink_.skipped("term rows of the wrong shape", place(bank_name, number), 0);
        };
        if (!json_.is(0, json_kind::array)) return wrong();
        const std::vector<uint32_t>& e = json_.elements(0, row_);
        if (e.size() < (old_layout_ ? old_term_elements : term_elements)) return wrong();
        const auto definition_tags = tags_at(e[2]);
        const auto term_tags = old_layout_ ? std::optional<std::string_view>("") : tags_at(e[7]);
        if (!json_.is(e[0], json_kind::string) || !json_.is(e[1], json_kind::string) ||
            !definition_tags || !term_tags || !json_.is(e[4], json_kind::number))
            return wrong();
        std::optional<int64_t> sequence = 0;
        if (!old_layout_) {
            if (!json_.is(e[5], json_kind::array)) return wrong();
            sequence = json_.integer(e[6]);
            if (!sequence) return wrong();
        }

        // The row's text: its definition tags, then its items, one a line
        // where any takes several.
        bool unknown = false;
        items_.clear();
        bool multi_line = false;
        const auto take = [&](uint32_t item) {
            if (!glossary_item(item, unknown)) return;
            items_.push_back(item_.finish());
            multi_line |= items_.back().find('\n') != std::string::npos;
        };
        if (old_layout_) {
            for (std::size_t k = old_term_elements; k < e.size(); ++k) take(e[k]);
        } else {
            json_.children(e[5], take);
        }
        if (unknown)
            sink_.damaged(
                "glossary items or structured content of kinds it does not know, their"
                " text kept",
                place(bank_name, number), 0);
        if (items_.empty()) {
            sink_.skipped("term rows with no text (only pictures, or empty)",
                          place(bank_name, number), 0);
            return;
        }
        std::string& text = scratch_;
        text.clear();
        if (!definition_tags->empty() &&
            definition_tags->find_first_not_of(' ') != std::string_view::npos) {
            text += '(';
            append_tags(*definition_tags, text);
            text += multi_line ? ")\n" : ") ";
        }
        for (std::size_t k = 0; k < items_.size(); ++k) {
            if (k > 0) text += multi_line ? "\n" : "; ";
            text += items_[k];
        }

        const std::string_view expression = json_.text(e[0]), reading = json_.text(e[1]);
        term_row r{};
        r.at = terms_.size();
        r.expression_size = static_cast<uint32_t>(expression.size());
        r.reading_size = static_cast<uint32_t>(reading.size());
        r.tags_size = static_cast<uint32_t>(term_tags->size());
        r.text_size = static_cast<uint32_t>(text.size());
        r.sequence = sequenced_ ? *sequence : 0;
        r.score = json_.number(e[4]);
        terms_.append(expression).append(reading).append(*term_tags).append(text);
        rows_.push_back(r);
    }

    std::string_view part(const term_row& r, int which) const {
        std::size_t at = r.at;
        const uint32_t sizes[] = {r.expression_size, r.reading_size, r.tags_size, r.text_size};
        for (int k = 0; k < which; ++k) at += sizes[k];
        return std::string_view(terms_).substr(at, sizes[which]);
    }
    std::string_view expression(const term_row& r) const { return part(r, 0); }
    std::string_view reading(const term_row& r) const { return part(r, 1); }

    // A hash of what makes a row's entry: expression, reading and sequence
    // (FNV-1a).
    uint64_t entry_hash(const term_row& r) const {
        uint64_t h = 0xcbf29ce484222325;
        const auto mix = [&](unsigned char c) { h = (h ^ c) * 0x100000001b3; };
        for (const char c :
             std::string_view(terms_).substr(r.at, r.expression_size + r.reading_size))
            mix(static_cast<unsigned char>(c));
        mix(static_cast<unsigned char>(r.expression_size));
        for (int k = 0; k < 8; ++k)
            mix(static_cast<unsigned char>(static_cast<uint64_t>(r.sequence) >> (8 * k)));
        return h;
    }

    // One entry for the rows of each expression and reading (and sequence,
    // where the dictionary's rows are sequenced), under the expression and
    // under the reading. Entries go in the order of their best score, then
    // of the file, so that a word that several entries share lists them as
    // Yomitan does.
    void add_terms() {
        // Each row's entry, numbered in the order of the entries' first rows,
        // found through a hash table of those first rows: one look-up a row.
        const auto n = static_cast<uint32_t>(rows_.size());
        std::vector<uint32_t> entry_of(n), first_rows;
        std::size_t capacity = 16;
        while (capacity < 2 * std::size_t{n}) capacity *= 2;
        std::vector<uint32_t> slots(capacity, UINT32_MAX);
        for (uint32_t i = 0; i < n; ++i) {
            const term_row& r = rows_[i];
            std::size_t slot = entry_hash(r) & (capacity - 1);
            for (;; slot = (slot + 1) & (capacity - 1)) {
                if (slots[slot] == UINT32_MAX) {
                    slots[slot] = static_cast<uint32_t>(first_rows.size());
                    first_rows.push_back(i);
                    break;
                }
                const term_row& first = rows_[first_rows[slots[slot]]];
                if (first.sequence == r.sequence && expression(first) == expression(r) &&
                    reading(first) == reading(r))
                    break;
            }
            entry_of[i] = slots[slot];
        }
        slots = {};

        // The rows of each entry together, its best score first, then in the
        // order of the file.
        struct group {
            uint32_t begin = 0, end = 0;  // its rows in `order`
            double score = 0;
        };
        std::vector<group> groups(first_rows.size());
        for (uint32_t i = 0; i < n; ++i) ++groups[entry_of[i]].end;  // counted first
        uint32_t start = 0;
        for (group& g : groups) {
            const uint32_t count = g.end;
            g.begin = g.end = start;
            start += count;
        }
        std::vector<uint32_t> order(n);
        for (uint32_t i = 0; i < n; ++i) order[groups[entry_of[i]].end++] = i;
        for (group& g : groups) {
            std::sort(order.begin() + g.begin, order.begin() + g.end, [&](uint32_t a, uint32_t b) {
                if (rows_[a].score != rows_[b].score) return rows_[a].score > rows_[b].score;
                return a < b;
            });
            g.score = rows_[order[g.begin]].score;
        }
        // The entries in the order of their best score, then of the file.
        std::vector<uint32_t> entries(groups.size());
        for (uint32_t e = 0; e < entries.size(); ++e) entries[e] = e;
        std::sort(entries.begin(), entries.end(), [&](uint32_t a, uint32_t b) {
            if (groups[a].score != groups[b].score) return groups[a].score > groups[b].score;
            return a < b;
        });
        std::string text;
        std::vector<std::string_view> tags;
        for (const uint32_t e : entries) {
            const group& en = groups[e];
            const term_row& head = rows_[order[en.begin]];
            tags.clear();
            for (uint32_t k = en.begin; k < en.end; ++k) {
                std::string_view names = part(rows_[order[k]], 2);
                while (!names.empty()) {
                    const std::size_t end = names.find(' ');
                    const std::string_view name = names.substr(0, end);
                    if (!name.empty() && std::find(tags.begin(), tags.end(), name) == tags.end())
                        tags.push_back(name);
                    if (end == std::string_view::npos) break;
                    names.remove_prefix(end + 1);
                }
            }
            const std::string_view word = expression(head), read = reading(head);
            const bool reading_differs = !read.empty() && read != word;
            const auto add = [&](std::string_view headword, std::string_view other) {
                text.clear();
                text.append(other);
                if (!tags.empty()) {
                    text += other.empty() ? "[" : " [";
                    for (std::size_t k = 0; k < tags.size(); ++k) {
                        if (k > 0) text += ", ";
                        text.append(tags[k]);
                    }
                    text += ']';
                }
                const bool numbered = en.end - en.begin > 1;
                for (uint32_t k = en.begin; k < en.end; ++k) {
                    if (!text.empty()) text += '\n';
                    if (numbered) text += std::to_string(k - en.begin + 1) + ". ";
                    text.append(part(rows_[order[k]], 3));
                }
                if (text.size() > max_raw_size)
                    sink_.too_large(headword, text.size());
                else
                    sink_.add(raw_entry{headword, text, markup::plain});
            };
            add(word, reading_differs ? read : std::string_view());
            if (reading_differs) add(read, word);
        }
        rows_ = {};
        terms_ = {};
    }

    // A kanji: its on and kun readings, then its meanings.
    void kanji(const std::string& bank_name, uint64_t number) {
        const auto wrong = [&] {
            sink_.skipped("kanji rows of the wrong shape", place(bank_name, number), 0);
        };
        if (!json_.is(0, json_kind::array)) return wrong();
        const std::vector<uint32_t>& e = json_.elements(0, row_);
        if (e.size() < (old_layout_ ? old_kanji_elements : kanji_elements)) return wrong();
        for (std::size_t k = 0; k < 3; ++k)
            if (!json_.is(e[k], json_kind::string)) return wrong();
        if (!old_layout_ && !json_.is(e[4], json_kind::array)) return wrong();
        std::string& text = scratch_;
        text.clear();
        const auto readings = [&](const char* label, uint32_t i) {
            if (json_.text(i).find_first_not_of(' ') == std::string_view::npos) return;
            if (!text.empty()) text += '\n';
            text += label;
            append_tags(json_.text(i), text);
        };
        readings("On: ", e[1]);
        readings("Kun: ", e[2]);
        bool first = true;
        const auto meaning = [&](uint32_t i) {
            if (!json_.is(i, json_kind::string)) return;
            const std::string_view m = json_.text(i);
            if (m.find_first_not_of(" \t\r\n") == std::string_view::npos) return;
            if (!text.empty()) text += first ? "\n" : "; ";
            text.append(m);
            first = false;
        };
        if (old_layout_) {
            for (std::size_t k = old_kanji_elements; k < e.size(); ++k) meaning(e[k]);
        } else {
            json_.children(e[4], meaning);
        }
        if (text.empty()) {
            sink_.skipped("kanji rows with no readings or meanings", place(bank_name, number), 0);
            return;
        }
        sink_.add(raw_entry{json_.text(e[0]), text, markup::plain});
    }

    // A frequency, pitch or IPA row: counted, not a word.
    void meta(bool of_kanji) {
        std::string_view mode;
        if (json_.is(0, json_kind::array) && json_.elements(0, row_).size() >= 2 &&
            json_.is(row_[1], json_kind::string))
            mode = json_.text(row_[1]);
        if (mode == "freq")
            ++(of_kanji ? counts_.kanji_frequencies : counts_.frequencies);
        else if (mode == "pitch" && !of_kanji)
            ++counts_.pitches;
        else if (mode == "ipa" && !of_kanji)
            ++counts_.transcriptions;
        else
            ++counts_.other_meta;
    }

    void note_counts() {
        const yomitan_counts& c = counts_;
        const auto plural = [](uint64_t n, const char* one, const char* many) {
            return std::to_string(n) + " " + (n == 1 ? one : many);
        };
        if (c.term_banks > 0)
            sink_.note("terms",
                       plural(c.term_rows, "row", "rows") + " in " +
                           plural(c.term_banks, "term bank", "term banks") +
                           (c.deinflections == 0 ? std::string()
                                                 : ", " + std::to_string(c.deinflections) +
                                                       " of them inflected forms pointing to their"
                                                       " lemma"));
        if (c.kanji_banks > 0)
            sink_.note("kanji", plural(c.kanji_rows, "kanji", "kanji") + " in " +
                                    plural(c.kanji_banks, "kanji bank", "kanji banks"));
        if (c.meta_banks > 0) {
            std::vector<std::string> parts;
            if (c.frequencies > 0) parts.push_back(std::to_string(c.frequencies) + " frequency");
            if (c.pitches > 0) parts.push_back(std::to_string(c.pitches) + " pitch accent");
            if (c.transcriptions > 0) parts.push_back(std::to_string(c.transcriptions) + " IPA");
            if (c.kanji_frequencies > 0)
                parts.push_back(std::to_string(c.kanji_frequencies) + " kanji frequency");
            if (c.other_meta > 0) parts.push_back(std::to_string(c.other_meta) + " other");
            const uint64_t rows =
                c.frequencies + c.pitches + c.transcriptions + c.kanji_frequencies + c.other_meta;
            std::string line;
            for (std::size_t k = 0; k < parts.size(); ++k) {
                if (k > 0) line += k + 1 == parts.size() ? " and " : ", ";
                line += parts[k];
            }
            if (line.empty()) line = "no";
            sink_.note("not words", line + (rows == 1 ? " row in " : " rows in ") +
                                        plural(c.meta_banks, "meta bank", "meta banks") +
                                        ", counted only");
        }
        if (c.images > 0) sink_.note("left out", plural(c.images, "picture", "pictures"));
    }

    const std::string& path_;
    entry_sink& sink_;
    zip_archive zip_;
    bool old_layout_ = false, sequenced_ = false;
    json_parser json_;
    yomitan_counts counts_;
    text_builder item_;
    std::vector<std::string> items_;
    std::vector<uint32_t> row_, elements_;
    std::string scratch_;
    std::vector<term_row> rows_;
    std::string terms_;
};

}  // namespace

// A zip archive: a member's local header, or the end of an empty archive.
bool looks_like_yomitan(std::string_view sample, bool) {
    return sample.substr(0, 4) == std::string_view("PK\x03\x04", 4) ||
           sample.substr(0, 4) == end_record_signature;
}

std::string read_yomitan(reader_input& input, entry_sink& sink) {
    if (input.path == "-")
        throw import_error(
            "-: a Yomitan dictionary is a zip archive, read from the directory at its end; name"
            " the file, not standard input");
    try {
        yomitan_reader reader(input.path, sink);
        return reader.read();
    } catch (const input_error& error) {
        throw import_error(error.what());
    }
}

}  // namespace lexaro::import
