#include "link/local_clock.h"

#include <chrono>
#include <ctime>
#include <mutex>

namespace orv {
namespace {

std::mutex clockMutex;
std::function<LocalDateTime()> testClock;

LocalDateTime systemLocalTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#ifdef _WIN32
    localtime_s(&parts, &now);
#else
    localtime_r(&now, &parts);
#endif
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec};
}

} // namespace

LocalDateTime localNow()
{
    std::lock_guard lock(clockMutex);
    return testClock ? testClock() : systemLocalTime();
}

std::optional<std::int64_t> wallClockSeconds(const LocalDateTime& t)
{
    using namespace std::chrono;
    const year_month_day date{year(t.year), month(static_cast<unsigned>(t.month)), day(static_cast<unsigned>(t.day))};
    if (!date.ok() || t.hour < 0 || t.hour > 23 || t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 60) {
        return std::nullopt;
    }
    const std::int64_t days = sys_days(date).time_since_epoch().count();
    return days * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

void setLocalClock(std::function<LocalDateTime()> clock)
{
    std::lock_guard lock(clockMutex);
    testClock = std::move(clock);
}

} // namespace orv
