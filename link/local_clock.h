#pragma once
// The computer's local date and time, through one seam so that tests can fix it.

#include <cstdint>
#include <functional>
#include <optional>

namespace orv {

struct LocalDateTime
{
    int year = 0;   // e.g. 2026
    int month = 0;  // 1..12
    int day = 0;    // 1..31
    int hour = 0;   // 0..23
    int minute = 0; // 0..59
    int second = 0; // 0..59
};

LocalDateTime localNow();

// Seconds since 1970-01-01 00:00 of a date and time as a clock shows it (no time zone involved:
// two such values differ by how far apart the clocks are); nullopt when it is no date or time.
std::optional<std::int64_t> wallClockSeconds(const LocalDateTime& t);

// Replaces the clock for tests; an empty function restores the real one.
void setLocalClock(std::function<LocalDateTime()> clock);

} // namespace orv
