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

class decompressor {
public:
    decompressor(std::string_view in, std::size_t max_size, std::string& out)
        : in_(reinterpret_cast<const uint8_t*>(in.data())),
          in_size_(in.size()),
          max_size_(max_size),
          out_(out) {}

    lzo_result run() {
        out_.clear();
        // Room for a few times the input at first; more as it is needed.
        out_.resize(std::min(max_size_, in_size_ * 4 + 256));
        const lzo_result result = instructions();
        out_.resize(made_);
        return result;
    }

private:
    lzo_result instructions() {
        unsigned state = 0;
        if (in_size_ > 0 && in_[0] > first_literal_base) {
            const std::size_t count = in_[0] - first_literal_base;
            at_ = 1;
            if (lzo_result r = literals(count); r != lzo_result::ok) return r;
            state =
                count < after_long_literals ? static_cast<unsigned>(count) : after_long_literals;
        }
        for (;;) {
            if (at_ >= in_size_) return lzo_result::input_ends_early;
            const unsigned op = in_[at_++];
            std::size_t length = 0, distance = 0;
            unsigned trailing = 0;  // the literals that follow the copy (0 to 3)
            lzo_result r = lzo_result::ok;
            if (op < far_copy_from) {
                if (state == 0) {
                    // 0000LLLL: a run of 4 or more literals.
                    if ((r = run_length(op, 15, length)) != lzo_result::ok) return r;
                    if ((r = literals(length + 3)) != lzo_result::ok) return r;
                    state = after_long_literals;
                    continue;
                }
                // 0000DDSS HHHHHHHH: 2 bytes up to 1 KiB back after 1 to 3
                // literals, 3 bytes 2 to 3 KiB back after a longer run.
                uint8_t high;
                if ((r = next_byte(high)) != lzo_result::ok) return r;
                distance = (std::size_t{high} << 2) + ((op >> 2) & 3) + 1;
                length = 2;
                if (state == after_long_literals) {
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
            if ((r = copy(distance, length)) != lzo_result::ok) return r;
            if ((r = literals(trailing)) != lzo_result::ok) return r;
            state = trailing;
        }
    }

    lzo_result next_byte(uint8_t& byte) {
        if (at_ >= in_size_) return lzo_result::input_ends_early;
        byte = in_[at_++];
        return lzo_result::ok;
    }

    lzo_result next_le16(uint16_t& value) {
        if (in_size_ - at_ < 2) return lzo_result::input_ends_early;
        value = static_cast<uint16_t>(in_[at_] | in_[at_ + 1] << 8);
        at_ += 2;
        return lzo_result::ok;
    }

    // The length in the instruction's low bits (mask); when they are zero,
    // the mask plus 255 for each zero byte that follows plus the first other
    // byte.
    lzo_result run_length(unsigned op, unsigned mask, std::size_t& length) {
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

    // Makes room for count more bytes of output.
    lzo_result room(std::size_t count) {
        if (count > max_size_ - made_) return lzo_result::output_too_large;
        if (count > out_.size() - made_)
            out_.resize(std::min(max_size_, std::max(made_ + count, 2 * out_.size())));
        return lzo_result::ok;
    }

    lzo_result literals(std::size_t count) {
        if (count == 0) return lzo_result::ok;
        if (count > in_size_ - at_) return lzo_result::input_ends_early;
        if (lzo_result r = room(count); r != lzo_result::ok) return r;
        std::memcpy(&out_[made_], in_ + at_, count);
        at_ += count;
        made_ += count;
        return lzo_result::ok;
    }

    lzo_result copy(std::size_t distance, std::size_t length) {
        if (distance > made_) return lzo_result::refers_before_start;
        if (lzo_result r = room(length); r != lzo_result::ok) return r;
        char* to = &out_[made_];
        const char* from = to - distance;
        if (distance >= length) {
            std::memcpy(to, from, length);
        } else {
            for (std::size_t i = 0; i < length; ++i) to[i] = from[i];  // overlaps: a repeat
        }
        made_ += length;
        return lzo_result::ok;
    }

    const uint8_t* in_;
    std::size_t in_size_;
    std::size_t at_ = 0;
    std::size_t max_size_;
    std::string& out_;
    std::size_t made_ = 0;
};

}  // namespace

lzo_result lzo1x_decompress(std::string_view in, std::size_t max_size, std::string& out) {
    return decompressor(in, max_size, out).run();
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
