// Times as operators type them, read in the computer's time zone (fixed here through TZ), and the
// context every event carries.
#include "ledger/ledger.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <ctime>

using namespace orv::ledger;

namespace {

class TimeZone
{
public:
    explicit TimeZone(const char* zone)
    {
        const char* old = std::getenv("TZ");
        saved_ = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone()
    {
        if (saved_) {
            ::setenv("TZ", saved_->c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
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

TEST(UserTime, DaylightSavingFollowsTheDate)
{
    const TimeZone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_EQ(parseUserTime("2026-01-15 12:00"), "2026-01-15T11:00:00.000Z");
    EXPECT_EQ(parseUserTime("2026-07-01 12:00"), "2026-07-01T10:00:00.000Z");
}

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

    const char* xdg = std::getenv("XDG_DATA_HOME");
    const std::optional<std::string> savedXdg = xdg ? std::optional<std::string>(xdg) : std::nullopt;
    ::setenv("XDG_DATA_HOME", "/srv/data", 1);
    EXPECT_EQ(defaultLedgerFile(), std::filesystem::path("/srv/data/OrvCamera/orv_ledger.db"));
    ::setenv("XDG_DATA_HOME", "relative/ignored", 1);
    EXPECT_EQ(defaultLedgerFile().parent_path().parent_path().filename(), "share");
    if (savedXdg) {
        ::setenv("XDG_DATA_HOME", savedXdg->c_str(), 1);
    } else {
        ::unsetenv("XDG_DATA_HOME");
    }
}

} // namespace
