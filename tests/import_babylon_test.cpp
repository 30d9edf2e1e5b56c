// lexaro-import on Babylon glossaries: files built here record by record
// (every record type and framing, alternates, character set fields and the
// mixes of UTF-8 with a code page), damaged files with their messages, and
// the real samples in /work/shared/samples when they are there.
#include <gtest/gtest.h>

#include <sstream>

#include "format_test_support.h"
#include "import/formats/readers.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

using namespace std::string_literals;

std::string entry(const std::string& word, const std::string& definition,
                  const std::vector<std::string>& alternates = {}) {
    return bgl_record(1, bgl_entry(word, definition, alternates));
}

std::string title(const std::string& text) { return bgl_property(0x01, text); }

// Properties 0x1a and 0x1b: the words' and the definitions' character sets.
std::string charsets(char words, char definitions) {
    return bgl_property(0x1a, std::string(1, words)) +
           bgl_property(0x1b, std::string(1, definitions));
}

// A 32-bit property value.
std::string number(uint32_t value) { return be32(value); }

const std::string end_record = bgl_record(4, "");

// In CP1256, and the same in UTF-8.
const std::string book_cp1256 = "\xDF\xCA\xC7\xC8", book_utf8 = "كتاب";
const std::string old_book_cp1256 = "\xDF\xCA\xC7\xC8\x20\xDE\xCF\xED\xE3", old_book_utf8 = "كتاب قديم";
const std::string dog_cp1256 = "\xD3\x90", dog_utf8 = "سگ";  // also valid UTF-8 by chance

TEST(ImportBabylon, RecordsAlternatesAndCharacterSets) {
    check_cases({
        {"every record type and framing", "tiny.bgl",
         bgl_file(bgl_record(0, "\x08\x41") + title("Tiny Babylon") +
                  bgl_record(2, "\x07pic.bmpBM\x01\x02") + bgl_record(6, "") +
                  bgl_record(1, bgl_entry("apple", "a <b>red</b> fruit"), 1) +
                  bgl_record(7, bgl_entry("bear", "an animal"), 2) +
                  bgl_record(10, bgl_entry("cat", "a pet"), 3) +
                  bgl_record(13, bgl_entry("dog", "a pet too"), 4) +
                  bgl_record(11, bgl_wide_entry("eel", "a fish", {"eels", "eel"})) +
                  bgl_record(1, bgl_entry("f", "")) + bgl_record(9, "unknown") +
                  bgl_record(1, "") + end_record + entry("zebra", "after the end")),
         {},
         "Tiny Babylon\napple$a red fruit\nbear$an animal\ncat$a pet\ndog$a pet too\n"
         "eel$a fish\neels$a fish\nf$\n"},
        {"alternates, homograph indexes and markup in words", "words.bgl",
         bgl_file(entry("bank$1$", "money place", {"banks", "bank", "Bank$$$", ""}) +
                  entry("bank$2$", "river side") + entry("<b>big</b> &amp;  tall", "x") +
                  entry("caf&eacute;", "coffee") + entry("<i></i>", "solo", {"alone"}) +
                  entry("price $5", "five")),
         {},
         "words\nBank$money place\nalone$solo\nbank$money place | river side\n"
         "banks$money place\nbig & tall$x\ncaf\xC3\xA9$coffee\nprice \xEF\xBC\x84" "5$five\n"},
        {"charset fields, after the entries as Babylon writes them", "fields.bgl",
         bgl_file(entry("\xEA\xEE\xF8\xEA\xE0", "ko\x9Aka") + charsets('\x44', '\x43') +
                  title("Fields")),
         {},
         "Fields\n\xD0\xBA\xD0\xBE\xD1\x88\xD0\xBA\xD0\xB0$ko\xC5\xA1ka\n"},
        {"languages, where no charset is set", "languages.bgl",
         bgl_file(entry("\xE3\xDC\xF4\xE1", "\xEA\xEE\xF2") + bgl_property(0x1a, "\0\0\0\0"s) +
                  bgl_property(0x07, number(0x0b)) + bgl_property(0x08, number(0x07))),
         {},
         "languages\n\xCE\xB3\xCE\xAC\xCF\x84\xCE\xB1$\xD0\xBA\xD0\xBE\xD1\x82\n"},
        {"the default charset, where nothing else names one", "default.bgl",
         bgl_file(bgl_record(0, "\x08\x4b") + entry("k\xFDz", "girl")), {},
         "default\nk\xC4\xB1z$girl\n"},
        {"nothing named: CP1252", "none.bgl", bgl_file(entry("caf\xE9", "\x93quoted\x94")), {},
         "none\ncaf\xC3\xA9$\xE2\x80\x9Cquoted\xE2\x80\x9D\n"},
        {"the UTF-8 flag, and a text that is not UTF-8 after all", "flag.bgl",
         bgl_file(bgl_property(0x11, number(0x8000)) + charsets('\x41', '\x41') +
                  entry("кот", "кошка") + entry("caf\xE9", "coffee")),
         {},
         "flag\ncaf\xC3\xA9$coffee\nкот$кошка\n"},
        {"UTF-8 in a file that names CP1256", "mixed.bgl",
         bgl_file(charsets('\x4d', '\x4d') + entry(book_cp1256, old_book_cp1256) +
                  entry("قلم", "pen قلم") +
                  entry("x" + old_book_cp1256,
                        "<charset c=U>ok قلم</charset> and " + book_cp1256) +
                  entry(dog_cp1256, "<CHARSET c='T'>0628;0627;</charset>" + dog_cp1256) +
                  entry("y", "<charset c=\"K\">" + book_cp1256 + "</charset>")),
         {},
         "mixed\nx" + old_book_utf8 + "$ok قلم and " + book_utf8 + "\ny$" + book_utf8 + "\n" +
             dog_utf8 + "$با" + dog_utf8 + "\n" + "قلم$pen قلم\n" + book_utf8 + "$" +
             old_book_utf8 + "\n"},
        {"UTF-8 of a character or two, where most texts are UTF-8", "accents.bgl",
         bgl_file(charsets('\x41', '\x41') + entry("caf\xC3\xA9", "coffee") +
                  entry("\xC3\xA9t\xC3\xA9", "summer") + entry("na\xC3\xAFve", "caf\xC3\xA9")),
         {},
         "accents\ncaf\xC3\xA9$coffee\nna\xC3\xAFve$caf\xC3\xA9\n\xC3\xA9t\xC3\xA9$summer\n"},
        {"UTF-8 inside text in a code page", "inside.bgl",
         bgl_file(charsets('\x4d', '\x41') + entry("caf\xE9", "caf\xE9 здесь, na\xEFve жизнь") +
                  entry("y", "na\xEFve \xC3\xA9t\xC3\xA9") +
                  entry("\xCA\x98\x20\xD3\x90\x20\xCA\x98 " + book_cp1256, "x")),
         {},
         "inside\ncaf\xC3\xA9$caf\xC3\xA9 здесь, na\xC3\xAFve жизнь\n"
         "y$na\xC3\xAFve \xC3\x83\xC2\xA9t\xC3\x83\xC2\xA9\n"  // two characters: not sure
         "تک سگ تک " + book_utf8 + "$x\n"},  // three, but of three blocks: chance
        {"part of speech and transcription in front", "fields.bgl",
         bgl_file(title("F") + entry("house", "a dwelling\x14\x02\x30\x50\x1b\x04haus") +
                  entry("go", "to move\x14\x06\x01\x41\x01\x02\x02\x32\x18\x02go") +
                  entry("ipa", "x\x14\x60\x1b\x00\x04\xCB\x88" "a:\x13\x01\x00\x02\x31"s) +
                  entry("keep", "a\x14 b end\x14") +
                  entry("odd", "text\x14\x02\x3b\x02\x30\x99\x02\x31") +
                  entry("cut", "text\x14\x02\x31\x50\x1b\x09short")),
         {},
         "F\ncut$adjective; text\ngo$verb; to move\nhouse$noun [haus]; a dwelling\n"
         "ipa$adjective [\xCB\x88" "a:]; x\nkeep$a b end\nodd$noun; text\n"},
        {"markup made text", "markup.bgl",
         bgl_file(entry("a", "one<br>two<p>&aring. &quotq&quot &notit; <a href='bword://x'>link"
                             "</a><img src='\x1eimg.png\x1f'>&csdot; AT&T")),
         {},
         "markup\na$one; two; \xC3\xA5. \"q\" \xC2\xACit; link&csdot; AT&T\n"},
        {"named by its content alone", "glossary.dat", bgl_file(entry("a", "b")), {},
         "glossary.dat\na$b\n"},
        {"--input-charset over what the file says", "over.bgl",
         bgl_file(charsets('\x41', '\x41') + entry("\xEA\xEE\xF2", "\xEA\xEE\xF8\xEA\xE0")),
         {"--input-charset", "CP1251"},
         "over\n\xD0\xBA\xD0\xBE\xD1\x82$\xD0\xBA\xD0\xBE\xD1\x88\xD0\xBA\xD0\xB0\n"},
    });
}

// What the reader hands the clean-up: HTML made UTF-8, the fields on a line
// of their own in front, references without ';' completed, control bytes
// gone; the title as the file names it.
TEST(BabylonReader, HandsOnHtmlWithItsFieldsOnALineInFront) {
    struct reader_case {
        const char* what;
        std::string body;
        std::vector<collected_entry> expected;
    };
    const import::markup html = import::markup::html;
    const reader_case cases[] = {
        {"fields",
         entry("house", "a <b>dwelling</b>\x14\x02\x30\x50\x1b\x08h&amp;us"),
         {{"house", "noun [h&amp;us]\na <b>dwelling</b>", html}}},
        {"no text after the fields", entry("go", "\x14\x02\x32"), {{"go", "verb\n", html}}},
        {"references and control bytes",
         entry("a", "&aring.\x1e&quot\x1fq&amp;\t\x01"), {{"a", "&aring;.&quot;q&amp;\t", html}}},
        {"alternates share the definition", entry("a", "<i>b</i>", {"c", "a"}),
         {{"a", "<i>b</i>", html}, {"c", "<i>b</i>", html}}},
        {"no word at all", entry("<b></b>", "lost", {"$1$"}), {{"", "lost", html}}},
    };
    for (const reader_case& c : cases) {
        scratch_dir dir;
        write_file(dir / "x.bgl", bgl_file(title("T&amp;<b>U</b>") + c.body));
        collecting_sink sink;
        const std::string path = dir / "x.bgl";
        import::reader_options options;
        import::reader_input input{path, nullptr, options};
        EXPECT_EQ(import::read_babylon(input, sink), "T&U") << c.what;
        EXPECT_EQ(sink.entries, c.expected) << c.what;
    }
}

// A record larger than a block, an entry or an embedded file, streams past
// in bounded memory, however large it is.
TEST(ImportBabylon, LargeRecordsPassInBoundedMemory) {
    scratch_dir dir;
    {
        const std::string large(32u << 20, 'x');
        write_file(dir / "x.bgl",
                   bgl_file(bgl_record(2, "\x05a.bmp" + large) +
                            bgl_record(11, bgl_wide_entry("big", large)) + entry("small", "z")));
    }
    // Room for the program and its buffers, not for a record.
    run_options options;
    if (!address_sanitizer) options.address_space_limit = 48l << 20;
    const run_result run =
        run_program_with(LEXARO_IMPORT_BINARY, {"x.bgl", "out.txt"}, dir.path(), options);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir / "out.txt"), "x\nsmall$z\n");
    EXPECT_NE(run.err.find("dropped:         0 with no word, 1 too large for a block"),
              std::string::npos)
        << run.err;
}

TEST(ImportBabylon, ATrailerWithoutItsCheckValuesAndBytesAfterTheBody) {
    std::string zeroed = bgl_file(entry("a", "b"));
    zeroed.replace(zeroed.size() - 8, 8, std::string(8, '\0'));
    check_cases({
        {"trailer zeroed", "zero.bgl", zeroed, {}, "zero\na$b\n"},
        {"bytes after the gzip member", "junk.bgl", bgl_file(entry("a", "b")) + "junk", {},
         "junk\na$b\n"},
    });
}

// What the summary says of a file's sets, its mixes and the records that
// give no entry.
TEST(ImportBabylon, TheSummaryNamesTheSetsAndCountsWhatItFound) {
    struct summary_case {
        const char* what;
        std::string body;
        std::vector<std::string> options;
        std::vector<std::string> lines;
    };
    const summary_case cases[] = {
        {"one set for both sides",
         charsets('\x41', '\x41') + entry("a", "b"),
         {},
         {"  input:           read as CP1252 (its charset field)\n"}},
        {"sides apart",
         bgl_property(0x1a, "\x44") + bgl_property(0x08, number(0x0f)) + entry("a", "b"),
         {},
         {"  input:           words read as CP1251 (its charset field), translations as CP1256 "
          "(its language)\n"}},
        {"UTF-8 in a code page",
         charsets('\x4d', '\x4d') + entry("قلم", "pen\x81") + entry("x", "قلم قلم") +
             entry(book_cp1256, "\x9f"),
         {},
         {"  input:           read as CP1256 (its charset field); 1 texts of the words in UTF-8 "
          "though CP1256 is named, read as UTF-8; 1 texts of the translations in UTF-8 though "
          "CP1256 is named, read as UTF-8\n"}},
        {"UTF-8 inside", charsets('\x41', '\x41') + entry("a", "caf\xE9 здесь"), {},
         {"  input:           read as CP1252 (its charset field); 1 texts of the translations in "
          "CP1252 with UTF-8 inside, each part read as it is\n"}},
        {"bytes that are no character", charsets('\x49', '\x49') + entry("a", "\xE1\xFF"), {},
         {"  input:           read as CP1253 (its charset field); 1 bytes that are no character "
          "of CP1253 read as U+FFFD\n"}},
        {"the UTF-8 flag",
         bgl_property(0x11, number(0x8000)) + entry("caf\xE9", "b"),
         {},
         {"  input:           read as UTF-8 (its UTF-8 flag); 1 texts of the words not in UTF-8, "
          "read as CP1252\n"}},
        {"counts that differ, codes that name nothing",
         bgl_record(0, "\x02\x00\x05"s) + bgl_property(0x1b, "\x7f") + entry("a", "b"),
         {},
         {"  input:           read as CP1252 (named nowhere in the file); 1 charset or language "
          "codes that name no set; 1 entries where the file announces 5\n"}},
        {"records that give no entry",
         entry("a", "b") + bgl_record(9, "x") + bgl_record(1, "") + bgl_record(12, ""),
         {},
         {"  skipped:         2 records of unknown type, the first in x.bgl record 2\n",
          "  skipped:         1 empty entry records, the first in x.bgl record 3\n"}},
        {"fields after definitions",
         entry("a", "b\x14\x02\x3b") + entry("c", "d\x14\x99") + entry("e", "f\x14\x50\x1b\x09"),
         {},
         {"  damaged markup:  1 parts of speech of unknown code, the first in x.bgl entry 1\n",
          "  damaged markup:  1 fields of unknown code after definitions, the first in x.bgl "
          "entry 2\n",
          "  damaged markup:  1 fields after definitions cut short, the first in x.bgl entry 3\n"}},
        {"charset tags",
         entry("a", "<charset c=Z>b</charset>") + entry("c", "<charset c=T>zz;</charset>"),
         {},
         {"  damaged markup:  1 <charset> tags naming no set, the first in x.bgl entry 1\n",
          "  damaged markup:  1 <charset c=T> text that is no code point, the first in x.bgl "
          "entry 2\n"}},
        {"--input-charset", entry("a", "b"), {"--input-charset", "KOI8-R"},
         {"  input:           read as KOI8-R (--input-charset)\n"}},
    };
    for (const summary_case& c : cases) {
        scratch_dir dir;
        write_file(dir / "x.bgl", bgl_file(c.body));
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"x.bgl", "out.txt"});
        const run_result run = run_lexaro_import(args, dir.path());
        EXPECT_EQ(run.status, 0) << c.what << ": " << run.err;
        for (const std::string& line : c.lines)
            EXPECT_NE(run.err.find(line), std::string::npos) << c.what << ": " << run.err;
    }
}

TEST(ImportBabylon, DamagedFilesStopTheRunAndSayWhatIsWrong) {
    const std::string sound = bgl_file(entry("a", "b"));
    std::string cut = bgl_file(entry("a", dictionary_like_text(5000)));
    cut.resize(cut.size() - 30);
    std::string corrupt = sound;
    corrupt[bgl_gzip_offset + 10] = '\x07';  // a deflate block of type 3, which does not exist
    std::string far = sound;
    far[4] = '\x10';  // the gzip data at 4096 + 71
    const std::string huge_length = "\x31\xff\xff\xff\xff"s + bgl_entry("a", "b");
    struct broken_case {
        const char* what;
        std::string bytes;
        std::string message;  // after "lexaro-import: x.bgl"
    };
    const broken_case cases[] = {
        {"no signature", "\x12\x34\x00\x03\x00\x47"s + sound.substr(6),
         " is not a Babylon glossary: it does not begin with 12 34 00 01 or 12 34 00 02 and the "
         "offset of its data"},
        {"empty", "", " is not a Babylon glossary: it does not begin with 12 34 00 01 or 12 34 00 "
                      "02 and the offset of its data"},
        {"gzip past the end", far,
         ": its header puts the gzip data at offset 4167, past the end of the file (" +
             std::to_string(sound.size()) + " bytes)"},
        {"no gzip at the offset", sound.substr(0, 6) + sound.substr(7),
         ": no gzip data at offset 71"},
        {"body cut short", cut, ": its compressed data end early"},
        {"body corrupt", corrupt, ": its compressed data are damaged (invalid block type)"},
        {"a record past the data", bgl_file(entry("a", "b") + "\x11\x01\x00" "abc"s),
         ": record 2 (type 1) of 256 bytes runs past the end of its data (12 bytes)"},
        {"a length past the data", bgl_file(entry("a", "b") + "\x21\x00"s),
         ": record 2 is cut short by the end of its data"},
        {"a length of 4 GiB", bgl_file(huge_length),
         ": record 1 (type 1) of 4294967295 bytes runs past the end of its data (10 bytes)"},
        {"headword past the record", bgl_file(entry("a", "b") + bgl_record(1, "\x09" "abc")),
         ": entry 2: its headword runs past the end of its record (4 bytes)"},
        {"definition past the record", bgl_file(bgl_record(1, "\x01" "a\x00\x09" "bc"s)),
         ": entry 1: its definition runs past the end of its record (6 bytes)"},
        {"definition length cut", bgl_file(bgl_record(1, "\x01" "a\x00"s)),
         ": entry 1: its definition runs past the end of its record (3 bytes)"},
        {"an alternate past the record", bgl_file(bgl_record(1, bgl_entry("a", "b", {"c"}) + "\x05" "de")),
         ": entry 1: its alternate 2 runs past the end of its record (10 bytes)"},
        {"alternates that a wide entry miscounts",
         bgl_file(bgl_record(11, "\0\0\0\0\x01" "a\0\0\0\x09" "\0\0\0\x01" "b"s)),
         ": entry 1: its 9 alternates run past the end of its record (15 bytes)"},
    };
    for (const broken_case& c : cases) {
        scratch_dir dir;
        write_file(dir / "x.bgl", c.bytes);
        const run_result run = run_lexaro_import({"x.bgl", "out.txt"}, dir.path());
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_EQ(run.err, "lexaro-import: x.bgl" + c.message + "\n") << c.what;
        EXPECT_EQ(dir.files(), std::vector<std::string>{"x.bgl"}) << c.what;
    }
}

TEST(ImportBabylon, ReadFromItsFileNotFromStandardInput) {
    scratch_dir dir;
    write_file(dir / "x.bgl", bgl_file(entry("a", "b")));
    for (const std::string& format : {""s, " --format babylon"s}) {
        const int status = std::system(("cd '" + dir.path() + "' && " + LEXARO_IMPORT_BINARY +
                                        format + " - out.txt < x.bgl 2>err.txt")
                                           .c_str());
        EXPECT_EQ(WEXITSTATUS(status), 1) << format;
        EXPECT_EQ(read_file(dir / "err.txt"),
                  "lexaro-import: -: babylon dictionaries are read from their file, twice; name "
                  "the file, not standard input\n")
            << format;
        EXPECT_FALSE(exists(dir / "out.txt"));
    }
}

// An entry larger than a block is passed over, its word named; one with
// more alternates than its definition may be repeated for keeps the first.
TEST(ImportBabylon, EntriesTooLargeForABlock) {
    scratch_dir dir;
    std::vector<std::string> alternates;
    for (int i = 0; i < 40; ++i) alternates.push_back("w" + std::to_string(100 + i));
    const std::string body =
        bgl_record(11, bgl_wide_entry("big", std::string(5'000'000, 'x'))) +
        bgl_record(11, bgl_wide_entry("wide", std::string(400'000, 'y'), alternates)) +
        entry("small", "z");
    write_file(dir / "x.bgl", bgl_file(body));
    const run_result run = run_lexaro_import({"x.bgl", "out.txt"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream out(read_file(dir / "out.txt"));
    std::vector<std::string> words;
    for (std::string line; std::getline(out, line);) words.push_back(line.substr(0, line.find('$')));
    std::vector<std::string> expected{"x", "small", "wide"};
    for (int i = 0; i < 38; ++i) expected.push_back("w" + std::to_string(100 + i));
    std::sort(expected.begin() + 1, expected.end());
    EXPECT_EQ(words, expected);
    EXPECT_NE(run.err.find("warning: dropped \"big\": word and translation take more than"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("  damaged markup:  1 alternates left out where their definition would "
                           "repeat past 16000000 bytes, the first in x.bgl entry 2\n"),
              std::string::npos)
        << run.err;
}

// The two samples: every word imported is found in the database.
TEST(ImportBabylon, TheSamplesImportCompileAndFindEveryWord) {
    const std::string samples = "/work/shared/samples";
    struct sample {
        const char* name;
        std::size_t words;
        const char* first_line;
    };
    const sample cases[] = {
        {"Currency_In_Each_Country", 239, "Afghanistan$afghani (AFA)\n"},
        {"Solar_Physics_Glossary", 76,
         "Angstrom$Abbreviated \xC3\xA5. A unit of length equal to 10-8 cm"},
    };
    for (const sample& s : cases) {
        const std::string path = samples + "/" + s.name + ".bgl";
        if (!exists(path)) GTEST_SKIP() << path << " is not there";
        scratch_dir dir;
        const run_result text = run_lexaro_import({path, "out.txt"}, dir.path());
        ASSERT_EQ(text.status, 0) << text.err;
        std::istringstream lines(read_file(dir / "out.txt"));
        std::string line;
        std::getline(lines, line);  // the title
        std::vector<std::string> words;
        while (std::getline(lines, line)) {
            if (words.empty()) {
                EXPECT_EQ((line + "\n").rfind(s.first_line, 0), 0u) << line;
            }
            words.push_back(line.substr(0, line.find('$')));
        }
        EXPECT_EQ(words.size(), s.words) << s.name;
        const run_result database = run_lexaro_import({path, "out.pdb"}, dir.path());
        ASSERT_EQ(database.status, 0) << database.err;
        EXPECT_EQ(run_lexaro_dump({"--check", "out.pdb"}, dir.path()).status, 0) << s.name;
        for (const std::string& word : words) {
            const run_result found = run_lexaro_dump({"--lookup", word, "out.pdb"}, dir.path());
            EXPECT_EQ(found.status, 0) << s.name << ": " << word;
        }
    }
}

}  // namespace
}  // namespace lexaro::test
