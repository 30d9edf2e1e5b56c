// lexaro-import end to end on what its names may hold besides regular files:
// files beside a dictionary that are FIFOs, refused without waiting for a
// writer, and a text input that is one.
#include <gtest/gtest.h>

#include "test_support.h"

namespace lexaro::test {
namespace {

const std::string input = "b\t2\na\t1\n";
const std::string source = "in\na$1\nb$2\n";  // what lexaro-import makes of it

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

TEST(ImportOutputs, ATextInputMayBeAFifo) {
    scratch_dir dir;
    ASSERT_TRUE(make_fifo(dir / "in.tab"));
    fifo_writer writer(dir / "in.tab", input);
    const run_result run =
        run_with_timeout(20, LEXARO_IMPORT_BINARY, {"in.tab", "out.txt"}, dir.path());
    writer.finish();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir / "out.txt"), source);
}

}  // namespace
}  // namespace lexaro::test
