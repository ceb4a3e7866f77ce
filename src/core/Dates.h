// Calendar arithmetic on proleptic Gregorian dates.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace movik {

struct CivilDate
{
    int year = 0;
    int month = 0;
    int day = 0;
};

// Years 1 to 9999, real months and days (leap years included).
bool isValidDate(int year, int month, int day);
// Days since 1970-01-01 (negative before).
std::int64_t daysFromCivil(int year, int month, int day);
CivilDate civilFromDays(std::int64_t days);
// A valid date and time of day (UTC) in seconds since 1970; false, leaving
// seconds alone, for a date or time that does not exist.
bool secondsFromCivil(std::int64_t year, std::int64_t month, std::int64_t day, std::int64_t hour,
                      std::int64_t minute, std::int64_t second, std::int64_t& seconds);

// Now, in seconds since 1970-01-01 UTC.
std::int64_t secondsNow();

// Where a part that keeps time reads it: secondsNow, or a test's own clock.
using SecondsClock = std::function<std::int64_t()>;

// True for a compact time: exactly 14 decimal digits, "yyyymmddhhmmss".
// Two compact times compare in time order as texts.
bool isCompactTime(const std::string& value);

} // namespace movik
