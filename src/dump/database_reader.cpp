#include "dump/database_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "common/big_endian.h"
#include "common/layout.h"
#include "packager/database_format.h"

namespace lexaro::dump {

namespace {

namespace at = field_offset;
using std::to_string;

const uint8_t* bytes(std::string_view s, uint64_t offset) {
    return reinterpret_cast<const uint8_t*>(s.data()) + offset;
}

// The bytes from offset up to the first zero byte before end, if one comes.
std::optional<std::string_view> zero_terminated(std::string_view s, uint64_t offset, uint64_t end) {
    const std::string_view rest = s.substr(offset, end - offset);
    const std::size_t zero = rest.find('\0');
    if (zero == std::string_view::npos) return std::nullopt;
    return rest.substr(0, zero);
}

outcome check_database_header(std::string_view file, database& db) {
    if (file.size() < database_header_size)
        return violation{file.size(), "file ends within the database header of " +
                                          to_string(database_header_size) + " bytes"};
    const uint8_t* h = bytes(file, 0);
    if (std::memcmp(h + at::type, database_type, sizeof database_type) != 0)
        return violation{at::type, "type is not DIda"};
    if (std::memcmp(h + at::creator, database_creator, sizeof database_creator) != 0)
        return violation{at::creator, "creator is not Qzvk"};
    const auto name = zero_terminated(file, at::name, database_name_size);
    if (!name) return violation{at::name, "name field holds no zero byte"};
    db.name = *name;
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

outcome check_record_list(std::string_view file, database& db) {
    const uint32_t n = get_u16(bytes(file, at::record_count));
    if (n == 0) return violation{at::record_count, "record count is 0"};
    const uint64_t list_end = database_header_size + uint64_t{record_entry_size} * n;
    if (file.size() < list_end + record_list_gap_size)
        return violation{file.size(),
                         "file ends within the record list of " + to_string(n) + " records"};
    for (uint32_t i = 0; i < n; ++i) {
        const uint64_t entry = database_header_size + uint64_t{record_entry_size} * i;
        const uint8_t* e = bytes(file, entry);
        const std::string record = "record " + to_string(i);
        if (get_u32(e + at::record_offset) != record_offset(n, i))
            return violation{entry + at::record_offset,
                             record + " offset is " + to_string(get_u32(e + at::record_offset)) +
                                 ", expected " + to_string(record_offset(n, i))};
        if (e[at::record_attributes] != 0)
            return violation{entry + at::record_attributes, record + " attributes are not 0"};
        if (get_u24(e + at::unique_id) != i)
            return violation{entry + at::unique_id,
                             record + " unique ID is " + to_string(get_u24(e + at::unique_id))};
    }
    if (file[list_end] != 0 || file[list_end + 1] != 0)
        return violation{list_end, "the two bytes after the record list are not zero"};
    if (file.size() < record_offset(n, n - 1))
        return violation{file.size(), "file ends before record " + to_string(n - 1) +
                                          " at offset " + to_string(record_offset(n, n - 1))};
    db.record_count = n;
    db.stream_start = list_end + record_list_gap_size;
    db.stream = file.substr(db.stream_start);
    if (record_count_for(db.stream.size()) != n)
        return violation{at::record_count, "record count is " + to_string(n) +
                                               ", but a stream of " + to_string(db.stream.size()) +
                                               " bytes needs " +
                                               to_string(record_count_for(db.stream.size()))};
    return std::nullopt;
}

// The stream header's counts, the position of the block index and the
// stream's length; after this the index can be read.
outcome check_stream_header(database& db) {
    const auto at_stream = [&](uint64_t offset) { return db.stream_start + offset; };
    if (db.stream.size() < stream_header_size)
        return violation{db.file.size(), "stream ends within its header of " +
                                             to_string(stream_header_size) + " bytes"};
    const stream_header& h = db.header = decode_stream_header(bytes(db.stream, 0));
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
    if (index_end > db.stream.size())
        return violation{db.file.size(), "stream ends at " + to_string(db.stream.size()) +
                                             ", before the end of its block index at " +
                                             to_string(index_end)};
    if (index_end < db.stream.size())
        return violation{at_stream(index_end), "the stream goes on for " +
                                                   to_string(db.stream.size() - index_end) +
                                                   " bytes after its block index"};
    return std::nullopt;
}

// The blocks follow one another from the end of the header, the keys one
// another from the end of the last block, and the index the last key.
outcome check_block_index(database& db) {
    const stream_header& h = db.header;
    db.index.reserve(h.block_count);
    uint64_t next_block = stream_header_size;
    for (uint32_t i = 0; i < h.block_count; ++i) {
        const uint64_t entry = uint64_t{h.index_offset} + block_index_entry_size * i;
        const block_index_entry e = decode_block_index_entry(bytes(db.stream, entry));
        const std::string block = "block " + to_string(i);
        if (e.block_offset != next_block)
            return violation{db.stream_start + entry + at::block_offset,
                             block + " starts at " + to_string(e.block_offset) + ", expected " +
                                 to_string(next_block)};
        next_block += e.block_length;
        if (next_block > h.index_offset)
            return violation{
                db.stream_start + entry + at::block_length,
                block + " of " + to_string(e.block_length) + " bytes runs past the block index"};
        db.index.push_back(e);
    }
    uint64_t next_key = next_block;
    for (uint32_t i = 0; i < h.block_count; ++i) {
        const uint64_t entry = uint64_t{h.index_offset} + block_index_entry_size * i;
        const std::string key = "key of block " + to_string(i);
        if (db.index[i].key_offset != next_key)
            return violation{db.stream_start + entry + at::key_offset,
                             key + " starts at " + to_string(db.index[i].key_offset) +
                                 ", expected " + to_string(next_key)};
        for (auto* words : {&db.first_words, &db.last_words}) {
            const auto word = zero_terminated(db.stream, next_key, h.index_offset);
            if (!word)
                return violation{db.stream_start + next_key, key + " runs into the block index"};
            words->push_back(*word);
            next_key += word->size() + 1;
        }
    }
    if (next_key != h.index_offset)
        return violation{db.stream_start + at::index_offset,
                         "index_offset is " + to_string(h.index_offset) +
                             ", but the key table ends at " + to_string(next_key)};
    return std::nullopt;
}

}  // namespace

std::string describe(const violation& v) { return "offset " + to_string(v.offset) + ": " + v.rule; }

outcome open_database(std::string_view file, database& db) {
    db = database{};
    db.file = file;
    if (auto v = check_database_header(file, db)) return v;
    if (auto v = check_record_list(file, db)) return v;
    if (auto v = check_stream_header(db)) return v;
    return check_block_index(db);
}

std::optional<std::string> inflate_bounded(std::string_view compressed, std::size_t bound,
                                           std::string& out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return "zlib cannot start";
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    z.avail_in = static_cast<uInt>(compressed.size());
    // The output grows as needed, up to one byte more than the bound, which
    // tells a stream that inflates to too much.
    constexpr std::size_t first_size = 1 << 16;
    int result = Z_OK;
    std::size_t length = 0;
    while (result == Z_OK) {
        if (length == out.size()) {
            if (out.size() > bound) break;
            out.resize(std::min(std::max(out.size() * 2, first_size), bound + 1));
        }
        z.next_out = reinterpret_cast<Bytef*>(&out[length]);
        z.avail_out = static_cast<uInt>(out.size() - length);
        result = inflate(&z, Z_NO_FLUSH);
        length = out.size() - z.avail_out;
    }
    out.resize(length);
    const std::string message = z.msg ? z.msg : "";
    const uInt left = z.avail_in;
    inflateEnd(&z);
    if (length > bound) return "it inflates to more than " + to_string(bound) + " bytes";
    if (result == Z_STREAM_END && left == 0) return std::nullopt;
    if (result == Z_STREAM_END) return to_string(left) + " bytes follow its zlib data";
    if (result == Z_BUF_ERROR) return "its zlib data end early";
    return message.empty() ? "zlib error " + to_string(result) : message;
}

outcome block_reader::read(const database& db, uint32_t i, block_entries& out) {
    const block_index_entry& e = db.index[i];
    const uint64_t where = db.stream_start + e.block_offset;
    const std::string block = "block " + to_string(i);
    const std::string_view data = db.stream.substr(e.block_offset, e.block_length);
    if (data.size() < sizeof block_zlib_header ||
        std::memcmp(data.data(), block_zlib_header, sizeof block_zlib_header) != 0)
        return violation{where, block + " does not begin with the level 9 zlib header 78 DA"};
    if (auto problem = inflate_bounded(data, block_buffer_size, buffer_))
        return violation{where, block + " does not inflate: " + *problem};

    // Every block holds words_per_block entries but the last, which holds the rest.
    const stream_header& h = db.header;
    const uint32_t entries = i + 1 < h.block_count
                                 ? h.words_per_block
                                 : h.entry_count - (h.block_count - 1u) * h.words_per_block;
    std::vector<std::string_view> strings;
    const std::string_view inflated = buffer_;
    for (std::size_t start = 0; start < inflated.size() && strings.size() <= 2u * entries;) {
        const std::size_t zero = inflated.find('\0', start);
        if (zero == std::string_view::npos)
            return violation{where, block + " ends in a string without a zero byte"};
        strings.push_back(inflated.substr(start, zero - start));
        start = zero + 1;
    }
    if (strings.size() != 2u * entries)
        return violation{
            where, block + " holds " +
                       (strings.size() > 2u * entries ? "more than " + to_string(2u * entries)
                                                      : to_string(strings.size())) +
                       " zero-terminated strings, expected " + to_string(2u * entries) + " (" +
                       to_string(entries) + " words and their translations)"};
    out.words.assign(strings.begin(), strings.begin() + entries);
    out.translations.assign(strings.begin() + entries, strings.end());

    const uint64_t key = db.stream_start + e.key_offset;
    if (out.words.front() != db.first_words[i])
        return violation{key, "key of " + block + " differs from its first word"};
    if (out.words.back() != db.last_words[i])
        return violation{key + db.first_words[i].size() + 1,
                         "key of " + block + " differs from its last word"};
    return std::nullopt;
}

outcome read_entries(const database& db, const entry_visitor& visit, entry_totals* totals) {
    block_reader reader;
    block_entries entries;
    uint32_t max_word = 0, max_translation = 0;
    uint64_t total_word = 0, total_translation = 0;
    entry_totals sums;
    for (uint32_t i = 0; i < db.index.size(); ++i) {
        if (auto v = reader.read(db, i, entries)) return v;
        sums.compressed_size += db.index[i].block_length;
        for (std::size_t j = 0; j < entries.words.size(); ++j) {
            // A size counts the zero byte after the string.
            const auto word_size = static_cast<uint32_t>(entries.words[j].size() + 1);
            const auto translation_size = static_cast<uint32_t>(entries.translations[j].size() + 1);
            max_word = std::max(max_word, word_size);
            max_translation = std::max(max_translation, translation_size);
            total_word += word_size;
            total_translation += translation_size;
            visit(entries.words[j], entries.translations[j]);
        }
    }
    sums.uncompressed_size = total_word + total_translation;

    // A dictionary without entries stores averages of 0.
    const stream_header& h = db.header;
    const uint64_t n = h.entry_count;
    const struct {
        std::size_t offset;
        const char* name;
        uint64_t stored, found;
    } statistics[] = {
        {at::max_word_size, "max_word_size", h.max_word_size, max_word},
        {at::max_translation_size, "max_translation_size", h.max_translation_size, max_translation},
        {at::avg_word_size, "avg_word_size", h.avg_word_size, n ? total_word / n : 0},
        {at::avg_translation_size, "avg_translation_size", h.avg_translation_size,
         n ? total_translation / n : 0},
    };
    for (const auto& s : statistics)
        if (s.stored != s.found)
            return violation{db.stream_start + s.offset,
                             std::string(s.name) + " is " + to_string(s.stored) +
                                 ", but the entries give " + to_string(s.found)};
    if (totals) *totals = sums;
    return std::nullopt;
}

std::optional<uint32_t> find_block(const database& db, std::string_view word) {
    std::size_t low = 0, high = db.index.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (word < db.first_words[middle])
            high = middle;
        else if (word > db.last_words[middle])
            low = middle + 1;
        else
            return static_cast<uint32_t>(middle);
    }
    return std::nullopt;
}

}  // namespace lexaro::dump
