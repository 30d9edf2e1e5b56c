// lexaro-import on JMdict and JMnedict XML.
#include <gtest/gtest.h>

#include "format_test_support.h"
#include "test_support.h"

namespace lexaro::test {
namespace {

// A document type as JMdict's: element declarations, the coded values as
// entities (one declared twice), a comment that holds ']' and '>'.
const std::string doctype =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE JMdict [\n"
    "<!ELEMENT JMdict (entry*)>\n"
    "<!-- <pos> values ]> -->\n"
    "<!ENTITY n \"noun (common) (futsuumeishi)\">\n"
    "<!ENTITY pn \"pronoun\">\n"
    "<!ENTITY uk \"word usually written using kana alone\">\n"
    "<!ENTITY col \"colloquial\">\n"
    "<!ENTITY adj-na \"adjectival nouns or quasi-adjectives (keiyodoshi)\">\n"
    "<!ENTITY ateji \"ateji (phonetic) reading\">\n"
    "<!ENTITY sK \"search-only kanji form\">\n"
    "<!ENTITY n \"a second declaration, which does not hold\">\n"
    "<!ENTITY brackets \"[1] a value with ] in it\">\n"
    "<!ATTLIST gloss xml:lang CDATA \"eng\">\n"
    "]>\n"
    "<!-- JMdict created: 2024-01-01 -->\n";

std::string jmdict(std::string_view entries) {
    return doctype + "<JMdict>\n" + std::string(entries) + "</JMdict>\n";
}

// Six forms, a reading without kanji, a sense for some readings only, a sense
// that takes its part of speech from the one before, a German sense.
const std::string over_there =
    "<entry>\n<ent_seq>1000320</ent_seq>\n"
    "<k_ele><keb>彼処</keb></k_ele>\n"
    "<k_ele><keb>彼所</keb><ke_inf>&ateji;</ke_inf></k_ele>\n"
    "<r_ele><reb>あそこ</reb></r_ele>\n"
    "<r_ele><reb>かしこ</reb></r_ele>\n"
    "<r_ele><reb>アソコ</reb><re_nokanji/></r_ele>\n"
    "<sense><pos>&pn;</pos><misc>&uk;</misc><xref>何処・どこ・1</xref>"
    "<gloss>there</gloss><gloss>over there</gloss></sense>\n"
    "<sense><stagr>あそこ</stagr><stagr>アソコ</stagr><pos>&n;</pos><misc>&col;</misc>"
    "<gloss>genitals</gloss></sense>\n"
    "<sense><misc>&uk;</misc><gloss>that far</gloss><s_inf>of a degree</s_inf></sense>\n"
    "<sense><gloss xml:lang=\"ger\">dort</gloss><gloss xml:lang=\"ger\">da</gloss></sense>\n"
    "</entry>\n";

// Two entries of one written form; a literal gloss; a <pri> inside a gloss.
const std::string obvious =
    "<entry><ent_seq>1</ent_seq><k_ele><keb>明白</keb></k_ele><r_ele><reb>めいはく</reb></r_ele>"
    "<sense><pos>&adj-na;</pos><gloss>obvious</gloss><gloss g_type=\"lit\">white "
    "<pri>and</pri> bright</gloss></sense></entry>\n"
    "<entry><ent_seq>2</ent_seq><k_ele><keb>明白</keb></k_ele><r_ele><reb>あからさま</reb>"
    "</r_ele><sense><pos>&adj-na;</pos><misc>&uk;</misc><gloss>plain</gloss>"
    "<ant>曖昧</ant></sense></entry>\n";

// A search-only form, and a reading restricted to one written form.
const std::string forms =
    "<entry><ent_seq>3</ent_seq><k_ele><keb>缶</keb></k_ele><k_ele><keb>罐</keb>"
    "<ke_inf>&sK;</ke_inf></k_ele><r_ele><reb>かん</reb></r_ele>"
    "<sense><pos>&n;</pos><gloss>can</gloss></sense></entry>\n"
    "<entry><ent_seq>4</ent_seq><k_ele><keb>あっという間に</keb></k_ele>"
    "<k_ele><keb>あっと言う間に</keb></k_ele><r_ele><reb>あっというまに</reb></r_ele>"
    "<r_ele><reb>あっとゆうまに</reb><re_restr>あっと言う間に</re_restr></r_ele>"
    "<sense><gloss>in an instant</gloss></sense></entry>\n";

const std::string over_there_english =
    "1. (pn, uk) there; over there [see 何処・どこ・1]; 2. (n, col) genitals; "
    "3. (n, uk) that far [of a degree]";

TEST(ImportJmdict, WrittenFormsAndReadingsAreWordsWithTheSensesThatApply) {
    check_cases({
        {"forms, readings, restricted senses, labels by their names", "JMdict_e",
         jmdict(over_there), {},
         "JMdict\n"
         "あそこ$あそこ (彼処・彼所); " + over_there_english + "\n"
         "かしこ$かしこ (彼処・彼所); 1. (pn, uk) there; over there [see 何処・どこ・1]; "
         "2. (n, uk) that far [of a degree]\n"
         "アソコ$アソコ; " + over_there_english + "\n"
         "彼処$彼処 【あそこ・かしこ】; " + over_there_english + "\n"
         "彼所$彼所 (ateji) 【あそこ・かしこ】; " + over_there_english + "\n"},
        {"gzip", "JMdict_e.gz", gzip_bytes(jmdict(over_there)), {"--format", "jmdict"},
         "JMdict\n"
         "あそこ$あそこ (彼処・彼所); " + over_there_english + "\n"
         "かしこ$かしこ (彼処・彼所); 1. (pn, uk) there; over there [see 何処・どこ・1]; "
         "2. (n, uk) that far [of a degree]\n"
         "アソコ$アソコ; " + over_there_english + "\n"
         "彼処$彼処 【あそこ・かしこ】; " + over_there_english + "\n"
         "彼所$彼所 (ateji) 【あそこ・かしこ】; " + over_there_english + "\n"},
        {"German glosses, by either code", "JMdict", jmdict(over_there + obvious),
         {"--translations", "de"},
         "JMdict (ger)\n"
         "あそこ$あそこ (彼処・彼所); dort; da\n"
         "かしこ$かしこ (彼処・彼所); dort; da\n"
         "アソコ$アソコ; dort; da\n"
         "彼処$彼処 【あそこ・かしこ】; dort; da\n"
         "彼所$彼所 (ateji) 【あそこ・かしこ】; dort; da\n"},
        {"two entries of one form merge; literal glosses; <pri> in a gloss", "JMdict",
         jmdict(obvious), {},
         "JMdict\n"
         "あからさま$あからさま (明白); (adj-na, uk) plain [ant. 曖昧]\n"
         "めいはく$めいはく (明白); (adj-na) obvious; lit. white and bright\n"
         "明白$明白 【めいはく】; (adj-na) obvious; lit. white and bright | 明白 【あからさま】; "
         "(adj-na, uk) plain [ant. 曖昧]\n"},
        {"a search-only form is a word but not shown; a restricted reading", "JMdict",
         jmdict(forms), {},
         "JMdict\n"
         "あっというまに$あっというまに (あっという間に・あっと言う間に); in an instant\n"
         "あっという間に$あっという間に 【あっというまに】; in an instant\n"
         "あっとゆうまに$あっとゆうまに (あっと言う間に); in an instant\n"
         "あっと言う間に$あっと言う間に 【あっというまに・あっとゆうまに】; in an instant\n"
         "かん$かん (缶); (n) can\n"
         "缶$缶 【かん】; (n) can\n"
         "罐$缶 【かん】; (n) can\n"},
        {"JMnedict: name types label the translations", "JMnedict.xml",
         "<?xml version=\"1.0\"?>\n<!DOCTYPE JMnedict [\n<!ENTITY surname \"family or "
         "surname\">\n<!ENTITY place \"place name\">\n]>\n<JMnedict>\n"
         "<entry><ent_seq>5000000</ent_seq><k_ele><keb>山田</keb></k_ele>"
         "<r_ele><reb>やまだ</reb></r_ele><trans><name_type>&surname;</name_type>"
         "<name_type>&place;</name_type><trans_det>Yamada</trans_det></trans></entry>\n"
         "</JMnedict>\n",
         {},
         "JMnedict\nやまだ$やまだ (山田); (surname, place) Yamada\n"
         "山田$山田 【やまだ】; (surname, place) Yamada\n"},
    });
}

// Entities expand only where their value is plain text; what the reader got
// over is counted, what it left out too.
TEST(ImportJmdict, EntitiesAndDamageAreCountedNotMultiplied) {
    const std::string bomb_doctype =
        "<!DOCTYPE JMdict [\n"
        "<!ENTITY n \"noun\">\n"
        "<!ENTITY a \"&#x3042;&#97;\">\n"
        "<!ENTITY lol \"&n;&n;&n;&n;&n;&n;&n;&n;&n;&n;\">\n"
        "<!ENTITY tag \"<b>bold</b>\">\n"
        "<!ENTITY % param \"x\">\n"
        "<!ENTITY ext SYSTEM \"file:///etc/passwd\">\n"
        "]>\n";
    check_summaries({
        {"values that hold references, markup or an outside file stay as written",
         "JMdict",
         bomb_doctype +
             "<JMdict><entry><ent_seq>1</ent_seq><r_ele><reb>か</reb></r_ele><sense>"
             "<pos>&n;</pos><gloss>&a; &lol; &tag; &ext; &param; &amp;&lt;&#x41;</gloss>"
             "</sense></entry></JMdict>\n",
         {},
         "JMdict\nか$か; (n) あa &lol; &tag; &ext; &param; &<A\n",
         {"  damaged markup:  3 entities that are not plain text, kept as written, the first "
          "in JMdict line 9",
          "  damaged markup:  1 unknown or broken references, the first in JMdict line 9"}},
        {"entries and words without what they need", "JMdict",
         jmdict("<entry><ent_seq>1</ent_seq><k_ele><keb>字</keb></k_ele></entry>\n"
                "<entry><ent_seq>2</ent_seq><r_ele><reb>じ</reb></r_ele></entry>\n"
                "<entry><ent_seq>3</ent_seq><r_ele><reb>あ</reb><re_restr>亜</re_restr>"
                "</r_ele><r_ele><reb></reb></r_ele><sense><stagk>亜</stagk>"
                "<gloss>ah</gloss></sense></entry>\n"
                "<entry><ent_seq>4</ent_seq><k_ele><keb>字</keb></k_ele><r_ele><reb>じ</reb>"
                "</r_ele><sense><stagr>あざ</stagr><stagr>じ</stagr><gloss>letter</gloss>"
                "</sense><sense><stagk>字</stagk><stagr>あざ</stagr><gloss>mark</gloss>"
                "</sense></entry>\n"),
         {},
         "JMdict\nあ$あ; ah\nじ$じ (字); 1. letter; 2. mark\n字$字 【じ】; 1. letter; 2. mark\n",
         {"  skipped:         1 entries with no reading, the first in JMdict line 18",
          "  skipped:         1 entries with no sense, the first in JMdict line 19",
          "  skipped:         1 empty <reb>, the first in JMdict line 20",
          "  damaged markup:  4 restrictions to forms the entry does not have, the first in "
          "JMdict line 20"}},
    });
}

TEST(ImportJmdict, FilesItCannotReadStopTheRun) {
    struct refused {
        const char* what;
        std::string input;
        std::vector<std::string> options;
        std::string message;
    };
    const refused cases[] = {
        {"another root element", "<?xml version=\"1.0\"?>\n<!DOCTYPE JMdict []>\n<dict/>\n",
         {"--format", "jmdict"},
         "lexaro-import: JMdict: line 3: the root element is <dict>, not <JMdict> or "
         "<JMnedict>\n"},
        {"no glosses in the language asked for", jmdict(over_there), {"--translations", "fr"},
         "lexaro-import: JMdict has no glosses in fre; its glosses are in eng, ger\n"},
        {"cut short inside an entry",
         jmdict(over_there).substr(0, jmdict(over_there).find("<sense><stagr>")), {},
         "lexaro-import: JMdict: line 25: the file ends inside the <entry> begun at line 18\n"},
    };
    for (const refused& c : cases) {
        SCOPED_TRACE(c.what);
        scratch_dir dir;
        write_file(dir / "JMdict", c.input);
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"JMdict", "out.txt"});
        const run_result run = run_lexaro_import(args, dir.path());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, c.message);
        EXPECT_EQ(dir.files(), std::vector<std::string>{"JMdict"});
    }
}

}  // namespace
}  // namespace lexaro::test
