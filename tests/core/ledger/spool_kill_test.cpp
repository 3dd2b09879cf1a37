// A forward killed at any moment (SIGKILL: no destructor runs, no transaction is finished) loses
// no event and appends none twice: the spool notes an event forwarded only after the shared
// ledger's COMMIT was answered, and the shared ledger recognises those it already holds.
#include "ledger/spooled_ledger.h"
#include "tests/core/ledger/ledger_fixture.h"
#include "tests/support/start_postgres.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <thread>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

using namespace orv::ledger;
using namespace orv::ledger::test;

namespace {

TEST(SpoolKilled, TwentyForwardsKilledAtRandomMomentsLoseNothingAndRepeatNothing)
{
    orv::test::PostgresServer& server = orv::test::PostgresServer::shared();
    START_POSTGRES(server, database);
    const std::string location = server.socketLocation(database);
    orv::test::TempFolder folder;
    const std::string file = (folder.path() / "spool.db").string();
    constexpr int kEvents = 4000;
    {
        std::string error;
        const std::unique_ptr<Spool> spool = Spool::open(file, error);
        ASSERT_TRUE(spool) << error;
        for (int i = 0; i < kEvents; ++i) {
            Event e = sampleEvent("D" + std::to_string(i), "P", "ok", utcNow());
            ASSERT_TRUE(spool->add(e)) << spool->error();
        }
    }
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> momentMs(10, 250);
    int killedMidway = 0;
    for (int round = 0; round < 20; ++round) {
        const char* argv[] = {ORV_SPOOL_FORWARD_TOOL, file.c_str(), location.c_str(), nullptr};
        pid_t pid = 0;
        ASSERT_EQ(::posix_spawn(&pid, ORV_SPOOL_FORWARD_TOOL, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(momentMs(random)));
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        killedMidway += WIFSIGNALED(status) ? 1 : 0;
    }
    std::string error;
    std::unique_ptr<Spool> spool = Spool::open(file, error);
    ASSERT_TRUE(spool) << error;
    SpooledLedger ledger(location, std::move(spool));
    const ForwardOutcome last = ledger.forward();
    ASSERT_TRUE(last.reached) << last.problem;

    std::vector<Event> events;
    ASSERT_TRUE(ledger.readEvents({}, events)) << ledger.error();
    ASSERT_EQ(events.size(), static_cast<std::size_t>(kEvents)) << killedMidway << " forwards were killed midway";
    std::set<std::string> ids;
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_TRUE(ids.insert(events[i].eventId).second) << events[i].eventId << " twice";
        EXPECT_EQ(events[i].stationSequence, static_cast<std::int64_t>(i + 1)) << "in the station's order";
        EXPECT_EQ(events[i].deviceId, "D" + std::to_string(i));
    }
    const VerifyReport report = verifyChain(ledger);
    EXPECT_TRUE(report.intact) << report.problem;
    EXPECT_GE(killedMidway, 1) << "at least one forward was killed before it ended";
}

} // namespace
