// The runner on several simulated cameras at once, each on a loopback address of its own: every
// camera gets its own officer from the roster, a camera that goes away fails alone, Stop lets each
// camera finish its step, Check writes nothing, twins get no officer, the clock is measured, and a
// long session keeps the same few threads; every outcome goes to the ledger before it is told (an
// officer sent but never read back as sent), and a ledger lost during a run starts no further camera.
#include "fleet/roster.h"
#include "lang/utf.h"
#include "ledger/ledger.h"
#include "link/local_clock.h"
#include "provision/fleet_runner.h"
#include "tests/core/cli/scratch_folder.h"
#include "tests/support/camera_on_loopback.h"

#include <gmock/gmock.h>
#include <sqlite3.h>

#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

namespace orv::test {
namespace {

using provision::CameraProgress;
using provision::CameraResult;
using provision::CameraStep;
using provision::Group;
using ::testing::HasSubstr;
using ::testing::Not;

provision::GroupPlan groupOf(Group group, std::initializer_list<std::string_view> assignments)
{
    provision::GroupPlan plan{group, {}};
    for (const std::string_view text : assignments) {
        std::string error;
        const auto a = provision::parseAssignment(group, text, error);
        EXPECT_TRUE(a) << error;
        plan.assignments.push_back(*a);
    }
    return plan;
}

// Wifi and the device group: two frames each (read, then write back), so frame logs add up.
std::vector<provision::GroupPlan> unitPlan()
{
    return {groupOf(Group::Wifi, {"ssid=Unit Wifi", "wifiPassword=unit-secret"}),
            groupOf(Group::Device, {"policeId=SETUP-P", "policeName=Setup Name"})};
}

std::string readAll(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Every value of every row of every table, read through SQLite: a fresh ledger's events may still
// be in its write-ahead log, not in the file itself.
std::string everyValueIn(const std::filesystem::path& file)
{
    sqlite3* db = nullptr;
    std::string values;
    const std::u8string path = file.u8string();
    if (sqlite3_open_v2(reinterpret_cast<const char*>(path.c_str()), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << file << ": " << sqlite3_errmsg(db);
        sqlite3_close(db);
        return values;
    }
    const auto eachRow = [&](const std::string& sql, const std::function<void(sqlite3_stmt*)>& take) {
        sqlite3_stmt* statement = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        int step = SQLITE_ROW;
        while ((step = sqlite3_step(statement)) == SQLITE_ROW) {
            take(statement);
        }
        EXPECT_EQ(step, SQLITE_DONE) << sqlite3_errmsg(db);
        sqlite3_finalize(statement);
    };
    std::vector<std::string> tables{"sqlite_master"};
    eachRow("SELECT name FROM sqlite_master WHERE type = 'table'", [&](sqlite3_stmt* row) {
        tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(row, 0)));
    });
    for (const std::string& table : tables) {
        eachRow("SELECT * FROM \"" + table + "\"", [&](sqlite3_stmt* row) {
            for (int column = 0; column < sqlite3_column_count(row); ++column) {
                const auto* bytes = static_cast<const char*>(sqlite3_column_blob(row, column));
                values.append(bytes ? bytes : "", static_cast<std::size_t>(sqlite3_column_bytes(row, column)));
                values += '\n';
            }
        });
    }
    sqlite3_close(db);
    return values;
}

std::size_t setConfigFrames(const camsim::SimulatedCamera& camera)
{
    const auto frames = camera.receivedFrames();
    return static_cast<std::size_t>(std::count_if(frames.begin(), frames.end(), [](const camsim::ReceivedFrame& f) {
        return f.command == static_cast<std::uint16_t>(Command::SetConfig);
    }));
}

std::shared_ptr<const fleet::Roster> rosterOf(std::string_view csv)
{
    auto load = fleet::parseRoster(csv);
    EXPECT_TRUE(load.ok());
    return std::make_shared<const fleet::Roster>(std::move(load.roster));
}

class FleetRunnerTest : public ::testing::Test
{
protected:
    // Cameras with the device ids given, each with the officer "OLD-<id>".
    void startCameras(std::initializer_list<const char16_t*> deviceIds)
    {
        for (const char16_t* id : deviceIds) {
            LoopbackCamera camera = startCameraOnLoopback();
            ASSERT_TRUE(camera);
            DeviceRecord device = camera->config<DeviceRecord>();
            device.setText(DeviceRecord::deviceId, id);
            device.setText(DeviceRecord::policeId, u"OLD-" + std::u16string(id));
            device.setText(DeviceRecord::companyName, u"Old Unit");
            camera->setConfig(device);
            camera->clearReceivedFrames();
            cameras.push_back(std::move(camera));
        }
    }

    std::u16string officerOf(std::size_t camera) const
    {
        return cameras[camera]->config<DeviceRecord>().text(DeviceRecord::policeId);
    }

    provision::FleetSettings settings()
    {
        provision::FleetSettings s;
        s.user = u"admin";
        s.password = u"wrenq";
        s.plan = unitPlan();
        s.timeout = std::chrono::milliseconds(1000);
        return s;
    }

    fleet::Candidate candidateOf(std::size_t camera) const
    {
        fleet::Candidate c;
        c.address = cameras[camera].address;
        return c;
    }

    void run(provision::FleetSettings s, std::function<void(const CameraProgress&, provision::FleetRun&)> hear = {},
             std::size_t parallel = 16)
    {
        std::string error;
        inventory = std::make_shared<provision::FleetInventory>();
        ASSERT_TRUE(inventory->open(folder / "inventory.csv", error)) << error;
        provision::FleetRunner runner(parallel);
        provision::FleetRun* self = nullptr;
        auto run = std::make_shared<provision::FleetRun>(std::move(s), inventory, [&](const CameraProgress& p) {
            heard.push_back(p);
            if (hear) {
                hear(p, *self);
            }
        });
        self = run.get();
        for (std::size_t i = 0; i < cameras.size(); ++i) {
            ASSERT_TRUE(runner.add(run, candidateOf(i)));
        }
        run->wait();
        outcomes = run->outcomes();
        // What the run said of its ledger; the run itself is let go (it holds the inventory open,
        // which Windows would not let a test remove).
        ended = {run->ledgerFailed(), run->ledgerProblem(), run->tally()};
    }

    ScratchFolder folder;
    std::vector<LoopbackCamera> cameras;
    std::shared_ptr<provision::FleetInventory> inventory;
    std::vector<CameraProgress> heard;
    std::vector<CameraProgress> outcomes;
    struct RunEnd
    {
        bool ledgerFailed = false;
        std::string ledgerProblem;
        provision::RunTally tally;
    } ended; // run()'s
};

TEST_F(FleetRunnerTest, EachCameraGetsItsOfficerFromTheRosterAndEveryOutcomeIsRecorded)
{
    const auto roster = rosterOf("Police_Name,device_id,police_id,company_id,company_name\r\n"
                                 "Officer A,CAM-A,PA,U1,Unit One\r\n"
                                 "Officer B,CAM-B,PB,U1,Unit One\r\n");
    struct Row
    {
        provision::NotOnRoster policy;
        std::u16string strangerOfficer; // what the camera not on the roster ends up with
        CameraResult strangerResult;
        const char* strangerRow;
    };
    const Row rows[] = {
        {provision::NotOnRoster::Skip, u"OLD-CAM-C", CameraResult::NotOnRoster,
         ",CAM-C,OLD-CAM-C,not on the roster,,0\r\n"},
        {provision::NotOnRoster::UseSetup, u"SETUP-P", CameraResult::Verified, ",CAM-C,SETUP-P,ok,,0\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.policy));
        cameras.clear();
        inventory.reset(); // held open while it lives, and an open file cannot be removed on Windows
        std::filesystem::remove(folder / "inventory.csv");
        startCameras({u"CAM-A", u"CAM-B", u"CAM-C"});
        auto s = settings();
        s.roster = roster;
        s.notOnRoster = row.policy;
        run(s);

        ASSERT_EQ(outcomes.size(), 3u);
        EXPECT_EQ(outcomes[0].result, CameraResult::Verified) << outcomes[0].message;
        EXPECT_EQ(outcomes[1].result, CameraResult::Verified) << outcomes[1].message;
        EXPECT_EQ(outcomes[2].result, row.strangerResult) << outcomes[2].message;
        EXPECT_EQ(officerOf(0), u"PA");
        EXPECT_EQ(officerOf(1), u"PB");
        EXPECT_EQ(officerOf(2), row.strangerOfficer);
        EXPECT_EQ(cameras[1]->config<DeviceRecord>().text(DeviceRecord::companyName), u"Unit One");
        EXPECT_EQ(cameras[1]->config<DeviceRecord>().text(DeviceRecord::policeName), u"Officer B")
            << "the roster's name, not the setup's";
        if (row.policy == provision::NotOnRoster::Skip) {
            EXPECT_EQ(setConfigFrames(*cameras[2].camera), 0u) << "a skipped camera is left as it was";
        }

        const std::string written = readAll(folder / "inventory.csv");
        EXPECT_EQ(written.rfind(provision::kFleetInventoryHeader, 0), 0u);
        EXPECT_THAT(written, HasSubstr(cameras[0].address + ",CAM-A,PA,ok,,0\r\n"));
        EXPECT_THAT(written, HasSubstr(cameras[1].address + ",CAM-B,PB,ok,,0\r\n"));
        EXPECT_THAT(written, HasSubstr(cameras[2].address + row.strangerRow));
        EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 4);
    }
}

TEST_F(FleetRunnerTest, ACameraThatGoesAwayMidRunIsRecordedAsFailedWhileTheOthersFinish)
{
    startCameras({u"CAM-A", u"CAM-B", u"CAM-C"});
    run(settings(), [&](const CameraProgress& p, provision::FleetRun&) {
        if (p.camera == 1 && p.step == CameraStep::Sent && p.group == Group::Wifi) {
            cameras[1]->stop(); // pulled out between two groups
        }
    });
    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[0].result, CameraResult::Verified);
    EXPECT_EQ(outcomes[1].result, CameraResult::Unreachable);
    EXPECT_THAT(outcomes[1].message, HasSubstr("failed: device: "));
    EXPECT_EQ(outcomes[2].result, CameraResult::Verified);
    EXPECT_EQ(officerOf(0), u"SETUP-P");
    EXPECT_EQ(officerOf(2), u"SETUP-P");
    EXPECT_THAT(readAll(folder / "inventory.csv"),
                HasSubstr(cameras[1].address + ",CAM-B,OLD-CAM-B,failed: device: read the device record"));
    // Every step of a camera is heard in order, ending once with Finished.
    std::map<std::size_t, std::vector<CameraStep>> steps;
    for (const auto& p : heard) {
        steps[p.camera].push_back(p.step);
    }
    for (const auto& [camera, list] : steps) {
        EXPECT_EQ(list.front(), CameraStep::Queued) << camera;
        EXPECT_EQ(std::count(list.begin(), list.end(), CameraStep::Finished), 1) << camera;
        EXPECT_EQ(list.back(), CameraStep::Finished) << camera;
    }
}

TEST_F(FleetRunnerTest, StopLetsEachCameraFinishItsStepAndSendsNothingMore)
{
    startCameras({u"CAM-A", u"CAM-B", u"CAM-C"});
    // The second and third answer slowly, so the first is well inside the run when it stops it.
    cameras[1]->setReplyDelay(std::chrono::milliseconds(200));
    cameras[2]->setReplyDelay(std::chrono::milliseconds(200));
    std::size_t secondAtStop = 0;
    run(
        settings(),
        [&](const CameraProgress& p, provision::FleetRun& run) {
            if (p.camera == 0 && p.step == CameraStep::Sent && p.group == Group::Wifi) {
                secondAtStop = cameras[1]->receivedFrames().size();
                run.stop();
            }
        },
        2); // two workers: the third camera waits in the queue
    ASSERT_EQ(outcomes.size(), 3u);
    // The account table, the device record, the clock, the wifi record read and written back: then nothing.
    EXPECT_EQ(outcomes[0].result, CameraResult::Stopped);
    EXPECT_EQ(outcomes[0].message, "stopped before sending device (sent: wifi)");
    EXPECT_EQ(cameras[0]->receivedFrames().size(), 5u);
    // The second camera was somewhere else; it may finish that step (a group's read and write),
    // nothing after it.
    EXPECT_LE(cameras[1]->receivedFrames().size(), secondAtStop + 2) << outcomes[1].message;
    EXPECT_EQ(outcomes[1].result, CameraResult::Stopped) << outcomes[1].message;
    EXPECT_EQ(outcomes[2].result, CameraResult::Stopped);
    EXPECT_EQ(outcomes[2].message, "stopped before it started");
    EXPECT_EQ(cameras[2]->connectionCount(), 0);
    const std::string written = readAll(folder / "inventory.csv");
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 4) << "stopped cameras are recorded too";
}

TEST_F(FleetRunnerTest, CheckReadsAndComparesWithoutWritingAnything)
{
    startCameras({u"CAM-A", u"CAM-B"});
    WifiRecord wifi = cameras[0]->config<WifiRecord>();
    wifi.setText(WifiRecord::ssid, u"Unit Wifi");
    wifi.setText(WifiRecord::wifiPassword, u"unit-secret");
    cameras[0]->setConfig(wifi);
    cameras[1]->setConfig(wifi);
    auto s = settings();
    s.mode = provision::RunMode::Check;
    s.roster = rosterOf("device_id,police_id,police_name,company_id,company_name\r\n"
                        "CAM-A,OLD-CAM-A,,,\r\n"
                        "CAM-B,PB,Officer B,U1,Unit One\r\n");
    DeviceRecord device = cameras[0]->config<DeviceRecord>();
    for (const Field& f : {DeviceRecord::policeName, DeviceRecord::companyId, DeviceRecord::companyName}) {
        device.setText(f, u"");
    }
    cameras[0]->setConfig(device);
    cameras[0]->clearReceivedFrames();
    run(s);

    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].result, CameraResult::Verified) << outcomes[0].message;
    EXPECT_EQ(outcomes[0].message, "check: ok");
    EXPECT_EQ(outcomes[1].result, CameraResult::Differs);
    EXPECT_EQ(outcomes[1].message, "check: differs");
    EXPECT_EQ(provision::differenceList(outcomes[1].differences),
              "device.policeId, device.policeName, device.companyId, device.companyName");
    for (const auto& camera : cameras) {
        EXPECT_EQ(setConfigFrames(*camera.camera), 0u) << "a check sends nothing";
    }
    EXPECT_EQ(officerOf(1), u"OLD-CAM-B");
    const std::string written = readAll(folder / "inventory.csv");
    // The last cell, the clock offset, may be a second off on a busy machine: its own test checks it.
    EXPECT_THAT(written, HasSubstr(",CAM-A,OLD-CAM-A,check: ok,,"));
    EXPECT_THAT(written, HasSubstr(",CAM-B,OLD-CAM-B,check: differs,\"device.policeId, device.policeName, "
                                   "device.companyId, device.companyName\","));
}

TEST_F(FleetRunnerTest, CamerasWithOneDeviceIdGetNoRosterOfficer)
{
    startCameras({u"TWIN", u"TWIN", u"CAM-C"});
    const auto roster = rosterOf("device_id,police_id,police_name,company_id,company_name\r\n"
                                 "TWIN,PT,Officer T,U1,Unit\r\nCAM-C,PC,Officer C,U1,Unit\r\n");
    // Known to the registry as the watch would know them: both twins present before either runs.
    provision::FleetRunner runner;
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        runner.registry().noteDeviceId(candidateOf(i).label(), i == 2 ? u"CAM-C" : u"TWIN");
    }
    inventory = std::make_shared<provision::FleetInventory>();
    std::string error;
    ASSERT_TRUE(inventory->open(folder / "inventory.csv", error)) << error;
    for (const bool withRoster : {true, false}) {
        SCOPED_TRACE(withRoster ? "with a roster" : "without a roster");
        auto s = settings();
        s.roster = withRoster ? roster : nullptr;
        auto run = std::make_shared<provision::FleetRun>(s, inventory, nullptr);
        for (std::size_t i = 0; i < cameras.size(); ++i) {
            ASSERT_TRUE(runner.add(run, candidateOf(i)));
        }
        run->wait();
        const auto out = run->outcomes();
        if (withRoster) {
            EXPECT_EQ(out[0].result, CameraResult::DuplicateId);
            EXPECT_EQ(out[1].result, CameraResult::DuplicateId);
            EXPECT_EQ(out[0].message, "duplicate device id (also at " + cameras[1].address + ")");
            EXPECT_EQ(setConfigFrames(*cameras[0].camera) + setConfigFrames(*cameras[1].camera), 0u);
            EXPECT_EQ(out[2].result, CameraResult::Verified);
            EXPECT_EQ(officerOf(2), u"PC");
        } else {
            // The same setup for both: sent, and each told of its twin.
            EXPECT_EQ(out[0].result, CameraResult::Verified);
            EXPECT_EQ(out[0].twins, std::vector<std::string>{cameras[1].address});
            EXPECT_EQ(officerOf(0), u"SETUP-P");
        }
    }
    EXPECT_THAT(readAll(folder / "inventory.csv"),
                HasSubstr(cameras[1].address + ",TWIN,OLD-TWIN,duplicate device id (also at " + cameras[0].address));
}

TEST_F(FleetRunnerTest, TheCamerasClockIsMeasuredBeforeAnythingIsWritten)
{
    // One clock for the computer and the simulated camera: the offset is exactly what was set.
    setLocalClock([] { return LocalDateTime{2026, 3, 5, 14, 7, 0}; });
    startCameras({u"CAM-A", u"CAM-B"});
    TimeRecord ahead = cameras[0]->timeRecord();
    ahead.setNumber(TimeRecord::minute, 8);
    ahead.setNumber(TimeRecord::second, 30);
    cameras[0]->setTimeRecord(ahead);
    TimeRecord behind = cameras[1]->timeRecord();
    behind.setNumber(TimeRecord::day, 4);
    cameras[1]->setTimeRecord(behind);
    auto s = settings();
    s.plan.push_back(groupOf(Group::Time, {"zone=UTC+08:00"})); // sets the clock too
    run(s);
    setLocalClock({});
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].clockOffset, 90);
    EXPECT_EQ(outcomes[1].clockOffset, -86400);
    const std::string written = readAll(folder / "inventory.csv");
    EXPECT_THAT(written, HasSubstr(",CAM-A,SETUP-P,ok,,90\r\n"));
    EXPECT_THAT(written, HasSubstr(",CAM-B,SETUP-P,ok,,-86400\r\n")) << "a number, no apostrophe";
}

TEST_F(FleetRunnerTest, ACameraIsHandedBackOnlyAfterItsOutcomeWasRecordedAndTold)
{
    // What the watch reads of a camera handed back must reach the window after the camera's
    // outcome, or the window would drop it as news of a camera still at work.
    startCameras({u"CAM-A", u"CAM-B", u"CAM-C"});
    provision::FleetRunner runner;
    std::mutex mutex;
    std::vector<std::string> order;
    runner.registry().onReleased([&](const std::string& label) {
        std::lock_guard lock(mutex);
        order.push_back("released " + label);
    });
    inventory = std::make_shared<provision::FleetInventory>();
    std::string error;
    ASSERT_TRUE(inventory->open(folder / "inventory.csv", error)) << error;
    auto run = std::make_shared<provision::FleetRun>(settings(), inventory, [&](const CameraProgress& p) {
        if (p.step == CameraStep::Finished) {
            std::lock_guard lock(mutex);
            order.push_back("finished " + p.candidate.label() + (p.recorded ? " recorded" : ""));
        }
    });
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        ASSERT_TRUE(runner.add(run, candidateOf(i)));
    }
    run->wait();
    // The last release may follow the run's end by a moment.
    const auto releases = [&] {
        std::lock_guard lock(mutex);
        return std::count_if(order.begin(), order.end(),
                             [](const std::string& e) { return e.starts_with("released"); });
    };
    for (int i = 0; i < 500 && releases() < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    runner.registry().onReleased({});
    std::lock_guard lock(mutex);
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const auto finished = std::find(order.begin(), order.end(), "finished " + cameras[i].address + " recorded");
        const auto released = std::find(order.begin(), order.end(), "released " + cameras[i].address);
        ASSERT_NE(finished, order.end());
        ASSERT_NE(released, order.end());
        EXPECT_LT(finished - order.begin(), released - order.begin()) << cameras[i].address;
    }
}

TEST_F(FleetRunnerTest, ALongSessionKeepsTheSameFewWorkersAndOnlyItsTally)
{
    startCameras({u"CAM-A", u"CAM-B"});
    provision::FleetRunner runner(4);
    auto s = settings();
    s.plan = {groupOf(Group::Wifi, {"ssid=Unit Wifi"})};
    // One run for the whole session, as orvctl's: what it keeps does not grow with the cameras.
    auto run = std::make_shared<provision::FleetRun>(s, nullptr, nullptr, provision::Outcomes::TallyOnly);
    for (int round = 0; round < 30; ++round) {
        ASSERT_TRUE(runner.add(run, candidateOf(0)));
        ASSERT_TRUE(runner.add(run, candidateOf(1)));
        run->wait();
    }
    EXPECT_LE(runner.workerCount(), 4u);
    EXPECT_GE(runner.workerCount(), 1u);
    EXPECT_TRUE(run->outcomes().empty()) << "finished cameras are not kept";
    const provision::RunTally tally = run->tally();
    EXPECT_EQ(tally.added, 60u);
    EXPECT_EQ(tally.finished, 60u);
    EXPECT_EQ(tally.count(CameraResult::Verified), 60u);
    EXPECT_EQ(tally.lastTrouble, CameraResult::Pending);

    cameras[1]->stop(); // a camera gone: the tally says so
    ASSERT_TRUE(runner.add(run, candidateOf(1)));
    run->wait();
    EXPECT_EQ(run->tally().lastTrouble, CameraResult::Unreachable);
}

TEST_F(FleetRunnerTest, ACameraGoneBeforeItsWorkBeganIsNoCameraWhenTheWatchFoundIt)
{
    // At a dock a camera is pulled out right after its outcome was written, while the watch looks
    // at it again and hands what it half saw to the runner: nothing answers the worker's connect.
    struct Row
    {
        bool fromWatch;
        CameraResult result;
        std::size_t rows; // inventory rows
    };
    for (const Row row : {Row{true, CameraResult::Vanished, 1}, Row{false, CameraResult::Unreachable, 2}}) {
        SCOPED_TRACE(row.fromWatch);
        cameras.clear();
        inventory.reset();
        std::filesystem::remove(folder / "inventory.csv");
        std::filesystem::remove(folder / "ledger.db");
        startCameras({u"CAM-A", u"CAM-B"});
        cameras[1]->stop();
        std::string error;
        std::shared_ptr<ledger::Ledger> ledger = ledger::openLedger((folder / "ledger.db").string(), error);
        ASSERT_TRUE(ledger) << error;
        auto s = settings();
        s.ledger = ledger;
        s.vanishedIsNoCamera = row.fromWatch;
        run(s);
        ASSERT_EQ(outcomes.size(), 2u);
        EXPECT_EQ(outcomes[0].result, CameraResult::Verified);
        EXPECT_EQ(outcomes[1].result, row.result) << outcomes[1].message;
        EXPECT_THAT(outcomes[1].message, HasSubstr("no connection: "));
        EXPECT_EQ(outcomes[1].recorded, !row.fromWatch);
        const std::string written = readAll(folder / "inventory.csv");
        EXPECT_EQ(static_cast<std::size_t>(std::count(written.begin(), written.end(), '\n')), 1 + row.rows)
            << written;
        EXPECT_THAT(written, HasSubstr(cameras[0].address + ",CAM-A,SETUP-P,ok,"));
        std::vector<ledger::Event> events;
        ASSERT_TRUE(ledger->readEvents({}, events));
        EXPECT_EQ(events.size(), row.rows) << "an event for every inventory row, none for no camera";
    }
}

// A ledger that is lost after `good` events: the database gone mid-run.
class LedgerLostAfter : public ledger::Ledger
{
public:
    LedgerLostAfter(std::unique_ptr<ledger::Ledger> real, int good)
        : real_(std::move(real))
        , good_(good)
    {
    }
    std::string location() const override { return real_->location(); }
    bool append(ledger::Event& event) override { return good_-- > 0 && real_->append(event); }
    bool readEvents(const ledger::EventFilter& filter, std::vector<ledger::Event>& events) override
    {
        return real_->readEvents(filter, events);
    }
    std::optional<ledger::ChainHead> head() override { return real_->head(); }
    bool readSnapshot(ledger::LedgerSnapshot& snapshot) override { return real_->readSnapshot(snapshot); }
    const std::string& origin() const override { return real_->origin(); }
    std::string place() const override { return real_->place(); }
    bool hashAt(std::int64_t number, std::optional<std::string>& hash) override { return real_->hashAt(number, hash); }
    bool addCheckpoint(std::int64_t size, const std::string& note) override
    {
        return real_->addCheckpoint(size, note);
    }
    bool readCheckpoints(std::int64_t minSize, std::vector<ledger::StoredCheckpoint>& checkpoints) override
    {
        return real_->readCheckpoints(minSize, checkpoints);
    }
    std::string error() const override { return "server closed the connection"; }
    bool hasRoomForOutcomes(std::string& why) const override
    {
        if (roomFor_-- > 0) {
            return true;
        }
        why = location() + ": its disk has 0 KB free";
        return false;
    }
    // Its disk has room for the outcomes of `cameras` cameras only.
    void setRoomFor(int cameras) { roomFor_ = cameras; }

private:
    std::unique_ptr<ledger::Ledger> real_;
    std::atomic<int> good_;
    mutable std::atomic<int> roomFor_{1000};
};

TEST_F(FleetRunnerTest, EveryOutcomeIsInTheLedgerBeforeItIsTold)
{
    startCameras({u"CAM-A", u"CAM-B"});
    const std::string location = (folder / "ledger.db").string();
    std::string error;
    std::shared_ptr<ledger::Ledger> ledger = ledger::openLedger(location, error);
    ASSERT_TRUE(ledger) << error;
    auto s = settings();
    s.roster = rosterOf("police_id,device_id,police_name,company_id,company_name\r\n"
                        "PA,CAM-A,Officer A,U1,Unit One\r\n"
                        "PB,CAM-B,Officer B,U1,Unit One\r\n");
    s.ledger = ledger;
    provision::EventOrigin origin;
    origin.tool = "orvctl";
    origin.toolVersion = "1.0.0.2";
    s.eventTemplate = provision::startEvent(origin, "provision");
    s.eventTemplate.setupName = "unit.xml";
    std::vector<std::string> seenWhenTold;
    run(s, [&](const CameraProgress& p, provision::FleetRun&) {
        if (p.step != CameraStep::Finished) {
            return;
        }
        // Read through a connection of its own, as another station would.
        std::string openError;
        const auto reader = ledger::openLedger(location, openError);
        std::vector<ledger::Event> events;
        if (reader && reader->readEvents({}, events)) {
            // The other camera may have been recorded since: look for this one's event by number.
            const auto own = std::find_if(events.begin(), events.end(),
                                          [&](const ledger::Event& e) { return e.number == p.ledgerEvent; });
            if (own != events.end() && own->deviceId == utf::toUtf8(p.deviceId)) {
                seenWhenTold.push_back(own->deviceId);
            }
        }
    });
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(seenWhenTold.size(), 2u);

    std::vector<ledger::Event> events;
    ASSERT_TRUE(ledger->readEvents({}, events));
    ASSERT_EQ(events.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const CameraProgress& outcome = outcomes[i];
        const auto event = std::find_if(events.begin(), events.end(),
                                        [&](const ledger::Event& e) { return e.number == outcome.ledgerEvent; });
        ASSERT_NE(event, events.end());
        const std::string id = i == 0 ? "CAM-A" : "CAM-B";
        EXPECT_EQ(event->deviceId, id);
        EXPECT_EQ(event->officerBefore, "OLD-" + id);
        EXPECT_EQ(event->officerAfter, i == 0 ? "PA" : "PB");
        EXPECT_EQ(event->unitBefore, "Old Unit");
        EXPECT_EQ(event->unitAfter, "Unit One");
        EXPECT_EQ(event->where, cameras[i].address);
        EXPECT_EQ(event->kind, "provision");
        EXPECT_EQ(event->tool, "orvctl");
        EXPECT_EQ(event->setupName, "unit.xml");
        EXPECT_EQ(event->groups, "wifi, device");
        EXPECT_EQ(event->result, "ok");
        EXPECT_TRUE(event->clockOffsetSeconds.has_value());
        EXPECT_EQ(event->station, ledger::stationName());
    }
    const std::string values = everyValueIn(folder / "ledger.db");
    EXPECT_THAT(values, HasSubstr("OLD-CAM-A")) << "the search below looks at the events";
    for (const char* secret : {"unit-secret", "wrenq"}) {
        EXPECT_THAT(values, Not(HasSubstr(secret))) << "no password goes into the ledger";
    }
}

TEST_F(FleetRunnerTest, AnOfficerSentButNeverReadBackIsRecordedAsSentAndSaidSo)
{
    struct Row
    {
        const char* name;
        std::function<void(provision::FleetRun&, camsim::SimulatedCamera&)> afterDeviceSent;
        CameraResult result;
        const char* message;
    };
    const Row rows[] = {
        {"the camera falls silent", [](provision::FleetRun&, camsim::SimulatedCamera& c) { c.stayQuiet(true); },
         CameraResult::Unreachable, "failed: wifi: read the Wi-Fi record (type 2): no reply of the expected size"},
        {"Stop is pressed", [](provision::FleetRun& run, camsim::SimulatedCamera&) { run.stop(); },
         CameraResult::Stopped, "stopped before reading back wifi (sent: wifi, device)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        cameras.clear();
        inventory.reset();
        std::filesystem::remove(folder / "inventory.csv");
        std::filesystem::remove(folder / "ledger.db");
        startCameras({u"CAM-A"});
        std::string error;
        std::shared_ptr<ledger::Ledger> ledger = ledger::openLedger((folder / "ledger.db").string(), error);
        ASSERT_TRUE(ledger) << error;
        auto s = settings();
        s.roster = rosterOf("device_id,police_id,police_name,company_id,company_name\r\n"
                            "CAM-A,PA,Officer A,U1,Unit One\r\n");
        s.ledger = ledger;
        s.timeout = std::chrono::milliseconds(300);
        run(s, [&](const CameraProgress& p, provision::FleetRun& fleetRun) {
            if (p.step == CameraStep::Sent && p.group == Group::Device) {
                row.afterDeviceSent(fleetRun, *cameras[0].camera);
            }
        });
        ASSERT_EQ(outcomes.size(), 1u);
        EXPECT_EQ(outcomes[0].result, row.result) << outcomes[0].message;
        EXPECT_EQ(outcomes[0].message, row.message);
        // Login, device record, clock, then each group read and written back.
        ASSERT_TRUE(cameras[0]->waitForFrames(7, std::chrono::seconds(5)));
        EXPECT_EQ(officerOf(0), u"PA") << "the camera took the officer";

        std::vector<ledger::Event> events;
        ASSERT_TRUE(ledger->readEvents({}, events));
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].officerBefore, "OLD-CAM-A");
        EXPECT_EQ(events[0].officerAfter, "PA") << "as sent, since it was not read back";
        EXPECT_EQ(events[0].unitAfter, "Unit One");
        EXPECT_EQ(events[0].groups, "wifi, device");
        EXPECT_EQ(events[0].result, std::string(row.message) + "; device not read back");
    }
}

TEST_F(FleetRunnerTest, ALedgerLostMidRunStartsNoFurtherCameraAndTheInventoryKeepsEveryOutcome)
{
    startCameras({u"CAM-A", u"CAM-B", u"CAM-C"});
    std::string error;
    auto real = ledger::openLedger((folder / "ledger.db").string(), error);
    ASSERT_TRUE(real) << error;
    auto s = settings();
    s.ledger = std::make_shared<LedgerLostAfter>(std::move(real), 1);
    run(s, {}, 1); // one camera after another

    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_NE(outcomes[0].ledgerEvent, 0);
    EXPECT_EQ(outcomes[1].result, CameraResult::Verified) << "the camera at work finished";
    EXPECT_EQ(outcomes[1].ledgerEvent, 0);
    EXPECT_EQ(outcomes[2].result, CameraResult::Stopped);
    EXPECT_EQ(setConfigFrames(*cameras[2].camera), 0u) << "no camera is started once the ledger is lost";
    EXPECT_TRUE(ended.ledgerFailed);
    EXPECT_THAT(ended.ledgerProblem, HasSubstr("server closed the connection"));
    EXPECT_EQ(ended.tally.inventoryOnly, 2u);
    const std::string written = readAll(folder / "inventory.csv");
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 4) << "header and every camera's row";
}

// The disk that keeps the ledger fills during the run: the camera after is sent nothing at all,
// rather than set and then not recorded.
TEST_F(FleetRunnerTest, NoCameraIsSentAnythingWhileTheLedgerHasNoRoomForItsOutcome)
{
    startCameras({u"CAM-A", u"CAM-B", u"CAM-C"});
    std::string error;
    auto real = ledger::openLedger((folder / "ledger.db").string(), error);
    ASSERT_TRUE(real) << error;
    auto s = settings();
    auto ledger = std::make_shared<LedgerLostAfter>(std::move(real), 1000);
    ledger->setRoomFor(1);
    s.ledger = ledger;
    run(s, {}, 1);

    ASSERT_EQ(outcomes.size(), 3u);
    EXPECT_EQ(outcomes[0].result, CameraResult::Verified);
    EXPECT_NE(outcomes[0].ledgerEvent, 0);
    for (std::size_t i : {1u, 2u}) {
        EXPECT_EQ(outcomes[i].result, CameraResult::Stopped) << outcomes[i].message;
        EXPECT_EQ(setConfigFrames(*cameras[i].camera), 0u) << "camera " << i << " was sent its setup";
    }
    EXPECT_TRUE(ended.ledgerFailed);
    EXPECT_THAT(ended.ledgerProblem, HasSubstr("ledger.db: its disk has 0 KB free"));
}

} // namespace
} // namespace orv::test
