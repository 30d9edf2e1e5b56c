// lexaro-import --max-size: a dictionary too large for one database cut by
// word range into volumes, their names and titles, and what the files
// around them become.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "common/buffered_output.h"
#include "common/charset.h"
#include "common/random_access_file.h"
#include "dump/dump_commands.h"
#include "import/clean_up.h"
#include "import/database_output.h"
#include "import/import_command.h"
#include "import/volumes.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

using import::database_name_for;
using import::size_from;
using import::volume_title;
using entry_list = std::vector<std::pair<std::string, std::string>>;

// The database's bytes without its three dates (creation, modification,
// backup), which differ from run to run.
std::string without_dates(std::string pdb) {
    if (pdb.size() >= 48) pdb.replace(36, 12, 12, '\0');
    return pdb;
}

// Letters drawn at random from a seed kept between calls.
std::string letters(std::size_t count, uint32_t& seed) {
    std::string text;
    for (std::size_t c = 0; c < count; ++c) {
        seed = seed * 1103515245 + 12345;
        text += static_cast<char>('a' + (seed >> 16) % 26);
    }
    return text;
}

// Words in order, with translations of letters that compress as text does.
entry_list dictionary(int count) {
    entry_list entries;
    uint32_t seed = 12345;
    for (int i = 0; i < count; ++i) {
        std::string translation;
        const int words = 3 + i % 11;
        for (int w = 0; w < words; ++w) {
            if (w > 0) translation += ' ';
            translation += letters(3 + static_cast<std::size_t>(w * 7 + i) % 6, seed);
        }
        entries.emplace_back("w" + std::to_string(100000 + i), translation);
    }
    return entries;
}

std::string source(const entry_list& entries) { return make_source("Test words", entries); }

run_result import(const std::vector<std::string>& args, const scratch_dir& dir) {
    return run_lexaro_import(args, dir.path());
}

// The lines of a summary that start with one of the labels given.
std::string summary_lines(const std::string& err, const std::vector<std::string>& labels) {
    std::istringstream lines(err);
    std::string line, kept;
    while (std::getline(lines, line))
        for (const std::string& label : labels)
            if (line.rfind("  " + label, 0) == 0) kept += line + "\n";
    return kept;
}

// What lexaro-dump --check says on one of its lines ("entries:").
std::string checked(const scratch_dir& dir, const std::string& file, const std::string& label) {
    const run_result check = run_lexaro_dump({file}, dir.path());
    const std::size_t at = check.out.find(label);
    if (at == std::string::npos) return "";
    const std::size_t start = check.out.find_first_not_of(' ', at + label.size());
    return check.out.substr(start, check.out.find('\n', at) - start);
}

TEST(ImportVolumes, HoldTheSingleDatabasesEntriesAndFindEveryWord) {
    const entry_list entries = dictionary(4000);
    scratch_dir one, split;
    write_file(one / "in.txt", source(entries));
    write_file(split / "in.txt", source(entries));
    ASSERT_EQ(import({"in.txt", "dict.pdb"}, one).status, 0);
    const run_result run = import({"--max-size", "40K", "in.txt", "dict.pdb"}, split);
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::string> volumes;
    for (const std::string& f : split.files())
        if (f != "in.txt") volumes.push_back(f);
    ASSERT_GE(volumes.size(), 3u);

    // Their text, one after the other, is the single database's.
    std::string entry_text, titles;
    for (std::size_t v = 0; v < volumes.size(); ++v) {
        EXPECT_EQ(volumes[v], "dict-" + std::to_string(v + 1) + ".pdb");
        EXPECT_LE(read_file(split / volumes[v]).size(), 40u * 1024) << volumes[v];
        EXPECT_EQ(checked(split, volumes[v], volumes[v] + ":"), "sound");
        const std::string text = run_lexaro_dump({"--text", volumes[v]}, split.path()).out;
        const std::string body = text.substr(text.find('\n') + 1);
        const std::string first = body.substr(0, body.find('$'));
        const std::size_t last_line = body.rfind('\n', body.size() - 2) + 1;
        const std::string last = body.substr(last_line, body.find('$', last_line) - last_line);
        EXPECT_EQ(text.substr(0, text.find('\n')),
                  "Test words (" + first + " \xE2\x80\x93 " + last + ")");
        EXPECT_EQ(checked(split, volumes[v], "database name:"), "dict-" + std::to_string(v + 1));
        entry_text += body;
    }
    const std::string single = run_lexaro_dump({"--text", "dict.pdb"}, one.path()).out;
    EXPECT_EQ(entry_text, single.substr(single.find('\n') + 1));

    // Every word is found over the volumes, as in the single database.
    std::vector<std::string> bytes;
    for (const std::string& v : volumes) bytes.push_back(read_file(split / v));
    std::vector<memory_input> files(bytes.begin(), bytes.end());
    std::vector<const random_access_input*> inputs;
    for (const memory_input& f : files) inputs.push_back(&f);
    const int fd = open_for_writing(split / "found.txt");
    buffered_output out(fd);
    std::ostringstream err;
    std::string expected;
    int missing = 0;
    for (const auto& [word, translation] : entries) {
        missing += dump::lookup_command(inputs, volumes, word, out, err) != dump::status_ok;
        expected += translation + "\n";
    }
    ASSERT_TRUE(out.close());
    EXPECT_EQ(missing, 0) << err.str();
    EXPECT_EQ(read_file(split / "found.txt"), expected);

    // And through the program, at the edges of the volumes and between them.
    std::vector<std::string> args{"--lookup", "", "dict-1.pdb"};
    for (std::size_t v = 1; v < volumes.size(); ++v) args.push_back(volumes[v]);
    for (const std::size_t i : {std::size_t{0}, std::size_t{1999}, entries.size() - 1}) {
        args[1] = entries[i].first;
        const run_result found = run_lexaro_dump(args, split.path());
        EXPECT_EQ(found.out, entries[i].second + "\n") << entries[i].first;
        EXPECT_EQ(found.status, 0);
    }
    for (const char* absent : {"a", "w1000005", "x"}) {
        args[1] = absent;
        const run_result missed = run_lexaro_dump(args, split.path());
        EXPECT_EQ(missed.status, 1) << absent;
        EXPECT_EQ(missed.err, std::string("lexaro-dump: ") + absent + ": not found\n");
    }
}

TEST(ImportVolumes, SummaryListsEachVolume) {
    scratch_dir dir;
    write_file(dir / "in.txt", source(dictionary(3000)));
    const run_result run = import({"--max-size=30K", "in.txt", "dict.pdb"}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    std::string expected =
        "  compiled:        words_per_block 500, lexaro's default, with which every block fits\n";
    std::string lines;
    uint64_t total = 0;
    int v = 1;
    for (; exists(dir / ("dict-" + std::to_string(v) + ".pdb")); ++v) {
        const std::string file = "dict-" + std::to_string(v) + ".pdb";
        const std::string text = run_lexaro_dump({"--text", file}, dir.path()).out;
        const std::string title = text.substr(0, text.find('\n'));
        const uint64_t size = read_file(dir / file).size();
        total += size;
        lines += "  volume " + std::to_string(v) + ":        " + file + ", " +
                 title.substr(12, title.size() - 13) + ", " + checked(dir, file, "entries:") +
                 " entries, " + std::to_string(size) + " bytes\n";
    }
    expected += "  volumes:         " + std::to_string(v - 1) + " of at most 30720 bytes " +
                "(--max-size 30K), " + std::to_string(total) + " bytes in all\n" + lines +
                "  check:           each sound, as lexaro-dump --check finds it; ascending "
                "byte order, no repeated words\n";
    EXPECT_EQ(summary_lines(run.err, {"compiled:", "volume", "check:", "database", "left"}),
              expected);
    EXPECT_EQ(run.err.find("warning"), std::string::npos);
}

// A dictionary whose database takes SIZE bytes is one database with
// --max-size SIZE, the same as without it; one byte less cuts it in two.
TEST(ImportVolumes, ADatabaseThatFitsTheSizeExactlyIsNotCut) {
    scratch_dir dir;
    write_file(dir / "in.txt", source(dictionary(2000)));
    ASSERT_EQ(import({"in.txt", "plain.pdb"}, dir).status, 0);
    const std::string plain = read_file(dir / "plain.pdb");
    const std::string size = std::to_string(plain.size());
    dir.remove("plain.pdb");

    const run_result fits = import({"--max-size", size, "in.txt", "plain.pdb"}, dir);
    ASSERT_EQ(fits.status, 0) << fits.err;
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"in.txt", "plain.pdb"}));
    EXPECT_EQ(without_dates(read_file(dir / "plain.pdb")), without_dates(plain));
    EXPECT_EQ(summary_lines(fits.err, {"database:", "volumes:"}),
              "  database:        plain.pdb, " + size + " bytes, 2000 entries in 4 blocks\n" +
                  "  volumes:         none: the database fits in " + size + " bytes (--max-size " +
                  size + ")\n");
    EXPECT_EQ(checked(dir, "plain.pdb", "title:"), "Test words");

    dir.remove("plain.pdb");
    const std::string less = std::to_string(plain.size() - 1);
    const run_result cut = import({"--max-size", less, "in.txt", "plain.pdb"}, dir);
    ASSERT_EQ(cut.status, 0) << cut.err;
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"in.txt", "plain-1.pdb", "plain-2.pdb"}));
    EXPECT_NE(cut.err.find("  volumes:         2 of at most " + less + " bytes"), std::string::npos)
        << cut.err;
}

// Every volume is the database that lexaro-import makes of its own entries
// and title: also where they choose other words_per_block than the whole
// dictionary, whose blocks of 500 entries do not all fit.
TEST(ImportVolumes, EachIsTheDatabaseOfItsOwnEntries) {
    // 400 entries of 2,601 bytes in the middle: no block of 500 entries that
    // holds them fits, but they take little room compressed.
    entry_list entries = dictionary(4800);
    for (int i = 2000; i < 2400; ++i) entries[i].second = std::string(2600, 'a' + i % 26);
    for (const char* jobs : {"1", "3"}) {
        scratch_dir dir;
        write_file(dir / "in.txt", source(entries));
        const run_result run =
            import({"--jobs", jobs, "--max-size", "60K", "in.txt", "dict.pdb"}, dir);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.err.find("  compiled:        words_per_block chosen in each volume as a "
                               "single database of its entries chooses it\n"),
                  std::string::npos)
            << run.err;
        std::vector<std::string> chosen;
        for (int v = 1; exists(dir / ("dict-" + std::to_string(v) + ".pdb")); ++v) {
            const std::string file = "dict-" + std::to_string(v) + ".pdb";
            scratch_dir alone;
            write_file(alone / "in.txt", run_lexaro_dump({"--text", file}, dir.path()).out);
            ASSERT_EQ(import({"--format", "lexaro", "in.txt", file}, alone).status, 0) << file;
            EXPECT_EQ(without_dates(read_file(alone / file)), without_dates(read_file(dir / file)))
                << file << ", --jobs " << jobs;
            chosen.push_back(checked(dir, file, "blocks:"));
        }
        // Some volumes hold blocks of 500 entries, others smaller ones.
        EXPECT_NE(std::count_if(chosen.begin(), chosen.end(),
                                [](const std::string& c) { return c.find(" 500") != c.npos; }),
                  0);
        EXPECT_NE(std::count_if(chosen.begin(), chosen.end(),
                                [](const std::string& c) { return c.find(" 500") == c.npos; }),
                  0);
    }
}

// A failed run leaves every file as it was, the volumes of an earlier run
// too, and nothing hidden.
TEST(ImportVolumes, AFailedRunLeavesTheFolderAsItWas) {
    struct failure {
        const char* what;
        std::vector<std::string> options;
        std::string message_start, message_end;
        bool volume_two_a_folder;
    };
    const failure failures[] = {
        {"a size too small for one block",
         {"--max-size", "1K"},
         "lexaro-import: --max-size 1K (1024 bytes) is too small for dict.pdb: entries 1 to 500 "
         "make a database of ",
         " bytes on their own\n",
         false},
        {"a size too small for the database header",
         {"--max-size", "300"},
         "lexaro-import: --max-size 300 is too small for dict.pdb: entries 1 to 500 make a "
         "database of ",
         " bytes on their own\n",
         false},
        {"the second volume cannot be written",
         {"--max-size", "20K"},
         "lexaro-import: can't create file dict-2.pdb",
         "\n",
         true},
    };
    for (const failure& f : failures) {
        scratch_dir dir;
        write_file(dir / "in.txt", source(dictionary(2000)));
        write_file(dir / "dict-1.pdb", "old volume 1");
        write_file(dir / "dict-3.pdb", "old volume 3");
        if (f.volume_two_a_folder)
            ASSERT_TRUE(std::filesystem::create_directory(dir / "dict-2.pdb"));
        else
            write_file(dir / "dict-2.pdb", "old volume 2");
        const std::vector<std::string> before = dir.files();
        std::vector<std::string> args = f.options;
        args.insert(args.end(), {"in.txt", "dict.pdb"});
        const run_result run = import(args, dir);
        EXPECT_EQ(run.status, 1) << f.what;
        EXPECT_EQ(run.err.rfind(f.message_start, 0), 0u) << f.what << ": " << run.err;
        ASSERT_GE(run.err.size(), f.message_end.size());
        EXPECT_EQ(run.err.substr(run.err.size() - f.message_end.size()), f.message_end)
            << f.what << ": " << run.err;
        EXPECT_EQ(dir.files(), before) << f.what;
        EXPECT_EQ(read_file(dir / "dict-1.pdb"), "old volume 1") << f.what;
        EXPECT_EQ(read_file(dir / "dict-3.pdb"), "old volume 3") << f.what;
    }
}

// A volume's name is known only once the dictionary is cut; one that is a
// file the run read is refused then, before any volume is put in place.
TEST(ImportVolumes, AVolumeIsNeverPutOverAnInput) {
    const std::string text = source(dictionary(2000));
    const struct {
        const char* what;
        std::vector<std::string> inputs;
        std::string link;  // NAME=TARGET: a symbolic link made first
        std::string message;
    } cases[] = {
        {"the input has the second volume's name",
         {"dict-2.pdb"},
         "",
         "dict-2.pdb is the input file dict-2.pdb; give another output"},
        {"the second of two inputs has the third volume's name",
         {"in.txt", "dict-3.pdb"},
         "",
         "dict-3.pdb is the input file dict-3.pdb; give another output"},
        {"the input is a link to the second volume's file",
         {"in.txt"},
         "in.txt=dict-2.pdb",
         "dict-2.pdb is the input file in.txt; give another output"},
    };
    for (const auto& c : cases) {
        scratch_dir dir;
        std::vector<std::string> args = {"--max-size", "20K", "--format", "lexaro"};
        for (const std::string& input : c.inputs) {
            args.push_back(input);
            if (c.link.empty() || c.link.rfind(input + "=", 0) != 0)
                write_file(dir / input,
                           input == c.inputs[0] ? text : make_source("More", {{"x", "y"}}));
        }
        if (!c.link.empty()) {
            const std::string target = c.link.substr(c.link.find('=') + 1);
            write_file(dir / target, text);
            if (!make_symlink(target, dir / c.link.substr(0, c.link.find('='))))
                GTEST_SKIP() << "no symbolic links here";
        }
        args.push_back("dict.pdb");
        std::map<std::string, std::string> before;
        for (const std::string& f : dir.files()) before[f] = read_file(dir / f);
        const run_result run = import(args, dir);
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_EQ(run.err, "lexaro-import: " + c.message + "\n") << c.what;
        std::map<std::string, std::string> after;
        for (const std::string& f : dir.files()) after[f] = read_file(dir / f);
        EXPECT_EQ(after, before) << c.what;
    }
}

TEST(ImportVolumes, FilesOfAnEarlierRunAreLeftAloneAndNamed) {
    struct leftovers {
        const char* what;
        std::string max_size;
        std::vector<std::string> earlier;
        std::string line;  // of the summary; empty: none
    };
    const leftovers cases[] = {
        {"volumes after the last one written, up to a number missing",
         "20K",
         {"dict-5.pdb", "dict-6.pdb", "dict-8.pdb"},
         "  left alone:      dict-5.pdb, dict-6.pdb: an earlier run's, not written by this one\n"},
        {"the single database beside volumes",
         "20K",
         {"dict.pdb"},
         "  left alone:      dict.pdb: an earlier run's, not written by this one\n"},
        {"volumes beside a single database",
         "1M",
         {"dict-1.pdb", "dict-2.pdb"},
         "  left alone:      dict-1.pdb, dict-2.pdb: an earlier run's, not written by this "
         "one\n"},
        {"volumes written again", "20K", {"dict-1.pdb", "dict-3.pdb"}, ""},
    };
    for (const leftovers& c : cases) {
        scratch_dir dir;
        write_file(dir / "in.txt", source(dictionary(2000)));
        for (const std::string& f : c.earlier) write_file(dir / f, "earlier");
        const run_result run = import({"--max-size", c.max_size, "in.txt", "dict.pdb"}, dir);
        ASSERT_EQ(run.status, 0) << c.what << ": " << run.err;
        EXPECT_EQ(summary_lines(run.err, {"left alone:"}), c.line) << c.what;
        const bool split = c.max_size != "1M";
        // Four volumes of this dictionary in 20K.
        EXPECT_NE(run.err.find(split ? "  volumes:         4 of" : "  volumes:         none"),
                  std::string::npos)
            << c.what;
        for (const std::string& f : c.earlier) {
            const bool written =
                split ? f.find('-') != std::string::npos && f < "dict-5" : f == "dict.pdb";
            EXPECT_EQ(read_file(dir / f) == "earlier", !written) << c.what << ": " << f;
        }
    }
}

// The database name, from the output's file name, in the handheld's set and
// within its 31 bytes, cut between characters; the summary says so.
TEST(ImportVolumes, DatabaseNamesInTheHandheldsSet) {
    struct naming {
        const char* what;
        std::string file;
        std::vector<std::string> options;
        std::string name;  // the name field's bytes, of the first database
        std::string line;  // of the summary
    };
    const std::string long_name = "W\xC3\xB6rterbuch f\xC3\xBCr die Reise und das B\xC3\xBCro";
    const naming cases[] = {
        {"as the set writes it",
         "\xC5\x81\xC3\xB3"
         "d\xC5\xBA.pdb",
         {"--charset", "CP1252"},
         "L\xF3"
         "dz",
         "  database name:   L\xC3\xB3"
         "dz: the file's name as CP1252 writes it\n"},
        {"written whole", "W\xC3\xB6rter.pdb", {"--charset", "CP1252"}, "W\xF6rter", ""},
        {"cut in the set",
         long_name + ".pdb",
         {"--charset", "CP1252"},
         "W\xF6rterbuch f\xFCr die Reise und da",
         "  database name:   W\xC3\xB6rterbuch f\xC3\xBCr die Reise und da: the file's name cut "
         "to 31 bytes\n"},
        {"cut before a UTF-8 character",
         "W\xC3\xB6rterbuch f\xC3\xBCr \xC3\x9C"
         "bersetzer K\xC3\xB6"
         "che.pdb",
         {},
         "W\xC3\xB6rterbuch f\xC3\xBCr \xC3\x9C"
         "bersetzer K",
         "  database name:   W\xC3\xB6rterbuch f\xC3\xBCr \xC3\x9C"
         "bersetzer K: the file's "
         "name cut to 31 bytes\n"},
        {"volumes",
         long_name + ".pdb",
         {"--charset", "CP1252", "--max-size", "20K"},
         "W\xF6rterbuch f\xFCr die Reise und -1",
         "  database names:  W\xC3\xB6rterbuch f\xC3\xBCr die Reise und -1 to W\xC3\xB6rterbuch "
         "f\xC3\xBCr die Reise und -4: the file's name cut to 31 bytes\n"},
    };
    for (const naming& c : cases) {
        scratch_dir dir;
        write_file(dir / "in.txt", source(dictionary(2000)));
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"in.txt", c.file});
        const run_result run = import(args, dir);
        ASSERT_EQ(run.status, 0) << c.what << ": " << run.err;
        EXPECT_EQ(summary_lines(run.err, {"database name"}), c.line) << c.what;
        std::string first = c.file;
        if (std::find(c.options.begin(), c.options.end(), "--max-size") != c.options.end())
            first = import::volume_file_name(c.file, 1);
        const std::string pdb = read_file(dir / first);
        EXPECT_EQ(pdb.substr(0, pdb.find('\0')), c.name) << c.what;
    }
}

TEST(ImportVolumes, MaxSizeIsForADatabaseOfAFileAndASize) {
    scratch_dir dir;
    write_file(dir / "in.txt", source(dictionary(10)));
    const struct {
        std::vector<std::string> args;
        std::string message;
    } refusals[] = {
        {{"--max-size", "8G", "in.txt", "d.pdb"},
         "--max-size 8G is not a size: bytes, or a number with K or M (1024-based), up to "
         "2048M"},
        {{"--max-size=0", "in.txt", "d.pdb"},
         "--max-size 0 is not a size: bytes, or a number with K or M (1024-based), up to 2048M"},
        {{"--max-size", "8M", "in.txt", "d.txt"},
         "--max-size is for an OUTPUT.pdb: a source is compiled whole"},
    };
    for (const auto& r : refusals) {
        const run_result run = import(r.args, dir);
        EXPECT_EQ(run.status, 2) << r.message;
        EXPECT_EQ(run.err, "lexaro-import: " + r.message + "\n" + import::usage_line);
    }
    EXPECT_EQ(dir.files(), std::vector<std::string>{"in.txt"});
}

TEST(Volumes, SizesInBytesOrWithKOrM) {
    const struct {
        const char* text;
        std::optional<uint64_t> size;
    } cases[] = {
        {"1", 1},
        {"8M", 8388608},
        {"8m", 8388608},
        {"200K", 204800},
        {"1536k", 1572864},
        {"2048M", uint64_t{1} << 31},
        {"2097152K", uint64_t{1} << 31},
        {"2147483648", uint64_t{1} << 31},
        {"2147483649", std::nullopt},
        {"2049M", std::nullopt},
        {"99999999999", std::nullopt},
        {"0", std::nullopt},
        {"0K", std::nullopt},
        {"", std::nullopt},
        {"K", std::nullopt},
        {"8MB", std::nullopt},
        {"8 M", std::nullopt},
        {"8G", std::nullopt},
        {"-1", std::nullopt},
        {"1.5M", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(size_from(c.text), c.size) << c.text;
}

TEST(Volumes, FileNamesAndLeftovers) {
    EXPECT_EQ(import::volume_file_name("dict.pdb", 1), "dict-1.pdb");
    EXPECT_EQ(import::volume_file_name("a.b/c.d/x.y.pdb", 12), "a.b/c.d/x.y-12.pdb");
    scratch_dir dir;
    for (const char* f : {"d.pdb", "d-1.pdb", "d-2.pdb", "d-3.pdb", "d-5.pdb"})
        write_file(dir / f, "");
    using names = std::vector<std::string>;
    EXPECT_EQ(import::earlier_files(dir / "d.pdb", 0),
              (names{dir / "d-1.pdb", dir / "d-2.pdb", dir / "d-3.pdb"}));
    EXPECT_EQ(import::earlier_files(dir / "d.pdb", 2), (names{dir / "d.pdb", dir / "d-3.pdb"}));
    EXPECT_EQ(import::earlier_files(dir / "d.pdb", 4), (names{dir / "d.pdb", dir / "d-5.pdb"}));
    EXPECT_EQ(import::earlier_files(dir / "d.pdb", 5), (names{dir / "d.pdb"}));
    dir.remove("d.pdb");
    EXPECT_EQ(import::earlier_files(dir / "d.pdb", 3), names{});
}

TEST(Volumes, DatabaseNamesWithin31BytesAtACharacter) {
    std::string problem;
    auto cp1252 = charset_encoder::open("CP1252", problem);
    auto shift_jis = charset_encoder::open("Shift_JIS", problem);
    ASSERT_TRUE(cp1252 && shift_jis) << problem;
    const std::string a30(30, 'a');
    const std::string japanese =
        "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // 日本語, 6 bytes in Shift_JIS
    const std::string sjis = "\x93\xFA\x96\x7B\x8C\xEA";
    const struct {
        std::string base, suffix;
        charset_encoder* encoder;
        std::string bytes;
        bool changed, cut;
    } cases[] = {
        {"dict", "", nullptr, "dict", false, false},
        {a30 + "b", "", nullptr, a30 + "b", false, false},
        {a30 + "bc", "", nullptr, a30 + "b", false, true},
        {a30 + "\xC3\xB6", "", nullptr, a30, false, true},  // ö would take bytes 31 and 32
        {a30 + "b", "-12", nullptr, std::string(28, 'a') + "-12", false, true},
        {"W\xC3\xB6rter", "", cp1252.get(), "W\xF6rter", false, false},
        {"\xC5\x81\xC3\xB3"
         "d\xC5\xBA",
         "-1", cp1252.get(),
         "L\xF3"
         "dz-1",
         true, false},
        {a30 + "\xC3\xB6", "", cp1252.get(), a30 + "\xF6", false, false},
        {a30 + "b\xC5\x81", "", cp1252.get(), a30 + "b", false, true},  // cut before the Ł
        {japanese + japanese + japanese + japanese + japanese + japanese, "", shift_jis.get(),
         sjis + sjis + sjis + sjis + sjis, false, true},  // 15 characters of 18
        {japanese + japanese + japanese + japanese + japanese, "-1", shift_jis.get(),
         sjis + sjis + sjis + sjis + "\x93\xFA\x96\x7B-1", false, true},
    };
    for (const auto& c : cases) {
        const import::handheld_name name = database_name_for(c.base, c.suffix, c.encoder);
        EXPECT_EQ(name.bytes, c.bytes) << c.base << c.suffix;
        EXPECT_EQ(name.changed, c.changed) << c.base << c.suffix;
        EXPECT_EQ(name.cut, c.cut) << c.base << c.suffix;
        EXPECT_LE(name.bytes.size(), 31u);
    }
}

TEST(Volumes, TitlesKeepTheirRangeWithinTheField) {
    const import::character_cut utf8 = [](std::string_view text, std::size_t max_size) {
        return import::cut_at_character(text, max_size).size();
    };
    std::string problem;
    auto decoder = charset_decoder::open("Shift_JIS", problem);
    ASSERT_TRUE(decoder) << problem;
    const import::character_cut shift_jis = [&](std::string_view text, std::size_t max_size) {
        std::string out;
        return text.size() <= max_size ? text.size()
                                       : decoder->decode(text.substr(0, max_size), out, true);
    };
    const std::string dash = " \xE2\x80\x93 ";  // 5 bytes
    const struct {
        const char* what;
        std::string title, first, last;
        import::character_cut cut;
        std::string expected;
    } cases[] = {
        {"all of it", "German - English", "Aal", "Fenster", utf8,
         "German - English (Aal \xE2\x80\x93 Fenster)"},
        {"exactly 256 bytes", std::string(246, 't'), "a", "b", utf8,
         std::string(246, 't') + " (a" + dash + "b)"},
        {"the title cut for the range", std::string(247, 't'), "a", "b", utf8,
         std::string(246, 't') + " (a" + dash + "b)"},
        {"the title cut before a character", "t" + std::string(122, 'x') + "\xC3\xB6\xC3\xB6",
         std::string(121, 'a'), "b", utf8,
         "t" + std::string(122, 'x') + "\xC3\xB6 (" + std::string(121, 'a') + dash + "b)"},
        {"a range too long for the field", "Title", std::string(200, 'a'), std::string(200, 'b'),
         utf8, "Title (" + std::string(200, 'a') + dash + std::string(44, 'b')},
        {"a range cut before a character", "T", std::string(245, 'a'), "\xC3\xB6\xC3\xB6", utf8,
         "T (" + std::string(245, 'a') + dash + "\xC3\xB6"},
        {"in a set of two bytes a character", std::string(243, 't') + "\x93\xFA\x96\x7B", "a", "b",
         shift_jis, std::string(243, 't') + "\x93\xFA (a" + dash + "b)"},
        {"a trail byte that looks like ASCII", std::string(245, 't') + "\x96\x7B", "a", "b",
         shift_jis, std::string(245, 't') + " (a" + dash + "b)"},
    };
    for (const auto& c : cases) {
        const std::string title = volume_title(c.title, c.first, c.last, dash, c.cut);
        EXPECT_EQ(title, c.expected) << c.what;
        EXPECT_LE(title.size(), 256u) << c.what;
    }
}

TEST(Volumes, LargeDatabasesAreWarnedOfAbove16Megabytes) {
    import::database_facts d;
    d.file = "dict.pdb";
    d.file_size = 16777216;
    EXPECT_EQ(import::size_warning(d), std::nullopt);
    d.file_size = 16777217;
    EXPECT_EQ(import::size_warning(d),
              "warning: dict.pdb takes 16777217 bytes, more than a handheld of 16 MB holds; "
              "--max-size SIZE cuts it into volumes of at most SIZE bytes, such as --max-size 8M");
}

}  // namespace
}  // namespace lexaro::test
