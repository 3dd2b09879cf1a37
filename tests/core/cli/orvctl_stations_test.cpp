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

TEST(OrvctlLedgerLost, ServerStoppedDuringProvisionAllStartsNoFurtherCamera)
{
    PostgresServer server;
    START_POSTGRES(server, database);
    ScratchFolder folder;
    writeFile(folder / "setup.xml", kSetup);

    // More cameras than the 16 worked on at once, so that some wait for a worker. The watch hands
    // them to the runner in the order of their addresses; the first sixteen finish one after
    // another, the first well before the second, and the four left wait.
    std::vector<LoopbackCamera> cameras;
    for (int i = 0; i < 20; ++i) {
        camsim::CameraOptions options;
        options.sdkPort = 0;
        cameras.push_back(startCameraOnLoopback(options));
        ASSERT_TRUE(cameras.back());
    }
    std::sort(cameras.begin(), cameras.end(),
              [](const LoopbackCamera& a, const LoopbackCamera& b) { return a.address < b.address; });
    std::vector<std::string> args{"--timeout-ms", "5000", "--poll-ms", "20", "--ledger", server.tcpLocation(database)};
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        cameras[i]->setReplyDelay(std::chrono::milliseconds(i < 16 ? 20 + 50 * i : 300));
        args.insert(args.end(), {"--address", cameras[i].address});
    }
    const std::filesystem::path inventory = folder / "inv.csv";
    args.insert(args.end(), {"provision", (folder / "setup.xml").string(), "--all", "--inventory", inventory.string(),
                             "--count", "20"});

    OrvctlRun run;
    std::thread orvctl([&] { run = runOrvctlWith(args); });
    std::string count;
    for (int i = 0; i < 3000 && (count.empty() || count == "0"); ++i) {
        std::string error;
        const std::vector<std::string> rows = server.query(database, "SELECT count(*) FROM events", error);
        count = rows.empty() ? "" : rows[0];
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const bool stopped = !count.empty() && count != "0" && stopServer(server);
    orvctl.join();
    ASSERT_TRUE(stopped) << "events when stopped: " << count << "\n" << run.out << run.err;

    EXPECT_EQ(run.code, 1) << run.out << run.err;
    const std::string written = readFile(inventory);
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 21) << "every outcome is in the inventory\n" << written;
    std::size_t missing = 0;
    for (std::size_t at = run.out.find("(not in the ledger)"); at != std::string::npos;
         at = run.out.find("(not in the ledger)", at + 1)) {
        ++missing;
    }
    EXPECT_GE(missing, 1u);
    EXPECT_THAT(run.err, StartsWith("orvctl: ledger PostgreSQL database " + database + " on 127.0.0.1:"));
    EXPECT_THAT(run.err, HasSubstr("; no camera was started after it; " + std::to_string(missing) +
                                   (missing == 1 ? " outcome is" : " outcomes are") + " in the inventory only\n"));

    // The cameras that waited for a worker were never started: nothing was written to them.
    std::size_t notStarted = 0;
    for (const LoopbackCamera& c : cameras) {
        const std::size_t row = written.find("," + c.address + ",");
        ASSERT_NE(row, std::string::npos) << c.address;
        const std::string line = written.substr(row, written.find('\n', row) - row);
        if (line.find("stopped before it started") != std::string::npos) {
            ++notStarted;
            EXPECT_FALSE(sentSetConfig(*c.camera)) << c.address;
        }
    }
    EXPECT_GE(notStarted, 1u) << written;
}

TEST(OrvctlLedgerLost, ServerStoppedDuringTheOneCameraLoopEndsItAfterThatCamera)
{
    PostgresServer server;
    START_POSTGRES(server, database);
    ScratchFolder folder;
    writeFile(folder / "setup.xml", kSetup);
    // The address the camera will come to; nobody there yet.
    std::string address;
    {
        const LoopbackCamera probe = startCameraOnLoopback();
        ASSERT_TRUE(probe);
        address = probe.address;
        probe->stop();
    }

    std::mutex mutex;
    std::condition_variable changed;
    bool waiting = false;
    std::istringstream in;
    std::ostringstream out, err;
    cli::CliContext context(in, out, err);
    context.onProvisionEvent = [&](const cli::ProvisionEvent& e) {
        if (e.step == cli::ProvisionStep::WaitingForCamera) {
            std::lock_guard lock(mutex);
            waiting = true;
            changed.notify_all();
        }
    };
    const std::filesystem::path inventory = folder / "inv.csv";
    int code = -1;
    std::thread orvctl([&] {
        code = cli::runOrvctl(std::vector<std::string>{"--ip", address, "--timeout-ms", "2000", "--poll-ms", "20",
                                                       "--ledger", server.tcpLocation(database), "provision",
                                                       (folder / "setup.xml").string(), "--inventory",
                                                       inventory.string(), "--count", "2"},
                              context);
    });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(20), [&] { return waiting; }));
    }
    // The ledger was reached when the loop began; it goes before the first camera comes.
    ASSERT_TRUE(stopServer(server));
    camsim::CameraOptions options;
    options.listenAddress = address;
    options.sdkPort = 0;
    options.log = [](const std::string&) {};
    camsim::SimulatedCamera camera(options);
    std::string error;
    ASSERT_TRUE(camera.start(&error)) << error;
    orvctl.join();

    EXPECT_EQ(code, 1) << out.str() << err.str();
    EXPECT_TRUE(sentSetConfig(camera)) << "the camera was set up";
    const std::string written = readFile(inventory);
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 2) << written;
    EXPECT_THAT(written, HasSubstr(",ok\r\n"));
    EXPECT_THAT(out.str(), HasSubstr("recorded in the inventory only: the ledger PostgreSQL database "));
    EXPECT_THAT(out.str(), Not(HasSubstr("waiting for the camera to go"))) << "the loop ends there";
    EXPECT_THAT(err.str(), HasSubstr("; stopped: 1 outcome is in the inventory only (" + inventory.string() + ")\n"));
}

TEST(OrvctlLedgerLost, ServerStoppedDuringASetStillReportsTheSetAndFails)
{
    PostgresServer server;
    START_POSTGRES(server, database);
    camsim::CameraOptions options;
    options.sdkPort = 0;
    const LoopbackCamera camera = startCameraOnLoopback(options);
    ASSERT_TRUE(camera);
    camera->setReplyDelay(std::chrono::milliseconds(300));

    OrvctlRun run;
    std::thread orvctl([&] {
        run = runOrvctlWith({"--ip", camera.address, "--timeout-ms", "3000", "--ledger", server.tcpLocation(database),
                             "set", "wifi", "ssid=Late"});
    });
    // The ledger was reached before the login; it goes while the camera is being answered.
    const bool loggingIn = camera->waitForFrames(1, std::chrono::seconds(20));
    const bool stopped = loggingIn && stopServer(server);
    orvctl.join();
    ASSERT_TRUE(stopped) << run.out << run.err;

    EXPECT_EQ(run.code, 1);
    EXPECT_EQ(run.out, "set wifi: sent ssid\n") << "the outcome is printed";
    ASSERT_TRUE(camera->waitForFrames(3, std::chrono::seconds(5))) << "login, read, write";
    EXPECT_EQ(camera->config<WifiRecord>().text(WifiRecord::ssid), u"Late");
    EXPECT_THAT(run.err, StartsWith("orvctl: ledger PostgreSQL database " + database + " on 127.0.0.1:"));
    EXPECT_THAT(run.err, HasSubstr("; this outcome is not recorded in it\n"));
}

} // namespace
} // namespace orv::test
