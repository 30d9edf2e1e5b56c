#include "zip_writer.h"

#include <zlib.h>

#include "format_test_support.h"

namespace lexaro::test {

namespace {

void put(std::string& out, uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) out += static_cast<char>(value >> (8 * i));
}

constexpr uint32_t local_signature = 0x04034b50, central_signature = 0x02014b50,
                   end_signature = 0x06054b50;
constexpr uint32_t zip64_marker = 0xFFFFFFFF;
constexpr uint16_t zip64_extra = 0x0001;

}  // namespace

std::string raw_deflate(const std::string& data) { return deflated(data, 9, -MAX_WBITS); }

zip_written write_zip(const std::vector<zip_member>& members) {
    zip_written zip;
    std::string directory;
    for (std::size_t i = 0; i < members.size(); ++i) {
        const zip_member& m = members[i];
        const std::string stored = m.deflated ? raw_deflate(m.data) : m.data;
        const auto crc = static_cast<uint32_t>(crc32(
            0, reinterpret_cast<const Bytef*>(m.data.data()), static_cast<uInt>(m.data.size())));
        const uint16_t method = m.method ? *m.method : m.deflated ? 8 : 0;
        const uint64_t size = m.size ? *m.size : m.data.size();
        const uint64_t compressed = m.compressed ? *m.compressed : stored.size();
        std::string extra;
        if (m.zip64) {
            put(extra, zip64_extra, 2);
            put(extra, 16, 2);
            put(extra, size, 8);
            put(extra, compressed, 8);
        }
        const auto header = [&](uint32_t header_crc) {
            std::string h;
            put(h, m.zip64 ? 45 : 20, 2);  // the version needed to extract
            put(h, m.flags, 2);
            put(h, method, 2);
            put(h, 0x5A21, 2);  // 11:09:02
            put(h, 0x5B8A, 2);  // 2025-12-10
            put(h, header_crc, 4);
            put(h, m.zip64 ? zip64_marker : compressed, 4);
            put(h, m.zip64 ? zip64_marker : size, 4);
            return h;
        };
        const uint32_t written_crc = m.crc ? *m.crc : crc;
        std::size_t local = zip.bytes.size();
        const std::string& name = m.name;
        if (m.same_data_as) {
            local = zip.local_headers.at(*m.same_data_as);
            zip.local_headers.push_back(local);
            zip.data.push_back(zip.data.at(*m.same_data_as));
        } else {
            zip.local_headers.push_back(local);
            put(zip.bytes, local_signature, 4);
            zip.bytes += header(m.local_crc ? *m.local_crc : written_crc);
            put(zip.bytes, name.size(), 2);
            put(zip.bytes, extra.size(), 2);
            zip.bytes += name + extra;
            zip.data.push_back(zip.bytes.size());
            zip.bytes += stored;
        }
        put(directory, central_signature, 4);
        put(directory, 0x031E, 2);  // made by: Unix, version 3.0
        directory += header(written_crc);
        put(directory, name.size(), 2);
        put(directory, extra.size(), 2);
        put(directory, 0, 2);  // comment
        put(directory, 0, 2);  // disk
        put(directory, 0, 2);  // internal attributes
        put(directory, 0100644u << 16, 4);
        put(directory, local, 4);
        directory += name + extra;
    }
    zip.directory = zip.bytes.size();
    zip.bytes += directory;
    zip.end_record = zip.bytes.size();
    put(zip.bytes, end_signature, 4);
    put(zip.bytes, 0, 2);
    put(zip.bytes, 0, 2);
    put(zip.bytes, members.size(), 2);
    put(zip.bytes, members.size(), 2);
    put(zip.bytes, directory.size(), 4);
    put(zip.bytes, zip.directory, 4);
    put(zip.bytes, 0, 2);
    return zip;
}

}  // namespace lexaro::test
