#include "compiler/block_builder.h"

#include <zlib.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/ordered_work.h"
#include "common/platform.h"
#include "compiler/source_reader.h"
#include "compiler/stream_format.h"
#include "driver/console.h"
#include "driver/settings.h"
#include "packager/database_format.h"

namespace lexaro {

namespace {

// The uncompressed block being assembled, and zlib's output for it. Both are
// allocated once for the process and reused for every block, and once every
// block is written, for reading the blocks back. Blocks compressed on other
// threads meanwhile get a pair of buffers each, as they are needed.
uint8_t blockbuf[block_buffer_size];
uint8_t compressed_block[block_buffer_size];

// Where a block's keys, its first and last words, lie in the uncompressed
// block: the words come first, each followed by a zero byte.
struct key_place {
    uint32_t first_word_size;
    uint32_t last_word_start;
    uint32_t words_end;  // just past the last word's zero byte
};

// The entries of the block being filled, laid out as the uncompressed block
// wants them: words go straight into its buffer (blockbuf, or a buffer of
// the same size), each followed by a zero byte, and translations wait in a
// store of their own, kept from block to block, until the cut puts them
// after the words. Once the block needs more than the buffer holds nothing
// more is stored (the cut refuses the block), so memory stays bounded
// whatever the source's lines hold.
class pending_block {
public:
    // The buffer that the next block is assembled in; set while it is empty.
    void assemble_in(uint8_t* buffer) { buffer_ = buffer; }

    void add(const entry& e) {
        const uint64_t word_start = words_size_;
        words_size_ += e.word.size() + 1;
        translations_size_ += e.translation.size() + 1;
        if (count_++ == 0) first_word_size_ = e.word.size();
        last_word_start_ = word_start;
        if (!fits()) return;
        std::copy(e.word.begin(), e.word.end(), buffer_ + word_start);
        buffer_[word_start + e.word.size()] = 0;
        translations_.append(e.translation).push_back('\0');
    }

    bool empty() const { return count_ == 0; }

    // Puts the translations after the words; gives the block's length.
    std::size_t assemble() {
        if (!fits())
            fatal_error("not enough space in blockbuf, try to decrease words_per_block parameter");
        std::copy(translations_.begin(), translations_.end(), buffer_ + words_size_);
        return static_cast<std::size_t>(words_size_ + translations_size_);
    }

    // Where the block's first and last words lie in it, once assembled.
    key_place keys() const {
        return {static_cast<uint32_t>(first_word_size_), static_cast<uint32_t>(last_word_start_),
                static_cast<uint32_t>(words_size_)};
    }

    void clear() {
        count_ = 0;
        words_size_ = translations_size_ = 0;
        translations_.clear();
    }

private:
    bool fits() const { return words_size_ + translations_size_ <= block_buffer_size; }

    uint8_t* buffer_ = blockbuf;
    std::size_t count_ = 0;
    uint64_t words_size_ = 0;  // sizes count each string's zero byte
    uint64_t translations_size_ = 0;
    std::size_t first_word_size_ = 0;
    uint64_t last_word_start_ = 0;
    std::string translations_;
};

// The temporary file, written through C stdio so that the exit after a fatal
// error writes out what is still buffered. Every write is checked, and the
// stream may not grow to a size that the database cannot hold. The file is
// this run's alone: it stays locked until the process ends, and a link at its
// name is never followed.
class stream_file {
public:
    stream_file(const std::string& name, uint64_t max_size) : max_size_(max_size) {
        switch (claim_work_file(name, &file_)) {
            case claim_result::claimed:
                break;
            case claim_result::in_use:
                fatal_error("file in use by another run: " + name);
            case claim_result::cannot_create:
                fatal_error("can't create file " + name);
        }
    }
    stream_file(const stream_file&) = delete;
    stream_file& operator=(const stream_file&) = delete;
    // Reached only when an observer's fatal error unwinds the pass: what is
    // buffered is written out, as the exit after lexaro's own does.
    ~stream_file() {
        if (file_ != nullptr) std::fclose(file_);
    }

    uint64_t position() const { return position_; }

    // Reads bytes written before back from the file; the writes go on at the
    // end. What is buffered is written out first, so that a failed write is
    // reported as one. Offsets stay below max_stream_size, which a long holds.
    void read_back(uint64_t offset, void* data, std::size_t size) {
        if (std::fflush(file_) != 0) fail();
        if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0 ||
            std::fread(data, 1, size, file_) != size ||
            std::fseek(file_, static_cast<long>(position_), SEEK_SET) != 0)
            fatal_error("can't read file " + temp_name);
    }

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

    std::FILE* file_ = nullptr;
    uint64_t position_ = 0;
    uint64_t max_size_;
};

// Inflates the start of a block written to the stream, as far as its keys.
// Any failure to do so is one to read the stream back.
class key_reader {
public:
    key_reader() {
        if (inflateInit(&stream_) != Z_OK) fatal_error("can't read file " + temp_name);
    }
    ~key_reader() { inflateEnd(&stream_); }
    key_reader(const key_reader&) = delete;
    key_reader& operator=(const key_reader&) = delete;

    // Gives the first `size` bytes of the block that `compressed` holds, in
    // `out`.
    void inflate_start(const uint8_t* compressed, uint32_t length, uint32_t size, uint8_t* out) {
        stream_.next_in = const_cast<Bytef*>(compressed);
        stream_.avail_in = length;
        stream_.next_out = out;
        stream_.avail_out = size;
        const int result = inflate(&stream_, Z_SYNC_FLUSH);
        if ((result != Z_OK && result != Z_STREAM_END) || stream_.avail_out != 0 ||
            inflateReset(&stream_) != Z_OK)
            fatal_error("can't read file " + temp_name);
    }

private:
    z_stream stream_{};
};

// Sizes count the terminating zero byte. They are kept in 64 bits, so that
// the averages stay right for any dictionary the stream can hold.
struct size_statistics {
    uint64_t max_word_size = 0;
    uint64_t max_translation_size = 0;
    uint64_t total_word_size = 0;
    uint64_t total_translation_size = 0;

    void add(const entry& e) {
        max_word_size = std::max<uint64_t>(max_word_size, e.word.size() + 1);
        max_translation_size = std::max<uint64_t>(max_translation_size, e.translation.size() + 1);
        total_word_size += e.word.size() + 1;
        total_translation_size += e.translation.size() + 1;
    }

    void add(const size_statistics& other) {
        max_word_size = std::max(max_word_size, other.max_word_size);
        max_translation_size = std::max(max_translation_size, other.max_translation_size);
        total_word_size += other.total_word_size;
        total_translation_size += other.total_translation_size;
    }
};

// What the stream keeps of a block cut: where its keys lie in it, how many
// entries it holds, and their sizes, for the header of the stream (or of
// the volume) that it ends up in.
struct block_facts {
    key_place key;
    uint32_t entries = 0;
    size_statistics sizes;

    uint64_t key_size() const {
        return uint64_t{key.first_word_size} + 1 + (key.words_end - key.last_word_start);
    }
};

// A block on its way to the stream: assembled by the reading thread,
// compressed by a worker thread (or the reading thread itself) and written
// by the reading thread, in block order. The first slot's buffers are
// blockbuf and compressed_block; the others get theirs the first time they
// are used, left untouched until written to.
struct block_slot {
    uint8_t* block = nullptr;
    uint8_t* compressed = nullptr;
    std::unique_ptr<uint8_t[]> own_buffers;
    std::size_t length = 0;
    uLongf compressed_length = 0;
    int result = Z_OK;

    void compress() {
        compressed_length = block_buffer_size;
        result = compress2(compressed, &compressed_length, block, length, compression_level);
    }
};

class block_builder : public failure_settler {
public:
    // Claims temp_name for the stream and writes the placeholder of its
    // header. With a cutter, the stream is that of the first volume, which
    // starts at the entry given.
    block_builder(const stream_limits& limits, unsigned jobs, volume_cutter* cutter,
                  uint64_t first_entry)
        : limits_(limits),
          cutter_(cutter),
          volume_first_entry_(first_entry),
          work_(jobs, [this](std::size_t slot) { slots_[slot].compress(); }),
          slots_(work_.slot_count()) {
        begin_stream();
        slots_[0].block = blockbuf;
        slots_[0].compressed = compressed_block;
        pending_.assemble_in(fill_slot());
    }
    // The threads end before the slots they work in go.
    ~block_builder() { work_.stop(false); }
    block_builder(const block_builder&) = delete;
    block_builder& operator=(const block_builder&) = delete;

    void set_title(const title_field& title) { title_ = title; }

    void add(const entry& e) {
        pending_.add(e);
        block_.sizes.add(e);
        ++block_.entries;
    }

    bool has_pending() const { return !pending_.empty(); }

    // Whether the cutter has refused a volume: nothing more is written.
    bool stopped() const { return stopped_; }

    // Hands the pending block over to be compressed in one call, writes the
    // blocks that are compressed by now, and takes a slot for the next one.
    // Volumes are cut as blocks are written, each volume counting its own.
    void cut_block() {
        if (cutter_ == nullptr && blocks_.size() == limits_.max_blocks)
            fatal_error("too many blocks, try to increase words_per_block parameter");
        block_slot& slot = slots_[filling_];
        slot.length = pending_.assemble();
        block_.key = pending_.keys();
        blocks_.push_back(block_);
        block_ = block_facts{};
        pending_.clear();
        work_.start(filling_);
        write_blocks(false);
        if (!stopped_) pending_.assemble_in(fill_slot());
    }

    // A fatal error while blocks are still being compressed: those cut
    // before it are written, unless it is the writing of a block (or the
    // end of a volume) that failed, which all of them follow.
    void settle() override {
        if (writing_) {
            work_.stop(false);
            return;
        }
        work_.stop(true);
        write_blocks(true);
    }

    // Writes the blocks still being compressed, then ends the stream (the
    // last volume's) with its key table, block index and header.
    void finish() {
        write_blocks(true);
        if (!stopped_) end_volume(true);
    }

private:
    void begin_stream() {
        stream_ = std::make_unique<stream_file>(temp_name, limits_.max_size);
        const uint8_t placeholder[stream_header_size] = {};
        stream_->write(placeholder, sizeof placeholder);
    }

    // Appends the key table and the block index of the blocks written to the
    // stream, then fills in the header. The keys are read back from the
    // blocks written, rather than kept from the start, so that memory stays
    // bounded however long the words are: each block is inflated as far as
    // its last word. Blocks still being compressed for the next volume keep
    // their buffers: a cutter's volumes are read back through a pair of
    // their own.
    void end_volume(bool ends_pass) {
        writing_ = true;
        const std::size_t count = index_.size();
        volume_extent volume;
        volume.first_entry = volume_first_entry_;
        volume.blocks = static_cast<uint32_t>(count);
        volume.ends_pass = ends_pass;
        size_statistics sizes;
        for (std::size_t i = 0; i < count; ++i) {
            volume.entries += blocks_[i].entries;
            sizes.add(blocks_[i].sizes);
        }
        if (cutter_ != nullptr && !cutter_->take(volume)) {
            stopped_ = true;
            writing_ = false;
            return;
        }
        uint8_t* compressed = compressed_block;
        uint8_t* inflated = blockbuf;
        if (cutter_ != nullptr) {
            if (!readback_) readback_.reset(new uint8_t[2 * block_buffer_size]);
            compressed = readback_.get();
            inflated = compressed + block_buffer_size;
        }
        std::string first_word, last_word;
        key_reader reader;
        for (std::size_t i = 0; i < count; ++i) {
            const key_place& key = blocks_[i].key;
            stream_->read_back(index_[i].block_offset, compressed, index_[i].block_length);
            reader.inflate_start(compressed, index_[i].block_length, key.words_end, inflated);
            if (inflated[key.first_word_size] != 0 || inflated[key.words_end - 1] != 0)
                fatal_error("can't read file " + temp_name);
            index_[i].key_offset = static_cast<uint32_t>(stream_->position());
            stream_->write(inflated, key.first_word_size + 1);
            stream_->write(inflated + key.last_word_start, key.words_end - key.last_word_start);
            if (cutter_ != nullptr && i == 0)
                first_word.assign(reinterpret_cast<const char*>(inflated), key.first_word_size);
            if (cutter_ != nullptr && i + 1 == count)
                last_word.assign(reinterpret_cast<const char*>(inflated) + key.last_word_start,
                                 key.words_end - key.last_word_start - 1);
        }
        stream_header header;
        header.index_offset = static_cast<uint32_t>(stream_->position());
        for (const block_index_entry& e : index_) {
            uint8_t encoded[block_index_entry_size];
            encode_block_index_entry(e, encoded);
            stream_->write(encoded, sizeof encoded);
        }
        header.block_count = static_cast<uint16_t>(count);
        header.words_per_block = static_cast<uint16_t>(words_per_block);
        header.entry_count = static_cast<uint32_t>(volume.entries);
        // Every string has been placed in a block by now, so each size is at
        // most 1,000,000. A dictionary without entries stores averages of 0.
        header.max_word_size = static_cast<uint32_t>(sizes.max_word_size);
        header.max_translation_size = static_cast<uint32_t>(sizes.max_translation_size);
        if (volume.entries > 0) {
            header.avg_word_size = static_cast<uint32_t>(sizes.total_word_size / volume.entries);
            header.avg_translation_size =
                static_cast<uint32_t>(sizes.total_translation_size / volume.entries);
        }
        header.title =
            cutter_ != nullptr ? cutter_->title(volume, title_, first_word, last_word) : title_;
        uint8_t encoded[stream_header_size];
        encode_stream_header(header, encoded);
        stream_->finish(encoded);
        stream_.reset();
        blocks_.erase(blocks_.begin(), blocks_.begin() + static_cast<std::ptrdiff_t>(count));
        index_.clear();
        volume_key_size_ = 0;
        volume_first_entry_ += volume.entries;
        if (cutter_ != nullptr) cutter_->compiled(volume);
        writing_ = false;
    }

    // Whether the block, written next, would take the volume's database past
    // the cutter's size, or its stream past a limit.
    bool volume_full(const block_facts& block, uint64_t compressed_length,
                     uint64_t& database_size) const {
        const uint64_t stream_size = stream_->position() + compressed_length + volume_key_size_ +
                                     block.key_size() +
                                     block_index_entry_size * (index_.size() + 1);
        database_size = database_file_size(stream_size);
        return index_.size() == limits_.max_blocks || stream_size >= limits_.max_size ||
               database_size > cutter_->max_database_size();
    }

    // A slot to assemble the next block in: a free one, else the one whose
    // block is the next to write, once written.
    uint8_t* fill_slot() {
        std::optional<std::size_t> slot = work_.free_slot();
        if (!slot) {
            slot = work_.take(true);
            write_block(*slot);
        }
        filling_ = *slot;
        block_slot& s = slots_[filling_];
        if (s.block == nullptr) {
            s.own_buffers.reset(new uint8_t[2 * block_buffer_size]);
            s.block = s.own_buffers.get();
            s.compressed = s.block + block_buffer_size;
        }
        return s.block;
    }

    // Writes the compressed blocks in order: those done by now, or all.
    void write_blocks(bool all) {
        while (!stopped_) {
            const std::optional<std::size_t> slot = work_.take(all);
            if (!slot) break;
            write_block(*slot);
            work_.release(*slot);
        }
    }

    void write_block(std::size_t slot) {
        if (stopped_) return;
        const block_slot& s = slots_[slot];
        writing_ = true;
        if (s.result != Z_OK) fatal_error("compress() failed");
        if (cutter_ != nullptr) {
            uint64_t database_size = 0;
            if (!index_.empty() &&
                volume_full(blocks_[index_.size()], s.compressed_length, database_size)) {
                end_volume(false);
                if (stopped_) return;
                begin_stream();
                writing_ = true;
            }
            if (index_.empty() && volume_full(blocks_[0], s.compressed_length, database_size))
                fatal_error(cutter_->block_too_large(volume_first_entry_, blocks_[0].entries,
                                                     database_size));
        }
        const auto offset = static_cast<uint32_t>(stream_->position());
        stream_->write(s.compressed, s.compressed_length);
        index_.push_back({0, offset, static_cast<uint32_t>(s.compressed_length)});
        volume_key_size_ += blocks_[index_.size() - 1].key_size();
        writing_ = false;
    }

    stream_limits limits_;
    volume_cutter* cutter_;
    uint64_t volume_first_entry_;  // of the stream's volume, counted from the source's first
    std::unique_ptr<stream_file> stream_;
    title_field title_{};
    ordered_work work_;
    std::vector<block_slot> slots_;
    std::size_t filling_ = 0;
    bool writing_ = false;
    bool stopped_ = false;
    pending_block pending_;
    block_facts block_;               // of the block being filled
    std::vector<block_facts> blocks_;  // cut, from the first of the stream's volume on
    std::vector<block_index_entry> index_;  // of the blocks written to the stream
    uint64_t volume_key_size_ = 0;          // of the blocks written to the stream
    std::unique_ptr<uint8_t[]> readback_;
};

// The builder settles a fatal error for as long as the pass runs.
class settling {
public:
    explicit settling(failure_settler& settler) { settle_before_failing(&settler); }
    ~settling() { settle_before_failing(nullptr); }
    settling(const settling&) = delete;
    settling& operator=(const settling&) = delete;
};

// The one pass of both: the source's entries from the range's first, in
// blocks of words_per_block, into one stream or, with a cutter, volumes.
void compile(volume_cutter* cutter, const source_range& range, const stream_limits& limits,
             unsigned jobs) {
#ifdef __GLIBC__
    // Each compress2 call allocates and frees some 300 KB of zlib work area
    // at the top of the heap. With the default threshold glibc hands it back
    // to the kernel after every block and faults it in again for the next,
    // which costs more than a tenth of the run; keep it instead.
    mallopt(M_TRIM_THRESHOLD, 8 << 20);
#endif
    source_reader source;
    source.open(source_name);
    block_builder builder(limits, jobs, cutter, range.first_entry);
    builder.set_title(source.read_title());
    settling failures_settled(builder);
    entry e;
    while (source.entry_count() < range.first_entry && source.next_entry(e)) {
    }
    const auto per_block = static_cast<uint32_t>(words_per_block);
    // A block is cut after every words_per_block-th entry, and once more at
    // the end of the source (or the range) for the entries left over.
    uint32_t in_block = 0;
    for (;;) {
        const bool got_entry = source.entry_count() < range.end_entry && source.next_entry(e);
        if (got_entry) {
            builder.add(e);
            ++in_block;
        }
        if (builder.has_pending() && (!got_entry || in_block == per_block)) {
            builder.cut_block();
            in_block = 0;
            if (builder.stopped()) return;
        }
        if (!got_entry) break;
    }
    builder.finish();
    source.close();
}

}  // namespace

void compile_dictionary(const stream_limits& limits, unsigned jobs) {
    compile(nullptr, source_range{}, limits, jobs);
}

void compile_volumes(volume_cutter& cutter, const source_range& range,
                     const stream_limits& limits, unsigned jobs) {
    compile(&cutter, range, limits, jobs);
}

}  // namespace lexaro
