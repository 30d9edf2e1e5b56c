// HTML made text as a browser shows it: every kind of element, what is read
// as a tag or a comment and what stays text, and the character references,
// named (the legacy ones with and without their ';') and numeric; and XDXF's
// stricter references beside them.
#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "import/clean_up.h"
#include "import/markup_text.h"

namespace lexaro::import {
namespace {

using namespace std::string_literals;

// The translation that the clean-up makes of an HTML (or XDXF) text.
std::string shown(const std::string& text, markup kind = markup::html) {
    cleaner clean("; ");
    std::string word, translation;
    EXPECT_TRUE(clean.clean({"w", text, kind}, word, translation)) << text;
    return translation;
}

struct shown_case {
    const char* what;
    std::string text, expected;
};

TEST(ImportMarkup, EachKindOfElementAsABrowserShowsIt) {
    // clang-format off
    const shown_case cases[] = {
        // Elements that the converter does not name: markup, their content shown.
        {"an old sound element", "<BGSound src=\"/test.spx\">word", "word"},
        {"a custom element", "<my-tag data-x=1>kept</my-tag> too", "kept too"},
        {"a prefixed element", "a<o:p>b</o:p>c", "abc"},
        {"a grammar label in HTML", "noun <masc, n, sg> <adj> 3 < 4", "noun 3 < 4"},
        {"an end tag with attributes", "<b>x</b class=y> y", "x y"},
        // Elements without content.
        {"embed", "a<embed src=\"x.swf\" type=application/x-shockwave-flash>b", "ab"},
        {"input", "<input type=button value=Show>x", "x"},
        {"param, track, source", "<param name=a value=b><track src=t.vtt><source src=s>x", "x"},
        {"map and area", "<map name=m><area shape=rect coords=\"0,0,1,1\" href=x></map>text",
         "text"},
        {"an image", "<img src=\"a.png\" alt=\"a picture\">x", "x"},
        // Elements whose content is shown.
        {"button", "<button onclick=\"play()\">Play</button> it", "Play it"},
        {"details and summary", "<details><summary>Examples</summary>one</details>more",
         "Examples; one; more"},
        {"form, fieldset and legend", "<form><fieldset><legend>L</legend>b</fieldset></form>c",
         "L; b; c"},
        {"menu, dir, hgroup, search", "<menu><li>a</li></menu><dir>b</dir><hgroup>c</hgroup>"
         "<search>d</search>", "a; b; c; d"},
        {"ruby", "<ruby>\xE6\xBC\xA2<rp>(</rp><rt>kan</rt><rp>)</rp></ruby>",
         "\xE6\xBC\xA2(kan)"},
        // Elements whose content a browser does not show.
        {"script, case ignored", "<SCRIPT>if (a<b) x();</Script>y", "y"},
        {"style", "<style type=\"text/css\">p { color: red }</style>y", "y"},
        {"head, title and meta", "<html><head><title>T</title><meta charset=utf-8></head>"
         "<body>x</body></html>", "x"},
        {"audio and its fallback", "<audio controls><source src=a.mp3>no sound</audio>word",
         "word"},
        {"video", "a<video src=v.mp4 width=9>Your browser cannot</video>b", "ab"},
        {"object and its parameters", "<object data=a.swf><param name=q value=1>flash</object>x",
         "x"},
        {"svg and its text", "<svg width=\"10\"><text x=1>icon</text><title>t</title></svg>word",
         "word"},
        {"template", "<template><b>later</b></template>now", "now"},
        {"canvas", "<canvas id=c>no canvas</canvas>x", "x"},
        {"iframe", "<iframe src=x.html>frame</iframe>x", "x"},
        {"noscript, noembed, noframes", "<noscript>n</noscript><noembed>e</noembed>"
         "<noframes>f</noframes>x", "x"},
        {"datalist", "<datalist id=d><option value=a>A</option></datalist>x", "x"},
        {"a hidden element closed only by its own name", "<script>a</scripts>b</script >c", "c"},
        {"a hidden element never closed: its tag alone", "<audio src=a.mp3>word", "word"},
        {"a hidden element closed in its tag", "<audio src=a.mp3/>word", "word"},
    };
    // clang-format on
    for (const shown_case& c : cases) EXPECT_EQ(shown(c.text), c.expected) << c.what;
}

// Where a tag starts and ends, and what is a comment, as browsers read them.
TEST(ImportMarkup, TagsAndCommentsAsBrowsersReadThem) {
    // clang-format off
    const shown_case cases[] = {
        {"a quoted value may hold '>'", "<a title=\"x>y\">z</a>", "z"},
        {"single quotes", "<a title='x>y'>z</a>", "z"},
        {"an unquoted value ends at '>'", "<a title=x>y>z</a>", "y>z"},
        {"a quote inside a name is no quote", "<span don't>x</span>", "x"},
        {"a quote inside an unquoted value", "<a title=it's>x</a>", "x"},
        {"'<' inside a tag", "<b <i>x</b>", "x"},
        {"'=' first in a name", "<b =x>y</b>", "y"},
        {"white space around '='", "<a href = \"x\" >y</a>", "y"},
        {"'/' between attributes", "<a/href=x/>y", "y"},
        {"no letter after '<'", "<1> < b> <- a< <<", "<1> < b> <- a< <<"},
        {"no '>' before the end: text", "x <b class=\"y\" z", "x <b class=\"y\" z"},
        {"an unclosed quote: text", "x <b title=\"y>z", "x <b title=\"y>z"},
        {"after a tag the text ends inside, text but for references",
         "x <a title=\"y <b>z</b> &amp;", "x <a title=\"y <b>z</b> &"},
        {"a comment", "a<!-- note -->b", "ab"},
        {"a comment closed by --!>", "a<!-- c --!>b", "ab"},
        {"empty comments", "a<!-->b<!--->c", "abc"},
        {"an unclosed comment hides the rest", "a<!-- b", "a"},
        {"a doctype", "<!DOCTYPE html>x", "x"},
        {"CDATA in HTML", "<![CDATA[x]]>y", "y"},
        {"a processing instruction", "<?xml version=\"1.0\"?>x", "x"},
        {"an end tag without a name", "a</ x>b</1>c</>d", "abcd"},
    };
    // clang-format on
    for (const shown_case& c : cases) EXPECT_EQ(shown(c.text), c.expected) << c.what;

    // The tag as parse_tag gives it: the name as written for one not known.
    const auto t = parse_tag("x<My-Tag a='>'/>y", 1, markup::html);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->name, "My-Tag");
    EXPECT_FALSE(t->known);
    EXPECT_TRUE(t->self_closing);
    EXPECT_EQ(t->length, 15u);
    const auto known = parse_tag("</SPAN >", 0, markup::html);
    ASSERT_TRUE(known);
    EXPECT_EQ(known->name, "span");
    EXPECT_TRUE(known->known && known->closing);
    // HTML is told by the tags it knows: a label alone is no HTML.
    EXPECT_FALSE(holds_markup("<masc, n, sg> Aal & Co <adj>"));
    EXPECT_TRUE(holds_markup("Aal <embed src=a>"));
    EXPECT_TRUE(holds_markup("Aal &amp; Co"));
    EXPECT_FALSE(holds_markup("Aal &amp Co"));
    // Spellings in angle brackets, one of them a known name.
    EXPECT_FALSE(holds_markup("bodywash <body-wash> <body wash> <center line>"));
    EXPECT_TRUE(holds_markup("<a href=x>y</a> <td nowrap=\"\">"));
    EXPECT_TRUE(holds_markup("<br/> <b >"));
}

// Every name that browsers read without its ';', and what it stands for.
struct legacy_reference {
    const char* name;
    const char* text;
};
// clang-format off
const legacy_reference legacy_references[] = {
    {"AElig", "\xC3\x86"}, {"AMP", "&"}, {"Aacute", "\xC3\x81"}, {"Acirc", "\xC3\x82"},
    {"Agrave", "\xC3\x80"}, {"Aring", "\xC3\x85"}, {"Atilde", "\xC3\x83"},
    {"Auml", "\xC3\x84"}, {"COPY", "\xC2\xA9"}, {"Ccedil", "\xC3\x87"}, {"ETH", "\xC3\x90"},
    {"Eacute", "\xC3\x89"}, {"Ecirc", "\xC3\x8A"}, {"Egrave", "\xC3\x88"},
    {"Euml", "\xC3\x8B"}, {"GT", ">"}, {"Iacute", "\xC3\x8D"}, {"Icirc", "\xC3\x8E"},
    {"Igrave", "\xC3\x8C"}, {"Iuml", "\xC3\x8F"}, {"LT", "<"}, {"Ntilde", "\xC3\x91"},
    {"Oacute", "\xC3\x93"}, {"Ocirc", "\xC3\x94"}, {"Ograve", "\xC3\x92"},
    {"Oslash", "\xC3\x98"}, {"Otilde", "\xC3\x95"}, {"Ouml", "\xC3\x96"}, {"QUOT", "\x22"},
    {"REG", "\xC2\xAE"}, {"THORN", "\xC3\x9E"}, {"Uacute", "\xC3\x9A"}, {"Ucirc", "\xC3\x9B"},
    {"Ugrave", "\xC3\x99"}, {"Uuml", "\xC3\x9C"}, {"Yacute", "\xC3\x9D"},
    {"aacute", "\xC3\xA1"}, {"acirc", "\xC3\xA2"}, {"acute", "\xC2\xB4"},
    {"aelig", "\xC3\xA6"}, {"agrave", "\xC3\xA0"}, {"amp", "&"}, {"aring", "\xC3\xA5"},
    {"atilde", "\xC3\xA3"}, {"auml", "\xC3\xA4"}, {"brvbar", "\xC2\xA6"},
    {"ccedil", "\xC3\xA7"}, {"cedil", "\xC2\xB8"}, {"cent", "\xC2\xA2"}, {"copy", "\xC2\xA9"},
    {"curren", "\xC2\xA4"}, {"deg", "\xC2\xB0"}, {"divide", "\xC3\xB7"},
    {"eacute", "\xC3\xA9"}, {"ecirc", "\xC3\xAA"}, {"egrave", "\xC3\xA8"}, {"eth", "\xC3\xB0"},
    {"euml", "\xC3\xAB"}, {"frac12", "\xC2\xBD"}, {"frac14", "\xC2\xBC"},
    {"frac34", "\xC2\xBE"}, {"gt", ">"}, {"iacute", "\xC3\xAD"}, {"icirc", "\xC3\xAE"},
    {"iexcl", "\xC2\xA1"}, {"igrave", "\xC3\xAC"}, {"iquest", "\xC2\xBF"},
    {"iuml", "\xC3\xAF"}, {"laquo", "\xC2\xAB"}, {"lt", "<"}, {"macr", "\xC2\xAF"},
    {"micro", "\xC2\xB5"}, {"middot", "\xC2\xB7"}, {"nbsp", "\xC2\xA0"}, {"not", "\xC2\xAC"},
    {"ntilde", "\xC3\xB1"}, {"oacute", "\xC3\xB3"}, {"ocirc", "\xC3\xB4"},
    {"ograve", "\xC3\xB2"}, {"ordf", "\xC2\xAA"}, {"ordm", "\xC2\xBA"}, {"oslash", "\xC3\xB8"},
    {"otilde", "\xC3\xB5"}, {"ouml", "\xC3\xB6"}, {"para", "\xC2\xB6"}, {"plusmn", "\xC2\xB1"},
    {"pound", "\xC2\xA3"}, {"quot", "\x22"}, {"raquo", "\xC2\xBB"}, {"reg", "\xC2\xAE"},
    {"sect", "\xC2\xA7"}, {"shy", "\xC2\xAD"}, {"sup1", "\xC2\xB9"}, {"sup2", "\xC2\xB2"},
    {"sup3", "\xC2\xB3"}, {"szlig", "\xC3\x9F"}, {"thorn", "\xC3\xBE"}, {"times", "\xC3\x97"},
    {"uacute", "\xC3\xBA"}, {"ucirc", "\xC3\xBB"}, {"ugrave", "\xC3\xB9"}, {"uml", "\xC2\xA8"},
    {"uuml", "\xC3\xBC"}, {"yacute", "\xC3\xBD"}, {"yen", "\xC2\xA5"}, {"yuml", "\xC3\xBF"},
};
// clang-format on

TEST(ImportMarkup, LegacyReferencesWithAndWithoutTheirSemicolon) {
    EXPECT_EQ(std::size(legacy_references), 106u);
    for (const legacy_reference& r : legacy_references) {
        const std::string name = "&"s + r.name;
        const struct {
            std::string text;
            reference_place place;
            std::string expected;  // "": not a reference
            std::size_t taken;
        } forms[] = {
            {name + ";", reference_place::text, r.text, name.size() + 1},
            {name + ";x", reference_place::text, r.text, name.size() + 1},
            {name, reference_place::text, r.text, name.size()},
            {name + " x", reference_place::text, r.text, name.size()},
            {name + "x", reference_place::text, r.text, name.size()},
            {name + "9", reference_place::text, r.text, name.size()},
            {name + ";x", reference_place::attribute, r.text, name.size() + 1},
            {name + "&", reference_place::attribute, r.text, name.size()},
            {name + "x", reference_place::attribute, "", 0},
            {name + "9", reference_place::attribute, "", 0},
            {name + "=", reference_place::attribute, "", 0},
        };
        for (const auto& f : forms) {
            std::string out = "<";
            EXPECT_EQ(decode_html_reference(f.text, 0, out, f.place), f.taken) << f.text;
            EXPECT_EQ(out, "<" + f.expected) << f.text;
        }
    }
}

TEST(ImportMarkup, NamedAndNumericReferencesAsBrowsersReadThem) {
    struct reference_case {
        const char* what;
        std::string text;
        std::string expected;  // "": not a reference
        std::size_t taken;
    };
    // clang-format off
    const reference_case cases[] = {
        {"a name that needs its ';'", "&hellip;", "\xE2\x80\xA6", 8},
        {"... without it", "&hellip", "", 0},
        {"the longest legacy name that starts the letters", "&notit;", "\xC2\xAC", 4},
        {"a whole name before it", "&notin;", "\xE2\x88\x89", 7},
        {"a whole name without ';'", "&notin", "\xC2\xAC", 4},
        {"legacy names in capitals", "&AMPx", "&", 4},
        {"capitals only where the name has them", "&Amp;", "", 0},
        {"an unknown name", "&bogus;", "", 0},
        {"two code points", "&NotEqualTilde;", "\xE2\x89\x82\xCC\xB8", 15},
        {"the longest name", "&CounterClockwiseContourIntegral;", "\xE2\x88\xB3", 33},
        {"a name one letter too long", "&CounterClockwiseContourIntegralX;", "", 0},
        {"a '&' alone", "& x", "", 0},
        {"decimal", "&#233;", "\xC3\xA9", 6},
        {"decimal without ';'", "&#233x", "\xC3\xA9", 5},
        {"hexadecimal without ';'", "&#xE9g", "\xC3\xA9", 5},
        {"capital X", "&#XE9;", "\xC3\xA9", 6},
        {"128 to 159 as Windows-1252", "&#150;", "\xE2\x80\x93", 6},
        {"the euro sign", "&#x80;", "\xE2\x82\xAC", 6},
        {"a byte Windows-1252 lacks", "&#129;", "\xC2\x81", 6},
        {"zero stays", "&#0;", "", 0},
        {"a surrogate stays", "&#xD800;", "", 0},
        {"past U+10FFFF stays", "&#x110000;", "", 0},
        {"many digits stay", "&#99999999999999999999;", "", 0},
        {"no digits", "&#;", "", 0},
        {"no hexadecimal digits", "&#xg;", "", 0},
    };
    // clang-format on
    for (const reference_case& c : cases) {
        std::string out = "<";
        EXPECT_EQ(decode_html_reference(c.text, 0, out), c.taken) << c.what;
        EXPECT_EQ(out, "<" + c.expected) << c.what;
    }
}

// References in the clean-up: HTML's read as browsers read them, XDXF's
// (XML) only with their ';'.
TEST(ImportMarkup, ReferencesInTranslations) {
    struct text_case {
        const char* what;
        markup kind;
        std::string text, expected;
    };
    // clang-format off
    const text_case cases[] = {
        {"legacy names in HTML", markup::html, "Tom &amp Jerry &copy2001 &lt;b&gt &eacutet&eacute",
         "Tom & Jerry \xC2\xA9" "2001 <b> \xC3\xA9t\xC3\xA9"},
        {"a no-break space without ';'", markup::html, "a&nbsp b&nbspc", "a b c"},
        {"not in XDXF", markup::xdxf, "Tom &amp Jerry &amp; &#233", "Tom &amp Jerry & &#233"},
        {"numeric without ';' and Windows-1252", markup::html, "&#233t&#x96;", "\xC3\xA9t\xE2\x80\x93"},
        {"what stays", markup::html, "AT&T &bogus; &#0; & more", "AT&T &bogus; &#0; & more"},
        {"plain text keeps them all", markup::plain, "&amp &amp;", "&amp &amp;"},
    };
    // clang-format on
    for (const text_case& c : cases) EXPECT_EQ(shown(c.text, c.kind), c.expected) << c.what;
}

// XDXF reads its own tags, and any other tag as markup too.
TEST(ImportMarkup, XdxfKnowsItsTagsAndHidesNoOther) {
    EXPECT_EQ(shown("<k>a</k><tr>a</tr> <foo>x</foo><svg>y</svg>", markup::xdxf), "[a] x");
}

}  // namespace
}  // namespace lexaro::import
