// The floor of a lexaro run: the zlib work that any compiler of the same
// dictionary has to do. It reads the source as lexaro reads it (a title line,
// then one word$translation entry per line, split at the first '$'), builds
// the same uncompressed blocks in memory (all words of a block, each followed
// by a zero byte, then all its translations, each followed by a zero byte)
// and times only the compress2 calls at level 9 into a 1,000,000-byte buffer.
//
// zlib's work area (about 270 KB, allocated and freed by every compress2
// call) stays in the heap between calls: glibc would otherwise give it back
// to the system after each call and fault it in again at the next, a cost
// that belongs to the heap, not to compression. Without the explicit setting
// the outcome would depend on glibc's adaptive thresholds, which the large
// buffers below happen to raise.
//
// It shares no code with lexaro on purpose. Besides the summed compression
// time it prints the sizes that lexaro's output must then have, so that the
// bench can check that both compressed the same blocks.
//
// usage: floor SOURCE [words_per_block] [--dump FILE]
//   --dump FILE  writes the compressed blocks, back to back, into FILE
//                (outside the timed part)

#include <zlib.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::size_t buffer_size = 1000000;
constexpr int level = 9;
constexpr uint64_t stream_header_bytes = 286;
constexpr uint64_t index_entry_bytes = 12;
constexpr uint64_t database_header_bytes = 78;
constexpr uint64_t record_entry_bytes = 8;
constexpr uint64_t record_gap_bytes = 2;
constexpr uint64_t record_bytes = 32768;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "floor: %s\n", message.c_str());
    std::exit(2);
}

std::string read_file(const char* name) {
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) fail(std::string("can't open ") + name);
    std::string data;
    char chunk[1 << 16];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) data.append(chunk, count);
    if (std::ferror(file)) fail(std::string("can't read ") + name);
    std::fclose(file);
    return data;
}

struct entry {
    std::string_view word;
    std::string_view translation;
};

struct totals {
    uint64_t entries = 0;
    uint64_t blocks = 0;
    uint64_t block_bytes = 0;       // uncompressed
    uint64_t compressed_bytes = 0;  // the sum of all block lengths
    uint64_t key_bytes = 0;         // first and last word of each block, with zero bytes
    double compress_seconds = 0;
};

std::vector<unsigned char> block;
std::vector<unsigned char> compressed;

void compress_block(const std::vector<entry>& entries, totals& sum, std::FILE* dump) {
    std::size_t fill = 0;
    auto place = [&](std::string_view text) {
        if (fill + text.size() + 1 > buffer_size) fail("block larger than 1,000,000 bytes");
        std::memcpy(block.data() + fill, text.data(), text.size());
        block[fill + text.size()] = 0;
        fill += text.size() + 1;
    };
    for (const entry& e : entries) place(e.word);
    for (const entry& e : entries) place(e.translation);

    uLongf length = buffer_size;
    const auto start = std::chrono::steady_clock::now();
    const int result = compress2(compressed.data(), &length, block.data(), fill, level);
    const auto stop = std::chrono::steady_clock::now();
    if (result != Z_OK) fail("compress2 failed");

    sum.compress_seconds += std::chrono::duration<double>(stop - start).count();
    sum.blocks += 1;
    sum.block_bytes += fill;
    sum.compressed_bytes += length;
    sum.key_bytes += entries.front().word.size() + 1 + entries.back().word.size() + 1;
    if (dump != nullptr && std::fwrite(compressed.data(), 1, length, dump) != length)
        fail("can't write the dump file");
}

}  // namespace

int main(int argc, char** argv) {
#ifdef __GLIBC__
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
    const char* source = nullptr;
    const char* dump_name = nullptr;
    long words_per_block = 500;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dump") == 0 && i + 1 < argc)
            dump_name = argv[++i];
        else if (source == nullptr)
            source = argv[i];
        else
            words_per_block = std::strtol(argv[i], nullptr, 10);
    }
    if (source == nullptr || words_per_block < 100 || words_per_block > 10000) {
        std::fprintf(stderr, "usage: floor SOURCE [words_per_block] [--dump FILE]\n");
        return 2;
    }
    std::FILE* dump = nullptr;
    if (dump_name != nullptr && (dump = std::fopen(dump_name, "wb")) == nullptr)
        fail(std::string("can't create ") + dump_name);

    block.resize(buffer_size);
    compressed.resize(buffer_size);
    std::string data = read_file(source);
    // Text-mode reading: a byte 0x1A ends the input.
    data.resize(std::min(data.size(), data.find('\x1A')));
    const std::string_view text = data;

    // The title line is skipped; a source without a line feed has no entries.
    std::size_t position = text.find('\n');
    position = position == std::string_view::npos ? text.size() : position + 1;

    totals sum;
    std::vector<entry> pending;
    pending.reserve(static_cast<std::size_t>(words_per_block));
    for (;;) {
        // Only a line ended by a line feed is an entry.
        const std::size_t feed = text.find('\n', position);
        if (feed == std::string_view::npos) break;
        std::string_view line = text.substr(position, feed - position);
        position = feed + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::size_t separator = line.find('$');
        if (separator == std::string_view::npos)
            fail("line without '$': " + std::string(line));
        if (line.find('\0') != std::string_view::npos) fail("zero byte in a line");
        pending.push_back({line.substr(0, separator), line.substr(separator + 1)});
        sum.entries += 1;
        if (pending.size() == static_cast<std::size_t>(words_per_block)) {
            compress_block(pending, sum, dump);
            pending.clear();
        }
    }
    if (!pending.empty()) compress_block(pending, sum, dump);
    if (dump != nullptr && std::fclose(dump) != 0) fail("can't write the dump file");

    const uint64_t stream_bytes =
        stream_header_bytes + sum.compressed_bytes + sum.key_bytes + index_entry_bytes * sum.blocks;
    const uint64_t records = stream_bytes / record_bytes + 1;
    const uint64_t database_bytes =
        database_header_bytes + record_entry_bytes * records + record_gap_bytes + stream_bytes;
    std::printf(
        "entries=%llu blocks=%llu input_bytes=%llu block_bytes=%llu compressed_bytes=%llu "
        "stream_bytes=%llu records=%llu database_bytes=%llu zlib=%s compress_seconds=%.6f\n",
        static_cast<unsigned long long>(sum.entries), static_cast<unsigned long long>(sum.blocks),
        static_cast<unsigned long long>(data.size()),
        static_cast<unsigned long long>(sum.block_bytes),
        static_cast<unsigned long long>(sum.compressed_bytes),
        static_cast<unsigned long long>(stream_bytes), static_cast<unsigned long long>(records),
        static_cast<unsigned long long>(database_bytes), zlibVersion(), sum.compress_seconds);
    return 0;
}
