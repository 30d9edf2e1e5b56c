// The articles of a dictionary whose index names each one by offset and
// length in a data file (dictd, StarDict), read in the order of the data.
// An article larger than max_raw_size is checked to be there and counted as
// too large for a block, never read; a range past the data is an error that
// names the article's word. Words that share an article read it once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/compressed_input.h"
#include "import/raw_entry.h"

namespace lexaro::import {

class article_source {
public:
    // where: what follows the word in an error (" in X.index"), or "".
    article_source(data_file& data, entry_sink& sink, std::string where)
        : data_(data), sink_(sink), where_(std::move(where)) {}

    // The article of `word`, valid until the next call; nothing when it is
    // too large for a block (the sink is told).
    std::optional<std::string_view> read(std::string_view word, uint64_t offset,
                                         uint64_t length) {
        try {
            if (length > max_raw_size) {
                held_ = false;  // checking may let go of the bytes held
                data_.check_range(offset, length);
                sink_.too_large(word, length);
                return std::nullopt;
            }
            if (!held_ || offset != offset_ || length != length_) {
                article_ = data_.read(offset, static_cast<std::size_t>(length));  // <= max_raw_size
                held_ = true;
                offset_ = offset;
                length_ = length;
            }
            return article_;
        } catch (const input_error& error) {
            throw import_error(std::string(error.what()) + ", the article of \"" +
                               std::string(word) + "\"" + where_);
        }
    }

private:
    data_file& data_;
    entry_sink& sink_;
    std::string where_;
    bool held_ = false;
    uint64_t offset_ = 0, length_ = 0;
    std::string_view article_;
};

}  // namespace lexaro::import
