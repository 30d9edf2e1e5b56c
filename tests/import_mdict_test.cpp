// lexaro-import on MDict dictionaries written by the tests' own writer: both
// engine versions, every kind of block, the scrambled key-block index, the
// encodings, references, the files it refuses and damaged ones; and the
// sample dictionary, when it is there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>

#include "format_test_support.h"
#include "import/formats/readers.h"
#include "mdict_writer.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

using namespace std::string_literals;
using entries_list = std::vector<std::pair<std::string, std::string>>;

// As MDict's writer orders them: case folded, so not in byte order.
const entries_list fruit = {
    {"apple", "<i>n.</i> a fruit\r\n"},
    {"Banana", "a <b>yellow</b> fruit"},
    {"cherry", "a small<br>red fruit"},
    {"damson", "a plum"},
    {"elder", "a tree"},
};
const std::string fruit_source =
    "Test\nBanana$a yellow fruit\napple$n. a fruit\ncherry$a small; red fruit\ndamson$a plum\n"
    "elder$a tree\n";

TEST(ImportMdict, EveryVersionAndKindOfBlockGivesTheSameSource) {
    struct variant {
        const char* what;
        std::string version;
        mdict_compression compression;
        std::string encrypted = "0";
        std::size_t keys_per_block = 2, records_per_block = 2, record_block_bytes = 0;
    };
    const variant variants[] = {
        {"2.0 zlib", "2.0", mdict_compression::zlib},
        {"2.0 stored", "2.0", mdict_compression::stored},
        {"2.0 LZO", "2.0", mdict_compression::lzo},
        {"2.0 LZO, best", "2.0", mdict_compression::lzo_best},
        {"2.0, index scrambled", "2.0", mdict_compression::zlib, "2"},
        {"2.0, one block of each", "2.0", mdict_compression::zlib, "0", 10, 10},
        {"2.0, a block per key and record", "2.0", mdict_compression::lzo, "2", 1, 1},
        {"2.0, records across blocks", "2.0", mdict_compression::zlib, "0", 3, 1, 7},
        {"1.2 stored", "1.2", mdict_compression::stored},
        {"1.2 LZO", "1.2", mdict_compression::lzo},
        {"1.2 LZO, records across blocks", "1.2", mdict_compression::lzo_best, "0", 4, 1, 5},
        {"1.2 zlib", "1.2", mdict_compression::zlib},
        {"1.1", "1.1", mdict_compression::zlib},
    };
    std::vector<format_case> cases;
    for (const variant& v : variants) {
        mdict_options o;
        o.version = v.version;
        o.compression = v.compression;
        o.encrypted = v.encrypted;
        o.keys_per_block = v.keys_per_block;
        o.records_per_block = v.records_per_block;
        o.record_block_bytes = v.record_block_bytes;
        cases.push_back({v.what, "fruit.mdx", write_mdict(fruit, o).bytes, {}, fruit_source});
    }
    check_cases(cases);
}

TEST(ImportMdict, KeysAndRecordsInTheEncodingTheHeaderNames) {
    const auto with = [](const std::string& version, const std::string& encoding,
                         const entries_list& entries, const std::string& more = "") {
        mdict_options o;
        o.version = version;
        o.encoding = encoding;
        o.title = "W&amp;rter &#x263A;";
        o.more_attributes = more;
        o.compression = version == "1.2" ? mdict_compression::lzo : mdict_compression::zlib;
        return write_mdict(entries, o).bytes;
    };
    const entries_list utf16 = {{utf16le("naïve"), utf16le("<b>naïf</b>\r\n")},
                                {utf16le("日本"), utf16le("Japan 𝄞")}};
    const std::string title = "W&rter \xE2\x98\xBA\n";  // ☺
    const std::string utf16_source =
        title + "na\xC3\xAFve$na\xC3\xAF" "f\n\xE6\x97\xA5\xE6\x9C\xAC$Japan \xF0\x9D\x84\x9E\n";
    // 中文 → 汉语 and € in GBK, 中文 → 漢語 in Big5.
    const entries_list gbk = {{"\xD6\xD0\xCE\xC4", "\xBA\xBA\xD3\xEF"}, {"euro", "\xA2\xE3"}};
    const entries_list big5 = {{"\xA4\xA4\xA4\xE5", "\xBA\x7E\xBB\x79"}};
    const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87$\xE6\xB1\x89\xE8\xAF\xAD\n";
    // clang-format off
    check_cases({
        {"UTF-16, 2.0", "u.mdx", with("2.0", "UTF-16", utf16), {}, utf16_source},
        {"UTF-16, 1.2", "u.mdx", with("1.2", "UTF-16", utf16), {}, utf16_source},
        {"GBK read as GB18030", "g.mdx", with("2.0", "GBK", gbk), {},
         title + "euro$\xE2\x82\xAC\n" + chinese},
        {"GB2312", "g.mdx", with("1.2", "GB2312", {gbk[0]}), {}, title + chinese},
        {"Big5", "b.mdx", with("2.0", "BIG5", big5), {},
         title + "\xE4\xB8\xAD\xE6\x96\x87$\xE6\xBC\xA2\xE8\xAA\x9E\n"},
        {"no Encoding: UTF-8", "e.mdx", with("1.2", "", {{"\xC3\xA9t\xC3\xA9", "summer"}}), {},
         title + "\xC3\xA9t\xC3\xA9$summer\n"},
        {"--input-charset instead of the header's", "e.mdx", with("2.0", "UTF-8", {gbk[0]}),
         {"--input-charset", "GBK"}, title + chinese},
    });
    // clang-format on
}

TEST(ImportMdict, WhatTheHeaderSaysOfTheRecords) {
    const auto with = [](const entries_list& entries, const std::string& format,
                         const std::string& title, const std::string& more = "") {
        mdict_options o;
        o.format = format;
        o.title = title;
        o.more_attributes = more;
        return write_mdict(entries, o).bytes;
    };
    // clang-format off
    check_cases({
        {"Format=Text keeps what looks like tags", "t.mdx",
         with({{"lt", "a <b> c &amp; d\r\ne"}}, "Text", "Plain"), {},
         "Plain\nlt$a <b> c &amp; d; e\n"},
        {"the writer's placeholder title: the file's name", "my-dict.mdx",
         with({{"a", "b"}}, "Html", "Title (No HTML code allowed)"), {}, "my-dict\na$b\n"},
        {"an empty title: the file's name", "x.mdx", with({{"a", "b"}}, "Html", ""), {},
         "x\na$b\n"},
        {"a title without its tags", "x.mdx",
         with({{"a", "b"}}, "Html", "&lt;b&gt;Big&lt;/b&gt; Dictionary"), {},
         "Big Dictionary\na$b\n"},
        {"keys that share a record both get it; homographs merged", "s.mdx",
         with({{"car", "a vehicle"}, {"auto", "a vehicle"}, {"bank", "a shore"},
               {"bank", "money"}}, "Html", "S"), {},
         "S\nauto$a vehicle\nbank$a shore | money\ncar$a vehicle\n"},
        {"found by its first bytes", "dictionary.bin", with({{"a", "b"}}, "Html", "T"), {},
         "T\na$b\n"},
        {"style markers replaced by their texts", "st.mdx",
         with({{"w", "`1`noun`2`a word`3`"}, {"v", "`9`x` `2"}}, "Html", "St",
              " StyleSheet=\"1\n&lt;i&gt;\n&lt;/i&gt;\n2\n (\n)\n3\n\n\""), {},
         "St\nv$`9`x` `2\nw$noun (a word)\n"},
        {"style markers without a style sheet left out", "ns.mdx",
         with({{"w", "`1`noun`2` a `word` `123456` x`"}, {"v", "`1``22`x`333`"}}, "Html", "N"),
         {}, "N\nv$x\nw$noun a `word` `123456` x`\n"},
    });
    // clang-format on
}

TEST(ImportMdict, ReferencesGiveTheTranslationOfTheWordTheyName) {
    const entries_list entries = {
        {"bank", "a shore"},
        {"bank", "money"},
        {"banks", "@@@LINK=bank\r\n"},
        {"color", "a hue"},
        {"colour", "@@@LINK=color\r\n"},
        {"grey", "@@@LINK=GRAY"},
        {"gray", "between black and white"},
        {"ice cream", "a dessert"},
        {"icecream", "@@@LINK=ice-cream"},
        {"nowhere", "@@@LINK=somewhere\r\n@@@LINK=bank"},
        {"self", "@@@LINK=self"},
        {"tint", "@@@LINK=colour"},  // a chain: tint, colour, color
        {"x", "@@@LINK=y"},          // a circle: x, y, x
        {"y", "@@@LINK=x"},
    };
    const std::string common =
        "R\nbank$a shore | money\nbanks$a shore | money\ncolor$a hue\ncolour$a hue\n";
    struct reference_case {
        const char* what;
        std::string attributes;
        std::string expected;
        std::string counts;
    };
    const reference_case cases[] = {
        {"as MDict's defaults: case ignored", "",
         common + "gray$between black and white\ngrey$between black and white\n"
                  "ice cream$a dessert\ntint$a hue\n",
         "  references:      4 words given the translation of the word they refer to\n"},
        {"KeyCaseSensitive and StripKey", " KeyCaseSensitive=\"Yes\" StripKey=\"Yes\"",
         common + "gray$between black and white\nice cream$a dessert\n"
                  "icecream$a dessert\ntint$a hue\n",
         "  references:      4 words given the translation of the word they refer to\n"},
    };
    for (const reference_case& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir dir;
        mdict_options o;
        o.title = "R";
        o.more_attributes = c.attributes;
        write_file(dir / "r.mdx", write_mdict(entries, o).bytes);
        const run_result run = run_lexaro_import({"r.mdx", "out.txt"}, dir.path());
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(read_file(dir / "out.txt"), c.expected);
        EXPECT_NE(run.err.find(c.counts), std::string::npos) << run.err;
        // icecream or grey, and nowhere.
        EXPECT_NE(run.err.find("  skipped:         2 references to a word the dictionary lacks,"
                               " the first in r.mdx\n"),
                  std::string::npos)
            << run.err;
        EXPECT_NE(run.err.find("  skipped:         3 references that lead in a circle, the first"
                               " in r.mdx\n"),
                  std::string::npos)
            << run.err;
    }
}

TEST(ImportMdict, FilesItCannotReadAreRefusedByName) {
    const entries_list one = {{"a", "b"}};
    const auto with = [&](const std::function<void(mdict_options&)>& change) {
        mdict_options o;
        change(o);
        return write_mdict(one, o).bytes;
    };
    struct refusal {
        const char* what;
        std::string name, bytes, message;
    };
    const refusal cases[] = {
        {"engine 4.0 in a <Dictionary> header", "x.mdx",
         with([](mdict_options& o) { o.version = "4.0"; }),
         "x.mdx: its <Dictionary> header gives GeneratedByEngineVersion=\"4.0\", but such headers"
         " come only from MDict 1.x and 2.0"},
        {"enciphered for a user", "x.mdx", with([](mdict_options& o) { o.encrypted = "1"; }),
         "x.mdx is enciphered for one registered user: it cannot be read without that user's key"},
        {"enciphered both ways", "x.mdx", with([](mdict_options& o) { o.encrypted = "3"; }),
         "x.mdx is enciphered for one registered user: it cannot be read without that user's key"},
        {"Encrypted=Yes", "x.mdx", with([](mdict_options& o) { o.encrypted = "Yes"; }),
         "x.mdx is enciphered for one registered user: it cannot be read without that user's key"},
        {"an unknown way of enciphering", "x.mdx",
         with([](mdict_options& o) { o.encrypted = "4"; }),
         "x.mdx: Encrypted=\"4\" is a kind of enciphering that MDict 1.x and 2.0 do not write"},
        {"a scrambled index in 1.x", "x.mdx",
         with([](mdict_options& o) { o.version = "1.2", o.encrypted = "2"; }),
         "x.mdx: Encrypted=\"2\" scrambles the key-block index of a version 1.2 file, which MDict"
         " does only from version 2.0"},
        {"resources", "x.mdd", with([](mdict_options&) {}),
         "x.mdd holds pictures and sounds, not words; import the .mdx"},
        {"resources named .mdx", "x.mdx",
         with([](mdict_options& o) { o.element = "Library_Data"; }),
         "x.mdx holds pictures and sounds, not words; import the .mdx"},
        {"not MDict", "x.mdx", "Title\na$b\n",
         "x.mdx is not an MDict dictionary: its first 4 bytes give a header of 1416197228 bytes,"
         " and the file holds 10"},
        {"no version", "x.mdx", with([](mdict_options& o) { o.version = ""; }),
         "x.mdx: its header gives no GeneratedByEngineVersion"},
        {"not a version", "x.mdx", with([](mdict_options& o) { o.version = "2.x"; }),
         "x.mdx: GeneratedByEngineVersion=\"2.x\" is not a version number"},
        {"unknown encoding", "x.mdx", with([](mdict_options& o) { o.encoding = "KLINGON-8"; }),
         "x.mdx: unknown character set KLINGON-8, which its header names"},
        {"too short", "x.mdx", "\0\0\0"s,
         "x.mdx: it is too short for an MDict dictionary (3 bytes)"},
    };
    for (const refusal& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir dir;
        write_file(dir / c.name, c.bytes);
        const run_result run = run_lexaro_import({c.name, "out.txt"}, dir.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "lexaro-import: " + c.message + "\n");
        EXPECT_EQ(dir.files(), std::vector<std::string>{c.name});
    }
}

// The message with the places of the file's parts put in: {W} the keyword
// section, {I} the key-block index, {K1} and {K2} the key blocks, {S} the
// record section, {R1} and {R2} the first two record blocks ({R2SIZE} the
// second's size), {N} the file's size and {T} the bytes from the first record
// block to the end.
std::string with_places(std::string message, const mdict_file& f) {
    const std::size_t t = f.bytes.size() - f.record_blocks.at(0);
    const std::pair<const char*, std::size_t> places[] = {
        {"{W}", f.keyword_section},   {"{I}", f.key_index},      {"{K1}", f.key_blocks.at(0)},
        {"{K2}", f.key_blocks.at(1)}, {"{S}", f.record_section}, {"{R1}", f.record_blocks.at(0)},
        {"{N}", f.bytes.size()},      {"{T+1}", t + 1},          {"{T-1}", t - 1},
        {"{T}", t},                   {"{R2+1}", f.record_blocks.at(1) + 1},
        {"{R2SIZE}", f.bytes.size() - f.record_blocks.at(1)},
    };
    for (const auto& [name, value] : places) {
        for (std::size_t at; (at = message.find(name)) != std::string::npos;)
            message.replace(at, std::strlen(name), std::to_string(value));
    }
    return message;
}

TEST(ImportMdict, DamagedFilesStopWithWhatIsWrongAndWhere) {
    const entries_list entries = {{"a", "one"}, {"b", "two"}, {"c", "three"}, {"d", "four"}};
    struct damage {
        const char* what;
        std::function<void(mdict_options&)> lie;
        std::function<void(mdict_file&)> change;  // after writing
        std::string message;  // after "lexaro-import: x.mdx: ", with the places of the parts
    };
    const auto none = [](mdict_options&) {};
    const auto keep = [](mdict_file&) {};
    const auto flip = [](std::size_t mdict_file::*part, long offset) {
        return [=](mdict_file& f) {
            f.bytes[static_cast<std::size_t>(static_cast<long>(f.*part) + offset)] ^= 1;
        };
    };
    const auto flip_in = [](std::vector<std::size_t> mdict_file::*blocks, std::size_t block,
                            std::size_t offset) {
        return [=](mdict_file& f) { f.bytes[(f.*blocks).at(block) + offset] ^= 1; };
    };
    const auto flip_key_block = [&](std::size_t block, std::size_t offset) {
        return flip_in(&mdict_file::key_blocks, block, offset);
    };
    const auto flip_record_block = [&](std::size_t block, std::size_t offset) {
        return flip_in(&mdict_file::record_blocks, block, offset);
    };
    const auto lzo_data = [](std::string data) {
        return [=](mdict_options& o) {
            o.compression = mdict_compression::lzo;
            o.lies.first_record_data = data;
        };
    };
    // With two keys a block and two records a block, in 2.0: the key blocks
    // inflate to 20 bytes each, the records to 8 and 11.
    const mdict_file sound = write_mdict(entries);
    const std::string key_blocks_size = std::to_string(sound.record_section - sound.key_blocks[0]);

    const damage cases[] = {
        {"header checksum", none, flip(&mdict_file::keyword_section, -1),
         "its header (at byte 4) is damaged: its checksum is wrong"},
        {"keyword section checksum", none, flip(&mdict_file::keyword_section, 43),
         "its keyword section (at byte {W}) is damaged: its checksum is wrong"},
        {"index checksum", none, flip(&mdict_file::key_index, 7),
         "its key-block index (at byte {I}): its checksum is wrong"},
        {"key block checksum", none, flip_key_block(1, 7),
         "key block 2 (at byte {K2}): its checksum is wrong"},
        {"record block checksum", none, flip_record_block(0, 4),
         "record block 1 (at byte {R1}): its checksum is wrong"},
        {"zlib data", none, flip_record_block(0, 8),
         "record block 1 (at byte {R1}): its zlib data are damaged (incorrect header check)"},
        {"zlib data cut short",
         [](mdict_options& o) { o.lies.first_record_data = std::string("\x78\x9c\x2b\xcf", 4); },
         keep, "record block 1 (at byte {R1}): its zlib data end early"},
        {"bytes after the zlib data", none,
         [](mdict_file& f) {
             // The first record block's stored size in the table, and the block, one byte longer.
             const std::size_t row = f.record_section + 32;
             f.bytes[row + 7] = static_cast<char>(f.bytes[row + 7] + 1);
             f.bytes[f.record_section + 31] = static_cast<char>(f.bytes[f.record_section + 31] + 1);
             f.bytes.insert(f.record_blocks[1], 1, '\0');
         },
         "record block 1 (at byte {R1}): bytes follow the end of its zlib data"},
        {"a key block inflates to less than its row says",
         [](mdict_options& o) { o.lies.first_row_inflated = 1; }, keep,
         "key block 1 (at byte {K1}): it inflates to 20 bytes, its index says 21"},
        {"a record block inflates to more than its table says",
         [](mdict_options& o) { o.lies.first_record_inflated = -1; }, keep,
         "record block 1 (at byte {R1}): it inflates to more than 7 bytes, its index says 7"},
        {"LZO data make more than the table says",
         [](mdict_options& o) {
             o.compression = mdict_compression::lzo;
             o.lies.first_record_inflated = -1;
         },
         keep, "record block 1 (at byte {R1}): it inflates to more than 7 bytes, its index says 7"},
        {"a record block claims more than any data inflate to",
         [](mdict_options& o) {
             o.lies.first_record_data = std::string("\x78\x9c\x2b\xcf", 4);
             o.lies.first_record_inflated = 10000;
         },
         keep,
         "record block 1 (at byte {R1}): its index says that its 4 bytes inflate to 10008, more"
         " than any data can"},
        {"a stored block holds more than its row says",
         [](mdict_options& o) {
             o.compression = mdict_compression::stored;
             o.lies.first_row_inflated = -2;
         },
         keep, "key block 1 (at byte {K1}): it holds more than 18 bytes, its index says 18"},
        {"LZO data refer before their start", lzo_data("\x12o\x40\x10"), keep,
         "record block 1 (at byte {R1}): its LZO data refer back past their first byte"},
        {"LZO data end early", lzo_data("\x16one"), keep,
         "record block 1 (at byte {R1}): its LZO data end early"},
        {"bytes after the LZO data", lzo_data("\x19one\0two\0\x11\0\0\0"s), keep,
         "record block 1 (at byte {R1}): bytes follow the end of its LZO data"},
        {"a type word with enciphering bits",
         [](mdict_options& o) { o.lies.first_record_type = 0x12; }, keep,
         "record block 1 (at byte {R1}): its type word 0x00000012 sets bits that MDict 1.x and"
         " 2.0 never set (an enciphered block?)"},
        {"an unknown compression", [](mdict_options& o) { o.lies.first_record_type = 3; }, keep,
         "record block 1 (at byte {R1}): its compression, 3, is none of 0 (stored), 1 (LZO) and"
         " 2 (zlib)"},
        {"a block shorter than its prefix", [](mdict_options& o) { o.lies.first_record_data = ""; },
         [](mdict_file& f) {
             const std::size_t row = f.record_section + 32;
             f.bytes[row + 7] = 5;  // its stored size in the table
             f.bytes[f.record_section + 31] = static_cast<char>(f.bytes[f.record_section + 31] - 3);
             f.bytes.erase(f.record_blocks[0] + 5, 3);
         },
         "record block 1 (at byte {R1}): it takes 5 bytes, fewer than the 8 that begin a block"},
        {"more key blocks counted than the index holds",
         [](mdict_options& o) { o.lies.key_blocks = 3; }, keep,
         "its key-block index holds 2 rows, its keyword section counts 3 key blocks"},
        {"more key blocks counted than their bytes can hold",
         [](mdict_options& o) { o.lies.key_blocks = uint64_t{1} << 40; }, keep,
         "its keyword section counts 1099511627776 key blocks, more than its " + key_blocks_size +
             " bytes of key blocks can hold"},
        {"fewer key blocks counted than the index holds",
         [](mdict_options& o) { o.lies.key_blocks = 1; }, keep,
         "its key-block index holds more rows than the 1 key blocks its keyword section counts"},
        {"entries counted wrong in the keyword section",
         [](mdict_options& o) { o.lies.entries = 5; }, keep,
         "its key-block index gives its key blocks 4 entries, its keyword section says 5"},
        {"a row's entries more than its keys",
         [](mdict_options& o) {
             o.lies.first_row_entries = 1;
             o.lies.entries = 5;
             o.lies.record_entries = 5;
         },
         keep, "key block 1 (at byte {K1}): it holds 2 keys, its index row says 3"},
        {"a row's entries fewer than its keys",
         [](mdict_options& o) {
             o.lies.first_row_entries = -1;
             o.lies.entries = 3;
             o.lies.record_entries = 3;
         },
         keep, "key block 1 (at byte {K1}): it holds more keys than the 1 its index row says"},
        {"a row's entries more than the keyword section's",
         [](mdict_options& o) { o.lies.first_row_entries = 3; }, keep,
         "row 1 of its key-block index gives its key blocks more than the 4 entries its keyword"
         " section says"},
        {"entries counted differently in the two sections",
         [](mdict_options& o) { o.lies.record_entries = 3; }, keep,
         "its record section (at byte {S}) counts 3 entries, its keyword section 4"},
        {"the index runs past the end of the file",
         [](mdict_options& o) { o.lies.index_stored = 1 << 20; }, keep,
         "its key-block index (1048576 bytes at byte {I}) runs past the end of the file ({N}"
         " bytes)"},
        {"key blocks past the end of the file",
         [](mdict_options& o) { o.lies.key_blocks_stored = 1 << 20; }, keep,
         "its key blocks (1048576 bytes at byte {K1}) run past the end of the file ({N} bytes)"},
        {"key blocks' size less than the rows give",
         [&](mdict_options& o) { o.lies.key_blocks_stored = std::stoul(key_blocks_size) - 1; },
         keep,
         "row 2 of its key-block index gives its key blocks more than the " +
             std::to_string(std::stoul(key_blocks_size) - 1) + " bytes its keyword section says"},
        {"key blocks' size more than the rows give",
         [&](mdict_options& o) { o.lies.key_blocks_stored = std::stoul(key_blocks_size) + 1; },
         keep,
         "its key-block index gives its key blocks " + key_blocks_size +
             " bytes, its keyword section says " + std::to_string(std::stoul(key_blocks_size) + 1)},
        {"an index row cut short",
         [](mdict_options& o) { o.lies.edit_index = [](std::string& index) { index.pop_back(); }; },
         keep, "row 2 of its key-block index is cut short"},
        {"a key without its terminator",
         [](mdict_options& o) {
             o.lies.edit_first_key_block = [](std::string& block) { block.pop_back(); };
         },
         keep, "key block 1 (at byte {K1}): the key of its entry 2 has no terminator"},
        {"a key block's last entry cut short",
         [](mdict_options& o) {
             o.lies.first_row_entries = 1;
             o.lies.entries = 5;
             o.lies.record_entries = 5;
             o.lies.edit_first_key_block = [](std::string& block) { block += "\0\0\0"s; };
         },
         keep, "key block 1 (at byte {K1}): its entry 3 is cut short"},
        {"a key-block index in 1.2 whose rows are cut short",
         [](mdict_options& o) {
             o.version = "1.2";
             o.lies.edit_index = [](std::string& index) { index.resize(index.size() - 5); };
         },
         keep, "row 2 of its key-block index is cut short"},
        {"a record offset past the records",
         [](mdict_options& o) {
             o.lies.record_offsets = {{3, 100}};
         },
         keep, "the record of \"d\" (entry 4) starts at 100, past the 19 bytes of its records"},
        {"record offsets out of order",
         [](mdict_options& o) {
             o.lies.record_offsets = {{1, 0}, {0, 4}};
         },
         keep, "the record of \"b\" (entry 2) starts at 0, before that of the entry before it (4)"},
        {"the record-block table's size", [](mdict_options& o) { o.lies.record_table_size = 24; },
         keep,
         "its record-block table takes 24 bytes, not the 16 a block that 2 record blocks need"},
        {"the record-block table past the end of the file",
         [](mdict_options& o) { o.lies.record_table_size = 1 << 20; }, keep,
         "its record-block table takes 1048576 bytes, not the 16 a block that 2 record blocks "
         "need"},
        {"a record block past the end of the file",
         [](mdict_options& o) { o.lies.first_record_stored = 1; }, keep,
         "record block 2 (at byte {R2+1}): its {R2SIZE} bytes run past the end of the file"},
        {"record blocks shorter than the table gives",
         [](mdict_options& o) { o.lies.first_record_stored = -1; }, keep,
         "its record-block table gives its blocks {T-1} bytes, its record section says {T}"},
        {"record blocks' size", [](mdict_options& o) { o.lies.record_blocks_stored = 1000; }, keep,
         "its record blocks take 1000 bytes from byte {R1}, but {T} bytes follow there to the end"
         " of the file"},
        {"a byte after the record blocks", none, [](mdict_file& f) { f.bytes += '\0'; },
         "its record blocks take {T} bytes from byte {R1}, but {T+1} bytes follow there to the"
         " end of the file"},
        {"the file cut short in the keyword section", none,
         [](mdict_file& f) { f.bytes.resize(f.keyword_section + 20); },
         "its keyword section (at byte {W}) is cut short by the end of the file"},
        {"the file cut short in the record section", none,
         [](mdict_file& f) { f.bytes.resize(f.record_section + 20); },
         "its record section (at byte {S}) is cut short by the end of the file"},
    };
    for (const damage& c : cases) {
        SCOPED_TRACE(c.what);
        mdict_options o;
        c.lie(o);
        mdict_file file = write_mdict(entries, o);
        const std::string message = with_places(c.message, file);
        c.change(file);
        scratch_dir dir;
        write_file(dir / "x.mdx", file.bytes);
        const run_result run = run_lexaro_import({"x.mdx", "out.pdb"}, dir.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "lexaro-import: x.mdx: " + message + "\n");
        EXPECT_EQ(dir.files(), std::vector<std::string>{"x.mdx"});
    }
}

TEST(ImportMdict, RecordsTooLargeForABlockAreCountedNotHeld) {
    const std::string large(import::max_raw_size + 1, 'x');
    mdict_options o;
    o.record_block_bytes = 1 << 20;
    scratch_dir dir;
    write_file(dir / "l.mdx",
               write_mdict({{"big", large}, {"link", "@@@LINK=big"}, {"small", "s"}}, o).bytes);
    const run_result run = run_lexaro_import({"l.mdx", "out.txt"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir / "out.txt"), "Test\nsmall$s\n");
    EXPECT_NE(run.err.find("  dropped:         0 with no word, 2 too large for a block\n"),
              std::string::npos)
        << run.err;
}

// What a small file may claim or hold beyond what it gives: a block that
// inflates to far more than a record can use, keys that give no word, style
// marks that multiply a record. Each costs what the entries it gives cost
// (bench/hostile measures the memory); here, what becomes of the entries.
TEST(ImportMdict, HostileFilesGiveTheirWordsAndCountTheRest) {
    using change = std::function<void(mdict_options&)>;
    const auto with = [](const entries_list& entries, const change& c = [](mdict_options&) {}) {
        mdict_options o;
        o.title = "H";
        o.records_per_block = 1;
        c(o);
        return write_mdict(entries, o).bytes;
    };
    const std::string nothing_dropped =
        "  dropped:         0 with no word, 0 too large for a block";
    const std::string one_too_large = "  dropped:         0 with no word, 1 too large for a block";
    entries_list empty_keys = {{"a", "one"}};
    for (int i = 0; i < 100000; ++i) empty_keys.push_back({"", "lost"});
    empty_keys.push_back({"b", "two"});
    // 200,000 marks of 3 bytes, each becoming 30 bytes of text: 6 MB.
    std::string marks;
    for (int i = 0; i < 200000; ++i) marks += "`1`";
    // clang-format off
    check_summaries({
        {"a record block that inflates to 20 MB: its one record counted", "h.mdx",
         with({{"a", "one"}, {"big", "x" + std::string(20000000, '\0') + "y"}, {"c", "three"}}),
         {}, "H\na$one\nc$three\n", {one_too_large}},
        {"records across blocks that inflate to 20 MB", "h.mdx",
         with({{"a", "one"}, {"big", "x" + std::string(20000000, '\0') + "y"}, {"c", "three"}},
              [](mdict_options& o) { o.record_block_bytes = 7000000; }),
         {}, "H\na$one\nc$three\n", {one_too_large}},
        {"a key block of 100,000 empty keys between two words", "h.mdx",
         with(empty_keys, [](mdict_options& o) { o.keys_per_block = 200000; }), {},
         "H\na$one\nb$two\n",
         {"  entries read:    100002", "  dropped:         100000 with no word, 0 too large for a"
                                      " block"}},
        {"empty keys and blanks end the records of the words before them", "h.mdx",
         with({{"", "zero"}, {"a", "one"}, {"", "lost"}, {"b", "two"}, {" \t", "lost"},
               {"", "lost too"}, {"c", "three"}, {"", "three"}, {"d", "four"}, {"", "last"}},
              [](mdict_options& o) { o.keys_per_block = 3; o.records_per_block = 2; }),
         {}, "H\na$one\nb$two\nc$three\nd$four\n",
         {"  dropped:         6 with no word, 0 too large for a block"}},
        {"style marks that would make a record of 6 MB", "h.mdx",
         with({{"w", marks}, {"v", "`1`kept"}},
              [](mdict_options& o) {
                  o.more_attributes = " StyleSheet=\"1\n" + std::string(20, 'b') + "\n" +
                                      std::string(10, 'e') + "\"";
              }),
         {}, "H\nv$" + std::string(20, 'b') + "kept" + std::string(10, 'e') + "\n",
         {one_too_large}},
        {"a key longer than any word can be", "h.mdx",
         with({{"a", "one"}, {std::string(import::max_raw_size + 1, 'k'), "long"},
               {"c", "three"}},
              [](mdict_options& o) { o.keys_per_block = 3; }),
         {}, "H\na$one\nc$three\n", {one_too_large}},
        {"a block of 2.7 MB of records, inflated in pieces that cut them", "h.mdx",
         with({{"a", std::string(900000, 'p')}, {"b", "q" + std::string(900000, 'r') + "s"},
               {"c", "t" + std::string(900000, 'u') + "v"}, {"d", "four"}},
              [](mdict_options& o) { o.records_per_block = 4; }),
         {}, "H\na$" + std::string(900000, 'p') + "\nb$q" + std::string(900000, 'r') +
                 "s\nc$t" + std::string(900000, 'u') + "v\nd$four\n",
         {nothing_dropped}},
    });
    // clang-format on
}

// Many records and keys in blocks larger than the pieces they are inflated
// in, so that keys, UTF-16 units and records lie across pieces: every kind of
// block gives every entry.
TEST(ImportMdict, LargeBlocksGiveEveryEntry) {
    entries_list entries;
    std::string expected = "Big\n";
    for (int i = 0; i < 30000; ++i) {
        const std::string word = "word number " + std::to_string(100000 + i) + " of the list";
        const std::string text = "record " + std::to_string(i) + std::string(i % 97, '.') + "end";
        entries.push_back({word, text});
        expected += word + "$" + text + "\n";
    }
    entries_list utf16;
    for (const auto& [word, text] : entries) utf16.push_back({utf16le(word), utf16le(text)});
    struct variant {
        const char* what;
        mdict_compression compression;
        std::string version, encoding;
    };
    const variant variants[] = {
        {"zlib", mdict_compression::zlib, "2.0", "UTF-8"},
        {"LZO", mdict_compression::lzo, "2.0", "UTF-8"},
        {"LZO, 1.2", mdict_compression::lzo, "1.2", "UTF-8"},
        {"stored", mdict_compression::stored, "2.0", "UTF-8"},
        {"zlib, UTF-16", mdict_compression::zlib, "2.0", "UTF-16"},
        {"LZO, UTF-16", mdict_compression::lzo, "1.2", "UTF-16"},
    };
    std::vector<format_case> cases;
    for (const variant& v : variants) {
        mdict_options o;
        o.title = "Big";
        o.compression = v.compression;
        o.version = v.version;
        o.encoding = v.encoding;
        o.keys_per_block = 30000;  // 1.2 MB of keys, 2.4 MB in UTF-16
        o.records_per_block = 30000;  // 1.8 MB of records
        cases.push_back({v.what, "big.mdx",
                         write_mdict(v.encoding == "UTF-8" ? entries : utf16, o).bytes, {},
                         expected});
    }
    check_cases(cases);
}

// How far a reference may lead: through 16 others to a translation, not 17;
// a chain that ends at a word the dictionary lacks counts as such within that
// bound and as too long past it; one that runs into a circle, however far
// away, as a circle.
TEST(ImportMdict, ReferenceChainsAreCountedByWhereTheyEnd) {
    entries_list entries;
    const auto chain = [&](const std::string& name, int length, const std::string& end) {
        for (int i = 0; i < length; ++i) {
            const auto word = [&](int k) { return name + (k < 10 ? "0" : "") + std::to_string(k); };
            entries.push_back({word(i), "@@@LINK=" + (i + 1 < length ? word(i + 1) : end)});
        }
    };
    chain("c", 18, "end");      // c00 leads through 17 others to "end", c01 through 16
    chain("m", 18, "nowhere");  // m00 leads through 17 others to no word, m01 through 16
    chain("r", 20, "x");        // r00 leads through 21 others into the circle x, y, x
    entries.push_back({"end", "the end"});
    entries.push_back({"x", "@@@LINK=y"});
    entries.push_back({"y", "@@@LINK=x"});
    std::string expected = "Chains\n";
    for (int i = 1; i < 18; ++i)
        expected += "c" + std::string(i < 10 ? "0" : "") + std::to_string(i) + "$the end\n";
    expected += "end$the end\n";
    mdict_options o;
    o.title = "Chains";
    o.keys_per_block = 7;
    check_summaries({{"chains", "c.mdx", write_mdict(entries, o).bytes, {}, expected,
                      {"  references:      17 words given the translation of the word they refer"
                       " to",
                       "  skipped:         2 references that lead through more than 16 others, the"
                       " first in c.mdx",
                       "  skipped:         17 references to a word the dictionary lacks, the first"
                       " in c.mdx",
                       "  skipped:         22 references that lead in a circle, the first in"
                       " c.mdx"}}});
}

// A record that is nothing but a link to another word, <a href="entry://...">,
// gives that word's translation as @@@LINK= does, by the same rules and
// bounds; a link among other text, or in plain text, stays text.
TEST(ImportMdict, EntryLinksGiveTheTranslationOfTheWordTheyName) {
    const entries_list entries = {
        {"abrus", "<a href=\"entry://\xE7\x9B\xB8\xE6\x80\x9D\xE5\xAD\x90\">"
                  "\xE7\x9B\xB8\xE6\x80\x9D\xE5\xAD\x90</a>\r\n"},
        {"bank", "a shore"},
        {"banks", "<a href=\"entry://bank#2\">bank</a>"},
        {"colour", "  <A class='x' HREF='entry://Color'><b>color</b></A >\r\n"},
        {"color", "a hue"},
        {"gray", "<a href=\"entry://grey\">grey</a>"},  // a chain: gray, grey, ...
        {"grey", "@@@LINK=silver"},
        {"rock", "<a href=\"entry://rock &amp; roll\">rock &amp; roll</a>"},
        {"rock & roll", "music"},
        {"see", "see <a href=\"entry://bank\">bank</a>"},
        {"silver", "a metal"},
        {"sound", "<a href=\"sound://s.mp3\">play</a>"},
        {"two", "<a href=\"entry://bank\">bank</a><a href=\"entry://color\">color</a>"},
        {"where", "<a href=\"entry://nowhere\">nowhere</a>"},
        {"x", "<a href=\"entry://y\">y</a>"},  // a circle: x, y, x
        {"y", "@@@LINK=x"},
        {"\xE7\x9B\xB8\xE6\x80\x9D\xE5\xAD\x90", "Abrus precatorius"},
    };
    mdict_options o;
    o.title = "L";
    o.keys_per_block = 5;
    mdict_options text = o;
    text.format = "Text";
    // clang-format off
    check_summaries({
        {"HTML", "l.mdx", write_mdict(entries, o).bytes, {},
         "L\nabrus$Abrus precatorius\nbank$a shore\nbanks$a shore\ncolor$a hue\ncolour$a hue\n"
         "gray$a metal\ngrey$a metal\nrock$music\nrock & roll$music\nsee$see bank\n"
         "silver$a metal\nsound$play\ntwo$bankcolor\n"
         "\xE7\x9B\xB8\xE6\x80\x9D\xE5\xAD\x90$Abrus precatorius\n",
         {"  references:      6 words given the translation of the word they refer to, 5 of them"
          " by an entry:// link",
          "  skipped:         1 references to a word the dictionary lacks, the first in l.mdx",
          "  skipped:         2 references that lead in a circle, the first in l.mdx"}},
        {"plain text: links are text", "l.mdx",
         write_mdict({{"a", "<a href=\"entry://b\">b</a>"}, {"b", "bee"}}, text).bytes, {},
         "L\na$<a href=\"entry://b\">b</a>\nb$bee\n", {}},
        {"MDict 3.0", "l.mdx",
         write_mdict3({{"a", "<a href=\"entry://b\">b</a>\r\n"}, {"b", "bee\r\n"}}).bytes, {},
         "Test\na$bee\nb$bee\n",
         {"  references:      1 words given the translation of the word they refer to, 1 of them"
          " by an entry:// link"}},
    });
    // clang-format on
}

// Many words that lead to one, directly or through one chain, each given
// its translation (their time is the benchmark's: each word is resolved once).
TEST(ImportMdict, ManyReferencesToOneWordAllGiveItsTranslation) {
    entries_list entries = {{"hub", "the centre"}, {"spoke", "@@@LINK=hub"}};
    std::string expected = "Many\nhub$the centre\n";
    std::vector<std::string> words;
    for (int i = 0; i < 3000; ++i) {
        const std::string word = "v" + std::to_string(10000 + i);
        entries.push_back({word, i % 2 == 0 ? "@@@LINK=hub" : "@@@LINK=Spoke"});
        words.push_back(word);
    }
    words.push_back("spoke");
    std::sort(words.begin(), words.end());
    for (const std::string& word : words) expected += word + "$the centre\n";
    mdict_options o;
    o.title = "Many";
    o.keys_per_block = 500;
    check_summaries({{"3,000 words", "m.mdx", write_mdict(entries, o).bytes, {}, expected,
                      {"  references:      3001 words given the translation of the word they"
                       " refer to"}}});
}

// The reader alone: the kind of markup the header gives, the words as
// written, and what it notes for the summary.
TEST(MdictReader, EntriesCarryTheHeadersMarkupAndTheSummaryItsNotes) {
    class noting_sink : public collecting_sink {
    public:
        void note(std::string_view topic, std::string_view text) override {
            notes += std::string(topic) + ": " + std::string(text) + "\n";
        }
        std::string notes;
    };
    struct reader_case {
        const char* what;
        std::string format, encoding;
        entries_list entries;
        std::vector<collected_entry> expected;
        std::string notes;
    };
    const auto html = import::markup::html, plain = import::markup::plain;
    // clang-format off
    const reader_case cases[] = {
        {"HTML, UTF-8", "Html", "UTF-8", {{" Key ", "<b>x</b>"}}, {{" Key ", "<b>x</b>", html}}, ""},
        {"text, GBK with a byte that is none", "Text", "GBK", {{"k", "\xD6\xD0\xFF"}},
         {{"k", "\xE4\xB8\xAD\xEF\xBF\xBD", plain}},
         "input: read as GB18030, 1 bytes that are no character of it read as U+FFFD\n"},
        {"a reference", "Html", "UTF-8", {{"a", "b"}, {"c", "@@@LINK=a"}},
         {{"a", "b", html}, {"c", "b", html}},
         "references: 1 words given the translation of the word they refer to\n"},
    };
    // clang-format on
    for (const reader_case& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir dir;
        mdict_options o;
        o.format = c.format;
        o.encoding = c.encoding;
        write_file(dir / "r.mdx", write_mdict(c.entries, o).bytes);
        noting_sink sink;
        import::reader_options options;
        const std::string path = dir / "r.mdx";
        import::reader_input input{path, nullptr, options};
        EXPECT_EQ(import::read_mdict(input, sink), "Test");
        EXPECT_EQ(sink.entries, c.expected);
        EXPECT_EQ(sink.notes, c.notes);
    }
}

// The sample dictionary (GPL-3.0 test data, never part of the repository):
// imported into a database in one run, checked, and every key found.
TEST(ImportMdict, TheSampleDictionaryCompilesAndEveryWordIsFound) {
    const std::string sample = "/work/shared/samples/test.mdx";
    if (!std::ifstream(sample)) GTEST_SKIP() << sample << " is not here";
    scratch_dir dir;
    write_file(dir / "test.mdx", read_file(sample));
    const run_result run = run_lexaro_import({"test.mdx", "ejdic.pdb"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("  entries read:    81\n  words written:   81\n"), std::string::npos)
        << run.err;
    const run_result check = run_lexaro_dump({"--check", "ejdic.pdb"}, dir.path());
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_NE(check.out.find("EJDIC"), std::string::npos) << check.out;

    collecting_sink sink;
    import::reader_options options;
    const std::string path = dir / "test.mdx";
    import::reader_input input{path, nullptr, options};
    EXPECT_EQ(import::read_mdict(input, sink), "EJDIC");
    ASSERT_EQ(sink.entries.size(), 81u);
    EXPECT_EQ(sink.entries.front().word, "Z");
    EXPECT_EQ(sink.entries.back().word, "zzz");
    for (const collected_entry& e : sink.entries) {
        const run_result found = run_lexaro_dump({"--lookup", e.word, "ejdic.pdb"}, dir.path());
        EXPECT_EQ(found.status, 0) << e.word << ": " << found.err;
    }
    const run_result z = run_lexaro_dump({"--lookup", "Z", "ejdic.pdb"}, dir.path());
    EXPECT_EQ(
        z.out.substr(0, z.out.find('\n')),
        "\xE8\x8B\xB1\xE8\xAA\x9E\xE3\x82\xA2\xE3\x83\xAB\xE3\x83\x95\xE3\x82\xA1\xE3\x83\x99"
        "\xE3\x83\x83\xE3\x83\x88\xE3\x81\xAE\xE7\xAC\xAC"
        "26"
        "\xE5\xAD\x97(\xE6\x9C\x80\xE5\xBE\x8C\xE3\x81\xAE\xE5\xAD\x97); z \xE5\xAD\x97\xE5\xBD\xA2"
        "[\xE3\x81\xAE\xE3\x82\x82\xE3\x81\xAE]");
}

}  // namespace
}  // namespace lexaro::test
