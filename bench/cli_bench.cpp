// `orvctl apply` against the simulated camera on loopback, beside the floor: a plain loopback TCP
// pair that replays the very requests and replies of one apply (same sizes, same order, replies
// only where the camera answers).
//   build/bin/cli_bench
#include "link/commands.h"
#include "persist/setup_document.h"
#include "provision/camera_session.h"
#include "provision/setup_apply.h"
#include "tools/camsim/simulated_camera.h"

#include "bench/ratio_reporter.h"
#include "bench/unit_setup.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace orv;
using orv::bench::unitPlan;

namespace {

constexpr const char* kCameraAddress = "127.0.50.200";
constexpr std::uint32_t kFloorAddress = 0x7F0032C9; // 127.0.50.201

camsim::SimulatedCamera& camera()
{
    static camsim::SimulatedCamera* cam = [] {
        camsim::CameraOptions options;
        options.listenAddress = kCameraAddress;
        options.log = [](const std::string&) {};
        options.keepFrames = false;
        auto* c = new camsim::SimulatedCamera(options);
        std::string error;
        if (!c->start(&error)) {
            std::fprintf(stderr, "cannot start the simulated camera: %s\n", error.c_str());
            std::exit(1);
        }
        return c;
    }();
    return *cam;
}

struct Step
{
    std::size_t request = 0;
    std::size_t reply = 0; // 0: a write, nothing comes back
};

// The requests and replies of one apply, as they crossed the link.
std::vector<Step> applySteps()
{
    static const std::vector<Step> steps = [] {
        CameraLink link;
        provision::connectAndLogin(link, kCameraAddress, u"admin", u"wrenq");
        std::vector<Step> recorded;
        setFrameTrace([&](FrameDirection direction, const std::uint8_t*, std::size_t length) {
            if (direction == FrameDirection::Out) {
                recorded.push_back({length, 0});
            } else if (!recorded.empty()) {
                recorded.back().reply += length;
            }
        });
        provision::applySetup(link, unitPlan());
        setFrameTrace({});
        return recorded;
    }();
    return steps;
}

bool readExactly(int socket, std::vector<char>& buffer, std::size_t size)
{
    buffer.resize(size);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::recv(socket, buffer.data() + got, size - got, 0);
        if (n <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

// A loopback pair whose server answers the recorded steps in order, over and over.
struct FloorPair
{
    int client = -1;
    std::thread server;

    explicit FloorPair(const std::vector<Step>& steps)
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(kFloorAddress);
        ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listener, 1);
        socklen_t len = sizeof addr;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
        client = ::socket(AF_INET, SOCK_STREAM, 0);
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one); // as the link opens its socket
        ::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        const int peer = ::accept(listener, nullptr, nullptr);
        ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one); // as the simulated camera
        ::close(listener);
        server = std::thread([peer, steps] {
            std::vector<char> in;
            for (;;) {
                for (const Step& step : steps) {
                    if (!readExactly(peer, in, step.request)) {
                        ::close(peer);
                        return;
                    }
                    if (step.reply > 0) {
                        const std::vector<char> out(step.reply, 'x');
                        ::send(peer, out.data(), out.size(), MSG_NOSIGNAL);
                    }
                }
            }
        });
    }

    bool replay(const std::vector<Step>& steps)
    {
        std::vector<char> in;
        for (const Step& step : steps) {
            const std::vector<char> out(step.request, 'r');
            if (::send(client, out.data(), out.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(out.size())) {
                return false;
            }
            if (step.reply > 0 && !readExactly(client, in, step.reply)) {
                return false;
            }
        }
        return true;
    }

    ~FloorPair()
    {
        ::shutdown(client, SHUT_RDWR);
        ::close(client);
        server.join();
    }
};

void BM_Apply(benchmark::State& state)
{
    camera();
    const std::vector<provision::GroupPlan> plan = unitPlan();
    CameraLink link;
    if (provision::connectAndLogin(link, kCameraAddress, u"admin", u"wrenq") != provision::LoginOutcome::LoggedIn) {
        state.SkipWithError("login failed");
        return;
    }
    for (auto _ : state) {
        if (!provision::applySetup(link, plan).verified()) {
            state.SkipWithError("apply did not verify");
            break;
        }
    }
    state.counters["requests"] = static_cast<double>(applySteps().size());
}
BENCHMARK(BM_Apply)->UseRealTime()->Unit(benchmark::kMillisecond);

// Both ends with TCP_NODELAY, as the link and the simulated camera open theirs: with Nagle on,
// each request would wait out the peer's delayed acknowledgement and the "floor" would be
// hundreds of times slower than the apply it is meant to bound.
void BM_ApplyFloor(benchmark::State& state)
{
    camera();
    const std::vector<Step> steps = applySteps();
    FloorPair pair(steps);
    for (auto _ : state) {
        if (!pair.replay(steps)) {
            state.SkipWithError("floor pair broke");
            break;
        }
    }
    state.counters["requests"] = static_cast<double>(steps.size());
}
BENCHMARK(BM_ApplyFloor)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter({
        {"apply / loopback floor of the same requests and replies", "BM_Apply/real_time", "BM_ApplyFloor/real_time"},
    });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
