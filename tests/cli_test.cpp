// End to end: the real binary in a scratch folder; exact standard output,
// exit status and the files left behind.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>

#include "common/big_endian.h"
#include "test_support.h"

namespace lexaro {
namespace {

namespace fs = std::filesystem;
using test::progress;
using files = std::vector<std::string>;

const std::string three_entries = "T\na$1\nb$2\nc$3\n";

class Cli : public testing::Test {
protected:
    test::run_result run(const std::vector<std::string>& args, long file_size_limit = 0) {
        return test::run_lexaro(args, dir.path(), file_size_limit);
    }
    void write(const std::string& name, std::string_view content) {
        test::write_file(dir / name, content);
    }
    test::scratch_dir dir;
};

TEST_F(Cli, WrongArgumentCountPrintsUsageOnly) {
    write("d.txt", three_entries);
    for (const auto& args : {std::vector<std::string>{}, {"d.txt", "500", "x"}}) {
        const auto r = run(args);
        EXPECT_EQ(r.out, "usage: lexaro filename [words_per_block]\n");
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(dir.files(), files{"d.txt"});
    }
}

TEST_F(Cli, CompilesASourceIntoADatabase) {
    write("d.txt", three_entries);
    const auto r = run({"d.txt"});
    EXPECT_EQ(r.out, "1\r2\r3\r");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.files(), (files{"d.pdb", "d.txt"}));
}

TEST_F(Cli, BadWordsPerBlockWarnsFirstAndUses500) {
    write("d.txt", three_entries);
    for (const char* value : {"99", "10001", "abc", "", "12x", "4294967396"}) {
        const auto r = run({"d.txt", value});
        EXPECT_EQ(r.out, "bad value for words_per_block parameter, using 500\n1\r2\r3\r") << value;
        EXPECT_EQ(r.status, 0);
        const std::string db = test::read_file(dir / "d.pdb");
        EXPECT_EQ(get_u16(reinterpret_cast<const uint8_t*>(db.data()) + 88 + 4), 500) << value;
    }
    const auto r = run({"d.txt", " 250abc"});
    EXPECT_EQ(r.out, "1\r2\r3\r");
    const std::string db = test::read_file(dir / "d.pdb");
    EXPECT_EQ(get_u16(reinterpret_cast<const uint8_t*>(db.data()) + 88 + 4), 250);
}

TEST_F(Cli, FatalErrorsSayWhatAndWhereAndLeaveTheFilesAsTheyWere) {
    struct {
        const char* what;
        std::string source;  // written to d.txt unless empty
        std::vector<std::string> args;
        std::string out;
        files left;
    } cases[] = {
        {"missing source", "", {"nothing.txt"}, "\nerror: can't open file nothing.txt\n", {}},
        {"no separator",
         "T\na$1\nb$2\nno separator\nc$3\n",
         {"d.txt"},
         "1\r2\r\nerror: '$' (word/translation separator) not found: no separator\n",
         {"d.tmp", "d.txt"}},
        {"empty line",
         "T\na$1\n\nc$3\n",
         {"d.txt"},
         "1\r\nerror: '$' (word/translation separator) not found: \n",
         {"d.tmp", "d.txt"}},
        {"empty last line",
         "T\na$1\n\n",
         {"d.txt"},
         "1\r\nerror: '$' (word/translation separator) not found: \n",
         {"d.tmp", "d.txt"}},
        {"zero byte without separator",
         std::string("T\nab\0cd\n", 8),
         {"d.txt"},
         "\nerror: '$' (word/translation separator) not found: ab\n",
         {"d.tmp", "d.txt"}},
        {"zero byte in entry",
         std::string("T\na$1\nab$c\0d\n", 13),
         {"d.txt"},
         "1\r\nerror: zero byte in source line: ab$c\n",
         {"d.tmp", "d.txt"}},
    };
    for (const auto& c : cases) {
        dir.clear();
        if (!c.source.empty()) write("d.txt", c.source);
        const auto r = run(c.args);
        EXPECT_EQ(r.out, c.out) << c.what;
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(dir.files(), c.left) << c.what;
        // A stream cut short keeps its placeholder; no block was cut yet.
        if (test::exists(dir / "d.tmp")) {
            EXPECT_EQ(test::read_file(dir / "d.tmp"), std::string(286, '\0'));
        }
    }
}

TEST_F(Cli, SourceThatIsADirectoryCannotBeOpened) {
    fs::create_directory(dir / "words");
    const auto r = run({"words"});
    EXPECT_EQ(r.out, "\nerror: can't open file words\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.files(), files{"words"});
}

TEST_F(Cli, SourceThatFailsToReadIsNotAnEmptyDictionary) {
    if (test::on_windows) GTEST_SKIP() << "no file there fails to read after it opens";
    // Reading a process's memory at address 0 fails with an I/O error.
    ASSERT_TRUE(test::make_symlink("/proc/self/mem", dir / "d.txt"));
    const auto r = run({"d.txt"});
    EXPECT_EQ(r.out, "\nerror: can't read file d.txt\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.files(), (files{"d.tmp", "d.txt"}));
}

// Runs lexaro on the source, which another name leads to; the run must stop
// before it writes anything.
void expect_refused(test::scratch_dir& dir, const std::string& source, const std::string& other) {
    const auto r = test::run_lexaro({source}, dir.path());
    EXPECT_EQ(r.out, "\nerror: output file would overwrite the source file " + other + "\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(test::read_file(dir / source), three_entries) << source;
    EXPECT_EQ(dir.files().size(), 2u) << source;
    dir.clear();
}

TEST_F(Cli, NeverWritesOverItsOwnSource) {
    for (const char* source : {"d.tmp", "d.pdb"}) {
        write(source, three_entries);
        const auto r = run({source});
        EXPECT_EQ(r.out, std::string("\nerror: output file would overwrite the source file ") +
                             source + "\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(dir.files(), files{source});
        dir.clear();
    }
    // A hard link under another name is the same file too.
    for (const char* other : {"e.tmp", "e.pdb"}) {
        write("e.txt", three_entries);
        fs::create_hard_link(dir / "e.txt", dir / other);
        expect_refused(dir, "e.txt", other);
    }
}

TEST_F(Cli, NeverWritesOverItsOwnSourceThroughASymbolicLink) {
    for (const char* link : {"d.tmp", "d.pdb"}) {
        write("d.txt", three_entries);
        if (!test::make_symlink("d.txt", dir / link)) GTEST_SKIP() << "no symbolic links here";
        expect_refused(dir, "d.txt", link);
    }
}

TEST_F(Cli, ASecondRunReplacesTheDatabaseOfTheFirst) {
    write("d.txt", three_entries);
    ASSERT_EQ(run({"d.txt"}).status, 0);
    const std::string first = test::read_file(dir / "d.pdb");
    write("d.txt", "T\na$1\n");
    const auto r = run({"d.txt"});
    EXPECT_EQ(r.out, "1\r");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.files(), (files{"d.pdb", "d.txt"}));
    EXPECT_LT(test::read_file(dir / "d.pdb").size(), first.size());
}

TEST_F(Cli, OutputsThatCannotBeCreated) {
    write("d.txt", three_entries);
    fs::create_directory(dir / "d.tmp");
    auto r = run({"d.txt"});
    EXPECT_EQ(r.out, "\nerror: can't create file d.tmp\n");
    EXPECT_EQ(r.status, 1);
    dir.remove("d.tmp");

    fs::create_directory(dir / "d.pdb");
    r = run({"d.txt"});
    EXPECT_EQ(r.out, "1\r2\r3\r\nerror: can't create file d.pdb\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.files(), (files{"d.pdb", "d.tmp", "d.txt"}));  // the stream is kept
}

// 99 entries a$b and one entry big_word$big_translation in a block of 100:
// words and translations with their zero bytes fill 396 + 2 + the two lengths.
std::string block_of(std::size_t big_word, std::size_t big_translation) {
    std::string source = "T\n";
    for (int i = 0; i < 99; ++i) source += "a$b\n";
    return source + std::string(big_word, 'w') + "$" + std::string(big_translation, 't') + "\n";
}

TEST_F(Cli, UncompressedBlockMayFillBlockbufExactly) {
    const char* full =
        "\nerror: not enough space in blockbuf, try to decrease words_per_block parameter\n";
    struct {
        std::size_t word, translation;
        bool fits;
    } cases[] = {
        {999602, 0, true},      {0, 999602, true},
        {500000, 499602, true}, {999603, 0, false},  // the words fit, the translations overflow
        {0, 999603, false},     {999803, 0, false},  // overflow among the words
    };
    for (const auto& c : cases) {
        write("d.txt", block_of(c.word, c.translation));
        const auto r = run({"d.txt", "100"});
        EXPECT_EQ(r.out, c.fits ? progress(100) : progress(100) + full)
            << c.word << "+" << c.translation;
        EXPECT_EQ(r.status, c.fits ? 0 : 1);
        EXPECT_EQ(test::exists(dir / "d.pdb"), c.fits);
        if (!c.fits) {
            EXPECT_EQ(test::read_file(dir / "d.tmp"), std::string(286, '\0'));
        }
        dir.remove("d.pdb");
        dir.remove("d.tmp");
    }
}

TEST_F(Cli, IncompressibleBlockFailsToCompress) {
    // A first block of 100 small entries is cut and kept; the second holds one
    // translation of random bytes that deflate cannot fit in 1,000,000 bytes.
    std::string source = block_of(1, 1);
    write("d.txt", source + "x$" + test::noise(999990) + "\n");
    const auto r = run({"d.txt", "100"});
    EXPECT_EQ(r.out, progress(101) + "\nerror: compress() failed\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.files(), (files{"d.tmp", "d.txt"}));
    const std::string stream = test::read_file(dir / "d.tmp");
    ASSERT_GT(stream.size(), 286u);
    EXPECT_EQ(stream.substr(0, 286), std::string(286, '\0'));
    std::vector<std::pair<std::string, std::string>> first(99, {"a", "b"});
    first.emplace_back("w", "t");
    EXPECT_EQ(test::inflate(stream.substr(286)), test::uncompressed_block(first));
}

TEST_F(Cli, FailedWritesAreReportedAndNoBrokenDatabaseIsLeft) {
    if (test::on_windows) GTEST_SKIP() << "no file-size limit to make a write fail";
    write("d.txt", three_entries);
    ASSERT_EQ(run({"d.txt"}).status, 0);
    const std::size_t stream_size = test::read_file(dir / "d.pdb").size() - 88;
    dir.remove("d.pdb");

    // The temporary file cannot grow past 100 bytes.
    auto r = run({"d.txt"}, 100);
    EXPECT_EQ(r.out, "1\r2\r3\r\nerror: can't write file d.tmp\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.files(), (files{"d.tmp", "d.txt"}));

    // The stream fits, the database does not: it is removed, the stream kept.
    r = run({"d.txt"}, static_cast<long>(stream_size + 40));
    EXPECT_EQ(r.out, "1\r2\r3\r\nerror: can't write file d.pdb\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.files(), (files{"d.tmp", "d.txt"}));
    EXPECT_EQ(test::read_file(dir / "d.tmp").size(), stream_size);
}

TEST_F(Cli, SampleDictionaryBecomesADatabaseHoldingItsStream) {
    const std::string source = test::read_file(LEXARO_EXAMPLES "/en-fr.txt");
    write("en-fr.txt", source);
    const auto r = run({"en-fr.txt", "100"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(dir.files(), (files{"en-fr.pdb", "en-fr.txt"}));

    std::vector<std::pair<std::string, std::string>> entries;
    std::size_t line_start = source.find('\n') + 1;
    for (std::size_t end; (end = source.find('\n', line_start)) != std::string::npos;
         line_start = end + 1) {
        const std::string line = source.substr(line_start, end - line_start);
        entries.emplace_back(line.substr(0, line.find('$')), line.substr(line.find('$') + 1));
    }
    ASSERT_GT(entries.size(), 300u);
    EXPECT_EQ(r.out, progress(static_cast<uint32_t>(entries.size())));

    const std::string db = test::read_file(dir / "en-fr.pdb");
    const auto* bytes = reinterpret_cast<const uint8_t*>(db.data());
    const uint32_t n = get_u16(bytes + 76);
    EXPECT_EQ(db.substr(0, 32), "en-fr" + std::string(27, '\0'));
    EXPECT_EQ(db.substr(60, 8), "DIdaQzvk");
    EXPECT_EQ(n, (db.size() - 80 - 8 * n) / 32768 + 1);
    for (uint32_t i = 0; i < n; ++i) EXPECT_EQ(get_u32(bytes + 78 + 8 * i), 80 + 8 * n + 32768 * i);

    const test::parsed_stream s = test::parse_stream(std::string_view(db).substr(80 + 8 * n));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.header.title.data())),
              source.substr(0, source.find('\n')));
    EXPECT_EQ(s.header.entry_count, entries.size());
    ASSERT_EQ(s.blocks.size(), (entries.size() + 99) / 100);
    for (std::size_t b = 0; b < s.blocks.size(); ++b) {
        const auto first = entries.begin() + static_cast<long>(b * 100);
        const auto last = b + 1 == s.blocks.size() ? entries.end() : first + 100;
        EXPECT_EQ(s.blocks[b], test::uncompressed_block({first, last})) << b;
    }
    EXPECT_EQ(s.header.index_offset + 12 * s.blocks.size(), db.size() - 80 - 8 * n);
}

TEST_F(Cli, AtMost65535Blocks) {
    // 100 entries a block at the smallest block size: 65535 blocks fit the
    // 16-bit block_count, a 65536th is refused before it is written.
    std::string source = "T\n";
    for (int i = 0; i < 65535 * 100; ++i) source += "a$\n";
    write("d.txt", source);
    auto r = run({"d.txt", "100"});
    EXPECT_EQ(r.status, 0);
    const std::string db = test::read_file(dir / "d.pdb");
    const uint32_t n = get_u16(reinterpret_cast<const uint8_t*>(db.data()) + 76);
    EXPECT_EQ(get_u16(reinterpret_cast<const uint8_t*>(db.data()) + 80 + 8 * n + 2), 65535);

    write("d.txt", source + "b$\n");
    r = run({"d.txt", "100"});
    const std::string tail =
        "6553501\r\nerror: too many blocks, try to increase words_per_block parameter\n";
    EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.files(), (files{"d.pdb", "d.tmp", "d.txt"}));
}

}  // namespace
}  // namespace lexaro
