// Times as operators type them, read in the computer's time zone (fixed here through TZ), and the
// context every event carries.
#include "ledger/ledger.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

using namespace orv::ledger;

namespace {

// The C runtime's environment: POSIX setenv, or Windows' _putenv_s (an empty value removes it).
void setEnvironment(const char* name, const std::optional<std::string>& value)
{
#ifdef _WIN32
    _putenv_s(name, value ? value->c_str() : "");
#else
    if (value) {
        ::setenv(name, value->c_str(), 1);
    } else {
        ::unsetenv(name);
    }
#endif
}

std::optional<std::string> environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

// TZ for the life of the object (nullptr: unset, the system's zone). Windows' C runtime reads the
// name and fixed offset of the POSIX values used here too.
class TimeZone
{
public:
    explicit TimeZone(const char* zone) : saved_(environment("TZ"))
    {
        setEnvironment("TZ", zone ? std::optional<std::string>(zone) : std::nullopt);
        resetZone();
    }
    ~TimeZone()
    {
        setEnvironment("TZ", saved_);
        resetZone();
    }
    static void resetZone()
    {
#ifdef _WIN32
        _tzset();
#else
        ::tzset();
#endif
    }

private:
    std::optional<std::string> saved_;
};

TEST(UserTime, LocalFormsAndIsoForms)
{
    const TimeZone china("CST-8");
    const std::pair<const char*, const char*> accepted[] = {
        {"2026-03-05 14:07", "2026-03-05T06:07:00.000Z"},
        {"2026-03-05 14:07:09", "2026-03-05T06:07:09.000Z"},
        {" 2026-03-05T14:07:09 ", "2026-03-05T06:07:09.000Z"},
        {"2026-03-05", "2026-03-04T16:00:00.000Z"},
        {"2026-03-05T06:07:09Z", "2026-03-05T06:07:09.000Z"},
        {"2026-03-05T06:07:09.123456Z", "2026-03-05T06:07:09.123Z"},
        {"2026-03-05T14:07:09.5+08:00", "2026-03-05T06:07:09.500Z"},
        {"2026-03-05T01:07-0530", "2026-03-05T06:37:00.000Z"},
        {"2026-03-05 23:30-02:00", "2026-03-06T01:30:00.000Z"},
        {"2024-02-29 08:00", "2024-02-29T00:00:00.000Z"},
    };
    for (const auto& [text, utc] : accepted) {
        EXPECT_EQ(parseUserTime(text).value_or("refused"), utc) << text;
    }
    for (const char* text :
         {"", "yesterday", "2026-3-5", "2026-02-30", "2025-02-29", "2026-03-05 24:00", "2026-03-05 14:60",
          "2026-03-05 14:07:60", "2026-03-05 14", "2026-03-05 14:07 x", "2026-03-05T14:07+8", "2026-03-05T14:07+08:00x",
          "2026-03-05Z", "2026-03-05T14:07:09.Z", "1969-12-31 23:00"}) {
        EXPECT_FALSE(parseUserTime(text)) << text;
    }
}

#ifdef _WIN32
// Windows' C runtime takes the daylight-saving dates from the system's time zone, never from TZ's
// rules: a winter and a summer time read as the system itself converts them.
TEST(UserTime, DaylightSavingFollowsTheDate)
{
    const TimeZone system(nullptr);
    for (const auto& [text, local] : {std::pair{"2026-01-15 12:00", SYSTEMTIME{2026, 1, 0, 15, 12, 0, 0, 0}},
                                      std::pair{"2026-07-01 12:00", SYSTEMTIME{2026, 7, 0, 1, 12, 0, 0, 0}}}) {
        SYSTEMTIME utc{};
        ASSERT_TRUE(TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc));
        char expected[32];
        std::snprintf(expected, sizeof expected, "%04u-%02u-%02uT%02u:%02u:00.000Z", utc.wYear, utc.wMonth, utc.wDay,
                      utc.wHour, utc.wMinute);
        EXPECT_EQ(parseUserTime(text), expected) << text;
    }
}
#else
TEST(UserTime, DaylightSavingFollowsTheDate)
{
    const TimeZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(parseUserTime("2026-01-15 12:00"), "2026-01-15T11:00:00.000Z");
    EXPECT_EQ(parseUserTime("2026-07-01 12:00"), "2026-07-01T10:00:00.000Z");
}
#endif

TEST(UserTime, ADateAloneAsAnUpperBoundTakesInTheWholeDay)
{
    const TimeZone china("CST-8");
    EXPECT_EQ(parseUserTime("2026-03-05", DateOnly::EndOfDay), "2026-03-05T15:59:59.999Z");
    EXPECT_EQ(parseUserTime("2026-12-31", DateOnly::EndOfDay), "2026-12-31T15:59:59.999Z");
    EXPECT_EQ(parseUserTime("2024-02-28", DateOnly::EndOfDay), "2024-02-28T15:59:59.999Z");
    EXPECT_EQ(parseUserTime("2026-03-05", DateOnly::StartOfDay), "2026-03-04T16:00:00.000Z");
    // A time given is that time, whichever bound it is.
    EXPECT_EQ(parseUserTime("2026-03-05 14:07", DateOnly::EndOfDay), "2026-03-05T06:07:00.000Z");
    EXPECT_EQ(parseUserTime("2026-03-05T06:07:09Z", DateOnly::EndOfDay), "2026-03-05T06:07:09.000Z");
    EXPECT_FALSE(parseUserTime("2026-02-30", DateOnly::EndOfDay));
}

#ifndef _WIN32
TEST(UserTime, TheDayEndsWhereTheNextBeginsAcrossDaylightSaving)
{
    const TimeZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(parseUserTime("2026-03-29", DateOnly::StartOfDay), "2026-03-28T23:00:00.000Z");
    EXPECT_EQ(parseUserTime("2026-03-29", DateOnly::EndOfDay), "2026-03-29T21:59:59.999Z") << "23 hours";
    EXPECT_EQ(parseUserTime("2026-10-25", DateOnly::EndOfDay), "2026-10-25T22:59:59.999Z") << "25 hours";
}
#endif

TEST(Context, NowOffsetStationOperatorAndDefaultFile)
{
    {
        const TimeZone china("CST-8");
        EXPECT_EQ(localOffsetMinutes(), 480);
    }
    {
        const TimeZone india("IST-5:30");
        EXPECT_EQ(localOffsetMinutes(), 330);
    }
    const auto utcSeconds = [] {
        char text[32];
        const std::time_t t = std::time(nullptr);
        std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", std::gmtime(&t));
        return std::string(text);
    };
    const std::string before = utcSeconds();
    const std::string now = utcNow();
    const std::string after = utcSeconds();
    const std::string shape = "dddd-dd-ddTdd:dd:dd.dddZ";
    ASSERT_EQ(now.size(), shape.size()) << now;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        EXPECT_TRUE(shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(now[i])) != 0 : now[i] == shape[i])
            << now;
    }
    EXPECT_LE(before, now.substr(0, 19));
    EXPECT_LE(now.substr(0, 19), after);
    EXPECT_EQ(parseUserTime(now), now);

    EXPECT_FALSE(stationName().empty());
    EXPECT_FALSE(operatorName().empty());

#ifdef _WIN32
    // The user's local application data, as the system names it.
    const wchar_t* localAppData = _wgetenv(L"LOCALAPPDATA");
    ASSERT_TRUE(localAppData && *localAppData);
    EXPECT_EQ(defaultLedgerFile(), std::filesystem::path(localAppData) / "OrvCamera" / "orv_ledger.db");
#else
    const std::optional<std::string> savedXdg = environment("XDG_DATA_HOME");
    setEnvironment("XDG_DATA_HOME", "/srv/data");
    EXPECT_EQ(defaultLedgerFile(), std::filesystem::path("/srv/data/OrvCamera/orv_ledger.db"));
    setEnvironment("XDG_DATA_HOME", "relative/ignored");
    EXPECT_EQ(defaultLedgerFile().parent_path().parent_path().filename(), "share");
    setEnvironment("XDG_DATA_HOME", savedXdg);
#endif
}

} // namespace
