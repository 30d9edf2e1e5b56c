#include "import/database_output.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <ostream>
#include <stdexcept>

#include "common/charset.h"
#include "common/layout.h"
#include "common/output_file.h"
#include "common/platform.h"
#include "common/random_access_file.h"
#include "compiler/block_builder.h"
#include "driver/console.h"
#include "driver/settings.h"
#include "dump/dump_commands.h"
#include "import/clean_up.h"
#include "import/volumes.h"
#include "packager/packager.h"

namespace lexaro::import {

namespace {

// A fatal error of the passes, carried out of them.
class pass_failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Takes what the passes report while they run in this process: the
// counter moves the progress bar, a fatal error throws, and each database
// is checked before it is put in place, its facts going where checking()
// last pointed.
class import_observer : public pass_observer {
public:
    import_observer(progress& shown, uint64_t entries, unsigned jobs,
                    std::optional<uint64_t> max_size)
        : shown_(shown), entries_(entries), jobs_(jobs), max_size_(max_size) {}

    void checking(database_facts* facts) { facts_ = facts; }

    void entry_read(uint32_t count) override { shown_.compiling(count, entries_); }

    [[noreturn]] void failed(const std::string& message) override { throw pass_failure(message); }

    std::optional<std::string> check_database(const std::string& hidden_name) override {
        shown_.checking(facts_->file);
        random_access_file file;
        if (auto problem = dump::open_database_file(hidden_name, file)) return problem;
        dump::database db;
        dump::order_report order;
        dump::entry_totals totals;
        if (auto v = dump::check_database(file, db, order, totals, jobs_)) {
            if (v->unreadable) return "can't read file " + hidden_name;
            return facts_->file + " is not sound: " + dump::describe(*v);
        }
        // The volumes are cut to the size; this holds whatever the cut did.
        if (max_size_ && db.file_size > *max_size_)
            return facts_->file + " takes " + std::to_string(db.file_size) + " bytes, more than " +
                   std::to_string(*max_size_);
        facts_->file_size = db.file_size;
        facts_->entries = db.header.entry_count;
        facts_->blocks = db.header.block_count;
        facts_->unsorted = order.unsorted;
        facts_->repeated = order.repeated;
        facts_->first_repeated = order.first_repeated;
        return std::nullopt;
    }

private:
    progress& shown_;
    uint64_t entries_;
    unsigned jobs_;
    std::optional<uint64_t> max_size_;
    database_facts* facts_ = nullptr;
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

struct choice {
    int32_t words_per_block = default_words_per_block;
    block_choice chosen = block_choice::given;
};

// The given block size; else lexaro's default when every block fits with
// it, else the largest that fits. Nothing when none fits.
std::optional<choice> chosen_for(const block_advice& advice, std::optional<int> given) {
    if (given) return choice{*given, block_choice::given};
    if (advice.largest == 0) return std::nullopt;
    if (advice.default_fits) return choice{default_words_per_block, block_choice::default_fits};
    return choice{advice.largest, block_choice::largest_fits};
}

// The whole dictionary's choice, or output_error when it has none: the
// given size does not fit, or none does.
choice choose_words_per_block(const std::vector<uint32_t>& sizes, std::optional<int> given,
                              const block_advice& advice, const std::string& file) {
    const std::string cannot = "can't compile " + file;
    if (given) {
        if (auto overflow = first_overflow(sizes, *given)) {
            std::string message = cannot + " with --words-per-block " + std::to_string(*given) +
                                  ": " + overflow_text(*overflow, sizes.size(), *given);
            if (advice.largest > 0)
                message += "; the largest that fits is " + std::to_string(advice.largest);
            throw output_error(message);
        }
    } else if (advice.largest == 0) {
        const auto overflow = first_overflow(sizes, min_words_per_block);
        throw output_error(
            cannot + ": no words_per_block from " + std::to_string(min_words_per_block) + " to " +
            std::to_string(max_words_per_block) + " fits: with " +
            std::to_string(min_words_per_block) + ", " +
            overflow_text(overflow.value_or(block_overflow{}), sizes.size(), min_words_per_block));
    }
    return *chosen_for(advice, given);
}

// The handheld's character set, for what the output writes besides the
// entries (database names, the volumes' titles), and for showing its bytes
// in the summary as UTF-8. Without a set, the text is UTF-8 already.
class handheld_set {
public:
    explicit handheld_set(const std::string& charset) {
        if (charset.empty()) return;
        std::string problem;
        encoder_ = charset_encoder::open(charset, problem);
        decoder_ = charset_decoder::open(charset, problem);
    }

    charset_encoder* encoder() const { return encoder_.get(); }

    std::string encoded(std::string_view utf8) const {
        if (!encoder_) return std::string(utf8);
        std::string out;
        encoder_->encode(utf8, out);
        return out;
    }

    // The longest start of text within max_size bytes that ends between
    // two of the set's characters.
    std::size_t cut(std::string_view text, std::size_t max_size) const {
        if (text.size() <= max_size) return text.size();
        if (!decoder_) return cut_at_character(text, max_size).size();
        std::string decoded;
        return decoder_->decode(text.substr(0, max_size), decoded, true);
    }

    std::string shown(std::string_view text) const {
        if (!decoder_) return escape_invalid_utf8(text);
        std::string out;
        decoder_->decode(text, out, false);
        return out;
    }

private:
    std::unique_ptr<charset_encoder> encoder_;
    std::unique_ptr<charset_decoder> decoder_;
};

// The database name of a database or a volume, noted in the summary.
std::string handheld_database_name(const std::string& file, std::string_view suffix,
                                   const handheld_set& set, database_summary& summary,
                                   database_facts& facts) {
    const handheld_name name = database_name_for(split_path(file).base_name, suffix, set.encoder());
    summary.name_changed = summary.name_changed || name.changed;
    summary.name_cut = summary.name_cut || name.cut;
    facts.name = set.shown(name.bytes);
    return name.bytes;
}

std::string size_given(const database_options& o) {
    std::string text = "--max-size " + o.max_size_given;
    if (std::to_string(*o.max_size) != o.max_size_given)
        text += " (" + std::to_string(*o.max_size) + " bytes)";
    return text;
}

// The passes that cut the dictionary into volumes. Each pass compiles the
// source from an entry on with one words_per_block, and takes the volumes it
// cuts for as long as each, as a database of its own entries, would choose
// that words_per_block too: then its blocks are those the dictionary's single
// database would hold. A volume that would choose another ends the pass,
// and the next pass compiles its entries again with its own choice, cut
// again to the size: a range that only shrinks until its volume is taken.
// Then the passes go on after it.
//
// The words_per_block of a pass is guessed from the entries that will about
// fill a volume, so that a dictionary of mixed blocks is seldom compiled
// twice. A pass stops before a block too large for the block buffer: the
// volume that it was filling is compiled again from its start with the
// choice of all the entries left, with which every block fits.
class volume_plan final : public volume_cutter {
public:
    volume_plan(const std::vector<uint32_t>& sizes, const database_options& options,
                const std::string& target, const handheld_set& set, import_observer& observer,
                database_summary& summary)
        : sizes_(sizes),
          options_(options),
          target_(target),
          set_(set),
          dash_(set.encoded(" \xE2\x80\x93 ")),  // " – "
          observer_(observer),
          summary_(summary) {}

    // Compiles every volume, each left under its hidden name.
    void run() {
        pass next = guessed(0);
        for (;;) {
            pass_ = next;
            taken_in_pass_ = 0;
            refused_.reset();
            const uint64_t last = pass_.volume_end.value_or(sizes_.size());
            const uint64_t end = fitting_end(pass_.first, last, pass_.chosen.words_per_block);
            stopped_short_ = end < last;
            lexaro::words_per_block = pass_.chosen.words_per_block;
            compile_volumes(*this, {pass_.first, end}, stream_limits{}, options_.jobs);
            if (holds_work_file()) remove_file(temp_name);  // a volume refused, or none
            if (refused_)
                next = *refused_;
            else if (end < sizes_.size())
                next = guessed(end);  // after a volume compiled again
            else
                break;
        }
    }

    // Puts every volume in place, once all of them are on the disk.
    void commit() {
        const auto cannot_write = [this](std::size_t i) {
            return "can't write file " + summary_.databases[i].file + ": " +
                   std::strerror(errno != 0 ? errno : EIO);
        };
        for (std::size_t i = 0; i < hidden_.size(); ++i)
            if (!hidden_[i]->close_synced()) throw output_error(cannot_write(i));
        const signals_held all_or_none;
        for (std::size_t i = 0; i < hidden_.size(); ++i) {
            errno = 0;
            if (hidden_[i]->commit()) continue;
            std::string message = cannot_write(i);
            if (i > 0)
                message += "; " +
                           (i == 1 ? summary_.databases[0].file
                                   : summary_.databases[0].file + " to " +
                                         summary_.databases[i - 1].file) +
                           " replaced already";
            throw output_error(message);
        }
        hidden_.clear();
    }

    uint64_t max_database_size() const override { return *options_.max_size; }

    std::string block_too_large(uint64_t first_entry, uint64_t entries,
                                uint64_t database_size) override {
        return size_given(options_) + " is too small for " + target_ + ": entries " +
               std::to_string(first_entry + 1) + " to " + std::to_string(first_entry + entries) +
               " make a database of " + std::to_string(database_size) + " bytes on their own";
    }

    bool take(const volume_extent& volume) override {
        const uint64_t end = volume.first_entry + volume.entries;
        if (pass_.volume_end && taken_in_pass_ > 0) {
            // A pass that compiles one volume again takes only that one.
            refused_ = guessed(volume.first_entry);
            return false;
        }
        if (volume.ends_pass && stopped_short_) {
            // Cut short by a block that does not fit: again with the choice
            // of the entries up to past that block, and where that too stops
            // short of a volume, with every block fitting.
            refused_ = short_at_ == volume.first_entry
                           ? pass{volume.first_entry, std::nullopt,
                                  every_block_fits(volume.first_entry)}
                           : guessed(volume.first_entry, end + pass_.chosen.words_per_block);
            short_at_ = volume.first_entry;
            return false;
        }
        // A part of a dictionary whose blocks fit has a choice of its own.
        const choice own = choice_for(volume.first_entry, end).value_or(pass_.chosen);
        if (own.words_per_block != pass_.chosen.words_per_block) {
            refused_ = pass{volume.first_entry, end, own};
            return false;
        }
        ++taken_in_pass_;
        whole_ = volume.first_entry == 0 && end == sizes_.size();
        summary_.volumes = !whole_;
        database_facts facts;
        const uint32_t number = static_cast<uint32_t>(summary_.databases.size()) + 1;
        facts.file = whole_ ? target_ : volume_file_name(target_, number);
        facts.words_per_block = own.words_per_block;
        facts.chosen = own.chosen;
        name_ = handheld_database_name(target_, whole_ ? "" : "-" + std::to_string(number), set_,
                                       summary_, facts);
        summary_.databases.push_back(std::move(facts));
        return true;
    }

    title_field title(const volume_extent&, const title_field& source_title,
                      std::string_view first_word, std::string_view last_word) override {
        database_facts& facts = summary_.databases.back();
        facts.first_word = set_.shown(first_word);
        facts.last_word = set_.shown(last_word);
        if (whole_) return source_title;
        const auto* bytes = reinterpret_cast<const char*>(source_title.data());
        const std::string_view own(bytes, std::find(bytes, bytes + title_size, '\0') - bytes);
        const std::string text = volume_title(
            own, first_word, last_word, dash_,
            [this](std::string_view t, std::size_t max_size) { return set_.cut(t, max_size); });
        title_field field{};
        std::copy(text.begin(), text.end(), field.begin());
        return field;
    }

    void compiled(const volume_extent& volume) override {
        database_facts& facts = summary_.databases.back();
        database_file_name = facts.file;
        database_name = name_;
        observer_.checking(&facts);
        hidden_.push_back(std::make_unique<output_file>());
        package_database_into(*hidden_.back());
        remove_file(temp_name);
        // How much of the source a database holds, for the next guess.
        uint64_t bytes = 0;
        for (uint64_t i = volume.first_entry; i < volume.first_entry + volume.entries; ++i)
            bytes += size_of(i);
        if (bytes > 0 && facts.file_size > 0)
            ratio_ = static_cast<double>(bytes) / static_cast<double>(facts.file_size);
    }

private:
    // The source bytes of an entry; entries are counted in 64 bits, which
    // the page's 32-bit size_t holds for any dictionary it can load.
    uint32_t size_of(uint64_t entry) const { return sizes_[static_cast<std::size_t>(entry)]; }

    // Where a pass starts, with which block size, and for a volume compiled
    // again, where it must end.
    struct pass {
        uint64_t first = 0;
        std::optional<uint64_t> volume_end;
        choice chosen;
    };

    // As a single database of the entries from first to end would choose.
    std::optional<choice> choice_for(uint64_t first, uint64_t end) const {
        const block_advice advice =
            advise_words_per_block(sizes_.data() + first, static_cast<std::size_t>(end - first));
        return chosen_for(advice, options_.words_per_block);
    }

    // The choice of all the entries from `first` on, with which every block
    // of the pass fits.
    choice every_block_fits(uint64_t first) const {
        if (auto all = choice_for(first, sizes_.size())) return *all;
        throw output_error("can't cut " + target_ + " into volumes: no words_per_block from " +
                           std::to_string(min_words_per_block) + " to " +
                           std::to_string(max_words_per_block) + " fits the entries from " +
                           std::to_string(first + 1) + " on");
    }

    // Where the first block of per_block entries from `first` on, up to
    // `last`, that is larger than the block buffer starts; `last` when none
    // is.
    uint64_t fitting_end(uint64_t first, uint64_t last, int32_t per_block) const {
        for (uint64_t start = first; start < last; start += per_block) {
            const uint64_t end = std::min<uint64_t>(start + per_block, last);
            uint64_t bytes = 0;
            for (uint64_t i = start; i < end; ++i) bytes += size_of(i);
            if (bytes > block_buffer_size) return start;
        }
        return last;
    }

    // A pass from `first` with the choice of the entries that would about
    // fill a volume, at the bytes a database took for its source so far, and
    // at least those before `least_end`; with that of all the entries left
    // when its first block would not fit.
    pass guessed(uint64_t first, uint64_t least_end = 0) const {
        const double budget = ratio_ * static_cast<double>(*options_.max_size);
        uint64_t end = first;
        double bytes = 0;
        while (end < sizes_.size() && bytes + size_of(end) <= budget) bytes += size_of(end++);
        end = std::min<uint64_t>(std::max({end, least_end, first + 1}), sizes_.size());
        const std::optional<choice> guess = choice_for(first, end);
        if (guess && fitting_end(first, sizes_.size(), guess->words_per_block) > first)
            return pass{first, std::nullopt, *guess};
        return pass{first, std::nullopt, every_block_fits(first)};
    }

    const std::vector<uint32_t>& sizes_;
    const database_options& options_;
    const std::string& target_;
    const handheld_set& set_;
    const std::string dash_;
    import_observer& observer_;
    database_summary& summary_;
    std::vector<std::unique_ptr<output_file>> hidden_;
    pass pass_;
    uint32_t taken_in_pass_ = 0;
    std::optional<pass> refused_;
    bool stopped_short_ = false;  // the pass ends before a block that does not fit
    std::optional<uint64_t> short_at_;  // where the last volume cut short by one began
    bool whole_ = false;
    std::string name_;
    double ratio_ = 4;  // source bytes to database bytes; a dictionary's usual
};

}  // namespace

namespace {

// Refuses volumes of which one would be put in place over a file the run
// read (an input named OUTPUT-2.pdb, or a link that leads to it), as an
// output over an input is refused before anything is read.
void refuse_volumes_over_inputs(const database_summary& summary,
                                const std::vector<std::string>& inputs) {
    if (!summary.volumes) return;
    for (const database_facts& volume : summary.databases)
        for (const std::string& input : inputs)
            if (input != "-" && same_file(volume.file, input))
                throw output_error(volume.file + " is the input file " + input +
                                   "; give another output");
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

database_summary write_database(source_writer& writer, const database_options& options,
                                const block_advice& advice, progress& shown) {
    database_summary summary;
    summary.max_size = options.max_size;
    summary.charset = options.charset;
    summary.max_size_given = options.max_size_given;
    const std::string target = writer.target();
    const choice whole =
        choose_words_per_block(writer.entry_sizes(), options.words_per_block, advice, target);
    const handheld_set set(options.charset);

    // lexaro's settings, as `lexaro OUTPUT.txt N` makes them, but for the
    // hidden source and with the name in the handheld's set.
    const std::string& hidden_source = writer.close_hidden();
    set_file_names(target);
    source_name = hidden_source;
    lexaro::words_per_block = whole.words_per_block;

    import_observer observer(shown, writer.entry_sizes().size(), options.jobs, options.max_size);
    std::unique_ptr<volume_plan> plan;
    // Whatever ends the passes early, nothing of this run stays: a
    // temporary file that another run holds is that run's. A signal
    // removes the one this run holds as it removes the hidden files.
    remove_work_file_on_signal();
    auto remove_own_files = [&] {
        writer.discard();
        plan.reset();
        if (holds_work_file()) remove_file(temp_name);
        release_work_file();
    };
    try {
        observing during(observer);
        if (options.max_size) {
            plan = std::make_unique<volume_plan>(writer.entry_sizes(), options, target, set,
                                                 observer, summary);
            plan->run();
            refuse_volumes_over_inputs(summary, options.inputs);
            writer.discard();
            plan->commit();
        } else {
            database_facts facts;
            facts.file = target;
            facts.words_per_block = whole.words_per_block;
            facts.chosen = whole.chosen;
            database_name = handheld_database_name(target, "", set, summary, facts);
            summary.databases.push_back(std::move(facts));
            observer.checking(&summary.databases.back());
            compile_dictionary(stream_limits{}, options.jobs);
            writer.discard();
            package_database();
        }
    } catch (const pass_failure& e) {
        remove_own_files();
        throw output_error(e.what());
    } catch (...) {
        remove_own_files();
        throw;
    }
    release_work_file();
    summary.left_alone = earlier_files(
        target, summary.volumes ? static_cast<uint32_t>(summary.databases.size()) : 0);
    return summary;
}

std::optional<std::string> size_warning(const database_facts& database) {
    if (database.file_size <= large_database_size) return std::nullopt;
    return "warning: " + database.file + " takes " + std::to_string(database.file_size) +
           " bytes, more than a handheld of 16 MB holds; --max-size SIZE cuts it into volumes "
           "of at most SIZE bytes, such as --max-size 8M";
}

namespace {

void print_line(std::ostream& err, const std::string& label, const std::string& text) {
    err << "  " << label << std::string(label.size() < 17 ? 17 - label.size() : 1, ' ') << text
        << '\n';
}

std::string chosen_text(const database_facts& d) {
    const std::string size = "words_per_block " + std::to_string(d.words_per_block);
    switch (d.chosen) {
        case block_choice::given:
            return size + ", as --words-per-block gives";
        case block_choice::default_fits:
            return size + ", lexaro's default, with which every block fits";
        case block_choice::largest_fits:
            break;
    }
    return size + ", the largest with which every block fits";
}

}  // namespace

void print_database_summary(std::ostream& err, const database_summary& d) {
    const std::vector<database_facts>& all = d.databases;
    const bool one_choice = std::all_of(all.begin(), all.end(), [&](const database_facts& f) {
        return f.words_per_block == all[0].words_per_block && f.chosen == all[0].chosen;
    });
    print_line(err, "compiled:",
               one_choice ? chosen_text(all[0])
                          : "words_per_block chosen in each volume as a "
                            "single database of its entries chooses it");
    uint64_t bytes = 0, unsorted = 0, repeated = 0;
    std::string first_repeated;
    for (const database_facts& f : all) {
        bytes += f.file_size;
        unsorted += f.unsorted;
        repeated += f.repeated;
        if (first_repeated.empty()) first_repeated = f.first_repeated;
    }
    const std::string limit =
        d.max_size ? std::to_string(*d.max_size) + " bytes (--max-size " + d.max_size_given + ")"
                   : "";
    if (!d.volumes) {
        const database_facts& f = all[0];
        print_line(err, "database:",
                   f.file + ", " + std::to_string(f.file_size) + " bytes, " +
                       std::to_string(f.entries) + " entries in " + std::to_string(f.blocks) +
                       " blocks");
        if (d.max_size) print_line(err, "volumes:", "none: the database fits in " + limit);
    } else {
        print_line(err, "volumes:",
                   std::to_string(all.size()) + " of at most " + limit + ", " +
                       std::to_string(bytes) + " bytes in all");
        for (std::size_t i = 0; i < all.size(); ++i) {
            const database_facts& f = all[i];
            std::string line = f.file + ", " + f.first_word + " \xE2\x80\x93 " + f.last_word +
                               ", " + std::to_string(f.entries) + " entries, " +
                               std::to_string(f.file_size) + " bytes";
            if (!one_choice) line += ", " + chosen_text(f);
            print_line(err, "volume " + std::to_string(i + 1) + ":", line);
        }
    }
    if (d.name_changed || d.name_cut) {
        std::string how = ": the file's name";
        if (d.name_changed) how += " as " + d.charset + " writes it";
        if (d.name_changed && d.name_cut) how += ",";
        if (d.name_cut) how += " cut to " + std::to_string(database_name_size - 1) + " bytes";
        if (d.volumes)
            print_line(err, "database names:", all.front().name + " to " + all.back().name + how);
        else
            print_line(err, "database name:", all[0].name + how);
    }
    if (!d.left_alone.empty()) {
        std::string files;
        for (const std::string& f : d.left_alone) files += (files.empty() ? "" : ", ") + f;
        print_line(err, "left alone:", files + ": an earlier run's, not written by this one");
    }
    std::string check = d.volumes ? "each sound" : "sound";
    check += ", as lexaro-dump --check finds it; ";
    if (unsorted == 0)
        check += "ascending byte order";
    else
        check += std::to_string(unsorted) + " entries below the word before them";
    if (repeated == 0)
        check += ", no repeated words";
    else
        check += ", " + std::to_string(repeated) + " words repeated, the first " + first_repeated;
    print_line(err, "check:", check);
}

}  // namespace lexaro::import
