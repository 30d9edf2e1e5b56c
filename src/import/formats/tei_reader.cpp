// FreeDict's dictionaries in TEI: XML (P5, and the older P4) whose <entry>
// elements are the articles,
//
//   <entry><form><orth>banco</orth><pron>ˈbanko</pron></form>
//     <gramGrp><pos>n</pos><gen>m</gen></gramGrp>
//     <sense n="1"><usg type="dom">fin.</usg><cit type="trans"><quote>bank</quote></cit></sense>
//     <sense n="2"><cit type="trans"><quote>bench</quote></cit>
//       <cit type="example"><quote>un banco de madera</quote>
//         <cit type="trans"><quote>a wooden bench</quote></cit></cit>
//       <xr type="syn"><ref target="#asiento">asiento</ref></xr></sense>
//   </entry>
//
// Every <orth> of an entry's forms is a word, and all of them share one
// article laid out as text: a first line with the spellings (when there are
// several), the pronunciation in slashes and the grammar in angle brackets,
// then the senses, numbered when there are two or more (sub-senses a), b)),
// each with its usage labels in brackets, translations joined by commas,
// definitions and notes in parentheses on one line, and its examples
// ("quote" - translation) and cross references (See also:, Synonyms:) on
// lines of their own. P4's <trans><tr> reads as <cit type="trans"><quote>.
//
// The file is read as a stream of XML tokens and one entry held at a time,
// so memory stays that of the largest entry. Elements are known by their
// local names, whatever their namespace. XIncludes (FreeDict's eng-pol keeps
// its entries in letters/a.xml ...) are read in their place, from the files
// in the folder of the including file or below it, each file once. Damage
// that loses no entry (an unknown entity, an end tag that closes nothing, an
// element left open) is counted with the sink; what would lose entries (a
// file cut short, a comment or tag that never ends, an include that cannot
// be read) or read what is not the dictionary's (an include that leads out
// of its folder) stops the run with the file, the line and what is wrong.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/platform.h"
#include "import/formats/included_files.h"
#include "import/formats/readers.h"
#include "import/formats/xml_scanner.h"
#include "import/markup_text.h"
#include "import/text_input.h"

namespace lexaro::import {

namespace {

constexpr std::size_t max_title_size = 1024;
// Elements nested deeper than this within an entry, or outside one, are read
// as their text only: no dictionary nests so, and the layout recurses.
constexpr std::size_t max_entry_depth = 48;
constexpr std::size_t max_outer_depth = 256;
constexpr int max_include_depth = 8;
// The headwords taken from one entry: each is handed on with the whole
// article, so that an entry of thousands cannot make the output quadratic.
constexpr std::size_t max_words = 64;
constexpr uint32_t none = UINT32_MAX;

// Appends text with its runs of white space made one space, never a space
// at the start of what was appended since `start`.
void append_collapsed(std::string& out, std::size_t start, std::string_view text) {
    for (const char c : text) {
        if (!is_xml_space(c))
            out += c;
        else if (out.size() > start && out.back() != ' ')
            out += ' ';
    }
}

void trim_end(std::string& out, std::size_t start) {
    while (out.size() > start && out.back() == ' ') out.pop_back();
}

// --- One entry as a tree ----------------------------------------------------

// What an element is to the layout.
enum class kind : uint8_t {
    text,
    entry,
    form,
    orth,
    pron,
    gram_grp,
    gram,  // pos, gen, number and the other grammar elements
    sense,
    hom,
    cit,
    quote,
    def,
    usg,
    xr,
    ref,
    note,
    trans,  // P4
    tr,     // P4
    other,
};

kind kind_of(std::string_view name) {
    struct known {
        std::string_view name;
        kind what;
    };
    // clang-format off
    static constexpr known table[] = {
        {"form", kind::form},   {"orth", kind::orth},     {"pron", kind::pron},
        {"gramGrp", kind::gram_grp}, {"pos", kind::gram}, {"gen", kind::gram},
        {"number", kind::gram}, {"gram", kind::gram},     {"subc", kind::gram},
        {"colloc", kind::gram}, {"case", kind::gram},     {"per", kind::gram},
        {"tns", kind::gram},    {"mood", kind::gram},     {"iType", kind::gram},
        {"sense", kind::sense}, {"hom", kind::hom},       {"cit", kind::cit},
        {"quote", kind::quote}, {"def", kind::def},       {"usg", kind::usg},
        {"xr", kind::xr},       {"ref", kind::ref},       {"note", kind::note},
        {"trans", kind::trans}, {"tr", kind::tr},         {"entry", kind::entry},
    };
    // clang-format on
    for (const known& k : table)
        if (k.name == name) return k.what;
    return kind::other;
}

struct node {
    kind what = kind::other;
    uint32_t first = none, last = none, next = none;
    // Text: the text; an element: its local name.
    uint32_t at = 0, size = 0;
    // The values of its "type" and "n" attributes, references decoded.
    uint32_t type_at = 0, type_size = 0;
    uint32_t n_at = 0, n_size = 0;
};

// Lays the article out, line by line: pieces of a line are joined by the
// separator that the caller gives, lines by '\n'. An empty line is never
// written; a line that holds only a sense's number takes what follows.
class article_writer {
public:
    explicit article_writer(std::string& out) : out_(out) {}

    void piece(std::string_view text, std::string_view separator = " ") {
        if (text.empty()) return;
        if (break_) {
            out_ += '\n';
            break_ = false;
        } else if (!out_.empty() && !line_empty_) {
            out_ += label_only_ ? " " : separator;
        }
        out_ += text;
        line_empty_ = false;
        label_only_ = false;
    }
    void label(std::string_view text) {
        piece(text);
        label_only_ = !text.empty();
    }
    // What follows starts a new line, unless this one is empty or only a number.
    void new_line() {
        if (!line_empty_ && !label_only_) {
            break_ = true;
            line_empty_ = true;
        }
    }

private:
    std::string& out_;
    bool line_empty_ = true;
    bool label_only_ = false;
    bool break_ = false;
};

// --- The reader -------------------------------------------------------------

class tei_reader {
public:
    tei_reader(const std::string& dictionary, entry_sink& sink)
        : sink_(sink), included_(dictionary) {}

    // Reads every entry of the file at `path`, and of the files it includes.
    void read_file(const std::string& path, text_input& text, int include_depth) {
        follow_declared_charset(text);
        xml_scanner x(path, text, sink_);
        struct open_element {
            std::string name;
            uint64_t line;
        };
        std::vector<open_element> open;
        std::size_t too_deep = 0;                 // elements past max_outer_depth still open
        std::size_t header = none, title = none;  // where <teiHeader> and the <title> are open
        for (;;) {
            const token t = x.next();
            if (t == token::done) break;
            if (t == token::text) {
                if (title != none && title_.size() < max_title_size) {
                    append_decoded(x, title_, x.text(), x.raw());
                    if (title_.size() > max_title_size) title_.resize(max_title_size);
                }
                continue;
            }
            const std::string_view name = x.name();
            if (t == token::start) {
                if (name == "entry" && header == none) {
                    while (read_entry(x)) {
                    }
                    continue;
                }
                if (name == "include") include(x, include_depth);
                if (x.self_closing()) continue;
                if (too_deep > 0 || open.size() >= max_outer_depth) {
                    if (too_deep++ == 0) x.damaged("elements nested more than 256 deep");
                    continue;
                }
                if (name == "teiHeader" && header == none) header = open.size();
                if (name == "title" && header != none && title == none && !title_taken_) {
                    title = open.size();
                    title_.clear();
                }
                open.push_back({std::string(name), x.line()});
                continue;
            }
            // An end tag closes the innermost open element of its name, and
            // any left open inside it.
            if (too_deep > 0) {
                --too_deep;
                continue;
            }
            std::size_t i = open.size();
            while (i > 0 && open[i - 1].name != name) --i;
            if (i == 0) {
                x.damaged("end tags that close no element");
                continue;
            }
            if (i != open.size()) x.damaged("elements not closed");
            open.resize(i - 1);
            if (title != none && open.size() <= title) {
                title = none;
                title_taken_ = true;
                std::string collapsed;
                append_collapsed(collapsed, 0, title_);
                trim_end(collapsed, 0);
                title_ = std::move(collapsed);
            }
            if (header != none && open.size() <= header) header = none;
        }
        if (!open.empty())
            x.fail("the file ends inside <" + open.back().name + ">, begun at line " +
                   std::to_string(open.back().line) + ": it is cut short");
    }

    const std::string& title() const { return title_; }

private:
    // An XML declaration that names another set than UTF-8 is followed, when
    // the user named none and no byte-order mark said one.
    static void follow_declared_charset(text_input& text) {
        bool whole_file = false;
        const std::string_view sample = text.sample(whole_file);
        if (sample.substr(0, 5) != "<?xml") return;
        const std::string_view declaration = sample.substr(0, sample.find("?>"));
        const std::size_t at = declaration.find("encoding");
        if (at == std::string_view::npos) return;
        const std::size_t quote = declaration.find_first_of("\"'", at);
        if (quote == std::string_view::npos) return;
        const std::size_t close = declaration.find(declaration[quote], quote + 1);
        if (close == std::string_view::npos) return;
        std::string name(declaration.substr(quote + 1, close - quote - 1));
        std::string upper;
        for (const char c : name)
            if (c != '-' && c != '_') upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
        if (upper != "UTF8" && !name.empty()) text.fall_back_to(name);
    }

    // <include href="letters/a.xml"/> (XInclude): the file's entries, read
    // here, from the folder of the including file or below it, each file once.
    void include(xml_scanner& x, int depth) {
        std::string href;
        append_decoded(x, href, x.attribute("href"), false);
        if (href.empty()) x.fail("an XInclude with no href");
        if (x.path() == "-")
            x.fail("the entries are in " + href +
                   ", which lies beside the dictionary: name its file, not standard input");
        const included_files::admission admitted = included_.admit(x.path(), href);
        if (admitted.what == included_files::admission::verdict::refused)
            x.fail("can't include " + href + ": " + admitted.problem);
        if (admitted.what == included_files::admission::verdict::read_before) {
            sink_.skipped("XIncludes of a file already read", x.path(), x.line());
            return;
        }
        if (depth >= max_include_depth) x.fail("XIncludes nested more than 8 deep");
        const std::string& path = admitted.path;
        std::unique_ptr<text_input> text;
        try {
            if (type_of_file(path) == file_type::other)
                throw import_error(path + " is not a regular file");
            text = std::make_unique<text_input>(path, "");
        } catch (const import_error& e) {
            x.fail(std::string("can't include: ") + e.what());
        }
        read_file(path, *text, depth + 1);
    }

    // Appends text with its references decoded (none in CDATA); a '&' that
    // begins no reference known is kept and counted.
    void append_decoded(xml_scanner& x, std::string& out, std::string_view text, bool raw) {
        if (raw) {
            out.append(text);
            return;
        }
        for (;;) {
            const std::size_t amp = text.find('&');
            out.append(text.substr(0, amp));
            if (amp == std::string_view::npos) return;
            const std::size_t taken = decode_entity(text, amp, out);
            if (taken == 0) {
                x.damaged("unknown or broken character references");
                out += '&';
            }
            text.remove_prefix(amp + std::max<std::size_t>(taken, 1));
        }
    }

    // Builds the entry whose start tag was the last token, through its end
    // tag, and hands it on. True when it was ended by the start of another
    // entry, which is then the last token.
    bool read_entry(xml_scanner& x) {
        const uint64_t entry_line = x.line();
        std::size_t bytes = x.size();
        nodes_.clear();
        text_.clear();
        path_.clear();
        path_.push_back(add_element(x, kind::entry));
        std::size_t too_deep = 0;
        if (x.self_closing()) return finish(x, entry_line), false;
        for (;;) {
            const token t = x.next();
            if (t == token::done)
                x.fail("the file ends inside the <entry> begun at line " +
                       std::to_string(entry_line));
            bytes += x.size();
            if (bytes > max_raw_size) return skip_large_entry(x, bytes);
            if (t == token::text) {
                add_text(x);
                continue;
            }
            const std::string_view name = x.name();
            if (t == token::start) {
                if (name == "entry") {
                    x.damaged("entries not closed before the next");
                    finish(x, entry_line);
                    return true;
                }
                if (too_deep > 0 || path_.size() >= max_entry_depth) {
                    if (!x.self_closing() && too_deep++ == 0)
                        x.damaged("elements nested more than 48 deep");
                    continue;
                }
                const uint32_t element = add_element(x, kind_of(name));
                if (!x.self_closing()) path_.push_back(element);
                continue;
            }
            if (too_deep > 0 && name != "entry") {
                --too_deep;
                continue;
            }
            // Entries do not nest: </entry> ends this one, whatever is open.
            std::size_t i = name == "entry" ? 1 : path_.size();
            while (i > 0 && element_name(path_[i - 1]) != name) --i;
            if (i == 0) {
                x.damaged("end tags that close no element");
                continue;
            }
            if (i != path_.size() || too_deep > 0) x.damaged("elements not closed");
            too_deep = 0;
            path_.resize(i - 1);
            if (path_.empty()) {
                finish(x, entry_line);
                return false;
            }
        }
    }

    // An entry larger than any block: read past, counted, never held. True
    // when it was ended by the start of another entry.
    bool skip_large_entry(xml_scanner& x, std::size_t bytes) {
        gather_words();
        const std::string first(word_count() > 0 ? word(0) : std::string_view());
        const bool another = x.skip_rest_of_entry(bytes);
        sink_.too_large(first, bytes);
        return another;
    }

    uint32_t add_element(xml_scanner& x, kind what) {
        node n;
        n.what = what;
        const std::string_view name = x.name();
        n.at = static_cast<uint32_t>(text_.size());
        text_.append(name);
        n.size = static_cast<uint32_t>(name.size());
        if (const std::string_view type = x.attribute("type"); !type.empty()) {
            n.type_at = static_cast<uint32_t>(text_.size());
            append_decoded(x, text_, type, false);
            n.type_size = static_cast<uint32_t>(text_.size() - n.type_at);
        }
        if (const std::string_view number = x.attribute("n"); !number.empty()) {
            n.n_at = static_cast<uint32_t>(text_.size());
            append_decoded(x, text_, number, false);
            n.n_size = static_cast<uint32_t>(text_.size() - n.n_at);
        }
        return attach(n);
    }

    void add_text(xml_scanner& x) {
        const std::string_view text = x.text();
        const uint32_t parent = path_.back();
        // Text that follows text (cut by a piece's end, or CDATA) extends it.
        const uint32_t last = nodes_[parent].last;
        const bool extend = last != none && nodes_[last].what == kind::text &&
                            nodes_[last].at + nodes_[last].size == text_.size();
        const std::size_t start = text_.size();
        if (std::all_of(text.begin(), text.end(), is_xml_space)) {
            // Between the elements of an entry, a form, a sense, a cit...: no
            // text. Elsewhere it may part the words of mixed content.
            switch (nodes_[parent].what) {
                case kind::entry:
                case kind::form:
                case kind::sense:
                case kind::hom:
                case kind::cit:
                case kind::gram_grp:
                case kind::xr:
                case kind::trans:
                    return;
                default:
                    text_ += ' ';
            }
        } else {
            append_decoded(x, text_, text, x.raw());
        }
        if (extend) {
            nodes_[last].size = static_cast<uint32_t>(text_.size() - nodes_[last].at);
            return;
        }
        node n;
        n.what = kind::text;
        n.at = static_cast<uint32_t>(start);
        n.size = static_cast<uint32_t>(text_.size() - start);
        attach(n);
    }

    uint32_t attach(const node& n) {
        const uint32_t id = static_cast<uint32_t>(nodes_.size());
        nodes_.push_back(n);
        if (!path_.empty()) {
            node& parent = nodes_[path_.back()];
            if (parent.last == none)
                parent.first = id;
            else
                nodes_[parent.last].next = id;
            parent.last = id;
        }
        return id;
    }

    std::string_view element_name(uint32_t id) const {
        return std::string_view(text_).substr(nodes_[id].at, nodes_[id].size);
    }
    std::string_view type_of(uint32_t id) const {
        return std::string_view(text_).substr(nodes_[id].type_at, nodes_[id].type_size);
    }
    std::string_view n_of(uint32_t id) const {
        return std::string_view(text_).substr(nodes_[id].n_at, nodes_[id].n_size);
    }

    // Hands the entry in nodes_ on: one raw entry per headword.
    void finish(xml_scanner& x, uint64_t entry_line) {
        gather_words();
        if (word_count() == 0) {
            sink_.skipped("entries with no headword", x.path(), entry_line);
            return;
        }
        if (extra_words_ > 0)
            sink_.skipped("entries with more than 64 headwords (the rest left out)", x.path(),
                          entry_line);
        article_.clear();
        lay_out();
        raw_entry entry{{}, article_, markup::plain};
        if (sink_.wants_terms()) {
            gather_terms();
            // An entry of definitions alone leaves them to the text.
            entry.has_terms = !terms_.empty();
            entry.terms = terms_;
            entry.grammar = grammar_;
        }
        for (std::size_t i = 0; i < word_count(); ++i) {
            entry.word = word(i);
            sink_.add(entry);
        }
    }

    // --- Terms -------------------------------------------------------------

    // The quotes of the translations in the entry's senses, one a line, each
    // with the grammar nearest it (its translation's, else its sense's) in
    // angle brackets: "bank <n>". Examples, definitions, notes and cross
    // references hold none. The entry's own grammar goes to grammar_.
    void gather_terms() {
        terms_.clear();
        grammar_.clear();
        labels_.clear();
        for (uint32_t c = nodes_[0].first; c != none && grammar_.empty(); c = nodes_[c].next) {
            if (nodes_[c].what == kind::form) {
                for (uint32_t g = nodes_[c].first; g != none && grammar_.empty(); g = nodes_[g].next)
                    grammar_of(g, grammar_);
            } else {
                grammar_of(c, grammar_);
            }
        }
        block_terms(0, 0, 0, 0);
    }

    // The grammar of a gramGrp or grammar element, its parts joined by ", ",
    // appended to out; nothing for another element.
    void grammar_of(uint32_t id, std::string& out) const {
        if (nodes_[id].what == kind::gram) {
            text_of(id, out);
            return;
        }
        if (nodes_[id].what != kind::gram_grp) return;
        const std::size_t start = out.size();
        for (uint32_t c = nodes_[id].first; c != none; c = nodes_[c].next) {
            const std::size_t before = out.size();
            if (before > start) out += ", ";
            const std::size_t item = out.size();
            text_of(c, out);
            if (out.size() == item) out.resize(before);
        }
    }

    // The terms of a sense, a homograph or the entry; label: where its
    // grammar lies in labels_ (size 0: none).
    void block_terms(uint32_t id, std::size_t depth, std::size_t label_at,
                     std::size_t label_size) {
        if (id != 0) {
            for (uint32_t c = nodes_[id].first; c != none; c = nodes_[c].next) {
                if (nodes_[c].what != kind::gram_grp && nodes_[c].what != kind::gram) continue;
                label_at = labels_.size();
                grammar_of(c, labels_);
                label_size = labels_.size() - label_at;
                break;
            }
        }
        for (uint32_t c = nodes_[id].first; c != none; c = nodes_[c].next) {
            if (is_block(c) && depth < max_entry_depth)
                block_terms(c, depth + 1, label_at, label_size);
            else if (is_translation(c))
                translation_terms(c, label_at, label_size, 0);
        }
    }

    // The quotes of a translation, and of translations within it; its own
    // grammar, where it has some, replaces the label given.
    void translation_terms(uint32_t id, std::size_t label_at, std::size_t label_size,
                           std::size_t depth) {
        for (uint32_t c = nodes_[id].first; c != none; c = nodes_[c].next) {
            if (nodes_[c].what != kind::gram_grp && nodes_[c].what != kind::gram) continue;
            const std::size_t own_at = labels_.size();
            grammar_of(c, labels_);
            if (labels_.size() > own_at) {
                label_at = own_at;
                label_size = labels_.size() - own_at;
            }
            break;
        }
        for (uint32_t c = nodes_[id].first; c != none; c = nodes_[c].next) {
            const kind k = nodes_[c].what;
            if (is_translation(c) && depth < max_entry_depth) {
                translation_terms(c, label_at, label_size, depth + 1);
                continue;
            }
            if (k != kind::quote && k != kind::tr) continue;
            const std::size_t start = terms_.size();
            text_of(c, terms_);
            if (terms_.size() == start) continue;
            if (label_size > 0) terms_.append(" <").append(labels_, label_at, label_size) += '>';
            terms_ += '\n';
        }
    }

    // --- Headwords ---------------------------------------------------------

    std::size_t word_count() const { return word_ends_.size(); }
    std::string_view word(std::size_t i) const {
        const std::size_t start = i == 0 ? 0 : word_ends_[i - 1];
        return std::string_view(words_).substr(start, word_ends_[i] - start);
    }

    // Every <orth> of the entry's forms (and forms within them), each once,
    // the first max_words of them.
    void gather_words() {
        words_.clear();
        word_ends_.clear();
        extra_words_ = 0;
        for (uint32_t c = nodes_[0].first; c != none; c = nodes_[c].next)
            if (nodes_[c].what == kind::form) gather_words(c, 0);
    }
    void gather_words(uint32_t form, std::size_t depth) {
        for (uint32_t c = nodes_[form].first; c != none; c = nodes_[c].next) {
            if (nodes_[c].what == kind::form && depth < max_entry_depth) gather_words(c, depth + 1);
            if (nodes_[c].what != kind::orth) continue;
            const std::size_t start = words_.size();
            text_of(c, words_);
            const std::string_view added = std::string_view(words_).substr(start);
            bool repeated = added.empty();
            for (std::size_t i = 0; i < word_count() && !repeated; ++i) repeated = word(i) == added;
            if (!repeated && word_count() == max_words) {
                ++extra_words_;
                repeated = true;
            }
            if (repeated)
                words_.resize(start);
            else
                word_ends_.push_back(words_.size());
        }
    }

    // --- Layout ------------------------------------------------------------

    // The element's text, white space made single and trimmed, appended.
    void text_of(uint32_t id, std::string& out) const {
        const std::size_t start = out.size();
        append_text(id, out, start);
        trim_end(out, start);
    }
    void append_text(uint32_t id, std::string& out, std::size_t start) const {
        const node& n = nodes_[id];
        if (n.what == kind::text) {
            append_collapsed(out, start, std::string_view(text_).substr(n.at, n.size));
            return;
        }
        for (uint32_t c = n.first; c != none; c = nodes_[c].next) append_text(c, out, start);
    }

    // Text wrapped in `open` and `close`, or nothing when it is empty.
    void wrapped(uint32_t id, std::string& out, std::string_view open,
                 std::string_view close) const {
        const std::size_t start = out.size();
        out += open;
        const std::size_t text_start = out.size();
        text_of(id, out);
        if (out.size() == text_start)
            out.resize(start);
        else
            out += close;
    }

    bool is_block(uint32_t id) const {
        return nodes_[id].what == kind::sense || nodes_[id].what == kind::hom;
    }
    // A translation: P4's <trans>, a cit of type "trans", or one of no type
    // that holds no translation itself.
    bool is_translation(uint32_t id) const {
        const kind k = nodes_[id].what;
        if (k == kind::trans) return true;
        if (k != kind::cit) return false;
        const std::string_view type = type_of(id);
        if (type == "trans") return true;
        return type.empty() && !holds_translation(id);
    }
    bool holds_translation(uint32_t id) const {
        for (uint32_t c = nodes_[id].first; c != none; c = nodes_[c].next)
            if (is_translation(c)) return true;
        return false;
    }
    // An example, collocation or idiom: a cit of another type with
    // translations in it.
    bool is_example(uint32_t id) const {
        return nodes_[id].what == kind::cit && type_of(id) != "trans" && holds_translation(id);
    }

    void lay_out() {
        article_writer w(article_);
        // The first line: the spellings when there are several, their
        // pronunciation and grammar, then the entry's own grammar and labels.
        const bool spellings = word_count() > 1;
        bool after_form = false;
        for (uint32_t c = nodes_[0].first; c != none; c = nodes_[c].next) {
            const kind k = nodes_[c].what;
            if (k != kind::form && k != kind::gram_grp && k != kind::gram && k != kind::pron &&
                k != kind::usg)
                continue;
            piece_.clear();
            if (k == kind::form)
                form_piece(c, spellings, 0);
            else
                inline_piece(c);
            w.piece(piece_, after_form && k == kind::form ? ", " : " ");
            after_form = k == kind::form && !piece_.empty();
        }
        w.new_line();
        block_body(w, 0, 0, true);
    }

    // A form: its spellings joined by commas, pronunciations, grammar, and
    // the forms within it in parentheses. Labels within forms are left out.
    void form_piece(uint32_t form, bool spellings, std::size_t depth) {
        const std::size_t begin = piece_.size();
        bool after_orth = false;
        for (uint32_t c = nodes_[form].first; c != none; c = nodes_[c].next) {
            const kind k = nodes_[c].what;
            const std::size_t start = piece_.size();
            if (start > begin) piece_ += after_orth && k == kind::orth ? ", " : " ";
            const std::size_t text_start = piece_.size();
            if (k == kind::orth && spellings) {
                text_of(c, piece_);
            } else if (k == kind::form && depth < max_entry_depth) {
                piece_ += '(';
                form_piece(c, true, depth + 1);
                if (piece_.size() == text_start + 1)
                    piece_.resize(text_start);
                else
                    piece_ += ')';
            } else if (k == kind::pron || k == kind::gram_grp || k == kind::gram) {
                inline_piece(c);
            }
            if (piece_.size() == text_start) {
                piece_.resize(start);
                continue;
            }
            after_orth = k == kind::orth;
        }
    }

    // A sense, a homograph, or (at_root) the entry less its first line:
    // its pieces on lines in the order they come, the senses in it after a
    // number when there are two or more.
    void block_body(article_writer& w, uint32_t id, std::size_t depth, bool at_root) {
        std::size_t blocks = 0;
        for (uint32_t c = nodes_[id].first; c != none; c = nodes_[c].next) blocks += is_block(c);
        std::size_t number = 0;
        kind before = kind::text;  // the kind of the last piece on the line
        bool after_line = false;   // a line of its own was written last
        for (uint32_t c = nodes_[id].first; c != none; c = nodes_[c].next) {
            const kind k = nodes_[c].what;
            if (k == kind::text ||
                (at_root && (k == kind::form || k == kind::gram_grp || k == kind::gram ||
                             k == kind::pron || k == kind::usg)))
                continue;
            if (is_block(c)) {
                ++number;
                label_.clear();
                if (blocks > 1) sense_label(c, number, depth);
                if (!label_.empty()) w.new_line();
                w.label(label_);
                block_body(w, c, depth + (blocks > 1), false);
                after_line = true;
                before = kind::text;
                continue;
            }
            piece_.clear();
            if (is_example(c)) {
                example_piece(c);
            } else if (k == kind::xr) {
                xr_piece(c);
            } else {
                inline_piece(c);
                if (piece_.empty()) continue;
                if (after_line) w.new_line();
                after_line = false;
                const bool listed = (before == kind::cit && is_translation(c)) ||
                                    (before == kind::def && k == kind::def);
                w.piece(piece_, listed ? (k == kind::def ? "; " : ", ") : " ");
                before = is_translation(c) ? kind::cit : k;
                continue;
            }
            if (piece_.empty()) continue;
            w.new_line();
            w.piece(piece_);
            w.new_line();
            after_line = true;
            before = kind::text;
        }
    }

    // The number of a sense: its own n ("I", "2") or one counted, 1. at the
    // top, a) below, 1) further down.
    void sense_label(uint32_t id, std::size_t number, std::size_t depth) {
        const std::string_view own = n_of(id);
        if (!own.empty()) {
            append_collapsed(label_, 0, own);
            trim_end(label_, 0);
            if (!label_.empty() && label_.back() != '.' && label_.back() != ')') label_ += '.';
            if (!label_.empty()) return;
        }
        if (depth == 0) {
            label_ = std::to_string(number) + '.';
        } else if (depth == 1 && number <= 26) {
            label_ = std::string(1, static_cast<char>('a' + number - 1)) + ')';
        } else {
            label_ = std::to_string(number) + ')';
        }
    }

    // The texts of the children of `id` that `take` accepts by their kind,
    // joined by ", " between `open` and `close`, appended to piece_; nothing
    // when none of them has text.
    template <typename Take>
    void joined_children(uint32_t id, char open, char close, Take take) {
        const std::size_t start = piece_.size();
        piece_ += open;
        for (uint32_t c = nodes_[id].first; c != none; c = nodes_[c].next) {
            if (!take(nodes_[c].what)) continue;
            const std::size_t before = piece_.size();
            if (before > start + 1) piece_ += ", ";
            const std::size_t item = piece_.size();
            text_of(c, piece_);
            if (piece_.size() == item) piece_.resize(before);
        }
        if (piece_.size() == start + 1)
            piece_.resize(start);
        else
            piece_ += close;
    }

    // What stands on a sense's line, appended to piece_.
    void inline_piece(uint32_t id) {
        const node& n = nodes_[id];
        switch (n.what) {
            case kind::gram_grp:
                // Its grammar elements (and any loose text) joined by commas.
                joined_children(id, '<', '>', [](kind) { return true; });
                break;
            case kind::gram:
                wrapped(id, piece_, "<", ">");
                break;
            case kind::usg:
                wrapped(id, piece_, "[", "]");
                break;
            case kind::note:
                wrapped(id, piece_, "(", ")");
                break;
            case kind::pron: {
                const std::size_t start = piece_.size();
                text_of(id, piece_);
                const char first = piece_.size() > start ? piece_[start] : '/';
                if (first != '/' && first != '[') {
                    piece_.insert(start, 1, '/');
                    piece_ += '/';
                }
                break;
            }
            case kind::cit:
            case kind::trans:
                if (is_translation(id)) {
                    translation_piece(id);
                } else {
                    wrapped(id, piece_, "(", ")");  // an abbreviation, an inflected form
                }
                break;
            case kind::text:
                break;
            default:
                text_of(id, piece_);
        }
    }

    // A translation: its quotes joined by commas, with their grammar, labels
    // and notes.
    void translation_piece(uint32_t id) {
        const std::size_t begin = piece_.size();
        bool after_quote = false;
        for (uint32_t c = nodes_[id].first; c != none; c = nodes_[c].next) {
            const kind k = nodes_[c].what;
            if (k == kind::text) continue;
            const std::size_t start = piece_.size();
            const bool quote = k == kind::quote || k == kind::tr;
            if (start > begin) piece_ += after_quote && quote ? ", " : " ";
            const std::size_t text_start = piece_.size();
            if (quote)
                text_of(c, piece_);
            else if (is_translation(c))
                translation_piece(c);
            else
                inline_piece(c);
            if (piece_.size() == text_start) {
                piece_.resize(start);
                continue;
            }
            after_quote = quote;
        }
    }

    // "quote, quote" [label] (note) - translation, translation
    void example_piece(uint32_t id) {
        const std::size_t begin = piece_.size();
        joined_children(id, '"', '"', [](kind k) { return k == kind::quote || k == kind::orth; });
        bool translated = false;
        for (uint32_t c = nodes_[id].first; c != none; c = nodes_[c].next) {
            const kind k = nodes_[c].what;
            if (k == kind::text || k == kind::quote || k == kind::orth) continue;
            const bool translation = is_translation(c);
            const std::size_t before = piece_.size();
            if (before > begin) piece_ += translation ? (translated ? ", " : " - ") : " ";
            const std::size_t item = piece_.size();
            if (translation)
                translation_piece(c);
            else
                inline_piece(c);
            if (piece_.size() == item) {
                piece_.resize(before);
                continue;
            }
            translated = translated || translation;
        }
    }

    // See also: a, b  (Synonyms:, Antonyms: by its type or its refs' type)
    void xr_piece(uint32_t id) {
        std::string_view type = type_of(id);
        std::size_t refs = 0;
        for (uint32_t c = nodes_[id].first; c != none; c = nodes_[c].next) {
            if (nodes_[c].what != kind::ref) continue;
            if (type.empty()) type = type_of(c);
            ++refs;
        }
        const bool several = refs > 1;
        piece_ = type == "syn"   ? (several ? "Synonyms: " : "Synonym: ")
                 : type == "ant" ? (several ? "Antonyms: " : "Antonym: ")
                                 : "See also: ";
        const std::size_t start = piece_.size();
        if (refs == 0) {
            text_of(id, piece_);
        } else {
            for (uint32_t c = nodes_[id].first; c != none; c = nodes_[c].next) {
                if (nodes_[c].what != kind::ref) continue;
                const std::size_t before = piece_.size();
                if (before > start) piece_ += ", ";
                const std::size_t item = piece_.size();
                text_of(c, piece_);
                if (piece_.size() == item) piece_.resize(before);
            }
        }
        if (piece_.size() == start) piece_.clear();
    }

    entry_sink& sink_;
    included_files included_;
    std::string title_;
    bool title_taken_ = false;
    // The entry being read: its elements and text, the path of open elements.
    std::vector<node> nodes_;
    std::string text_;
    std::vector<uint32_t> path_;
    // Its headwords, one after the other, and where each ends.
    std::string words_;
    std::vector<std::size_t> word_ends_;
    std::size_t extra_words_ = 0;
    std::string article_, piece_, label_;
    // Its terms, their grammar labels and the entry's grammar, for a sink that wants them.
    std::string terms_, labels_, grammar_;
};

}  // namespace

std::string read_tei(reader_input& input, entry_sink& sink) {
    tei_reader reader(input.path, sink);
    reader.read_file(input.path, *input.text, 0);
    return reader.title();
}

// A TEI root or namespace near the start (the files FreeDict includes are
// <div>s in the TEI namespace).
bool looks_like_tei(std::string_view sample, bool) {
    const std::string_view head = sample.substr(0, 4096);
    if (head.find("http://www.tei-c.org/ns/1.0") != std::string_view::npos) return true;
    if (head.find("<!DOCTYPE TEI") != std::string_view::npos) return true;
    for (std::size_t at = head.find("<TEI"); at != std::string_view::npos;
         at = head.find("<TEI", at + 1)) {
        const char next = at + 4 < head.size() ? head[at + 4] : '\0';
        if (next == '>' || next == '.' || is_xml_space(next)) return true;
    }
    return false;
}

}  // namespace lexaro::import
