// The camera link against the simulated camera on loopback, beside the physical floor: a plain
// loopback TCP pair ping-ponging the same byte counts.
//   build/bin/link_bench
#include "link/commands.h"
#include "tools/camsim/simulated_camera.h"

#include "bench/ratio_reporter.h"

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

using namespace orv;

namespace {

constexpr const char* kAddress = "127.0.99.1";

camsim::SimulatedCamera& camera()
{
    static camsim::SimulatedCamera* cam = [] {
        camsim::CameraOptions options;
        options.listenAddress = kAddress;
        options.log = [](const std::string&) {};
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

// Echo server for the floor: reads `request` bytes, answers `reply` bytes, until closed.
struct FloorPair
{
    int client = -1;
    std::thread server;

    FloorPair(std::size_t request, std::size_t reply)
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(0x7F006302); // 127.0.99.2
        ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(listener, 1);
        socklen_t len = sizeof addr;
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
        client = ::socket(AF_INET, SOCK_STREAM, 0);
        ::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        const int peer = ::accept(listener, nullptr, nullptr);
        ::close(listener);
        server = std::thread([peer, request, reply] {
            std::vector<char> in(request), out(reply, 'x');
            for (;;) {
                std::size_t got = 0;
                while (got < request) {
                    const ssize_t n = ::recv(peer, in.data() + got, request - got, 0);
                    if (n <= 0) {
                        ::close(peer);
                        return;
                    }
                    got += static_cast<std::size_t>(n);
                }
                ::send(peer, out.data(), out.size(), MSG_NOSIGNAL);
            }
        });
    }

    void roundTrip(std::size_t request, std::size_t reply)
    {
        std::vector<char> out(request, 'r'), in(reply);
        ::send(client, out.data(), out.size(), MSG_NOSIGNAL);
        std::size_t got = 0;
        while (got < reply) {
            const ssize_t n = ::recv(client, in.data() + got, reply - got, 0);
            if (n <= 0) {
                return;
            }
            got += static_cast<std::size_t>(n);
        }
    }

    ~FloorPair()
    {
        ::shutdown(client, SHUT_RDWR);
        ::close(client);
        server.join();
    }
};



void BM_GetConfigExchange(benchmark::State& state)
{
    camera();
    StartSockets();
    CameraLink link;
    link.Open();
    link.Connect(kAddress);
    DeviceRecord device;
    for (auto _ : state) {
        if (GetConfig(link, device) != 0) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
}
BENCHMARK(BM_GetConfigExchange)->UseRealTime();

void BM_GetConfigFloor(benchmark::State& state)
{
    const std::size_t request = 18;
    const std::size_t reply = 12 + DeviceRecord::kSize;
    FloorPair pair(request, reply);
    for (auto _ : state) {
        pair.roundTrip(request, reply);
    }
}
BENCHMARK(BM_GetConfigFloor)->UseRealTime();

void BM_Login(benchmark::State& state)
{
    camera();
    StartSockets();
    CameraLink link;
    for (auto _ : state) {
        if (!link.Open() || !link.Connect(kAddress) || CheckLogin(link, u"admin", u"wrenq") != 1) {
            state.SkipWithError("login failed");
            break;
        }
    }
    link.Close();
}
BENCHMARK(BM_Login)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench::RatioReporter reporter({{"GetConfig exchange / loopback floor (target <= 1.5x)", "BM_GetConfigExchange/real_time",
                                     "BM_GetConfigFloor/real_time"}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
