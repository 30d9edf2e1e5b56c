// The command line's number conversion and the names derived from the source path.
#include "driver/settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>

#include "driver/console.h"

namespace lexaro {
namespace {

TEST(WordsPerBlock, ConvertsLikeAtoiAndAcceptsOnly100To10000) {
    struct {
        const char* argument;
        int32_t converted;
        int32_t words_per_block;  // 500 when refused
    } cases[] = {
        {"100", 100, 100},
        {"10000", 10000, 10000},
        {" 250", 250, 250},
        {"\t\n+250", 250, 250},
        {"250abc", 250, 250},
        {"007", 7, 500},
        {"99", 99, 500},
        {"10001", 10001, 500},
        {"0", 0, 500},
        {"-5", -5, 500},
        {"+-5", 0, 500},
        {"", 0, 500},
        {"abc", 0, 500},
        {"12x", 12, 500},
        // Beyond 32 bits the value saturates rather than wrap around to 100.
        {"4294967396", INT_MAX, 500},
        {"99999999999999999999999", INT_MAX, 500},
        {"-4294967396", INT_MIN, 500},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(convert_decimal(c.argument), c.converted) << '"' << c.argument << '"';
        words_per_block = 1234;
        EXPECT_EQ(set_words_per_block(c.argument), c.words_per_block != 500 || c.converted == 500);
        EXPECT_EQ(words_per_block, c.words_per_block) << c.argument;
    }
}

TEST(FileNames, ComeFromDriveDirectoryAndBaseName) {
    struct {
        std::string source, temp, database, name;
    } cases[] = {
        {"d:\\dict\\en-fr.txt", "d:\\dict\\en-fr.tmp", "d:\\dict\\en-fr.pdb", "en-fr"},
        {"en-fr", "en-fr.tmp", "en-fr.pdb", "en-fr"},
        {"my.dict.txt", "my.dict.tmp", "my.dict.pdb", "my.dict"},
        {"old.dir/words", "old.dir/words.tmp", "old.dir/words.pdb", "words"},
        {"d:words.txt", "d:words.tmp", "d:words.pdb", "words"},
        {".txt", ".tmp", ".pdb", ""},
        {"a\\b/c.d/e.f", "a\\b/c.d/e.tmp", "a\\b/c.d/e.pdb", "e"},
        {"dir/", "dir/.tmp", "dir/.pdb", ""},
        {"", ".tmp", ".pdb", ""},
        {"x:", "x:.tmp", "x:.pdb", ""},
        {std::string(300, 'd') + "/" + std::string(300, 'b') + ".txt",
         std::string(300, 'd') + "/" + std::string(300, 'b') + ".tmp",
         std::string(300, 'd') + "/" + std::string(300, 'b') + ".pdb", std::string(300, 'b')},
    };
    for (const auto& c : cases) {
        set_file_names(c.source);
        EXPECT_EQ(source_name, c.source);
        EXPECT_EQ(temp_name, c.temp) << c.source;
        EXPECT_EQ(database_file_name, c.database) << c.source;
        EXPECT_EQ(database_name, c.name) << c.source;
    }
}

TEST(FileNames, SplitGivesThePathBack) {
    const path_parts parts = split_path("c:/a.b\\c.d.e");
    EXPECT_EQ(parts.drive, "c:");
    EXPECT_EQ(parts.directory, "/a.b\\");
    EXPECT_EQ(parts.base_name, "c.d");
    EXPECT_EQ(parts.extension, ".e");
}

void fail_with(std::string_view message) {
    dup2(STDERR_FILENO, STDOUT_FILENO);
    fatal_error(message);
}

TEST(FatalError, PrintsTheMessageOnALineOfItsOwnUpToAZeroByte) {
    EXPECT_EXIT(fail_with(""), testing::ExitedWithCode(1), "^\nerror: \n$");
    EXPECT_EXIT(fail_with(std::string_view("ab\0cd", 5)), testing::ExitedWithCode(1),
                "^\nerror: ab\n$");
}

}  // namespace
}  // namespace lexaro
