// lexaro-import on FreeDict's TEI dictionaries.
#include <gtest/gtest.h>

#include <cstdlib>

#include "format_test_support.h"
#include "import/formats/formats.h"
#include "import/text_input.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

std::string tei(std::string_view body, std::string_view header = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TEI "
           "xmlns=\"http://www.tei-c.org/ns/1.0\">\n" +
           std::string(header) + "<text><body>\n" + std::string(body) + "</body></text></TEI>\n";
}

const std::string spanish =
    tei("<entry><form><orth>banco</orth><pron>\xCB\x88"
        "banko</pron></form>\n"
        " <gramGrp><pos>n</pos><gen>m</gen></gramGrp>\n"
        " <sense n=\"1\"><usg type=\"dom\">fin.</usg><cit "
        "type=\"trans\"><quote>bank</quote></cit></sense>\n"
        " <sense n=\"2\"><cit type=\"trans\"><quote>bench</quote><quote>seat</quote></cit>"
        "<cit type=\"trans\"><quote>pew</quote><note>church</note></cit>\n"
        "  <cit type=\"example\"><quote>un banco de madera</quote>"
        "<cit type=\"trans\"><quote>a wooden bench</quote></cit></cit>\n"
        "  <xr type=\"syn\"><ref "
        "target=\"#asiento\">asiento</ref><ref>esca\xC3\xB1o</ref></xr></sense>\n"
        " <note>also a shoal\n   of fish</note>\n <xr><ref>banca</ref></xr>\n</entry>\n",
        "<teiHeader><fileDesc><titleStmt><title>Spanish -\n  English</title><title>Other</title>"
        "</titleStmt></fileDesc></teiHeader>\n");
const std::string spanish_expected =
    "Spanish - English\nbanco$/\xCB\x88"
    "banko/ <n, m>; 1. [fin.] bank; 2. bench, seat, pew (church); "
    "\"un banco de madera\" - a wooden bench; Synonyms: asiento, esca\xC3\xB1o; (also a shoal of "
    "fish); "
    "See also: banca\n";

TEST(ImportTei, EveryOrthIsAWordOfOneArticleLaidOutAsText) {
    check_cases({
        {"senses, labels, translations, examples, notes and cross references",
         "es-en.tei",
         spanish,
         {},
         spanish_expected},
        {"gzip", "es-en.tei.gz", gzip_bytes(spanish), {}, spanish_expected},
        {"several spellings, forms within forms, grammar of forms and of translations",
         "forms.tei",
         tei("<entry><form><orth>abejarr\xC3\xB3n</orth><gramGrp><pos>n</pos><gen>m</gen></"
             "gramGrp></form>"
             "<form><orth>abejorro</orth><form type=\"abbrev\"><orth>abej.</orth></form></form>"
             "<sense><cit type=\"trans\"><quote>Hummel</quote><gramGrp><pos>n</pos><gen>f</gen>"
             "</gramGrp></cit></sense></entry>\n"
             "<entry><form><orth>abatido</orth>\n<orth>abatida</orth></form><sense><cit "
             "type=\"trans\">"
             "<quote>dejected</quote></cit></sense></entry>\n"),
         {},
         "forms\nabatida$abatido, abatida; dejected\nabatido$abatido, abatida; dejected\n"
         "abej.$abejarr\xC3\xB3n <n, m>, abejorro (abej.); Hummel <n, f>\n"
         "abejarr\xC3\xB3n$abejarr\xC3\xB3n <n, m>, abejorro (abej.); Hummel <n, f>\n"
         "abejorro$abejarr\xC3\xB3n <n, m>, abejorro (abej.); Hummel <n, f>\n"},
        {"senses within senses, numbered by their n or counted",
         "en-pl.tei",
         tei("<entry><form><orth>babble</orth><pron>/b/</pron></form>\n"
             "<sense level=\"0\" n=\"I\"><gramGrp><pos>V</pos></gramGrp>\n"
             " <sense level=\"1\" n=\"1\"><sense level=\"2\"><cit "
             "type=\"trans\"><quote>papla\xC4\x87"
             "</quote></cit></sense></sense>\n"
             " <sense level=\"1\" n=\"2\"><usg type=\"label\"><lang>US</lang> lit</usg><sense "
             "level=\"2\">"
             "<cit type=\"trans\"><quote>plusk</quote></cit><cit "
             "type=\"trans\"><quote>szem</quote></cit>"
             "</sense></sense></sense>\n"
             "<sense level=\"0\" n=\"II\"><gramGrp><pos>N</pos></gramGrp><sense><sense><cit "
             "type=\"trans\">"
             "<quote>paplanina</quote></cit></sense></sense></sense></entry>\n"
             "<entry><form><orth>bank</orth></form><sense><cit "
             "type=\"trans\"><quote>brzeg</quote></cit>"
             "<sense><cit "
             "type=\"trans\"><quote>a</quote></cit></sense><sense><def>b</def><sense><usg>x</usg>"
             "<cit type=\"trans\"><quote>c</quote></cit></sense><sense><cit "
             "type=\"trans\"><quote>d</quote>"
             "</cit></sense></sense></sense><sense><cit "
             "type=\"trans\"><quote>bank</quote></cit></sense>"
             "</entry>\n"),
         {},
         "en-pl\nbabble$/b/; I. <V>; 1. papla\xC4\x87; 2. [US lit] plusk, szem; II. <N> paplanina\n"
         "bank$1. brzeg; a) a; b) b; 1) [x] c; 2) d; 2. bank\n"},
        {"definitions, grammar outside gramGrp, labels, untyped cits, homographs",
         "defs.tei",
         tei("<entry><form><orth>airplane</orth></form><gramGrp><pos>n</pos></gramGrp><sense>"
             "<def>eropleni</def> <def>ndege</def></sense></entry>\n"
             "<entry><form><orth>-at</orth><lbl>!</lbl></form><sense><cit "
             "type=\"trans\"><quote>suff. -ais"
             "</quote><pos>adj.</pos><cit type=\"abbrev\"><orth>s.</orth></cit></cit>"
             "<cit><quote>a-us</quote><lbl>da</lbl><cit type=\"trans\"><quote>au-dessus "
             "(de)</quote></cit>"
             "<cit type=\"trans\"><quote> par dessus</quote></cit></cit></sense></entry>\n"
             "<entry><form><orth>adhara</orth></form><hom><sense><cit type=\"trans\"><quote>unterer"
             "</quote></cit></sense></hom><hom><gramGrp><pos>n</pos></gramGrp><sense><cit "
             "type=\"trans\">"
             "<quote>Lippe</quote></cit></sense></hom></entry>\n"),
         {},
         "defs\n-at$suff. -ais <adj.> (s.); \"a-us\" da - au-dessus (de), par dessus\n"
         "adhara$1. unterer; 2. <n> Lippe\nairplane$<n>; eropleni; ndege\n"},
        {"comments, CDATA, references, processing instructions, superEntry",
         "c.tei",
         "<?xml version=\"1.0\"?><?xml-stylesheet type=\"text/xsl\" href=\"x.xsl\"?>\n"
         "<!DOCTYPE TEI SYSTEM \"freedict-P5.dtd\">\n" +
             tei("<!-- <entry><form><orth>ghost</orth></form></entry> -->\n"
                 "<superEntry><entry "
                 "type=\"hom\"><form><orth>arabisk</orth></form><gramGrp><pos>adj"
                 "</pos></gramGrp><sense><cit type=\"trans\"><quote>Arabian</quote></cit>"
                 "<usg type=\"hint\">Den Arabiske</usg></sense></entry>\n"
                 "<entry type=\"hom\"><form><orth>arabisk</orth></form><sense><cit type=\"trans\">"
                 "<quote><![CDATA[Arabic </entry> &amp;]]> &amp; "
                 "&apos;x&apos;</quote></cit></sense>"
                 "</entry></superEntry>\n"
                 "<entry><form><orth>AT&amp;T</orth></form><sense><cit type='trans'><quote>x "
                 "&#x263A; "
                 "&lt;y&gt; &#233;</quote></cit></sense></entry>\n")
                 .substr(39),
         {},
         "c\nAT&T$x \xE2\x98\xBA <y> \xC3\xA9\narabisk$<adj>; Arabian [Den Arabiske] | "
         "Arabic </entry> &amp; & 'x'\n"},
        {"TEI P4: <trans><tr>, entities of the DTD, ISO-8859-1 as declared, DOCTYPE subset",
         "p4.tei",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
         "<!DOCTYPE TEI.2 SYSTEM \"freedict-P4.dtd\" [\n<!ENTITY x \"y\">\n]>\n"
         "<TEI.2><teiHeader><fileDesc><titleStmt><title>Caf&eacute; "
         "P4</title></titleStmt></fileDesc>"
         "</teiHeader>\n<text><body><entry><form><orth>caf\xE9</orth></form><gramGrp><pos>n</pos>"
         "</gramGrp><trans><tr>coffee</tr><tr>caf&eacute;</tr></trans></entry></body></text></"
         "TEI.2>\n",
         {},
         "Caf\xC3\xA9 P4\ncaf\xC3\xA9$<n>; coffee, caf\xC3\xA9\n"},
        {"a file FreeDict includes, known by its namespace",
         "a.xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!--part of a dictionary-->\n"
         "<div xmlns=\"http://www.tei-c.org/ns/1.0\" n=\"a\"><entry><form><orth>AA</orth>"
         "<pron>\xCB\x8C$\xE2\x8B\x85$</pron></form><xr><ref>Alcoholics Anonymous</ref></xr>"
         "<sense><cit type=\"trans\"><quote>AA</quote></cit></sense></entry></div>\n",
         {},
         "a.xml\nAA$/\xCB\x8C$\xE2\x8B\x85$/; See also: Alcoholics Anonymous; AA\n"},
    });
}

TEST(ImportTei, IncludedFilesAreReadInTheirPlace) {
    // Each name relative to the file that includes it.
    scratch_dir dir;
    ASSERT_TRUE(run_shell(dir.path(), "mkdir -p dicts/letters"));
    const auto entry = [](std::string_view word) {
        return "<entry><form><orth>" + std::string(word) +
               "</orth></form><sense><cit type=\"trans\"><quote>" + std::string(word) +
               " in Polish</quote></cit></sense></entry>\n";
    };
    const std::string div = "<div xmlns=\"http://www.tei-c.org/ns/1.0\">";
    write_file(dir / "dicts/letters/a.xml", div + entry("apple") + "</div>\n");
    write_file(
        dir / "dicts/letters/b.xml",
        gzip_bytes(div + entry("bee") + "<include href=\"c.xml\"/>" + entry("bird") + "</div>\n"));
    write_file(dir / "dicts/letters/c.xml", div + entry("cat") + "</div>\n");
    write_file(
        dir / "dicts/en-pl.tei",
        tei(entry("zebra") +
            "<include href=\"letters/a.xml\" xmlns=\"http://www.w3.org/2001/XInclude\"/>\n"
            "<xi:include xmlns:xi=\"http://www.w3.org/2001/XInclude\" href=\"letters/b.xml\"/>\n"
            "<entry><form><orth>bee</orth></form><sense><def>after the "
            "include</def></sense></entry>"));
    const run_result run = run_lexaro_import({"dicts/en-pl.tei", "out.txt"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(
        read_file(dir / "out.txt"),
        "en-pl\napple$apple in Polish\nbee$bee in Polish | after the include\nbird$bird in Polish\n"
        "cat$cat in Polish\nzebra$zebra in Polish\n");
    EXPECT_NE(run.err.find("  entries read:    6\n"), std::string::npos) << run.err;
}

// Keeps the entries and counts the damage.
class damage_sink : public collecting_sink {
public:
    void damaged(std::string_view kind, const std::string&, uint64_t line) override {
        damage.push_back(std::string(kind) + " at line " + std::to_string(line));
    }
    std::vector<std::string> damage;
};

TEST(ImportTei, MarkupCutByTheEndOfAReadIsReadWhole) {
    // The first read of a file gives its first 64 KiB; each piece of markup
    // is put across that end at every offset.
    constexpr std::size_t first_read = 64 * 1024;
    const std::pair<std::string, std::string> cases[] = {
        {"a &amp; b", "a & b"},          {"x &#x263A; y", "x \xE2\x98\xBA y"},
        {"<![CDATA[c]]]]>d", "c]]d"},    {"<!-- c -->e", "e"},
        {"<hi rend=\"x>\">f</hi>", "f"}, {"\xC3\xA9t\xC3\xA9", "\xC3\xA9t\xC3\xA9"},
    };
    const std::string head = "<TEI><text><body>\n<!--";
    const std::string before =
        "-->\n<entry><form><orth>w</orth></form><sense><cit type=\"trans\"><quote>";
    const std::string after = "</quote></cit></sense></entry>\n</body></text></TEI>\n";
    scratch_dir dir;
    for (const auto& [markup, text] : cases) {
        for (std::size_t cut = 0; cut <= markup.size(); ++cut) {
            SCOPED_TRACE(markup + " cut after " + std::to_string(cut));
            const std::size_t fill = first_read - cut - head.size() - before.size();
            write_file(dir / "cut.tei", head + std::string(fill, '-') + before + markup + after);
            import::text_input input(dir / "cut.tei", "");
            import::reader_options options;
            import::reader_input reader{dir / "cut.tei", &input, options};
            damage_sink sink;
            (*import::format_from_name("tei"))->read(reader, sink);
            EXPECT_EQ(sink.entries, (std::vector<collected_entry>{{"w", text}}));
            EXPECT_EQ(sink.damage, std::vector<std::string>{});
        }
    }
}

// Damage that loses no entry: read over, counted by kind with its first place.
TEST(ImportTei, DamageThatLosesNoEntryIsCountedWhereItIs) {
    struct damage_case {
        const char* what;
        std::string body;
        std::string expected;  // the source written
        std::string summary;   // a line of the summary
    };
    const std::string entry_b =
        "<entry><form><orth>b</orth></form><sense><cit type=\"trans\"><quote>y"
        "</quote></cit></sense></entry>\n";
    const std::string deep = [] {
        std::string d;
        for (int i = 0; i < 60; ++i) d += "<note>";
        d += "deep";
        for (int i = 0; i < 60; ++i) d += "</note>";
        return d;
    }();
    // The body starts on line 4.
    const damage_case cases[] = {
        {"unknown and broken references kept as text",
         "<entry><form><orth>a</orth></form>\n<sense><cit type=\"trans\"><quote>x &foo; &amp y &#0;"
         "</quote></cit></sense></entry>\n" +
             entry_b,
         "d\na$x &foo; &amp y &#0;\nb$y\n",
         "  damaged markup:  3 unknown or broken character references, the first in d.tei line "
         "5\n"},
        {"an end tag that closes nothing",
         "<entry><form><orth>a</orth></form></cit><sense><cit type=\"trans\"><quote>x</quote></cit>"
         "</sense></entry>\n</form>\n" +
             entry_b,
         "d\na$x\nb$y\n",
         "  damaged markup:  2 end tags that close no element, the first in d.tei line 4\n"},
        {"elements left open inside others",
         "<entry><form><orth>a</orth></form><sense><cit type=\"trans\"><quote>x</sense>\n"
         "<sense><cit type=\"trans\"><quote>z</quote></cit></sense></entry>\n" +
             entry_b,
         "d\na$1. x; 2. z\nb$y\n",
         "  damaged markup:  1 elements not closed, the first in d.tei line 4\n"},
        {"an entry left open before the next",
         "<entry><form><orth>a</orth></form><sense><cit "
         "type=\"trans\"><quote>x</quote></cit></sense>\n"
         "\n" +
             entry_b,
         "d\na$x\nb$y\n",
         "  damaged markup:  1 entries not closed before the next, the first in d.tei line 6\n"},
        {"'<' in text",
         "<entry><form><orth>a</orth></form><sense><cit type=\"trans\"><quote>x < y <</quote></cit>"
         "</sense></entry>\n" +
             entry_b,
         "d\na$x < y <\nb$y\n",
         "  damaged markup:  2 '<' signs that begin no tag, the first in d.tei line 4\n"},
        {"malformed attributes",
         "<entry><form><orth>a</orth></form><sense><cit type=trans><quote a b=\"c\">x</quote></cit>"
         "</sense></entry>\n" +
             entry_b,
         "d\na$x\nb$y\n", "  damaged markup:  2 malformed tags, the first in d.tei line 4\n"},
        {"elements nested too deep, read as text",
         "<entry><form><orth>a</orth></form><sense>" + deep + "</sense></entry>\n" + entry_b,
         "d\na$(deep)\nb$y\n",
         "  damaged markup:  1 elements nested more than 48 deep, the first in d.tei line 4\n"},
        {"entries without a headword",
         "\n<entry><form><orth> </orth></form><sense><cit type=\"trans\"><quote>x</quote></cit>"
         "</sense></entry>\n<entry/>\n" +
             entry_b,
         "d\nb$y\n", "  skipped:         2 entries with no headword, the first in d.tei line 5\n"},
    };
    for (const damage_case& c : cases) {
        scratch_dir dir;
        write_file(dir / "d.tei", tei(c.body));
        const run_result run = run_lexaro_import({"d.tei", "out.txt"}, dir.path());
        ASSERT_EQ(run.status, 0) << c.what << ": " << run.err;
        EXPECT_EQ(read_file(dir / "out.txt"), c.expected) << c.what;
        EXPECT_NE(run.err.find(c.summary), std::string::npos) << c.what << ":\n" << run.err;
    }
}

// Damage that would lose entries stops the run, naming the place; nothing is
// written.
TEST(ImportTei, DamageThatWouldLoseEntriesStopsTheRun) {
    struct fatal_case {
        const char* what;
        std::string input;
        std::string message;
    };
    const std::string head = "<TEI>\n<text><body>\n<entry><form><orth>a</orth></form>\n";
    const std::string whole = head + "</entry>\n";
    const fatal_case cases[] = {
        {"cut inside an entry", head + "<sense>x",
         "f.tei: line 4: the file ends inside the <entry> begun at line 3"},
        {"cut between entries", whole + "\n",
         "f.tei: line 5: the file ends inside <body>, begun at line 2: it is cut short"},
        {"a comment that never ends", whole + "<!-- <entry>\n\n",
         "f.tei: line 5: a comment begun here does not end"},
        {"CDATA that never ends", whole + "<x><![CDATA[\n]]",
         "f.tei: line 5: a CDATA section begun here does not end"},
        {"a tag that never ends", whole + "\n<entry\n type=\"x",
         "f.tei: line 6: a tag begun here does not end"},
        {"a tag of megabytes", whole + "<entry " + std::string(70000, 'a') + ">",
         "f.tei: line 5: a tag begun here is longer than 64 KiB"},
        {"an include of a missing file", whole + "<include href=\"letters/x.xml\"/>",
         "f.tei: line 5: can't include: can't open file letters/x.xml: No such file or directory"},
        {"an include of a folder", whole + "\n<include href=\"sub\"/>",
         "f.tei: line 6: can't include: can't open file sub: Is a directory"},
        {"an include by an absolute name", whole + "<include href=\"/etc/x.xml\"/>",
         "f.tei: line 5: can't include /etc/x.xml: only files in the including file's folder or "
         "below it are read"},
        {"an include with no href", whole + "<include/>",
         "f.tei: line 5: an XInclude with no href"},
    };
    for (const fatal_case& c : cases) {
        scratch_dir dir;
        ASSERT_TRUE(run_shell(dir.path(), "mkdir sub"));
        write_file(dir / "f.tei", c.input);
        const run_result run = run_lexaro_import({"f.tei", "out.txt"}, dir.path());
        EXPECT_EQ(run.status, 1) << c.what;
        EXPECT_EQ(run.err, "lexaro-import: " + c.message + "\n") << c.what;
        EXPECT_FALSE(exists(dir / "out.txt")) << c.what;
    }
    // From standard input, the files beside it cannot be found.
    scratch_dir dir;
    write_file(dir / "in.tei", tei("<include href=\"letters/a.xml\"/>\n"));
    const std::string command = "cd '" + dir.path() + "' && '" + LEXARO_IMPORT_BINARY +
                                "' --format tei - out.txt <in.tei 2>err.txt";
    EXPECT_NE(std::system(command.c_str()), 0);
    EXPECT_EQ(read_file(dir / "err.txt"),
              "lexaro-import: -: line 4: the entries are in letters/a.xml, which lies beside the "
              "dictionary: name its file, not standard input\n");
}

TEST(ImportTei, LargeFilesAreStreamedAndOversizedEntriesSkipped) {
    // Entries across many pieces of the input, one larger than a block among them.
    std::string body, expected = "big\n";
    for (int i = 10000; i < 40000; ++i) {
        const std::string word = "w" + std::to_string(i);
        body += "<entry>\n<form><orth>" + word +
                "</orth></form>\n<sense><cit type=\"trans\"><quote>" + std::string(30, 'x') +
                "</quote></cit></sense>\n</entry>\n";
        expected += word + "$" + std::string(30, 'x') + "\n";
        if (i == 20000)
            body += "<entry><form><orth>huge</orth></form><sense>" + std::string(5 << 20, 'h') +
                    "<note/></sense></entry>\n";
    }
    scratch_dir dir;
    write_file(dir / "big.tei", tei(body));
    const run_result run = run_lexaro_import({"big.tei", "out.txt"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir / "out.txt"), expected);
    EXPECT_NE(run.err.find("  dropped:         0 with no word, 1 too large for a block\n"),
              std::string::npos)
        << run.err;
    // The line of damage far into the file is counted right.
    const std::string whole = tei(body);
    write_file(dir / "cut.tei", whole.substr(0, whole.size() - 21));  // less </body></text></TEI>
    const run_result cut = run_lexaro_import({"cut.tei", "cut.txt"}, dir.path());
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(cut.err,
              "lexaro-import: cut.tei: line 120004: the file ends inside <body>, begun at "
              "line 3: it is cut short\n");
}

}  // namespace
}  // namespace lexaro::test
