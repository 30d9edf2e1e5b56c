// lexaro-import on XDXF dictionaries.
#include <gtest/gtest.h>

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
