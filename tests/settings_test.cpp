// The command line's number conversion and the names derived from the source path.
#include "driver/settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>

#include "driver/console.h"

namespace lexaro {
namespace {

TEST(ConvertDecimal, BehavesLikeAtoiButSaturates) {
    struct {
        const char* text;
        int32_t value;
    } cases[] = {
        {"100", 100},
        {"10000", 10000},
        {" 250", 250},
        {"\t\n+250", 250},
        {"250abc", 250},
        {"12x", 12},
        {"abc", 0},
        {"", 0},
        {"-5", -5},
        {"+-5", 0},
        {"- 5", 0},
        {"007", 7},
        {"2147483647", INT_MAX},
        {"2147483648", INT_MAX},
        {"4294967396", INT_MAX},
        {"99999999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN},
        {"-4294967396", INT_MIN},
    };
    for (const auto& c : cases) EXPECT_EQ(convert_decimal(c.text), c.value) << '"' << c.text << '"';
}

TEST(WordsPerBlock, AcceptsOnly100To10000) {
    struct {
        const char* argument;
        bool accepted;
        int32_t value;
    } cases[] = {
        {"100", true, 100},         {"10000", true, 10000}, {" 250", true, 250},
        {"250abc", true, 250},      {"+300", true, 300},    {"99", false, 500},
        {"10001", false, 500},      {"0", false, 500},      {"-5", false, 500},
        {"", false, 500},           {"abc", false, 500},    {"12x", false, 500},
        {"4294967396", false, 500},  // would wrap to 100 in 32 bits
    };
    for (const auto& c : cases) {
        words_per_block = 1234;
        EXPECT_EQ(set_words_per_block(c.argument), c.accepted) << c.argument;
        EXPECT_EQ(words_per_block, c.value) << c.argument;
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
