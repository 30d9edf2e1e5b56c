#include "import/import_command.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <ostream>
#include <utility>

#include "common/charset.h"
#include "common/layout.h"
#include "common/platform.h"
#include "import/block_advice.h"
#include "import/clean_up.h"
#include "import/database_output.h"
#include "import/entry_table.h"
#include "import/handheld_text.h"
#include "import/progress.h"
#include "import/reverse.h"
#include "import/source_writer.h"
#include "import/text_input.h"
#include "import/volumes.h"

namespace lexaro::import {

const char usage_line[] = "usage: lexaro-import [options] INPUT... OUTPUT.pdb|OUTPUT.txt\n";

const char usage_text[] =
    "usage: lexaro-import [options] INPUT... OUTPUT.pdb|OUTPUT.txt\n"
    "Makes a source for lexaro from a dictionary: sorted by word in byte order, each word once.\n"
    "OUTPUT.pdb compiles that source, as lexaro does, into the database for the handheld and\n"
    "checks it; the source itself is not kept. Any other OUTPUT is the source; - writes it to\n"
    "standard output. Several INPUTs make one dictionary: where more than one gives a word,\n"
    "each input's translations start with its name, \"[NAME] \" (its file name without\n"
    "folder and extension; NAME-2 for a second input of that name).\n"
    "  --format NAME       the input's format: stardict, dictd, babylon, mdict,\n"
    "                      yomitan, dsl, xdxf, tei, jmdict, wiktextract, edict, cedict,\n"
    "                      dictcc, tab, trans, lexaro or csv\n"
    "                      (recognised from the file's name and content when not given;\n"
    "                      once for every input, or once for each input in their order)\n"
    "  --title TEXT        the title line (default: the (first) dictionary's own name)\n"
    "  --join SEP          between the translations of one word (default \" | \")\n"
    "  --keep-duplicates   one line per entry; repeated words are not merged\n"
    "  --newline SEP       what a line break in a translation becomes (default \"; \")\n"
    "  --charset NAME      the handheld's character set (PALM-LATIN, CP1250, CP1251,\n"
    "                      Shift_JIS, Big5, GB2312, ...): words and translations are\n"
    "                      composed (NFC) and converted before sorting; characters\n"
    "                      it lacks are transliterated or written in their\n"
    "                      compatibility form (NFKC), else written as '?' in\n"
    "                      translations; a word that it cannot write is left out\n"
    "                      and counted\n"
    "  --input-charset NAME  the input's character set (default UTF-8, or as its\n"
    "                      byte-order mark or, for MDict, its header says)\n"
    "  --fold-case         words in lower case (a word already in lower case stays\n"
    "                      as it is); the dictionary's own spelling starts the\n"
    "                      translation where it differs\n"
    "  --fold-accents      words without the accents and other diacritics of Latin,\n"
    "                      Greek and Cyrillic letters, found as typed without them\n"
    "                      (after --fold-case, before --charset; the marks of other\n"
    "                      scripts stay); the dictionary's own spelling starts the\n"
    "                      translation\n"
    "  --translations CODE Wiktextract: the translations into language CODE make the\n"
    "                      dictionary, each with the English word and gloss;\n"
    "                      JMdict: the glosses in language CODE (default en)\n"
    "  --columns LIST      CSV: the columns that make the translation, by header name\n"
    "                      or number from 1 (--columns phonetic,translation)\n"
    "  --reverse           the other direction: each term of the translations (cut at\n"
    "                      senses and separators, without annotations, examples and\n"
    "                      cross references; five words at most) becomes a word, whose\n"
    "                      translation lists the words that give it with their grammar,\n"
    "                      those that give it alone first; --join defaults to \"; \"\n"
    "  --words-per-block N for an OUTPUT.pdb: the entries in each block (100 to 10000;\n"
    "                      default 500 when every block fits, else the largest that fits)\n"
    "  --max-size SIZE     for an OUTPUT.pdb: a database larger than SIZE bytes (or\n"
    "                      with K or M, 1024-based: 8M) is cut by word range into\n"
    "                      volumes OUTPUT-1.pdb, OUTPUT-2.pdb, ..., each at most SIZE\n"
    "  --jobs N            for an OUTPUT.pdb: the blocks compressed and checked at once,\n"
    "                      each on a thread (1 to 256; default: one for each processor\n"
    "                      the run may use); the database is the same for every N\n"
    "  --help              print this help\n"
    "Every option also takes the form --name=VALUE.\n"
    "exit status: 0 written, 1 input or output error, 2 usage error\n";

namespace {

const char program[] = "lexaro-import: ";

// Hands each entry a reader finds through the clean-up into the table.
class table_sink : public entry_sink {
public:
    table_sink(cleaner& clean, handheld_text& handheld, entry_table& table, progress& shown)
        : clean_(clean), handheld_(handheld), table_(table), shown_(shown) {}

    void add(const raw_entry& entry) override {
        ++read_;
        const raw_entry& raw = decoder_ == nullptr ? entry : decode(entry);
        if (clean_.clean(raw, word_, translation_)) {
            if (reverse_ != nullptr)
                add_reversed(raw);
            else if (handheld_.apply(word_, translation_))
                table_.add(word_, translation_, handheld_.spelled());
        }
        shown_.reading(read_);
    }

    // Makes the entries' terms the words (--reverse).
    void reverse_entries(reverser* reverse) { reverse_ = reverse; }
    bool wants_terms() const override { return reverse_ != nullptr; }

    // Makes the entries UTF-8 from the decoder's set before the clean-up,
    // for readers that open their files themselves.
    void decode_entries(charset_decoder* decoder) { decoder_ = decoder; }

    void damaged(std::string_view kind, const std::string& file, uint64_t line) override {
        tally(damage_, kind, file, line);
    }

    void skipped(std::string_view reason, const std::string& file, uint64_t line) override {
        tally(skipped_, reason, file, line);
    }

    void too_large(std::string_view word, uint64_t) override {
        ++read_;
        clean_.count_oversize(word);
        shown_.reading(read_);
    }

    void note(std::string_view topic, std::string_view text) override {
        notes_.emplace_back(std::string(topic) + ":", note_prefix_ + std::string(text));
    }

    // What starts the notes of the input read next: with several, its
    // label, so that each note says which input it is of.
    void notes_start_with(std::string prefix) { note_prefix_ = std::move(prefix); }

    void headword_taken(bool case_differs) override {
        ++headwords_;
        recased_ += case_differs;
    }

    uint64_t read() const { return read_; }
    uint64_t headwords() const { return headwords_; }
    uint64_t recased() const { return recased_; }
    // What the readers noted for the summary: each topic and its line.
    const std::vector<std::pair<std::string, std::string>>& notes() const { return notes_; }

    // Each kind of damage the readers got over, and each reason for which
    // they skipped a line or record: how often, and where first.
    struct place_count {
        std::string kind;
        uint64_t count;
        std::string file;
        uint64_t line;
    };
    const std::vector<place_count>& damages() const { return damage_; }
    const std::vector<place_count>& skips() const { return skipped_; }

private:
    cleaner& clean_;
    handheld_text& handheld_;
    entry_table& table_;
    progress& shown_;
    const raw_entry& decode(const raw_entry& entry) {
        decoded_word_.clear();
        decoded_definition_.clear();
        decoder_->decode(entry.word, decoded_word_, false);
        decoder_->decode(entry.definition, decoded_definition_, false);
        decoded_ = entry;
        decoded_.word = decoded_word_;
        decoded_.definition = decoded_definition_;
        if (entry.has_terms || !entry.grammar.empty()) {
            decoded_terms_.clear();
            decoder_->decode(entry.terms, decoded_terms_, false);
            const std::size_t terms_size = decoded_terms_.size();
            decoder_->decode(entry.grammar, decoded_terms_, false);
            decoded_.terms = std::string_view(decoded_terms_).substr(0, terms_size);
            decoded_.grammar = std::string_view(decoded_terms_).substr(terms_size);
        }
        return decoded_;
    }

    // Each term of the clean entry a word, the entry's word its translation.
    void add_reversed(const raw_entry& raw) {
        const std::size_t count = reverse_->reverse(word_, translation_, raw);
        for (std::size_t i = 0; i < count; ++i) {
            term_.assign(reverse_->term(i));
            reverse_->translation(i, source_);
            if (term_.size() + 1 + source_.size() + 1 > block_buffer_size) {
                clean_.count_oversize(term_);
                continue;
            }
            if (handheld_.apply(term_, source_))
                table_.add(term_, source_, handheld_.spelled(), reverse_->rank());
        }
    }

    static void tally(std::vector<place_count>& counts, std::string_view kind,
                      const std::string& file, uint64_t line) {
        for (place_count& c : counts) {
            if (c.kind == kind) {
                ++c.count;
                return;
            }
        }
        counts.push_back({std::string(kind), 1, file, line});
    }

    uint64_t read_ = 0;
    uint64_t headwords_ = 0, recased_ = 0;
    std::vector<std::pair<std::string, std::string>> notes_;
    std::string note_prefix_;
    std::string word_, translation_;
    std::vector<place_count> damage_, skipped_;
    charset_decoder* decoder_ = nullptr;
    std::string decoded_word_, decoded_definition_, decoded_terms_;
    raw_entry decoded_;
    reverser* reverse_ = nullptr;
    std::string term_, source_;
};

std::string decoded(charset_decoder& decoder, std::string_view text) {
    std::string out;
    decoder.decode(text, out, false);
    return out;
}

// An input opened, its format settled, and what the summary says of it.
struct opened_input {
    const std::string& path;
    format f;
    std::unique_ptr<text_input> text;  // for the formats that read text, until it is read
    std::string label;
    uint64_t entries = 0;          // the entries read from it
    std::string charset;           // the set its text was read in ("" for no text)
    uint64_t invalid = 0;          // bytes of it that were no character of that set
};

// Refuses an output that is an input or one of the files read with it, and
// a database whose temporary file would be.
std::optional<std::string> output_over_input(const options& o, const opened_input& in) {
    for (const std::string& input : files_read(in.f, in.path)) {
        if (o.output == "-" ? standard_output_is(input) : same_file(o.output, input)) {
            const std::string name = o.output == "-" ? "standard output" : o.output;
            return name + " is the input file " + input + "; give another output";
        }
        if (!is_database_name(o.output)) continue;
        const std::string stream = stream_file_of(o.output);
        if (same_file(stream, input))
            return o.output + " is compiled through " + stream + ", the input file " + input +
                   "; give another output";
    }
    return std::nullopt;
}

// Refuses an input named again, by another name too, or as another of the
// files of one dictionary (dictd's .index and .dict.dz): its entries would
// be read twice.
std::optional<std::string> input_named_twice(const std::vector<opened_input>& inputs) {
    for (std::size_t j = 1; j < inputs.size(); ++j) {
        const opened_input& b = inputs[j];
        const std::vector<std::string> files_b = files_read(b.f, b.path);
        for (std::size_t i = 0; i < j; ++i) {
            const opened_input& a = inputs[i];
            if (same_file(a.path, b.path))
                return b.path + " is the input " + a.path + " again; name each input once";
            const std::vector<std::string> files_a = files_read(a.f, a.path);
            for (const std::string& file : files_a)
                if (same_file(file, b.path))
                    return b.path + " is read with the input " + a.path +
                           "; name each dictionary once";
            for (const std::string& file : files_a)
                for (const std::string& other : files_b)
                    if (same_file(file, other))
                        return a.path + " and " + b.path + " both read " + file +
                               "; name each dictionary once";
        }
    }
    return std::nullopt;
}

// The summary's topic, padded to where its line's text starts.
std::string topic_column(const std::string& topic) {
    return "  " + topic + std::string(topic.size() < 17 ? 17 - topic.size() : 1, ' ');
}

// What --reverse made and left out, for the summary.
void print_reversal(std::ostream& err, const reverse_counts& r) {
    err << "  reversed:        " << r.entries << " entries into " << r.terms << " terms ("
        << r.from_readers << " handed over by readers), " << r.without_terms
        << " entries without one\n";
    err << "  left out:        " << r.long_terms << " terms of more than " << max_term_words
        << " words, " << r.no_letters << " without a letter or digit, " << r.repeats
        << " repeated in their entry";
    if (r.beyond_bound > 0) err << ", " << r.beyond_bound << " past the most an entry may give";
    err << "; " << r.examples << " examples, " << r.references
        << " cross references and notes\n";
}

void print_summary(std::ostream& err, const options& o, const std::vector<opened_input>& inputs,
                   const table_sink& sink, uint64_t written, const clean_up_counts& c,
                   const merge_counts& m, const block_advice& advice,
                   const handheld_text& handheld, const reverser* reversed) {
    const uint64_t read = sink.read();
    const auto read_as = [](const opened_input& in) {
        std::string text = "read as " + in.charset;
        if (in.invalid > 0)
            text += ", " + std::to_string(in.invalid) +
                    " bytes that are no character of it read as U+FFFD";
        return text;
    };
    const auto shows_charset = [](const opened_input& in) {
        return !in.charset.empty() && (in.charset != "UTF-8" || in.invalid > 0);
    };
    err << program << "wrote " << (o.output == "-" ? "standard output" : o.output) << " from ";
    if (inputs.size() == 1)
        err << inputs[0].path << " (" << format_name(inputs[0].f) << ")\n";
    else
        err << inputs.size() << " inputs\n";
    for (std::size_t k = 0; k < inputs.size() && inputs.size() > 1; ++k) {
        const opened_input& in = inputs[k];
        err << topic_column("input " + std::to_string(k + 1) + ":") << in.path << " ("
            << format_name(in.f) << "): " << in.entries << " entries, label [" << in.label
            << "]";
        if (shows_charset(in)) err << ", " << read_as(in);
        err << '\n';
    }
    err << "  entries read:    " << read << '\n';
    err << "  words written:   " << written << '\n';
    if (o.keep_duplicates)
        err << "  merged:          none (--keep-duplicates)\n";
    else
        err << "  merged:          " << m.merged << " entries into the word before them, "
            << m.repeats << " repeated translations left out\n";
    if (inputs.size() > 1)
        err << "  labelled:        " << m.labelled
            << " words with translations from more than one input, by input\n";
    const handheld_counts& h = handheld.counts();
    err << "  dropped:         " << c.empty_words << " with no word, " << c.oversize
        << " too large for a block";
    if (h.unwritable > 0) err << ", " << h.unwritable << " that " << o.charset << " cannot write";
    err << '\n';
    if (sink.headwords() > 0)
        err << "  headwords:       " << sink.headwords()
            << " from the articles, as the dictionary writes them; " << sink.recased()
            << " of them not in lower case as the index keys\n";
    if (reversed != nullptr) print_reversal(err, reversed->counts());
    if (m.cut > 0)
        err << "  cut:             " << m.cut
            << " translations left out of words that would outgrow a block\n";
    err << "  clean-up:        " << c.line_breaks << " line breaks, " << c.tags << " tags, "
        << c.entities << " entities, " << c.trimmed << " trimmed, " << c.control_bytes
        << " zero or 0x1A bytes, " << c.dollar_signs << " '$' in words, " << c.word_spaces
        << " words with runs of white space\n";
    if (c.wrapped_texts > 0)
        err << "  wrapped lines:   " << c.joined_lines << " line breaks that only wrapped a line"
            << " joined with a space, in " << c.wrapped_texts << " translations\n";
    if (inputs.size() == 1 && shows_charset(inputs[0]))
        err << "  input:           " << read_as(inputs[0]) << '\n';
    for (const auto& [topic, line] : sink.notes()) err << topic_column(topic) << line << '\n';
    for (const table_sink::place_count& d : sink.damages())
        err << "  damaged markup:  " << d.count << " " << d.kind << ", the first in " << d.file
            << (d.line > 0 ? " line " + std::to_string(d.line) : "") << '\n';
    for (const table_sink::place_count& s : sink.skips())
        err << "  skipped:         " << s.count << " " << s.kind << ", the first in " << s.file
            << (s.line > 0 ? " line " + std::to_string(s.line) : "") << '\n';
    if (c.invalid_utf8 > 0) {
        err << "  invalid UTF-8:   " << c.invalid_utf8 << " entries, the first \""
            << c.first_invalid_utf8 << "\"";
        if (o.input_charset.empty()) err << "; name the input's character set with --input-charset";
        err << '\n';
    }
    if (o.fold_case) err << "  case:            " << h.lowered << " words folded to lower case\n";
    if (o.fold_accents) {
        err << "  accents:         " << h.unaccented << " words written without their accents";
        const char* between = " (";
        for (std::size_t s = 0; s < script_count; ++s) {
            if (h.unaccented_in[s] == 0) continue;
            err << between << script_names[s] << ' ' << h.unaccented_in[s];
            between = ", ";
        }
        err << (h.unaccented > 0 ? ")\n" : "\n");
    }
    if (handheld.encoder() != nullptr) {
        err << "  charset:         " << o.charset << ": " << h.transliterated
            << " characters transliterated, " << h.replaced << " written as '?'";
        for (std::size_t i = 0; i < h.first_changed.size(); ++i)
            err << (i == 0 ? ", in the entries of \"" : ", \"") << h.first_changed[i] << '"';
        if (h.changed_words > h.first_changed.size()) err << ", ...";
        err << '\n';
    } else if (h.non_ascii) {
        err << "  charset:         UTF-8 kept; the handheld shows one 8-bit set: name it with"
               " --charset (PALM-LATIN Western, CP1250 Central European, CP1251 Cyrillic, Shift_JIS"
               " Japanese, Big5 or GB2312 Chinese)\n";
    }
    if (advice.largest > 0) {
        err << "  words_per_block: " << advice.largest
            << " is the largest with which every block fits in " << block_buffer_size << " bytes";
        if (!advice.every_smaller_fits) err << ", though smaller ones do not";
        if (!advice.default_fits) err << "; the default, " << default_words_per_block << ", is not";
        err << '\n';
    } else {
        err << "  words_per_block: none fits\n";
    }
}

void print_warnings(std::ostream& err, const options& o, const clean_up_counts& c,
                    const handheld_counts& h, const merge_counts& m, const block_advice& advice,
                    uint64_t written) {
    for (const std::string& word : c.oversize_words)
        err << program << "warning: dropped \"" << word
            << "\": word and translation take more than " << block_buffer_size << " bytes\n";
    if (c.oversize > c.oversize_words.size())
        err << program << "warning: and " << c.oversize - c.oversize_words.size()
            << " more entries too large for a block\n";
    for (const std::string& word : h.first_unwritable)
        err << program << "warning: dropped \"" << word << "\": " << o.charset
            << " cannot write the word\n";
    if (h.unwritable > h.first_unwritable.size())
        err << program << "warning: and " << h.unwritable - h.first_unwritable.size()
            << " more words that " << o.charset << " cannot write\n";
    for (const std::string& word : m.cut_words)
        err << program << "warning: \"" << escape_invalid_utf8(word)
            << "\": translations left out, the word would outgrow a block\n";
    if (advice.largest > 0 || written == 0) return;
    err << program << "warning: no words_per_block from " << min_words_per_block << " to "
        << max_words_per_block << " fits: ";
    if (advice.bytes == 0) {
        err << written << " entries need more than " << max_block_count << " blocks";
    } else {
        const uint64_t first = advice.first_entry + 1;
        const uint64_t last = std::min<uint64_t>(first + min_words_per_block - 1, written);
        err << "with " << min_words_per_block << ", entries " << first << " to " << last
            << " (lines " << first + 1 << " to " << last + 1 << " of "
            << (o.output == "-" ? "the output" : o.output) << ") take " << advice.bytes
            << " bytes, more than a block's " << block_buffer_size;
    }
    err << "; lexaro cannot compile this source\n";
}

// Writes the table's entries in its order, merged unless the options keep
// duplicates.
merge_counts write_entries(const entry_table& table, const options& o, source_writer& writer,
                           progress& shown) {
    merge_options merge;
    merge.join = o.join;
    merge.keep_duplicates = o.keep_duplicates;
    merge.grammar_labels = o.reverse;
    merge_counts merged;
    uint64_t done = 0;
    table.for_each_word(
        merge,
        [&](std::string_view word, std::string_view translation) {
            writer.write_entry(word, translation);
            shown.writing(++done + merged.merged, table.size());
        },
        merged);
    return merged;
}

int usage_error(std::ostream& err, const std::string& problem) {
    err << program << problem << '\n' << usage_line;
    return status_usage;
}

// reading: the input being read, for a message that needs to name it.
int import(const options& o, std::ostream& err, bool terminal, const std::string*& reading) {
    std::string problem;
    std::unique_ptr<charset_encoder> encoder;
    if (!o.charset.empty()) {
        encoder = charset_encoder::open(o.charset, problem);
        if (!encoder) return usage_error(err, problem);
    }
    // Every input is opened and its format settled before any is read, so
    // that one that cannot be read stops the run before the work begins.
    std::vector<opened_input> inputs;
    const std::vector<std::string> labels = input_labels(o.inputs);
    for (std::size_t k = 0; k < o.inputs.size(); ++k) {
        reading = &o.inputs[k];
        std::unique_ptr<text_input> text;
        const format f = open_input(o, k, text);
        inputs.push_back({o.inputs[k], f, std::move(text), labels[k], 0, "", 0});
    }
    const auto is_csv = [](const opened_input& in) { return format_name(in.f) == "csv"; };
    if (!o.columns.empty() && std::none_of(inputs.begin(), inputs.end(), is_csv))
        return usage_error(err, "--columns picks the columns of a CSV file; " + inputs[0].path +
                                    " is read as " + std::string(format_name(inputs[0].f)));
    std::optional<std::string> refused = input_named_twice(inputs);
    for (std::size_t k = 0; k < inputs.size() && !refused; ++k)
        refused = output_over_input(o, inputs[k]);
    if (refused) {
        err << program << *refused << '\n';
        return status_failed;
    }
    if (o.max_size && written_in_place(o.output)) {
        err << program << o.output
            << " is not a file: --max-size may write volumes as files beside it; give a file\n";
        return status_failed;
    }
    source_writer writer(o.output);
    writer.open();

    progress shown(err, terminal);
    struct clear_at_end {
        progress& shown;
        ~clear_at_end() { shown.clear(); }
    } clear_progress{shown};
    // Reversed, the translations are read line by line for their terms.
    cleaner clean(o.reverse ? "\n" : o.newline);
    auto table = std::make_unique<entry_table>(!o.keep_duplicates);
    handheld_text handheld({o.fold_case, o.fold_accents}, encoder.get());
    table_sink sink(clean, handheld, *table, shown);
    std::unique_ptr<reverser> reversed;
    if (o.reverse) {
        reversed = std::make_unique<reverser>();
        sink.reverse_entries(reversed.get());
    }
    std::unique_ptr<charset_decoder> entry_decoder;
    std::string title;
    // Each input in turn into the one table, which knows where each begins.
    for (opened_input& in : inputs) {
        reading = &in.path;
        // The label is written into translations: one line, in the handheld's set.
        std::size_t label_size = 0;
        if (inputs.size() > 1)
            table->begin_input(handheld.title(clean_title(in.label), 4 * in.label.size() + 16,
                                              label_size));
        const bool decode = !in.f->reads_text && !in.f->decodes_itself && !o.input_charset.empty();
        if (decode && !entry_decoder) {
            entry_decoder = charset_decoder::open(o.input_charset, problem);
            if (!entry_decoder) throw import_error(problem);
        }
        sink.decode_entries(decode ? entry_decoder.get() : nullptr);
        sink.notes_start_with(inputs.size() > 1 ? "[" + in.label + "] " : "");
        reader_options reading_options;
        reading_options.translations = o.translations;
        if (in.f->decodes_itself) reading_options.input_charset = o.input_charset;
        reading_options.columns = o.columns;
        reader_input input{in.path, in.text.get(), reading_options};
        const uint64_t read_before = sink.read();
        std::string own_title = in.f->read(input, sink);
        if (decode) own_title = decoded(*entry_decoder, own_title);
        in.entries = sink.read() - read_before;
        if (in.text) {
            in.charset = in.text->charset();
            in.invalid = in.text->invalid();
            in.text.reset();
        }
        if (&in == &inputs[0]) title = own_title;
    }
    if (o.title) title = *o.title;
    title = clean_title(title);
    if (title.empty() && !o.title) title = dictionary_name(o.inputs[0]);

    table->end_of_input();
    shown.sorting(table->size());
    table->sort();
    title_fit fit;
    const std::string title_line = handheld.title(title, title_size, fit.original_size);
    fit.size = title_line.size();
    writer.write_title(title_line);
    writer.expect_entries(table->size());
    const merge_counts merged = write_entries(*table, o, writer, shown);
    table.reset();  // the advice and the compiler need memory of their own; the table's goes first
    const block_advice advice = advise_words_per_block(writer.entry_sizes());
    std::optional<database_summary> database;
    if (is_database_name(o.output)) {
        database_options d;
        d.words_per_block = o.words_per_block;
        d.max_size = o.max_size;
        d.max_size_given = o.max_size_given;
        d.charset = o.charset;
        d.jobs = o.jobs ? static_cast<unsigned>(*o.jobs) : usable_processors();
        for (const opened_input& in : inputs)
            for (std::string& file : files_read(in.f, in.path)) d.inputs.push_back(std::move(file));
        database = write_database(writer, d, advice, shown);
    } else
        writer.commit();
    shown.clear();

    if (fit.cut())
        err << program << "warning: the title takes " << fit.original_size
            << " bytes and lexaro keeps " << title_size << "; cut to " << fit.size << '\n';
    print_warnings(err, o, clean.counts(), handheld.counts(), merged, advice,
                   writer.entry_sizes().size());
    if (database && !database->volumes)
        if (auto warning = size_warning(database->databases.front()))
            err << program << *warning << '\n';
    print_summary(err, o, inputs, sink, writer.entry_sizes().size(), clean.counts(), merged,
                  advice, handheld, reversed.get());
    if (database) print_database_summary(err, *database);
    return status_ok;
}

// A number given on the command line: decimal digits alone, from low to high.
std::optional<int> number_from(const std::string& text, int low, int high) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const int n = std::stoi(text);
    if (n < low || n > high) return std::nullopt;
    return n;
}

// The value of an option given as "--name=VALUE" or "--name VALUE".
bool option_value(const std::vector<std::string_view>& args, std::size_t& i, std::string_view name,
                  std::string& value, std::string& problem, bool& matched) {
    const std::string_view a = args[i];
    matched = false;
    if (a.substr(0, name.size()) != name) return true;
    if (a.size() == name.size()) {
        matched = true;
        if (i + 1 == args.size()) {
            problem = "option " + std::string(name) + " needs a value";
            return false;
        }
        value = args[++i];
        return true;
    }
    if (a[name.size()] != '=') return true;
    matched = true;
    value = a.substr(name.size() + 1);
    return true;
}

}  // namespace

format open_input(const options& o, std::size_t which, std::unique_ptr<text_input>& text) {
    const std::string& path = o.inputs[which];
    std::optional<format> f;
    if (!o.input_formats.empty()) f = o.input_formats[o.input_formats.size() == 1 ? 0 : which];
    if (!f) f = format_by_name(path);
    // A binary format's files are found by name and read at any offset.
    const auto refuse_standard_input = [&] {
        if (path != "-") return;
        const std::string name(format_name(*f));
        // dictd and StarDict dictionaries are several files; Babylon and MDict
        // files are read twice (the second time for what the first found).
        if (name == "dictd" || name == "stardict")
            throw import_error(path + ": " + name +
                               " dictionaries are read from their files, which lie side by "
                               "side; name one of them, not standard input");
        // A Yomitan dictionary is a zip archive, whose directory is at its end.
        if (name == "yomitan")
            throw import_error(path +
                               ": yomitan dictionaries are zip archives, read from the directory"
                               " at their end; name the file, not standard input");
        throw import_error(path + ": " + name +
                           " dictionaries are read from their file, twice; name the file, not "
                           "standard input");
    };
    if (f && !(*f)->reads_text) {
        refuse_standard_input();
        return *f;
    }
    text = std::make_unique<text_input>(path, o.input_charset);
    if (!f) {
        bool whole_file = false;
        const std::string_view sample = text->sample(whole_file);
        if (sample.empty()) throw import_error(path + " is empty");
        f = format_by_content(sample, whole_file);
        if (!f)
            throw import_error("can't tell the format of " + path + "; name it with --format (" +
                               format_names() + ")");
        if (!(*f)->reads_text) {
            // Recognised by its first bytes: the reader opens the file itself.
            refuse_standard_input();
            text.reset();
            return *f;
        }
    }
    if (!(*f)->own_charset.empty() && !text->sample_is_utf8())
        text->fall_back_to(std::string((*f)->own_charset));
    return *f;
}

std::string dictionary_name(const std::string& path) {
    std::string name = path.substr(path.find_last_of('/') + 1);
    for (const char* suffix :
         {".dz", ".gz", ".index", ".dict", ".ifo", ".idx", ".syn", ".txt", ".tab", ".tsv", ".dsl",
          ".xdxf", ".tei", ".csv", ".jsonl", ".json", ".bgl", ".mdx", ".zip"}) {
        const std::string_view s = suffix;
        if (name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0)
            name.resize(name.size() - s.size());
    }
    return name;
}

std::vector<std::string> input_labels(const std::vector<std::string>& inputs) {
    std::vector<std::string> names, labels;
    for (const std::string& input : inputs)
        names.push_back(input == "-" ? "stdin" : dictionary_name(input));
    const auto taken = [&](const std::string& name, const std::vector<std::string>& in) {
        return std::find(in.begin(), in.end(), name) != in.end();
    };
    for (const std::string& name : names) {
        std::string label = name;
        for (int n = 2; taken(label, labels) || (label != name && taken(label, names)); ++n)
            label = name + "-" + std::to_string(n);
        labels.push_back(label);
    }
    return labels;
}

std::optional<options> parse_arguments(const std::vector<std::string_view>& args,
                                       std::string& problem) {
    options o;
    std::vector<std::string> files;
    bool options_ended = false;
    bool join_given = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if (options_ended || a == "-" || a.substr(0, 2) != "--") {
            if (!options_ended && a.size() > 1 && a[0] == '-') {
                problem = "unknown option " + std::string(a);
                return std::nullopt;
            }
            files.emplace_back(a);
            continue;
        }
        if (a == "--") {
            options_ended = true;
            continue;
        }
        if (a == "--help") {
            o.help = true;
            return o;
        }
        if (a == "--keep-duplicates") {
            o.keep_duplicates = true;
            continue;
        }
        if (a == "--fold-case") {
            o.fold_case = true;
            continue;
        }
        if (a == "--fold-accents") {
            o.fold_accents = true;
            continue;
        }
        if (a == "--reverse") {
            o.reverse = true;
            continue;
        }
        std::string value;
        bool matched = false;
        if (!option_value(args, i, "--format", value, problem, matched)) return std::nullopt;
        if (matched) {
            const std::optional<format> f = format_from_name(value);
            if (!f) {
                problem = "unknown format " + value + "; the formats are " + format_names();
                return std::nullopt;
            }
            o.input_formats.push_back(*f);
            continue;
        }
        struct text_option {
            std::string_view name;
            std::string* target;
        };
        if (!option_value(args, i, "--words-per-block", value, problem, matched))
            return std::nullopt;
        if (matched) {
            const auto n = number_from(value, min_words_per_block, max_words_per_block);
            if (!n) {
                problem = "--words-per-block " + value + " is not a number from " +
                          std::to_string(min_words_per_block) + " to " +
                          std::to_string(max_words_per_block);
                return std::nullopt;
            }
            o.words_per_block = n;
            continue;
        }
        if (!option_value(args, i, "--max-size", value, problem, matched)) return std::nullopt;
        if (matched) {
            o.max_size = size_from(value);
            o.max_size_given = value;
            if (!o.max_size) {
                problem = "--max-size " + value +
                          " is not a size: bytes, or a number with K or M (1024-based), up to "
                          "2048M";
                return std::nullopt;
            }
            continue;
        }
        if (!option_value(args, i, "--jobs", value, problem, matched)) return std::nullopt;
        if (matched) {
            o.jobs = number_from(value, 1, max_jobs);
            if (!o.jobs) {
                problem =
                    "--jobs " + value + " is not a number from 1 to " + std::to_string(max_jobs);
                return std::nullopt;
            }
            continue;
        }
        std::string title;
        const text_option text_options[] = {{"--title", &title},
                                            {"--join", &o.join},
                                            {"--newline", &o.newline},
                                            {"--charset", &o.charset},
                                            {"--input-charset", &o.input_charset},
                                            {"--translations", &o.translations},
                                            {"--columns", &o.columns}};
        bool known = false;
        for (const text_option& t : text_options) {
            if (!option_value(args, i, t.name, value, problem, matched)) return std::nullopt;
            if (!matched) continue;
            known = true;
            if (value.empty() && (t.target == &o.charset || t.target == &o.input_charset ||
                                  t.target == &o.translations || t.target == &o.columns)) {
                problem = "option " + std::string(t.name) + " needs a value";
                return std::nullopt;
            }
            *t.target = value;
            if (t.target == &title) o.title = title;
            join_given = join_given || t.target == &o.join;
            break;
        }
        if (!known) {
            problem = "unknown option " + std::string(a);
            return std::nullopt;
        }
    }
    if (files.size() < 2) {
        problem = "give an input and an output file";
        return std::nullopt;
    }
    o.output = files.back();
    files.pop_back();
    o.inputs = std::move(files);
    if (o.output.empty() || std::find(o.inputs.begin(), o.inputs.end(), "") != o.inputs.end()) {
        problem = "a file name is empty";
        return std::nullopt;
    }
    if (std::count(o.inputs.begin(), o.inputs.end(), "-") > 1) {
        problem = "standard input (-) is named twice; it can be read once";
        return std::nullopt;
    }
    if (o.input_formats.size() > 1 && o.input_formats.size() != o.inputs.size()) {
        problem = "--format is given " + std::to_string(o.input_formats.size()) + " times for " +
                  std::to_string(o.inputs.size()) + (o.inputs.size() == 1 ? " input" : " inputs") +
                  "; give it once for all of them, or once for each in their order";
        return std::nullopt;
    }
    // A separator is written into the translations, one source line each:
    // a line end or 0x1A in it would break the line, or end the source there.
    for (const auto& [name, value] : {std::pair{"--newline", &o.newline}, {"--join", &o.join}}) {
        if (value->find_first_of("\n\r\x1A") != std::string::npos) {
            problem = std::string(name) +
                      " must not hold a line feed, a carriage return or 0x1A: each entry is one "
                      "line of the source";
            return std::nullopt;
        }
    }
    // A reversed word's translations are the words that give it: a list.
    if (o.reverse && !join_given) o.join = "; ";
    if (o.words_per_block && !is_database_name(o.output)) {
        problem = "--words-per-block is for an OUTPUT.pdb; lexaro takes it for a source";
        return std::nullopt;
    }
    if (o.max_size && !is_database_name(o.output)) {
        problem = "--max-size is for an OUTPUT.pdb: a source is compiled whole";
        return std::nullopt;
    }
    return o;
}

int run(const std::vector<std::string_view>& args, std::ostream& out, std::ostream& err,
        bool terminal) {
    std::string problem;
    const auto o = parse_arguments(args, problem);
    if (!o) return usage_error(err, problem);
    if (o->help) {
        // Standard output closed when the run started holds /dev/null now.
        errno = standard_stream_was_closed(1) ? EBADF : 0;
        if (errno == 0 && out << usage_text && out.flush()) return status_ok;
        err << program << "can't write standard output: " << std::strerror(errno != 0 ? errno : EIO)
            << '\n';
        return status_failed;
    }
    const std::string* reading = &o->inputs[0];
    try {
        return import(*o, err, terminal, reading);
    } catch (const import_error& e) {
        err << program << e.what() << '\n';
    } catch (const output_error& e) {
        err << program << e.what() << '\n';
    } catch (const std::bad_alloc&) {
        err << program << "out of memory reading " << *reading << '\n';
    }
    return status_failed;
}

}  // namespace lexaro::import
