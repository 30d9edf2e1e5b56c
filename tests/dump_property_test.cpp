// Generated sources, compiled by the real lexaro: lexaro-dump must find each
// database sound, write the source back byte for byte, and find the words
// of a sorted one through the block keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "test_support.h"

namespace lexaro {
namespace {

class source_generator {
public:
    // Any byte a source line can carry: no zero byte, line feed, carriage
    // return (dropped before a line feed) or 0x1A (ends the input); no $ in
    // a word.
    std::string text(std::size_t max_length, bool dollar_allowed) {
        std::string s(random_() % (max_length + 1), 'a');
        for (char& c : s) {
            do c = static_cast<char>(random_() % 3 ? 'a' + random_() % 26 : 1 + random_() % 255);
            while (c == '\n' || c == '\r' || c == '\x1A' || (c == '$' && !dollar_allowed));
            if (dollar_allowed && random_() % 16 == 0) c = '$';
        }
        return s;
    }

    std::vector<std::pair<std::string, std::string>> entries(std::size_t count,
                                                             bool sorted_unique) {
        std::vector<std::pair<std::string, std::string>> result;
        std::set<std::string> words;
        while (result.size() < count) {
            std::string word = text(10, false);
            if (sorted_unique && !words.insert(word).second) continue;
            result.emplace_back(std::move(word), text(24, true));
        }
        if (sorted_unique) std::sort(result.begin(), result.end());
        return result;
    }

    uint32_t next() { return random_(); }

private:
    std::mt19937 random_{20261208};
};

TEST(DumpProperty, GeneratedSourcesReadBackByteForByte) {
    source_generator generate;
    test::scratch_dir dir;
    int runs = 0;
    for (int words_per_block : {100, 137, 1000, 10000}) {
        for (int count : {0, 1, words_per_block - 1, words_per_block, words_per_block + 1,
                          2 * words_per_block - 1, 2 * words_per_block, 2 * words_per_block + 1,
                          3 * words_per_block + 7}) {
            const bool sorted = ++runs % 2 == 0;
            const auto entries = generate.entries(static_cast<std::size_t>(count), sorted);
            const std::string source = test::make_source(generate.text(255, true), entries);
            test::compile_database(dir, source, words_per_block);
            const std::string what = std::to_string(count) + " entries, words_per_block " +
                                     std::to_string(words_per_block);

            const auto check = test::run_lexaro_dump({"dict.pdb"}, dir.path());
            EXPECT_EQ(check.status, 0) << what << ": " << check.err;
            const auto text = test::run_lexaro_dump({"--text", "dict.pdb"}, dir.path());
            EXPECT_EQ(text.status, 0) << what << ": " << text.err;
            EXPECT_TRUE(text.out == source) << what;
            if (!sorted || entries.empty()) continue;

            // The first and last entries, those at block edges, and one at random.
            const std::size_t last = entries.size() - 1,
                              edge = std::min<std::size_t>(words_per_block, last);
            for (std::size_t i : {std::size_t{0}, edge - (edge > 0), edge, last,
                                  generate.next() % entries.size()}) {
                if (!test::passes_as_argument(entries[i].first)) continue;
                const auto found =
                    test::run_lexaro_dump({"--lookup", entries[i].first, "dict.pdb"}, dir.path());
                EXPECT_EQ(found.out, entries[i].second + "\n") << what << ", entry " << i;
                EXPECT_EQ(found.status, 0) << what << ", entry " << i;
            }
            const std::string missing = entries.back().first + "~";
            if (!test::passes_as_argument(missing)) continue;
            const auto not_found =
                test::run_lexaro_dump({"--lookup", missing, "dict.pdb"}, dir.path());
            EXPECT_EQ(not_found.status, 1) << what;
            EXPECT_EQ(not_found.out, "") << what;
        }
    }
}

}  // namespace
}  // namespace lexaro
