// lexaro-import on MDict 3.0 dictionaries written by the tests' own writer:
// as each writer makes them, every kind of block and cipher, the files it
// refuses and damaged ones; and the ciphers and hash that 3.0 needs, against
// libsodium and libxxhash.
#include <gtest/gtest.h>
#include <sodium.h>
#include <xxhash.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>

#include "format_test_support.h"
#include "import/formats/mdict_ciphers.h"
#include "import/formats/readers.h"
#include "mdict_writer.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

using namespace std::string_literals;
using entries_list = std::vector<std::pair<std::string, std::string>>;

const entries_list fruit = {
    {"apple", "<i>n.</i> a fruit\r\n"},
    {"Banana", "a <b>yellow</b> fruit\r\n"},
    {"cherry", "a small<br>red fruit\r\n"},
    {"damson", "a plum\r\n"},
    {"elder", "a tree\n"},
};
const std::string fruit_source =
    "Test\nBanana$a yellow fruit\napple$n. a fruit\ncherry$a small; red fruit\ndamson$a plum\n"
    "elder$a tree\n";

TEST(ImportMdict3, EveryWriterAndKindOfBlockGivesTheSameSource) {
    using c = mdict_compression;
    using x = mdict3_cipher;
    struct variant {
        const char* what;
        std::function<void(mdict3_options&)> change;
    };
    const variant variants[] = {
        {"as MdxBuilder 4 writes it", [](mdict3_options&) {}},
        {"as mdx_util writes it: unit lengths 0, 32 bytes enciphered, a plain key index",
         [](mdict3_options& o) {
             o.mdx_util = true;
             o.records.enciphered = o.info.enciphered = 32;
             o.key_index = {c::zlib, x::none};
             o.info.compression = c::zlib;
         }},
        {"no UUID: each block keyed by its checksum", [](mdict3_options& o) { o.uuid = ""; }},
        {"every block plain and stored",
         [](mdict3_options& o) {
             o.records = o.record_index = o.keys = o.key_index = o.info = {c::stored, x::none};
         }},
        {"LZO blocks, Salsa20/8 everywhere",
         [](mdict3_options& o) {
             o.records = o.record_index = o.keys = o.key_index = o.info = {c::lzo, x::salsa};
         }},
        {"zlib blocks, the simple cipher everywhere, 200 bytes enciphered",
         [](mdict3_options& o) {
             o.records = o.record_index = o.keys = o.key_index = o.info = {c::zlib, x::simple, 200};
         }},
        {"one block of each",
         [](mdict3_options& o) { o.keys_per_block = o.records_per_block = 9; }},
        {"a block for each key and record",
         [](mdict3_options& o) { o.keys_per_block = o.records_per_block = 1; }},
        {"units in another order",
         [](mdict3_options& o) {
             o.unit_order = {3, 4, 1, 2};
         }},
    };
    std::vector<format_case> cases;
    for (const variant& v : variants) {
        mdict3_options o;
        v.change(o);
        cases.push_back({v.what, "fruit.mdx", write_mdict3(fruit, o).bytes, {}, fruit_source});
    }
    check_cases(cases);
}

// What the header says, and what 3.0 files share with 2.0 ones: references,
// style marks, the kind of text, the title.
TEST(ImportMdict3, WhatTheHeaderAndTheRecordsSay) {
    const auto with = [](const entries_list& entries,
                         const std::function<void(mdict3_options&)>& change) {
        mdict3_options o;
        change(o);
        return write_mdict3(entries, o).bytes;
    };
    const entries_list links = {
        {"-dash", "a dash\r\n"},           {"!bang", "@@@LINK=-dash\r\n"},
        {"alpha", "the first\r\n"},        {"alpha", "and again\r\n"},
        {"redirect", "@@@LINK=ALPHA\r\n"}, {"\xE4\xB8\xAD\xE6\x96\x87-key", "Chinese\r\n"}};
    // clang-format off
    check_summaries({
        {"keys in the writer's collation, a homograph and references", "r.mdx",
         with(links, [](mdict3_options& o) { o.title = "Links"; }), {},
         "Links\n!bang$a dash\n-dash$a dash\nalpha$the first | and again\n"
         "redirect$the first | and again\n\xE4\xB8\xAD\xE6\x96\x87-key$Chinese\n",
         {"  references:      2 words given the translation of the word they refer to"}},
        {"no Title: the file's name", "my-dict.mdx",
         with({{"a", "b\r\n"}}, [](mdict3_options& o) { o.title = ""; o.mdx_util = true; }), {},
         "my-dict\na$b\n", {}},
        {"ContentType=Text keeps what looks like tags", "t.mdx",
         with({{"lt", "a <b> c\r\n"}}, [](mdict3_options& o) { o.content_type = "Text"; }), {},
         "Test\nlt$a <b> c\n", {}},
        {"style marks replaced where the StyleSheet is not empty", "s.mdx",
         with({{"w", "`1`noun`2`a word\r\n"}},
              [](mdict3_options& o) {
                  o.more_attributes = " StyleSheet=\"1\n&lt;i&gt;\n&lt;/i&gt;\n2\n (\n)\"";
              }),
         {}, "Test\nw$noun (a word)\n", {}},
        {"found by its first bytes", "dictionary.bin", with({{"a", "b"}}, [](mdict3_options&) {}),
         {}, "Test\na$b\n", {}},
        {"--input-charset for keys and records", "g.mdx",
         with({{"\xD6\xD0\xCE\xC4", "\xBA\xBA\xD3\xEF"}}, [](mdict3_options&) {}),
         {"--input-charset", "GBK"}, "Test\n\xE4\xB8\xAD\xE6\x96\x87$\xE6\xB1\x89\xE8\xAF\xAD\n",
         {}},
    });
    // clang-format on
}

// The message with the places of the file's parts put in: {U1} to {U4} the
// units by type, {I1} to {I4} their info blocks, {R1} {R2} the record
// blocks, {K1} {K2} the key blocks, {RI} and {KI} the index blocks, {N} the
// file's size.
std::string with_places(std::string message, const mdict3_file& f) {
    std::vector<std::pair<std::string, std::size_t>> places = {
        {"{RI}", f.record_index}, {"{KI}", f.key_index}, {"{N}", f.bytes.size()}};
    for (std::size_t type = 1; type <= 4; ++type) {
        places.push_back({"{U" + std::to_string(type) + "}", f.units[type]});
        places.push_back({"{I" + std::to_string(type) + "}", f.infos[type]});
    }
    for (std::size_t i = 0; i < f.record_blocks.size(); ++i)
        places.push_back({"{R" + std::to_string(i + 1) + "}", f.record_blocks[i]});
    for (std::size_t i = 0; i < f.key_blocks.size(); ++i)
        places.push_back({"{K" + std::to_string(i + 1) + "}", f.key_blocks[i]});
    for (const auto& [name, value] : places)
        for (std::size_t at; (at = message.find(name)) != std::string::npos;)
            message.replace(at, name.size(), std::to_string(value));
    return message;
}

// Runs lexaro-import on each file, which it must refuse with the message
// (after "lexaro-import: ", with the places of the file's parts), leaving
// only the file.
struct refused_file {
    const char* what;
    mdict3_file file;
    std::string message;
};
void check_refusals(const std::vector<refused_file>& cases) {
    for (const refused_file& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir dir;
        write_file(dir / "x.mdx", c.file.bytes);
        const run_result run = run_lexaro_import({"x.mdx", "out.pdb"}, dir.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "lexaro-import: " + with_places(c.message, c.file) + "\n");
        EXPECT_EQ(dir.files(), std::vector<std::string>{"x.mdx"});
    }
}

TEST(ImportMdict3, FilesItCannotReadAreRefusedByName) {
    const entries_list one = {{"a", "b"}};
    const auto with = [&](const std::function<void(mdict3_options&)>& change) {
        mdict3_options o;
        change(o);
        return write_mdict3(one, o);
    };
    mdict3_file dictionary_header;
    {
        mdict_options o;
        o.version = "3.0";
        dictionary_header.bytes = write_mdict({{"a", "b"}}, o).bytes;
    }
    const std::string registered =
        "x.mdx is enciphered for one registered user: it cannot be read without that user's key";
    check_refusals({
        {"enciphered with a registered user's key", with([](mdict3_options& o) {
             o.registered_key = mdict3_key{1, 2, 3};
         }),
         registered},
        {"a registered user's key, no UUID", with([](mdict3_options& o) {
             o.registered_key = mdict3_key{1, 2, 3};
             o.uuid = "";
         }),
         registered},
        {"a registered user's key, the info blocks plain: the first block that fails is named",
         with([](mdict3_options& o) {
             o.registered_key = mdict3_key{1, 2, 3};
             o.info.cipher = mdict3_cipher::none;
         }),
         "x.mdx: its record index (at byte {RI}): its checksum is wrong"},
        {"a registration code in the header",
         with([](mdict3_options& o) { o.more_attributes = " RegCode=\"0123456789abcdef\""; }),
         registered},
        {"resources", with([](mdict3_options& o) { o.content_type = "Binary"; }),
         "x.mdx holds pictures and sounds, not words; import the .mdx"},
        {"engine 4.0", with([](mdict3_options& o) { o.version = "4.0"; }),
         "x.mdx was made by MDict 4.0, whose files lexaro-import cannot read; it reads those of"
         " MDict 1.x, 2.0 and 3.0"},
        {"a <ZDB> header of engine 2.0", with([](mdict3_options& o) { o.version = "2.0"; }),
         "x.mdx: its <ZDB> header gives GeneratedByEngineVersion=\"2.0\", but only MDict 3.0 writes"
         " such a header"},
        {"a <Dictionary> header of engine 3.0", dictionary_header,
         "x.mdx: its <Dictionary> header gives GeneratedByEngineVersion=\"3.0\", but such headers"
         " come only from MDict 1.x and 2.0"},
        {"LZ4, which no writer uses",
         with([](mdict3_options& o) { o.lies.first_record_methods = 0x25; }),
         "x.mdx: record block 1 (at byte {R1}): its compression, 5 (LZ4), is none of 0 (stored),"
         " 1 (LZO) and 2 (zlib), which lexaro-import reads"},
        {"a compression past any known",
         with([](mdict3_options& o) { o.lies.first_record_methods = 0x29; }),
         "x.mdx: record block 1 (at byte {R1}): its compression, 9, is none of 0 (stored),"
         " 1 (LZO) and 2 (zlib), which lexaro-import reads"},
        {"an unknown cipher", with([](mdict3_options& o) { o.lies.first_record_methods = 0x32; }),
         "x.mdx: record block 1 (at byte {R1}): its cipher, 3, is none of 0 (none), 1 (MDict's"
         " simple cipher) and 2 (Salsa20/8)"},
    });
}

uint64_t be_at(const std::string& bytes, std::size_t at, std::size_t size) {
    uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

TEST(ImportMdict3, DamagedFilesStopWithWhatIsWrongAndWhere) {
    // Records long enough that each block's data run past the 16 bytes enciphered.
    const entries_list entries = {{"a", "the first record, of the letter a"},
                                  {"b", "then a second one, for b"},
                                  {"c", "a third, which is c's"},
                                  {"d", "and the last of four, d"}};
    uint64_t records_size = 0;
    for (const auto& e : entries) records_size += e.second.size() + 1;
    struct damage {
        const char* what;
        std::function<void(mdict3_options&)> lie;
        std::function<void(std::string&)> change;  // after writing
        // After "lexaro-import: x.mdx: ", from the file before the change,
        // with the places of its parts (see with_places).
        std::function<std::string(const mdict3_file&)> message;
    };
    const auto none = [](mdict3_options&) {};
    const auto keep = [](std::string&) {};
    const auto says = [](std::string text) {
        return [text](const mdict3_file& f) { return with_places(text, f); };
    };
    const auto flip = [](std::size_t at) { return [at](std::string& b) { b[at] ^= 1; }; };
    const auto info = [](int unit, std::string from, std::string to) {
        return [=](mdict3_options& o) {
            o.lies.edit_info = [=](int type, std::string& xml) {
                if (type == unit) xml.replace(xml.find(from), from.size(), to);
            };
        };
    };
    const mdict3_file sound = write_mdict3(entries);
    const std::size_t r1 = sound.record_blocks[0], k1 = sound.key_blocks[0];
    const uint64_t r1_stored = be_at(sound.bytes, r1 - 4, 4),
                   r1_inflated = be_at(sound.bytes, r1 - 8, 4);
    const uint64_t k1_stored = be_at(sound.bytes, k1 - 4, 4),
                   k1_inflated = be_at(sound.bytes, k1 - 8, 4);
    const uint64_t unit1_length = be_at(sound.bytes, sound.units[1] + 4, 8);
    const uint64_t unit1_data = be_at(sound.bytes, sound.units[1] + 16, 8);
    const std::string n = std::to_string(sound.bytes.size());
    const auto number = [](uint64_t v) { return std::to_string(v); };

    const damage cases[] = {
        {"a header byte", none, flip(30),
         says("its header (at byte 4) is damaged: its checksum is wrong")},
        {"cut short in the header", none, [](std::string& b) { b.resize(100); },
         [](const mdict3_file& f) {
             return "x.mdx is not an MDict dictionary: its first 4 bytes give a header of " +
                    std::to_string(be_at(f.bytes, 0, 4)) + " bytes, and the file holds 100";
         }},
        {"cut short in a unit's header", none,
         [&](std::string& b) { b.resize(sound.units[3] + 10); },
         says("its unit at byte {U3} is cut short by the end of the file")},
        {"one byte short at the end", none, [](std::string& b) { b.pop_back(); },
         [](const mdict3_file& f) {
             return "its key-index unit (at byte " + std::to_string(f.units[4]) +
                    "): its info block (at byte " + std::to_string(f.infos[4] - 8) +
                    ") runs past the end of the file";
         }},
        {"bytes after the last unit", none, [](std::string& b) { b += "xyz"; },
         says("3 bytes follow its last unit, from byte {N} to the end of the file")},
        {"a byte in an enciphered head", none, flip(r1 + 8 + 3),
         says("record block 1 (at byte {R1}): its checksum is wrong")},
        {"a byte in the plain tail of an enciphered block", none, flip(r1 + 8 + 20),
         says("record block 1 (at byte {R1}): its checksum is wrong")},
        {"a byte of a plain block's data",
         [](mdict3_options& o) { o.records.cipher = mdict3_cipher::none; },
         [&](std::string& b) { b[r1 + 8 + 20] ^= 1; },
         says("record block 1 (at byte {R1}): its zlib data are damaged (invalid code -- missing "
              "end-of-block)")},
        {"more bytes enciphered than the block holds",
         [](mdict3_options& o) { o.lies.first_record_enciphered = 250; }, keep,
         [&](const mdict3_file& f) {
             return with_places(
                        "record block 1 (at byte {R1}): it says that 250 of its bytes are"
                        " enciphered, but ",
                        f) +
                    std::to_string(be_at(f.bytes, f.record_blocks[0] - 4, 4) - 8) +
                    " follow its prefix";
         }},
        {"a frame's inflated size one more",
         [](mdict3_options& o) { o.lies.first_record_frame_inflated = 1; }, keep,
         says("row 1 of its record index gives record block 1 (at byte {R1}) " +
              number(8 + r1_stored) + " framed bytes and " + number(r1_inflated) +
              " inflated, its frame " + number(8 + r1_stored) + " and " + number(r1_inflated + 1))},
        {"a frame and its index row one more",
         [&](mdict3_options& o) {
             o.lies.first_record_frame_inflated = 1;
             o.lies.edit_record_index = [](std::string& index) { ++index[15]; };
         },
         keep,
         says("record block 1 (at byte {R1}): it inflates to " + number(r1_inflated) +
              " bytes, its index says " + number(r1_inflated + 1))},
        {"a unit of type 7", [](mdict3_options& o) { o.lies.first_unit_type = 7; }, keep,
         says("its unit at byte {U1} has type 7, none of 1 (record data), 2 (record index), 3 (key"
              " data) and 4 (key index)")},
        {"a second unit of one type",
         [](mdict3_options& o) {
             o.unit_order = {1, 2, 3, 3, 4};
         },
         keep,
         [](const mdict3_file& f) {
             // The second key-data unit starts where the key-index unit would have.
             return "its unit at byte " + std::to_string(f.units[3]) + " is a second key-data unit";
         }},
        {"a unit missing",
         [](mdict3_options& o) {
             o.unit_order = {1, 2, 3};
         },
         keep, says("it ends at byte {N} without its key-index unit")},
        {"more blocks counted than the unit holds",
         [](mdict3_options& o) { o.lies.record_block_count = 3; }, keep,
         says("its record-data unit (at byte {U1}): it holds 2 blocks, its header counts 3")},
        {"fewer blocks counted than the unit holds",
         [](mdict3_options& o) { o.lies.record_block_count = 1; }, keep,
         says("its record-data unit (at byte {U1}): its blocks are more than the 1 its header"
              " counts")},
        {"a unit length neither 0 nor exact",
         [](mdict3_options& o) { o.lies.record_unit_length = 5; }, keep,
         says("its record-data unit (at byte {U1}) gives its length as 5 bytes, but its blocks"
              " and info block take " +
              number(unit1_length))},
        {"blocks past the size of the unit's blocks", none,
         [&](std::string& b) {
             b[sound.units[1] + 23] = static_cast<char>(b[sound.units[1] + 23] - 1);
         },
         [&](const mdict3_file& f) {
             return "its record-data unit (at byte " + std::to_string(f.units[1]) +
                    "): block 2 (at byte " + std::to_string(f.record_blocks[1] - 8) +
                    ") runs past the end of its blocks (byte " +
                    std::to_string(f.units[1] + 24 + unit1_data - 1) + ")";
         }},
        {"a unit's blocks past the end of the file", none,
         [&](std::string& b) { b[sound.units[4] + 16] = 1; },
         [&](const mdict3_file& f) {
             return "its key-index unit (at byte " + std::to_string(f.units[4]) +
                    "): its blocks (" +
                    std::to_string((uint64_t{1} << 56) + be_at(f.bytes, f.units[4] + 16, 8)) +
                    " bytes at byte " + std::to_string(f.units[4] + 24) +
                    ") run past the end of the file (" + std::to_string(f.bytes.size()) + " bytes)";
         }},
        {"a record offset past the records",
         [](mdict3_options& o) {
             o.lies.record_offsets = {{3, 1000}};
         },
         keep,
         says("the record of \"d\" (entry 4) starts at 1000, past the " + number(records_size) +
              " bytes of its records")},
        {"record offsets out of order",
         [](mdict3_options& o) {
             o.lies.record_offsets = {{1, 0}, {0, 4}};
         },
         keep,
         says("the record of \"b\" (entry 2) starts at 0, before that of the entry before it (4)")},
        {"keyCount and recordCount differ", info(3, "keyCount=\"4\"", "keyCount=\"5\""), keep,
         says("its key-data unit counts 5 keys, its record-data unit 4 records")},
        {"blockCount more than the key blocks", info(4, "blockCount=\"2\"", "blockCount=\"3\""),
         keep, says("its key-index unit counts 3 key blocks, its key-data unit holds 2")},
        {"an info block of another element", info(1, "RecordData", "RecordDat"), keep,
         says("the info block of its record-data unit (at byte {I1}) is a <RecordDat> element, not"
              " <RecordData>")},
        {"an info block that is no element", info(2, "<", "("), keep,
         says("the info block of its record-index unit (at byte {I2}) is no XML element, not"
              " <RecordIndex>")},
        {"a count that is no number", info(3, "keyCount=\"4\"", "keyCount=\"four\""), keep,
         says("the info block of its key-data unit (at byte {I3}) gives no keyCount that is a"
              " number")},
        {"an info block too large", info(1, "/>", std::string(70000, ' ') + "/>"), keep,
         says("the info block of its record-data unit (at byte {I1}): it inflates to 70048 bytes,"
              " more than the 65536 an info block may take")},
        {"a record-index row that is not the frame's",
         [](mdict3_options& o) {
             o.lies.edit_record_index = [](std::string& index) { ++index[7]; };
         },
         keep,
         says("row 1 of its record index gives record block 1 (at byte {R1}) " +
              number(9 + r1_stored) + " framed bytes and " + number(r1_inflated) +
              " inflated, its frame " + number(8 + r1_stored) + " and " + number(r1_inflated))},
        {"a record index cut within a row",
         [](mdict3_options& o) {
             o.lies.edit_record_index = [](std::string& index) { index.pop_back(); };
         },
         keep, says("its record index ends within its row 2")},
        {"a record index of more rows than blocks",
         [](mdict3_options& o) {
             o.lies.edit_record_index = [](std::string& index) { index += index.substr(0, 16); };
         },
         keep,
         says("its record index holds more rows than the 2 record blocks of its record-data unit")},
        {"a key-index row that is not the frame's",
         [](mdict3_options& o) {
             o.lies.edit_key_index = [](std::string& index) { ++index[4 + 2 + 2 + 2 + 2 + 7]; };
         },
         keep,
         says("row 1 of its key-block index gives key block 1 (at byte {K1}) " +
              number(8 + k1_stored) + " framed bytes and " + number(k1_inflated + 1) +
              " inflated, its frame " + number(8 + k1_stored) + " and " + number(k1_inflated))},
        {"a key-index row cut short",
         [](mdict3_options& o) {
             o.lies.edit_key_index = [](std::string& index) { index.pop_back(); };
         },
         keep, says("row 2 of its key-block index is cut short")},
        {"a key index of fewer rows than key blocks",
         [](mdict3_options& o) {
             o.lies.edit_key_index = [](std::string& index) { index.resize(index.size() / 2); };
         },
         keep, says("its key-block index holds 1 rows, its key-data unit 2 key blocks")},
        {"key counts that add up to more than keyCount",
         [](mdict3_options& o) { o.lies.edit_key_index = [](std::string& index) { ++index[3]; }; },
         keep,
         says("row 2 of its key-block index gives its key blocks more than the 4 keys its key-data"
              " unit counts")},
        {"key counts that add up to fewer than keyCount",
         [](mdict3_options& o) { o.lies.edit_key_index = [](std::string& index) { --index[3]; }; },
         keep, says("its key-block index gives its key blocks 3 keys, its key-data unit counts 4")},
        {"a first key that is not the row's",
         [](mdict3_options& o) {
             o.lies.edit_key_index = [](std::string& index) { index[6] = 'z'; };
         },
         keep,
         says("key block 1 (at byte {K1}): its first key, \"a\", is not the first key its index row"
              " gives")},
        {"a last key that is not the row's",
         [](mdict3_options& o) {
             o.lies.edit_key_index = [](std::string& index) { index[10] = 'z'; };
         },
         keep,
         says("key block 1 (at byte {K1}): its last key, \"b\", is not the last key its index row"
              " gives")},
        {"a key without its terminator",
         [](mdict3_options& o) {
             o.lies.edit_first_key_block = [](std::string& block) { block.pop_back(); };
         },
         keep, says("key block 1 (at byte {K1}): the key of its entry 2 has no terminator")},
    };
    for (const damage& c : cases) {
        SCOPED_TRACE(c.what);
        mdict3_options o;
        c.lie(o);
        mdict3_file file = write_mdict3(entries, o);
        std::string message = c.message(file);
        if (message.rfind("x.mdx", 0) != 0) message = "x.mdx: " + message;
        c.change(file.bytes);
        scratch_dir dir;
        write_file(dir / "x.mdx", file.bytes);
        const run_result run = run_lexaro_import({"x.mdx", "out.pdb"}, dir.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "lexaro-import: " + message + "\n");
        EXPECT_EQ(dir.files(), std::vector<std::string>{"x.mdx"});
    }
}

// Many entries in blocks larger than the pieces they are inflated in, each
// block enciphered: every entry, in order.
TEST(ImportMdict3, LargeBlocksGiveEveryEntry) {
    entries_list entries;
    std::string expected = "Big\n";
    for (int i = 0; i < 30000; ++i) {
        const std::string word = "word number " + std::to_string(100000 + i) + " of the list";
        const std::string text = "record " + std::to_string(i) + std::string(i % 97, '.') + "end";
        entries.push_back({word, text});
        expected += word + "$" + text + "\n";
    }
    mdict3_options o;
    o.title = "Big";
    o.keys_per_block = o.records_per_block = 30000;
    check_cases({{"one key block of 1.3 MB, one record block of 1.8 MB",
                  "big.mdx",
                  write_mdict3(entries, o).bytes,
                  {},
                  expected}});
}

std::string random_bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

std::string hex(const import::block_key& key) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const uint8_t b : key) out += {digits[b >> 4], digits[b & 15]};
    return out;
}

// Every tail length and both paths of the hash (under and over 32 bytes).
TEST(MdictCiphers, Xxh64AsLibxxhashReckonsIt) {
    const std::string data = random_bytes(70000, 7);
    std::vector<std::size_t> sizes;
    for (std::size_t n = 0; n <= 100; ++n) sizes.push_back(n);
    for (const std::size_t n : {1000u, 4096u, 65543u, 70000u}) sizes.push_back(n);
    for (const uint64_t seed : {uint64_t{0}, uint64_t{1}, uint64_t{0x9E3779B185EBCA87}}) {
        for (const std::size_t n : sizes) {
            SCOPED_TRACE(std::to_string(n) + " bytes, seed " + std::to_string(seed));
            EXPECT_EQ(import::xxh64(std::string_view(data).substr(0, n), seed),
                      XXH64(data.data(), n, seed));
        }
    }
}

TEST(MdictCiphers, TheKeyThatAUuidGives) {
    // A real file's UUID and the key its blocks were deciphered with.
    EXPECT_EQ(hex(import::key_from_uuid("ef4250aa-e614-4346-9998-872175ed02aa")),
              "230af6dd5dc18487330c8a759a97dcc0");
    for (const std::string uuid : {"ef4250aa-e614-4346-9998-872175ed02aa", "abc", "x", ""}) {
        SCOPED_TRACE(uuid);
        const mdict3_key theirs = mdict3_key_of(uuid);
        const import::block_key ours = import::key_from_uuid(uuid);
        EXPECT_TRUE(std::equal(ours.begin(), ours.end(), theirs.begin()));
    }
}

// The keystream of each block of 64 bytes, as libsodium's Salsa20/8 core
// makes it from the key twice and "expand 16-byte k".
TEST(MdictCiphers, Salsa20_8AsLibsodiumReckonsIt) {
    ASSERT_GE(sodium_init(), 0);
    const std::string plain = random_bytes(300, 11);
    const std::string key_bytes = random_bytes(16, 12);
    import::block_key key;
    std::copy(key_bytes.begin(), key_bytes.end(), key.begin());
    unsigned char k32[32], in[16] = {}, block[64];
    for (int i = 0; i < 16; ++i) k32[i] = k32[16 + i] = static_cast<unsigned char>(key_bytes[i]);
    const unsigned char sigma[] = "expand 16-byte k";
    for (const std::size_t size : {0u, 1u, 16u, 32u, 63u, 64u, 65u, 255u, 300u}) {
        SCOPED_TRACE(std::to_string(size) + " bytes");
        std::string expected = plain.substr(0, size);
        for (std::size_t at = 0; at < size; at += 64) {
            in[8] = static_cast<unsigned char>(at / 64);
            crypto_core_salsa208(block, in, k32, sigma);
            for (std::size_t i = at; i < size && i < at + 64; ++i)
                expected[i] = static_cast<char>(expected[i] ^ block[i - at]);
        }
        std::string ours = plain.substr(0, size);
        import::salsa20_8_xor(key, reinterpret_cast<uint8_t*>(ours.data()), ours.size());
        EXPECT_EQ(ours, expected);
    }
}

}  // namespace
}  // namespace lexaro::test
