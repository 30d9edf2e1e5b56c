#include "import/handheld_text.h"

#include "import/clean_up.h"
#include "import/entry_table.h"

namespace lexaro::import {

namespace {

bool is_ascii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

handheld_text::handheld_text(folding fold, charset_encoder* encoder)
    : fold_(fold), encoder_(encoder) {}

void handheld_text::fold(std::string& word, std::string& translation) {
    std::string_view folded = word;
    const bool lowered = fold_.lower_case && lower_case(folded, lowered_);
    if (lowered) folded = lowered_;
    unsigned scripts = 0;
    const bool unaccented = fold_.accents && without_accents(folded, unaccented_, scripts);
    if (unaccented) folded = unaccented_;
    // A word of combining marks alone stays as it is: an empty word could
    // not be typed at all.
    if (!(lowered || unaccented) || folded.empty()) return;
    counts_.lowered += lowered;
    counts_.unaccented += unaccented;
    for (std::size_t s = 0; s < script_count; ++s) counts_.unaccented_in[s] += scripts >> s & 1;
    // The dictionary's own spelling starts the translation, so that the
    // handheld still shows it.
    if (translation.empty())
        translation = word;
    else
        translation.insert(0, spelling_separator).insert(0, word);
    word.assign(folded);
    spelled_ = true;
}

bool handheld_text::apply(std::string& word, std::string& translation) {
    spelled_ = false;
    if (fold_.lower_case || fold_.accents) fold(word, translation);
    if (encoder_ == nullptr) {
        counts_.non_ascii = counts_.non_ascii || !is_ascii(word) || !is_ascii(translation);
        return true;
    }
    const uint64_t transliterated = encoder_->transliterated();
    const uint64_t replaced = encoder_->replaced();
    word_.clear();
    encoder_->encode(word, word_);
    if (encoder_->replaced() != replaced) {
        if (counts_.unwritable++ < changed_words_kept)
            counts_.first_unwritable.push_back(escape_invalid_utf8(cut_at_character(word, 80)));
        return false;
    }
    translation_.clear();
    encoder_->encode(translation, translation_);
    const uint64_t changes = encoder_->transliterated() - transliterated;
    const uint64_t marks = encoder_->replaced() - replaced;
    counts_.transliterated += changes;
    counts_.replaced += marks;
    if (changes + marks > 0 && counts_.changed_words++ < changed_words_kept)
        counts_.first_changed.push_back(escape_invalid_utf8(cut_at_character(word, 80)));
    word.swap(word_);
    translation.swap(translation_);
    return true;
}

std::string handheld_text::title(std::string_view title, std::size_t max_size,
                                 std::size_t& original_size) {
    if (encoder_ == nullptr) {
        original_size = title.size();
        return std::string(cut_at_character(title, max_size));
    }
    // Cut the text by whole characters until its conversion fits; only what
    // is written is counted.
    std::string_view source = cut_at_character(title, max_size * 4);
    std::string converted;
    uint64_t transliterated = 0, replaced = 0;
    const auto encode = [&] {
        converted.clear();
        transliterated = encoder_->transliterated();
        replaced = encoder_->replaced();
        encoder_->encode(source, converted);
    };
    encode();
    original_size = source.size() < title.size() ? title.size() : converted.size();
    while (converted.size() > max_size) {
        source = cut_at_character(source, source.size() - 1);
        encode();
    }
    counts_.transliterated += encoder_->transliterated() - transliterated;
    counts_.replaced += encoder_->replaced() - replaced;
    return converted;
}

}  // namespace lexaro::import
