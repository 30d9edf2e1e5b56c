#include "common/handheld_time.h"

#include "common/layout.h"

namespace lexaro {

uint32_t handheld_time(std::time_t unix_seconds) {
    // Unsigned arithmetic wraps modulo 2^32, which is what the field holds.
    return static_cast<uint32_t>(static_cast<uint64_t>(unix_seconds)) + handheld_epoch_offset;
}

uint32_t handheld_time_now() { return handheld_time(std::time(nullptr)); }

}  // namespace lexaro
