// Zip archives written by hand for the tests of the Yomitan reader: stored
// or deflated members, sizes in zip64 extra fields, and the lies of damaged
// and hostile archives (a wrong CRC-32 or size, an unknown method, a local
// header that differs from its directory entry, two entries of one data).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lexaro::test {

struct zip_member {
    std::string name;
    std::string data;
    bool deflated = true;
    bool zip64 = false;  // its sizes 0xFFFFFFFF in the headers, the real ones in zip64 fields
    uint16_t flags = 0;
    // What the headers say instead of the truth.
    std::optional<uint32_t> crc{};
    std::optional<uint64_t> size{};        // inflated
    std::optional<uint64_t> compressed{};  // as stored
    std::optional<uint16_t> method{};
    std::optional<uint32_t> local_crc{};  // the local header's alone
    // The directory entry points at that earlier member's local header and
    // data, which should be of the same length of name and the same data.
    std::optional<std::size_t> same_data_as{};
};

struct zip_written {
    std::string bytes;
    std::vector<std::size_t> local_headers;  // where each member's local header starts
    std::vector<std::size_t> data;           // where each member's data start
    std::size_t directory = 0;               // the central directory
    std::size_t end_record = 0;              // the end of central directory record
};

// The members in order, then the central directory and its end record.
zip_written write_zip(const std::vector<zip_member>& members);

// The data deflated raw, as a zip member holds them.
std::string raw_deflate(const std::string& data);

}  // namespace lexaro::test
