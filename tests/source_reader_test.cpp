// The source reader: title field, line ends, the 0x1A end of input, entry
// splitting and the progress counter.
#include "compiler/source_reader.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "test_support.h"

namespace lexaro {
namespace {

using entries = std::vector<std::pair<std::string, std::string>>;

struct read_back {
    std::string title;  // the whole 256-byte field
    entries got;
    std::string console;
};

read_back read_source(std::string_view content) {
    test::scratch_dir dir;
    test::write_file(dir / "source.txt", content);
    read_back result;
    testing::internal::CaptureStdout();
    {
        source_reader reader;
        reader.open(dir / "source.txt");
        const title_field title = reader.read_title();
        result.title.assign(title.begin(), title.end());
        entry e;
        while (reader.next_entry(e)) result.got.emplace_back(e.word, e.translation);
        EXPECT_EQ(reader.entry_count(), result.got.size());
        EXPECT_FALSE(reader.next_entry(e));  // ended stays ended
    }
    std::fflush(stdout);
    result.console = testing::internal::GetCapturedStdout();
    return result;
}

std::string field(std::string_view title) {
    std::string f(title.substr(0, title_size));
    f.resize(title_size, '\0');
    return f;
}

TEST(SourceReader, ReadsTitleAndEntries) {
    const std::string long_word(70000, 'w');  // longer than one read of the file
    struct {
        const char* what;
        std::string content;
        std::string title;
        entries expected;
    } cases[] = {
        {"empty file", "", "", {}},
        {"title without line feed", "Title", "Title", {}},
        {"title only", "Title\n", "Title", {}},
        {"entries", "T\ncat$chat\ndog$chien\n", "T", {{"cat", "chat"}, {"dog", "chien"}}},
        {"unterminated last line dropped", "T\na$b\ncat$chat", "T", {{"a", "b"}}},
        {"split at first $", "T\na$b$c\n", "T", {{"a", "b$c"}}},
        {"empty word and translation", "T\n$\n$x\n", "T", {{"", ""}, {"", "x"}}},
        {"spaces kept", "T\n a $ b \n", "T", {{" a ", " b "}}},
        {"CR LF line ends", "T\r\nab$cd\r\n", "T", {{"ab", "cd"}}},
        {"other CRs kept", "T\r\r\na\rb$c\r\r\n", "T\r", {{"a\rb", "c\r"}}},
        {"0x1A ends the input", "T\na$b\nc$d\x1A\ne$f\n", "T", {{"a", "b"}}},
        {"0x1A after the last line", "T\na$b\n\x1A", "T", {{"a", "b"}}},
        {"0x1A in the title", "Ti\x1Atle\na$b\n", "Ti", {}},
        {"title with $ not split", "a$b\nc$d\n", "a$b", {{"c", "d"}}},
        {"title cut at zero byte", std::string("Ti\0tle\n", 7), "Ti", {}},
        {"title of 300 bytes", std::string(300, 't') + "\n", std::string(300, 't'), {}},
        {"bytes above 0x7F",
         "\xC3\xA9t\xC3\xA9\n\xE9t\xE9$summer\n",
         "\xC3\xA9t\xC3\xA9",
         {{"\xE9t\xE9", "summer"}}},
        {"long lines",
         "T\n" + long_word + "$x\r\ny$" + long_word + "\n",
         "T",
         {{long_word, "x"}, {"y", long_word}}},
    };
    for (const auto& c : cases) {
        const read_back r = read_source(c.content);
        EXPECT_EQ(r.title, field(c.title)) << c.what;
        EXPECT_EQ(r.got, c.expected) << c.what;
        EXPECT_EQ(r.console, test::progress(static_cast<uint32_t>(c.expected.size()))) << c.what;
    }
}

TEST(SourceReader, CarriageReturnSplitFromLineFeedByTheReadBoundary) {
    // The CR is the last byte of the first 65536-byte read, its LF the first of the next.
    std::string content = "T\n" + std::string(65536 - 4, 'a') + "$\r\nb$c\n";
    ASSERT_EQ(content[65535], '\r');
    const read_back r = read_source(content);
    EXPECT_EQ(r.got, (entries{{std::string(65536 - 4, 'a'), ""}, {"b", "c"}}));
}

}  // namespace
}  // namespace lexaro
