// The console's side of a connection: CameraLink::Exchange reading what a camera answers, fed
// arbitrary bytes in arbitrary pieces by a peer on the other end of a local socket pair. Beyond
// not crashing, checks for every read of a session:
// - the request that went out is the exact frame of that read (header, and GetConfig's selector);
// - the read gives either the record, exactly the `expected` bytes after the first 12 the peer
//   sent, or a failure that leaves the caller's buffer as it was; nothing is written past the
//   record (the buffer is exactly its size);
// - a reply of exactly 12 + expected bytes is taken, a shorter one never is (the peer closing or
//   staying silent: a time-out);
// - what the peer sent for one read, late or too much, never passes for the next read's reply.
// Input: byte 0 says how many of the following bytes are piece sizes (byte 0 % 16, size + 1; 0xFF:
// all that is left at once; at most 32 pieces a reply), then up to four reads, each a byte choosing the read (% 9: time, users, proxy,
// the six configuration records; 0x40: the peer closes after its reply), two bytes of length
// (little-endian) and that many bytes for the peer to send.

#include "link/camera_link.h"
#include "link/records.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace {

using namespace orv;
using namespace std::chrono_literals;
using Bytes = std::span<const std::uint8_t>;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "link_reply_fuzz: %s\n", what);
        std::abort();
    }
}

struct Read
{
    Command command;
    ConfigType type; // GetConfig only
    std::size_t size;
};

template <class Record>
constexpr Read configRead()
{
    return {Command::GetConfig, Record::kType, Record::kSize};
}

constexpr std::array kReads{
    Read{Command::GetTime, ConfigType{}, TimeRecord::kSize},
    Read{Command::GetUsers, ConfigType{}, UserTable::kSize},
    Read{Command::GetProxy, ConfigType{}, ProxyRecord::kSize},
    configRead<DeviceRecord>(),
    configRead<Net4gRecord>(),
    configRead<WifiRecord>(),
    configRead<TtxServerRecord>(),
    configRead<RtsServerRecord>(),
    configRead<FunctionRecord>(),
};

struct Step
{
    Read read;
    bool closeAfter = false;
    Bytes reply; // what the peer sends
};

std::vector<std::uint8_t> expectedRequest(const Read& read)
{
    const bool selector = read.command == Command::GetConfig;
    std::vector<std::uint8_t> frame(kFrameHeaderSize + (selector ? kConfigSelectorSize : 0));
    writeFrameHeader(frame.data(), static_cast<std::uint16_t>(read.command), frame.size() - kFrameHeaderSize);
    if (selector) {
        frame[kFrameHeaderSize] = static_cast<std::uint8_t>(read.type);
    }
    return frame;
}

bool receiveExactly(int fd, std::uint8_t* into, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = ::recv(fd, into, length, 0);
        if (n <= 0) {
            return false;
        }
        into += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

constexpr std::size_t kMaxPieces = 32;

// The camera's end: answers each request with the step's bytes in pieces and says when all of
// them are queued on the link's side, so that the next read starts after them.
class Peer
{
public:
    Peer(int fd, const std::vector<Step>& steps, Bytes cuts)
        : fd_(fd)
        , steps_(steps)
        , cuts_(cuts)
        , thread_([this] { run(); })
    {
    }

    ~Peer() { thread_.join(); }

    void waitForStep(std::size_t step)
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return done_ > step; });
    }

private:
    void run()
    {
        std::size_t piece = 0;
        for (const Step& step : steps_) {
            const std::vector<std::uint8_t> expected = expectedRequest(step.read);
            std::vector<std::uint8_t> request(expected.size());
            check(receiveExactly(fd_, request.data(), request.size()), "the request did not arrive whole");
            check(request == expected, "the request is not the read's frame");
            // At most kMaxPieces pieces, the last one all that is left: each piece takes a buffer of
            // its own in the socket, and bytes the link does not read must fit until the next read.
            for (std::size_t sent = 0, count = 0; sent < step.reply.size(); ++piece, ++count) {
                const std::size_t left = step.reply.size() - sent;
                const bool whole = cuts_.empty() || cuts_[piece % cuts_.size()] == 0xFF || count + 1 >= kMaxPieces;
                const std::size_t n = whole ? left : std::min<std::size_t>(cuts_[piece % cuts_.size()] + 1, left);
                check(::send(fd_, step.reply.data() + sent, n, MSG_NOSIGNAL) == static_cast<ssize_t>(n),
                      "the peer could not send");
                sent += n; // the link may read between any two pieces
            }
            if (step.closeAfter) {
                ::shutdown(fd_, SHUT_WR);
            }
            {
                std::lock_guard lock(mutex_);
                ++done_;
            }
            changed_.notify_all();
            if (step.closeAfter) {
                return;
            }
        }
    }

    int fd_;
    const std::vector<Step>& steps_;
    Bytes cuts_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t done_ = 0;
    std::thread thread_;
};

std::uint8_t fillByte(std::size_t i)
{
    return static_cast<std::uint8_t>(0x5A ^ (i * 13));
}

void exchange(CameraLink& link, const Step& step)
{
    const std::size_t size = step.read.size;
    const std::size_t wanted = kFrameHeaderSize + size;
    // A short reply from a peer that stays: the link must give up at its time limit, kept tiny.
    const bool timesOut = step.reply.size() < wanted && !step.closeAfter;
    link.replyTimeout = timesOut ? 1ms : 10s;

    // Exactly the record's size, so that a byte written past it is caught.
    const auto reply = std::make_unique<std::uint8_t[]>(size);
    for (std::size_t i = 0; i < size; ++i) {
        reply[i] = fillByte(i);
    }
    if (step.read.command == Command::GetConfig) {
        reply[0] = static_cast<std::uint8_t>(step.read.type);
    }
    const std::vector<std::uint8_t> before(reply.get(), reply.get() + size);

    const int result = link.Exchange(static_cast<std::uint16_t>(step.read.command), reply.get(), size);
    check(result == 0 || result == -1, "a read gives neither 0 nor -1");
    if (result == 0) {
        check(step.reply.size() >= wanted, "a record from fewer bytes than a reply has");
        check(std::equal(reply.get(), reply.get() + size, step.reply.begin() + kFrameHeaderSize),
              "the record is not the bytes after the reply's header");
    } else {
        check(std::equal(reply.get(), reply.get() + size, before.begin()), "a failed read changed the buffer");
        check(step.reply.size() != wanted, "a reply of exactly the record's size is not taken");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::size_t cutCount = std::min<std::size_t>(data[0] % 16, size - 1);
    const Bytes cuts(data + 1, cutCount);
    Bytes rest(data + 1 + cutCount, size - 1 - cutCount);

    std::vector<Step> steps;
    while (rest.size() >= 3 && steps.size() < 4) {
        Step step;
        step.read = kReads[rest[0] % kReads.size()];
        step.closeAfter = (rest[0] & 0x40) != 0;
        const std::size_t length = std::min<std::size_t>(rest[1] | (rest[2] << 8), rest.size() - 3);
        step.reply = rest.subspan(3, length);
        rest = rest.subspan(3 + length);
        steps.push_back(step);
        if (step.closeAfter) {
            break;
        }
    }
    if (steps.empty()) {
        return 0;
    }

    static const bool ready = [] {
        StartSockets();
        return socketsReady == 1;
    }();
    check(ready, "no sockets");
    int fds[2];
    check(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0, "no socket pair");
    CameraLink link;
    link.socket = fds[0];
    link.connected = 1;
    {
        Peer peer(fds[1], steps, cuts);
        for (std::size_t i = 0; i < steps.size(); ++i) {
            exchange(link, steps[i]);
            peer.waitForStep(i);
        }
    }
    ::close(fds[1]);
    return 0; // the link closes its end
}
