#include "packager/packager.h"

#include <cstdio>
#include <memory>

#include "common/handheld_time.h"
#include "common/layout.h"
#include "common/output_file.h"
#include "common/platform.h"
#include "driver/console.h"
#include "driver/settings.h"
#include "packager/database_format.h"

namespace lexaro {

namespace {

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using file_handle = std::unique_ptr<std::FILE, file_closer>;

// Ends the run over an incomplete database: the hidden file goes, the
// database that was there before stays as it was, and so does the
// temporary file with the stream.
[[noreturn]] void abandon_database(output_file& database, const std::string& message) {
    database.discard();
    fatal_error(message);
}

}  // namespace

void package_database_into(output_file& database) {
    file_handle stream(open_for_reading_no_follow(temp_name));
    if (!stream) fatal_error("can't open file " + temp_name);
    const std::string read_failed = "can't read file " + temp_name;
    if (std::fseek(stream.get(), 0, SEEK_END) != 0) fatal_error(read_failed);
    const auto stream_size = ftello(stream.get());
    if (stream_size < 0 || std::fseek(stream.get(), 0, SEEK_SET) != 0) fatal_error(read_failed);
    if (static_cast<uint64_t>(stream_size) >= max_stream_size)
        fatal_error("dictionary too large for one database");

    // The database is written under a hidden name beside database_file_name
    // and replaces it only once complete.
    if (!database.open(database_file_name)) fatal_error("can't create file " + database_file_name);
    const std::string write_failed = "can't write file " + database_file_name;
    auto write = [&](const void* data, std::size_t size) {
        if (!database.write(data, size)) abandon_database(database, write_failed);
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
        abandon_database(database, read_failed);
    stream.reset();

    // An observer may check the database before it replaces anything.
    if (std::fflush(database.stream()) != 0) abandon_database(database, write_failed);
    if (auto problem = check_written_database(database.hidden_name()))
        abandon_database(database, *problem);
}

void package_database() {
    output_file database;
    package_database_into(database);
    // Only a database on the disk whole replaces the one before it and the
    // temporary file.
    if (!database.commit()) fatal_error("can't write file " + database_file_name);
    remove_file(temp_name);
}

}  // namespace lexaro
