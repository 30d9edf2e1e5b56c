// lexaro-dump on hand-made corrupt databases: each breaks one rule of a
// sound database that lexaro compiled, and must be reported at its offset.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

#include "common/big_endian.h"
#include "common/layout.h"
#include "dump/database_reader.h"
#include "dump/dump_commands.h"
#include "test_support.h"

namespace lexaro::dump {
namespace {

// 150 sorted entries in blocks of 100: two blocks, one record.
const std::string& sound_database() {
    static const std::string db = [] {
        std::vector<std::pair<std::string, std::string>> entries;
        for (int i = 0; i < 150; ++i) {
            const std::string n = std::to_string(1000 + i);
            entries.emplace_back("w" + n, "t" + n + std::string(i % 7, '$'));
        }
        test::scratch_dir dir;
        return test::compile_database(dir, test::make_source("Animals", entries), 100);
    }();
    return db;
}

// File offsets of the sound database's parts.
struct places {
    uint64_t stream, index, block[2], block_length[2], key[2];
};

places places_of(const std::string& file) {
    const memory_input input(file);
    database db;
    EXPECT_FALSE(open_database(input, db).has_value());
    places p{db.stream_start, db.stream_start + db.header.index_offset, {}, {}, {}};
    for (int i = 0; i < 2; ++i) {
        p.block[i] = db.stream_start + db.index[i].block_offset;
        p.block_length[i] = db.index[i].block_length;
        p.key[i] = db.stream_start + db.index[i].key_offset;
    }
    return p;
}

void set16(std::string& s, uint64_t at, uint16_t v) {
    put_u16(reinterpret_cast<uint8_t*>(&s[at]), v);
}
void set32(std::string& s, uint64_t at, uint32_t v) {
    put_u32(reinterpret_cast<uint8_t*>(&s[at]), v);
}

struct corruption {
    const char* rule;  // a part of the message
    // Breaks the database and gives the offset where the break must be found.
    std::function<uint64_t(std::string& db, const places& p)> apply;
};

TEST(DumpCheck, ReportsEachBrokenRuleAtItsOffset) {
    // clang-format off
    const corruption cases[] = {
        {"within the database header", [](auto& db, auto&) { db.clear(); return 0; }},
        {"within the database header", [](auto& db, auto&) { db.resize(77); return 77; }},
        {"type is not DIda", [](auto& db, auto&) { db[63] = 'A'; return 60; }},
        {"creator is not Qzvk", [](auto& db, auto&) { db[64] = 'q'; return 64; }},
        {"name field holds no zero byte", [](auto& db, auto&) { db.replace(0, 32, 32, 'n'); return 0; }},
        {"modification date differs", [](auto& db, auto&) { db[43] ^= 1; return 40; }},
        {"last backup date differs", [](auto& db, auto&) { db[44] ^= 1; return 44; }},
        {"attributes is 1, not 0", [](auto& db, auto&) { db[33] = 1; return 32; }},
        {"next record list is", [](auto& db, auto&) { db[75] = 1; return 72; }},
        {"record count is 0", [](auto& db, auto&) { set16(db, 76, 0); return 76; }},
        {"within the record list", [](auto& db, auto&) { db.resize(84); return 84; }},
        {"record 0 offset is 88, expected 96", [](auto& db, auto&) { set16(db, 76, 2); return 78; }},
        {"record 0 attributes", [](auto& db, auto&) { db[82] = 0x40; return 82; }},
        {"record 0 unique ID is 1", [](auto& db, auto&) { db[85] = 1; return 83; }},
        {"two bytes after the record list", [](auto& db, auto&) { db[87] = 1; return 86; }},
        {"record count is 1, but", [](auto& db, auto&) { db.append(40000, 'x'); return 76; }},
        {"within its header", [](auto& db, auto&) { db.resize(300); return 300; }},
        {"stream version is 2", [](auto& db, auto& p) { set16(db, p.stream, 2); return p.stream; }},
        {"words_per_block is 99", [](auto& db, auto& p) { set16(db, p.stream + 4, 99); return p.stream + 4; }},
        {"block_count is 3", [](auto& db, auto& p) { set16(db, p.stream + 2, 3); return p.stream + 2; }},
        {"within the stream header", [](auto& db, auto& p) { set32(db, p.stream + 10, 0); return p.stream + 10; }},
        {"before the end of its block index", [](auto& db, auto& p) { db.resize(p.block[1]); return db.size(); }},
        {"before the end of its block index", [](auto& db, auto&) { db.pop_back(); return db.size(); }},
        {"goes on for 1 bytes", [](auto& db, auto&) { db += '\0'; return db.size() - 1; }},
        {"block 0 starts at 287, expected 286", [](auto& db, auto& p) { set32(db, p.index + 4, 287); return p.index + 4; }},
        {"block 1 starts at", [](auto& db, auto& p) {  // overlapping block 0
             set32(db, p.index + 16, static_cast<uint32_t>(p.block[1] - p.stream - 1)); return p.index + 16; }},
        {"block 0 of 4294967295 bytes runs past", [](auto& db, auto& p) { set32(db, p.index + 8, ~0u); return p.index + 8; }},
        {"key of block 1 starts at", [](auto& db, auto& p) { db[p.index + 15] ^= 1; return p.index + 12; }},
        {"but the key table ends at", [](auto& db, auto& p) {  // a gap before the index
             db.insert(p.index, 1, 'x');
             set32(db, p.stream + 10, static_cast<uint32_t>(p.index - p.stream + 1)); return p.stream + 10; }},
        {"key of block 1 runs into the block index", [](auto& db, auto& p) { db[p.index - 1] = 'x'; return p.key[1] + 6; }},
        {"block 0 does not begin with the level 9 zlib header", [](auto& db, auto& p) { db[p.block[0] + 1] = '\x9C'; return p.block[0]; }},
        {"block 1 does not inflate", [](auto& db, auto& p) { db[p.block[1] + p.block_length[1] - 1] ^= 1; return p.block[1]; }},
        {"block 1 holds 100 zero-terminated strings, expected 102", [](auto& db, auto& p) { set32(db, p.stream + 6, 151); return p.block[1]; }},
        {"block 1 holds more than 98 zero-terminated strings", [](auto& db, auto& p) { set32(db, p.stream + 6, 149); return p.block[1]; }},
        {"key of block 0 differs from its first word", [](auto& db, auto& p) { db[p.key[0] + 1] = '0'; return p.key[0]; }},
        {"key of block 1 differs from its last word", [](auto& db, auto& p) { db[p.key[1] + 7] = '0'; return p.key[1] + 6; }},
        {"max_word_size is 7, but the entries give 6", [](auto& db, auto& p) { set32(db, p.stream + 14, 7); return p.stream + 14; }},
        {"max_translation_size is 4", [](auto& db, auto& p) { set32(db, p.stream + 18, 4); return p.stream + 18; }},
        {"avg_word_size is 5, but the entries give 6", [](auto& db, auto& p) { set32(db, p.stream + 22, 5); return p.stream + 22; }},
        {"avg_translation_size is 0", [](auto& db, auto& p) { set32(db, p.stream + 26, 0); return p.stream + 26; }},
    };
    // clang-format on
    const places p = places_of(sound_database());
    for (const corruption& c : cases) {
        std::string db = sound_database();
        const uint64_t offset = c.apply(db, p);
        const memory_input input(db);
        database parsed;
        auto found = open_database(input, parsed);
        if (!found) {
            entry_reader reader(parsed);
            while (reader.next()) continue;
            found = reader.problem();
        }
        ASSERT_TRUE(found.has_value()) << c.rule;
        EXPECT_NE(found->rule.find(c.rule), std::string::npos) << found->rule;
        EXPECT_EQ(found->offset, offset) << c.rule;
    }
}

// A file with one byte that cannot be read, as on a bad sector.
class failing_input : public random_access_input {
public:
    failing_input(std::string_view bytes, uint64_t bad) : bytes_(bytes), bad_(bad) {}
    uint64_t size() const override { return bytes_.size(); }
    bool read_at(uint64_t offset, void* buffer, std::size_t length) const override {
        return (bad_ < offset || bad_ >= offset + length) && bytes_.read_at(offset, buffer, length);
    }

private:
    memory_input bytes_;
    uint64_t bad_;
};

TEST(DumpCheck, AnUnreadablePartIsReportedAsSuch) {
    const std::string& db = sound_database();
    const places p = places_of(db);
    // The header, the record list, the stream header, the index, the key
    // table, a block's zlib header, a block's data.
    for (uint64_t bad : {uint64_t{0}, uint64_t{80}, p.stream + 10, p.index + 5, p.key[1],
                         p.block[0], p.block[1] + 3}) {
        const failing_input input(db, bad);
        database parsed;
        auto found = open_database(input, parsed);
        if (!found) {
            entry_reader reader(parsed);
            while (reader.next()) continue;
            found = reader.problem();
        }
        ASSERT_TRUE(found.has_value()) << bad;
        EXPECT_TRUE(found->unreadable) << bad << ": " << found->rule;
    }
    std::ostringstream err;
    const test::scratch_dir dir;
    buffered_output out(test::open_for_writing(dir / "out"));
    EXPECT_EQ(check_command(failing_input(db, p.index), "f.pdb", out, err), 1);
    EXPECT_EQ(err.str(), "lexaro-dump: can't read file f.pdb\n");
    out.close();
}

// With more jobs the check finds what one job finds: the first broken rule
// in file order, whichever block a job reads first.
TEST(DumpCheckJobs, FindTheFirstBrokenRuleInFileOrder) {
    static const std::string sound = [] {
        std::vector<std::pair<std::string, std::string>> entries;
        for (int i = 0; i < 1150; ++i)
            entries.emplace_back("w" + std::to_string(10000 + i), std::string(i % 50, 't'));
        entries[600].first = "w10599";  // repeats the word before it
        test::scratch_dir dir;
        return test::compile_database(dir, test::make_source("Jobs", entries), 100);
    }();
    const memory_input input(sound);
    database db;
    ASSERT_FALSE(open_database(input, db).has_value());
    ASSERT_EQ(db.header.block_count, 12);
    const auto block = [&](uint32_t i) { return db.stream_start + db.index[i].block_offset; };
    const auto last_byte = [&](uint32_t i) { return block(i) + db.index[i].block_length - 1; };
    const auto key = [&](uint32_t i) { return db.stream_start + db.index[i].key_offset; };
    const struct {
        const char* found;                   // a part of the rule that one job reports
        std::vector<uint64_t> flipped;       // bytes changed
        uint64_t unreadable = ~uint64_t{0};  // a byte that cannot be read
    } cases[] = {
        {"", {}},
        {"block 3 does not inflate", {last_byte(3), key(9) + 1}},
        {"key of block 9 differs from its first word", {key(9) + 1, last_byte(10)}},
        {"block 11 does not begin with the level 9 zlib header", {block(11) + 1}},
        {"can't read the file", {last_byte(8)}, block(5) + 4},
        {"block 5 does not inflate", {last_byte(5)}, block(8) + 4},
        {"max_word_size", {db.stream_start + field_offset::max_word_size + 3}},
    };
    for (const auto& c : cases) {
        std::string bytes = sound;
        for (uint64_t at : c.flipped) bytes[at] ^= 0x20;
        const failing_input file(bytes, c.unreadable);
        std::optional<violation> one;
        order_report one_order;
        for (unsigned jobs : {1u, 2u, 3u, 8u}) {
            database parsed;
            order_report order;
            entry_totals totals;
            const outcome found = check_database(file, parsed, order, totals, jobs);
            if (jobs == 1) {
                one = found;
                one_order = order;
                EXPECT_EQ(found.has_value(), *c.found != '\0') << c.found;
                if (found) {
                    EXPECT_NE(found->rule.find(c.found), std::string::npos) << found->rule;
                }
                continue;
            }
            ASSERT_EQ(found.has_value(), one.has_value()) << c.found << ", " << jobs << " jobs";
            if (found) {
                EXPECT_EQ(describe(*found), describe(*one)) << jobs << " jobs";
                EXPECT_EQ(found->unreadable, one->unreadable) << c.found << ", " << jobs << " jobs";
            } else {
                EXPECT_EQ(order.repeated, 1u);
                EXPECT_EQ(order.first_repeated, "w10599");
                EXPECT_EQ(order.entry, one_order.entry);
            }
        }
    }
}

TEST(DumpCheck, BoundsWhatABlockMayInflateTo) {
    const auto deflated = [](const std::string& data, int level = 9) {
        std::string block(compressBound(data.size()), '\0');
        uLongf length = block.size();
        compress2(reinterpret_cast<Bytef*>(block.data()), &length,
                  reinterpret_cast<const Bytef*>(data.data()), data.size(), level);
        return block.substr(0, length);
    };
    bounded_inflater inflater(1000000);
    const auto inflate_bounded = [&](std::string_view compressed) {
        return inflater.inflate(memory_input(compressed), 0, compressed.size());
    };
    EXPECT_FALSE(inflate_bounded(deflated(std::string(1000000, 'a'))));
    EXPECT_EQ(inflater.output(), std::string(1000000, 'a'));
    EXPECT_EQ(inflate_bounded(deflated(std::string(1000001, 'a'))),
              "it inflates to more than 1000000 bytes");
    EXPECT_LE(inflater.output().size(), 1000001u);
    const std::string block = deflated(std::string(100, 'a'));
    EXPECT_EQ(inflate_bounded(block.substr(0, block.size() - 1)), "its zlib data end early");
    EXPECT_EQ(inflate_bounded(block + "xy"), "2 bytes follow its zlib data");
    EXPECT_EQ(inflate_bounded(""), "its zlib data end early");

    // Longer than the bound, the input is read in pieces: a stored block of
    // 1,000,000 bytes, and a short one followed by more than a piece holds.
    std::string stored(1000000, '\0');
    for (std::size_t i = 0; i < stored.size(); ++i) stored[i] = static_cast<char>(i * 7919 >> 5);
    const std::string long_block = deflated(stored, 0);
    ASSERT_GT(long_block.size(), 1000000u);
    EXPECT_FALSE(inflate_bounded(long_block));
    EXPECT_TRUE(inflater.output() == stored);
    EXPECT_EQ(inflate_bounded(block + std::string(1500000, 'x')),
              "1500000 bytes follow its zlib data");
}

TEST(DumpCommands, SummaryAndLookupOnASmallDictionary) {
    test::scratch_dir dir;
    test::compile_database(dir, "Animals\nb$1\nb$2\na$3\nc$\n", 100);
    const auto check = test::run_lexaro_dump({"dict.pdb"}, dir.path());
    EXPECT_EQ(check.status, 0) << check.err;
    for (const char* line :
         {"title:         Animals\n", "database name: dict\n", "entries:       4\n",
          "order:         1 entries below the word before them, the first entry 3",
          "duplicates:    1 words repeated in consecutive entries, the first b\n",
          "words:         largest size 2, average size 2\n", "dict.pdb: sound\n"})
        EXPECT_NE(check.out.find(line), std::string::npos) << line << check.out;
    // Keys (b, c): a lies below the only block's range, as an unsorted source makes it.
    EXPECT_EQ(test::run_lexaro_dump({"--lookup", "b", "dict.pdb"}, dir.path()).out, "1\n2\n");
    EXPECT_EQ(test::run_lexaro_dump({"--lookup", "a", "dict.pdb"}, dir.path()).status, 1);
    EXPECT_EQ(test::run_lexaro_dump({"dict.pdb", "--lookup", "c"}, dir.path()).out, "\n");

    test::write_file(dir / "d.pdb", "not a database");
    const auto broken = test::run_lexaro_dump({"--text", "d.pdb"}, dir.path());
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.err,
              "lexaro-dump: d.pdb: offset 14: file ends within the database header of 78 bytes\n");
}

// With --charset the check shows the database's own text, its title, name
// and first repeated word, in UTF-8 as --text and --lookup do; the rest of
// the summary is the same bytes.
TEST(DumpCommands, CheckShowsTheDatabasesTextInUtf8WithACharset) {
    test::scratch_dir dir;
    std::string db = test::compile_database(dir, "Tiere \x96 W\xF6rter\n\xE9$1\n\xE9$2\n", 100);
    const std::string name = "W\xF6rter";  // the name field, as lexaro-import --charset writes it
    std::copy(name.begin(), name.end(), db.begin());
    db[name.size()] = '\0';
    test::write_file(dir / "d.pdb", db);
    const struct {
        std::vector<std::string> args;
        std::string title, name, repeated;
    } checks[] = {
        {{"--charset", "CP1252", "d.pdb"},
         "Tiere \xE2\x80\x93 W\xC3\xB6rter",
         "W\xC3\xB6rter",
         "\xC3\xA9"},
        {{"--check", "--charset=windows-1252", "d.pdb"},
         "Tiere \xE2\x80\x93 W\xC3\xB6rter",
         "W\xC3\xB6rter",
         "\xC3\xA9"},
        {{"d.pdb"}, "Tiere \x96 W\xF6rter", "W\xF6rter", "\xE9"},
    };
    for (const auto& c : checks) {
        const auto check = test::run_lexaro_dump(c.args, dir.path());
        EXPECT_EQ(check.status, 0) << check.err;
        const std::string plain = test::run_lexaro_dump({"d.pdb"}, dir.path()).out;
        const std::string own = "title:         Tiere \x96 W\xF6rter\ndatabase name: W\xF6rter\n";
        ASSERT_EQ(plain.rfind(own, 0), 0u) << plain;
        const std::string rest = plain.substr(own.size(), plain.find("duplicates:") - own.size());
        EXPECT_EQ(check.out, "title:         " + c.title + "\ndatabase name: " + c.name + "\n" +
                                 rest + "duplicates:    1 words repeated in consecutive entries, " +
                                 "the first " + c.repeated + "\nd.pdb: sound\n");
    }
}

// Volumes of one dictionary, cut by word range: a word is looked up in the
// volume whose range holds it, in whatever order they are given.
TEST(DumpCommands, LookupOverVolumes) {
    const std::vector<std::pair<std::string, std::string>> sources = {
        {"one", "V\nb$1\nc$2\n"},  {"two", "V\nd$3\nf$4\n"}, {"three", "V\nh$5\n"},
        {"empty", "V\n"},        {"wide", "V\na$6\nz$7\n"}};
    std::map<std::string, std::string> bytes;
    for (const auto& [name, text] : sources) {
        test::scratch_dir dir;
        bytes[name] = test::compile_database(dir, text, 100);
    }
    const struct {
        std::vector<std::string> volumes;
        std::string word, out;
        int status;
    } lookups[] = {
        {{"one", "two", "three"}, "b", "1\n", 0},
        {{"one", "two", "three"}, "f", "4\n", 0},
        {{"three", "two", "one"}, "d", "3\n", 0},
        {{"one", "two", "three"}, "h", "5\n", 0},
        {{"one", "two", "three"}, "e", "", 1},  // within the range of two, not a word of it
        {{"one", "two", "three"}, "g", "", 1},  // between two and three
        {{"one", "two", "three"}, "a", "", 1},
        {{"one", "two", "three"}, "i", "", 1},
        {{"empty", "one"}, "c", "2\n", 0},
        {{"wide", "two"}, "d", "", 1},  // the first whose range holds it
        {{"two", "wide"}, "d", "3\n", 0},
    };
    for (const auto& l : lookups) {
        std::vector<memory_input> files;
        for (const std::string& v : l.volumes) files.emplace_back(bytes[v]);
        std::vector<const random_access_input*> inputs;
        for (const memory_input& f : files) inputs.push_back(&f);
        test::scratch_dir dir;
        buffered_output out(test::open_for_writing(dir / "out"));
        std::ostringstream err;
        EXPECT_EQ(lookup_command(inputs, l.volumes, l.word, out, err), l.status) << l.word;
        ASSERT_TRUE(out.close());
        EXPECT_EQ(test::read_file(dir / "out"), l.out) << l.word;
        EXPECT_EQ(err.str(), l.status == 0 ? "" : "lexaro-dump: " + l.word + ": not found\n")
            << l.word;
    }

    test::scratch_dir dir;
    for (const char* v : {"one", "two", "three"})
        test::write_file(dir / (std::string(v) + ".pdb"), bytes[v]);
    const std::vector<std::string> args{"--lookup", "f", "one.pdb", "two.pdb", "three.pdb"};
    const auto found = test::run_lexaro_dump(args, dir.path());
    EXPECT_EQ(found.out, "4\n");
    EXPECT_EQ(found.status, 0);
    // A volume that is no database is reported by name, as one alone is.
    test::write_file(dir / "two.pdb", "not a database");
    const auto broken = test::run_lexaro_dump(args, dir.path());
    EXPECT_EQ(broken.status, 1);
    EXPECT_EQ(broken.err, "lexaro-dump: two.pdb: offset 14: file ends within the database header "
                          "of 78 bytes\n");
    const auto missing =
        test::run_lexaro_dump({"--lookup", "f", "one.pdb", "four.pdb"}, dir.path());
    EXPECT_EQ(missing.err, "lexaro-dump: can't open file four.pdb\n");
}

TEST(DumpCommands, AFailedWriteIsAFailure) {
    if (test::on_windows) GTEST_SKIP() << "no /dev/full, no file-size limit to make a write fail";
    test::scratch_dir dir;
    std::vector<std::pair<std::string, std::string>> entries{{"cat", "chat"}, {"dog", "chien"}};
    for (int i = 0; i < 20; ++i) entries.emplace_back("e" + std::to_string(i), "translation");
    const std::string source = test::make_source("Animals", entries);
    test::compile_database(dir, source, 100);
    const std::string full = "lexaro-dump: can't write standard output: No space left on device\n";
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--text", "dict.pdb"},
                                                 {"dict.pdb"},
                                                 {"--lookup", "dog", "dict.pdb"},
                                                 {"--help"}}) {
        const auto run = test::run_lexaro_dump(args, dir.path(), "/dev/full");
        EXPECT_EQ(run.status, 1) << args[0];
        EXPECT_EQ(run.err, full) << args[0];
    }
    // A write that fails partway, at a file size limit (which the message
    // on standard error stays below): what came before stays.
    const auto cut = test::run_program(LEXARO_DUMP_BINARY, {"--text", "dict.pdb"}, dir.path(), 100);
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(cut.err, "lexaro-dump: can't write standard output: File too large\n");
    EXPECT_EQ(cut.out, source.substr(0, 100));
}

// Only the header and the record list are read before the file's size
// rules a file out: big sparse files are refused at once.
TEST(DumpCommands, RefusesWhatTheFileSizeRulesOut) {
    test::scratch_dir dir;
    const std::string db = test::compile_database(dir, "Animals\ncat$chat\n", 100);
    std::string many_records = db;
    set16(many_records, 76, 65535);
    const struct {
        std::string bytes;
        uint64_t size;  // the file is extended to this size, sparse; 0 keeps it
        std::string err;
    } cases[] = {
        {"", 2000000000, "f.pdb: offset 60: type is not DIda"},
        {db, 2000000000,
         "f.pdb: offset 76: record count is 1, but a stream of 1999999912 bytes "
         "needs 61036"},
        {"", max_database_size, "f.pdb is too large for a database"},
        {many_records, 0,
         "f.pdb: offset " + std::to_string(db.size()) +
             ": file ends within the record list of 65535 records"},
        {db.substr(0, 77), 0, "f.pdb: offset 77: file ends within the database header of 78 bytes"},
    };
    for (const auto& c : cases) {
        test::write_file(dir / "f.pdb", c.bytes);
        if (c.size > 0) std::filesystem::resize_file(dir / "f.pdb", c.size);
        const auto run = test::run_lexaro_dump({"--lookup", "cat", "f.pdb"}, dir.path());
        EXPECT_EQ(run.status, 1) << c.err;
        EXPECT_EQ(run.err, "lexaro-dump: " + c.err + "\n");
    }
    EXPECT_EQ(test::run_lexaro_dump({"."}, dir.path()).err, "lexaro-dump: can't read file .\n");
}

// Keys longer than the pieces the key table and the keys are read in.
TEST(DumpCommands, LongKeysAreReadInPieces) {
    const std::string a(70000, 'a');
    std::vector<std::pair<std::string, std::string>> entries{{a, "1"}, {a + "b", "2"}};
    for (int i = 0; i < 150; ++i) entries.emplace_back("w" + std::to_string(1000 + i), "t");
    entries.emplace_back("z" + a, "3");
    test::scratch_dir dir;
    const std::string source = test::make_source("Long", entries);
    test::compile_database(dir, source, 100);
    EXPECT_EQ(test::run_lexaro_dump({"dict.pdb"}, dir.path()).status, 0);
    EXPECT_TRUE(test::run_lexaro_dump({"--text", "dict.pdb"}, dir.path()).out == source);
    const struct {
        std::string word, out;
        int status;
    } lookups[] = {
        {a, "1\n", 0},        {a + "b", "2\n", 0},    {"z" + a, "3\n", 0},       {a + "c", "", 1},
        {a.substr(1), "", 1}, {"z" + a + "a", "", 1}, {"z" + a.substr(1), "", 1}};
    for (const auto& l : lookups) {
        if (!test::passes_as_argument(l.word)) continue;  // longer than a Windows command line
        const auto run = test::run_lexaro_dump({"--lookup", l.word, "dict.pdb"}, dir.path());
        EXPECT_EQ(run.out, l.out) << l.word.size();
        EXPECT_EQ(run.status, l.status) << l.word.size();
    }
}

TEST(DumpCommands, CommandLine) {
    using command = options::command;
    const struct {
        std::vector<std::string_view> args;
        std::optional<command> what;  // nothing for a usage error
        std::string word;
        std::size_t paths = 1;
    } cases[] = {
        // clang-format off
        {{"f"}, command::check, ""}, {{"--text", "f"}, command::text, ""},
        {{"--lookup", "--text", "f"}, command::lookup, "--text"}, {{"f", "--help", "-x"}, command::help, ""},
        {{}, std::nullopt, ""}, {{"f", "g"}, std::nullopt, ""}, {{"f", "--lookup"}, std::nullopt, ""},
        {{"--text", "--check", "f"}, std::nullopt, ""}, {{"-x", "f"}, std::nullopt, ""},
        {{"--lookup", "w", "--charset", "CP1250", "f"}, command::lookup, "w"},
        {{"--charset=CP1250", "f"}, command::check, ""}, {{"f", "--charset"}, std::nullopt, ""},
        {{"--charset=", "f"}, std::nullopt, ""},
        // Several files are the volumes of one dictionary, for a lookup only.
        {{"--lookup", "w", "f", "g", "h"}, command::lookup, "w", 3},
        {{"f", "g", "--lookup", "w"}, command::lookup, "w", 2},
        {{"--text", "f", "g"}, std::nullopt, ""}, {{"--check", "f", "g"}, std::nullopt, ""},
        // clang-format on
    };
    for (const auto& c : cases) {
        const auto parsed = parse_arguments(c.args);
        ASSERT_EQ(parsed.has_value(), c.what.has_value()) << c.args.size();
        if (parsed) {
            EXPECT_EQ(parsed->what, *c.what);
            EXPECT_EQ(parsed->word, c.word);
            EXPECT_EQ(parsed->paths.size(), c.paths);
        }
    }
    test::scratch_dir dir;
    const auto usage = test::run_lexaro_dump({"--lookup"}, dir.path());
    EXPECT_EQ(usage.status, 2);
    EXPECT_EQ(
        usage.err.rfind(
            "usage: lexaro-dump [--check | --text] [--charset NAME] FILE.pdb\n", 0),
        0u);
    EXPECT_EQ(test::run_lexaro_dump({"missing.pdb"}, dir.path()).err,
              "lexaro-dump: can't open file missing.pdb\n");
    // Volumes checked together: the reason before the usage.
    const auto volumes = test::run_lexaro_dump({"v-1.pdb", "v-2.pdb"}, dir.path());
    EXPECT_EQ(volumes.status, 2);
    EXPECT_EQ(volumes.err.rfind("lexaro-dump: give one database at a time; several are the "
                                "volumes of one dictionary, for --lookup\nusage: ",
                                0),
              0u);
}

}  // namespace
}  // namespace lexaro::dump
