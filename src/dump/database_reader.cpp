#include "dump/database_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "common/big_endian.h"
#include "common/layout.h"
#include "packager/database_format.h"

namespace lexaro::dump {

namespace {

namespace at = field_offset;
using std::to_string;

violation unreadable_at(uint64_t offset) { return violation{offset, "can't read the file", true}; }

// Reads the bytes of a range of the file in order, through a buffer of at
// most 64 KiB: the record list, the block index and the key table.
class chunk_reader {
public:
    chunk_reader(const random_access_input& file, uint64_t start, uint64_t end)
        : file_(file),
          position_(start),
          buffer_start_(start),
          end_(end),
          buffer_(
              new uint8_t[static_cast<std::size_t>(std::min<uint64_t>(chunk_size, end - start))]) {}

    uint64_t position() const { return position_; }
    bool failed() const { return failed_; }

    // The next n bytes (at most 64 KiB, all within the range), or nullptr
    // when the file cannot be read.
    const uint8_t* take(std::size_t n) {
        if (position_ + n > buffer_end() && !fill(n)) return nullptr;
        const uint8_t* p = &buffer_[in_buffer()];
        position_ += n;
        return p;
    }

    // Moves past the next zero byte and gives the length of the string
    // before it; nothing when the range ends first or the file cannot be
    // read (failed()).
    std::optional<uint64_t> next_string() {
        uint64_t length = 0;
        for (;;) {
            if (position_ == buffer_end() && !fill(1)) return std::nullopt;
            const uint8_t* from = &buffer_[in_buffer()];
            const std::size_t available = buffer_length_ - in_buffer();
            if (const void* zero = std::memchr(from, 0, available)) {
                const std::size_t n = static_cast<const uint8_t*>(zero) - from;
                position_ += n + 1;
                return length + n;
            }
            length += available;
            position_ += available;
        }
    }

private:
    static constexpr std::size_t chunk_size = 1 << 16;

    uint64_t buffer_end() const { return buffer_start_ + buffer_length_; }
    // Where the position lies in the buffer, which holds at most chunk_size bytes.
    std::size_t in_buffer() const { return static_cast<std::size_t>(position_ - buffer_start_); }

    // Reads as much of the rest of the range as the buffer holds, at least
    // `least` bytes; false when the range holds fewer or the read fails.
    bool fill(std::size_t least) {
        const auto length =
            static_cast<std::size_t>(std::min<uint64_t>(chunk_size, end_ - position_));
        if (length < least) return false;
        buffer_start_ = position_;
        buffer_length_ = file_.read_at(position_, buffer_.get(), length) ? length : 0;
        failed_ = buffer_length_ == 0;
        return !failed_;
    }

    const random_access_input& file_;
    uint64_t position_, buffer_start_, end_;
    std::unique_ptr<uint8_t[]> buffer_;
    std::size_t buffer_length_ = 0;
    bool failed_ = false;
};

// Compares word with the size bytes at offset as strings of bytes, into
// order (below, equal to or above 0); false when the file cannot be read.
// Reads no more bytes than the word has.
bool compare_with_file(const random_access_input& file, uint64_t offset, uint64_t size,
                       std::string_view word, int& order) {
    char chunk[4096];
    const uint64_t common = std::min<uint64_t>(size, word.size());
    for (uint64_t done = 0; done < common;) {
        const auto n = static_cast<std::size_t>(std::min<uint64_t>(sizeof chunk, common - done));
        if (!file.read_at(offset + done, chunk, n)) return false;
        order = std::memcmp(word.data() + done, chunk, n);
        if (order != 0) return true;
        done += n;
    }
    order = word.size() < size ? -1 : word.size() > size ? 1 : 0;
    return true;
}

// Whether word equals the size bytes at offset; nothing when the file
// cannot be read.
std::optional<bool> equals_file(const random_access_input& file, uint64_t offset, uint64_t size,
                                std::string_view word) {
    if (word.size() != size) return false;
    int order = 0;
    if (!compare_with_file(file, offset, size, word, order)) return std::nullopt;
    return order == 0;
}

outcome check_database_header(const uint8_t* h, database& db) {
    if (std::memcmp(h + at::type, database_type, sizeof database_type) != 0)
        return violation{at::type, "type is not DIda"};
    if (std::memcmp(h + at::creator, database_creator, sizeof database_creator) != 0)
        return violation{at::creator, "creator is not Qzvk"};
    const void* zero = std::memchr(h + at::name, 0, database_name_size);
    if (zero == nullptr) return violation{at::name, "name field holds no zero byte"};
    db.name.assign(reinterpret_cast<const char*>(h + at::name),
                   static_cast<const uint8_t*>(zero) - (h + at::name));
    db.creation_date = get_u32(h + at::creation_date);
    if (get_u32(h + at::modification_date) != db.creation_date)
        return violation{at::modification_date, "modification date differs from creation date"};
    if (get_u32(h + at::backup_date) != db.creation_date)
        return violation{at::backup_date, "last backup date differs from creation date"};

    struct zero_field {
        std::size_t offset;
        bool wide;
        const char* name;
    };
    for (const zero_field& f : {zero_field{at::attributes, false, "attributes"},
                                zero_field{at::version, false, "version"},
                                zero_field{at::modification_number, true, "modification number"},
                                zero_field{at::app_info_offset, true, "application info offset"},
                                zero_field{at::sort_info_offset, true, "sort info offset"},
                                zero_field{at::unique_id_seed, true, "unique ID seed"},
                                zero_field{at::next_record_list, true, "next record list"}}) {
        const uint32_t value = f.wide ? get_u32(h + f.offset) : get_u16(h + f.offset);
        if (value != 0)
            return violation{f.offset, std::string(f.name) + " is " + to_string(value) + ", not 0"};
    }
    return std::nullopt;
}

// The record list is read only once the file's size shows that it is all
// there, and the stream's size comes from the file's size, not from what
// the list claims.
outcome check_record_list(const uint8_t* header, database& db) {
    const uint32_t n = get_u16(header + at::record_count);
    if (n == 0) return violation{at::record_count, "record count is 0"};
    const uint64_t list_end = database_header_size + uint64_t{record_entry_size} * n;
    if (db.file_size < list_end + record_list_gap_size)
        return violation{db.file_size,
                         "file ends within the record list of " + to_string(n) + " records"};
    chunk_reader list(*db.file, database_header_size, list_end + record_list_gap_size);
    for (uint32_t i = 0; i < n; ++i) {
        const uint64_t entry = list.position();
        const uint8_t* e = list.take(record_entry_size);
        if (e == nullptr) return unreadable_at(entry);
        const auto record = [i] { return "record " + to_string(i); };
        if (get_u32(e + at::record_offset) != record_offset(n, i))
            return violation{entry + at::record_offset,
                             record() + " offset is " + to_string(get_u32(e + at::record_offset)) +
                                 ", expected " + to_string(record_offset(n, i))};
        if (e[at::record_attributes] != 0)
            return violation{entry + at::record_attributes, record() + " attributes are not 0"};
        if (get_u24(e + at::unique_id) != i)
            return violation{entry + at::unique_id,
                             record() + " unique ID is " + to_string(get_u24(e + at::unique_id))};
    }
    const uint8_t* gap = list.take(record_list_gap_size);
    if (gap == nullptr) return unreadable_at(list_end);
    if (gap[0] != 0 || gap[1] != 0)
        return violation{list_end, "the two bytes after the record list are not zero"};
    if (db.file_size < record_offset(n, n - 1))
        return violation{db.file_size, "file ends before record " + to_string(n - 1) +
                                           " at offset " + to_string(record_offset(n, n - 1))};
    db.record_count = n;
    db.stream_start = list_end + record_list_gap_size;
    db.stream_size = db.file_size - db.stream_start;
    if (record_count_for(db.stream_size) != n)
        return violation{at::record_count, "record count is " + to_string(n) +
                                               ", but a stream of " + to_string(db.stream_size) +
                                               " bytes needs " +
                                               to_string(record_count_for(db.stream_size))};
    return std::nullopt;
}

// The stream header's counts, the position of the block index and the
// stream's length; after this the index can be read.
outcome check_stream_header(database& db) {
    const auto at_stream = [&](uint64_t offset) { return db.stream_start + offset; };
    if (db.stream_size < stream_header_size)
        return violation{db.file_size, "stream ends within its header of " +
                                           to_string(stream_header_size) + " bytes"};
    uint8_t raw[stream_header_size];
    if (!db.file->read_at(db.stream_start, raw, sizeof raw)) return unreadable_at(db.stream_start);
    const stream_header& h = db.header = decode_stream_header(raw);
    if (h.version != stream_version)
        return violation{at_stream(at::stream_version),
                         "stream version is " + to_string(h.version) + ", not 1"};
    if (h.words_per_block < min_words_per_block || h.words_per_block > max_words_per_block)
        return violation{at_stream(at::words_per_block),
                         "words_per_block is " + to_string(h.words_per_block) + ", outside " +
                             to_string(min_words_per_block) + " to " +
                             to_string(max_words_per_block)};
    const uint64_t blocks = (uint64_t{h.entry_count} + h.words_per_block - 1) / h.words_per_block;
    if (h.block_count != blocks)
        return violation{at_stream(at::block_count),
                         "block_count is " + to_string(h.block_count) + ", but " +
                             to_string(h.entry_count) + " entries in blocks of " +
                             to_string(h.words_per_block) + " make " + to_string(blocks)};
    if (h.index_offset < stream_header_size)
        return violation{at_stream(at::index_offset), "index_offset " + to_string(h.index_offset) +
                                                          " lies within the stream header"};
    const uint64_t index_end = uint64_t{h.index_offset} + block_index_entry_size * h.block_count;
    if (index_end > db.stream_size)
        return violation{db.file_size, "stream ends at " + to_string(db.stream_size) +
                                           ", before the end of its block index at " +
                                           to_string(index_end)};
    if (index_end < db.stream_size)
        return violation{at_stream(index_end), "the stream goes on for " +
                                                   to_string(db.stream_size - index_end) +
                                                   " bytes after its block index"};
    return std::nullopt;
}

// The blocks follow one another from the end of the header, the keys one
// another from the end of the last block, and the index the last key.
outcome check_block_index(database& db) {
    const stream_header& h = db.header;
    const uint64_t index_start = db.stream_start + h.index_offset;
    chunk_reader entries(*db.file, index_start,
                         index_start + block_index_entry_size * h.block_count);
    db.index.reserve(h.block_count);
    uint64_t next_block = stream_header_size;
    for (uint32_t i = 0; i < h.block_count; ++i) {
        const uint64_t entry = entries.position();
        const uint8_t* raw = entries.take(block_index_entry_size);
        if (raw == nullptr) return unreadable_at(entry);
        const block_index_entry e = decode_block_index_entry(raw);
        const auto block = [i] { return "block " + to_string(i); };
        if (e.block_offset != next_block)
            return violation{entry + at::block_offset, block() + " starts at " +
                                                           to_string(e.block_offset) +
                                                           ", expected " + to_string(next_block)};
        next_block += e.block_length;
        if (next_block > h.index_offset)
            return violation{
                entry + at::block_length,
                block() + " of " + to_string(e.block_length) + " bytes runs past the block index"};
        db.index.push_back(e);
    }
    uint64_t next_key = next_block;
    chunk_reader table(*db.file, db.stream_start + next_key, index_start);
    db.keys.reserve(h.block_count);
    for (uint32_t i = 0; i < h.block_count; ++i) {
        const uint64_t entry = index_start + block_index_entry_size * i;
        const auto key = [i] { return "key of block " + to_string(i); };
        if (db.index[i].key_offset != next_key)
            return violation{entry + at::key_offset, key() + " starts at " +
                                                         to_string(db.index[i].key_offset) +
                                                         ", expected " + to_string(next_key)};
        key_sizes sizes;
        for (uint32_t* size : {&sizes.first, &sizes.last}) {
            const auto length = table.next_string();
            if (table.failed()) return unreadable_at(table.position());
            if (!length)
                return violation{db.stream_start + next_key, key() + " runs into the block index"};
            *size = static_cast<uint32_t>(*length);
            next_key += *length + 1;
        }
        db.keys.push_back(sizes);
    }
    if (next_key != h.index_offset)
        return violation{db.stream_start + at::index_offset,
                         "index_offset is " + to_string(h.index_offset) +
                             ", but the key table ends at " + to_string(next_key)};
    return std::nullopt;
}

}  // namespace

std::string describe(const violation& v) { return "offset " + to_string(v.offset) + ": " + v.rule; }

outcome open_database(const random_access_input& file, database& db) {
    db = database{};
    db.file = &file;
    db.file_size = file.size();
    if (db.file_size < database_header_size)
        return violation{db.file_size, "file ends within the database header of " +
                                           to_string(database_header_size) + " bytes"};
    uint8_t header[database_header_size];
    if (!file.read_at(0, header, sizeof header)) return unreadable_at(0);
    if (auto v = check_database_header(header, db)) return v;
    if (auto v = check_record_list(header, db)) return v;
    if (auto v = check_stream_header(db)) return v;
    return check_block_index(db);
}

outcome read_key_word(const database& db, uint32_t i, bool last, std::string& word) {
    const uint64_t offset =
        db.stream_start + db.index[i].key_offset + (last ? db.keys[i].first + 1 : 0);
    word.resize(last ? db.keys[i].last : db.keys[i].first);
    if (!db.file->read_at(offset, word.data(), word.size())) return unreadable_at(offset);
    return std::nullopt;
}

bounded_inflater::bounded_inflater(std::size_t bound) : bound_(bound) {}

bounded_inflater::~bounded_inflater() {
    if (started_) inflateEnd(&z_);
}

std::optional<std::string> bounded_inflater::inflate(const random_access_input& file,
                                                     uint64_t offset, uint64_t length) {
    output_length_ = 0;
    read_failed_ = false;
    if (started_ ? inflateReset(&z_) != Z_OK : inflateInit(&z_) != Z_OK) return "zlib cannot start";
    started_ = true;
    // Both buffers grow as blocks need, and stay for the next block: the
    // output up to one byte more than the bound, which tells a stream that
    // inflates to too much.
    z_.next_out = reinterpret_cast<Bytef*>(output_.data());
    z_.avail_out = static_cast<uInt>(output_.size());
    z_.avail_in = 0;
    uint64_t unread = length;
    int result = Z_OK;
    while (result == Z_OK) {
        if (z_.avail_out == 0) {
            const std::size_t filled = output_.size();
            if (filled > bound_) break;
            output_.resize(std::min(std::max(2 * filled, first_output_size), bound_ + 1));
            z_.next_out = reinterpret_cast<Bytef*>(output_.data() + filled);
            z_.avail_out = static_cast<uInt>(output_.size() - filled);
        }
        if (z_.avail_in == 0 && unread > 0) {
            const auto n = static_cast<std::size_t>(std::min<uint64_t>(unread, bound_));
            if (input_.size() < n) input_.resize(n);
            if (!file.read_at(offset + (length - unread), input_.data(), n)) {
                read_failed_ = true;
                return "the file cannot be read";
            }
            unread -= n;
            z_.next_in = reinterpret_cast<Bytef*>(input_.data());
            z_.avail_in = static_cast<uInt>(n);
        }
        result = ::inflate(&z_, Z_NO_FLUSH);
    }
    output_length_ = output_.size() - z_.avail_out;
    const uint64_t left = z_.avail_in + unread;
    if (output_length_ > bound_) return "it inflates to more than " + to_string(bound_) + " bytes";
    if (result == Z_STREAM_END && left == 0) return std::nullopt;
    if (result == Z_STREAM_END) return to_string(left) + " bytes follow its zlib data";
    if (result == Z_BUF_ERROR) return "its zlib data end early";
    return z_.msg ? std::string(z_.msg) : "zlib error " + to_string(result);
}

outcome block_reader::read(const database& db, uint32_t i, block_entries& out) {
    const block_index_entry& e = db.index[i];
    const uint64_t where = db.stream_start + e.block_offset;
    const auto block = [i] { return "block " + to_string(i); };
    uint8_t zlib_header[sizeof block_zlib_header];
    if (e.block_length >= sizeof zlib_header &&
        !db.file->read_at(where, zlib_header, sizeof zlib_header))
        return unreadable_at(where);
    if (e.block_length < sizeof zlib_header ||
        std::memcmp(zlib_header, block_zlib_header, sizeof zlib_header) != 0)
        return violation{where, block() + " does not begin with the level 9 zlib header 78 DA"};
    if (auto problem = inflater_.inflate(*db.file, where, e.block_length)) {
        if (inflater_.read_failed()) return unreadable_at(where);
        return violation{where, block() + " does not inflate: " + *problem};
    }

    // Every block holds words_per_block entries but the last, which holds the rest.
    const stream_header& h = db.header;
    const uint32_t entries = i + 1 < h.block_count
                                 ? h.words_per_block
                                 : h.entry_count - (h.block_count - 1u) * h.words_per_block;
    const std::size_t expected = 2u * entries;
    out.strings.clear();
    out.count = entries;
    const std::string_view inflated = inflater_.output();
    for (const char *next = inflated.data(), *end = next + inflated.size();
         next < end && out.strings.size() <= expected;) {
        const auto* zero = static_cast<const char*>(std::memchr(next, 0, end - next));
        if (zero == nullptr)
            return violation{where, block() + " ends in a string without a zero byte"};
        out.strings.emplace_back(next, zero - next);
        next = zero + 1;
    }
    if (out.strings.size() != expected)
        return violation{where,
                         block() + " holds " +
                             (out.strings.size() > expected ? "more than " + to_string(expected)
                                                            : to_string(out.strings.size())) +
                             " zero-terminated strings, expected " + to_string(expected) + " (" +
                             to_string(entries) + " words and their translations)"};

    const uint64_t first = db.stream_start + e.key_offset;
    const uint64_t last = first + db.keys[i].first + 1;
    const auto first_equal = equals_file(*db.file, first, db.keys[i].first, out.word(0));
    if (!first_equal) return unreadable_at(first);
    if (!*first_equal)
        return violation{first, "key of " + block() + " differs from its first word"};
    const auto last_equal = equals_file(*db.file, last, db.keys[i].last, out.word(entries - 1));
    if (!last_equal) return unreadable_at(last);
    if (!*last_equal) return violation{last, "key of " + block() + " differs from its last word"};
    return std::nullopt;
}

entry_reader::entry_reader(const database& db, unsigned jobs)
    : db_(db), work_(jobs, [this](std::size_t slot) {
          block_slot& s = *slots_[slot];
          s.problem = s.reader.read(db_, s.block, s.entries);
      }) {
    slots_.resize(work_.slot_count());
}

bool entry_reader::next() {
    if (finished_) return false;
    if (holds_current_) work_.release(current_);
    holds_current_ = false;
    // Every free slot starts on the next block, so that the jobs stay busy
    // while the caller goes through this one.
    while (next_block_ < db_.index.size()) {
        const std::optional<std::size_t> slot = work_.free_slot();
        if (!slot) break;
        if (!slots_[*slot]) slots_[*slot] = std::make_unique<block_slot>();
        slots_[*slot]->block = next_block_++;
        work_.start(*slot);
    }
    const std::optional<std::size_t> slot = work_.take(true);
    if (!slot) {
        finished_ = true;
        problem_ = check_statistics();
        return false;
    }
    current_ = *slot;
    holds_current_ = true;
    const block_slot& s = *slots_[current_];
    if (s.problem) {
        finished_ = true;
        problem_ = s.problem;
        work_.stop(false);
        return false;
    }
    totals_.compressed_size += db_.index[s.block].block_length;
    for (uint32_t j = 0; j < s.entries.count; ++j) {
        // A size counts the zero byte after the string.
        const auto word_size = static_cast<uint32_t>(s.entries.word(j).size() + 1);
        const auto translation_size = static_cast<uint32_t>(s.entries.translation(j).size() + 1);
        max_word_ = std::max(max_word_, word_size);
        max_translation_ = std::max(max_translation_, translation_size);
        total_word_ += word_size;
        total_translation_ += translation_size;
    }
    return true;
}

outcome entry_reader::check_statistics() {
    totals_.uncompressed_size = total_word_ + total_translation_;
    // A dictionary without entries stores averages of 0.
    const stream_header& h = db_.header;
    const uint64_t n = h.entry_count;
    const struct {
        std::size_t offset;
        const char* name;
        uint64_t stored, found;
    } statistics[] = {
        {at::max_word_size, "max_word_size", h.max_word_size, max_word_},
        {at::max_translation_size, "max_translation_size", h.max_translation_size,
         max_translation_},
        {at::avg_word_size, "avg_word_size", h.avg_word_size, n ? total_word_ / n : 0},
        {at::avg_translation_size, "avg_translation_size", h.avg_translation_size,
         n ? total_translation_ / n : 0},
    };
    for (const auto& s : statistics)
        if (s.stored != s.found)
            return violation{db_.stream_start + s.offset,
                             std::string(s.name) + " is " + to_string(s.stored) +
                                 ", but the entries give " + to_string(s.found)};
    return std::nullopt;
}

outcome find_block(const database& db, std::string_view word, std::optional<uint32_t>& block) {
    block.reset();
    std::size_t low = 0, high = db.index.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        const uint64_t first = db.stream_start + db.index[middle].key_offset;
        const uint64_t last = first + db.keys[middle].first + 1;
        int order = 0;
        if (!compare_with_file(*db.file, first, db.keys[middle].first, word, order))
            return unreadable_at(first);
        if (order < 0) {
            high = middle;
            continue;
        }
        if (!compare_with_file(*db.file, last, db.keys[middle].last, word, order))
            return unreadable_at(last);
        if (order > 0) {
            low = middle + 1;
            continue;
        }
        block = static_cast<uint32_t>(middle);
        return std::nullopt;
    }
    return std::nullopt;
}

outcome range_holds(const database& db, std::string_view word, bool& holds) {
    holds = false;
    if (db.index.empty()) return std::nullopt;
    const uint64_t first = db.stream_start + db.index.front().key_offset;
    const uint64_t last = db.stream_start + db.index.back().key_offset + db.keys.back().first + 1;
    int order = 0;
    if (!compare_with_file(*db.file, first, db.keys.front().first, word, order))
        return unreadable_at(first);
    if (order < 0) return std::nullopt;
    if (!compare_with_file(*db.file, last, db.keys.back().last, word, order))
        return unreadable_at(last);
    holds = order <= 0;
    return std::nullopt;
}

}  // namespace lexaro::dump
