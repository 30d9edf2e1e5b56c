// lexaro-import on dictionaries that reach beyond themselves and on runs
// ended part way, end to end: includes that lead out of the dictionary's
// folder or that name each other over and over, --columns past the columns
// a file has, and every signal that ends a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "format_test_support.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

namespace fs = std::filesystem;

// --- Includes -----------------------------------------------------------------

// A file of one entry ("WORD in TEI") that first includes the given names,
// one a line from line 2, in TEI or DSL, and how its messages name them.
struct include_format {
    std::string x;  // the extension of the files
    std::string (*file)(const std::vector<std::string>& includes, const std::string& word);
    std::string (*include)(const std::string& name);  // an include in a message
    std::string skipped;                              // the summary's count of includes read before
};

const include_format formats[] = {
    {".xml",
     [](const std::vector<std::string>& includes, const std::string& word) {
         std::string text = "<TEI xmlns=\"http://www.tei-c.org/ns/1.0\"><text><body>\n";
         for (const std::string& name : includes) text += "<include href=\"" + name + "\"/>\n";
         return text + "<entry><form><orth>" + word + "</orth></form><sense><def>" + word +
                " in TEI</def></sense></entry>\n</body></text></TEI>\n";
     },
     [](const std::string& name) { return "can't include " + name; },
     "XIncludes of a file already read"},
    {".dsl",
     [](const std::vector<std::string>& includes, const std::string& word) {
         std::string text = "#NAME \"" + word + ".dsl\"\n";
         for (const std::string& name : includes) text += "#INCLUDE \"" + name + "\"\n";
         return text + word + "\n\t" + word + " in DSL\n";
     },
     [](const std::string& name) { return "#INCLUDE \"" + name + "\""; },
     "#INCLUDE lines naming a file already read"},
};

// The text with "{x}" made the format's extension and "{dir}" the scratch
// folder's name, links resolved.
std::string filled(std::string text, const std::string& x, const std::string& dir) {
    for (std::size_t at; (at = text.find("{x}")) != std::string::npos;) text.replace(at, 3, x);
    for (std::size_t at; (at = text.find("{dir}")) != std::string::npos;) text.replace(at, 5, dir);
    return text;
}

// A dictionary dict/d, its letters in dict/letters/ (a and b), dict/c, and a
// secret beside dict/. An include that leads out of the folder of the file
// that names it, by its name or through a link, is refused where it stands,
// naming the file, the line and the include, and nothing is written; one
// that stays inside is read.
TEST(HostileIncludes, NothingOutsideTheIncludingFilesFolderIsRead) {
    struct include_case {
        const char* what;
        std::string from;  // the file that names it: dict/d, or letters/b that dict/d names
        std::string name;
        std::string link;      // "" or "LINK>TARGET", under the scratch folder
        std::string leads_to;  // "read"; "" refused by the name; else where it leads
    };
    const char* read = "read";
    const include_case cases[] = {
        {"up a folder", "d", "../secret{x}", "", ""},
        {"down and up past the top", "d", "letters/../../secret{x}", "", ""},
        {"an absolute name, even of a file inside", "d", "{dir}/dict/letters/a{x}", "", ""},
        {"a link to a file outside", "d", "s{x}", "dict/s{x}>../secret{x}", "/secret{x}"},
        {"a folder linked outside", "d", "out/secret{x}", "dict/out>..", "/secret{x}"},
        {"the folder above, from one below", "letters/b", "../c{x}", "", ""},
        {"a link below to the folder above", "letters/b", "up/c{x}", "dict/letters/up>..",
         "/dict/c{x}"},
        {"a link to a file beside it", "d", "l{x}", "dict/l{x}>letters/a{x}", read},
        {"a link to a folder below", "d", "l/a{x}", "dict/l>letters", read},
        {"down and up, still inside", "d", "letters/../letters/a{x}", "", read},
    };
    for (const include_format& f : formats) {
        for (const include_case& c : cases) {
            SCOPED_TRACE(f.x + ": " + c.what);
            scratch_dir dir;
            const std::string real = fs::canonical(dir.path()).string();
            const auto fill = [&](const std::string& text) { return filled(text, f.x, real); };
            fs::create_directories(dir / "dict/letters");
            for (const char* word : {"secret", "dict/c", "dict/letters/a"})
                write_file(dir / (word + f.x), f.file({}, fs::path(word).filename().string()));
            const bool nested = c.from != "d";
            write_file(dir / ("dict/d" + f.x),
                       f.file({nested ? "letters/b" + f.x : fill(c.name)}, "d"));
            if (nested) write_file(dir / ("dict/letters/b" + f.x), f.file({fill(c.name)}, "b"));
            const std::size_t arrow = c.link.find('>');
            ASSERT_TRUE(c.link.empty() || make_symlink(fill(c.link.substr(arrow + 1)),
                                                       dir / fill(c.link.substr(0, arrow))));
            const run_result run = run_lexaro_import({"dict/d" + f.x, "out.txt"}, dir.path());
            if (c.leads_to == read) {
                EXPECT_EQ(run.status, 0) << run.err;
                EXPECT_NE(read_file(dir / "out.txt").find("\na$a in "), std::string::npos);
                continue;
            }
            std::string problem = "only files in the including file's folder or below it are read";
            if (!c.leads_to.empty())
                problem = "it leads to " + real + fill(c.leads_to) + ": " + problem;
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.err, "lexaro-import: dict/" + c.from + f.x +
                                   ": line 2: " + f.include(fill(c.name)) + ": " + problem + "\n");
            EXPECT_FALSE(exists(dir / "out.txt"));
        }
    }
}

// Files that include each other are read once each: eight files, each
// including the next ten times, make eight reads, not ten million. A file
// included by two others, by itself, or by another name (a hard link) gives
// its entries once; files still nest no deeper than the format allows.
TEST(HostileIncludes, EachFileIsReadOnce) {
    for (const include_format& f : formats) {
        SCOPED_TRACE(f.x);
        scratch_dir dir;
        const auto name = [&](char letter, int n) { return letter + std::to_string(n) + f.x; };
        std::string expected = "f0" + f.x + "\n";
        for (int level = 0; level < 8; ++level) {
            const std::vector<std::string> next(level < 7 ? 10 : 0, name('f', level + 1));
            write_file(dir / name('f', level), f.file(next, "f" + std::to_string(level)));
            expected += "f" + std::to_string(level) + "$f" + std::to_string(level) + " in " +
                        (f.x == ".dsl" ? "DSL\n" : "TEI\n");
        }
        run_options options;
        options.cpu_seconds_limit = 20;  // ten million reads take hours
        const run_result run =
            run_program_with(LEXARO_IMPORT_BINARY, {"f0" + f.x, "out.txt"}, dir.path(), options);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(read_file(dir / "out.txt"), expected);
        EXPECT_NE(run.err.find("  entries read:    8\n  words written:   8\n"), std::string::npos);
        EXPECT_NE(run.err.find("  skipped:         63 " + f.skipped + ", the first in f6" + f.x +
                               " line 3\n"),
                  std::string::npos)
            << run.err;

        dir.clear();
        write_file(dir / ("d" + f.x), f.file({"a" + f.x, "b" + f.x, "d" + f.x, "h" + f.x}, "d"));
        write_file(dir / ("a" + f.x), f.file({"c" + f.x}, "a"));
        write_file(dir / ("b" + f.x), f.file({"c" + f.x}, "b"));
        write_file(dir / ("c" + f.x), f.file({}, "c"));
        fs::create_hard_link(dir / ("a" + f.x), dir / ("h" + f.x));
        const run_result shared = run_lexaro_import({"d" + f.x, "out.txt"}, dir.path());
        ASSERT_EQ(shared.status, 0) << shared.err;
        EXPECT_NE(shared.err.find("  entries read:    4\n"), std::string::npos);
        EXPECT_NE(shared.err.find("  skipped:         3 " + f.skipped + ", the first in b" + f.x +
                                  " line 2\n"),
                  std::string::npos)
            << shared.err;

        const int deepest = f.x == ".dsl" ? 16 : 8;
        dir.clear();
        for (int level = 0; level <= deepest + 1; ++level)
            write_file(dir / name('g', level), f.file({name('g', level + 1)}, "g"));
        const run_result deep = run_lexaro_import({"g0" + f.x, "out.txt"}, dir.path());
        EXPECT_EQ(deep.status, 1);
        EXPECT_EQ(deep.err,
                  "lexaro-import: " + name('g', deepest) + ": line 2: " +
                      (f.x == ".dsl" ? f.include("g17.dsl") + ": files included more than 16 deep"
                                     : "XIncludes nested more than 8 deep") +
                      "\n");
    }
}

// --- Columns --------------------------------------------------------------------

// --columns past the file's last column is refused before anything is
// written, with the columns the file has; an earlier output stays.
TEST(HostileColumns, AColumnTheFileDoesNotHaveIsRefused) {
    struct refused {
        const char* what;
        std::string csv;
        std::string columns;
        std::string message;  // after "lexaro-import: d.csv: "
    };
    const refused cases[] = {
        {"past a header of two", "word,translation\na,b\n", "3",
         "--columns names column 3, which the file does not have; its columns are 1 (word), "
         "2 (translation)"},
        {"past two columns and no header", "a,b\nc,d\n", "3",
         "--columns names column 3, which the file does not have; its columns are 1, 2, "
         "unnamed (the first row: a, b)"},
        {"a name, then a number past the header", "word,translation,note\na,b,c\n", "note,7",
         "--columns names column 7, which the file does not have; its columns are 1 (word), "
         "2 (translation), 3 (note)"},
    };
    for (const refused& c : cases) {
        for (const char* output : {"out.txt", "out.pdb", "-"}) {
            SCOPED_TRACE(std::string(c.what) + " to " + output);
            scratch_dir dir;
            write_file(dir / "d.csv", c.csv);
            write_file(dir / "out.txt", "the output before");
            write_file(dir / "out.pdb", "the database before");
            const run_result run =
                run_lexaro_import({"--columns", c.columns, "d.csv", output}, dir.path());
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.err, "lexaro-import: d.csv: " + c.message + "\n");
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(dir.files(), (std::vector<std::string>{"d.csv", "out.pdb", "out.txt"}));
            EXPECT_EQ(read_file(dir / "out.txt"), "the output before");
            EXPECT_EQ(read_file(dir / "out.pdb"), "the database before");
        }
    }
}

// Rows with fewer fields than the first are written with what they hold, and
// counted.
TEST(HostileColumns, ShortRowsAreCounted) {
    check_summaries({
        {"short rows under a header",
         "d.csv",
         "word,translation,note\na,b,c\nd,e\nf\ng,h,i\n",
         {"--columns", "3"},
         "d\na$c\nd$\nf$\ng$i\n",
         {"  short rows:      2 with fewer than the header's 3 columns, the first at line 3"}},
        {"without a header, a quoted line break first",
         "d.csv",
         "a,\"b\nb\",c\nd,e\n\nf,g\n",
         {},
         "d\na$b; b; c\nd$e\nf$g\n",
         {"  short rows:      2 with fewer than the first row's 3 columns, the first at line 3"}},
    });
}

// --- Signals --------------------------------------------------------------------

// A signal at each moment of a run that holds hidden files: while the input
// is read into a text or a database (the hidden output made, empty), and
// while the database is compiled (the hidden source and OUT.tmp written).
// Whatever the signal, if it would end the run and can be caught, the run
// ends by it, leaving the folder as it was and the output before in place.
TEST(HostileSignals, EverySignalLeavesTheOldOutput) {
    struct signal_name {
        int number;
        const char* name;
    };
    const signal_name signals[] = {
        {SIGHUP, "SIGHUP"},     {SIGINT, "SIGINT"},       {SIGQUIT, "SIGQUIT"},
        {SIGTERM, "SIGTERM"},   {SIGUSR1, "SIGUSR1"},     {SIGUSR2, "SIGUSR2"},
        {SIGALRM, "SIGALRM"},   {SIGVTALRM, "SIGVTALRM"}, {SIGPROF, "SIGPROF"},
        {SIGPIPE, "SIGPIPE"},   {SIGXCPU, "SIGXCPU"},     {SIGXFSZ, "SIGXFSZ"},
        {SIGPOLL, "SIGPOLL"},   {SIGPWR, "SIGPWR"},       {SIGSTKFLT, "SIGSTKFLT"},
        {SIGRTMIN, "SIGRTMIN"}, {SIGRTMAX, "SIGRTMAX"}};
    std::string tab, text = dictionary_like_text(3000000);
    std::replace(text.begin(), text.end(), '\n', ' ');
    for (int i = 0; i < 3000; ++i)
        tab += "w" + std::to_string(100000 + i) + "\t" + text.substr(i * 1000, 1000) + "\n";
    struct moment {
        const char* what;
        std::string output, named, written;  // the run is signalled once this file appears
        std::string held_input;              // standard input, held open; "": the file in.tab
    } moments[] = {
        {"reading into a text", "out.txt", ".out.txt.", "", tab.substr(0, 200000)},
        {"reading into a database", "out.pdb", ".out.pdb.", "", tab.substr(0, 200000)},
        {"compiling", "out.pdb", "", "out.tmp", ""},
    };
    scratch_dir dir;
    write_file(dir / "in.tab", tab);
    for (const moment& m : moments) {
        for (const signal_name& s : signals) {
            SCOPED_TRACE(std::string(m.what) + ", " + s.name);
            write_file(dir / m.output, "the output before");
            run_options options;
            options.signal_when_named = m.named;
            options.signal_when_written = m.written;
            options.signal_number = s.number;
            options.held_input = m.held_input;
            const std::string input = m.held_input.empty() ? "in.tab" : "-";
            const run_result run = run_program_with(
                LEXARO_IMPORT_BINARY, {"--format", "tab", input, m.output}, dir.path(), options);
            EXPECT_EQ(run.status, 128 + s.number);
            EXPECT_EQ(dir.files(), (std::vector<std::string>{"in.tab", m.output}));
            EXPECT_EQ(read_file(dir / m.output), "the output before");
            dir.remove(m.output);
        }
    }
}

// lexaro-import X - | head: the lines head shows, then the run ends by
// SIGPIPE at its next write, as any program in a pipe does, with no message
// and nothing left behind. Where SIGPIPE is ignored, the failed write is an
// error.
TEST(HostileSignals, AReaderThatGoesAwayEndsTheRunQuietly) {
    scratch_dir dir;
    std::string tab;
    for (int i = 100000; i < 200000; ++i)
        tab += "w" + std::to_string(i) + "\t" + std::string(30, 't') + "\n";
    write_file(dir / "big.tab", tab);
    const std::string program = LEXARO_IMPORT_BINARY;
    struct piped {
        const char* what;
        std::string before;  // shell commands before the pipe
        std::string status;
        std::string err;
    } cases[] = {
        {"SIGPIPE as it comes", "", "141\n", ""},
        {"SIGPIPE ignored", "trap '' PIPE;", "1\n",
         "lexaro-import: can't write standard output: Broken pipe\n"},
    };
    // The shell starts with SIGPIPE as this process has it.
    const auto previous = std::signal(SIGPIPE, SIG_DFL);
    for (const piped& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string command =
            c.before + " ('" + program +
            "' big.tab - 2>err.txt; echo $? >status.txt) | head -n 3 >head.txt";
        ASSERT_EQ(std::system(("cd '" + dir.path() + "' && " + command).c_str()), 0);
        EXPECT_EQ(read_file(dir / "head.txt"), "big\nw100000$" + std::string(30, 't') +
                                                   "\nw100001$" + std::string(30, 't') + "\n");
        EXPECT_EQ(read_file(dir / "status.txt"), c.status);
        EXPECT_EQ(read_file(dir / "err.txt"), c.err);
        EXPECT_EQ(dir.files(),
                  (std::vector<std::string>{"big.tab", "err.txt", "head.txt", "status.txt"}));
        for (const char* name : {"err.txt", "head.txt", "status.txt"}) dir.remove(name);
    }
    std::signal(SIGPIPE, previous);
}

}  // namespace
}  // namespace lexaro::test
