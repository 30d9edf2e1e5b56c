#include "common/handheld_time.h"

#include <cstdio>

#include "common/layout.h"

namespace lexaro {

uint32_t handheld_time(std::time_t unix_seconds) {
    // Unsigned arithmetic wraps modulo 2^32, which is what the field holds.
    return static_cast<uint32_t>(static_cast<uint64_t>(unix_seconds)) + handheld_epoch_offset;
}

uint32_t handheld_time_now() { return handheld_time(std::time(nullptr)); }

std::string handheld_date(uint32_t handheld_seconds) {
    // Days since 0000-03-01 of the proleptic Gregorian calendar, in 400-year
    // eras of 146097 days; starting the year in March puts the leap day last.
    constexpr uint32_t days_0000_03_01_to_1904_01_01 = 695361;
    const uint32_t days = handheld_seconds / 86400 + days_0000_03_01_to_1904_01_01;
    const uint32_t seconds = handheld_seconds % 86400;
    const uint32_t era = days / 146097, day_of_era = days % 146097;
    const uint32_t year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const uint32_t day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const uint32_t march_based_month = (5 * day_of_year + 2) / 153;
    const uint32_t day = day_of_year - (153 * march_based_month + 2) / 5 + 1;
    const uint32_t month = march_based_month < 10 ? march_based_month + 3 : march_based_month - 9;
    const uint32_t year = era * 400 + year_of_era + (month <= 2);
    char text[80];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u UTC", year, month, day,
                  seconds / 3600, seconds / 60 % 60, seconds % 60);
    return text;
}

}  // namespace lexaro
