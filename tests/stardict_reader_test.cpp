// The StarDict reader on dictionaries written here field by field: the kinds
// of article fields, every way of storing the files, and broken files.
#include "import/formats/stardict_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>

#include "format_test_support.h"
#include "test_support.h"

namespace lexaro::import {
namespace {

using namespace std::string_literals;
using test::collected_entry;

using test::be32;
// The files of a StarDict dictionary, as bytes.
struct stardict_files {
    std::string ifo, idx, dict, syn;
};

struct stardict_source {
    std::vector<std::pair<std::string, std::string>> words;  // word, article; in .idx order
    std::string sametypesequence;
    std::vector<std::pair<std::string, uint32_t>> synonyms;  // word, index into .idx
    int offset_bits = 32;
    std::vector<std::size_t> dict_order;  // the order of the articles in .dict; .idx order if empty
};

// Writes each distinct article once, so that words with the same article share it.
stardict_files make_files(const stardict_source& source) {
    stardict_files files;
    std::vector<std::size_t> order = source.dict_order;
    for (std::size_t i = order.size(); i < source.words.size(); ++i) order.push_back(i);
    std::map<std::string, uint32_t> offsets;
    for (const std::size_t i : order) {
        const std::string& article = source.words[i].second;
        if (offsets.emplace(article, uint32_t(files.dict.size())).second) files.dict += article;
    }
    for (const auto& [word, article] : source.words) {
        files.idx += word + '\0';
        if (source.offset_bits == 64) files.idx += be32(0);
        files.idx += be32(offsets.at(article)) + be32(uint32_t(article.size()));
    }
    for (const auto& [word, index] : source.synonyms) files.syn += word + '\0' + be32(index);

    files.ifo = "StarDict's dict ifo file\nversion=" +
                std::string(source.offset_bits == 64 ? "3.0.0" : "2.4.2") +
                "\nbookname = Fruit and More \nwordcount=" + std::to_string(source.words.size()) +
                "\nidxfilesize=" + std::to_string(files.idx.size()) + "\n";
    if (source.offset_bits == 64) files.ifo += "idxoffsetbits=64\n";
    if (!source.synonyms.empty())
        files.ifo += "synwordcount=" + std::to_string(source.synonyms.size()) + "\n";
    if (!source.sametypesequence.empty())
        files.ifo += "sametypesequence=" + source.sametypesequence + "\n";
    files.ifo += "description=written by a test\n";
    return files;
}

// Writes x.ifo, x.idx or x.idx.gz, x.dict or x.dict.dz (dictzip), and x.syn.
void write_files(const test::scratch_dir& dir, const stardict_files& files, bool idx_gz,
                 bool dict_dz) {
    test::write_file(dir / "x.ifo", files.ifo);
    if (idx_gz)
        test::write_file(dir / "x.idx.gz", test::gzip_bytes(files.idx));
    else
        test::write_file(dir / "x.idx", files.idx);
    test::write_file(dir / "x.dict", files.dict);
    if (dict_dz) {
        ASSERT_TRUE(test::dictzip(dir / "x.dict"));
        std::remove((dir / "x.dict").c_str());
    }
    if (!files.syn.empty()) test::write_file(dir / "x.syn", files.syn);
}

std::vector<collected_entry> read_entries(const std::string& path, std::string* title = nullptr) {
    test::collecting_sink sink;
    const std::string bookname = read_stardict(path, sink);
    if (title != nullptr) *title = bookname;
    return sink.entries;
}

TEST(StardictReader, TextFieldsOfAnArticleBecomeOneDefinition) {
    struct field_case {
        const char* name;
        const char* sametypesequence;
        std::string article;
        std::optional<collected_entry> expected;  // none when the word is left out
    };
    const markup plain = markup::plain, html = markup::html, xdxf = markup::xdxf;
    const field_case cases[] = {
        {"meaning", "m", "a fruit", collected_entry{"w", "a fruit", plain}},
        {"phonetic and meaning", "tm", "/ˈæpl/\0a fruit"s,
         collected_entry{"w", "/ˈæpl/\na fruit", plain}},
        {"HTML", "h", "<b>Apfel</b>", collected_entry{"w", "<b>Apfel</b>", html}},
        {"Pango is taken for HTML", "g", "<i>x</i>", collected_entry{"w", "<i>x</i>", html}},
        {"XDXF", "x", "<k>w</k> fruit", collected_entry{"w", "<k>w</k> fruit", xdxf}},
        {"last field ended by a zero byte anyway", "m", "text\0"s,
         collected_entry{"w", "text", plain}},
        {"last upper-case field runs to the end", "mW", "text\0\x01\x02\0\x03"s,
         collected_entry{"w", "text", plain}},
        {"upper-case field before the text", "Wm", be32(3) + "\0\0\0"s + "text",
         collected_entry{"w", "text", plain}},
        {"picture only", "P", "\x89PNG", std::nullopt},
        {"typed: meaning", "", "ma fruit\0"s, collected_entry{"w", "a fruit", plain}},
        {"typed: picture left out between texts", "",
         "mred\0"s + "W" + be32(3) + "\x01\0\x02"s + "h<b>Apfel</b>\0"s,
         collected_entry{"w", "red\n<b>Apfel</b>", html}},
        {"typed: plain text escaped beside markup", "", "ma < b & c > d\0x<k>w</k>\0"s,
         collected_entry{"w", "a &lt; b &amp; c &gt; d\n<k>w</k>", xdxf}},
        {"typed: first marked-up kind wins", "", "x<k>1</k>\0h<b>2</b>\0"s,
         collected_entry{"w", "<k>1</k>\n<b>2</b>", xdxf}},
        {"typed: other lower-case types left out", "", "yreading\0rimg:x.png\0mmeaning\0"s,
         collected_entry{"w", "meaning", plain}},
        {"typed: last text without its zero byte", "", "mone\0mtwo"s,
         collected_entry{"w", "one\ntwo", plain}},
        {"typed: empty text", "", "m\0"s, collected_entry{"w", "", plain}},
        {"typed: nothing at all", "", "", std::nullopt},
        {"typed: sound only", "", "W" + be32(1) + "s", std::nullopt},
    };
    for (const field_case& c : cases) {
        SCOPED_TRACE(c.name);
        test::scratch_dir dir;
        stardict_source source;
        source.words = {{"w", c.article}};
        source.sametypesequence = c.sametypesequence;
        write_files(dir, make_files(source), false, false);
        std::vector<collected_entry> expected;
        if (c.expected) expected.push_back(*c.expected);
        EXPECT_EQ(read_entries(dir / "x.ifo"), expected);
    }
}

TEST(StardictReader, EveryWayOfStoringTheFilesGivesTheSameEntries) {
    stardict_source source;
    source.sametypesequence = "m";
    source.words = {{"apple", "a fruit"},
                    {"banana", "a yellow fruit"},
                    {"cherry", "a small red fruit"},
                    {"date", "a fruit"}};              // shares apple's article
    source.synonyms = {{"pomme", 0}, {"kirsche", 2}};  // apple, cherry
    source.dict_order = {2, 0, 1};                     // cherry's article first

    // In the order of the articles; words that share one in the order of
    // .idx, then .syn.
    const std::vector<collected_entry> expected = {
        {"cherry", "a small red fruit"},
        {"kirsche", "a small red fruit"},
        {"apple", "a fruit"},
        {"date", "a fruit"},
        {"pomme", "a fruit"},
        {"banana", "a yellow fruit"},
    };
    struct variant {
        int offset_bits;
        bool idx_gz, dict_dz;
        std::vector<const char*> names;  // each file that names the dictionary
    };
    const variant variants[] = {
        {32, false, false, {"x.ifo", "x.idx", "x.dict", "x.syn"}},
        {64, false, false, {"x.ifo"}},
        {32, true, false, {"x.ifo", "x.idx.gz"}},
        {32, false, true, {"x.ifo", "x.dict.dz"}},
        {64, true, true, {"x.ifo", "x.idx.gz", "x.dict.dz", "x.syn"}},
    };
    for (const variant& v : variants) {
        SCOPED_TRACE(std::to_string(v.offset_bits) + (v.idx_gz ? " idx.gz" : " idx") +
                     (v.dict_dz ? " dict.dz" : " dict"));
        if (v.dict_dz && !test::have_program("dictzip")) GTEST_SKIP() << "dictzip is not installed";
        test::scratch_dir dir;
        source.offset_bits = v.offset_bits;
        write_files(dir, make_files(source), v.idx_gz, v.dict_dz);
        for (const char* name : v.names) {
            SCOPED_TRACE(name);
            std::string title;
            EXPECT_EQ(read_entries(dir / name, &title), expected);
            EXPECT_EQ(title, "Fruit and More");
        }
    }
}

void replace(std::string& text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
}

TEST(StardictReader, BrokenFilesAreReportedWithTheirNames) {
    stardict_source source;
    source.sametypesequence = "m";
    source.words = {{"apple", "a fruit"}, {"pear", "another fruit"}};
    source.synonyms = {{"pomme", 0}};
    const stardict_files sound = make_files(source);
    const std::string idx_size = "idxfilesize=" + std::to_string(sound.idx.size());

    struct broken_case {
        const char* name;
        std::function<void(stardict_files&)> apply;
        std::string message;  // after the scratch folder's path and "/"
        bool idx_gz = false;
    };
    const broken_case cases[] = {
        {"not an .ifo", [](stardict_files& f) { replace(f.ifo, "StarDict's", "Star Dict's"); },
         "x.ifo: its first line is not \"StarDict's dict ifo file\""},
        {"empty .ifo", [](stardict_files& f) { f.ifo.clear(); }, "x.ifo: it is empty"},
        {"unknown version", [](stardict_files& f) { replace(f.ifo, "2.4.2", "2.4.8"); },
         "x.ifo: version \"2.4.8\" is neither 2.4.2 nor 3.0.0"},
        {"64-bit offsets in version 2.4.2",
         [](stardict_files& f) { f.ifo += "idxoffsetbits=64\n"; },
         "x.ifo: idxoffsetbits=64 needs version 3.0.0"},
        {"offset bits", [](stardict_files& f) { f.ifo += "idxoffsetbits=16\n"; },
         "x.ifo: idxoffsetbits is 16, not 32 or 64"},
        {"no bookname",
         [](stardict_files& f) { replace(f.ifo, "bookname = Fruit and More", "x=y"); },
         "x.ifo: it gives no bookname"},
        {"no wordcount", [](stardict_files& f) { replace(f.ifo, "wordcount=2", "words=2"); },
         "x.ifo: it gives no wordcount"},
        {"wordcount not a number",
         [](stardict_files& f) { replace(f.ifo, "wordcount=2", "wordcount=-2"); },
         "x.ifo: wordcount=-2 is not a count"},
        {"sametypesequence",
         [](stardict_files& f) { replace(f.ifo, "sametypesequence=m", "sametypesequence=m1"); },
         "x.ifo: sametypesequence holds '1', not a field type"},
        {"idxfilesize", [&](stardict_files& f) { replace(f.ifo, idx_size, idx_size + "0"); },
         "x.idx holds " + std::to_string(sound.idx.size()) + " bytes, its .ifo says " + idx_size +
             "0"},
        {"idx.gz larger than idxfilesize",
         [&](stardict_files& f) { replace(f.ifo, idx_size, "idxfilesize=10"); },
         "x.idx.gz inflates to more than 10 bytes", true},
        {"wordcount far too large",
         [](stardict_files& f) { replace(f.ifo, "wordcount=2", "wordcount=4000000000"); },
         "x.idx holds 2 words, its .ifo says wordcount=4000000000"},
        {"idx cut short",
         [&](stardict_files& f) {
             f.idx.resize(f.idx.size() - 3);
             replace(f.ifo, idx_size, "idxfilesize=" + std::to_string(f.idx.size()));
         },
         "x.idx: word 2 is cut short"},
        {"idx word without its zero byte",
         [&](stardict_files& f) {
             f.idx += "cherry";
             replace(f.ifo, idx_size, "idxfilesize=" + std::to_string(f.idx.size()));
         },
         "x.idx: word 3 is cut short"},
        {"article past the data", [](stardict_files& f) { f.dict.resize(f.dict.size() - 1); },
         "x.idx: word 2 (pear): its article (13 bytes at 7) runs past the end of "},
        {"offset past 32 bits", [](stardict_files& f) { f.idx[6] = '\x80'; },
         "x.idx: word 1 (apple): its article (7 bytes at 2147483648) runs past the end of "},
        {"synonym points past the words", [](stardict_files& f) { f.syn = "pomme\0"s + be32(2); },
         "x.syn: synonym 1 (pomme) points at word 2, past the 2 words of the index"},
        {"synonym cut short", [](stardict_files& f) { f.syn += "birne\0\0"s; },
         "x.syn: synonym 2 is cut short"},
        {"synwordcount", [](stardict_files& f) { f.syn += "birne\0"s + be32(1); },
         "x.syn holds more synonyms than its .ifo says (synwordcount=1)"},
        {"fewer synonyms than synwordcount", [](stardict_files& f) { f.ifo += "synwordcount=3\n"; },
         "x.syn holds 1 synonyms, its .ifo says synwordcount=3"},
        {"more words than wordcount, idxfilesize sound",
         [](stardict_files& f) { replace(f.ifo, "wordcount=2", "wordcount=1"); },
         "x.idx holds more words than its .ifo says (wordcount=1)"},
        {"no ending zero byte before the last field",
         [](stardict_files& f) { replace(f.ifo, "sametypesequence=m", "sametypesequence=mh"); },
         "x.dict: the article of \"apple\": its field 'm' has no ending zero byte"},
        {"upper-case field past the article",
         [](stardict_files& f) {
             replace(f.ifo, "sametypesequence=m\n", "");
             f.dict.replace(0, 7, "W\0\0\0\x07xx"s);
         },
         "x.dict: the article of \"apple\": its field 'W' of 7 bytes runs past the article's end"},
        {"field type not a letter",
         [](stardict_files& f) {
             replace(f.ifo, "sametypesequence=m\n", "");
             f.dict[0] = '7';
         },
         "x.dict: the article of \"apple\": field type byte 55 is not a letter"},
    };
    for (const broken_case& c : cases) {
        SCOPED_TRACE(c.name);
        test::scratch_dir dir;
        stardict_files files = sound;
        c.apply(files);
        write_files(dir, files, c.idx_gz, false);
        test::collecting_sink sink;
        try {
            read_stardict(dir / "x.ifo", sink);
            FAIL() << "no error";
        } catch (const import_error& e) {
            EXPECT_EQ(std::string(e.what()).substr(0, dir.path().size() + 1 + c.message.size()),
                      dir / c.message);
        }
    }
}

TEST(StardictReader, FilesThatAreMissingOrMisnamed) {
    test::scratch_dir dir;
    stardict_source source;
    source.sametypesequence = "m";
    source.words = {{"apple", "a fruit"}};
    write_files(dir, make_files(source), false, false);
    std::rename((dir / "x.ifo").c_str(), (dir / "y.ifo").c_str());
    std::rename((dir / "x.idx").c_str(), (dir / "y.idx").c_str());
    const std::pair<std::string, std::string> cases[] = {
        {dir / "x.dict", "can't open file " + dir / "x.ifo"},
        {dir / "y.ifo",
         dir / "y.ifo: neither " + dir / "y.dict nor " + dir / "y.dict.dz lies beside it"},
        {dir / "y.txt", dir / "y.txt: a StarDict dictionary is named X.ifo, with X.idx and X.dict"},
    };
    for (const auto& [path, message] : cases) {
        test::collecting_sink sink;
        try {
            read_stardict(path, sink);
            FAIL() << path;
        } catch (const import_error& e) {
            EXPECT_EQ(e.what(), message);
        }
    }
    std::remove((dir / "y.idx").c_str());
    std::rename((dir / "x.dict").c_str(), (dir / "y.dict").c_str());
    test::collecting_sink sink;
    try {
        read_stardict(dir / "y.ifo", sink);
        FAIL();
    } catch (const import_error& e) {
        EXPECT_EQ(e.what(),
                  dir / "y.ifo: neither " + dir / "y.idx nor " + dir / "y.idx.gz lies beside it");
    }
}

}  // namespace
}  // namespace lexaro::import
