// lexaro-import on XDXF dictionaries.
#include <gtest/gtest.h>

#include <algorithm>

#include "format_test_support.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

const std::string visual =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
    "<!DOCTYPE xdxf SYSTEM \"http://xdxf.sourceforge.net/xdxf_lousy.dtd\">\n"
    "<xdxf lang_from=\"ENG\" lang_to=\"RUS\" format=\"visual\">\n"
    "<full_name>English &amp; Russian</full_name>\n<description>test</description>\n"
    "<ar><k>colo<opt>u</opt>r</k>\n<tr>\xCB\x88k\xCA\x8Cl\xC9\x99</tr>\n"
    "1) \xD1\x86\xD0\xB2\xD0\xB5\xD1\x82<br/>2) <i>paint</i> &lt;x&gt; &#x263A;</ar>\n"
    "<ar><k>go</k><k>went</k>move</ar>\n</xdxf>\n";
const std::string visual_expected =
    "English & Russian\n"
    "color$[\xCB\x88k\xCA\x8Cl\xC9\x99]; 1) \xD1\x86\xD0\xB2\xD0\xB5\xD1\x82; 2) paint <x> \xE2\x98\xBA\n"
    "colour$[\xCB\x88k\xCA\x8Cl\xC9\x99]; 1) \xD1\x86\xD0\xB2\xD0\xB5\xD1\x82; 2) paint <x> \xE2\x98\xBA\n"
    "go$move\nwent$move\n";

TEST(ImportXdxf, EveryKeyOfAnArticleIsAWord) {
    check_cases({
        {"visual", "en-ru.xdxf", visual, {}, visual_expected},
        {"gzip", "en-ru.xdxf.gz", gzip_bytes(visual), {}, visual_expected},
        {"logical", "fr-en.xdxf",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
         "<xdxf lang_from=\"FRE\" lang_to=\"ENG\" format=\"logical\" revision=\"33\">\n"
         "<meta_info><title>Fr-En</title><full_title>French-English</full_title></meta_info>\n"
         "<lexicon>\n<ar><k>maison</k><def><gr>n. f.</gr><def><deftext>house</deftext></def>"
         "<def><deftext>home</deftext><ex><ex_orig>\xC3\xA0 la maison</ex_orig>"
         "<ex_tran>at home</ex_tran></ex></def></def></ar>\n</lexicon></xdxf>\n",
         {},
         "French-English\nmaison$n. f.; house; home; \xC3\xA0 la maison at home\n"},
    });
}

TEST(ImportXdxf, ArticlesAcrossManyPiecesOfALargeFile) {
    std::string xdxf = "<xdxf format=\"visual\">\n<full_name>Big</full_name>\n";
    std::string expected = "Big\n";
    for (int i = 100000; i < 140000; ++i) {
        const std::string word = "w" + std::to_string(i);
        xdxf += "<ar><k>" + word + "</k>\n" + std::string(40, 'x') + " " + word + "</ar>\n";
        expected += word + "$" + std::string(40, 'x') + " " + word + "\n";
    }
    // Damaged at the end, after more than a megabyte: the line is counted right.
    scratch_dir dir;
    write_file(dir / "big.xdxf", xdxf + "</xdxf>\n");
    const run_result run = run_lexaro_import({"big.xdxf", "out.txt"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(read_file(dir / "out.txt"), expected);
    write_file(dir / "bad.xdxf", xdxf + "<ar><k>last</k>never ends\n");
    const run_result bad = run_lexaro_import({"bad.xdxf", "bad.txt"}, dir.path());
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "lexaro-import: bad.xdxf: line 80003: the article begun here does not end\n");
    EXPECT_FALSE(exists(dir / "bad.txt"));
}

TEST(ImportXdxf, AnArticleWithNoKeyStopsTheRun) {
    scratch_dir dir;
    write_file(dir / "x.xdxf", "<xdxf>\n<ar><k>a</k>b</ar>\n\n<ar>no key</ar>\n</xdxf>\n");
    const run_result run = run_lexaro_import({"x.xdxf", "out.txt"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "lexaro-import: x.xdxf: line 4: an article with no <k> headword\n");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"x.xdxf"});
}

}  // namespace
}  // namespace lexaro::test

namespace lexaro::test {
namespace {

TEST(ImportXdxf, KeysWithMarkupEntitiesAndOptionalParts) {
    check_cases({
        {"entities and tags in keys", "k.xdxf",
         "<xdxf><full_name>K &#x2013; test</full_name>\n"
         "<ar><k>AT&amp;T</k><k><b>bold</b> key</k><k>a<opt>b</opt>c<opt>d</opt></k>x</ar>\n</xdxf>\n",
         {},
         "K \xE2\x80\x93 test\nAT&T$x\nabc$x\nabcd$x\nac$x\nacd$x\nbold key$x\n"},
    });
}

}  // namespace
}  // namespace lexaro::test

namespace lexaro::test {
namespace {

const std::string xdxf_head = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<xdxf format=\"visual\">\n"
                              "<full_name>T</full_name>\n";

// Damage, comments and CDATA, as a tolerant XML reader takes them: no
// article gets another's text, and what was damaged is counted with its line.
TEST(ImportXdxf, ReadAsATolerantXmlReaderWould) {
    check_summaries({
        {"an article that the next one ends", "x.xdxf",
         xdxf_head + "<ar><k>apple</k>Apfel\n<ar><k>bee</k>Biene\n</ar>\n<ar><k>cat</k>Katze</ar>\n"
                     "</xdxf>\n",
         {},
         "T\napple$Apfel\nbee$Biene\ncat$Katze\n",
         {"  damaged markup:  1 articles without </ar>, the first in x.xdxf line 4"}},
        {"the last article ended by the end of the dictionary", "x.xdxf",
         xdxf_head + "<ar><k>a</k>b</ar>\n\n<ar><k>c</k>d\n</xdxf>\n", {}, "T\na$b\nc$d\n",
         {"  damaged markup:  1 articles without </ar>, the first in x.xdxf line 6"}},
        {"comments, out of articles and in them", "x.xdxf",
         xdxf_head + "<!-- <ar><k>old</k>alt</ar> -->\n<ar><k>new</k>neu<!-- </ar> <k>x</k> -->"
                     " <!---->jung</ar>\n<!--\n<full_name>No</full_name>\n--></xdxf>\n",
         {},
         "T\nnew$neu jung\n",
         {}},
        {"CDATA gives its text as it stands", "x.xdxf",
         xdxf_head + "<ar><k>less</k><![CDATA[1 < 2 & 3 <b>]]> &amp; more</ar>\n</xdxf>\n", {},
         "T\nless$1 < 2 & 3 <b> & more\n", {}},
        {"a key that the next key or the article's end cuts short", "x.xdxf",
         xdxf_head + "<ar><k>one<k>two</k>text</ar>\n<ar><k>three</ar>\n</xdxf>\n", {},
         "T\none$text\nthree$\ntwo$text\n",
         {"  damaged markup:  2 unclosed <k> headwords, the first in x.xdxf line 4"}},
    });
}

TEST(ImportXdxf, CommentsAndSectionsThatNeverEndStopTheRun) {
    struct broken {
        std::string input;
        std::string message;
    };
    const broken cases[] = {
        {xdxf_head + "<ar><k>a</k>b</ar>\n<!-- <ar><k>c</k>d</ar>\n</xdxf>\n",
         "lexaro-import: x.xdxf: line 5: the comment begun here does not end\n"},
        {xdxf_head + "<ar><k>a</k>b\n<!-- </ar>\n",
         "lexaro-import: x.xdxf: line 5: the comment begun here does not end\n"},
        {xdxf_head + "<ar><k>a</k><![CDATA[b</ar>\n</xdxf>\n",
         "lexaro-import: x.xdxf: line 4: the CDATA section begun here does not end\n"},
    };
    for (const broken& c : cases) {
        scratch_dir dir;
        write_file(dir / "x.xdxf", c.input);
        const run_result run = run_lexaro_import({"x.xdxf", "out.txt"}, dir.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, c.message);
        EXPECT_EQ(dir.files(), std::vector<std::string>{"x.xdxf"});
    }
}

const std::string logical_head =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<xdxf lang_from=\"ENG\" format=\"logical\" "
    "revision=\"33\">\n<meta_info><full_title>L</full_title></meta_info>\n<lexicon>\n";

// A logical article's parts are set apart as a reader shows them, however
// the file spaces them; a visual article's text stays as it is written.
TEST(ImportXdxf, LogicalArticlesKeepTheirPartsApart) {
    struct spacing_case {
        const char* what;
        std::string article;  // within <ar><k>w</k>...</ar>
        std::string logical;  // the translation in a logical dictionary
        std::string visual;   // and in a visual one
    };
    const spacing_case cases[] = {
        {"grammar, transcription, translation",
         "<def><gr>n</gr><tr>h\xC9\x99\xCA\x8Am</tr><dtrn>Heim</dtrn></def>",
         "n [h\xC9\x99\xCA\x8Am] Heim", "n[h\xC9\x99\xCA\x8Am]Heim"},
        {"etymology on a line of its own",
         "<def><gr>fem.</gr><deftext>house</deftext><etm>Latin mansio</etm></def>",
         "fem. house; Latin mansio", "fem.houseLatin mansio"},
        {"punctuation and formatting stay where they are",
         "<def><gr>n</gr>, <co>(informal)</co><deftext><b>ho</b>me</deftext>.</def>",
         "n, (informal) home.", "n, (informal)home."},
        {"XML white space between parts is a space",
         "\n  <def>\n    <deftext>one\n      two</deftext>\n    <ex><ex_orig>a</ex_orig>"
         "<ex_tran>b</ex_tran></ex>\n  </def>\n",
         "one two; a b", "one; two; a b"},
        {"examples and senses on lines of their own",
         "<def><def><deftext>first</deftext></def><def><deftext>second</deftext>"
         "<ex><ex_orig>x</ex_orig></ex></def></def>",
         "first; second; x", "first; second; x"},
    };
    for (const spacing_case& c : cases) {
        for (const bool logical : {true, false}) {
            const std::string head = logical ? logical_head : xdxf_head;
            check_cases({{c.what, "x.xdxf", head + "<ar><k>w</k>" + c.article + "</ar>\n</xdxf>\n",
                          {}, std::string(logical ? "L" : "T") + "\nw$" +
                                  (logical ? c.logical : c.visual) + "\n"}});
        }
    }
}

TEST(ImportXdxf, MoreThanFiveOptionalPartsStayInEveryWordAndAreCounted) {
    // Each of the first five parts there or not; the sixth and seventh in every word.
    std::vector<std::string> lines;
    for (int mask = 0; mask < 32; ++mask) {
        std::string word = "x";
        for (int part = 0; part < 5; ++part)
            if (mask & (16 >> part)) word += std::to_string(part + 1);
        lines.push_back(word + "67$t\n");
    }
    std::sort(lines.begin(), lines.end());
    std::string expected = "T\n";
    for (const std::string& line : lines) expected += line;
    check_summaries({
        {"seven parts", "x.xdxf",
         xdxf_head + "<ar><k>x<opt>1</opt><opt>2</opt><opt>3</opt><opt>4</opt><opt>5</opt>"
                     "<opt>6</opt><opt>7</opt></k>t</ar>\n</xdxf>\n",
         {},
         expected,
         {"  damaged markup:  1 headwords with too many optional parts, the first in x.xdxf "
          "line 4"}},
    });
}

}  // namespace
}  // namespace lexaro::test
