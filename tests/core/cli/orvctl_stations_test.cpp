// Several stations and a ledger that goes away: two orvctl processes provisioning their own
// cameras into one SQLite file or one PostgreSQL database at once, and a PostgreSQL server
// stopped while cameras are being provisioned (no camera is started after it, every outcome still
// reaches the inventory). POSIX only: the stations are real processes, the server a real one.
#include "ledger/ledger.h"
#include "tests/core/cli/orvctl_fixture.h"
#include "tests/support/start_postgres.h"

#include <gmock/gmock.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <thread>

extern char** environ;

namespace orv::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr std::uint16_t kSetConfig = 897;

constexpr const char* kSetup = R"(<?xml version="1.0" encoding="UTF-8"?>
<root>
    <wifi ssid="Station Wifi" password="station-secret"/>
    <device deviceid="" policeid="S-1" policename="Station" companyid="U9" companyname="Dock"/>
</root>
)";

// orvctl as its own process, its output in files; the exit code, or -1 when it did not end in time.
class Station
{
public:
    Station(std::vector<std::string> args, const std::filesystem::path& output)
        : out_(output.string() + ".out")
        , err_(output.string() + ".err")
    {
        args.insert(args.begin(), ORV_ORVCTL_BINARY);
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&files, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&files, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&pid_, argv[0], &files, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&files);
    }
    ~Station()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    int wait(std::chrono::seconds limit = std::chrono::seconds(90))
    {
        const auto until = std::chrono::steady_clock::now() + limit;
        while (pid_ > 0) {
            int status = 0;
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            if (std::chrono::steady_clock::now() > until) {
                return -1; // the destructor ends it
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }

    std::string output() const { return readFile(out_) + readFile(err_); }

private:
    std::string out_;
    std::string err_;
    pid_t pid_ = -1;
};

bool sentSetConfig(const camsim::SimulatedCamera& camera)
{
    const auto frames = camera.receivedFrames();
    return std::any_of(frames.begin(), frames.end(),
                       [](const camsim::ReceivedFrame& f) { return f.command == kSetConfig; });
}

// Stops the server as its administrator would, the way a crash of its machine looks to a client:
// the postmaster is told to shut down (its sessions are ended) and is gone when this returns.
bool stopServer(const PostgresServer& server)
{
    std::ifstream pidFile(server.socketFolder() / "data" / "postmaster.pid");
    pid_t pid = 0;
    if (!(pidFile >> pid) || pid <= 0 || ::kill(pid, SIGINT) != 0) {
        return false;
    }
    for (int i = 0; i < 3000 && ::kill(pid, 0) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ::kill(pid, 0) != 0;
}

// A server and database of the test's own, or why the test cannot run.

class OrvctlStations : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (int i = 0; i < 8; ++i) {
            camsim::CameraOptions options;
            options.sdkPort = 0;
            cameras.push_back(startCameraOnLoopback(options));
            ASSERT_TRUE(cameras.back());
            // Slow enough that the two stations work side by side.
            cameras.back()->setReplyDelay(std::chrono::milliseconds(5));
        }
        writeFile(folder / "setup.xml", kSetup);
    }

    // Both stations, four cameras each, provisioning into `location` at once.
    void provisionFromTwoStations(const std::string& location)
    {
        std::vector<std::unique_ptr<Station>> stations;
        for (int s = 0; s < 2; ++s) {
            std::vector<std::string> args{"--timeout-ms", "3000", "--poll-ms", "20", "--ledger", location};
            for (int i = 0; i < 4; ++i) {
                args.insert(args.end(), {"--address", cameras[static_cast<std::size_t>(s * 4 + i)].address});
            }
            const std::string inventory = (folder / ("station" + std::to_string(s) + ".csv")).string();
            args.insert(args.end(), {"provision", (folder / "setup.xml").string(), "--all", "--inventory", inventory,
                                     "--count", "4"});
            stations.push_back(std::make_unique<Station>(args, folder / ("station" + std::to_string(s))));
        }
        for (auto& station : stations) {
            EXPECT_EQ(station->wait(), 0) << station->output();
        }

        const std::vector<ledger::Event> events = eventsIn(location);
        ASSERT_EQ(events.size(), 8u);
        std::set<std::string> devices;
        for (std::size_t i = 0; i < events.size(); ++i) {
            EXPECT_EQ(events[i].number, static_cast<std::int64_t>(i + 1)) << "numbered without gaps";
            EXPECT_EQ(events[i].result, "ok");
            devices.insert(events[i].deviceId);
        }
        std::set<std::string> expected;
        for (const LoopbackCamera& c : cameras) {
            expected.insert(c->deviceId());
        }
        EXPECT_EQ(devices, expected) << "every camera's event is there";
        const OrvctlRun verify = runOrvctlWith({"--ledger", location, "ledger", "verify"});
        EXPECT_EQ(verify.code, 0) << verify.out << verify.err;
        EXPECT_THAT(verify.out, StartsWith("intact: 8 events, head 8 "));
    }

    std::vector<LoopbackCamera> cameras;
    ScratchFolder folder;
};

TEST_F(OrvctlStations, TwoStationsIntoOneSqliteFile)
{
    provisionFromTwoStations((folder / "shared.db").string());
}

TEST_F(OrvctlStations, TwoStationsIntoOnePostgresDatabase)
{
    PostgresServer& server = PostgresServer::shared();
    START_POSTGRES(server, database);
    provisionFromTwoStations(server.tcpLocation(database));
}

// What this station's spool says of the shared ledger at `location`, as `orvctl ledger status --json`.
std::string spoolStatus(const std::string& location)
{
    const OrvctlRun run = runOrvctlWith({"--ledger", location, "--json", "ledger", "status"});
    EXPECT_EQ(run.code, 0) << run.err;
    return run.out;
}

// The shared ledger's events: each once, each station's in its own order (station sequence rising
// with the number), every one of the spool's fields set.
void expectEachOnceInStationOrder(const std::vector<ledger::Event>& events)
{
    std::set<std::string> ids;
    std::map<std::string, std::int64_t> lastOfSpool;
    for (const ledger::Event& e : events) {
        ASSERT_FALSE(e.eventId.empty()) << "event " << e.number << " came through a spool";
        EXPECT_TRUE(ids.insert(e.eventId).second) << e.eventId << " twice";
        ASSERT_TRUE(e.stationSequence.has_value());
        EXPECT_FALSE(e.arrivedUtc.empty());
        const std::string spool = e.eventId.substr(0, e.eventId.find(':'));
        EXPECT_EQ(*e.stationSequence, lastOfSpool[spool] + 1) << "event " << e.number << " of " << spool;
        lastOfSpool[spool] = *e.stationSequence;
    }
}

TEST(OrvctlLedgerAway, ServerStoppedWhileTwentyCamerasAreProvisionedLosesNothing)
{
    PostgresServer server;
    START_POSTGRES(server, database);
    ScratchFolder folder;
    writeFile(folder / "setup.xml", kSetup);
    const std::string location = server.tcpLocation(database);

    // More cameras than the 16 worked on at once, so that some are started after the server went.
    std::vector<LoopbackCamera> cameras;
    for (int i = 0; i < 20; ++i) {
        camsim::CameraOptions options;
        options.sdkPort = 0;
        cameras.push_back(startCameraOnLoopback(options));
        ASSERT_TRUE(cameras.back());
    }
    std::vector<std::string> args{"--timeout-ms", "5000", "--poll-ms", "20", "--ledger", location};
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        cameras[i]->setReplyDelay(std::chrono::milliseconds(i < 16 ? 20 + 50 * i : 300));
        args.insert(args.end(), {"--address", cameras[i].address});
    }
    const std::filesystem::path inventory = folder / "inv.csv";
    args.insert(args.end(), {"provision", (folder / "setup.xml").string(), "--all", "--inventory", inventory.string(),
                             "--count", "20"});

    OrvctlRun run;
    std::thread orvctl([&] { run = runOrvctlWith(args); });
    // Stopped once the run has begun: the station reached the ledger before the first camera.
    bool begun = false;
    for (int i = 0; i < 3000 && !begun; ++i) {
        begun = std::any_of(cameras.begin(), cameras.end(), [](const LoopbackCamera& c) {
            return c->waitForFrames(1, std::chrono::milliseconds(0));
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const bool stopped = begun && stopServer(server);
    orvctl.join();
    ASSERT_TRUE(stopped) << run.out << run.err;

    EXPECT_EQ(run.code, 0) << "every camera was done and recorded\n" << run.out << run.err;
    const std::string written = readFile(inventory);
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 21) << written;
    for (const LoopbackCamera& c : cameras) {
        EXPECT_TRUE(sentSetConfig(*c.camera)) << c.address;
    }
    EXPECT_THAT(run.out, Not(HasSubstr("(not in the ledger)")));
    EXPECT_THAT(run.err, HasSubstr("20 events wait in this station's spool (orvctl ledger sync)"));
    EXPECT_THAT(spoolStatus(location), HasSubstr("\"waiting\":20"));

    // The server comes back 30 s later; the station forwards what waits.
    std::this_thread::sleep_for(std::chrono::seconds(30));
    ASSERT_TRUE(server.startAgain());
    const OrvctlRun sync = runOrvctlWith({"--ledger", location, "ledger", "sync"});
    EXPECT_EQ(sync.code, 0) << sync.out << sync.err;
    EXPECT_THAT(sync.out, HasSubstr("forwarded 20 events to PostgreSQL database " + database));
    EXPECT_THAT(spoolStatus(location), HasSubstr("\"waiting\":0"));

    const std::vector<ledger::Event> events = eventsIn(location);
    ASSERT_EQ(events.size(), 20u);
    expectEachOnceInStationOrder(events);
    std::set<std::string> devices;
    for (const ledger::Event& e : events) {
        EXPECT_EQ(e.result, "ok");
        devices.insert(e.deviceId);
    }
    EXPECT_EQ(devices.size(), 20u);
    const OrvctlRun again = runOrvctlWith({"--ledger", location, "ledger", "sync"});
    EXPECT_THAT(again.out, HasSubstr("forwarded 0 events")) << "nothing twice";
    const OrvctlRun verify = runOrvctlWith({"--ledger", location, "ledger", "verify"});
    EXPECT_EQ(verify.code, 0) << verify.out << verify.err;
    EXPECT_THAT(verify.out, StartsWith("intact: 20 events, head 20 "));
}

TEST(OrvctlLedgerAway, ServerStoppedDuringASetRecordsTheSetInTheSpool)
{
    PostgresServer server;
    START_POSTGRES(server, database);
    const std::string location = server.tcpLocation(database);
    camsim::CameraOptions options;
    options.sdkPort = 0;
    const LoopbackCamera camera = startCameraOnLoopback(options);
    ASSERT_TRUE(camera);
    camera->setReplyDelay(std::chrono::milliseconds(300));

    OrvctlRun run;
    std::thread orvctl([&] {
        run = runOrvctlWith({"--ip", camera.address, "--timeout-ms", "3000", "--ledger", location, "set", "wifi",
                             "ssid=Late"});
    });
    // The ledger was reached before the login; it goes while the camera is being answered.
    const bool loggingIn = camera->waitForFrames(1, std::chrono::seconds(20));
    const bool stopped = loggingIn && stopServer(server);
    orvctl.join();
    ASSERT_TRUE(stopped) << run.out << run.err;

    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(run.out, "set wifi: sent ssid\n");
    EXPECT_EQ(camera->config<WifiRecord>().text(WifiRecord::ssid), u"Late");
    EXPECT_THAT(run.err, StartsWith("orvctl: ledger PostgreSQL database " + database + " on 127.0.0.1:"));
    EXPECT_THAT(run.err, HasSubstr("1 event waits in this station's spool (orvctl ledger sync)\n"));

    // The next command forwards it before it begins.
    ASSERT_TRUE(server.startAgain());
    const OrvctlRun next = runOrvctlWith({"--ip", camera.address, "--timeout-ms", "3000", "--ledger", location, "set",
                                          "wifi", "ssid=Early"});
    EXPECT_EQ(next.code, 0) << next.err;
    const std::vector<ledger::Event> events = eventsIn(location);
    ASSERT_EQ(events.size(), 2u);
    expectEachOnceInStationOrder(events);
    EXPECT_EQ(events[0].kind, "set");
    EXPECT_EQ(events[1].kind, "set");
}

TEST(OrvctlLedgerAway, NoOfflineTimeStopsTheRunBeforeAnythingIsSent)
{
    PostgresServer server;
    START_POSTGRES(server, database);
    const std::string location = server.tcpLocation(database);
    ScratchFolder folder;
    writeFile(folder / "station.ini", "[Ledger]\nOfflineHours=0\n");
    ::setenv("ORV_MACHINE_SETTINGS", (folder / "station.ini").c_str(), 1);
    camsim::CameraOptions options;
    options.sdkPort = 0;
    const LoopbackCamera camera = startCameraOnLoopback(options);
    ASSERT_TRUE(camera);
    EXPECT_EQ(runOrvctlWith({"--ledger", location, "ledger", "sync"}).code, 0) << "the station knows the ledger";
    ASSERT_TRUE(stopServer(server));
    const OrvctlRun run =
        runOrvctlWith({"--ip", camera.address, "--timeout-ms", "3000", "--ledger", location, "set", "wifi", "ssid=No"});
    ::unsetenv("ORV_MACHINE_SETTINGS");
    EXPECT_EQ(run.code, 1);
    EXPECT_THAT(run.err, HasSubstr("this station may not work without the shared ledger (OfflineHours is 0)"));
    EXPECT_FALSE(camera->waitForFrames(1, std::chrono::milliseconds(0))) << "nothing was sent";
}

} // namespace
} // namespace orv::test
