#include "ledger/ledger.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace orv::ledger {
namespace {

using namespace std::chrono;
using Milliseconds = time_point<system_clock, milliseconds>;

std::string formatUtc(Milliseconds t)
{
    const sys_days day = floor<days>(t);
    const year_month_day date{day};
    const hh_mm_ss<milliseconds> time{t - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
    return text;
}

// The form timeUtc carries, for times with four-digit years.
std::optional<std::string> asUtcText(Milliseconds t)
{
    std::string text = formatUtc(t);
    return text.size() == 24 ? std::optional<std::string>(std::move(text)) : std::nullopt;
}

bool localParts(std::time_t t, std::tm& parts)
{
#ifdef _WIN32
    return localtime_s(&parts, &t) == 0;
#else
    return localtime_r(&t, &parts) != nullptr;
#endif
}

// A cursor over the text being parsed.
struct Reader
{
    std::string_view text;
    std::size_t at = 0;

    bool done() const { return at == text.size(); }
    bool take(char c)
    {
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    }
    // Exactly `count` digits.
    bool digits(int count, int& value)
    {
        value = 0;
        for (int i = 0; i < count; ++i, ++at) {
            if (at >= text.size() || text[at] < '0' || text[at] > '9') {
                return false;
            }
            value = value * 10 + (text[at] - '0');
        }
        return true;
    }
};

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace

std::string utcNow()
{
    return formatUtc(floor<milliseconds>(system_clock::now()));
}

int localOffsetMinutes()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    if (!localParts(now, parts)) {
        return 0;
    }
    // The local wall clock read as if it were UTC, minus the real UTC instant.
    const sys_days day{year(parts.tm_year + 1900) / month(static_cast<unsigned>(parts.tm_mon + 1)) /
                       static_cast<unsigned>(parts.tm_mday)};
    const sys_seconds wall = day + hours(parts.tm_hour) + minutes(parts.tm_min) + seconds(parts.tm_sec);
    const auto offset = wall - system_clock::from_time_t(now);
    return static_cast<int>(round<minutes>(offset).count());
}

std::optional<std::string> parseUserTime(std::string_view input, DateOnly dateOnly)
{
    Reader r{trimmed(input)};
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    if (!r.digits(4, y) || !r.take('-') || !r.digits(2, mo) || !r.take('-') || !r.digits(2, d)) {
        return std::nullopt;
    }
    const year_month_day date{year(y), month(static_cast<unsigned>(mo)), day(static_cast<unsigned>(d))};
    if (!date.ok() || y < 1970) {
        return std::nullopt;
    }
    bool hasTime = false;
    if (!r.done()) {
        if (!r.take(' ') && !r.take('T')) {
            return std::nullopt;
        }
        hasTime = true;
        if (!r.digits(2, h) || !r.take(':') || !r.digits(2, mi) || h > 23 || mi > 59) {
            return std::nullopt;
        }
        if (r.take(':')) {
            if (!r.digits(2, s) || s > 59) {
                return std::nullopt;
            }
            if (r.take('.')) {
                // Up to nine digits; milliseconds are kept.
                int count = 0;
                for (; !r.done() && r.text[r.at] >= '0' && r.text[r.at] <= '9'; ++r.at, ++count) {
                    if (count < 3) {
                        ms = ms * 10 + (r.text[r.at] - '0');
                    }
                }
                if (count == 0 || count > 9) {
                    return std::nullopt;
                }
                for (int i = count; i < 3; ++i) {
                    ms *= 10;
                }
            }
        }
    }
    const milliseconds clock = hours(h) + minutes(mi) + seconds(s) + milliseconds(ms);

    if (hasTime && !r.done()) {
        // UTC ("Z") or an offset from it ("+08:00", "+0800").
        if (r.take('Z') || r.take('z')) {
            if (!r.done()) {
                return std::nullopt;
            }
            return asUtcText(Milliseconds(sys_days(date) + clock));
        }
        const bool ahead = r.take('+');
        if (!ahead && !r.take('-')) {
            return std::nullopt;
        }
        int oh = 0, om = 0;
        if (!r.digits(2, oh)) {
            return std::nullopt;
        }
        r.take(':');
        if (!r.digits(2, om) || !r.done() || oh > 23 || om > 59) {
            return std::nullopt;
        }
        const minutes offset = (ahead ? 1 : -1) * (hours(oh) + minutes(om));
        return asUtcText(Milliseconds(sys_days(date) + clock - offset));
    }

    // Local time, daylight saving as the computer's time zone has it then.
    std::tm parts{};
    parts.tm_year = y - 1900;
    parts.tm_mon = mo - 1;
    parts.tm_mday = d;
    parts.tm_hour = h;
    parts.tm_min = mi;
    parts.tm_sec = s;
    parts.tm_isdst = -1;
    // The day ends where the next one starts, which is not always 24 hours on (daylight saving).
    const bool toEndOfDay = !hasTime && dateOnly == DateOnly::EndOfDay;
    if (!hasTime) {
        // A day the computer's zone skipped (Samoa's 30 December 2011) has no moment: mktime
        // would move it to the next day, and the day would end before it starts.
        std::tm start = parts;
        if (std::mktime(&start) == static_cast<std::time_t>(-1) || start.tm_mday != d) {
            return std::nullopt;
        }
    }
    if (toEndOfDay) {
        ++parts.tm_mday;
    }
    const std::time_t t = std::mktime(&parts);
    if (t == static_cast<std::time_t>(-1)) {
        return std::nullopt;
    }
    // In seconds: system_clock counts nanoseconds here, which overflow after the year 2262.
    const Milliseconds start = sys_seconds{seconds{t}};
    return asUtcText(toEndOfDay ? start - milliseconds(1) : start + milliseconds(ms));
}

std::optional<sys_seconds> utcTimePoint(std::string_view timeUtc)
{
    // The date and time up to the seconds; the milliseconds and the Z after them do not count.
    Reader r{timeUtc};
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!(r.digits(4, y) && r.take('-') && r.digits(2, mo) && r.take('-') && r.digits(2, d) && r.take('T') &&
          r.digits(2, h) && r.take(':') && r.digits(2, mi) && r.take(':') && r.digits(2, s))) {
        return std::nullopt;
    }
    const year_month_day date{year(y), month(static_cast<unsigned>(mo)), day(static_cast<unsigned>(d))};
    if (!date.ok() || h > 23 || mi > 59 || s > 59) {
        return std::nullopt;
    }
    return sys_days(date) + hours(h) + minutes(mi) + seconds(s);
}

std::string localTimeText(std::string_view timeUtc)
{
    const std::optional<sys_seconds> point = utcTimePoint(timeUtc);
    if (!point) {
        return std::string(timeUtc);
    }
    const sys_seconds when = *point;
    std::tm parts{};
    char text[32];
    if (!localParts(static_cast<std::time_t>(when.time_since_epoch().count()), parts) ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts) == 0) {
        return std::string(timeUtc);
    }
    return text;
}

std::string utcOffsetText(int minutes)
{
    const int magnitude = minutes < 0 ? -minutes : minutes;
    char text[16];
    std::snprintf(text, sizeof text, "UTC%c%02d:%02d", minutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return text;
}

} // namespace orv::ledger
