// A station's spool and its forward to a shared ledger: every event durable here first, then in
// the shared ledger once, in the station's order, whatever happened between the two.
#include "ledger/event_fields.h"
#include "ledger/forwarding.h"
#include "ledger/postgres_ledger.h"
#include "ledger/spooled_ledger.h"
#include "ledger/station.h"
#include "tests/core/ledger/ledger_fixture.h"
#include "tests/support/start_postgres.h"
#include "tests/support/temp_folder.h"

#include <gmock/gmock.h>

#include <map>
#include <set>
#include <thread>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using namespace orv::ledger;
using namespace orv::ledger::test;
using ::testing::HasSubstr;

namespace {

std::unique_ptr<Spool> openSpool(const std::filesystem::path& file)
{
    std::string error;
    std::unique_ptr<Spool> spool = Spool::open(file, error);
    EXPECT_TRUE(spool) << error;
    return spool;
}

void addEvents(Spool& spool, int count, const std::string& tag)
{
    for (int i = 0; i < count; ++i) {
        Event e = sampleEvent(tag + "-" + std::to_string(i), "P" + std::to_string(i), "ok", utcNow());
        ASSERT_TRUE(spool.add(e)) << spool.error();
    }
}

// Each event once, each spool's events in its own order with every spool field set.
void expectEachOnceInStationOrder(const std::vector<Event>& events)
{
    std::set<std::string> ids;
    std::map<std::string, std::int64_t> last;
    for (const Event& e : events) {
        ASSERT_FALSE(e.eventId.empty()) << e.number;
        EXPECT_TRUE(ids.insert(e.eventId).second) << e.eventId << " twice";
        ASSERT_TRUE(e.stationSequence);
        EXPECT_TRUE(detail::isUtcTimeText(e.arrivedUtc)) << e.arrivedUtc;
        const std::string spool = e.eventId.substr(0, e.eventId.find(':'));
        EXPECT_EQ(*e.stationSequence, last[spool] + 1) << e.eventId;
        last[spool] = *e.stationSequence;
    }
}

// (gtest's regular expressions on Windows know no brackets.)
bool isLowerHex(std::string_view text)
{
    return text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

TEST(Spool, NumbersEachEventOnceAndKeepsItUntilForwarded)
{
    orv::test::TempFolder folder;
    const std::filesystem::path file = Spool::fileFor(folder.path(), "postgresql://db.example/ledger");
    EXPECT_EQ(file.parent_path(), folder.path());
    const std::string name = file.filename().string();
    EXPECT_TRUE(name.size() == 29 && name.starts_with("orv_spool-") && name.ends_with(".db") &&
                isLowerHex(name.substr(10, 16)))
        << name;
    std::string id;
    {
        const auto spool = openSpool(file);
        ASSERT_TRUE(spool);
        id = spool->id();
        EXPECT_TRUE(id.size() == 32 && isLowerHex(id)) << id;
#ifndef _WIN32
        struct stat info {};
        ASSERT_EQ(::stat(file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << "owner-only from its creation";
#endif
        Event e = sampleEvent("D1", "P1", "ok");
        e.number = 17; // the spool's event has no number yet
        ASSERT_TRUE(spool->add(e)) << spool->error();
        EXPECT_EQ(e.eventId, id + ":1");
        EXPECT_EQ(e.stationSequence, 1);
        EXPECT_EQ(e.number, 0);
        ASSERT_NO_FATAL_FAILURE(addEvents(*spool, 2, "D"));

        std::vector<Event> waiting;
        ASSERT_TRUE(spool->waiting(10, waiting)) << spool->error();
        ASSERT_EQ(waiting.size(), 3u);
        EXPECT_EQ(waiting[0].deviceId, "D1");
        EXPECT_EQ(waiting[2].eventId, id + ":3");
        EXPECT_EQ(canonicalForm(waiting[0]), canonicalForm(e)) << "kept byte for byte";

        ASSERT_TRUE(spool->markForwarded({waiting[0], waiting[1]})) << spool->error();
        SpoolStatus status;
        ASSERT_TRUE(spool->status(status));
        EXPECT_EQ(status.waiting, 1);
        EXPECT_EQ(status.forwarded, 2);
        EXPECT_EQ(status.oldestWaitingUtc, waiting[2].timeUtc);
    }
    // Reopened, and with the events before forwarded: the spool's id stays, no sequence is given twice.
    const auto spool = openSpool(file);
    ASSERT_TRUE(spool);
    EXPECT_EQ(spool->id(), id);
    Event next = sampleEvent("D9", "P9", "ok");
    ASSERT_TRUE(spool->add(next));
    EXPECT_EQ(next.stationSequence, 4);
    std::vector<Event> d9;
    ASSERT_TRUE(spool->waitingFor("D9", d9));
    ASSERT_EQ(d9.size(), 1u);
    EXPECT_EQ(d9[0].eventId, id + ":4");
}

TEST(Spool, AnOutageIsDatedFromItsFirstFailureAndAnotherLedgerIsNotClaimed)
{
    orv::test::TempFolder folder;
    const auto spool = openSpool(folder.path() / "spool.db");
    ASSERT_TRUE(spool);
    ASSERT_TRUE(spool->noteUnreachable("connection refused", false));
    SpoolStatus first;
    ASSERT_TRUE(spool->status(first));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(spool->noteUnreachable("timeout expired", false));
    SpoolStatus second;
    ASSERT_TRUE(spool->status(second));
    EXPECT_EQ(second.unreachableSinceUtc, first.unreachableSinceUtc);
    EXPECT_EQ(second.lastError, "timeout expired");
    EXPECT_THAT(offlineText(second), HasSubstr("the shared ledger is unreachable since "));
    ASSERT_TRUE(spool->noteReached());
    SpoolStatus reached;
    ASSERT_TRUE(spool->status(reached));
    EXPECT_TRUE(reached.unreachableSinceUtc.empty());

    std::string held;
    EXPECT_TRUE(spool->claimOrigin("orvcamera.ledger/a", held));
    EXPECT_TRUE(spool->claimOrigin("orvcamera.ledger/a", held));
    EXPECT_FALSE(spool->claimOrigin("orvcamera.ledger/b", held));
    EXPECT_EQ(held, "orvcamera.ledger/a");
}

TEST(Spool, AFileThatIsNoSpoolIsLeftAsItIs)
{
    orv::test::TempFolder folder;
    const std::filesystem::path file = folder.path() / "notes.db";
    {
        std::ofstream out(file, std::ios::binary);
        out << "not a database at all, but somebody's notes";
    }
    std::string error;
    EXPECT_FALSE(Spool::open(file, error));
    EXPECT_THAT(error, HasSubstr("the station's spool " + file.string()));
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "not a database at all, but somebody's notes");
}

TEST(CanonicalFormOfASpooledEvent, IsVersionTwoAndOldEventsHashAsTheyDid)
{
    Event plain = sampleEvent("D1", "P1", "ok");
    plain.number = 1;
    const std::string before = canonicalForm(plain);
    EXPECT_TRUE(before.starts_with("orv-ledger-event 1\n"));
    EXPECT_EQ(before.find("event_id"), std::string::npos);

    Event spooled = plain;
    spooled.eventId = "0123456789abcdef0123456789abcdef:7";
    spooled.stationSequence = 7;
    spooled.arrivedUtc = "2026-03-05T06:10:00.000Z";
    const std::string form = canonicalForm(spooled);
    EXPECT_TRUE(form.starts_with("orv-ledger-event 2\n"));
    EXPECT_TRUE(form.ends_with("event_id:34:0123456789abcdef0123456789abcdef:7\nstation_sequence:1:7\n"
                               "arrived_utc:24:2026-03-05T06:10:00.000Z\n"))
        << form;
    std::string error;
    const std::optional<Event> read = parseCanonicalForm(form, error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(canonicalForm(*read), form);
    EXPECT_NE(eventHash(kGenesisHash, spooled), eventHash(kGenesisHash, plain));

    // Part of a spool's fields is no event: two forms of one event would be possible.
    Event partial = plain;
    partial.eventId = "x:1";
    EXPECT_THAT(detail::appendProblem(partial), HasSubstr("some of a spool's fields but not all"));
}

class ForwardTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        orv::test::PostgresServer& server = orv::test::PostgresServer::shared();
        START_POSTGRES(server, database);
        location_ = server.socketLocation(database);
    }

    std::unique_ptr<SpooledLedger> spooled(const std::string& name)
    {
        std::string error;
        std::unique_ptr<Spool> spool = Spool::open(folder_.path() / (name + ".db"), error);
        EXPECT_TRUE(spool) << error;
        return spool ? std::make_unique<SpooledLedger>(location_, std::move(spool)) : nullptr;
    }

    std::vector<Event> shared()
    {
        std::string error;
        const auto ledger = openLedger(location_, error);
        std::vector<Event> events;
        EXPECT_TRUE(ledger && ledger->readEvents({}, events)) << error;
        const VerifyReport report = ledger ? verifyChain(*ledger) : VerifyReport{};
        EXPECT_TRUE(report.intact) << report.problem;
        return events;
    }

    orv::test::TempFolder folder_;
    std::string location_;
};

TEST_F(ForwardTest, EventsArriveInTheStationsOrderWithTheirArrivalTime)
{
    const auto ledger = spooled("a");
    ASSERT_TRUE(ledger);
    ASSERT_NO_FATAL_FAILURE(addEvents(ledger->spool(), 600, "D"));
    std::vector<std::int64_t> steps;
    const ForwardOutcome outcome =
        ledger->forward([&](std::int64_t done, std::int64_t total) { steps.push_back(done * 1000 + total); });
    EXPECT_TRUE(outcome.reached) << outcome.problem;
    EXPECT_EQ(outcome.forwarded, 600);
    EXPECT_EQ(outcome.waiting, 0);
    EXPECT_EQ(steps, (std::vector<std::int64_t>{250600, 500600, 600600})) << "a progress line per batch";
    const std::vector<Event> events = shared();
    ASSERT_EQ(events.size(), 600u);
    expectEachOnceInStationOrder(events);
    EXPECT_EQ(events[0].deviceId, "D-0");
    EXPECT_LE(events[0].timeUtc, events[0].arrivedUtc);
    SpoolStatus status;
    ASSERT_TRUE(ledger->spool().status(status));
    EXPECT_EQ(status.waiting, 0);
    EXPECT_EQ(status.origin, ledger->origin());
}

// A forward whose COMMIT was answered but never noted in the spool (the program was killed in
// between): the next forward finds those events there and does not append them again.
TEST_F(ForwardTest, AForwardInterruptedAfterItsCommitAppendsNothingTwice)
{
    const auto ledger = spooled("a");
    ASSERT_TRUE(ledger);
    ASSERT_NO_FATAL_FAILURE(addEvents(ledger->spool(), 5, "D"));
    std::vector<Event> batch;
    ASSERT_TRUE(ledger->spool().waiting(3, batch));
    std::string error;
    const auto direct = PostgresLedger::open(location_, error);
    ASSERT_TRUE(direct) << error;
    bool refused = false;
    ASSERT_TRUE(direct->appendFromSpool(batch, refused)) << direct->error();

    const ForwardOutcome outcome = ledger->forward();
    EXPECT_TRUE(outcome.reached) << outcome.problem;
    EXPECT_EQ(outcome.forwarded, 5) << "three found there, two appended";
    const std::vector<Event> events = shared();
    ASSERT_EQ(events.size(), 5u);
    expectEachOnceInStationOrder(events);
}

TEST_F(ForwardTest, AGapInTheStationsEventsStopsTheForward)
{
    const auto ledger = spooled("a");
    ASSERT_TRUE(ledger);
    ASSERT_NO_FATAL_FAILURE(addEvents(ledger->spool(), 2, "D"));
    std::vector<Event> waiting;
    ASSERT_TRUE(ledger->spool().waiting(2, waiting));
    // The first event lost from the spool (a spool restored from an older copy would do the same).
    ASSERT_TRUE(ledger->spool().markForwarded({waiting[0]}));
    const ForwardOutcome outcome = ledger->forward();
    EXPECT_FALSE(outcome.reached);
    EXPECT_TRUE(outcome.refused);
    EXPECT_THAT(outcome.problem, HasSubstr("lacks this station's event " + ledger->spool().id() + ":1"));
    EXPECT_EQ(outcome.waiting, 1) << "the event stays in the spool";
    EXPECT_TRUE(shared().empty());
    SpoolStatus status;
    ASSERT_TRUE(ledger->spool().status(status));
    EXPECT_TRUE(status.refused);
    EXPECT_THAT(offlineText(status), HasSubstr("the shared ledger refuses them since"));
}

TEST_F(ForwardTest, ASpoolNeverForwardsToAnotherLedgerThanItsOwn)
{
    const auto ledger = spooled("a");
    ASSERT_TRUE(ledger);
    ASSERT_TRUE(ledger->forward().reached) << "the spool now belongs to this ledger";
    ASSERT_NO_FATAL_FAILURE(addEvents(ledger->spool(), 2, "D"));
    orv::test::PostgresServer& server = orv::test::PostgresServer::shared();
    std::string error;
    const std::string other = server.createDatabase(error);
    ASSERT_FALSE(other.empty()) << error;
    std::unique_ptr<Spool> same = Spool::open(folder_.path() / "a.db", error);
    ASSERT_TRUE(same) << error;
    SpooledLedger elsewhere(server.socketLocation(other), std::move(same));
    const ForwardOutcome outcome = elsewhere.forward();
    EXPECT_FALSE(outcome.reached);
    EXPECT_TRUE(outcome.refused);
    EXPECT_THAT(outcome.problem, HasSubstr("it is another ledger"));
    EXPECT_EQ(outcome.waiting, 2);
}

// Two stations that worked offline at the same time forward at once into one ledger.
TEST_F(ForwardTest, TwoStationsForwardingAtOnceKeepEachOnceAndInOrder)
{
    const auto first = spooled("first");
    const auto second = spooled("second");
    ASSERT_TRUE(first && second);
    ASSERT_NO_FATAL_FAILURE(addEvents(first->spool(), 400, "A"));
    ASSERT_NO_FATAL_FAILURE(addEvents(second->spool(), 400, "B"));
    ForwardOutcome a, b;
    std::thread one([&] { a = first->forward(); });
    std::thread two([&] { b = second->forward(); });
    one.join();
    two.join();
    EXPECT_TRUE(a.reached) << a.problem;
    EXPECT_TRUE(b.reached) << b.problem;
    const std::vector<Event> events = shared();
    ASSERT_EQ(events.size(), 800u);
    expectEachOnceInStationOrder(events);
}

TEST_F(ForwardTest, ADatabaseThatIsAwayLeavesEverythingInTheSpool)
{
    std::string error;
    std::unique_ptr<Spool> spool = Spool::open(folder_.path() / "away.db", error);
    ASSERT_TRUE(spool) << error;
    SpooledLedger away("host=127.0.0.1 port=" + std::to_string(orv::test::freeLoopbackPort()) +
                           " dbname=none user=nobody connect_timeout=2",
                       std::move(spool));
    Event e = sampleEvent("D1", "P1", "ok");
    ASSERT_TRUE(away.append(e)) << "recorded at once, whether or not the database answers";
    const ForwardOutcome outcome = away.forward();
    EXPECT_FALSE(outcome.reached);
    EXPECT_FALSE(outcome.refused);
    EXPECT_EQ(outcome.waiting, 1);
    EXPECT_THAT(outcome.problem, HasSubstr("PostgreSQL database none on 127.0.0.1:"));
    SpoolStatus status;
    ASSERT_TRUE(away.spool().status(status));
    EXPECT_FALSE(status.unreachableSinceUtc.empty());
    EXPECT_FALSE(away.head());
}

// Whichever program forwards, the station checks the shared ledger once it answers and signs a
// checkpoint over what arrived, as after a run; while it does not answer, nothing is signed.
TEST_F(ForwardTest, AfterAForwardTheStationSignsWhatArrived)
{
    const auto ledger = spooled("a");
    ASSERT_TRUE(ledger);
    ForwardSealer sealer(StationSetup{folder_.path() / "station", {}});
    std::vector<std::string> problems;
    const auto say = [&](const std::string& m) { problems.push_back(m); };
    ASSERT_NO_FATAL_FAILURE(addEvents(ledger->spool(), 3, "D"));
    EXPECT_FALSE(sealer.after(ForwardOutcome{}, *ledger, say)) << "not reached: nothing to sign yet";
    const ForwardOutcome outcome = ledger->forward();
    ASSERT_TRUE(outcome.reached);
    EXPECT_TRUE(sealer.after(outcome, *ledger, say));
    EXPECT_TRUE(problems.empty()) << problems.front();
    std::vector<StoredCheckpoint> checkpoints;
    ASSERT_TRUE(ledger->readCheckpoints(3, checkpoints)) << ledger->error();
    EXPECT_EQ(checkpoints.size(), 1u) << "one checkpoint over the three events";

    ForwardBackoff backoff;
    backoff.set(std::chrono::milliseconds(100), std::chrono::milliseconds(350));
    EXPECT_EQ(backoff.failed().count(), 100);
    EXPECT_EQ(backoff.failed().count(), 200);
    EXPECT_EQ(backoff.failed().count(), 350);
    backoff.reached();
    EXPECT_EQ(backoff.failed().count(), 100);
}

} // namespace
