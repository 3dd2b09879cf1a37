// A shared ledger that stops answering: a server that hangs, or a network path that stops carrying
// data while the connection looks alive. Nothing the programs do may wait on it for longer than
// the location's time (connect_timeout; 10 s unless it says): the statement is given up, the
// caller told, and the next call starts on a new connection.
#include "tests/core/ledger/ledger_fixture.h"
#include "tests/support/stalling_relay.h"
#include "tests/support/start_postgres.h"
#include "tests/support/temp_folder.h"
#include "ledger/spooled_ledger.h"

#include <thread>

using namespace orv::ledger;
using namespace orv::ledger::test;

namespace {

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

class UnansweredDatabase : public ::testing::Test
{
protected:
    void SetUp() override
    {
        orv::test::PostgresServer& server = orv::test::PostgresServer::shared();
        START_POSTGRES(server, database);
        relay_ = std::make_unique<orv::test::StallingRelay>(server.port());
        location_ = "host=127.0.0.1 port=" + std::to_string(relay_->port()) + " user=" + server.role() +
                    " dbname=" + database + " connect_timeout=2";
    }

    std::unique_ptr<orv::test::StallingRelay> relay_;
    std::string location_;
};

TEST_F(UnansweredDatabase, AStatementLeftUnansweredIsGivenUpAndTheNextCallStartsAfresh)
{
    std::string error;
    const std::unique_ptr<Ledger> ledger = openLedger(location_, error);
    ASSERT_TRUE(ledger) << error;
    Event first = sampleEvent("D1", "P1", "ok");
    ASSERT_TRUE(ledger->append(first)) << ledger->error();

    relay_->stall(true);
    Event lost = sampleEvent("D1", "P2", "ok");
    EXPECT_FALSE(ledger->append(lost));
    EXPECT_TRUE(contains(ledger->error(), "the database did not answer within 4 s")) << ledger->error();
    // Reading goes on a new connection, which a stalled path does not open either.
    EXPECT_FALSE(ledger->head());
    EXPECT_TRUE(contains(ledger->error(), "timeout")) << ledger->error();

    relay_->stall(false);
    Event next = sampleEvent("D1", "P3", "ok");
    ASSERT_TRUE(ledger->append(next)) << ledger->error();
    EXPECT_EQ(next.number, 2) << "the event given up was not recorded";
    const VerifyReport report = verifyChain(*ledger);
    EXPECT_TRUE(report.intact) << report.problem;
}

TEST_F(UnansweredDatabase, AServerThatTakesTheConnectionAndNeverAnswersIsNotOpened)
{
    relay_->stall(true);
    std::string error;
    EXPECT_FALSE(openLedger(location_, error));
    EXPECT_TRUE(contains(error, "cannot connect")) << error;
    // A location that asks libpq for no limit (0) gets the default one, not a wait for ever.
    relay_->stall(false);
    const std::unique_ptr<Ledger> ledger = openLedger(location_ + " connect_timeout=0", error);
    ASSERT_TRUE(ledger) << error;
}

// A forward asked to stop (a window closing) gives the database up at once, whether it is
// connecting or waiting for an answer, rather than after the location's whole time (here 2 s
// and 4 s): the thread that forwards can then be joined, never left running.
TEST_F(UnansweredDatabase, AForwardAskedToStopGivesTheDatabaseUpAtOnce)
{
    orv::test::TempFolder folder;
    const auto stopsWithin = [&](SpooledLedger& ledger) {
        std::stop_source stop;
        ForwardOutcome outcome;
        std::thread forwarding([&] { outcome = ledger.forward({}, stop.get_token()); });
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const auto asked = std::chrono::steady_clock::now();
        stop.request_stop();
        forwarding.join();
        EXPECT_FALSE(outcome.reached);
        EXPECT_TRUE(contains(outcome.problem, "given up: the program stopped waiting")) << outcome.problem;
        return std::chrono::steady_clock::now() - asked;
    };
    std::string error;
    std::unique_ptr<Spool> spool = Spool::open(folder.path() / "spool.db", error);
    ASSERT_TRUE(spool) << error;
    Event e = sampleEvent("D1", "P1", "ok");
    ASSERT_TRUE(spool->add(e));
    SpooledLedger ledger(location_, std::move(spool));

    relay_->stall(true); // connecting
    EXPECT_LT(stopsWithin(ledger), std::chrono::milliseconds(500));

    relay_->stall(false);
    ASSERT_TRUE(ledger.head()) << ledger.error(); // connected
    relay_->stall(true); // waiting for an answer
    EXPECT_LT(stopsWithin(ledger), std::chrono::milliseconds(500));

    relay_->stall(false);
    EXPECT_TRUE(ledger.forward().reached) << "the event was kept and goes through afterwards";
}

// The path to the database breaks while a forward is under way: before the events' inserts
// reach the server (it rolls the transaction back), or after its COMMIT but before the answer
// comes back (the events are in, the station does not know). Either way each event is in the
// shared ledger once after the next forward, in the station's order.
using DroppedDatabase = UnansweredDatabase;

TEST_F(DroppedDatabase, AConnectionDroppedMidForwardLosesNothingAndRepeatsNothing)
{
    using Way = orv::test::StallingRelay::Way;
    for (const auto& [way, marker] : {std::pair{Way::ToServer, "INSERT INTO events"}, std::pair{Way::ToClient, "COMMIT"}}) {
        SCOPED_TRACE(marker);
        orv::test::TempFolder folder;
        std::string error;
        std::unique_ptr<Spool> spool = Spool::open(folder.path() / "spool.db", error);
        ASSERT_TRUE(spool) << error;
        const std::string device = std::string("D-") + (way == Way::ToServer ? "insert" : "commit");
        for (int n = 1; n <= 5; ++n) {
            Event e = sampleEvent(device, "P" + std::to_string(n), "ok");
            ASSERT_TRUE(spool->add(e));
        }
        SpooledLedger ledger(location_, std::move(spool));
        ASSERT_TRUE(ledger.head()) << ledger.error(); // connected before the path breaks

        relay_->dropAt(way, marker);
        const ForwardOutcome broken = ledger.forward();
        EXPECT_TRUE(relay_->dropped());
        EXPECT_EQ(broken.forwarded, 0);
        EXPECT_EQ(broken.waiting, 5) << "nothing leaves the spool without the COMMIT's answer";
        EXPECT_FALSE(broken.problem.empty());

        const ForwardOutcome again = ledger.forward();
        EXPECT_TRUE(again.reached) << again.problem;
        EXPECT_EQ(again.waiting, 0);

        const std::unique_ptr<Ledger> shared = openLedger(location_, error);
        ASSERT_TRUE(shared) << error;
        std::vector<Event> events;
        EventFilter filter;
        filter.deviceId = device;
        ASSERT_TRUE(shared->readEvents(filter, events)) << shared->error();
        ASSERT_EQ(events.size(), 5u);
        for (std::size_t i = 0; i < events.size(); ++i) {
            EXPECT_EQ(events[i].officerAfter, "P" + std::to_string(i + 1));
            EXPECT_EQ(events[i].stationSequence, std::optional<std::int64_t>(static_cast<std::int64_t>(i + 1)));
        }
        const VerifyReport report = verifyChain(*shared);
        EXPECT_TRUE(report.intact) << report.problem;
    }
}

// Whether the database could not be reached or broke off, the station's message names it once.
TEST(SpooledLedgerMessages, TheDatabaseIsNamedOnce)
{
    orv::test::TempFolder folder;
    std::string error;
    std::unique_ptr<Spool> spool = Spool::open(folder.path() / "spool.db", error);
    ASSERT_TRUE(spool) << error;
    Event e = sampleEvent("D1", "P1", "ok");
    ASSERT_TRUE(spool->add(e));
    // Port 1 on loopback: nothing listens there, so the connection is refused at once.
    SpooledLedger ledger("host=127.0.0.1 port=1 user=station dbname=orv connect_timeout=2", std::move(spool));
    const ForwardOutcome outcome = ledger.forward();
    EXPECT_FALSE(outcome.reached);
    const std::string name = "PostgreSQL database orv on 127.0.0.1:1 as station";
    const std::size_t named = outcome.problem.find(name);
    EXPECT_TRUE(named != std::string::npos && outcome.problem.find(name, named + 1) == std::string::npos)
        << outcome.problem;
}

} // namespace
