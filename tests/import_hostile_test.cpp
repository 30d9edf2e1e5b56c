// lexaro-import on hostile and unusual input, end to end: pipes, character
// sets and separators that collide with the source format, compressed files
// that lie about their sizes, pathological lines, and the block size advice
// checked against lexaro itself. Memory cases run under an address-space
// limit far below what holding the input would take, time cases under a
// processor-time limit far above what linear work takes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

#include "format_test_support.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

using namespace std::string_literals;

// Enough address space for the program and its buffers (it needs about
// 24 MiB on a small dictionary), far less than the inputs that run in it.
constexpr uint64_t small_address_space = 48u << 20;

run_result import_within(const std::vector<std::string>& args, const scratch_dir& dir,
                         uint64_t address_space = small_address_space, long cpu_seconds = 0) {
    run_options options;
    // The sanitizer's shadow memory needs terabytes of address space.
    if (!address_sanitizer) options.address_space_limit = static_cast<long>(address_space);
    options.cpu_seconds_limit = cpu_seconds;
    return run_program_with(LEXARO_IMPORT_BINARY, args, dir.path(), options);
}

// Runs a shell command line in the folder; its status.
int shell(const scratch_dir& dir, const std::string& command) {
    const int status = std::system(("cd '" + dir.path() + "' && " + command).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string numbered_tab(int count) {
    std::string tab;
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(10000 + i);
        tab += "word" + n + "\ttranslation " + n + "\n";
    }
    return tab;
}

std::size_t lines_of(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(HostileInputs, APipeIsReadOnceWhateverItHolds) {
    scratch_dir dir;
    const std::string tab = numbered_tab(3000);
    write_file(dir / "d.tab", tab);
    write_file(dir / "d.tab.gz", gzip_bytes(tab));
    const std::string program = LEXARO_IMPORT_BINARY;
    ASSERT_EQ(shell(dir, program + " d.tab file.txt 2>/dev/null"), 0);
    const std::string from_file = read_file(dir / "file.txt");
    ASSERT_EQ(lines_of(from_file), 3001u);
    const std::string body = from_file.substr(from_file.find('\n'));
    for (const char* command : {"cat d.tab | $P /dev/stdin out.txt", "cat d.tab | $P - out.txt",
                                "cat d.tab.gz | $P /dev/stdin out.txt",
                                "cat d.tab.gz | $P - out.txt", "$P - out.txt < d.tab.gz"}) {
        std::string line = command;
        line.replace(line.find("$P"), 2, program);
        ASSERT_EQ(shell(dir, line + " 2>err.txt"), 0) << command << read_file(dir / "err.txt");
        const std::string out = read_file(dir / "out.txt");
        EXPECT_EQ(out.substr(out.find('\n')), body) << command;
        EXPECT_NE(read_file(dir / "err.txt").find("  entries read:    3000\n"), std::string::npos)
            << command;
    }
    // Formats read from files side by side say so.
    EXPECT_EQ(shell(dir, "cat d.tab | " + program + " --format dictd - out2.txt 2>err.txt"), 1);
    EXPECT_EQ(read_file(dir / "err.txt"),
              "lexaro-import: -: dictd dictionaries are read from their files, which lie side "
              "by side; name one of them, not standard input\n");
    EXPECT_FALSE(exists(dir / "out2.txt"));
}

// The words that the summary's "dropped:" line counts as SET cannot write.
std::size_t unwritable_words(const std::string& summary, const std::string& set) {
    const std::size_t line = summary.find("\n  dropped:");
    const std::size_t end = summary.find(" that " + set + " cannot write\n", line);
    if (line == std::string::npos || end == std::string::npos) return 0;
    std::size_t start = end;
    while (start > 0 && summary[start - 1] >= '0' && summary[start - 1] <= '9') --start;
    return std::stoul(summary.substr(start, end - start));
}

TEST(HostileCharsets, TheSourceStaysOneEntryALineInEverySet) {
    // Every 7th character of the Basic Multilingual Plane past ASCII, each
    // in a word of its own (a word that the set cannot write is left out),
    // the last 40 of them in its translation, and the characters that mean
    // something in a source line.
    std::string tab;
    int entries = 0;
    std::string word;
    for (char32_t c = 0xA0; c < 0xFFFE; c += 7) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        std::string utf8;
        if (c < 0x800) {
            utf8 = {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
        } else {
            utf8 = {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                    static_cast<char>(0x80 | (c & 0x3F))};
        }
        word += utf8;
        const std::string n = std::to_string(entries++);
        // A '$' in a word becomes U+FF04, which few sets write: one word in ten.
        tab += "w" + n + utf8 + (entries % 10 == 0 ? "$" : "") + "\tt" + n + word + "$\\n\x1A\r\n";
        if (word.size() > 80) word.clear();
    }
    scratch_dir dir;
    write_file(dir / "in.tab", tab);
    for (const char* set : {"CP1252", "CP1250", "CP1251", "CP1253", "CP1254", "CP1255", "CP1256",
                            "CP1257", "CP1258", "KOI8-R", "KOI8-U", "ISO-8859-5", "CP437", "CP850",
                            "CP866", "CP922", "CP1125", "IBM932", "IBM943", "Shift_JIS", "CP932",
                            "EUC-JP", "EUC-KR", "Big5", "BIG5-HKSCS", "GB2312", "GBK", "GB18030",
                            "CP949", "TIS-620", "VISCII", "CP1252//TRANSLIT", "CP1252//IGNORE",
                            "ISO-2022-JP", "ISO-2022-KR", "UTF-16", "UTF-7", "UTF-32", "UCS-2"}) {
        SCOPED_TRACE(set);
        const run_result run = run_lexaro_import({"--charset", set, "in.tab", "out.txt"}, dir.path());
        if (run.status == 2) {
            EXPECT_NE(run.err.find("character set"), std::string::npos) << run.err;
            EXPECT_FALSE(exists(dir / "out.txt"));
            continue;
        }
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string out = read_file(dir / "out.txt");
        const std::size_t dropped = unwritable_words(run.err, set);
        EXPECT_GT(lines_of(out), 10u) << run.err;
        EXPECT_EQ(lines_of(out) + dropped, static_cast<std::size_t>(entries) + 1);
        EXPECT_EQ(out.find_first_of("\r\x1A"), std::string::npos);
        // Each line after the title: a word without '$', then '$'.
        std::size_t start = out.find('\n') + 1;
        while (start < out.size()) {
            const std::size_t end = out.find('\n', start);
            const std::string_view line(out.data() + start, end - start);
            // The word starts with "w", the translation with "t": a '$' that
            // a set wrote inside a word would start the translation early.
            EXPECT_EQ(line.substr(0, 1), "w");
            ASSERT_NE(line.find('$'), std::string_view::npos);
            EXPECT_EQ(line.substr(line.find('$') + 1, 1), "t") << line.substr(0, 40);
            start = end + 1;
        }
        dir.remove("out.txt");
    }
}

TEST(HostileSeparators, LineEndsAnd0x1AAreRefusedBeforeAnythingIsWritten) {
    const std::string usage = "usage: lexaro-import [options] INPUT... OUTPUT.pdb|OUTPUT.txt\n";
    const std::string why = " must not hold a line feed, a carriage return or 0x1A: each entry is "
                            "one line of the source\n";
    struct refused {
        std::vector<std::string> args;
        std::string message;
    };
    const refused cases[] = {
        {{"--newline", "\n"}, "--newline" + why},
        {{"--newline=a\rb"}, "--newline" + why},
        {{"--join", " \x1A "}, "--join" + why},
        {{"--join=\r\n"}, "--join" + why},
    };
    for (const refused& c : cases) {
        scratch_dir dir;
        write_file(dir / "in.tab", "a\tb\\nc\n");
        write_file(dir / "out.txt", "old");
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"in.tab", "out.txt"});
        const run_result run = run_lexaro_import(args, dir.path());
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "lexaro-import: " + c.message + usage);
        EXPECT_EQ(read_file(dir / "out.txt"), "old");
        EXPECT_EQ(dir.files(), (std::vector<std::string>{"in.tab", "out.txt"}));
    }
}

std::string ifo(const std::string& name, uint64_t wordcount, uint64_t idxfilesize,
                const std::string& more = "") {
    return "StarDict's dict ifo file\nversion=2.4.2\nbookname=" + name +
           "\nwordcount=" + std::to_string(wordcount) +
           "\nidxfilesize=" + std::to_string(idxfilesize) + "\n" + more;
}

TEST(HostileCompressed, SizesAreCheckedAgainstTheBytesThereNotHeld) {
    if (!have_program("dictzip")) GTEST_SKIP() << "dictzip is not installed";
    scratch_dir dir;
    const uint64_t big = 64u << 20;  // more than the address space the runs get
    const std::string bytes(big, 'x');

    // A gzip file (not dictzip) under an index naming far more than it holds.
    write_file(dir / "a.dict.dz", gzip_bytes(bytes));
    write_file(dir / "a.index", "w\tA\t" + dictd_number(uint64_t{1} << 40) + "\n");
    // A dictzip file whose index names one article of 64 MiB, then a small one.
    write_file(dir / "b.dict", bytes + "small\nthing");
    ASSERT_TRUE(dictzip(dir / "b.dict"));
    dir.remove("b.dict");
    write_file(dir / "b.index", "big\tA\t" + dictd_number(big) + "\nsmall\t" + dictd_number(big) +
                                    "\tL\n");
    // An index of zeros under wordcount=1, and an .ifo that claims its size.
    write_file(dir / "c.idx.gz", gzip_bytes(std::string(big, '\0')));
    write_file(dir / "c.dict", "hello");
    write_file(dir / "c.ifo", ifo("c", 1, big, "sametypesequence=m\n"));
    // A StarDict article of 16 MiB in one-byte fields, beside a small one.
    std::string fields;
    while (fields.size() < (16u << 20)) fields += "mx"s + '\0';
    write_file(dir / "d.dict", fields + "mok");
    const std::string idx = "huge\0"s + be32(0) + be32(static_cast<uint32_t>(fields.size())) +
                            "ok\0"s + be32(static_cast<uint32_t>(fields.size())) + be32(3);
    write_file(dir / "d.idx", idx);
    write_file(dir / "d.ifo", ifo("d", 2, idx.size()));
    // Synonyms in X.syn.dz.
    write_file(dir / "e.dict", "apple");
    const std::string e_idx = "apple\0"s + be32(0) + be32(5);
    write_file(dir / "e.idx", e_idx);
    write_file(dir / "e.syn.dz", gzip_bytes("pomme\0"s + be32(0)));
    write_file(dir / "e.ifo", ifo("e", 1, e_idx.size(), "sametypesequence=m\nsynwordcount=1\n"));

    const run_result past_end = import_within({"a.index", "a.txt"}, dir);
    EXPECT_EQ(past_end.status, 1);
    EXPECT_EQ(past_end.err, "lexaro-import: a.dict.dz: 1099511627776 bytes at offset 0 run past "
                            "the end of its data (67108864 bytes), the article of \"w\" in "
                            "a.index\n");
    const run_result claims = import_within({"c.ifo", "c.txt"}, dir);
    EXPECT_EQ(claims.status, 1);
    EXPECT_EQ(claims.err, "lexaro-import: c.idx.gz holds more words than its .ifo says "
                          "(wordcount=1)\n");
    for (const char* input : {"b.index", "d.ifo"}) {
        SCOPED_TRACE(input);
        const run_result run = import_within({input, "out.txt"}, dir);
        EXPECT_EQ(run.status, 0) << run.err;
        const std::string big_word = input[0] == 'b' ? "big" : "huge";
        const std::string small_word = input[0] == 'b' ? "small$thing" : "ok$ok";
        EXPECT_EQ(read_file(dir / "out.txt").substr(read_file(dir / "out.txt").find('\n') + 1),
                  small_word + "\n");
        EXPECT_NE(run.err.find("lexaro-import: warning: dropped \"" + big_word +
                               "\": word and translation take more than 1000000 bytes\n"),
                  std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find("  dropped:         0 with no word, 1 too large for a block\n"),
                  std::string::npos)
            << run.err;
    }
    const run_result synonyms = run_lexaro_import({"e.ifo", "e.txt"}, dir.path());
    EXPECT_EQ(synonyms.status, 0) << synonyms.err;
    EXPECT_EQ(read_file(dir / "e.txt"), "e\napple$apple\npomme$apple\n");
}

TEST(HostileLines, LongLinesAndRepeatsTakeNoMemory) {
    scratch_dir dir;
    // A line of 40 MiB between two entries; lines and records that give no entry.
    write_file(dir / "long.tab",
               "a\tfirst\n" + std::string(40u << 20, 'x') + "\tx\nno tab here\nb\tlast\n");
    const run_result long_line = import_within({"long.tab", "long.txt"}, dir);
    EXPECT_EQ(long_line.status, 0) << long_line.err;
    EXPECT_EQ(read_file(dir / "long.txt"), "long\na$first\nb$last\n");
    EXPECT_NE(long_line.err.find("  skipped:         1 lines longer than 4000000 bytes, the "
                                 "first in long.tab line 2\n"
                                 "  skipped:         1 lines without a tab, the first in long.tab "
                                 "line 3\n"),
              std::string::npos)
        << long_line.err;

    std::string repeats;
    for (int i = 0; i < 2000000; ++i) repeats += i % 2 == 0 ? "a\tb\n" : "c\td\n";
    write_file(dir / "repeats.tab", repeats);
    const run_result repeated = import_within({"repeats.tab", "repeats.txt"}, dir);
    EXPECT_EQ(repeated.status, 0) << repeated.err;
    EXPECT_EQ(read_file(dir / "repeats.txt"), "repeats\na$b\nc$d\n");
    EXPECT_NE(repeated.err.find("  merged:          1999998 entries into the word before them, "
                                "1999998 repeated translations left out\n"),
              std::string::npos)
        << repeated.err;

    write_file(dir / "no-sep.trans", "a :: b\nno separator\n# comment\nc :: d\nalso none\n");
    const run_result trans = run_lexaro_import({"--format=trans", "no-sep.trans", "t.txt"}, dir.path());
    EXPECT_EQ(trans.status, 0) << trans.err;
    EXPECT_NE(trans.err.find("  skipped:         2 lines without \" :: \", the first in "
                             "no-sep.trans line 2\n"),
              std::string::npos)
        << trans.err;
}

// Entries that are all kept take about twice their text: a million distinct
// entries of 11 bytes, out of order, once took six times as much.
TEST(HostileMemory, SmallEntriesTakeAboutTwiceTheirText) {
    scratch_dir dir;
    std::string tab;
    for (uint64_t i = 0; i < 1000000; ++i) {
        const std::string n = std::to_string(1000000 + i * 7919 % 1000000);
        tab += n.substr(1) + "\tabc\n";
    }
    ASSERT_EQ(tab.size(), 11000000u);
    write_file(dir / "small.tab", tab);
    const run_result run =
        import_within({"small.tab", "small.txt"}, dir, small_address_space + 2 * tab.size());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string out = read_file(dir / "small.txt");
    EXPECT_EQ(lines_of(out), 1000001u);
    EXPECT_EQ(out.substr(0, 29), "small\n000000$abc\n000001$abc\n0");
    EXPECT_EQ(out.substr(out.size() - 22), "999998$abc\n999999$abc\n");
}

TEST(HostileTime, PathologicalLinesTakeLinearTime) {
    // A megabyte of what made some step go back over the rest of the line
    // each time: minutes of work when quadratic, milliseconds when not.
    const std::size_t size = 1 << 20;
    const auto repeat = [&](std::string_view piece) {
        std::string text;
        while (text.size() < size) text += piece;
        return text;
    };
    struct slow_case {
        const char* format;
        const char* name;
        std::string input;
    };
    const slow_case cases[] = {
        {"trans", "brackets.txt", "w :: " + repeat("(") + "\n" + repeat("[") + " :: x\n"},
        {"tab", "script.tab", "w\t" + repeat("<script>") + "x\n"},
        // Quoted values that each tag reads into the next one's, to the end.
        {"tab", "quotes.tab", "w\t<b>" + repeat("<a x=\"") + "x\nv\t" + repeat("<a x=\"") + "\n"},
        {"dictcc", "annotations.txt", repeat("{") + "\tx\tnoun\n"},
        {"dsl", "tags.dsl", "#NAME \"x\"\n\nw\n\t" + repeat("[") + "\n"},
        {"xdxf", "keys.xdxf", "<xdxf><ar><k>w</k>" + repeat("<k>") + "</ar><ar><k>" + repeat("<k>") +
                                  "</k>x</ar></xdxf>\n"},
        {"tei", "nested.tei", "<TEI><entry><form><orth>w</orth></form>" + repeat("<sense>") +
                                  "</entry><entry><form>" + repeat("<form><orth>x</orth>") +
                                  "</form></entry>" + repeat("<a></a>") + "</TEI>"},
        {"tei", "ends.tei", "<TEI>" + repeat("</sense>") + repeat("<!a>") + repeat("< &") + "</TEI>"},
        {"tei", "spellings.tei", "<TEI><entry><form>" + [&] {
             std::string orths;
             for (int i = 0; orths.size() < size; ++i) orths += "<orth>" + std::to_string(i) + "</orth>";
             return orths;
         }() + "</form></entry></TEI>"},
    };
    for (const slow_case& c : cases) {
        SCOPED_TRACE(c.format);
        scratch_dir dir;
        write_file(dir / c.name, c.input);
        const run_result run = import_within({"--format", c.format, c.name, "out.txt"}, dir,
                                             256u << 20, 60);
        EXPECT_EQ(run.status, 0) << run.err;
    }
}

TEST(HostileTime, ManyPartsOfOneArticleTakeLinearTime) {
    // Each part once went over the article or the rest of the file again.
    struct slow_case {
        const char* what;
        const char* name;
        std::string input;
        std::size_t lines;  // of the source written
    };
    std::string keys = "<xdxf><ar>", titles = "<xdxf>", headwords = "#NAME \"x\"\n\n";
    for (int i = 0; i < 40000; ++i) keys += "<k>w" + std::to_string(i) + "</k>";
    for (int i = 0; i < 150000; ++i) titles += "<full_name>x";
    for (int i = 0; i < 250000; ++i) headwords += "w" + std::to_string(i) + "\n";
    const slow_case cases[] = {
        {"keys of one XDXF article", "keys.xdxf", keys + "text</ar></xdxf>\n", 40001},
        {"XDXF title tags that never close", "titles.xdxf", titles + "<ar><k>a</k>b</ar></xdxf>\n",
         2},
        {"headword lines of one DSL card", "headwords.dsl", headwords + "\ttext\n", 250001},
    };
    for (const slow_case& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir dir;
        write_file(dir / c.name, c.input);
        const run_result run = import_within({c.name, "out.txt"}, dir, 256u << 20, 60);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(lines_of(read_file(dir / "out.txt")), c.lines);
    }
}

// The words_per_block that lexaro-import advises for a source, from its summary.
int advised(const run_result& run) {
    const std::string mark = "  words_per_block: ";
    const std::size_t at = run.err.find(mark);
    return at == std::string::npos ? 0 : std::atoi(run.err.c_str() + at + mark.size());
}

TEST(HostileAdvice, EverySettingUpToTheAdviceCompiles) {
    std::mt19937 random(20261209);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        // 400 small entries and four of about 340,000 bytes at random
        // places: any two share a block, no three do.
        std::vector<std::pair<std::string, std::string>> entries;
        for (int i = 0; i < 400; ++i)
            entries.push_back({"w" + std::to_string(1000 + i), "small " + std::to_string(i)});
        for (int k = 0; k < 4; ++k) {
            const std::size_t at = std::uniform_int_distribution<std::size_t>(0, 399)(random);
            entries[at].second = std::string(335000 + 3000 * k, 'x');
        }
        scratch_dir dir;
        write_file(dir / "in.txt", make_source("T", entries));
        const run_result import = run_lexaro_import({"in.txt", "dict.txt"}, dir.path());
        ASSERT_EQ(import.status, 0) << import.err;
        const int advice = advised(import);
        ASSERT_GE(advice, 100) << import.err;
        if (import.err.find("though smaller ones do not") != std::string::npos) {
            EXPECT_EQ(run_lexaro({"dict.txt", std::to_string(advice)}, dir.path()).status, 0);
            EXPECT_EQ(run_lexaro({"dict.txt", "100"}, dir.path()).status, 1);
            continue;
        }
        std::vector<int> settings = {100, advice};
        for (int i = 0; i < 6; ++i)
            settings.push_back(std::uniform_int_distribution<int>(100, advice)(random));
        for (const int n : settings) {
            const run_result run = run_lexaro({"dict.txt", std::to_string(n)}, dir.path());
            EXPECT_EQ(run.status, 0) << n << ": " << run.err;
        }
        if (advice < 10000) {
            const run_result over = run_lexaro({"dict.txt", std::to_string(advice + 1)}, dir.path());
            EXPECT_EQ(over.status, 1) << advice + 1;
        }
    }
}

}  // namespace
}  // namespace lexaro::test
