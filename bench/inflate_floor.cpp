// The floor of a lexaro-dump run over a whole database (--check, --text):
// the zlib work that any reader of the same database has to do. It reads the
// whole database into memory, finds its blocks through the record count,
// the stream header and the block index, and times only the loop of inflate
// calls that turn every block back into its text (at most 1,000,000 bytes),
// with one zlib stream reset between blocks, the cheapest way zlib offers.
//
// It shares no code with lexaro-dump on purpose and trusts the database,
// which lexaro-dump --check has found sound before. Besides the wall and the
// CPU time of that loop (the CPU time holds on a busy machine, where the
// wall time also counts the waits for a processor) it prints the sizes it
// found, one line of name=value pairs.
//
// usage: inflate_floor DATABASE

#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr std::size_t buffer_size = 1000000;
constexpr std::size_t database_header_bytes = 78;
constexpr std::size_t record_count_at = 76;
constexpr std::size_t record_entry_bytes = 8;
constexpr std::size_t record_gap_bytes = 2;
constexpr std::size_t block_count_at = 2;    // in the stream header
constexpr std::size_t index_offset_at = 10;  // in the stream header
constexpr std::size_t index_entry_bytes = 12;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "inflate_floor: %s\n", message.c_str());
    std::exit(2);
}

double cpu_seconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

std::vector<unsigned char> read_file(const char* name) {
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) fail(std::string("can't open ") + name);
    std::vector<unsigned char> data;
    unsigned char chunk[1 << 16];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        data.insert(data.end(), chunk, chunk + count);
    if (std::ferror(file)) fail(std::string("can't read ") + name);
    std::fclose(file);
    return data;
}

uint32_t big_endian(const std::vector<unsigned char>& data, std::size_t at, int bytes) {
    if (at + bytes > data.size()) fail("the database ends early");
    uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | data[at + i];
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: inflate_floor DATABASE\n");
        return 2;
    }
    const std::vector<unsigned char> data = read_file(argv[1]);
    const std::size_t stream = database_header_bytes +
                               record_entry_bytes * big_endian(data, record_count_at, 2) +
                               record_gap_bytes;
    const uint32_t blocks = big_endian(data, stream + block_count_at, 2);
    const std::size_t index = stream + big_endian(data, stream + index_offset_at, 4);
    std::vector<unsigned char> out(buffer_size);

    z_stream z{};
    if (inflateInit(&z) != Z_OK) fail("zlib cannot start");
    uint64_t compressed_bytes = 0, inflated_bytes = 0;
    const double cpu_start = cpu_seconds();
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t i = 0; i < blocks; ++i) {
        const std::size_t entry = index + index_entry_bytes * i;
        const std::size_t offset = stream + big_endian(data, entry + 4, 4);
        const uint32_t length = big_endian(data, entry + 8, 4);
        if (offset + length > data.size()) fail("a block runs past the end of the file");
        inflateReset(&z);
        z.next_in = const_cast<Bytef*>(data.data() + offset);
        z.avail_in = length;
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        if (inflate(&z, Z_FINISH) != Z_STREAM_END)
            fail("block " + std::to_string(i) + " does not inflate");
        compressed_bytes += length;
        inflated_bytes += out.size() - z.avail_out;
    }
    const auto stop = std::chrono::steady_clock::now();
    const double cpu = cpu_seconds() - cpu_start;
    inflateEnd(&z);
    std::printf(
        "blocks=%u compressed_bytes=%llu inflated_bytes=%llu zlib=%s inflate_seconds=%.6f "
        "inflate_cpu_seconds=%.6f\n",
        blocks, static_cast<unsigned long long>(compressed_bytes),
        static_cast<unsigned long long>(inflated_bytes), zlibVersion(),
        std::chrono::duration<double>(stop - start).count(), cpu);
    return 0;
}
