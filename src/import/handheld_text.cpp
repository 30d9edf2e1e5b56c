#include "import/handheld_text.h"

#include "import/case_folding.h"
#include "import/clean_up.h"

namespace lexaro::import {

namespace {

bool is_ascii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

handheld_text::handheld_text(bool fold_case, charset_encoder* encoder)
    : fold_case_(fold_case), encoder_(encoder) {}

void handheld_text::apply(std::string& word, std::string& translation) {
    if (fold_case_ && fold_case(word, scratch_)) {
        // The dictionary's own spelling starts the translation, so that the
        // handheld still shows it.
        translation.insert(0, translation.empty() ? word : word + ": ");
        word.swap(scratch_);
        ++counts_.folded;
    }
    if (encoder_ == nullptr) {
        counts_.non_ascii = counts_.non_ascii || !is_ascii(word) || !is_ascii(translation);
        return;
    }
    const uint64_t before = encoder_->transliterated() + encoder_->replaced();
    scratch_.clear();
    encoder_->encode(translation, scratch_);
    translation.swap(scratch_);
    scratch_.clear();
    encoder_->encode(word, scratch_);
    if (encoder_->transliterated() + encoder_->replaced() != before) {
        if (counts_.changed_words++ < changed_words_kept)
            counts_.first_changed.push_back(escape_invalid_utf8(cut_at_character(word, 80)));
    }
    word.swap(scratch_);
}

std::string handheld_text::title(std::string_view title, std::size_t max_size,
                                 std::size_t& original_size) {
    if (encoder_ == nullptr) {
        original_size = title.size();
        return std::string(cut_at_character(title, max_size));
    }
    // Cut the text by whole characters until its conversion fits.
    std::string_view source = cut_at_character(title, max_size * 4);
    std::string converted;
    encoder_->encode(source, converted);
    original_size = source.size() < title.size() ? title.size() : converted.size();
    while (converted.size() > max_size) {
        source = cut_at_character(source, source.size() - 1);
        converted.clear();
        encoder_->encode(source, converted);
    }
    return converted;
}

}  // namespace lexaro::import
