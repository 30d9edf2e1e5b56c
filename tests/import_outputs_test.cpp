// lexaro-import end to end on what its names may hold besides regular files:
// outputs that are devices, FIFOs or its own standard output, written in
// place; writes that fail; and files beside a dictionary that are FIFOs,
// refused without waiting for a writer.
#include <gtest/gtest.h>

#include <filesystem>

#include "test_support.h"

namespace lexaro::test {
namespace {

namespace fs = std::filesystem;

const std::string input = "b\t2\na\t1\n";
const std::string source = "in\na$1\nb$2\n";  // what lexaro-import makes of it

// The system's own names stay what they were, whatever a run did.
void expect_system_names_kept() {
    EXPECT_TRUE(fs::is_character_file(fs::symlink_status("/dev/null")));
    EXPECT_TRUE(fs::is_character_file(fs::symlink_status("/dev/full")));
    EXPECT_TRUE(fs::is_symlink("/dev/stdout") || fs::is_character_file("/dev/stdout"));
}

TEST(ImportOutputs, AFifoOrADeviceIsWrittenInPlace) {
    struct in_place_case {
        const char* what;
        std::string output;  // as given to lexaro-import
        std::string fifo;    // made in the folder and read while the run writes, or ""
        std::string link;    // made a link to `linked`, or ""
        std::string linked;
        std::string read;  // what the FIFO or standard output receives
    };
    const std::vector<in_place_case> cases = {
        {"a FIFO", "out.txt", "out.txt", "", "", source},
        {"a link to a FIFO", "out.txt", "fifo", "out.txt", "fifo", source},
        {"a FIFO named as a database", "out.pdb", "out.pdb", "", "", "a database"},
        {"/dev/stdout", "/dev/stdout", "", "", "", source},
        {"/dev/fd/1", "/dev/fd/1", "", "", "", source},
        {"a link to /dev/stdout", "out.txt", "", "out.txt", "/dev/stdout", source},
        {"/dev/null", "/dev/null", "", "", "", ""},
        {"a database linked to /dev/null", "out.pdb", "", "out.pdb", "/dev/null", ""},
    };
    for (const in_place_case& c : cases) {
        scratch_dir dir;
        write_file(dir / "in.tab", input);
        if (!c.fifo.empty()) {
            ASSERT_TRUE(make_fifo(dir / c.fifo)) << c.what;
        }
        if (!c.link.empty()) {
            ASSERT_TRUE(make_symlink(c.linked, dir / c.link)) << c.what;
        }
        const auto before = dir.files();
        std::unique_ptr<fifo_reader> reader;
        if (!c.fifo.empty()) reader = std::make_unique<fifo_reader>(dir / c.fifo);
        const run_result run =
            run_with_timeout(20, LEXARO_IMPORT_BINARY, {"in.tab", c.output}, dir.path());
        const std::string received = reader ? reader->finish() : run.out;
        EXPECT_EQ(run.status, 0) << c.what << ": " << run.err;
        EXPECT_EQ(run.err.substr(0, run.err.find('\n') + 1),
                  "lexaro-import: wrote " + c.output + " from in.tab (tab)\n")
            << c.what;
        if (c.read == "a database") {
            write_file(dir / "got.pdb", received);
            const run_result back = run_lexaro_dump({"--text", "got.pdb"}, dir.path());
            EXPECT_EQ(back.out, source) << c.what << ": " << back.err;
            dir.remove("got.pdb");
        } else {
            EXPECT_EQ(received, c.read) << c.what;
        }
        // Nothing replaced, nothing left beside it.
        EXPECT_EQ(dir.files(), before) << c.what;
        if (!c.fifo.empty()) {
            EXPECT_TRUE(fs::is_fifo(fs::symlink_status(dir / c.fifo))) << c.what;
        }
        if (!c.link.empty()) {
            EXPECT_TRUE(fs::is_symlink(dir / c.link)) << c.what;
        }
        expect_system_names_kept();
    }
}

TEST(ImportOutputs, AFailedWriteOrAClosedStandardOutputFailsTheRun) {
    struct failure_case {
        const char* what;
        std::vector<std::string> args;
        bool streams_closed;          // standard input and output
        std::string standard_output;  // where standard output goes, when not captured
        std::string err;
    };
    // clang-format off
    const std::vector<failure_case> cases = {
        {"standard output closed", {"in.tab", "-"}, true, "",
         "lexaro-import: can't write standard output: Bad file descriptor\n"},
        {"standard output full", {"in.tab", "-"}, false, "/dev/full",
         "lexaro-import: can't write standard output: No space left on device\n"},
        {"a full device", {"in.tab", "/dev/full"}, false, "",
         "lexaro-import: can't write file /dev/full: No space left on device\n"},
        {"/dev/stdout closed", {"in.tab", "/dev/stdout"}, true, "",
         "lexaro-import: can't write file /dev/stdout: Bad file descriptor\n"},
        {"a database linked to a full device", {"in.tab", "full.pdb"}, false, "",
         "lexaro-import: can't write file full.pdb\n"},
        {"the help, standard output closed", {"--help"}, true, "",
         "lexaro-import: can't write standard output: Bad file descriptor\n"},
        {"the help, standard output full", {"--help"}, false, "/dev/full",
         "lexaro-import: can't write standard output: No space left on device\n"},
    };
    // clang-format on
    for (const failure_case& c : cases) {
        scratch_dir dir;
        write_file(dir / "in.tab", input);
        ASSERT_TRUE(make_symlink("/dev/full", dir / "full.pdb"));
        const auto before = dir.files();
        run_options options;
        options.streams_closed = c.streams_closed;
        options.standard_output = c.standard_output;
        const run_result run =
            run_with_timeout(20, LEXARO_IMPORT_BINARY, c.args, dir.path(), options);
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_EQ(run.err, c.err) << c.what;
        EXPECT_EQ(run.out, "") << c.what;
        EXPECT_EQ(dir.files(), before) << c.what;
        EXPECT_TRUE(fs::is_symlink(dir / "full.pdb")) << c.what;
        expect_system_names_kept();
    }
}

// apple: fruit, as StarDict's three files and as dictd's two.
void write_dictionaries(const scratch_dir& dir) {
    const std::string idx = std::string("apple\0", 6) + std::string("\0\0\0\0\0\0\0\5", 8);
    write_file(dir / "x.idx", idx);
    write_file(dir / "x.dict", "fruit");
    write_file(dir / "x.ifo",
               "StarDict's dict ifo file\nversion=2.4.2\nbookname=X\nwordcount=1\nidxfilesize=" +
                   std::to_string(idx.size()) + "\nsametypesequence=m\n");
    write_file(dir / "y.index", "apple\tA\tF\n");
    write_file(dir / "y.dict", "fruit");
}

TEST(ImportOutputs, FilesBesideTheInputAreReadOnlyWhenTheyAreRegularFiles) {
    {
        scratch_dir dir;
        write_dictionaries(dir);
        for (const char* name : {"x.ifo", "y.index"}) {
            const run_result run = run_lexaro_import({name, "-"}, dir.path());
            ASSERT_EQ(run.status, 0) << name << ": " << run.err;
            EXPECT_EQ(run.out, std::string(name[0] == 'x' ? "X" : "y") + "\napple$fruit\n");
        }
    }
    const std::pair<std::string, std::string> cases[] = {
        // input, the file made a FIFO
        {"x.ifo", "x.syn"},    {"x.ifo", "x.idx"},    {"x.ifo", "x.dict"},
        {"x.dict", "x.ifo"},   {"x.idx", "x.ifo"},    {"x.ifo", "x.ifo"},
        {"y.index", "y.dict"}, {"y.dict", "y.index"}, {"y.index", "y.dict.dz"},
    };
    for (const auto& [input_name, fifo] : cases) {
        scratch_dir dir;
        write_dictionaries(dir);
        dir.remove(fifo);
        ASSERT_TRUE(make_fifo(dir / fifo));
        const auto before = dir.files();
        const run_result run =
            run_with_timeout(20, LEXARO_IMPORT_BINARY, {input_name, "out.txt"}, dir.path());
        EXPECT_EQ(run.status, 1) << input_name << ", " << fifo;
        EXPECT_EQ(run.err, "lexaro-import: " + fifo + " is not a regular file\n")
            << input_name << ", " << fifo;
        EXPECT_EQ(dir.files(), before) << input_name << ", " << fifo;
    }
}

}  // namespace
}  // namespace lexaro::test
