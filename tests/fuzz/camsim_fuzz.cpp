// The simulated camera's side of a connection, without sockets: an arbitrary byte stream arrives
// in pieces of arbitrary size, FrameReader cuts it into requests, CameraState answers them and
// replyFrame builds what goes back. Beyond not crashing (and not allocating from a length that was
// read: run with -malloc_limit_mb), checks:
// - the requests found do not depend on how the stream was cut: they are the ones a plain scan
//   of the whole stream finds, and no byte is lost or counted twice;
// - every reply has the size the link waits for (12 + the record of that command) and a header
//   with the magic, the fixed word, the right length and the request's command;
// - only the reads are answered, and a well-formed read always is;
// - a record set is the record read next, until a factory reset.
// Input: byte 0 says how many of the following bytes are piece sizes (byte 0 % 16), the rest is
// the stream.

#include "link/frame.h"
#include "link/records.h"
#include "tools/camsim/camera_state.h"
#include "tools/camsim/frame_reader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace {

using namespace orv;
using camsim::FrameReader;

void check(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "camsim_fuzz: %s\n", what);
        std::abort();
    }
}

using Bytes = std::span<const std::uint8_t>;

template <class Record>
constexpr std::pair<ConfigType, std::size_t> configSize()
{
    return {Record::kType, Record::kSize};
}

constexpr std::array kConfigSizes{configSize<DeviceRecord>(),    configSize<Net4gRecord>(),
                                  configSize<WifiRecord>(),      configSize<TtxServerRecord>(),
                                  configSize<RtsServerRecord>(), configSize<FunctionRecord>()};

// The payload size the link waits for after this request; nullopt when it waits for nothing.
std::optional<std::size_t> expectedReply(std::uint16_t command, Bytes payload)
{
    switch (static_cast<Command>(command)) {
        case Command::GetTime:
            return payload.empty() ? std::optional(TimeRecord::kSize) : std::nullopt;
        case Command::GetUsers:
            return payload.empty() ? std::optional(UserTable::kSize) : std::nullopt;
        case Command::GetProxy:
            return payload.empty() ? std::optional(ProxyRecord::kSize) : std::nullopt;
        case Command::GetConfig:
            if (payload.size() == ConfigSelector::kSize) {
                for (const auto& [type, size] : kConfigSizes) {
                    if (payload[0] == static_cast<std::uint8_t>(type)) {
                        return size;
                    }
                }
            }
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

constexpr std::uint16_t kProxyKey = 0x100;

// The record that a read or write touches: its configuration type, or kProxyKey.
std::optional<std::uint16_t> recordKey(std::uint16_t command, Bytes request)
{
    switch (static_cast<Command>(command)) {
        case Command::GetConfig:
        case Command::SetConfig:
            return request.empty() ? std::nullopt : std::optional<std::uint16_t>(request[0]);
        case Command::GetProxy:
        case Command::SetProxy:
            return kProxyKey;
        default:
            return std::nullopt;
    }
}

// The requests in the whole stream as a plain scan finds them: from each point the first full
// magic, a complete header whose length a request can have, and all its bytes.
struct Scan
{
    std::vector<Bytes> frames;
    std::optional<std::uint32_t> badLength; // the scan stopped at a header no request can have
};

Scan scanStream(Bytes stream)
{
    Scan scan;
    std::size_t pos = 0;
    for (;;) {
        const auto at =
            std::search(stream.begin() + static_cast<long>(pos), stream.end(), kFrameMagic.begin(), kFrameMagic.end());
        const auto start = static_cast<std::size_t>(at - stream.begin());
        if (at == stream.end() || stream.size() - start < kFrameHeaderSize) {
            return scan;
        }
        const std::uint32_t length = getLe32(stream.data() + start + 6);
        if (length < 2 || length > FrameReader::kMaxLength) {
            scan.badLength = length;
            return scan;
        }
        if (stream.size() - start - 10 < length) {
            return scan;
        }
        scan.frames.push_back(stream.subspan(start, 10 + length));
        pos = start + 10 + length;
    }
}

class Connection
{
public:
    explicit Connection(const Scan& scan)
        : scan_(scan)
    {
    }

    // False once the connection is over: the stream cannot be trusted or the camera went away.
    bool receive(Bytes piece)
    {
        const std::span<std::uint8_t> space = reader_.freeSpace();
        check(!space.empty(), "no room to receive");
        check(piece.size() <= space.size(), "piece larger than the room");
        std::copy(piece.begin(), piece.end(), space.begin());
        reader_.commit(piece.size());
        received_ += piece.size();
        for (;;) {
            const FrameReader::Status status = reader_.next();
            discarded_ += reader_.takeDiscarded();
            if (status == FrameReader::Status::NeedMore) {
                check(!reader_.freeSpace().empty(), "waits for more with a full buffer");
                return true;
            }
            if (status == FrameReader::Status::BadLength) {
                check(scan_.badLength == reader_.badLength() && frames_ == scan_.frames.size(),
                      "a bad length where the scan finds none");
                badLength_ = true;
                return false;
            }
            if (!answer(reader_.frame())) {
                return false;
            }
        }
    }

    std::size_t room() { return reader_.freeSpace().size(); }

    void finish() const
    {
        if (!badLength_ && !away_) {
            check(frames_ == scan_.frames.size(), "fewer requests than the scan finds");
            check(received_ == discarded_ + used_ + reader_.buffered(), "bytes lost or counted twice");
        }
    }

private:
    bool answer(Bytes frame)
    {
        check(frames_ < scan_.frames.size(), "a request the scan does not find");
        const Bytes expected = scan_.frames[frames_++];
        check(std::equal(frame.begin(), frame.end(), expected.begin(), expected.end()),
              "another request than the scan's");
        used_ += frame.size();

        const FrameHeader header = readFrameHeader(frame.data());
        const Bytes payload = frame.subspan(kFrameHeaderSize);
        const std::vector<std::uint8_t> request(payload.begin(), payload.end());
        const camsim::RequestOutcome outcome = state_.handle(header.command, payload);
        const std::optional<std::size_t> size = expectedReply(header.command, request);
        check(outcome.reply.has_value() == size.has_value(),
              size ? "a read is not answered" : "a request without a reply is answered");
        if (outcome.reply) {
            checkReply(header.command, request, *outcome.reply, *size);
        }
        remember(header.command, request, outcome);
        if (outcome.enterUDisk) {
            away_ = true; // the camera leaves the network: the connection ends here
            return false;
        }
        return true;
    }

    void checkReply(std::uint16_t command, Bytes request, const std::vector<std::uint8_t>& reply, std::size_t size)
    {
        check(reply.size() == size, "reply payload of the wrong size");
        const std::vector<std::uint8_t> wire = camsim::replyFrame(command, reply);
        check(wire.size() == kFrameHeaderSize + size, "reply frame of the wrong size");
        const FrameHeader h = readFrameHeader(wire.data());
        check(h.magicOk && h.fixedWord == kFrameFixedWord, "reply header without magic or fixed word");
        check(h.length == 2 + size && h.command == command, "reply header with the wrong length or command");
        check(std::equal(reply.begin(), reply.end(), wire.begin() + kFrameHeaderSize), "reply frame lost its payload");

        if (command == static_cast<std::uint16_t>(Command::GetConfig)) {
            check(reply[0] == request[0], "a record of another type");
        }
        if (const auto key = recordKey(command, request)) {
            const auto kept = set_.find(*key);
            check(kept == set_.end() || kept->second == reply, "the record read is not the one set");
        }
    }

    void remember(std::uint16_t command, Bytes request, const camsim::RequestOutcome& outcome)
    {
        if (outcome.factoryReset) {
            set_.clear();
        } else if (const auto key = recordKey(command, request); key && outcome.changed) {
            set_[*key] = {request.begin(), request.end()};
        }
    }

    const Scan& scan_;
    FrameReader reader_;
    camsim::CameraState state_;
    std::map<std::uint16_t, std::vector<std::uint8_t>> set_; // by recordKey: the last record set
    std::size_t frames_ = 0;
    std::size_t received_ = 0;
    std::size_t discarded_ = 0;
    std::size_t used_ = 0;
    bool badLength_ = false;
    bool away_ = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::size_t cutCount = std::min<std::size_t>(data[0] % 16, size - 1);
    const Bytes cuts(data + 1, cutCount);
    const Bytes stream(data + 1 + cutCount, size - 1 - cutCount);

    const Scan scan = scanStream(stream);
    // A piece of 0xFF means "all that fits", as one receive of a fast sender would give.
    const auto pieceSize = [&](std::size_t i, std::size_t room) {
        const std::size_t wanted = cuts.empty() || cuts[i % cuts.size()] == 0xFF ? room : cuts[i % cuts.size()] + 1;
        return std::min(wanted, room);
    };
    // FrameReader holds a whole frame buffer: keep it off the stack.
    auto connection = std::make_unique<Connection>(scan);
    std::size_t fed = 0;
    for (std::size_t i = 0; fed < stream.size(); ++i) {
        const std::size_t n = std::min(pieceSize(i, connection->room()), stream.size() - fed);
        if (!connection->receive(stream.subspan(fed, n))) {
            break;
        }
        fed += n;
    }
    connection->finish();
    return 0;
}
