// Appending, reading back and verifying the chain, on both backends; tampering through plain SQL
// must be found at the first broken event.
#include "tests/core/ledger/ledger_fixture.h"

using namespace orv::ledger;
using namespace orv::ledger::test;

namespace {

using ChainTest = LedgerBackendTest;

EventFilter filter(std::string deviceId, std::string officerId, std::string sinceUtc, std::string untilUtc)
{
    return EventFilter{std::move(deviceId), std::move(officerId), std::move(sinceUtc), std::move(untilUtc)};
}

TEST_P(ChainTest, AppendNumbersChainsAndReadsBackEveryField)
{
    const auto ledger = open();
    ASSERT_TRUE(ledger);
    if (GetParam() == Backend::Sqlite) {
        EXPECT_EQ(ledger->location(), location_);
    } else {
        EXPECT_EQ(ledger->location().rfind("PostgreSQL database " + database_ + " on ", 0), 0u) << ledger->location();
    }
    EXPECT_EQ(ledger->head()->number, 0);

    Event first = sampleEvent("D1", "P1", "ok", "2026-03-05T06:00:00.000Z");
    first.officerBefore = "\xE5\xBC\xA0\xE4\xB8\x89"; // text beyond ASCII, kept byte for byte
    first.differences = "wifi.ssid,\n\"device\"";
    first.clockOffsetSeconds = -3;
    first.utcOffsetMinutes = -330;
    first.number = 77; // given by append, whatever the caller put there
    Event second = sampleEvent("D2", "P2", "failed: timeout", "2026-03-05T07:00:00.000Z");
    Event third = sampleEvent("D1", "P3", "ok", "2026-03-05T08:00:00.000Z");
    for (Event* e : {&first, &second, &third}) {
        ASSERT_TRUE(ledger->append(*e)) << ledger->error();
    }
    EXPECT_EQ(first.number, 1);
    EXPECT_EQ(third.number, 3);
    EXPECT_EQ(first.previousHash, kGenesisHash);
    EXPECT_EQ(second.previousHash, first.hash);
    EXPECT_EQ(third.hash, eventHash(second.hash, third));
    const auto head = ledger->head();
    ASSERT_TRUE(head);
    EXPECT_EQ(head->number, 3);
    EXPECT_EQ(head->hash, third.hash);

    std::vector<Event> read;
    ASSERT_TRUE(ledger->readEvents({}, read)) << ledger->error();
    ASSERT_EQ(read.size(), 3u);
    EXPECT_EQ(canonicalForm(read[0]), canonicalForm(first));
    EXPECT_EQ(read[0].hash, first.hash);
    EXPECT_EQ(read[0].clockOffsetSeconds, -3);
    EXPECT_FALSE(read[1].clockOffsetSeconds.has_value());

    const auto numbers = [&](const EventFilter& filter) {
        std::vector<Event> events;
        EXPECT_TRUE(ledger->readEvents(filter, events)) << ledger->error();
        std::vector<std::int64_t> n;
        for (const Event& e : events) {
            n.push_back(e.number);
        }
        return n;
    };
    EXPECT_EQ(numbers(filter("D1", "", "", "")), (std::vector<std::int64_t>{1, 3}));
    EXPECT_EQ(numbers(filter("", first.officerBefore, "", "")), (std::vector<std::int64_t>{1}));
    EXPECT_EQ(numbers(filter("", "P2", "", "")), (std::vector<std::int64_t>{2}));
    EXPECT_EQ(numbers(filter("", "", "2026-03-05T07:00:00.000Z", "")), (std::vector<std::int64_t>{2, 3}));
    EXPECT_EQ(numbers(filter("D1", "", "", "2026-03-05T07:59:59.999Z")), (std::vector<std::int64_t>{1}));
    // By number, as the station reads the events after a tree it signed: alone and beside another test.
    EventFilter range;
    range.afterNumber = 1;
    EXPECT_EQ(numbers(range), (std::vector<std::int64_t>{2, 3}));
    range.throughNumber = 2;
    EXPECT_EQ(numbers(range), (std::vector<std::int64_t>{2}));
    range.deviceId = "D1";
    range.throughNumber = 3;
    EXPECT_EQ(numbers(range), (std::vector<std::int64_t>{3}));

    const VerifyReport report = verifyChain(*ledger);
    EXPECT_TRUE(report.intact) << report.problem;
    EXPECT_EQ(report.eventsChecked, 3);
    EXPECT_EQ(report.head.hash, third.hash);
}

TEST_P(ChainTest, ReopenedLedgerContinuesTheChain)
{
    fill(3);
    const auto ledger = open();
    ASSERT_TRUE(ledger);
    const auto head = ledger->head();
    ASSERT_TRUE(head);
    EXPECT_EQ(head->number, 3);
    Event next = sampleEvent("D1", "P9", "ok");
    ASSERT_TRUE(ledger->append(next)) << ledger->error();
    EXPECT_EQ(next.number, 4);
    EXPECT_EQ(next.previousHash, head->hash);
    EXPECT_TRUE(verifyChain(*ledger).intact);
}

TEST_P(ChainTest, EventsItCouldNotKeepFaithfullyAreRefused)
{
    const auto ledger = open();
    ASSERT_TRUE(ledger);
    Event badTime = sampleEvent("D1", "P1", "ok", "2026-03-05 06:07");
    EXPECT_FALSE(ledger->append(badTime));
    EXPECT_NE(ledger->error().find("time"), std::string::npos) << ledger->error();
    Event nul = sampleEvent("D1", std::string("P\0X", 3), "ok");
    EXPECT_FALSE(ledger->append(nul));
    Event notUtf8 = sampleEvent("D1", "P\xFF", "ok");
    EXPECT_FALSE(ledger->append(notUtf8));
    EXPECT_EQ(ledger->head()->number, 0);
    EXPECT_EQ(badTime.number, 0);
}

TEST_P(ChainTest, EditedEventIsFound)
{
    fill(5);
    tamper("UPDATE events SET officer_after = 'P99' WHERE number = 3");
    const VerifyReport report = verify();
    EXPECT_FALSE(report.intact);
    EXPECT_EQ(report.firstBroken, 3);
    EXPECT_NE(report.problem.find("altered"), std::string::npos) << report.problem;
    EXPECT_EQ(report.head.number, 2);
}

TEST_P(ChainTest, DeletedEventIsFound)
{
    fill(5);
    tamper("DELETE FROM events WHERE number = 3");
    const VerifyReport report = verify();
    EXPECT_FALSE(report.intact);
    EXPECT_EQ(report.firstBroken, 3);
    EXPECT_NE(report.problem.find("missing"), std::string::npos) << report.problem;
}

TEST_P(ChainTest, ReorderedEventsAreFound)
{
    fill(5);
    tamper("UPDATE events SET number = -number WHERE number IN (2, 3)");
    tamper("UPDATE events SET number = 3 WHERE number = -2");
    tamper("UPDATE events SET number = 2 WHERE number = -3");
    const VerifyReport report = verify();
    EXPECT_FALSE(report.intact);
    EXPECT_EQ(report.firstBroken, 2);
}

// A forger who knows the form computes a correct hash for the inserted event; the event after it
// still points at the one before.
TEST_P(ChainTest, InsertedEventIsFoundEvenWithACorrectHash)
{
    fill(5);
    std::vector<Event> events;
    {
        const auto ledger = open();
        ASSERT_TRUE(ledger && ledger->readEvents({}, events));
    }
    Event forged = events[1];
    forged.number = 3;
    forged.officerAfter = "P77";
    forged.previousHash = events[1].hash;
    forged.hash = eventHash(forged.previousHash, forged);
    tamper("UPDATE events SET number = number + 1000 WHERE number >= 3");
    tamper("UPDATE events SET number = number - 999 WHERE number >= 1000");
    tamper("INSERT INTO events (number, time_utc, utc_offset_minutes, station, operator_name, tool, tool_version, "
           "kind, device_id, place, officer_before, officer_after, unit_before, unit_after, setup_name, setup_sha256, "
           "groups_written, result, differences, clock_offset_seconds, prev_hash, hash) SELECT 3, time_utc, utc_offset_minutes, station, operator_name, tool, tool_version, "
           "kind, device_id, place, officer_before, 'P77', unit_before, unit_after, setup_name, setup_sha256, "
           "groups_written, result, differences, clock_offset_seconds, hash, '" +
           forged.hash + "' FROM events WHERE number = 2");
    const VerifyReport report = verify();
    EXPECT_FALSE(report.intact);
    EXPECT_EQ(report.firstBroken, 4) << report.problem;
    EXPECT_EQ(report.head.hash, forged.hash);
}

TEST_P(ChainTest, ChainHeadMustBeTheLastEvent)
{
    fill(4);
    tamper("DELETE FROM events WHERE number = 4");
    VerifyReport report = verify();
    EXPECT_FALSE(report.intact);
    EXPECT_EQ(report.firstBroken, 4);
    EXPECT_NE(report.problem.find("chain head"), std::string::npos) << report.problem;

    tamper("UPDATE chain_head SET number = 2");
    report = verify();
    EXPECT_EQ(report.firstBroken, 3) << report.problem;

    tamper("UPDATE chain_head SET number = 3, hash = 'abc'");
    report = verify();
    EXPECT_EQ(report.firstBroken, 3) << report.problem;
    EXPECT_NE(report.problem.find("hash"), std::string::npos);

    // An append against a head that lags refuses rather than writing a second event 3.
    tamper("UPDATE chain_head SET number = 2");
    const auto ledger = open();
    Event e = sampleEvent("D1", "P1", "ok");
    EXPECT_FALSE(ledger->append(e));
}

INSTANTIATE_TEST_SUITE_P(Backends, ChainTest, ::testing::Values(Backend::Sqlite, Backend::Postgres), backendName);

} // namespace
