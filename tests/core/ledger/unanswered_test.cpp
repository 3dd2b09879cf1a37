// A shared ledger that stops answering: a server that hangs, or a network path that stops carrying
// data while the connection looks alive. Nothing the programs do may wait on it for longer than
// the location's time (connect_timeout; 10 s unless it says): the statement is given up, the
// caller told, and the next call starts on a new connection.
#include "tests/core/ledger/ledger_fixture.h"
#include "tests/support/stalling_relay.h"
#include "tests/support/start_postgres.h"

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

} // namespace
