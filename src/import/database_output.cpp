#include "import/database_output.h"

#include <algorithm>
#include <ostream>
#include <stdexcept>

#include "common/layout.h"
#include "common/output_file.h"
#include "common/platform.h"
#include "common/random_access_file.h"
#include "compiler/block_builder.h"
#include "driver/console.h"
#include "driver/settings.h"
#include "dump/dump_commands.h"
#include "packager/packager.h"

namespace lexaro::import {

namespace {

// A fatal error of the passes, carried out of them.
class pass_failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Takes what the passes report while they run in this process: the
// counter moves the progress bar, a fatal error throws, and the database
// is checked before it is put in place.
class import_observer : public pass_observer {
public:
    import_observer(progress& shown, uint64_t entries, database_summary& summary, unsigned jobs)
        : shown_(shown), entries_(entries), summary_(summary), jobs_(jobs) {}

    void entry_read(uint32_t count) override { shown_.compiling(count, entries_); }

    [[noreturn]] void failed(const std::string& message) override { throw pass_failure(message); }

    std::optional<std::string> check_database(const std::string& hidden_name) override {
        shown_.checking(summary_.file);
        random_access_file file;
        if (auto problem = dump::open_database_file(hidden_name, file)) return problem;
        dump::database db;
        dump::order_report order;
        dump::entry_totals totals;
        if (auto v = dump::check_database(file, db, order, totals, jobs_)) {
            if (v->unreadable) return "can't read file " + hidden_name;
            return summary_.file + " is not sound: " + dump::describe(*v);
        }
        summary_.file_size = db.file_size;
        summary_.entries = db.header.entry_count;
        summary_.blocks = db.header.block_count;
        summary_.unsorted = order.unsorted;
        summary_.repeated = order.repeated;
        summary_.first_repeated = order.first_repeated;
        return std::nullopt;
    }

private:
    progress& shown_;
    uint64_t entries_;
    database_summary& summary_;
    unsigned jobs_;
};

// The observer set for as long as the passes run.
class observing {
public:
    explicit observing(pass_observer& observer) { observe_passes(&observer); }
    ~observing() { observe_passes(nullptr); }
    observing(const observing&) = delete;
    observing& operator=(const observing&) = delete;
};

std::string overflow_text(const block_overflow& overflow, uint64_t entries, int32_t per_block) {
    if (overflow.bytes == 0)
        return std::to_string(entries) + " entries need more than " +
               std::to_string(max_block_count) + " blocks";
    const uint64_t last = std::min<uint64_t>(overflow.first_entry + per_block, entries);
    return "entries " + std::to_string(overflow.first_entry + 1) + " to " + std::to_string(last) +
           " take " + std::to_string(overflow.bytes) + " bytes, more than a block's " +
           std::to_string(block_buffer_size);
}

// The given block size when every block fits with it; else lexaro's
// default when it fits, else the largest that fits.
void choose_words_per_block(const std::vector<uint32_t>& sizes, std::optional<int> given,
                            const block_advice& advice, database_summary& summary) {
    const std::string cannot = "can't compile " + summary.file;
    if (given) {
        if (auto overflow = first_overflow(sizes, *given)) {
            std::string message = cannot + " with --words-per-block " + std::to_string(*given) +
                                  ": " + overflow_text(*overflow, sizes.size(), *given);
            if (advice.largest > 0)
                message += "; the largest that fits is " + std::to_string(advice.largest);
            throw output_error(message);
        }
        summary.words_per_block = *given;
        summary.chosen = database_summary::choice::given;
    } else if (advice.largest == 0) {
        const auto overflow = first_overflow(sizes, min_words_per_block);
        throw output_error(
            cannot + ": no words_per_block from " + std::to_string(min_words_per_block) + " to " +
            std::to_string(max_words_per_block) + " fits: with " +
            std::to_string(min_words_per_block) + ", " +
            overflow_text(overflow.value_or(block_overflow{}), sizes.size(), min_words_per_block));
    } else if (advice.default_fits) {
        summary.words_per_block = default_words_per_block;
        summary.chosen = database_summary::choice::default_fits;
    } else {
        summary.words_per_block = advice.largest;
        summary.chosen = database_summary::choice::largest_fits;
    }
}

}  // namespace

bool is_database_name(std::string_view output) {
    constexpr std::string_view extension = ".pdb";
    return output.size() >= extension.size() &&
           output.substr(output.size() - extension.size()) == extension;
}

std::string stream_file_of(const std::string& database) {
    const path_parts parts = split_path(database);
    return parts.drive + parts.directory + parts.base_name + ".tmp";
}

database_summary write_database(source_writer& writer, std::optional<int> words_per_block,
                                const block_advice& advice, progress& shown, unsigned jobs) {
    database_summary summary;
    summary.file = writer.target();
    choose_words_per_block(writer.entry_sizes(), words_per_block, advice, summary);

    // lexaro's settings, as `lexaro OUTPUT.txt N` makes them, but for the
    // hidden source.
    const std::string& hidden_source = writer.close_hidden();
    set_file_names(summary.file);
    source_name = hidden_source;
    lexaro::words_per_block = summary.words_per_block;

    import_observer observer(shown, writer.entry_sizes().size(), summary, jobs);
    // Whatever ends the passes early, nothing of this run stays: a
    // temporary file that another run holds is that run's. A signal
    // removes the one this run holds as it removes the hidden files.
    remove_work_file_on_signal();
    auto remove_own_files = [&] {
        writer.discard();
        if (holds_work_file()) remove_file(temp_name);
        release_work_file();
    };
    try {
        observing during(observer);
        compile_dictionary(stream_limits{}, jobs);
        writer.discard();
        package_database();
    } catch (const pass_failure& e) {
        remove_own_files();
        throw output_error(e.what());
    } catch (...) {
        remove_own_files();
        throw;
    }
    release_work_file();
    return summary;
}

void print_database_summary(std::ostream& err, const database_summary& d) {
    err << "  compiled:        words_per_block " << d.words_per_block;
    switch (d.chosen) {
        case database_summary::choice::given:
            err << ", as --words-per-block gives\n";
            break;
        case database_summary::choice::default_fits:
            err << ", lexaro's default, with which every block fits\n";
            break;
        case database_summary::choice::largest_fits:
            err << ", the largest with which every block fits\n";
            break;
    }
    err << "  database:        " << d.file << ", " << d.file_size << " bytes, " << d.entries
        << " entries in " << d.blocks << " blocks\n";
    err << "  check:           sound, as lexaro-dump --check finds it; ";
    if (d.unsorted == 0)
        err << "ascending byte order";
    else
        err << d.unsorted << " entries below the word before them";
    if (d.repeated == 0)
        err << ", no repeated words\n";
    else
        err << ", " << d.repeated << " words repeated, the first " << d.first_repeated << '\n';
}

}  // namespace lexaro::import
