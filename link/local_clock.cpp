#include "link/local_clock.h"

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

void setLocalClock(std::function<LocalDateTime()> clock)
{
    std::lock_guard lock(clockMutex);
    testClock = std::move(clock);
}

} // namespace orv
