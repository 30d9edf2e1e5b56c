// What must come out the same on every system: the sample dictionary with
// other line ends, a 0x1A, and names outside ASCII gives the same database
// and the same source back, byte for byte.
#include <gtest/gtest.h>

#include "test_support.h"

namespace lexaro {
namespace {

using files = std::vector<std::string>;

const std::string sample = test::read_file(LEXARO_EXAMPLES "/en-fr.txt");

std::string with_line_end(const std::string& text, const std::string& line_end) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += line_end;
        else
            out += c;
    }
    return out;
}

// The database apart from its three dates, which tell when it was made.
std::string without_dates(std::string database) { return database.replace(36, 12, 12, '\0'); }

TEST(Portability, EverySourceReadsAlikeAndComesBackByteForByte) {
    test::scratch_dir dir;
    ASSERT_EQ(sample.find('\r'), std::string::npos);
    const uint32_t entries = 444;
    struct {
        const char* what;
        std::string source;
        std::string back;    // what lexaro-dump --text gives
        bool same_database;  // as the sample's, dates aside
    } cases[] = {
        {"the sample", sample, sample, true},
        {"CR LF", with_line_end(sample, "\r\n"), sample, true},
        {"0x1A ends it", sample + "\x1A" + "after$the end\n", sample, true},
        // One carriage return before the line feed goes, the other stays.
        {"CR CR LF", with_line_end(sample, "\r\r\n"), with_line_end(sample, "\r\n"), false},
    };
    std::string sample_database;
    for (const auto& c : cases) {
        test::write_file(dir / "en-fr.txt", c.source);
        const auto r = test::run_lexaro({"en-fr.txt", "100"}, dir.path());
        EXPECT_EQ(r.out, test::progress(entries)) << c.what;
        EXPECT_EQ(r.status, 0) << c.what;
        const std::string database = without_dates(test::read_file(dir / "en-fr.pdb"));
        if (sample_database.empty()) sample_database = database;
        EXPECT_EQ(database == sample_database, c.same_database) << c.what;
        const auto text = test::run_lexaro_dump({"--text", "en-fr.pdb"}, dir.path());
        EXPECT_TRUE(text.out == c.back) << c.what;
        EXPECT_EQ(text.status, 0) << c.what;
        dir.clear();
    }
}

TEST(Portability, AnyFileNameWorks) {
    test::scratch_dir dir;
    const std::string source = "T\na$1\nb$2\n";
    // Japanese, Latin with a space and an apostrophe, and a character that
    // UTF-16 writes as two units.
    for (const std::string base : {"日本", "été d'hiver", "\xF0\x9D\x84\x9E"}) {
        test::write_file(dir / (base + ".txt"), source);
        const auto r = test::run_lexaro({base + ".txt"}, dir.path());
        EXPECT_EQ(r.out, "1\r2\r") << base;
        EXPECT_EQ(r.status, 0) << base;
        EXPECT_EQ(dir.files(), (files{base + ".pdb", base + ".txt"})) << base;
        // The name field holds the base name's UTF-8 bytes.
        const std::string database = test::read_file(dir / (base + ".pdb"));
        EXPECT_EQ(database.substr(0, 32), base + std::string(32 - base.size(), '\0')) << base;

        const auto check = test::run_lexaro_dump({base + ".pdb"}, dir.path());
        EXPECT_NE(check.out.find("database name: " + base + "\n"), std::string::npos) << base;
        EXPECT_NE(check.out.find(base + ".pdb: sound\n"), std::string::npos) << base;
        EXPECT_EQ(test::run_lexaro_dump({"--text", base + ".pdb"}, dir.path()).out, source);
        dir.clear();
    }
    EXPECT_EQ(test::run_lexaro({"無.txt"}, dir.path()).out, "\nerror: can't open file 無.txt\n");
    EXPECT_EQ(test::run_lexaro_dump({"無.pdb"}, dir.path()).err,
              "lexaro-dump: can't open file 無.pdb\n");
}

}  // namespace
}  // namespace lexaro
