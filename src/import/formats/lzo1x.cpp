#include "import/formats/lzo1x.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace lexaro::import {

namespace {

// What the previous instruction left behind, which changes the meaning of
// an instruction byte below 16: no literals, 1 to 3 of them, or a run of 4
// or more.
constexpr unsigned after_long_literals = 4;

// The first byte of a stream: above this, it stands for literals alone.
constexpr unsigned first_literal_base = 17;

// Instruction kinds, by their byte.
constexpr unsigned far_copy_from = 16;     // 0001HLLL: a copy 16 to 48 KiB back; also the end
constexpr unsigned middle_copy_from = 32;  // 001LLLLL: a copy up to 16 KiB back
constexpr unsigned near_copy_from = 64;    // 01LDDDSS and 1LLDDDSS: a copy up to 2 KiB back

constexpr std::size_t far_distance_base = 16384;  // also the end mark's distance
constexpr std::size_t after_long_literals_distance = 2049;

// The farthest back a copy reaches: 16384 + 16384 + 16383 bytes.
constexpr std::size_t history_size = 49151;

}  // namespace

lzo1x_stream::lzo1x_stream(std::string_view in, std::size_t max_size, std::size_t piece_size)
    : in_(reinterpret_cast<const uint8_t*>(in.data())),
      in_size_(in.size()),
      max_size_(max_size),
      piece_size_(std::max<std::size_t>(piece_size, 1)) {}

std::string_view lzo1x_stream::next() {
    if (result_ != lzo_result::ok || (ended_ && copy_left_ == 0 && literals_left_ == 0)) return {};
    // Room for the piece after what a copy may reach back to: when the
    // window has none left, its last history_size bytes move to its start
    // (at most once for every history_size bytes made, whatever the pieces).
    const std::size_t room = std::min(piece_size_, max_size_ - made_);
    if (filled_ + room > history_size + std::max(piece_size_, history_size) &&
        filled_ > history_size) {
        std::memmove(&window_[0], &window_[filled_ - history_size], history_size);
        filled_ = history_size;
    }
    const std::size_t start = filled_;
    if (window_.size() < start + room)
        window_.resize(start + std::min(room, std::max<std::size_t>(in_size_ * 4 + 256,
                                                                    window_.size() - start)));
    while (result_ == lzo_result::ok && filled_ - start < room) {
        if (copy_left_ == 0 && literals_left_ == 0) {
            if (ended_) break;
            result_ = instruction();
            continue;
        }
        if (window_.size() == filled_)
            window_.resize(std::min(start + room, filled_ + std::max<std::size_t>(filled_, 4096)));
        const std::size_t space = std::min(window_.size(), start + room) - filled_;
        char* to = &window_[filled_];
        if (copy_left_ > 0) {
            const std::size_t count = std::min(copy_left_, space);
            const char* from = to - copy_distance_;
            if (copy_distance_ >= count)
                std::memcpy(to, from, count);
            else
                for (std::size_t i = 0; i < count; ++i) to[i] = from[i];  // overlaps: a repeat
            copy_left_ -= count;
            filled_ += count;
            made_ += count;
        } else {
            const std::size_t count = std::min(literals_left_, space);
            std::memcpy(to, in_ + at_, count);
            at_ += count;
            literals_left_ -= count;
            filled_ += count;
            made_ += count;
        }
    }
    // A stream that makes exactly max_size bytes may still have its end mark to read.
    if (result_ == lzo_result::ok && copy_left_ == 0 && literals_left_ == 0 && !ended_ &&
        made_ == max_size_)
        result_ = instruction();
    return std::string_view(window_).substr(start, filled_ - start);
}

// Reads one instruction and sets what it makes; at the end mark, ended_.
lzo_result lzo1x_stream::instruction() {
    if (!started_) {
        started_ = true;
        if (in_size_ > 0 && in_[0] > first_literal_base) {
            const std::size_t count = in_[0] - first_literal_base;
            at_ = 1;
            state_ =
                count < after_long_literals ? static_cast<unsigned>(count) : after_long_literals;
            return set_literals(count);
        }
    }
    if (at_ >= in_size_) return lzo_result::input_ends_early;
    const unsigned op = in_[at_++];
    std::size_t length = 0, distance = 0;
    unsigned trailing = 0;  // the literals that follow the copy (0 to 3)
    lzo_result r = lzo_result::ok;
    if (op < far_copy_from) {
        if (state_ == 0) {
            // 0000LLLL: a run of 4 or more literals.
            if ((r = run_length(op, 15, length)) != lzo_result::ok) return r;
            state_ = after_long_literals;
            return set_literals(length + 3);
        }
        // 0000DDSS HHHHHHHH: 2 bytes up to 1 KiB back after 1 to 3
        // literals, 3 bytes 2 to 3 KiB back after a longer run.
        uint8_t high;
        if ((r = next_byte(high)) != lzo_result::ok) return r;
        distance = (std::size_t{high} << 2) + ((op >> 2) & 3) + 1;
        length = 2;
        if (state_ == after_long_literals) {
            distance += after_long_literals_distance - 1;
            length = 3;
        }
        trailing = op & 3;
    } else if (op < middle_copy_from) {
        if ((r = run_length(op, 7, length)) != lzo_result::ok) return r;
        length += 2;
        uint16_t low;
        if ((r = next_le16(low)) != lzo_result::ok) return r;
        distance = far_distance_base + (std::size_t{op & 8} << 11) + (low >> 2);
        if (distance == far_distance_base) {
            ended_ = true;
            return at_ == in_size_ ? lzo_result::ok : lzo_result::bytes_after_end;
        }
        trailing = low & 3;
    } else if (op < near_copy_from) {
        if ((r = run_length(op, 31, length)) != lzo_result::ok) return r;
        length += 2;
        uint16_t low;
        if ((r = next_le16(low)) != lzo_result::ok) return r;
        distance = (low >> 2) + 1;
        trailing = low & 3;
    } else {
        uint8_t high;
        if ((r = next_byte(high)) != lzo_result::ok) return r;
        distance = (std::size_t{high} << 3) + ((op >> 2) & 7) + 1;
        length = op < 128 ? 3 + ((op >> 5) & 1) : 5 + ((op >> 5) & 3);
        trailing = op & 3;
    }
    state_ = trailing;
    return set_copy(distance, length, trailing);
}

lzo_result lzo1x_stream::next_byte(uint8_t& byte) {
    if (at_ >= in_size_) return lzo_result::input_ends_early;
    byte = in_[at_++];
    return lzo_result::ok;
}

lzo_result lzo1x_stream::next_le16(uint16_t& value) {
    if (in_size_ - at_ < 2) return lzo_result::input_ends_early;
    value = static_cast<uint16_t>(in_[at_] | in_[at_ + 1] << 8);
    at_ += 2;
    return lzo_result::ok;
}

// The length in the instruction's low bits (mask); when they are zero, the
// mask plus 255 for each zero byte that follows plus the first other byte.
lzo_result lzo1x_stream::run_length(unsigned op, unsigned mask, std::size_t& length) {
    length = op & mask;
    if (length != 0) return lzo_result::ok;
    length = mask;
    while (at_ < in_size_ && in_[at_] == 0) {
        length += 255;
        ++at_;
        if (length > max_size_) return lzo_result::output_too_large;
    }
    if (at_ >= in_size_) return lzo_result::input_ends_early;
    length += in_[at_++];
    return lzo_result::ok;
}

// A copy of length bytes from distance back, then trailing literals: each
// checked against what was made and what may be, before any of it is made.
lzo_result lzo1x_stream::set_copy(std::size_t distance, std::size_t length, unsigned trailing) {
    if (distance > made_) return lzo_result::refers_before_start;
    if (length > max_size_ - made_) return lzo_result::output_too_large;
    if (trailing > in_size_ - at_) return lzo_result::input_ends_early;
    if (trailing > max_size_ - made_ - length) return lzo_result::output_too_large;
    copy_distance_ = distance;
    copy_left_ = length;
    literals_left_ = trailing;
    return lzo_result::ok;
}

lzo_result lzo1x_stream::set_literals(std::size_t count) {
    if (count > in_size_ - at_) return lzo_result::input_ends_early;
    if (count > max_size_ - made_) return lzo_result::output_too_large;
    literals_left_ = count;
    return lzo_result::ok;
}

lzo_result lzo1x_decompress(std::string_view in, std::size_t max_size, std::string& out) {
    out.clear();
    lzo1x_stream stream(in, max_size, std::size_t{1} << 20);
    for (std::string_view piece; !(piece = stream.next()).empty();) out.append(piece);
    return stream.result();
}

const char* lzo_problem(lzo_result result) {
    switch (result) {
        case lzo_result::ok:
            return "its LZO data are sound";
        case lzo_result::input_ends_early:
            return "its LZO data end early";
        case lzo_result::output_too_large:
            return "its LZO data make more bytes than its index says";
        case lzo_result::refers_before_start:
            return "its LZO data refer back past their first byte";
        case lzo_result::bytes_after_end:
            return "bytes follow the end of its LZO data";
    }
    return "its LZO data are damaged";
}

}  // namespace lexaro::import
