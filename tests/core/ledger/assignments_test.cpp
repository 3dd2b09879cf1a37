// Who carried which camera when, derived from the events: officer A, then B, then A again on one
// camera, A on a second one, and events that show no officer or belong to no camera.
#include "ledger/ledger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace orv::ledger;

namespace {

Event event(std::int64_t number, std::string deviceId, std::string before, std::string after, std::string time)
{
    Event e;
    e.number = number;
    e.deviceId = std::move(deviceId);
    e.officerBefore = std::move(before);
    e.officerAfter = std::move(after);
    e.unitAfter = e.officerAfter.empty() ? "" : "North";
    e.timeUtc = "2026-03-05T" + time + ":00.000Z";
    return e;
}

// In a shuffled order: the functions take events in any order.
std::vector<Event> history()
{
    std::vector<Event> events = {
        event(1, "D1", "", "A", "08:00"),  event(2, "D1", "A", "", "09:00"), // a check that read A: no change
        event(3, "D2", "", "A", "09:30"),                                    // A takes a second camera
        event(4, "D1", "A", "B", "10:00"), event(5, "D1", "", "", "11:00"), // failed before reading anything: no change
        event(6, "D1", "B", "A", "12:00"), event(7, "", "", "B", "12:30"),  // never identified: no camera's
    };
    std::shuffle(events.begin(), events.end(), std::mt19937(7));
    return events;
}

std::string describe(const Assignment& a)
{
    return a.deviceId + " " + a.officerId + " " + std::to_string(a.fromEvent) + ".." + std::to_string(a.untilEvent);
}

TEST(Assignments, IntervalsPerCameraInOrder)
{
    std::vector<std::string> described;
    for (const Assignment& a : assignmentHistory(history())) {
        described.push_back(describe(a));
    }
    EXPECT_EQ(described, (std::vector<std::string>{"D1 A 1..4", "D1 B 4..6", "D1 A 6..0", "D2 A 3..0"}));

    const auto all = assignmentHistory(history());
    EXPECT_EQ(all[0].fromUtc, "2026-03-05T08:00:00.000Z");
    EXPECT_EQ(all[0].untilUtc, "2026-03-05T10:00:00.000Z");
    EXPECT_EQ(all[0].unit, "North");
    EXPECT_EQ(all[2].untilUtc, "");

    // By officer: every camera A had.
    std::vector<std::string> camerasOfA;
    for (const Assignment& a : all) {
        if (a.officerId == "A") {
            camerasOfA.push_back(a.deviceId);
        }
    }
    EXPECT_EQ(camerasOfA, (std::vector<std::string>{"D1", "D1", "D2"}));
}

TEST(Assignments, WhoHadTheCameraAtATime)
{
    const auto events = history();
    const auto who = [&](const std::string& device, const std::string& time) {
        const auto a = whoHadCamera(events, device, "2026-03-05T" + time + "Z");
        return a ? a->officerId + "@" + std::to_string(a->fromEvent) : std::string("none");
    };
    EXPECT_EQ(who("D1", "07:59:59.999"), "none");
    EXPECT_EQ(who("D1", "08:00:00.000"), "A@1");
    EXPECT_EQ(who("D1", "09:59:59.999"), "A@1");
    EXPECT_EQ(who("D1", "10:00:00.000"), "B@4");
    EXPECT_EQ(who("D1", "11:30:00.000"), "B@4");
    EXPECT_EQ(who("D1", "23:00:00.000"), "A@6");
    EXPECT_EQ(who("D2", "23:00:00.000"), "A@3");
    EXPECT_EQ(who("D9", "23:00:00.000"), "none");
    EXPECT_EQ(who("", "12:45:00.000"), "none");
}

TEST(Assignments, SummaryPerCamera)
{
    const auto summaries = cameraSummaries(history());
    ASSERT_EQ(summaries.size(), 2u);
    EXPECT_EQ(summaries[0].deviceId, "D1");
    EXPECT_EQ(summaries[0].officerNow, "A");
    EXPECT_EQ(summaries[0].unitNow, "North");
    EXPECT_EQ(summaries[0].last.number, 6);
    EXPECT_EQ(summaries[1].deviceId, "D2");
    EXPECT_EQ(summaries[1].last.number, 3);
}

} // namespace
