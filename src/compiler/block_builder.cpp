#include "compiler/block_builder.h"

#include <zlib.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/source_reader.h"
#include "compiler/stream_format.h"
#include "driver/console.h"
#include "driver/settings.h"

namespace lexaro {

namespace {

// The uncompressed block being assembled, and zlib's output for it. Both are
// allocated once for the process and reused for every block.
uint8_t blockbuf[block_buffer_size];
uint8_t compressed_block[block_buffer_size];

// The entries of the block being filled, copied out of the reader's line into
// one byte store that keeps its capacity from block to block.
class pending_entries {
public:
    void reserve(std::size_t count) { spans_.reserve(count); }

    void add(const entry& e) {
        spans_.push_back({bytes_.size(), e.word.size(), e.translation.size()});
        bytes_.append(e.word);
        bytes_.append(e.translation);
    }

    std::size_t size() const { return spans_.size(); }
    bool empty() const { return spans_.empty(); }

    std::string_view word(std::size_t i) const {
        return {bytes_.data() + spans_[i].start, spans_[i].word_length};
    }
    std::string_view translation(std::size_t i) const {
        return {bytes_.data() + spans_[i].start + spans_[i].word_length,
                spans_[i].translation_length};
    }

    void clear() {
        bytes_.clear();
        spans_.clear();
    }

private:
    struct span {
        std::size_t start;
        std::size_t word_length;
        std::size_t translation_length;
    };
    std::string bytes_;
    std::vector<span> spans_;
};

// The temporary file, written through C stdio so that the exit after a fatal
// error writes out what is still buffered. Every write is checked, and the
// stream may not grow to a size that the database cannot hold.
class stream_file {
public:
    stream_file(const std::string& name, uint64_t max_size) : max_size_(max_size) {
        file_ = std::fopen(name.c_str(), "wb");
        if (file_ == nullptr) fatal_error("can't create file " + name);
    }
    stream_file(const stream_file&) = delete;
    stream_file& operator=(const stream_file&) = delete;

    uint64_t position() const { return position_; }

    void write(const void* data, std::size_t size) {
        if (position_ + size >= max_size_) fatal_error("dictionary too large for one database");
        if (std::fwrite(data, 1, size, file_) != size) fail();
        position_ += size;
    }

    // Writes the header over the placeholder at offset 0 and closes the file.
    void finish(const uint8_t* header) {
        if (std::fseek(file_, 0, SEEK_SET) != 0 ||
            std::fwrite(header, 1, stream_header_size, file_) != stream_header_size ||
            std::fflush(file_) != 0)
            fail();
        const int closed = std::fclose(file_);
        file_ = nullptr;
        if (closed != 0) fail();
    }

private:
    [[noreturn]] void fail() { fatal_error("can't write file " + temp_name); }

    std::FILE* file_;
    uint64_t position_ = 0;
    uint64_t max_size_;
};

struct block_key {
    std::string first_word;
    std::string last_word;
};

// Sizes count the terminating zero byte. The totals are kept in 64 bits so
// that the averages stay right for any dictionary the stream can hold.
struct size_statistics {
    uint32_t max_word_size = 0;
    uint32_t max_translation_size = 0;
    uint64_t total_word_size = 0;
    uint64_t total_translation_size = 0;
};

const char blockbuf_full_message[] =
    "not enough space in blockbuf, try to decrease words_per_block parameter";

class block_builder {
public:
    block_builder(stream_file& stream, const stream_limits& limits)
        : stream_(stream), limits_(limits) {}

    void reserve(std::size_t entries_per_block) { pending_.reserve(entries_per_block); }
    void add(const entry& e) { pending_.add(e); }
    bool has_pending() const { return !pending_.empty(); }

    // Packs the pending entries into blockbuf, compresses them in one call and
    // appends the result to the stream.
    void cut_block() {
        if (index_.size() == limits_.max_blocks)
            fatal_error("too many blocks, try to increase words_per_block parameter");

        // All words, then all translations, each followed by a zero byte.
        std::size_t fill = 0;
        for (std::size_t i = 0; i < pending_.size(); ++i)
            place(pending_.word(i), fill, stats_.max_word_size, stats_.total_word_size);
        for (std::size_t i = 0; i < pending_.size(); ++i)
            place(pending_.translation(i), fill, stats_.max_translation_size,
                  stats_.total_translation_size);

        uLongf length = block_buffer_size;
        if (compress2(compressed_block, &length, blockbuf, fill, compression_level) != Z_OK)
            fatal_error("compress() failed");
        const auto offset = static_cast<uint32_t>(stream_.position());
        stream_.write(compressed_block, length);

        keys_.push_back(
            {std::string(pending_.word(0)), std::string(pending_.word(pending_.size() - 1))});
        index_.push_back({0, offset, static_cast<uint32_t>(length)});
        pending_.clear();
    }

    // Appends the key table and the block index, then fills in the header.
    void finish(const title_field& title, uint32_t entry_count) {
        for (std::size_t i = 0; i < keys_.size(); ++i) {
            index_[i].key_offset = static_cast<uint32_t>(stream_.position());
            stream_.write(keys_[i].first_word.c_str(), keys_[i].first_word.size() + 1);
            stream_.write(keys_[i].last_word.c_str(), keys_[i].last_word.size() + 1);
        }
        stream_header header;
        header.index_offset = static_cast<uint32_t>(stream_.position());
        for (const block_index_entry& e : index_) {
            uint8_t encoded[block_index_entry_size];
            encode_block_index_entry(e, encoded);
            stream_.write(encoded, sizeof encoded);
        }
        header.block_count = static_cast<uint16_t>(index_.size());
        header.words_per_block = static_cast<uint16_t>(words_per_block);
        header.entry_count = entry_count;
        header.max_word_size = stats_.max_word_size;
        header.max_translation_size = stats_.max_translation_size;
        // A dictionary without entries stores averages of 0.
        if (entry_count > 0) {
            header.avg_word_size = static_cast<uint32_t>(stats_.total_word_size / entry_count);
            header.avg_translation_size =
                static_cast<uint32_t>(stats_.total_translation_size / entry_count);
        }
        header.title = title;
        uint8_t encoded[stream_header_size];
        encode_stream_header(header, encoded);
        stream_.finish(encoded);
    }

private:
    static void place(std::string_view text, std::size_t& fill, uint32_t& max_size,
                      uint64_t& total_size) {
        const std::size_t size = text.size() + 1;
        if (fill + size > block_buffer_size) fatal_error(blockbuf_full_message);
        std::copy(text.begin(), text.end(), blockbuf + fill);
        blockbuf[fill + text.size()] = 0;
        fill += size;
        max_size = std::max(max_size, static_cast<uint32_t>(size));
        total_size += size;
    }

    stream_file& stream_;
    stream_limits limits_;
    pending_entries pending_;
    std::vector<block_key> keys_;
    std::vector<block_index_entry> index_;
    size_statistics stats_;
};

}  // namespace

void compile_dictionary(const stream_limits& limits) {
#ifdef __GLIBC__
    // Each compress2 call allocates and frees some 300 KB of zlib work area
    // at the top of the heap. With the default threshold glibc hands it back
    // to the kernel after every block and faults it in again for the next,
    // which costs more than a tenth of the run; keep it instead.
    mallopt(M_TRIM_THRESHOLD, 8 << 20);
#endif
    source_reader source;
    source.open(source_name);
    stream_file stream(temp_name, limits.max_size);
    const uint8_t placeholder[stream_header_size] = {};
    stream.write(placeholder, sizeof placeholder);
    const title_field title = source.read_title();

    block_builder builder(stream, limits);
    const auto per_block = static_cast<uint32_t>(words_per_block);
    builder.reserve(per_block);
    // A block is cut after every words_per_block-th entry, and once more at
    // the end of the source for the entries left over.
    entry e;
    for (;;) {
        const bool got_entry = source.next_entry(e);
        if (got_entry) builder.add(e);
        if (builder.has_pending() && (!got_entry || source.entry_count() % per_block == 0))
            builder.cut_block();
        if (!got_entry) break;
    }
    builder.finish(title, source.entry_count());
    source.close();
}

}  // namespace lexaro
