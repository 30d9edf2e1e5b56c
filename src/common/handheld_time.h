// The handheld counts time in seconds since 1904-01-01 00:00:00, in 32 bits.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace lexaro {

// Host seconds since 1970-01-01 UTC to handheld time, modulo 2^32.
uint32_t handheld_time(std::time_t unix_seconds);

// The current moment in handheld time, from one reading of the clock.
uint32_t handheld_time_now();

// A handheld time as "YYYY-MM-DD hh:mm:ss UTC", 1904 to 2040, computed
// without the C library's calendar, which on some systems knows no date
// before 1970.
std::string handheld_date(uint32_t handheld_seconds);

}  // namespace lexaro
