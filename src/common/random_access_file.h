// Input read at any offset, without a position of its own: a file on disk
// (pread), or bytes already in memory. Readers of untrusted files check
// every offset against size() before they read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/platform.h"

namespace lexaro {

class random_access_input {
public:
    virtual ~random_access_input() = default;
    virtual uint64_t size() const = 0;
    // Reads exactly length bytes at offset; false on an error or when the
    // input ends first.
    virtual bool read_at(uint64_t offset, void* buffer, std::size_t length) const = 0;
};

// A file opened for reading in binary mode. The only place that knows the
// platform's calls for it.
class random_access_file final : public random_access_input {
public:
    random_access_file() = default;
    ~random_access_file() override;
    random_access_file(const random_access_file&) = delete;
    random_access_file& operator=(const random_access_file&) = delete;

    // False when nothing at the name can be opened. A regular file is
    // opened for reading; anything else is only told apart and never opened
    // (a FIFO's open would wait for a writer, a device's may do more), and
    // then regular() is false.
    bool open(const std::string& path);
    // Whether it is a regular file: only one of those has a size and can be
    // read at any offset (a directory, a pipe or a device cannot).
    bool regular() const { return type_ == file_type::regular; }
    bool directory() const { return type_ == file_type::directory; }
    uint64_t size() const override { return size_; }
    bool read_at(uint64_t offset, void* buffer, std::size_t length) const override;

private:
    int fd_ = -1;
    file_type type_ = file_type::none;
    uint64_t size_ = 0;
};

// Bytes in memory, for tests and the fuzzer.
class memory_input final : public random_access_input {
public:
    explicit memory_input(std::string_view bytes) : bytes_(bytes) {}
    uint64_t size() const override { return bytes_.size(); }
    bool read_at(uint64_t offset, void* buffer, std::size_t length) const override;

private:
    std::string_view bytes_;
};

}  // namespace lexaro
