// libFuzzer target: hostile size fields in compressed dictionary files. The
// input's first 13 bytes are a request (what to read, an offset and a length,
// a count); the rest is a file, taken as a dictionary's data file (plain,
// gzip or dictzip, told apart by content) or as a StarDict index compressed
// with gzip under an .ifo that gives the count's top byte as its wordcount
// and its other three bytes as its idxfilesize. Memory and time must follow the bytes there, not the sizes
// that the file or the request claim: any crash, sanitizer report, leak,
// hang or growth past the fuzzer's memory limit is a bug.
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "common/compressed_input.h"
#include "import/raw_entry.h"
#include "import/formats/stardict_reader.h"

namespace {

using namespace lexaro;

class counting_sink : public import::entry_sink {
public:
    void add(const import::raw_entry& entry) override { bytes_ += entry.definition.size(); }

private:
    uint64_t bytes_ = 0;
};

uint32_t get_u32(const uint8_t* in) {
    return uint32_t{in[0]} << 24 | uint32_t{in[1]} << 16 | uint32_t{in[2]} << 8 | in[3];
}

void write(const std::string& path, const void* data, std::size_t size) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr std::size_t request_size = 13;
    if (size < request_size) return 0;
    static const std::string base = "/tmp/lexaro-compressed-fuzz-" + std::to_string(getpid());
    const uint8_t what = data[0];
    const uint64_t offset = get_u32(data + 1);
    const uint64_t length = uint64_t{get_u32(data + 5)} << (what & 0x0F);
    const uint32_t count = get_u32(data + 9);
    const uint8_t* file = data + request_size;
    const std::size_t file_size = size - request_size;
    try {
        if (what & 0x80) {
            // A StarDict dictionary whose X.idx.gz is the file.
            write(base + ".idx.gz", file, file_size);
            write(base + ".dict", "article", 7);
            const std::string ifo = "StarDict's dict ifo file\nversion=2.4.2\nbookname=f\nwordcount=" +
                                    std::to_string(count >> 24) + "\nidxfilesize=" +
                                    std::to_string(count & 0xFFFFFF) + "\nsametypesequence=m\n";
            write(base + ".ifo", ifo.data(), ifo.size());
            counting_sink sink;
            import::read_stardict(base + ".ifo", sink);
        } else {
            write(base + ".dict.dz", file, file_size);
            const auto data_file = open_data_file(base + ".dict.dz");
            data_file->size();
            // As the readers do: ranges larger than an entry can be are
            // checked, the others read.
            if (length > import::max_raw_size)
                data_file->check_range(offset, length);
            else
                data_file->read(offset, length);
            data_file->read(offset / 2, std::min<uint64_t>(length, 4096));
        }
    } catch (const input_error&) {
    } catch (const import::import_error&) {
    }
    return 0;
}
