// Composition and compatibility forms against Unicode's own test file,
// NormalizationTest.txt of Debian's unicode-data package (Linux only: it is
// read through bzcat). Each line gives a text and its forms; the composed
// form (NFC) of the text and of its decomposed form must be the line's NFC,
// and the compatibility form of each character that the file lists alone
// must be its NFKC.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "common/charset.h"
#include "common/unicode_forms.h"

namespace lexaro {
namespace {

constexpr const char* normalization_test = "/usr/share/unicode/NormalizationTest.txt.bz2";

// "0044 0307" as UTF-8.
std::string utf8_of(const std::string& codes) {
    std::string text;
    std::istringstream words(codes);
    for (std::string word; words >> word;) append_utf8(std::stoul(word, nullptr, 16), text);
    return text;
}

// The text's NFKC as the encoder makes it when it takes the compatibility
// form of each character: composed, then each character's form, composed.
std::string compatible(const std::string& text, std::u32string& work) {
    std::string composed, forms, out;
    compose(text, composed, work);
    for (std::size_t i = 0; i < composed.size();) {
        std::size_t length = 0;
        const char32_t c = next_character(std::string_view(composed).substr(i), length);
        const std::string_view form = compatibility_form(c);
        forms += form.empty() ? composed.substr(i, length) : std::string(form);
        i += length;
    }
    compose(forms, out, work);
    return out;
}

TEST(UnicodeData, EveryLineOfNormalizationTestComposesAsUnicodeSays) {
    const std::string command = std::string("bzcat ") + normalization_test + " 2>/dev/null";
    FILE* file = popen(command.c_str(), "r");
    ASSERT_NE(file, nullptr);
    std::string data;
    char buffer[65536];
    for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, file)) > 0;) data.append(buffer, n);
    pclose(file);
    if (data.empty()) GTEST_SKIP() << normalization_test << " is missing (package unicode-data)";

    std::istringstream lines(data);
    std::u32string work;
    uint64_t checked = 0, singles = 0, differing = 0;
    bool single_characters = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("@Part", 0) == 0) single_characters = line.rfind("@Part1", 0) == 0;
        if (line.empty() || line[0] == '#' || line[0] == '@') continue;
        std::vector<std::string> column;
        std::istringstream fields(line);
        for (std::string field; column.size() < 5 && std::getline(fields, field, ';');)
            column.push_back(utf8_of(field));
        ASSERT_EQ(column.size(), 5u) << line;
        const std::string& nfc = column[1];
        std::string out;
        bool same = true;
        for (const std::string* text : {&column[0], &column[1], &column[2]}) {
            compose(*text, out, work);
            same = same && out == nfc && (out == *text || !is_composed(*text));
        }
        // Part 1 lists each character that has a decomposition alone.
        if (single_characters) {
            ++singles;
            same = same && compatible(column[0], work) == column[3];
        }
        ++checked;
        if (!same && ++differing <= 10) ADD_FAILURE() << line;
    }
    EXPECT_EQ(differing, 0u);
    EXPECT_GT(checked, 15000u);
    EXPECT_GT(singles, 5000u);
}

}  // namespace
}  // namespace lexaro
