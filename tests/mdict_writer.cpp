#include "mdict_writer.h"

#include <lzo/lzo1x.h>
#include <sodium.h>
#include <xxhash.h>
#include <zlib.h>

#include <stdexcept>

#include "import/formats/ripemd128.h"

namespace lexaro::test {

namespace {

std::string number(uint64_t value, std::size_t size) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) out[size - 1 - i] = static_cast<char>(value >> (8 * i));
    return out;
}

std::string le32(uint32_t value) {
    return {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
            static_cast<char>(value >> 24)};
}

uint32_t adler(std::string_view bytes) {
    return static_cast<uint32_t>(adler32(adler32(0, nullptr, 0),
                                         reinterpret_cast<const Bytef*>(bytes.data()),
                                         static_cast<uInt>(bytes.size())));
}

std::string zlib_bytes(std::string_view data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                  reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()),
                  9) != Z_OK)
        throw std::runtime_error("compress2 failed");
    out.resize(size);
    return out;
}

// The data compressed as a block stores them; type: the compression's number.
std::string compressed(std::string_view data, mdict_compression compression, uint32_t& type) {
    std::string stored;
    type = 0;
    switch (compression) {
        case mdict_compression::stored:
            stored = data;
            break;
        case mdict_compression::lzo:
        case mdict_compression::lzo_best:
            type = 1;
            stored = lzo1x_compressed(data, compression == mdict_compression::lzo_best);
            break;
        case mdict_compression::zlib:
            type = 2;
            stored = zlib_bytes(data);
            break;
    }
    return stored;
}

// A block: type word, Adler-32 of the data, the data as stored.
std::string block(std::string_view data, mdict_compression compression) {
    uint32_t type = 0;
    const std::string stored = compressed(data, compression, type);
    return le32(type) + number(adler(data), 4) + stored;
}

// The inverse of the reader's unscrambling of the key-block index.
std::string scrambled(const std::string& index_block) {
    const std::string key_input = index_block.substr(4, 4) + std::string("\x95\x36\x00\x00", 4);
    const auto key = import::ripemd128(key_input);
    std::string out = index_block.substr(0, 8);
    uint8_t previous = 0x36;
    for (std::size_t i = 8; i < index_block.size(); ++i) {
        const std::size_t k = i - 8;
        const auto t = static_cast<uint8_t>(static_cast<uint8_t>(index_block[i]) ^ previous ^
                                            static_cast<uint8_t>(k) ^ key[k % 16]);
        const auto c = static_cast<uint8_t>(t << 4 | t >> 4);
        out += static_cast<char>(c);
        previous = c;
    }
    return out;
}

// --- Engine 3.0 ---

// XORs the head with libsodium's Salsa20/8 keystream of the 16-byte key
// (the key twice, "expand 16-byte k"), nonce 0, counter from 0.
void salsa20_8(const mdict3_key& key, std::string& data, std::size_t size) {
    if (sodium_init() < 0) throw std::runtime_error("sodium_init failed");
    static const unsigned char sigma16[16] = {'e', 'x', 'p', 'a', 'n', 'd', ' ', '1',
                                              '6', '-', 'b', 'y', 't', 'e', ' ', 'k'};
    unsigned char k32[32], in[16] = {}, out[64];
    for (int i = 0; i < 16; ++i) k32[i] = k32[16 + i] = key[i];
    for (std::size_t at = 0; at < size; at += 64) {
        const uint64_t counter = at / 64;
        for (int i = 0; i < 8; ++i) in[8 + i] = static_cast<unsigned char>(counter >> (8 * i));
        crypto_core_salsa208(out, in, k32, sigma16);
        for (std::size_t i = at; i < size && i < at + 64; ++i)
            data[i] = static_cast<char>(data[i] ^ out[i - at]);
    }
}

// The inverse of the reader's simple decipher.
void simple_encipher(const mdict3_key& key, std::string& data, std::size_t size) {
    uint8_t previous = 0x36;
    for (std::size_t i = 0; i < size; ++i) {
        const auto t = static_cast<uint8_t>(static_cast<uint8_t>(data[i]) ^ previous ^
                                            static_cast<uint8_t>(i) ^ key[i % 16]);
        const auto c = static_cast<uint8_t>(t << 4 | t >> 4);
        data[i] = static_cast<char>(c);
        previous = c;
    }
}

// A 3.0 block: methods, count of enciphered bytes, two zeros, the Adler-32
// (of the data as stored when enciphered, else of the data), the data.
std::string block3(std::string_view data, const mdict3_block_kind& kind, const mdict3_options& o) {
    uint32_t compression = 0;
    std::string payload = compressed(data, kind.compression, compression);
    const bool enciphered = kind.cipher != mdict3_cipher::none;
    const std::string checksum = number(adler(enciphered ? std::string_view(payload) : data), 4);
    const std::size_t count = enciphered ? std::min(kind.enciphered, payload.size()) : 0;
    if (enciphered) {
        mdict3_key key{};
        if (o.registered_key) {
            key = *o.registered_key;
        } else if (!o.uuid.empty()) {
            key = mdict3_key_of(o.uuid);
        } else {
            const auto digest = import::ripemd128(checksum);
            std::copy(digest.begin(), digest.end(), key.begin());
        }
        if (kind.cipher == mdict3_cipher::salsa)
            salsa20_8(key, payload, count);
        else
            simple_encipher(key, payload, count);
    }
    std::string prefix(4, '\0');
    prefix[0] = static_cast<char>(compression | static_cast<uint32_t>(kind.cipher) << 4);
    prefix[1] = static_cast<char>(count);
    return prefix + checksum + payload;
}

// A framed block: its inflated size, its stored size, the block.
std::string framed(const std::string& stored, uint64_t inflated) {
    return number(inflated, 4) + number(stored.size(), 4) + stored;
}
}  // namespace

std::string lzo1x_compressed(std::string_view data, bool best) {
    static const bool ready = lzo_init() == LZO_E_OK;
    if (!ready) throw std::runtime_error("lzo_init failed");
    std::vector<unsigned char> work(LZO1X_999_MEM_COMPRESS);
    std::string out(data.size() + data.size() / 16 + 64 + 3, '\0');
    lzo_uint size = out.size();
    const auto* in = reinterpret_cast<const unsigned char*>(data.data());
    auto* to = reinterpret_cast<unsigned char*>(out.data());
    const int status = best ? lzo1x_999_compress(in, data.size(), to, &size, work.data())
                            : lzo1x_1_compress(in, data.size(), to, &size, work.data());
    if (status != LZO_E_OK) throw std::runtime_error("lzo1x compression failed");
    out.resize(size);
    return out;
}

std::string utf16le(std::string_view utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t size = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        uint32_t c = size == 1 ? lead : lead & (0x7F >> size);
        for (std::size_t k = 1; k < size; ++k) c = c << 6 | (utf8[i + k] & 0x3F);
        i += size;
        const auto unit = [&](uint32_t u) {
            out += static_cast<char>(u & 0xFF);
            out += static_cast<char>(u >> 8);
        };
        if (c >= 0x10000) {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            unit(c);
        }
    }
    return out;
}

mdict_file write_mdict(const std::vector<std::pair<std::string, std::string>>& entries,
                       const mdict_options& o) {
    const bool v2 = o.version.rfind("1.", 0) != 0;
    const std::size_t n = v2 ? 8 : 4;
    const bool utf16 = o.encoding == "UTF-16";
    const std::size_t unit = utf16 ? 2 : 1;
    const std::string terminator(unit, '\0');
    const mdict_lies& lies = o.lies;

    // The records, each once where neighbours share it.
    std::string records;
    std::vector<uint64_t> offsets;
    std::vector<std::size_t> record_ends;  // where each distinct record ends
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (o.share_records && i > 0 && entries[i].second == entries[i - 1].second) {
            offsets.push_back(offsets.back());
            continue;
        }
        offsets.push_back(records.size());
        records += entries[i].second + terminator;
        record_ends.push_back(records.size());
    }
    for (const auto& [entry, offset] : lies.record_offsets) offsets.at(entry) = offset;

    // Key blocks, and the index that describes them.
    std::string index, key_blocks;
    std::vector<std::size_t> key_block_at;
    uint64_t key_block_count = 0;
    for (std::size_t first = 0; first < entries.size(); first += o.keys_per_block) {
        const std::size_t last = std::min(entries.size(), first + o.keys_per_block) - 1;
        std::string data;
        for (std::size_t i = first; i <= last; ++i)
            data += number(offsets[i], n) + entries[i].first + terminator;
        if (key_block_count == 0 && lies.edit_first_key_block) lies.edit_first_key_block(data);
        const std::string stored = block(data, o.compression);
        key_block_at.push_back(key_blocks.size());
        key_blocks += stored;
        const auto row_key = [&](const std::string& key) {
            const std::size_t units = key.size() / unit;
            return v2 ? number(units, 2) + key + terminator : number(units, 1) + key;
        };
        const int64_t entries_lie = key_block_count == 0 ? lies.first_row_entries : 0;
        const int64_t inflated_lie = key_block_count == 0 ? lies.first_row_inflated : 0;
        index +=
            number(static_cast<uint64_t>(static_cast<int64_t>(last - first + 1) + entries_lie), n) +
            row_key(entries[first].first) + row_key(entries[last].first) +
            number(stored.size(), n) +
            number(static_cast<uint64_t>(static_cast<int64_t>(data.size()) + inflated_lie), n);
        ++key_block_count;
    }
    if (lies.edit_index) lies.edit_index(index);
    std::string index_stored = index;
    if (v2) {
        index_stored = block(index, mdict_compression::zlib);
        if (o.encrypted == "2") index_stored = scrambled(index_stored);
    }

    // Record blocks: whole records, or pieces of a fixed size.
    std::vector<std::pair<std::size_t, std::size_t>> pieces;  // start, size
    if (o.record_block_bytes > 0) {
        for (std::size_t at = 0; at < records.size(); at += o.record_block_bytes)
            pieces.emplace_back(at, std::min(o.record_block_bytes, records.size() - at));
    } else {
        std::size_t start = 0;
        for (std::size_t r = 0; r < record_ends.size(); r += o.records_per_block) {
            const std::size_t end =
                record_ends[std::min(record_ends.size(), r + o.records_per_block) - 1];
            pieces.emplace_back(start, end - start);
            start = end;
        }
    }
    std::string table, record_blocks;
    std::vector<std::size_t> record_block_at;
    for (std::size_t b = 0; b < pieces.size(); ++b) {
        const std::string data = records.substr(pieces[b].first, pieces[b].second);
        std::string stored = block(data, o.compression);
        if (b == 0 && lies.first_record_type) stored.replace(0, 4, le32(*lies.first_record_type));
        if (b == 0 && lies.first_record_data)
            stored = stored.substr(0, 8) + *lies.first_record_data;
        record_block_at.push_back(record_blocks.size());
        record_blocks += stored;
        const int64_t lie = b == 0 ? lies.first_record_inflated : 0;
        const int64_t stored_lie = b == 0 ? lies.first_record_stored : 0;
        table +=
            number(static_cast<uint64_t>(static_cast<int64_t>(stored.size()) + stored_lie), n) +
            number(static_cast<uint64_t>(static_cast<int64_t>(data.size()) + lie), n);
    }

    // The header.
    const std::string xml = "<" + o.element + " GeneratedByEngineVersion=\"" + o.version +
                            "\" RequiredEngineVersion=\"" + o.version + "\" Encrypted=\"" +
                            o.encrypted + "\" Encoding=\"" + o.encoding + "\" Format=\"" +
                            o.format + "\" Title=\"" + o.title + "\"" + o.more_attributes +
                            "/>\r\n";
    const std::string header = utf16le(xml) + std::string(2, '\0');

    mdict_file file;
    file.bytes = number(header.size(), 4) + header + le32(adler(header));

    file.keyword_section = file.bytes.size();
    std::string keyword = number(lies.key_blocks.value_or(key_block_count), n) +
                          number(lies.entries.value_or(entries.size()), n);
    if (v2) keyword += number(index.size(), n);
    keyword += number(lies.index_stored.value_or(index_stored.size()), n) +
               number(lies.key_blocks_stored.value_or(key_blocks.size()), n);
    if (v2) keyword += number(adler(keyword), 4);
    file.bytes += keyword;
    file.key_index = file.bytes.size();
    file.bytes += index_stored;
    for (const std::size_t at : key_block_at) file.key_blocks.push_back(file.bytes.size() + at);
    file.bytes += key_blocks;

    file.record_section = file.bytes.size();
    file.bytes += number(pieces.size(), n) +
                  number(lies.record_entries.value_or(entries.size()), n) +
                  number(lies.record_table_size.value_or(table.size()), n) +
                  number(lies.record_blocks_stored.value_or(record_blocks.size()), n) + table;
    for (const std::size_t at : record_block_at)
        file.record_blocks.push_back(file.bytes.size() + at);
    file.bytes += record_blocks;
    return file;
}

mdict3_key mdict3_key_of(const std::string& uuid) {
    const std::size_t half = (uuid.size() + 1) / 2;
    mdict3_key key{};
    XXH64_canonical_t canonical;
    XXH64_canonicalFromHash(&canonical, XXH64(uuid.data(), half, 0));
    std::copy(canonical.digest, canonical.digest + 8, key.begin());
    XXH64_canonicalFromHash(&canonical, XXH64(uuid.data() + half, uuid.size() - half, 0));
    std::copy(canonical.digest, canonical.digest + 8, key.begin() + 8);
    return key;
}

mdict3_file write_mdict3(const std::vector<std::pair<std::string, std::string>>& entries,
                         const mdict3_options& o) {
    const mdict3_lies& lies = o.lies;
    // The records, each once where neighbours share it, in blocks of whole records.
    std::string records;
    std::vector<uint64_t> offsets;
    std::vector<std::size_t> record_ends;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0 && entries[i].second == entries[i - 1].second) {
            offsets.push_back(offsets.back());
            continue;
        }
        offsets.push_back(records.size());
        records += entries[i].second + '\0';
        record_ends.push_back(records.size());
    }
    for (const auto& [entry, offset] : lies.record_offsets) offsets.at(entry) = offset;

    struct unit_blocks {
        std::vector<std::string> blocks;  // each framed
        std::string info;                 // framed
    };
    std::array<unit_blocks, 5> units;
    std::string record_index;
    std::size_t start = 0;
    for (std::size_t r = 0; r < record_ends.size(); r += o.records_per_block) {
        const std::size_t end =
            record_ends[std::min(record_ends.size(), r + o.records_per_block) - 1];
        const std::string data = records.substr(start, end - start);
        std::string stored = block3(data, o.records, o);
        if (units[1].blocks.empty() && lies.first_record_methods)
            stored[0] = static_cast<char>(*lies.first_record_methods);
        if (units[1].blocks.empty() && lies.first_record_enciphered)
            stored[1] = static_cast<char>(*lies.first_record_enciphered);
        const int64_t lie = units[1].blocks.empty() ? lies.first_record_frame_inflated : 0;
        units[1].blocks.push_back(
            framed(stored, static_cast<uint64_t>(static_cast<int64_t>(data.size()) + lie)));
        record_index += number(8 + stored.size(), 8) + number(data.size(), 8);
        start = end;
    }
    if (lies.edit_record_index) lies.edit_record_index(record_index);
    units[2].blocks.push_back(framed(block3(record_index, o.record_index, o), record_index.size()));

    std::string key_index;
    for (std::size_t first = 0; first < entries.size(); first += o.keys_per_block) {
        const std::size_t last = std::min(entries.size(), first + o.keys_per_block) - 1;
        std::string data;
        for (std::size_t i = first; i <= last; ++i)
            data += number(offsets[i], 8) + entries[i].first + '\0';
        if (units[3].blocks.empty() && lies.edit_first_key_block) lies.edit_first_key_block(data);
        const std::string stored = block3(data, o.keys, o);
        units[3].blocks.push_back(framed(stored, data.size()));
        key_index += number(last - first + 1, 4) + number(entries[first].first.size(), 2) +
                     entries[first].first + '\0' + number(entries[last].first.size(), 2) +
                     entries[last].first + '\0' + number(8 + stored.size(), 4) +
                     number(data.size(), 4);
    }
    if (lies.edit_key_index) lies.edit_key_index(key_index);
    units[4].blocks.push_back(framed(block3(key_index, o.key_index, o), key_index.size()));

    const std::string encoding = o.mdx_util ? "utf-8" : "UTF-8";
    const std::string locale = "en-u-ks-level1-ka-shifted";
    const std::string end = o.mdx_util ? "" : "\r\n";
    const std::string count = std::to_string(entries.size());
    std::string xml[5] = {
        "", "<RecordData encoding=\"" + encoding + "\" recordCount=\"" + count + "\"/>" + end,
        "<RecordIndex encoding=\"" + encoding + "\" recordCount=\"" +
            (o.mdx_util ? std::to_string(units[1].blocks.size()) : count) + "\"/>" + end,
        "<KeyData encoding=\"" + encoding + "\" locale=\"" + locale + "\" keyCount=\"" + count +
            "\"/>" + end,
        "<KeyBlockIndex encoding=\"" + encoding + "\" locale=\"" + locale + "\" blockCount=\"" +
            std::to_string(units[3].blocks.size()) + "\"/>" + end};
    for (int type = 1; type <= 4; ++type) {
        if (lies.edit_info) lies.edit_info(type, xml[type]);
        units[type].info = framed(block3(xml[type], o.info, o), xml[type].size());
    }

    std::string header_text = "<ZDB GeneratedByEngineVersion=\"" + o.version +
                              "\" RequiredEngineVersion=\"" + o.version + "\" ContentType=\"" +
                              o.content_type + "\"";
    if (!o.uuid.empty()) header_text += " UUID=\"" + o.uuid + "\"";
    if (!o.title.empty()) header_text += " Title=\"" + o.title + "\"";
    header_text += " DefaultSortingLocale=\"" + locale + "\" RegisterBy=\"EMail\"";
    if (o.more_attributes.find("StyleSheet=") == std::string::npos)
        header_text += " StyleSheet=\"\"";
    header_text += o.more_attributes + "/>" + (o.mdx_util ? "" : "\r\n") + std::string(1, '\0');

    mdict3_file file;
    file.bytes = number(header_text.size(), 4) + header_text + le32(adler(header_text));
    bool first_unit = true;
    for (const int type : o.unit_order) {
        const unit_blocks& u = units[type];
        std::string data;
        std::vector<std::size_t> at;
        for (const std::string& b : u.blocks) {
            at.push_back(data.size() + 8);
            data += b;
        }
        const uint64_t length = 12 + data.size() + u.info.size();
        uint32_t type_word = static_cast<uint32_t>(type);
        if (first_unit && lies.first_unit_type) type_word = *lies.first_unit_type;
        first_unit = false;
        uint64_t count_given = u.blocks.size(), length_given = o.mdx_util ? 0 : length;
        if (type == 1 && lies.record_block_count) count_given = *lies.record_block_count;
        if (type == 1 && lies.record_unit_length) length_given = *lies.record_unit_length;
        file.units[static_cast<std::size_t>(type)] = file.bytes.size();
        file.bytes += le32(type_word) + number(length_given, 8) + number(count_given, 4) +
                      number(data.size(), 8);
        const std::size_t data_at = file.bytes.size();
        file.bytes += data;
        file.infos[static_cast<std::size_t>(type)] = file.bytes.size() + 8;
        file.bytes += u.info;
        for (const std::size_t a : at) {
            if (type == 1) file.record_blocks.push_back(data_at + a);
            if (type == 3) file.key_blocks.push_back(data_at + a);
            if (type == 2) file.record_index = data_at + a;
            if (type == 4) file.key_index = data_at + a;
        }
    }
    return file;
}

}  // namespace lexaro::test
