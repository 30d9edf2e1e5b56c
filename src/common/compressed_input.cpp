#include "common/compressed_input.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "common/platform.h"

namespace lexaro {

namespace {

constexpr std::size_t read_piece_size = 1 << 16;
constexpr std::size_t plain_window_size = 1 << 18;

// gzip header (RFC 1952): magic, method, flags, then fields by flag.
constexpr unsigned char gzip_magic[2] = {0x1f, 0x8b};
constexpr unsigned char gzip_method_deflate = 8;
constexpr std::size_t gzip_fixed_header_size = 10;
constexpr std::size_t gzip_trailer_size = 8;  // CRC-32, then the length modulo 2^32
constexpr uint8_t gzip_flag_header_crc = 0x02, gzip_flag_extra = 0x04, gzip_flag_name = 0x08,
                  gzip_flag_comment = 0x10, gzip_reserved_flags = 0xe0;

// dictzip's "RA" (random access) subfield of the gzip extra field: version,
// uncompressed chunk length, chunk count, then each chunk's compressed size,
// all 16-bit little-endian numbers.
constexpr char dictzip_subfield_id[2] = {'R', 'A'};
constexpr std::size_t dictzip_table_head_size = 6;
constexpr uint16_t dictzip_version = 1;

uint16_t get_le16(const unsigned char* in) { return static_cast<uint16_t>(in[0] | (in[1] << 8)); }

uint32_t get_le32(const unsigned char* in) {
    return uint32_t{in[0]} | (uint32_t{in[1]} << 8) | (uint32_t{in[2]} << 16) |
           (uint32_t{in[3]} << 24);
}

std::string zlib_message(const z_stream& z) {
    return z.msg != nullptr ? std::string(" (") + z.msg + ")" : std::string();
}

// The parts of a gzip header that a reader needs.
struct gzip_header {
    uint8_t flags = 0;
    std::string extra;        // the extra field's subfields, when present
    uint64_t data_start = 0;  // where the deflate data begin
};

uint64_t skip_zero_terminated(const input_file& file, uint64_t offset) {
    char piece[256];
    for (;;) {
        const std::size_t count = file.read_at(offset, piece, sizeof piece);
        if (count == 0) throw input_error(file.path() + ": its gzip header is cut short");
        const auto* zero = static_cast<const char*>(std::memchr(piece, 0, count));
        if (zero != nullptr) return offset + static_cast<uint64_t>(zero - piece) + 1;
        offset += count;
    }
}

gzip_header read_gzip_header(const input_file& file) {
    unsigned char fixed[gzip_fixed_header_size];
    file.read_exactly(0, fixed, sizeof fixed);
    gzip_header header;
    header.flags = fixed[3];
    if (fixed[2] != gzip_method_deflate || (header.flags & gzip_reserved_flags) != 0)
        throw input_error(file.path() + ": its gzip header is damaged");
    uint64_t offset = gzip_fixed_header_size;
    if (header.flags & gzip_flag_extra) {
        unsigned char length[2];
        file.read_exactly(offset, length, 2);
        header.extra.resize(get_le16(length));
        file.read_exactly(offset + 2, header.extra.data(), header.extra.size());
        offset += 2 + header.extra.size();
    }
    if (header.flags & gzip_flag_name) offset = skip_zero_terminated(file, offset);
    if (header.flags & gzip_flag_comment) offset = skip_zero_terminated(file, offset);
    if (header.flags & gzip_flag_header_crc) offset += 2;
    header.data_start = offset;
    return header;
}

// The data of the extra field's subfield with this id, if there is one.
std::optional<std::string_view> find_subfield(const input_file& file, std::string_view extra,
                                              const char id[2]) {
    std::size_t position = 0;
    while (position < extra.size()) {
        if (extra.size() - position < 4)
            throw input_error(file.path() + ": its gzip extra field is damaged");
        const auto* at = reinterpret_cast<const unsigned char*>(extra.data() + position);
        const std::size_t length = get_le16(at + 2);
        if (extra.size() - position - 4 < length)
            throw input_error(file.path() + ": its gzip extra field is damaged");
        if (extra[position] == id[0] && extra[position + 1] == id[1])
            return extra.substr(position + 4, length);
        position += 4 + length;
    }
    return std::nullopt;
}

// A plain file, read through a window so that ascending reads of small
// ranges cost one system call per window.
class plain_data : public data_file {
public:
    explicit plain_data(std::unique_ptr<input_file> file)
        : data_file(file->path()), file_(std::move(file)) {}

    std::optional<uint64_t> size() const override { return file_->size(); }

    std::string_view read(uint64_t offset, std::size_t length) override {
        const uint64_t size = file_->size();
        if (offset > size || length > size - offset) past_end(offset, length, size);
        if (offset < window_offset_ || offset - window_offset_ > window_.size() ||
            length > window_.size() - (offset - window_offset_)) {
            // At most the larger of length and the window: a size_t.
            const auto want = static_cast<std::size_t>(
                std::min<uint64_t>(std::max(length, plain_window_size), size - offset));
            if (want < window_.capacity() / 4) std::string().swap(window_);
            window_.resize(want);
            file_->read_exactly(offset, window_.data(), want);
            window_offset_ = offset;
        }
        // Within the window, which is in memory.
        return std::string_view(window_).substr(static_cast<std::size_t>(offset - window_offset_),
                                                length);
    }

private:
    std::unique_ptr<input_file> file_;
    std::string window_;
    uint64_t window_offset_ = 0;
};

// A gzip file without a chunk table: inflated forwards, keeping the bytes
// from the last range read onwards. A range before that starts it again.
class gzip_data : public data_file {
public:
    explicit gzip_data(const std::string& path) : data_file(path), stream_(path) {}

    std::optional<uint64_t> size() const override { return std::nullopt; }

    std::string_view read(uint64_t offset, std::size_t length) override {
        if (offset < start_) {
            stream_.rewind();
            buffer_.clear();
            begin_ = 0;
            start_ = 0;
        }
        const uint64_t end = start_ + held();
        if (offset >= end) {
            buffer_.clear();
            begin_ = 0;
            start_ = end;
            skip(offset - end, offset, length);
        } else {
            begin_ += offset - start_;
            start_ = offset;
        }
        if (begin_ >= read_piece_size && begin_ >= buffer_.size() / 2) {
            buffer_.erase(0, begin_);
            begin_ = 0;
        }
        while (held() < length) {
            if (!inflate_more()) past_end(offset, length, start_ + held());
        }
        return std::string_view(buffer_).substr(begin_, length);
    }

    void check_range(uint64_t offset, uint64_t length) override {
        if (length > UINT64_MAX - offset) past_end(offset, length, start_ + held());
        const uint64_t end = offset + length;
        if (end <= start_ + held()) return;
        if (offset < start_) {
            stream_.rewind();
            start_ = 0;
        } else {
            start_ += held();
        }
        buffer_.clear();
        begin_ = 0;
        skip(end - start_, offset, length);
    }

private:
    std::size_t held() const { return buffer_.size() - begin_; }

    bool inflate_more() {
        const std::size_t old_size = buffer_.size();
        buffer_.resize(old_size + read_piece_size);
        const std::size_t count = stream_.read(buffer_.data() + old_size, read_piece_size);
        buffer_.resize(old_size + count);
        return count > 0;
    }

    // Inflates `count` bytes and lets them go, on the way to the range
    // [offset, offset + length) that the error names if the data end first.
    void skip(uint64_t count, uint64_t offset, uint64_t length) {
        char scratch[4096];
        while (count > 0) {
            const std::size_t got =
                stream_.read(scratch, static_cast<std::size_t>(std::min<uint64_t>(count, 4096)));
            if (got == 0) past_end(offset, length, start_);
            count -= got;
            start_ += got;
        }
    }

    gzip_stream stream_;
    std::string buffer_;
    std::size_t begin_ = 0;  // buffer_[begin_] is the byte at start_
    uint64_t start_ = 0;
};

// A dictzip file: chunks of chunk_length uncompressed bytes, each compressed
// on its own (raw deflate ending in a full flush), so that any chunk inflates
// without those before it. The last two chunks inflated are kept.
class dictzip_data : public data_file {
public:
    dictzip_data(std::unique_ptr<input_file> file, const gzip_header& header,
                 std::string_view table)
        : data_file(file->path()), file_(std::move(file)) {
        read_table(header, table);
        if (inflateInit2(&z_, -MAX_WBITS) != Z_OK)
            throw input_error("zlib cannot start to read " + path());
    }
    ~dictzip_data() override { inflateEnd(&z_); }
    dictzip_data(const dictzip_data&) = delete;
    dictzip_data& operator=(const dictzip_data&) = delete;

    std::optional<uint64_t> size() const override { return size_; }
    uint64_t chunks_inflated() const override { return chunks_inflated_; }

    std::string_view read(uint64_t offset, std::size_t length) override {
        if (offset > size_ || length > size_ - offset) past_end(offset, length, size_);
        if (length == 0) return {};
        // Chunk numbers are below the table's 16-bit count, places within a
        // chunk below its 16-bit length: both are size_t.
        const auto first = static_cast<std::size_t>(offset / chunk_length_);
        const auto last = static_cast<std::size_t>((offset + length - 1) / chunk_length_);
        if (first == last) {
            const auto from = static_cast<std::size_t>(offset - first * chunk_length_);
            return std::string_view(chunk(first)).substr(from, length);
        }
        joined_.clear();
        for (std::size_t i = first; i <= last; ++i) {
            const std::string& bytes = chunk(i);
            const uint64_t chunk_start = i * chunk_length_;
            const auto from = static_cast<std::size_t>(i == first ? offset - chunk_start : 0);
            const auto to = static_cast<std::size_t>(
                std::min<uint64_t>(bytes.size(), offset + length - chunk_start));
            joined_.append(bytes, from, to - from);
        }
        return joined_;
    }

private:
    struct chunk_slot {
        std::size_t index = SIZE_MAX;
        uint64_t last_use = 0;
        std::string bytes;
    };

    [[noreturn]] void damaged_table(const std::string& what) const {
        throw input_error(path() + ": its dictzip chunk table is damaged (" + what + ")");
    }

    void read_table(const gzip_header& header, std::string_view table) {
        const auto* at = reinterpret_cast<const unsigned char*>(table.data());
        if (table.size() < dictzip_table_head_size) damaged_table("too short");
        if (get_le16(at) != dictzip_version)
            damaged_table("version " + std::to_string(get_le16(at)));
        chunk_length_ = get_le16(at + 2);
        const std::size_t count = get_le16(at + 4);
        if (chunk_length_ == 0) damaged_table("chunk length 0");
        if (table.size() < dictzip_table_head_size + 2 * count)
            damaged_table(std::to_string(count) + " chunks in a table of " +
                          std::to_string(table.size()) + " bytes");

        const uint64_t file_size = file_->size();
        chunk_offsets_.reserve(count + 1);
        uint64_t offset = header.data_start;
        chunk_offsets_.push_back(offset);
        for (std::size_t i = 0; i < count; ++i) {
            offset += get_le16(at + dictzip_table_head_size + 2 * i);
            chunk_offsets_.push_back(offset);
        }
        if (offset > file_size || file_size - offset < gzip_trailer_size)
            damaged_table("its chunks end past the end of the file");

        // The trailer holds the uncompressed length modulo 2^32; the chunk
        // count narrows it to one value.
        unsigned char length_bytes[4];
        file_->read_exactly(file_size - 4, length_bytes, 4);
        const uint32_t length_mod = get_le32(length_bytes);
        if (count == 0) {
            if (length_mod != 0)
                damaged_table("no chunks for a length of " + std::to_string(length_mod));
            size_ = 0;
            return;
        }
        const uint64_t before_last = uint64_t{chunk_length_} * (count - 1);
        size_ = before_last + uint32_t(length_mod - uint32_t(before_last) - 1) + 1;
        if (size_ - before_last > chunk_length_)
            damaged_table(std::to_string(count) + " chunks of " + std::to_string(chunk_length_) +
                          " bytes cannot hold the length in its trailer");
    }

    const std::string& chunk(std::size_t index) {
        chunk_slot* victim = &slots_[0];
        for (chunk_slot& slot : slots_) {
            if (slot.index == index) {
                slot.last_use = ++use_clock_;
                return slot.bytes;
            }
            if (slot.last_use < victim->last_use) victim = &slot;
        }
        victim->index = SIZE_MAX;
        inflate_chunk(index, victim->bytes);
        victim->index = index;
        victim->last_use = ++use_clock_;
        return victim->bytes;
    }

    void inflate_chunk(std::size_t index, std::string& out) {
        // Chunk sizes are 16-bit numbers of the table.
        const auto compressed_size =
            static_cast<std::size_t>(chunk_offsets_[index + 1] - chunk_offsets_[index]);
        compressed_.resize(compressed_size);
        file_->read_exactly(chunk_offsets_[index], compressed_.data(), compressed_size);
        const uint64_t chunk_start = index * chunk_length_;
        out.resize(
            static_cast<std::size_t>(std::min<uint64_t>(chunk_length_, size_ - chunk_start)));

        inflateReset(&z_);
        z_.next_in = compressed_.data();
        z_.avail_in = static_cast<uInt>(compressed_.size());
        z_.next_out = reinterpret_cast<Bytef*>(out.data());
        z_.avail_out = static_cast<uInt>(out.size());
        const int status = inflate(&z_, Z_SYNC_FLUSH);
        const std::string which = path() + ": chunk " + std::to_string(index + 1) + " of " +
                                  std::to_string(chunk_offsets_.size() - 1);
        if (status == Z_MEM_ERROR) throw input_error("out of memory reading " + path());
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR)
            throw input_error(which + " is damaged" + zlib_message(z_));
        if (z_.avail_out != 0) throw input_error(which + " inflates to too few bytes");
        ++chunks_inflated_;
    }

    std::unique_ptr<input_file> file_;
    uint32_t chunk_length_ = 0;
    std::vector<uint64_t> chunk_offsets_;  // where each chunk starts, then where the last ends
    uint64_t size_ = 0;
    z_stream z_{};
    std::vector<unsigned char> compressed_;
    chunk_slot slots_[2];
    uint64_t use_clock_ = 0;
    uint64_t chunks_inflated_ = 0;
    std::string joined_;  // a range that spans chunks
};

}  // namespace

// --- Files read at any offset ----------------------------------------------

input_file::input_file(const std::string& path) : path_(path) {
    if (!file_.open(path) || file_.directory()) throw input_error("can't open file " + path);
    // A FIFO or a device has no size to read at any offset; it is not opened.
    if (!file_.regular()) throw input_error(path + " is not a regular file");
}

std::size_t input_file::read_at(uint64_t offset, void* out, std::size_t length) const {
    if (offset >= size()) return 0;
    const auto count = static_cast<std::size_t>(std::min<uint64_t>(length, size() - offset));
    if (!file_.read_at(offset, out, count)) throw input_error("can't read file " + path_);
    return count;
}

bool file_exists(const std::string& path) {
    // Looked at, not opened: opening a FIFO would wait for a writer.
    const file_type type = type_of_file(path);
    return type == file_type::regular || type == file_type::other;
}

// --- Whole files ----------------------------------------------------------

void input_file::read_exactly(uint64_t offset, void* out, std::size_t length) const {
    if (read_at(offset, out, length) != length) throw input_error(path_ + " is cut short");
}

std::string read_whole_file(const std::string& path, uint64_t max_size) {
    const input_file file(path);
    // On a 32-bit system (i386, armhf, WebAssembly) memory ends at SIZE_MAX.
    max_size = std::min<uint64_t>(max_size, SIZE_MAX);
    if (file.size() > max_size)
        throw input_error(path + " is larger than " + std::to_string(max_size) + " bytes");
    std::string bytes(static_cast<std::size_t>(file.size()), '\0');
    file.read_exactly(0, bytes.data(), bytes.size());
    return bytes;
}

bool looks_like_gzip(std::string_view first_bytes) {
    return first_bytes.size() >= 2 && static_cast<unsigned char>(first_bytes[0]) == gzip_magic[0] &&
           static_cast<unsigned char>(first_bytes[1]) == gzip_magic[1];
}

// --- gzip streams ---------------------------------------------------------

gzip_stream::gzip_stream(const std::string& path)
    : name_(path), file_(std::make_unique<input_file>(path)) {
    char magic[2];
    if (file_->read_at(0, magic, 2) != 2 || !looks_like_gzip(std::string_view(magic, 2)))
        throw input_error(path + " is not gzip data");
    if (inflateInit2(&z_, MAX_WBITS + 16) != Z_OK)
        throw input_error("zlib cannot start to read " + path);
    input_.resize(read_piece_size);
}

gzip_stream::gzip_stream(const std::string& name, int fd, std::string_view first_bytes)
    : name_(name), fd_(fd), first_bytes_(first_bytes) {
    if (!looks_like_gzip(first_bytes)) throw input_error(name + " is not gzip data");
    if (inflateInit2(&z_, MAX_WBITS + 16) != Z_OK)
        throw input_error("zlib cannot start to read " + name);
    input_.resize(read_piece_size);
}

gzip_stream::gzip_stream(const std::string& path, uint64_t offset)
    : name_(path), file_(std::make_unique<input_file>(path)), start_(offset),
      input_offset_(offset), embedded_(true) {
    char magic[2];
    if (file_->read_at(offset, magic, 2) != 2 || !looks_like_gzip(std::string_view(magic, 2)))
        throw input_error(path + ": no gzip data at offset " + std::to_string(offset));
    if (inflateInit2(&z_, MAX_WBITS + 16) != Z_OK)
        throw input_error("zlib cannot start to read " + path);
    // The trailer is still read, but its CRC-32 and length are not compared.
    inflateValidate(&z_, 0);
    input_.resize(read_piece_size);
}

gzip_stream::~gzip_stream() { inflateEnd(&z_); }

void gzip_stream::rewind() {
    if (!file_) throw input_error(name_ + " cannot be read again from its start");
    inflateReset(&z_);
    z_.avail_in = 0;
    input_offset_ = start_;
    finished_ = false;
}

void gzip_stream::fill_input() {
    std::size_t count = 0;
    if (file_) {
        count = file_->read_at(input_offset_, input_.data(), input_.size());
    } else if (!first_bytes_.empty()) {
        count = first_bytes_.size();
        if (count > input_.size()) input_.resize(count);
        std::memcpy(input_.data(), first_bytes_.data(), count);
        std::string().swap(first_bytes_);
    } else {
        const long got = read_some(fd_, input_.data(), input_.size());
        if (got < 0) throw input_error("can't read file " + name_ + ": " + std::strerror(errno));
        count = static_cast<std::size_t>(got);
    }
    input_offset_ += count;
    z_.next_in = input_.data();
    z_.avail_in = static_cast<uInt>(count);
}

void gzip_stream::fail(int status) const {
    if (status == Z_MEM_ERROR) throw input_error("out of memory reading " + path());
    throw input_error(path() + ": its compressed data are damaged" + zlib_message(z_));
}

std::size_t gzip_stream::read(char* out, std::size_t length) {
    if (finished_) return 0;
    z_.next_out = reinterpret_cast<Bytef*>(out);
    z_.avail_out = static_cast<uInt>(std::min<std::size_t>(length, UINT_MAX));
    const uInt wanted = z_.avail_out;
    while (z_.avail_out > 0) {
        if (z_.avail_in == 0) fill_input();
        if (z_.avail_in == 0) throw input_error(path() + ": its compressed data end early");
        const int status = inflate(&z_, Z_NO_FLUSH);
        if (status == Z_STREAM_END) {
            if (embedded_) {
                finished_ = true;
                break;
            }
            // Another member may follow; zlib checks its header as it reads it.
            if (z_.avail_in == 0) fill_input();
            if (z_.avail_in == 0) {
                finished_ = true;
                break;
            }
            inflateReset(&z_);
        } else if (status != Z_OK) {
            fail(status);
        }
    }
    return wanted - z_.avail_out;
}

std::string read_gzip_file(const std::string& path, uint64_t max_size) {
    gzip_stream stream(path);
    std::string bytes;
    for (;;) {
        const std::size_t old_size = bytes.size();
        bytes.resize(old_size + read_piece_size);
        const std::size_t count = stream.read(bytes.data() + old_size, read_piece_size);
        bytes.resize(old_size + count);
        if (bytes.size() > max_size)
            throw input_error(path + " inflates to more than " + std::to_string(max_size) +
                              " bytes");
        if (count == 0) return bytes;
    }
}

// --- Data files -----------------------------------------------------------

void data_file::past_end(uint64_t offset, uint64_t length, uint64_t data_size) const {
    throw input_error(path_ + ": " + std::to_string(length) + " bytes at offset " +
                      std::to_string(offset) + " run past the end of its data (" +
                      std::to_string(data_size) + " bytes)");
}

void data_file::check_range(uint64_t offset, uint64_t length) {
    const uint64_t data_size = *size();
    if (offset > data_size || length > data_size - offset) past_end(offset, length, data_size);
}

std::unique_ptr<data_file> open_data_file(const std::string& path) {
    auto file = std::make_unique<input_file>(path);
    char magic[2];
    if (file->read_at(0, magic, 2) != 2 || !looks_like_gzip(std::string_view(magic, 2)))
        return std::make_unique<plain_data>(std::move(file));
    const gzip_header header = read_gzip_header(*file);
    if (const auto table = find_subfield(*file, header.extra, dictzip_subfield_id))
        return std::make_unique<dictzip_data>(std::move(file), header, *table);
    return std::make_unique<gzip_data>(path);
}

}  // namespace lexaro
