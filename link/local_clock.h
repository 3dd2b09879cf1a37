#pragma once
// The computer's local date and time, through one seam so that tests can fix it.

#include <functional>

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

// Replaces the clock for tests; an empty function restores the real one.
void setLocalClock(std::function<LocalDateTime()> clock);

} // namespace orv
