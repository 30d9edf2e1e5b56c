#include "packager/packager.h"

#include <sys/types.h>

#include <cstdio>
#include <memory>

#include "common/handheld_time.h"
#include "common/layout.h"
#include "driver/console.h"
#include "driver/settings.h"
#include "packager/database_format.h"

namespace lexaro {

namespace {

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

// Ends the run over an incomplete database: removes it, so that no broken
// database is left behind, and keeps the temporary file with the stream.
[[noreturn]] void abandon_database(file_handle database, const std::string& message) {
    database.reset();
    std::remove(database_file_name.c_str());
    fatal_error(message);
}

}  // namespace

void package_database() {
    file_handle stream(std::fopen(temp_name.c_str(), "rb"));
    if (!stream) fatal_error("can't open file " + temp_name);
    const std::string read_failed = "can't read file " + temp_name;
    if (std::fseek(stream.get(), 0, SEEK_END) != 0) fatal_error(read_failed);
    const off_t stream_size = ftello(stream.get());
    if (stream_size < 0 || std::fseek(stream.get(), 0, SEEK_SET) != 0) fatal_error(read_failed);
    if (static_cast<uint64_t>(stream_size) >= max_stream_size)
        fatal_error("dictionary too large for one database");

    file_handle database(std::fopen(database_file_name.c_str(), "wb"));
    if (!database) fatal_error("can't create file " + database_file_name);
    const std::string write_failed = "can't write file " + database_file_name;
    auto write = [&](const void* data, std::size_t size) {
        if (std::fwrite(data, 1, size, database.get()) != size)
            abandon_database(std::move(database), write_failed);
    };

    const uint32_t record_count = record_count_for(static_cast<uint64_t>(stream_size));
    uint8_t header[database_header_size];
    encode_database_header(database_name, handheld_time_now(), static_cast<uint16_t>(record_count),
                           header);
    write(header, sizeof header);
    for (uint32_t i = 0; i < record_count; ++i) {
        uint8_t record_entry[record_entry_size];
        encode_record_entry(record_offset(record_count, i), i, record_entry);
        write(record_entry, sizeof record_entry);
    }
    const uint8_t gap[record_list_gap_size] = {};
    write(gap, sizeof gap);

    // The stream goes across unchanged, one record-sized piece at a time.
    auto buffer = std::make_unique<uint8_t[]>(record_size);
    uint64_t copied = 0;
    std::size_t count;
    while ((count = std::fread(buffer.get(), 1, record_size, stream.get())) > 0) {
        write(buffer.get(), count);
        copied += count;
    }
    // The record list was built for the measured size: a stream that ends
    // early or fails to read would leave records pointing past the data.
    if (std::ferror(stream.get()) || copied != static_cast<uint64_t>(stream_size))
        abandon_database(std::move(database), read_failed);
    stream.reset();

    // Only a database written whole replaces the temporary file.
    if (std::fflush(database.get()) != 0) abandon_database(std::move(database), write_failed);
    if (std::fclose(database.release()) != 0) {
        std::remove(database_file_name.c_str());
        fatal_error(write_failed);
    }
    std::remove(temp_name.c_str());
}

}  // namespace lexaro
