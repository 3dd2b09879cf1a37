// A link tied to one interface reaches the camera behind it or fails saying why, never by a
// connect that silently went elsewhere; probes find every camera at once.
#include "fleet/camera_probe.h"
#include "link/camera_link.h"
#include "link/commands.h"
#include "tests/support/camera_on_loopback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#ifdef __linux__
#include <net/if.h>
#include <sys/socket.h>
#endif

using namespace orv;
using namespace orv::fleet;
using namespace std::chrono_literals;

namespace {

// Loopback addresses where nothing listens: a refusal comes back at once.
std::string absentAddress(int n)
{
    return "127.0.31." + std::to_string(n);
}

Candidate plain(const std::string& address)
{
    Candidate c;
    c.address = address;
    return c;
}

class Binding : public ::testing::Test
{
protected:
    void SetUp() override
    {
        StartSockets();
        cam = test::startCameraOnLoopback();
        ASSERT_TRUE(cam);
        ASSERT_TRUE(link.Open());
    }

    test::LoopbackCamera cam;
    CameraLink link;
};

TEST_F(Binding, FailedConnectsSayWhyAndNeverGoUnbound)
{
    struct Row
    {
        std::string name;
        unsigned index;
        std::string address; // empty: the camera's
        std::string reason;  // a part of lastFailure()
    };
    const std::vector<Row> rows{
        {"", 0, "192.168.2", "\"192.168.2\" is not an IPv4 address"},
        {"", 0, absentAddress(1), "cannot connect to " + absentAddress(1) + ":19436: "},
#ifdef _WIN32
        {"Ethernet 9", 0, "", "\"Ethernet 9\" has no known index"},
#else
        {"orvnosuch0", 0, "", "\"orvnosuch0\""},
        {"an-interface-name-too-long", 0, "", "too long"},
        {"", 999999, "", "no network interface has index 999999"},
#endif
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reason);
        ASSERT_TRUE(link.Open());
        link.boundInterface = {row.name, row.index};
        EXPECT_FALSE(link.Connect(row.address.empty() ? cam.address : row.address)) << "a camera answers there unbound";
        EXPECT_EQ(link.connected, 0);
        EXPECT_NE(link.lastFailure().find(row.reason), std::string::npos) << link.lastFailure();
    }

    // Unbound again, it is today's link.
    ASSERT_TRUE(link.Open());
    link.boundInterface = {};
    EXPECT_TRUE(link.Connect(cam.address)) << link.lastFailure();
    EXPECT_TRUE(link.lastFailure().empty());
    TimeRecord time;
    EXPECT_EQ(GetTime(link, time), 0);
}

#ifdef __linux__
TEST_F(Binding, BoundToLoopbackReachesTheCameraThroughIt)
{
    link.boundInterface = {"lo", 0};
    const bool connected = link.Connect(cam.address);
    if (!connected && link.lastFailure().find("CAP_NET_RAW") != std::string::npos) {
        GTEST_SKIP() << link.lastFailure();
    }
    ASSERT_TRUE(connected) << link.lastFailure();
    // A connect that succeeded unbound would pass the line above as well: ask the socket.
    char device[IFNAMSIZ] = {};
    socklen_t length = sizeof device;
    ASSERT_EQ(::getsockopt(link.socket, SOL_SOCKET, SO_BINDTODEVICE, device, &length), 0);
    EXPECT_STREQ(device, "lo");
    TimeRecord time;
    EXPECT_EQ(GetTime(link, time), 0);
}
#endif

class Probe : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (int i = 0; i < 3; ++i) {
            cams.push_back(test::startCameraOnLoopback());
            ASSERT_TRUE(cams.back());
        }
        options.timeout = 2s;
    }

    std::vector<test::LoopbackCamera> cams;
    ProbeOptions options;
};

TEST_F(Probe, FindsEveryCameraAndOnlyThem)
{
    const std::vector<Candidate> candidates{plain(absentAddress(2)), plain(cams[0].address), plain(cams[1].address),
                                            plain(absentAddress(3)), plain(cams[2].address), plain(absentAddress(4))};
    const auto results = probeCandidates(candidates, options);
    ASSERT_EQ(results.size(), candidates.size());
    const std::vector<bool> expected{false, true, true, false, true, false};
    for (std::size_t i = 0; i < results.size(); ++i) {
        SCOPED_TRACE(candidates[i].label());
        EXPECT_EQ(results[i].candidate, candidates[i]) << "results keep the candidates' order";
        EXPECT_EQ(results[i].present, expected[i]);
        EXPECT_EQ(results[i].reason.empty(), expected[i]) << results[i].reason;
    }
    for (const auto& cam : cams) {
        EXPECT_TRUE(cam->waitUntilServing(1s)) << "a probe leaves the camera serving";
    }
    EXPECT_TRUE(probeCandidates({}, options).empty());
}

// Counts the probes in flight; each holds until `wanted` are in flight together (or gives up
// after a long while), so a serial run shows as a count that never rises.
class InFlight
{
public:
    explicit InFlight(std::size_t wanted)
        : wanted_(wanted)
    {
    }

    ProbeFunction around(ProbeFunction probe)
    {
        return [this, probe](const Candidate& c, const ProbeOptions& o) {
            {
                std::unique_lock lock(mutex_);
                ++now_;
                most_ = std::max(most_, now_);
                changed_.notify_all();
                changed_.wait_for(lock, 5s, [&] { return most_ >= wanted_; });
            }
            auto result = probe(c, o);
            std::lock_guard lock(mutex_);
            --now_;
            return result;
        };
    }

    std::size_t most() const { return most_; }

private:
    std::size_t wanted_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t now_ = 0;
    std::size_t most_ = 0;
};

TEST_F(Probe, AllCandidatesAreProbedTogether)
{
    std::vector<Candidate> candidates;
    for (int i = 0; i < 5; ++i) {
        candidates.push_back(plain(absentAddress(10 + i)));
    }
    for (const auto& cam : cams) {
        candidates.push_back(plain(cam.address));
    }
    InFlight flight(candidates.size());
    const auto results = probeCandidates(candidates, options, flight.around(probeCandidate));
    EXPECT_EQ(flight.most(), candidates.size());
    EXPECT_EQ(std::count_if(results.begin(), results.end(), [](const ProbeResult& r) { return r.present; }), 3);
}

#ifdef __linux__
TEST_F(Probe, BoundCandidateIsFoundThroughItsInterface)
{
    Candidate viaLoopback = plain(cams[0].address);
    viaLoopback.via = {"lo", 0};
    Candidate viaNothing = plain(cams[1].address);
    viaNothing.via = {"orvnosuch0", 0};
    const auto results = probeCandidates({viaLoopback, viaNothing}, options);
    if (!results[0].present && results[0].reason.find("CAP_NET_RAW") != std::string::npos) {
        GTEST_SKIP() << results[0].reason;
    }
    EXPECT_TRUE(results[0].present) << results[0].reason;
    EXPECT_FALSE(results[1].present) << "the camera is there, but not behind that interface";
    EXPECT_NE(results[1].reason.find("orvnosuch0"), std::string::npos);
}
#endif

} // namespace
