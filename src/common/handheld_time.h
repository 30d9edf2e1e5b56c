// The handheld counts time in seconds since 1904-01-01 00:00:00, in 32 bits.
#pragma once

#include <cstdint>
#include <ctime>

namespace lexaro {

// Host seconds since 1970-01-01 UTC to handheld time, modulo 2^32.
uint32_t handheld_time(std::time_t unix_seconds);

// The current moment in handheld time, from one reading of the clock.
uint32_t handheld_time_now();

}  // namespace lexaro
