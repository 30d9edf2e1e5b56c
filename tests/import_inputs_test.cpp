// lexaro-import with several inputs: the entry table's labels by input, the
// short names that make them, and the program end to end on inputs in
// different formats, merged into one dictionary, and on what it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "format_test_support.h"
#include "test_support.h"
#include "import/entry_table.h"
#include "import/import_command.h"

namespace lexaro::test {
namespace {

using import::entry_table;
using import::merge_counts;
using import::merge_options;

// An entry of one input: word, translation, and whether the translation
// starts with the dictionary's own spelling (folding changed the word).
struct entry {
    std::string word, translation;
    bool spelled = false;
};

// The lines that for_each_word hands on for these inputs, each one's
// entries added in turn under its label.
std::vector<std::string> merged_by_input(
    const std::vector<std::pair<std::string, std::vector<entry>>>& inputs,
    const merge_options& options, merge_counts& counts) {
    entry_table table(!options.keep_duplicates);
    for (const auto& [label, entries] : inputs) {
        table.begin_input(label);
        for (const entry& e : entries) table.add(e.word, e.translation, e.spelled);
    }
    table.sort();
    return word_lines(table, options, counts);
}

TEST(ImportInputs, TranslationsFromSeveralInputsAreLabelledByInput) {
    struct label_case {
        const char* what;
        std::vector<std::pair<std::string, std::vector<entry>>> inputs;
        bool keep_duplicates;
        std::vector<std::string> expected;
        uint64_t labelled, repeats;
    };
    // clang-format off
    const label_case cases[] = {
        {"a word of one input alone keeps its translation as it is",
         {{"a", {{"x", "one"}}}, {"b", {{"y", "two"}}}}, false,
         {"x$one", "y$two"}, 0, 0},
        {"each input's first translation starts with its label",
         {{"a", {{"w", "one"}, {"w", "two"}}}, {"b", {{"w", "three"}}}}, false,
         {"w$[a] one | two | [b] three"}, 1, 0},
        {"in the order of the inputs, whatever the order of their entries",
         {{"b", {{"w", "late"}, {"v", "v"}}}, {"a", {{"v", "w"}, {"w", "early"}}}}, false,
         {"v$[b] v | [a] w", "w$[b] late | [a] early"}, 2, 0},
        {"a translation that an earlier input gave is left out",
         {{"a", {{"w", "same"}}}, {"b", {{"w", "same"}, {"w", "new"}}}}, false,
         {"w$[a] same | [b] new"}, 1, 1},
        {"no label where one input's translations alone are left",
         {{"a", {{"w", "same"}}}, {"b", {{"w", "same"}, {"w", ""}}}}, false,
         {"w$same"}, 0, 2},
        {"nor where the first input gives the word without a translation",
         {{"a", {{"w", ""}}}, {"b", {{"w", "two"}}}}, false,
         {"w$two"}, 0, 0},
        {"an input between that lacks the word has no say",
         {{"a", {{"w", "one"}}}, {"b", {{"x", "x"}}}, {"c", {{"w", "three"}}}}, false,
         {"w$[a] one | [c] three", "x$x"}, 1, 0},
        {"the input's label before the spelling's",
         {{"a", {{"cafe", "a small restaurant"}}}, {"b", {{"cafe", "caf\xC3\xA9: coffee", true}}}},
         false, {"cafe$[a] cafe: a small restaurant | [b] caf\xC3\xA9: coffee"}, 1, 0},
        {"kept apart, each line of a word from several inputs is labelled",
         {{"a", {{"w", "one"}, {"w", "one"}, {"x", "x"}}}, {"b", {{"w", "two"}, {"w", ""}}}}, true,
         {"w$[a] one", "w$[a] one", "w$[b] two", "w$", "x$x"}, 1, 0},
    };
    // clang-format on
    for (const label_case& c : cases) {
        merge_options options;
        options.keep_duplicates = c.keep_duplicates;
        merge_counts counts;
        EXPECT_EQ(merged_by_input(c.inputs, options, counts), c.expected) << c.what;
        EXPECT_EQ(counts.labelled, c.labelled) << c.what;
        EXPECT_EQ(counts.repeats, c.repeats) << c.what;
    }
}

// A label counts toward the block like the translation it starts: one that
// would make the word outgrow the block leaves the translation out.
TEST(ImportInputs, LabelsCountTowardTheBlock) {
    // "w", its zero byte, "[a] ", 999,982 bytes, " | ", "[b] " and 4 bytes
    // and a zero byte: 1,000,000 exactly.
    const std::string large(999982, 'x');
    merge_counts counts;
    const auto lines =
        merged_by_input({{"a", {{"w", large}}}, {"b", {{"w", "12345"}, {"w", "1234"}}}}, {}, counts);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0] == "w$[a] " + large + " | [b] 1234") << lines[0].substr(0, 8) << "..."
                                                              << lines[0].substr(999980);
    EXPECT_EQ(counts.cut, 1u);
    // The first translation fits without its label alone: it is cut, and the
    // label of the one input left goes.
    const std::string full(999997, 'x');
    counts = {};
    EXPECT_EQ(merged_by_input({{"a", {{"w", full}}}, {"b", {{"w", "two"}}}}, {}, counts),
              std::vector<std::string>{"w$two"});
    EXPECT_EQ(counts.cut, 1u);
    EXPECT_EQ(counts.cut_words, std::vector<std::string>{"w"});
    // Kept apart, the entry stays, without the label.
    merge_options kept;
    kept.keep_duplicates = true;
    const auto apart = merged_by_input({{"a", {{"w", full}}}, {"b", {{"w", "two"}}}}, kept, counts);
    ASSERT_EQ(apart.size(), 2u);
    EXPECT_TRUE(apart[0] == "w$" + full);
    EXPECT_EQ(apart[1], "w$[b] two");
}

TEST(ImportInputs, ShortNamesAreMadeUnique) {
    struct name_case {
        std::vector<std::string> inputs;
        std::vector<std::string> labels;
    };
    const name_case cases[] = {
        {{"/usr/share/dictd/freedict-deu-eng.index", "/usr/share/trans/de-en"},
         {"freedict-deu-eng", "de-en"}},
        {{"a/dict.index", "b/dict.index", "dict.tab"}, {"dict", "dict-2", "dict-3"}},
        {{"dict.tab", "x/dict.tab", "dict-2.tab"}, {"dict", "dict-3", "dict-2"}},
        {{"dict-2.txt", "dict.txt", "dict.csv"}, {"dict-2", "dict", "dict-3"}},
        {{"-", "stdin.txt"}, {"stdin", "stdin-2"}},
        {{"x.ifo"}, {"x"}},
    };
    for (const name_case& c : cases)
        EXPECT_EQ(import::input_labels(c.inputs), c.labels) << c.inputs[0];
}

// A dictd dictionary of plain files, as FreeDict's are but for dictzip: a
// short name entry and an article a word, each headword on its first line.
void write_dictd(const scratch_dir& dir, const std::string& name,
                 const std::vector<std::pair<std::string, std::string>>& articles) {
    std::string index, data;
    for (const auto& [key, article] : articles) {
        index += key + "\t" + dictd_number(data.size()) + "\t" + dictd_number(article.size()) + "\n";
        data += article;
    }
    write_file(dir / (name + ".index"), index);
    write_file(dir / (name + ".dict"), data);
}

void write_freedict(const scratch_dir& dir) {
    write_dictd(dir, "freedict-deu-eng",
                {{"00-database-short", "00-database-short\n     German-English FreeDict\n"},
                 {"haus", "Haus /haus/\nhouse; home\n"},
                 {"baum", "Baum /baum/\ntree\n"},
                 {"essen", "essen /esn/\nto eat\n"}});
}

const std::string trans_de_en =
    "# Version :: 1.9\n"
    "Haus {n} | H\xC3\xA4user {pl} :: house | houses\n"
    "Baum {m} :: tree\n"
    "Katze {f} :: cat\n";

// One run over several inputs in a scratch folder: the exact source, lines
// of the summary, and nothing left but the inputs and the output.
struct merge_run {
    const char* what;
    std::vector<std::string> args;  // the inputs and out.txt among them
    std::string expected;
    std::vector<std::string> summary;  // whole lines, without their line feeds
};

void check_merges(const std::vector<merge_run>& runs,
                  const std::function<void(const scratch_dir&)>& make_inputs) {
    for (const merge_run& r : runs) {
        scratch_dir dir;
        make_inputs(dir);
        auto files = dir.files();
        files.push_back("out.txt");
        std::sort(files.begin(), files.end());
        const run_result run = run_lexaro_import(r.args, dir.path());
        ASSERT_EQ(run.status, 0) << r.what << ": " << run.err;
        EXPECT_EQ(read_file(dir / "out.txt"), r.expected) << r.what;
        for (const std::string& line : r.summary)
            EXPECT_NE(("\n" + run.err).find("\n" + line + "\n"), std::string::npos)
                << r.what << ": no line \"" << line << "\" in\n"
                << run.err;
        EXPECT_EQ(dir.files(), files) << r.what;
    }
}

TEST(ImportInputs, MergesDictionariesOfDifferentFormats) {
    // clang-format off
    const std::vector<merge_run> runs = {
        {"dictd and trans: the first's title, each word's translations by input",
         {"freedict-deu-eng.index", "de-en", "out.txt"},
         "German-English FreeDict\n"
         "Baum$[freedict-deu-eng] /baum/; tree | [de-en] tree\n"
         "Haus$[freedict-deu-eng] /haus/; house; home | [de-en] house\n"
         "H\xC3\xA4user$houses\n"
         "Katze$cat\n"
         "essen$/esn/; to eat\n",
         {"lexaro-import: wrote out.txt from 2 inputs",
          "  input 1:         freedict-deu-eng.index (dictd): 3 entries, label [freedict-deu-eng]",
          "  input 2:         de-en (trans): 4 entries, label [de-en]",
          "  entries read:    7",
          "  words written:   5",
          "  labelled:        2 words with translations from more than one input, by input"}},
        {"the other way round, with a title given and a tab file too",
         {"--title=Deutsch", "de-en", "freedict-deu-eng.dict", "extra.tab", "out.txt"},
         "Deutsch\n"
         "Baum$[de-en] tree | [freedict-deu-eng] /baum/; tree\n"
         "Haus$[de-en] house | [freedict-deu-eng] /haus/; house; home | [extra] building\n"
         "H\xC3\xA4user$houses\n"
         "Katze$cat\n"
         "essen$/esn/; to eat\n",
         {"lexaro-import: wrote out.txt from 3 inputs",
          "  input 3:         extra.tab (tab): 2 entries, label [extra]",
          "  merged:          4 entries into the word before them, 1 repeated translations left out"}},
        {"a format named for each input, in their order",
         {"--format", "trans", "--format=lexaro", "de-en", "source", "out.txt"},
         "de-en 1.9\n"
         "Baum$tree\n"
         "Haus$[de-en] house | [source] a building\n"
         "H\xC3\xA4user$houses\n"
         "Katze$cat\n",
         {"  input 2:         source (lexaro): 1 entries, label [source]"}},
        {"two inputs of one name, folded to lower case",
         {"--fold-case", "extra.tab", "sub/extra.tab", "out.txt"},
         "extra\n"
         "haus$[extra] Haus: house | Haus: building | [extra-2] Haus: a house, again\n",
         {"  input 2:         sub/extra.tab (tab): 1 entries, label [extra-2]"}},
        {"labels in the handheld's set, each one line",
         {"--charset=CP1252", "w\xC3\xB6rter.tab", "line\nbreak.tab", "extra.tab", "out.txt"},
         "w\xF6rter\nHaus$[w\xF6rter] H\xE4user | [line break] a house | [extra] house | building\n",
         {"  input 2:         line\nbreak.tab (tab): 1 entries, label [line\nbreak]"}},
        {"--columns picks the columns of the CSV input among the others",
         {"--columns=german", "words.csv", "extra.tab", "out.txt"},
         "words\nHaus$[words] das Haus | [extra] house | building\nKatze$die Katze\n",
         {"  columns:         [words] the translation from 3 (german); the word from 1 (word)"}},
        {"what a reader notes names its input: two CSV files",
         {"words.csv", "more.csv", "out.txt"},
         "words\nGeld$\nHaus$[words] house; das Haus | [more] home\nKatze$cat; die Katze\n"
         "word$english; german\n",
         {"  columns:         [words] the translation from 2, 3; the word from 1; --columns picks "
          "others\n"
          "  columns:         [more] the translation from 2 (translation); the word from 1 (word)\n"
          "  short rows:      [more] 1 with fewer than the header's 2 columns, the first at line 3"}},
    };
    // clang-format on
    check_merges(runs, [](const scratch_dir& dir) {
        write_freedict(dir);
        write_file(dir / "de-en", trans_de_en);
        write_file(dir / "extra.tab", "Haus\thouse\nHaus\tbuilding\n");
        write_file(dir / "source", "Quelle\nHaus$a building\n");
        mkdir((dir / "sub").c_str(), 0755);
        write_file(dir / "sub/extra.tab", "Haus\ta house, again\n");
        write_file(dir / "w\xC3\xB6rter.tab", "Haus\tH\xC3\xA4user\n");
        write_file(dir / "line\nbreak.tab", "Haus\ta house\n");
        write_file(dir / "words.csv", "word,english,german\nHaus,house,das Haus\nKatze,cat,die Katze\n");
        write_file(dir / "more.csv", "word,translation\nHaus,home\nGeld\n");
    });
}

TEST(ImportInputs, StandardInputIsOneOfThem) {
    scratch_dir dir;
    write_file(dir / "a.tab", "w\tfrom a\n");
    write_file(dir / "piped.txt", "Piped\nw$from standard input\nv$v\n");
    const run_result run = run_program(
        "/bin/sh", {"-c", std::string(LEXARO_IMPORT_BINARY) + " - a.tab out.txt < piped.txt"},
        dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir / "out.txt"), "Piped\nv$v\nw$[stdin] from standard input | [a] from a\n");
    EXPECT_NE(run.err.find("\n  input 1:         - (lexaro): 2 entries, label [stdin]\n"),
              std::string::npos)
        << run.err;
}

// Whatever stops the run, in whichever input, names it and leaves every file
// as it was: no output, and an old output unchanged.
TEST(ImportInputs, ARefusedOrFailedInputLeavesNothing) {
    struct failure {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const std::string usage = "usage: lexaro-import [options] INPUT... OUTPUT.pdb|OUTPUT.txt\n";
    // clang-format off
    const std::vector<failure> cases = {
        {"the second input fails as it is read", {"a.tab", "broken.txt", "old.txt"}, 1,
         "lexaro-import: broken.txt: line 6 has no '$' between word and translation\n"},
        {"the same, to a database", {"a.tab", "broken.txt", "new.pdb"}, 1,
         "lexaro-import: broken.txt: line 6 has no '$' between word and translation\n"},
        {"the second input's article runs past its data", {"a.tab", "short.index", "new.txt"}, 1,
         "lexaro-import: short.index: line 1: its article (28 bytes at 0) runs past the end of "
         "short.dict (4 bytes)\n"},
        {"a missing third input stops the run before the first is read",
         {"a.tab", "b.tab", "missing.tab", "new.txt"}, 1,
         "lexaro-import: can't open file missing.tab: No such file or directory\n"},
        {"an input whose format cannot be told", {"a.tab", "prose.txt", "new.txt"}, 1,
         "lexaro-import: can't tell the format of prose.txt; name it with --format (" +
             import::format_names() + ")\n"},
        {"the same file twice", {"a.tab", "b.tab", "./a.tab", "new.txt"}, 1,
         "lexaro-import: ./a.tab is the input a.tab again; name each input once\n"},
        {"two files of one dictd dictionary", {"short.index", "short.dict", "new.txt"}, 1,
         "lexaro-import: short.dict is read with the input short.index; name each dictionary "
         "once\n"},
        {"the output over the second input", {"a.tab", "b.tab", "b.tab"}, 1,
         "lexaro-import: b.tab is the input file b.tab; give another output\n"},
        {"the output over a file read with the second input", {"a.tab", "short.index", "short.dict"},
         1, "lexaro-import: short.dict is the input file short.dict; give another output\n"},
        {"--columns where no input is CSV", {"--columns=2", "a.tab", "b.tab", "new.txt"}, 2,
         "lexaro-import: --columns picks the columns of a CSV file; a.tab is read as tab\n" + usage},
    };
    // clang-format on
    for (const failure& c : cases) {
        scratch_dir dir;
        write_file(dir / "a.tab", "a\tone\n");
        write_file(dir / "b.tab", "b\ttwo\n");
        write_file(dir / "broken.txt", "Title\nv$1\nw$2\nx$3\ny$4\nno dollar here\n");
        write_file(dir / "prose.txt", "Once upon a time\nthere was\n");
        write_dictd(dir, "short", {{"w", "w\nlonger than its data file\n"}});
        write_file(dir / "short.dict", "w\nlo");
        write_file(dir / "old.txt", "old contents\n");
        const auto before = dir.files();
        const run_result run = run_lexaro_import(c.args, dir.path());
        EXPECT_EQ(run.status, c.status) << c.what;
        EXPECT_EQ(run.err, c.message) << c.what;
        EXPECT_EQ(dir.files(), before) << c.what;
        EXPECT_EQ(read_file(dir / "old.txt"), "old contents\n") << c.what;
        EXPECT_EQ(read_file(dir / "b.tab"), "b\ttwo\n") << c.what;
    }
}

}  // namespace
}  // namespace lexaro::test
