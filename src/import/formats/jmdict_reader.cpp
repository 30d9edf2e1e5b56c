// JMdict and JMnedict, the Japanese dictionaries of the Electronic Dictionary
// Research and Development Group, as XML (also gzipped):
//
//   <!DOCTYPE JMdict [ ... <!ENTITY n "noun (common) (futsuumeishi)"> ... ]>
//   <JMdict><entry><ent_seq>1000220</ent_seq>
//     <k_ele><keb>明白</keb></k_ele>
//     <r_ele><reb>めいはく</reb></r_ele>
//     <sense><pos>&adj-na;</pos><gloss>obvious</gloss><gloss>clear</gloss></sense>
//     <sense><gloss xml:lang="ger">klar</gloss></sense>
//   </entry></JMdict>
//
// Every written form (keb) and every reading (reb) that is not also a written
// form is a word. Its article starts with a line that names the entry's other
// forms ("明白 【めいはく】", "めいはく (明白)"), then the senses that apply to
// it (stagk, stagr), numbered when there are two or more, in the language that
// --translations names (English by default):
//
//   1. (adj-na) obvious; clear; lit. plain [s_inf; see 明らか; ant. 曖昧]
//
// The coded values (part of speech, field, misc, dialect, the notes on forms
// and JMnedict's name types) are entities that the file's own document type
// declares: they are shown by their names, the dictionary's abbreviations,
// as EDICT shows them. Any other reference to a declared entity is expanded,
// but only entities whose value is plain text: one whose value holds another
// reference or markup, an external one and a parameter entity never are, so
// no declaration can make the text grow more than its value's length for
// each reference. A search-only form is a word but is not shown among the
// forms.
//
// JMnedict (<JMnedict>) has <trans> instead of <sense>: its name types label
// each translation (<trans_det>). For a sink that wants the terms, the
// glosses of the senses that apply are the word's, each with its sense's
// parts of speech.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "import/formats/readers.h"
#include "import/formats/xml_scanner.h"
#include "import/markup_text.h"

namespace lexaro::import {

namespace {

// JMdict's document type is about 40 KiB.
constexpr std::size_t max_subset_size = 1 << 20;
// A declared value longer than this is no coded value of a dictionary: it
// is not expanded.
constexpr std::size_t max_entity_value = 1024;
constexpr std::size_t max_entities = 10000;
// The words taken from one entry, and the forms named in one header: each
// word is handed on with a whole article, so that an entry of thousands of
// forms cannot make the output quadratic. Real entries have at most a few
// dozen.
constexpr std::size_t max_words = 64;
constexpr std::size_t max_languages = 64;

// The languages of the glosses, as --translations may name them (ISO 639-1)
// and as the file names them (ISO 639-2/B).
constexpr std::array<std::array<std::string_view, 2>, 9> language_codes = {{
    {"en", "eng"},
    {"de", "ger"},
    {"fr", "fre"},
    {"ru", "rus"},
    {"nl", "dut"},
    {"hu", "hun"},
    {"es", "spa"},
    {"sl", "slv"},
    {"sv", "swe"},
}};

std::string file_language(std::string_view code) {
    if (code.empty()) return "eng";
    for (const auto& pair : language_codes)
        if (pair[0] == code) return std::string(pair[1]);
    return std::string(code);
}

// What an element of an entry is to the layout. Each element of these kinds
// becomes an item, in the order of the file.
enum class item_kind : uint8_t {
    keb,
    ke_inf,
    reb,
    re_nokanji,
    re_restr,
    re_inf,
    sense,  // a <sense> or a JMnedict <trans> begins
    stagk,
    stagr,
    pos,  // also JMnedict's name_type
    field,
    misc,
    dial,
    xref,
    ant,
    s_inf,
    gloss,  // also JMnedict's trans_det
    none,
};

struct element_kind {
    std::string_view name;
    item_kind kind;
};
constexpr element_kind elements[] = {
    {"keb", item_kind::keb},         {"ke_inf", item_kind::ke_inf},
    {"reb", item_kind::reb},         {"re_nokanji", item_kind::re_nokanji},
    {"re_restr", item_kind::re_restr}, {"re_inf", item_kind::re_inf},
    {"sense", item_kind::sense},     {"trans", item_kind::sense},
    {"stagk", item_kind::stagk},     {"stagr", item_kind::stagr},
    {"pos", item_kind::pos},         {"name_type", item_kind::pos},
    {"field", item_kind::field},     {"misc", item_kind::misc},
    {"dial", item_kind::dial},       {"xref", item_kind::xref},
    {"ant", item_kind::ant},         {"s_inf", item_kind::s_inf},
    {"gloss", item_kind::gloss},     {"trans_det", item_kind::gloss},
};

item_kind kind_of(std::string_view name) {
    for (const element_kind& e : elements)
        if (e.name == name) return e.kind;
    return item_kind::none;
}

// Coded values, shown by the name of their entity.
bool is_coded(item_kind k) {
    return k == item_kind::ke_inf || k == item_kind::re_inf || k == item_kind::pos ||
           k == item_kind::field || k == item_kind::misc || k == item_kind::dial;
}

enum class gloss_type : uint8_t { plain, literal, figurative };

struct item {
    item_kind kind;
    gloss_type type = gloss_type::plain;
    uint8_t language = 0;  // a gloss's, as an index into the languages seen
    bool search_only = false;  // a form whose note is sK or sk
    uint32_t at = 0, size = 0;  // its text in the entry's arena
};

// A declared entity: its value, or none when it is not plain text.
struct entity {
    std::string name;
    std::string value;
    bool plain = true;
};

class jmdict_reader {
public:
    jmdict_reader(reader_input& input, entry_sink& sink)
        : path_(input.path), text_(*input.text), sink_(sink),
          wanted_(file_language(input.options.translations)) {}

    std::string read() {
        xml_scanner x(path_, text_, sink_);
        x.keep_internal_subset(max_subset_size);
        if (!find_root(x)) return title_;
        for (;;) {
            const token t = x.next();
            if (t == token::done) break;
            if (t == token::start && x.name() == "entry" && !x.self_closing())
                while (read_entry(x)) {
                }
        }
        if (entries_ > 0 && wanted_entries_ == 0) {
            if (languages_.empty()) throw import_error(path_ + " has no glosses");
            std::string present;
            for (const std::string& language : languages_) {
                if (!present.empty()) present += ", ";
                present += language;
            }
            throw import_error(path_ + " has no glosses in " + wanted_ + "; its glosses are in " +
                               present);
        }
        return title_;
    }

private:
    // Reads up to the root element and the declarations before it; false
    // for a file with no elements.
    bool find_root(xml_scanner& x) {
        for (;;) {
            const token t = x.next();
            if (t == token::done) return false;
            if (t != token::start) continue;
            const std::string_view root = x.name();
            if (root != "JMdict" && root != "JMnedict")
                x.fail("the root element is <" + std::string(root) +
                       ">, not <JMdict> or <JMnedict>");
            title_ = std::string(root);
            if (wanted_ != "eng") title_ += " (" + wanted_ + ")";
            if (x.subset_cut())
                x.fail("the document type's declarations take more than 1 MiB");
            declare(x, x.internal_subset());
            return true;
        }
    }

    // --- The document type's entities ------------------------------------

    void declare(xml_scanner& x, std::string_view subset) {
        for (std::size_t at = subset.find("<!"); at != std::string_view::npos;
             at = subset.find("<!", at + 1)) {
            if (subset.substr(at, 4) == "<!--") {
                at = subset.find("-->", at + 4);
                if (at == std::string_view::npos) break;
                continue;
            }
            if (subset.substr(at, 8) != "<!ENTITY") continue;
            std::size_t i = at + 8;
            const auto skip_space = [&] {
                while (i < subset.size() && is_xml_space(subset[i])) ++i;
            };
            skip_space();
            if (i < subset.size() && subset[i] == '%') continue;  // a parameter entity
            const std::size_t name_at = i;
            while (i < subset.size() && !is_xml_space(subset[i]) && subset[i] != '"' &&
                   subset[i] != '\'')
                ++i;
            entity e;
            e.name = std::string(subset.substr(name_at, i - name_at));
            skip_space();
            if (e.name.empty() || i >= subset.size()) continue;
            if (subset[i] == '"' || subset[i] == '\'') {
                const std::size_t close = subset.find(subset[i], i + 1);
                if (close == std::string_view::npos) continue;
                std::string_view value = subset.substr(i + 1, close - i - 1);
                e.plain = value.size() <= max_entity_value &&
                          value.find_first_of("<%") == std::string_view::npos;
                // Character references in a value are characters; any other
                // reference makes the entity one that is never expanded.
                for (std::size_t amp = value.find('&'); e.plain && amp != std::string_view::npos;
                     amp = value.find('&')) {
                    e.value.append(value.substr(0, amp));
                    const std::size_t taken = value.substr(amp + 1, 1) == "#"
                                                  ? decode_entity(value, amp, e.value)
                                                  : 0;
                    e.plain = taken > 0;
                    value.remove_prefix(amp + std::max<std::size_t>(taken, 1));
                }
                if (e.plain) e.value.append(value);
            } else {
                e.plain = false;  // SYSTEM or PUBLIC: an external entity
            }
            if (entities_.size() == max_entities)
                x.fail("the document type declares more than " + std::to_string(max_entities) +
                       " entities");
            entities_.push_back(std::move(e));
        }
        // The first declaration of a name is the one that holds.
        std::stable_sort(entities_.begin(), entities_.end(),
                         [](const entity& a, const entity& b) { return a.name < b.name; });
        entities_.erase(std::unique(entities_.begin(), entities_.end(),
                                    [](const entity& a, const entity& b) { return a.name == b.name; }),
                        entities_.end());
    }

    const entity* find_entity(std::string_view name) const {
        const auto it = std::lower_bound(
            entities_.begin(), entities_.end(), name,
            [](const entity& e, std::string_view n) { return std::string_view(e.name) < n; });
        return it != entities_.end() && it->name == name ? &*it : nullptr;
    }

    // Appends text with its references resolved and its runs of white space
    // made one space: the five of XML, characters, and the declared entities
    // whose value is plain text. Any other is kept as written and counted.
    void append_text(xml_scanner& x, std::string_view text, bool raw) {
        if (raw) {
            append_collapsed(text);
            return;
        }
        for (;;) {
            const std::size_t amp = text.find('&');
            append_collapsed(text.substr(0, amp));
            if (amp == std::string_view::npos) return;
            text.remove_prefix(amp);
            const std::size_t semicolon = text.find(';');
            const std::string_view name =
                semicolon == std::string_view::npos ? std::string_view() : text.substr(1, semicolon - 1);
            if (const entity* e = name.empty() ? nullptr : find_entity(name)) {
                if (e->plain) {
                    append_collapsed(e->value);
                } else {
                    x.damaged("entities that are not plain text, kept as written");
                    append_collapsed(text.substr(0, semicolon + 1));
                }
                text.remove_prefix(semicolon + 1);
                continue;
            }
            scratch_.clear();
            const std::size_t taken = decode_entity(text, 0, scratch_);
            if (taken == 0) {
                x.damaged("unknown or broken references");
                scratch_ = "&";
            }
            append_collapsed(scratch_);
            text.remove_prefix(std::max<std::size_t>(taken, 1));
        }
    }

    void append_collapsed(std::string_view text) {
        for (const char c : text) {
            if (!is_xml_space(c))
                arena_ += c;
            else if (arena_.size() > open_at_ && arena_.back() != ' ')
                arena_ += ' ';
        }
    }

    // --- One entry ----------------------------------------------------------

    // Gathers the items of the entry whose start tag was the last token, to
    // its end tag, and hands its words on. True when it was ended by the
    // start of another entry, which is then the last token.
    bool read_entry(xml_scanner& x) {
        const uint64_t entry_line = x.line();
        std::size_t bytes = x.size();
        items_.clear();
        arena_.clear();
        coded_.clear();
        std::size_t open = none;  // the item whose element is open
        int depth = 0;            // elements open inside the entry
        int open_depth = 0;       // the depth of that item's element
        for (;;) {
            const token t = x.next();
            if (t == token::done)
                x.fail("the file ends inside the <entry> begun at line " +
                       std::to_string(entry_line));
            bytes += x.size();
            if (bytes > max_raw_size) return skip_large_entry(x, bytes);
            if (t == token::text) {
                if (open != none) {
                    if (is_coded(items_[open].kind)) coded_.append(x.text());
                    append_text(x, x.text(), x.raw());
                }
                continue;
            }
            const std::string_view name = x.name();
            if (t == token::start) {
                if (name == "entry") {
                    x.damaged("entries not closed before the next");
                    finish(x, entry_line);
                    return true;
                }
                if (x.self_closing()) {
                    if (name == "re_nokanji") add_item(x, item_kind::re_nokanji);
                    continue;
                }
                ++depth;
                if (open != none) continue;  // <pri> in a gloss: its text is the gloss's
                const item_kind kind = kind_of(name);
                if (kind == item_kind::none) continue;
                add_item(x, kind);
                if (kind == item_kind::sense || kind == item_kind::re_nokanji) continue;
                open = items_.size() - 1;
                open_depth = depth;
                open_at_ = arena_.size();
                continue;
            }
            if (name == "entry") break;
            if (open != none && depth == open_depth) {
                close_item(items_[open]);
                open = none;
            }
            if (depth > 0) --depth;
        }
        if (open != none) x.damaged("elements not closed");
        finish(x, entry_line);
        return false;
    }

    void add_item(xml_scanner& x, item_kind kind) {
        item i;
        i.kind = kind;
        i.at = static_cast<uint32_t>(arena_.size());
        if (kind == item_kind::gloss) {
            const std::string_view type = x.attribute("g_type");
            i.type = type == "lit"   ? gloss_type::literal
                     : type == "fig" ? gloss_type::figurative
                                     : gloss_type::plain;
            i.language = language_index(x, x.attribute("xml:lang"));
        }
        items_.push_back(i);
        coded_.clear();
    }

    // Ends an item's text: trailing white space off, and a coded value made
    // the name of its entity.
    void close_item(item& i) {
        while (arena_.size() > i.at && arena_.back() == ' ') arena_.pop_back();
        if (is_coded(i.kind)) {
            std::string_view raw = coded_;
            while (!raw.empty() && is_xml_space(raw.front())) raw.remove_prefix(1);
            while (!raw.empty() && is_xml_space(raw.back())) raw.remove_suffix(1);
            if (raw.size() > 2 && raw.front() == '&' && raw.back() == ';' &&
                raw.find_first_of("&;", 1) == raw.size() - 1 &&
                find_entity(raw.substr(1, raw.size() - 2)) != nullptr) {
                arena_.resize(i.at);
                arena_.append(raw.substr(1, raw.size() - 2));
            }
            const std::string_view value = std::string_view(arena_).substr(i.at);
            i.search_only = value == "sK" || value == "sk";
        }
        i.size = static_cast<uint32_t>(arena_.size() - i.at);
    }

    uint8_t language_index(xml_scanner& x, std::string_view code) {
        const std::string language = code.empty() ? std::string("eng") : std::string(code);
        for (std::size_t i = 0; i < languages_.size(); ++i)
            if (languages_[i] == language) return static_cast<uint8_t>(i);
        if (languages_.size() == max_languages)
            x.fail("glosses in more than " + std::to_string(max_languages) + " languages");
        languages_.push_back(language);
        if (language == wanted_) wanted_index_ = static_cast<uint8_t>(languages_.size() - 1);
        return static_cast<uint8_t>(languages_.size() - 1);
    }

    // An entry larger than any block: read past, counted, never held. True
    // when it was ended by the start of another entry.
    bool skip_large_entry(xml_scanner& x, std::size_t bytes) {
        std::string first;
        for (const item& i : items_)
            if ((i.kind == item_kind::keb || i.kind == item_kind::reb) && i.size > 0) {
                first = text(i);
                break;
            }
        const bool another = x.skip_rest_of_entry(bytes);
        ++entries_;
        sink_.too_large(first, bytes);
        return another;
    }

    std::string_view text(const item& i) const {
        return std::string_view(arena_).substr(i.at, i.size);
    }

    // --- Words and articles -----------------------------------------------

    // A written form or a reading, with the items that follow it up to the
    // next form: its notes and, for a reading, its restrictions.
    struct form {
        std::size_t item;
        std::size_t end;  // the first item after its notes
        bool search_only = false;
        bool no_kanji = false;
    };

    void finish(xml_scanner& x, uint64_t entry_line) {
        ++entries_;
        kanji_.clear();
        readings_.clear();
        senses_.clear();
        for (std::size_t i = 0; i < items_.size(); ++i) {
            const item_kind k = items_[i].kind;
            if (k == item_kind::keb || k == item_kind::reb) {
                if (items_[i].size == 0) {
                    sink_.skipped(k == item_kind::keb ? "empty <keb>" : "empty <reb>", path_,
                                  entry_line);
                    continue;
                }
                (k == item_kind::keb ? kanji_ : readings_).push_back({i, i + 1});
            } else if (k == item_kind::sense) {
                senses_.push_back(i);
            } else if (!kanji_.empty() || !readings_.empty()) {
                form& last = last_form();
                if (last.end == i) {
                    last.end = i + 1;
                    last.search_only = last.search_only || items_[i].search_only;
                    last.no_kanji = last.no_kanji || k == item_kind::re_nokanji;
                }
            }
        }
        if (readings_.empty() || senses_.empty()) {
            sink_.skipped(readings_.empty() ? "entries with no reading" : "entries with no sense",
                          path_, entry_line);
            return;
        }
        check_names(x, entry_line);
        // The senses in the language wanted, each with the part of speech it
        // has or that the one before it in that language had.
        chosen_.clear();
        std::size_t last_pos = none;
        for (const std::size_t s : senses_) {
            const std::size_t end = sense_end(s);
            bool has_gloss = false, has_pos = false;
            for (std::size_t i = s + 1; i < end; ++i) {
                has_gloss = has_gloss || (items_[i].kind == item_kind::gloss &&
                                          items_[i].language == wanted_index_ &&
                                          wanted_index_ != no_language && items_[i].size > 0);
                has_pos = has_pos || items_[i].kind == item_kind::pos;
            }
            if (!has_gloss) continue;
            if (has_pos) last_pos = s;
            chosen_.push_back({s, end, has_pos ? s : last_pos});
        }
        if (chosen_.empty()) {
            sink_.skipped("entries with no gloss in " + wanted_, path_, entry_line);
            return;
        }
        ++wanted_entries_;
        std::size_t words = 0;
        for (std::size_t k = 0; k < kanji_.size(); ++k) {
            if (words++ == max_words) break;
            add_word(kanji_[k], true, entry_line);
        }
        for (std::size_t r = 0; r < readings_.size(); ++r) {
            if (is_written_form(text(items_[readings_[r].item]))) continue;
            if (words++ == max_words) break;
            add_word(readings_[r], false, entry_line);
        }
        if (words > max_words)
            x.damaged("entries with more than 64 forms, the rest left out");
    }

    form& last_form() {
        // The later of the last written form and the last reading.
        if (readings_.empty()) return kanji_.back();
        if (kanji_.empty()) return readings_.back();
        return kanji_.back().item > readings_.back().item ? kanji_.back() : readings_.back();
    }

    std::size_t sense_end(std::size_t s) const {
        std::size_t end = s + 1;
        while (end < items_.size() && items_[end].kind != item_kind::sense &&
               items_[end].kind != item_kind::keb && items_[end].kind != item_kind::reb)
            ++end;
        return end;
    }

    bool is_written_form(std::string_view t) const {
        for (const form& k : kanji_)
            if (text(items_[k.item]) == t) return true;
        return false;
    }
    bool is_reading(std::string_view t) const {
        for (const form& r : readings_)
            if (text(items_[r.item]) == t) return true;
        return false;
    }

    // Restrictions that name a form the entry does not have are left out of
    // account, and counted.
    void check_names(xml_scanner& x, uint64_t entry_line) {
        (void)x;
        for (item& i : items_) {
            const bool names_kanji = i.kind == item_kind::re_restr || i.kind == item_kind::stagk;
            if (!names_kanji && i.kind != item_kind::stagr) continue;
            const std::string_view t = text(i);
            if (names_kanji ? is_written_form(t) : is_reading(t)) continue;
            sink_.damaged("restrictions to forms the entry does not have", path_, entry_line);
            i.kind = item_kind::none;
        }
    }

    // Whether reading r goes with written form k.
    bool pairs(const form& r, const form& k) const {
        if (r.no_kanji) return false;
        bool restricted = false;
        for (std::size_t i = r.item + 1; i < r.end; ++i) {
            if (items_[i].kind != item_kind::re_restr) continue;
            if (text(items_[i]) == text(items_[k.item])) return true;
            restricted = true;
        }
        return !restricted;
    }

    // Whether the sense from s to end applies to the word: its stagk and
    // stagr restrictions, if any, name the word or a form it goes with.
    bool applies(std::size_t s, std::size_t end, const form& word, bool written) const {
        bool by_kanji = false, kanji_match = false, by_reading = false, reading_match = false;
        for (std::size_t i = s + 1; i < end; ++i) {
            const item_kind k = items_[i].kind;
            if (k != item_kind::stagk && k != item_kind::stagr) continue;
            const std::string_view named = text(items_[i]);
            const bool matches = written ? (k == item_kind::stagk ? named == word_text(word)
                                                                  : reads_as(word, named))
                                         : (k == item_kind::stagr ? named == word_text(word)
                                                                  : written_as(word, named));
            (k == item_kind::stagk ? by_kanji : by_reading) = true;
            (k == item_kind::stagk ? kanji_match : reading_match) |= matches;
        }
        return (!by_kanji || kanji_match) && (!by_reading || reading_match);
    }

    std::string_view word_text(const form& f) const { return text(items_[f.item]); }

    // Whether written form k has the reading named.
    bool reads_as(const form& k, std::string_view reading) const {
        for (const form& r : readings_)
            if (word_text(r) == reading && pairs(r, k)) return true;
        return false;
    }
    // Whether reading r is one of the written form named.
    bool written_as(const form& r, std::string_view written) const {
        for (const form& k : kanji_)
            if (word_text(k) == written && pairs(r, k)) return true;
        return false;
    }

    void add_word(const form& word, bool written, uint64_t entry_line) {
        article_.clear();
        header(word, written);
        std::size_t applying = 0;
        for (const chosen_sense& c : chosen_) applying += applies(c.sense, c.end, word, written);
        std::size_t number = 0;
        for (const chosen_sense& c : chosen_) {
            if (!applies(c.sense, c.end, word, written)) continue;
            article_ += '\n';
            if (applying > 1) article_ += std::to_string(++number) + ". ";
            sense(c);
        }
        if (applying == 0) {
            sink_.skipped("words no sense applies to", path_, entry_line);
            return;
        }
        raw_entry entry{word_text(word), article_, markup::plain};
        if (sink_.wants_terms()) {
            // The glosses of the senses that apply are the word's terms,
            // each with its sense's parts of speech: "obvious <adj-na>".
            terms_.clear();
            for (const chosen_sense& c : chosen_) {
                if (!applies(c.sense, c.end, word, written)) continue;
                pos_.clear();
                if (c.pos_from != none) {
                    for (std::size_t i = c.pos_from + 1; i < sense_end(c.pos_from); ++i) {
                        if (items_[i].kind != item_kind::pos || items_[i].size == 0) continue;
                        if (!pos_.empty()) pos_ += ", ";
                        pos_.append(text(items_[i]));
                    }
                }
                for (std::size_t i = c.sense + 1; i < c.end; ++i) {
                    const item& g = items_[i];
                    if (g.kind != item_kind::gloss || g.language != wanted_index_ || g.size == 0)
                        continue;
                    terms_.append(text(g));
                    if (!pos_.empty()) terms_.append(" <").append(pos_).append(">");
                    terms_ += '\n';
                }
            }
            entry.has_terms = true;
            entry.terms = terms_;
        }
        sink_.add(entry);
    }

    // The first line: the form that is shown for the word (a search-only
    // form shows the entry's first other form of its kind) with its notes,
    // and the forms it goes with: "明白 【めいはく】", "めいはく (明白)".
    void header(const form& word, bool written) {
        const std::vector<form>& own = written ? kanji_ : readings_;
        const form* shown = &word;
        if (word.search_only)
            for (const form& f : own)
                if (!f.search_only) {
                    shown = &f;
                    break;
                }
        append_form(*shown);
        const std::size_t start = article_.size();
        std::size_t listed = 0;
        for (const form& other : written ? readings_ : kanji_) {
            if (other.search_only || listed == max_words) continue;
            if (!(written ? pairs(other, *shown) : pairs(*shown, other))) continue;
            article_ += listed++ == 0 ? (written ? " \xE3\x80\x90" : " (") : "\xE3\x83\xBB";
            article_.append(word_text(other));
        }
        if (article_.size() > start) article_ += written ? "\xE3\x80\x91" : ")";
    }

    void append_form(const form& f) {
        article_.append(word_text(f));
        std::size_t notes = 0;
        for (std::size_t i = f.item + 1; i < f.end; ++i) {
            const item& n = items_[i];
            if ((n.kind != item_kind::ke_inf && n.kind != item_kind::re_inf) || n.search_only ||
                n.size == 0)
                continue;
            article_ += notes++ == 0 ? " (" : ", ";
            article_.append(text(n));
        }
        if (notes > 0) article_ += ')';
    }

    struct chosen_sense {
        std::size_t sense, end;
        std::size_t pos_from;  // the sense whose parts of speech it has, or none
    };

    // "(pos, field, misc, dial) gloss; lit. gloss [s_inf; see XREF; ant. ANT]"
    void sense(const chosen_sense& c) {
        std::size_t labels = 0;
        const auto label = [&](std::size_t from, std::size_t end, item_kind kind) {
            for (std::size_t i = from + 1; i < end; ++i) {
                if (items_[i].kind != kind || items_[i].size == 0) continue;
                article_ += labels++ == 0 ? "(" : ", ";
                article_.append(text(items_[i]));
            }
        };
        if (c.pos_from != none) label(c.pos_from, sense_end(c.pos_from), item_kind::pos);
        for (const item_kind kind : {item_kind::field, item_kind::misc, item_kind::dial})
            label(c.sense, c.end, kind);
        if (labels > 0) article_ += ") ";
        std::size_t glosses = 0;
        for (std::size_t i = c.sense + 1; i < c.end; ++i) {
            const item& g = items_[i];
            if (g.kind != item_kind::gloss || g.language != wanted_index_ || g.size == 0) continue;
            if (glosses++ > 0) article_ += "; ";
            if (g.type == gloss_type::literal) article_ += "lit. ";
            if (g.type == gloss_type::figurative) article_ += "fig. ";
            article_.append(text(g));
        }
        std::size_t notes = 0;
        for (std::size_t i = c.sense + 1; i < c.end; ++i) {
            const item& n = items_[i];
            const std::string_view before = n.kind == item_kind::xref  ? "see "
                                             : n.kind == item_kind::ant ? "ant. "
                                                                        : "";
            if ((n.kind != item_kind::s_inf && before.empty()) || n.size == 0) continue;
            article_ += notes++ == 0 ? " [" : "; ";
            article_.append(before);
            article_.append(text(n));
        }
        if (notes > 0) article_ += ']';
    }

    static constexpr std::size_t none = SIZE_MAX;
    static constexpr uint8_t no_language = UINT8_MAX;

    const std::string& path_;
    text_input& text_;
    entry_sink& sink_;
    const std::string wanted_;
    uint8_t wanted_index_ = no_language;
    std::string title_;
    std::vector<entity> entities_;
    std::vector<std::string> languages_;
    uint64_t entries_ = 0, wanted_entries_ = 0;
    // The entry being read: its items and their texts.
    std::vector<item> items_;
    std::string arena_;
    std::size_t open_at_ = 0;  // where the open item's text begins
    std::string coded_;        // the open item's text as written
    std::string scratch_;
    std::vector<form> kanji_, readings_;
    std::vector<std::size_t> senses_;
    std::vector<chosen_sense> chosen_;
    std::string article_, terms_, pos_;
};

}  // namespace

std::string read_jmdict(reader_input& input, entry_sink& sink) {
    return jmdict_reader(input, sink).read();
}

// The document type or root element of JMdict or JMnedict near the start.
bool looks_like_jmdict(std::string_view sample, bool) {
    const std::string_view head = sample.substr(0, 4096);
    for (const std::string_view mark :
         {"<!DOCTYPE JMdict", "<!DOCTYPE JMnedict", "<JMdict>", "<JMnedict>"})
        if (head.find(mark) != std::string_view::npos) return true;
    return false;
}

}  // namespace lexaro::import
