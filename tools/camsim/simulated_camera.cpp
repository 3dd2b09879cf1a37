#include "tools/camsim/simulated_camera.h"

#include "tools/camsim/camera_state.h"
#include "tools/camsim/frame_reader.h"
#include "tools/camsim/sdk_service.h"
#include "tools/camsim/state_file.h"

#include "link/link_text.h"
#include "link/socket_io.h"
#include "link/utf.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace orv::camsim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often the serving thread looks up from waiting; bounds how long stop() takes.
constexpr int kTickMs = 20;
// A reply is a few hundred bytes; a client that cannot take that within this time is gone.
constexpr int kSendTimeoutMs = 2000;
// How long refuseConnections() waits for the serving thread to act on it.
constexpr milliseconds kSettleTimeout{2000};
// How many reads of the open connection a new one waits for (a frame buffer's worth each).
constexpr int kMaxReadsBeforeAccept = 8;

std::string hexLine(std::span<const std::uint8_t> bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const std::uint8_t b : bytes) {
        if (!out.empty()) {
            out += ' ';
        }
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string addressText(std::uint32_t a, std::uint16_t port)
{
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." + std::to_string((a >> 8) & 0xFF) +
           "." + std::to_string(a & 0xFF) + ":" + std::to_string(port);
}

// Inverts the bytes of one part of a written header: magic 0..3, fixed word 4..5, length 6..9,
// command 10..11. The reply keeps its size, so only a reader that looks at the header notices.
void spoilHeader(std::uint8_t* header, HeaderPart part)
{
    struct Span
    {
        std::size_t offset, size;
    };
    static constexpr Span spans[] = {{0, 4}, {4, 2}, {6, 4}, {10, 2}};
    const Span where = spans[static_cast<std::size_t>(part)];
    for (std::size_t i = 0; i < where.size; ++i) {
        header[where.offset + i] ^= 0xFF;
    }
}

// What the serving thread does with a request once the state has dealt with it.
struct ReplyPlan
{
    std::vector<std::uint8_t> wire; // the whole reply as it goes out; empty: no reply
    std::optional<std::vector<std::size_t>> pieces;
    milliseconds gap{0};
    milliseconds delay{0};
    bool closeAfter = false;
    bool enterUDisk = false;
    ReplyFault fault = ReplyFault::None;
};

} // namespace

struct SimulatedCamera::Impl
{
    explicit Impl(CameraOptions o)
        : options(std::move(o))
        , oneConnection(options.oneConnection)
    {
        // The id belongs to the state as it is new; a state file that start() loads brings its own.
        std::uint32_t a = 0;
        if (!options.deviceId.empty()) {
            if (deviceIdProblem(options.deviceId).empty()) {
                setDeviceIdLocked(options.deviceId);
            }
        } else if (net::startLibrary(nullptr) && net::parseIpv4(options.listenAddress, a)) {
            setDeviceIdLocked(deviceIdForAddress(a));
        }
    }

    CameraOptions options;

    mutable std::mutex mutex;
    mutable std::condition_variable changed; // frames received, serving state, stop

    // --- guarded by mutex ---
    CameraState state;
    bool stateDirty = false; // a save failed; try again at stop
    std::vector<ReceivedFrame> frames;
    int connections = 0;
    int held = 0;     // connections open now
    int mostHeld = 0; // the most open at once since start()
    int refused = 0;
    bool oneConnection = false;
    int formats = 0;
    int factoryResets = 0;
    milliseconds replyDelay{0};
    std::optional<std::vector<std::size_t>> splitPieces;
    milliseconds splitGap{0};
    std::size_t extraBytes = 0;
    long sizeDelta = 0;
    std::optional<HeaderPart> corruptHeader;
    bool quiet = false;
    std::optional<ConfigType> quietAfterSet;
    bool closeAfter = false;
    ReplyFault fault = ReplyFault::None;
    std::optional<ConfigType> faultRecord;
    milliseconds trickleGap{1000};
    bool refusing = false;
    bool uDisk = false;
    Clock::time_point uDiskUntil;
    bool serving = false;
    bool running = false;
    bool stopping = false;
    StartFailure failure = StartFailure::None;
    std::uint16_t boundPort = 0;

    // --- the serving thread's own (start() and stop() touch them only while it is not running) ---
    std::uint32_t address = 0;
    net::SocketHandle listener = net::invalidSocket();
    net::SocketHandle connection = net::invalidSocket();
    bool silentConnection = false; // a reply was cut short on it: nothing more is said
    FrameReader reader;
    std::string lastListenError;
    std::thread thread;
    std::unique_ptr<SdkService> sdk;

    std::mutex logMutex;

    void log(const std::string& line)
    {
        std::lock_guard lock(logMutex);
        if (options.log) {
            options.log(line);
        } else {
            std::fprintf(stderr, "orv-camsim: %s\n", line.c_str());
        }
    }

    // A whole field of zeros first, so that no byte of a longer id is left behind the new one.
    void setDeviceIdLocked(const std::string& id)
    {
        std::fill_n(state.device.data() + DeviceRecord::deviceId.offset, DeviceRecord::deviceId.width, 0);
        state.device.setText(DeviceRecord::deviceId, utf::toUtf16(id));
    }

    // What --verbose adds to a line about a connection coming or going. Called with `mutex` held.
    std::string heldFiguresLocked() const
    {
        if (!options.verbose) {
            return {};
        }
        return " (held now " + std::to_string(held) + ", most at once " + std::to_string(mostHeld) + ")";
    }

    // Called with `mutex` held after every change of the kept state.
    void saveLocked()
    {
        if (!running || options.stateFile.empty()) {
            return;
        }
        std::string error;
        stateDirty = !saveStateFile(options.stateFile, state, &error);
        if (stateDirty) {
            log("cannot save the state: " + error);
        }
    }

    // Waits without holding up stop(); false when stopping.
    bool pause(milliseconds d)
    {
        std::unique_lock lock(mutex);
        return !changed.wait_for(lock, d, [&] { return stopping; });
    }

    bool stoppingNow()
    {
        std::lock_guard lock(mutex);
        return stopping;
    }

    void setServing(bool value)
    {
        std::lock_guard lock(mutex);
        serving = value;
        changed.notify_all();
    }

    // Closes the open connection, if any, and logs `line` (when there is one) with the figures.
    void dropConnection(const std::string& line = {}, bool reset = false)
    {
        if (!net::isValid(connection)) {
            return;
        }
        {
            // Counted and logged first, so that whoever sees the close or waits for the figure
            // finds both.
            std::lock_guard lock(mutex);
            --held;
            if (!line.empty()) {
                log(line + heldFiguresLocked());
            }
            changed.notify_all();
        }
        if (reset) {
            net::resetSocket(connection);
        } else {
            net::closeSocket(connection);
        }
        connection = net::invalidSocket();
        silentConnection = false;
        reader.reset();
    }

    void closeListener()
    {
        net::closeSocket(listener);
        listener = net::invalidSocket();
        setServing(false);
    }

    void updateListener(bool wanted, bool keepQueued)
    {
        if (!wanted) {
            if (net::isValid(listener)) {
                // Connections whose handshake is done count as accepted already; only later ones
                // are refused.
                bool pending = false;
                while (keepQueued && net::waitAnyReadable(&listener, 1, 0, &pending) == net::WaitResult::Readable &&
                       pending && acceptConnection()) {
                }
                closeListener();
            }
            return;
        }
        if (net::isValid(listener)) {
            return;
        }
        std::string error;
        listener = net::listenOn(address, boundPort, &error);
        if (!net::isValid(listener)) {
            if (error != lastListenError) {
                log("cannot listen on " + addressText(address, boundPort) + " again (" + error + "); still trying");
                lastListenError = error;
            }
            return;
        }
        lastListenError.clear();
        setServing(true);
    }

    void run()
    {
        for (;;) {
            bool wanted = false;
            bool refusingOnly = false;
            bool backFromUDisk = false;
            {
                std::unique_lock lock(mutex);
                if (stopping) {
                    break;
                }
                if (uDisk && Clock::now() >= uDiskUntil) {
                    uDisk = false;
                    backFromUDisk = true;
                }
                wanted = !uDisk && !refusing;
                refusingOnly = !uDisk;
            }
            if (backFromUDisk) {
                log("back from U-disk mode");
            }
            updateListener(wanted, refusingOnly);

            net::SocketHandle handles[2];
            std::size_t count = 0;
            const bool watchConnection = net::isValid(connection);
            if (watchConnection) {
                handles[count++] = connection;
            }
            if (net::isValid(listener)) {
                handles[count++] = listener;
            }
            if (count == 0) {
                pause(milliseconds(kTickMs));
                continue;
            }
            bool readable[2] = {false, false};
            const net::WaitResult status = net::waitAnyReadable(handles, count, kTickMs, readable);
            if (status == net::WaitResult::Failed) {
                log("waiting for the network failed: " + net::lastErrorText());
                pause(milliseconds(kTickMs));
                continue;
            }
            if (status != net::WaitResult::Readable) { // timed out or interrupted
                continue;
            }
            // The open connection first: what it sent before a new one arrived still gets its answer.
            if (watchConnection && readable[0]) {
                readConnection();
            }
            if (net::isValid(listener) && readable[count - 1] && handles[count - 1] == listener) {
                acceptConnection();
            }
        }
        dropConnection();
        if (net::isValid(listener)) {
            closeListener();
        }
    }

    // A client that closed just before the next one came is no longer open: take in what it
    // left, its end included, before the newcomer is counted. Bounded, for a client that never
    // stops sending.
    void readWhatIsWaiting()
    {
        for (int i = 0; i < kMaxReadsBeforeAccept && net::isValid(connection); ++i) {
            bool readable = false;
            if (net::waitAnyReadable(&connection, 1, 0, &readable) != net::WaitResult::Readable || !readable) {
                return;
            }
            readConnection();
        }
    }

    bool acceptConnection()
    {
        const net::SocketHandle accepted = net::acceptConnection(listener, kSendTimeoutMs);
        if (!net::isValid(accepted)) {
            return false;
        }
        readWhatIsWaiting();
        if (!net::isValid(listener)) { // what it read sent the camera away (U-disk mode)
            net::closeSocket(accepted);
            return false;
        }
        bool refuse = false;
        {
            // Counted and logged before anything is closed, so that a client that sees its reset
            // or its close finds the figures already raised.
            std::lock_guard lock(mutex);
            refuse = net::isValid(connection) && oneConnection;
            mostHeld = std::max(mostHeld, held + 1);
            if (refuse) {
                ++refused;
                log("refused a second connection while one is open" + heldFiguresLocked());
            } else {
                ++held;
                ++connections;
            }
            changed.notify_all();
        }
        if (refuse) {
            net::resetSocket(accepted);
            return true;
        }
        dropConnection("a new connection replaces the open one");
        connection = accepted;
        std::lock_guard lock(mutex);
        log("client connected" + heldFiguresLocked());
        return true;
    }

    void readConnection()
    {
        const std::span<std::uint8_t> space = reader.freeSpace();
        const long n = net::receiveSome(connection, space.data(), space.size());
        if (n <= 0) {
            dropConnection(n == 0 ? "client disconnected" : "connection lost: " + net::lastErrorText());
            return;
        }
        reader.commit(static_cast<std::size_t>(n));
        while (net::isValid(connection)) {
            const FrameReader::Status status = reader.next();
            if (const std::size_t skipped = reader.takeDiscarded()) {
                log("skipped " + std::to_string(skipped) + " bytes that do not start a frame");
            }
            if (status == FrameReader::Status::NeedMore) {
                break;
            }
            if (status == FrameReader::Status::BadLength) {
                dropConnection("a frame announces length " + std::to_string(reader.badLength()) +
                               ", which no request has; dropping the connection");
                break;
            }
            handleFrame(reader.frame());
        }
    }

    void handleFrame(std::span<const std::uint8_t> frame)
    {
        const FrameHeader header = readFrameHeader(frame.data());
        const auto payload = frame.subspan(kFrameHeaderSize);
        if (options.verbose) {
            log("<- " + hexLine(frame));
        }
        ReplyPlan plan;
        RequestOutcome outcome;
        {
            std::lock_guard lock(mutex);
            if (options.keepFrames) {
                frames.push_back({header.command, {frame.begin(), frame.end()}});
            }
            outcome = state.handle(header.command, payload);
            if (quietAfterSet && header.command == static_cast<std::uint16_t>(Command::SetConfig) && !payload.empty() &&
                payload[0] == static_cast<std::uint8_t>(*quietAfterSet)) {
                quiet = true;
                quietAfterSet.reset();
            }
            formats += outcome.formatCard ? 1 : 0;
            factoryResets += outcome.factoryReset ? 1 : 0;
            if (outcome.changed) {
                saveLocked();
            }
            plan.closeAfter = std::exchange(closeAfter, false);
            plan.enterUDisk = outcome.enterUDisk;
            if (plan.enterUDisk) {
                uDisk = true;
                uDiskUntil = Clock::now() + options.uDiskPause;
                // Marked away together with the request's record, so that whoever waits for the
                // request and then for the camera to serve again never sees the old listener.
                serving = false;
            }
            if (outcome.reply && !quiet && !silentConnection && !plan.closeAfter && !plan.enterUDisk) {
                plan.fault = faultFor(header.command, payload);
                std::vector<std::uint8_t> reply = std::move(*outcome.reply);
                if (plan.fault == ReplyFault::AnotherCommandsSize) {
                    reply.resize(reply.size() == UserTable::kSize ? DeviceRecord::kSize : UserTable::kSize, 0xEE);
                }
                plan.wire = buildReplyLocked(header.command, std::move(reply));
                plan.pieces = std::exchange(splitPieces, std::nullopt);
                plan.gap = splitGap;
                plan.delay = replyDelay;
            }
            changed.notify_all();
        }
        if (!outcome.note.empty()) {
            log(outcome.note);
        }
        if (plan.closeAfter) {
            dropConnection("closing the connection after the request, as asked");
            return;
        }
        if (plan.enterUDisk) {
            // The listener goes first, so that a client that sees its connection close already
            // finds the camera gone.
            closeListener();
            dropConnection();
            log("away for " + std::to_string(options.uDiskPause.count()) + " ms");
            return;
        }
        if (!plan.wire.empty()) {
            sendReply(plan);
        }
    }

    // The fault this reply is to show. Called with `mutex` held.
    ReplyFault faultFor(std::uint16_t command, std::span<const std::uint8_t> request) const
    {
        if (fault == ReplyFault::ResetAfterLogin) {
            return command == static_cast<std::uint16_t>(Command::GetUsers) ? fault : ReplyFault::None;
        }
        const bool matches = !faultRecord || (command == static_cast<std::uint16_t>(Command::GetConfig) &&
                                              !request.empty() && request[0] == static_cast<std::uint8_t>(*faultRecord));
        return matches ? fault : ReplyFault::None;
    }

    // Bytes without end after a reply, until the client goes (its end fails a send, or a send
    // waits past the send time-out) or the camera stops.
    void streamWithoutEnd()
    {
        std::vector<std::uint8_t> chunk(4096);
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            chunk[i] = static_cast<std::uint8_t>(0x5A ^ i);
        }
        // As fast as the client takes it: a full socket buffer holds the send back.
        do {
            if (!net::sendAll(connection, chunk.data(), chunk.size())) {
                dropConnection("the client has gone from the endless stream: " + net::lastErrorText());
                return;
            }
        } while (!stoppingNow());
    }

    std::vector<std::uint8_t> buildReplyLocked(std::uint16_t command, std::vector<std::uint8_t> payload)
    {
        const long wanted = static_cast<long>(payload.size()) + std::exchange(sizeDelta, 0);
        const std::size_t oldSize = payload.size();
        payload.resize(static_cast<std::size_t>(std::max(0L, wanted)));
        for (std::size_t i = oldSize; i < payload.size(); ++i) {
            payload[i] = 0xEE;
        }
        std::vector<std::uint8_t> wire = replyFrame(command, payload);
        if (const auto part = std::exchange(corruptHeader, std::nullopt)) {
            spoilHeader(wire.data(), *part);
        }
        const std::size_t extra = std::exchange(extraBytes, 0);
        for (std::size_t i = 0; i < extra; ++i) {
            wire.push_back(static_cast<std::uint8_t>(0xA5 ^ i));
        }
        return wire;
    }

    void sendReply(const ReplyPlan& plan)
    {
        if (plan.delay.count() > 0 && !pause(plan.delay)) {
            return;
        }
        std::vector<std::size_t> pieces = plan.pieces.value_or(std::vector<std::size_t>{});
        milliseconds gap = plan.gap;
        std::size_t length = plan.wire.size();
        if (plan.fault == ReplyFault::Trickle) {
            pieces.assign(length, 1);
            std::lock_guard lock(mutex);
            gap = trickleGap;
        } else if (plan.fault == ReplyFault::CutShortThenSilent || plan.fault == ReplyFault::ClosedMidReply) {
            length /= 2;
        }
        if (!sendPieces(plan.wire.data(), length, pieces, gap, plan.fault == ReplyFault::Trickle)) {
            return;
        }
        switch (plan.fault) {
        case ReplyFault::CutShortThenSilent:
            silentConnection = true;
            log("cut the reply short after " + std::to_string(length) + " bytes; silent from now on, as asked");
            break;
        case ReplyFault::ClosedMidReply:
            dropConnection("closed the connection after " + std::to_string(length) + " bytes of the reply, as asked");
            break;
        case ReplyFault::ResetAfterLogin:
            dropConnection("reset the connection after the login, as asked", true);
            break;
        case ReplyFault::EndlessStream:
            streamWithoutEnd();
            break;
        case ReplyFault::None:
        case ReplyFault::AnotherCommandsSize:
        case ReplyFault::Trickle:
            break;
        }
    }

    // False when the connection went (dropped and logged) or the camera is stopping. A trickle
    // sends a byte at a time until the camera is told to behave again; then the rest at once.
    bool sendPieces(const std::uint8_t* wire, std::size_t length, const std::vector<std::size_t>& pieces,
                    milliseconds gap, bool trickle)
    {
        std::size_t sent = 0;
        for (std::size_t i = 0; sent < length; ++i) {
            const std::size_t remaining = length - sent;
            bool allNow = false;
            if (sent > 0 && gap.count() > 0) {
                std::unique_lock lock(mutex);
                changed.wait_for(lock, gap, [&] { return stopping || (trickle && fault == ReplyFault::None); });
                if (stopping) {
                    return false;
                }
                allNow = trickle && fault == ReplyFault::None;
            }
            const std::size_t size = i < pieces.size() && !allNow ? std::min(pieces[i], remaining) : remaining;
            if (size == 0) {
                continue;
            }
            const std::span<const std::uint8_t> piece(wire + sent, size);
            if (options.verbose) {
                log("-> " + hexLine(piece));
            }
            if (!net::sendAll(connection, piece.data(), piece.size())) {
                dropConnection("the client has gone before its reply: " + net::lastErrorText());
                return false;
            }
            sent += size;
        }
        return true;
    }
};

SimulatedCamera::SimulatedCamera(CameraOptions options)
    : impl_(std::make_unique<Impl>(std::move(options)))
{
}

SimulatedCamera::~SimulatedCamera()
{
    stop();
}

bool SimulatedCamera::start(std::string* error)
{
    Impl& d = *impl_;
    auto fail = [&](StartFailure why, const std::string& text) {
        std::lock_guard lock(d.mutex);
        d.failure = why;
        if (error) {
            *error = text;
        }
        return false;
    };
    {
        std::lock_guard lock(d.mutex);
        if (d.running) {
            return fail(StartFailure::AlreadyRunning, "the simulated camera is already running");
        }
    }
    std::uint32_t address = 0;
    if (!net::parseIpv4(d.options.listenAddress, address)) {
        return fail(StartFailure::BadAddress, "\"" + d.options.listenAddress + "\" is not an IPv4 address");
    }
    if (!d.options.deviceId.empty()) {
        if (const std::string problem = deviceIdProblem(d.options.deviceId); !problem.empty()) {
            return fail(StartFailure::DeviceId, "device id \"" + d.options.deviceId + "\": " + problem);
        }
    }
    std::string why;
    if (!net::startLibrary(&why)) {
        return fail(StartFailure::Listen, why);
    }
    if (!d.options.stateFile.empty()) {
        std::lock_guard lock(d.mutex);
        CameraState loaded = d.state;
        switch (loadStateFile(d.options.stateFile, loaded, &why)) {
            case LoadResult::Loaded:
                d.state = loaded;
                if (!d.options.deviceId.empty()) {
                    d.setDeviceIdLocked(d.options.deviceId);
                    if (!saveStateFile(d.options.stateFile, d.state, &why)) {
                        d.failure = StartFailure::StateFile;
                        if (error) {
                            *error = why;
                        }
                        return false;
                    }
                }
                break;
            case LoadResult::Missing:
                if (!saveStateFile(d.options.stateFile, d.state, &why)) {
                    d.failure = StartFailure::StateFile;
                    if (error) {
                        *error = why;
                    }
                    return false;
                }
                break;
            case LoadResult::Failed:
                d.failure = StartFailure::StateFile;
                if (error) {
                    *error = why;
                }
                return false;
        }
    }
    const net::SocketHandle listener = net::listenOn(address, d.options.port, &why);
    if (!net::isValid(listener)) {
        return fail(StartFailure::Listen,
                    "cannot listen on " + addressText(address, d.options.port) + " (" + why + ")");
    }
    {
        std::lock_guard lock(d.mutex);
        d.address = address;
        d.listener = listener;
        d.boundPort = net::boundPort(listener);
        d.failure = StartFailure::None;
        d.held = 0;
        d.mostHeld = 0;
        d.running = true;
        d.stopping = false;
        d.serving = true;
        d.uDisk = false;
    }
    d.thread = std::thread([&d] { d.run(); });
    startSdkService(address);
    return true;
}

void SimulatedCamera::startSdkService(std::uint32_t address)
{
    Impl& d = *impl_;
    SdkServiceHooks hooks;
    hooks.checkLogin = [&d](const std::string& user, const std::string& password) {
        std::lock_guard lock(d.mutex);
        const UserTable& users = d.state.users;
        const auto count =
            std::min<std::size_t>(static_cast<std::size_t>(users.number(UserTable::count)), UserTable::kEntries);
        for (std::size_t i = 0; i < count; ++i) {
            if (users.text(UserTable::name(i)) == utf::toUtf16(user) &&
                users.text(UserTable::password(i)) == utf::toUtf16(password)) {
                return true;
            }
        }
        return false;
    };
    hooks.record = [&d] {
        std::lock_guard lock(d.mutex);
        return std::vector<std::uint8_t>(d.state.gb28181.bytes.begin(), d.state.gb28181.bytes.end());
    };
    hooks.setRecord = [&d](std::span<const std::uint8_t> record) {
        std::lock_guard lock(d.mutex);
        std::copy_n(record.begin(), std::min(record.size(), d.state.gb28181.size()), d.state.gb28181.bytes.begin());
        d.saveLocked();
    };
    hooks.log = [&d](const std::string& line) {
        if (d.options.verbose) {
            d.log(line);
        }
    };
    d.sdk = std::make_unique<SdkService>(std::move(hooks));
    std::string why;
    if (!d.sdk->start(address, d.options.sdkPort, &why)) {
        d.log("the SDK port " + addressText(address, d.options.sdkPort) + " is not served (" + why + ")");
        d.sdk.reset();
    }
}

StartFailure SimulatedCamera::lastStartFailure() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->failure;
}

void SimulatedCamera::stop()
{
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.mutex);
        if (!d.running) {
            return;
        }
        d.stopping = true;
        d.changed.notify_all();
    }
    d.thread.join();
    d.sdk.reset();
    std::lock_guard lock(d.mutex);
    if (d.stateDirty) {
        d.saveLocked();
    }
    d.running = false;
    d.serving = false;
    d.uDisk = false;
    d.changed.notify_all();
}

std::uint16_t SimulatedCamera::port() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->boundPort != 0 ? impl_->boundPort : impl_->options.port;
}

bool SimulatedCamera::waitUntilServing(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(impl_->mutex);
    impl_->changed.wait_for(lock, timeout, [&] { return impl_->serving || !impl_->running; });
    return impl_->serving;
}

void SimulatedCamera::resetToDefaults()
{
    std::lock_guard lock(impl_->mutex);
    impl_->state.factoryReset();
    impl_->saveLocked();
}

void SimulatedCamera::setAccounts(const UserTable& table)
{
    std::lock_guard lock(impl_->mutex);
    impl_->state.users = table;
    impl_->saveLocked();
}

UserTable SimulatedCamera::accounts() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->state.users;
}

std::vector<std::uint8_t> SimulatedCamera::configRecord(ConfigType type) const
{
    std::lock_guard lock(impl_->mutex);
    const auto bytes = impl_->state.configBytes(type);
    return {bytes.begin(), bytes.end()};
}

void SimulatedCamera::setConfigRecord(ConfigType type, const std::vector<std::uint8_t>& record)
{
    std::lock_guard lock(impl_->mutex);
    const auto bytes = impl_->state.configBytes(type);
    if (bytes.empty() || bytes.size() != record.size()) {
        impl_->log("setConfigRecord: " + std::to_string(record.size()) + " bytes do not fit type " +
                   std::to_string(static_cast<int>(type)) + "; ignored");
        return;
    }
    std::copy(record.begin(), record.end(), bytes.begin());
    impl_->saveLocked();
}

TimeRecord SimulatedCamera::timeRecord() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->state.currentTime();
}

void SimulatedCamera::setTimeRecord(const TimeRecord& record)
{
    std::lock_guard lock(impl_->mutex);
    impl_->state.setTime(record);
    impl_->saveLocked();
}

ProxyRecord SimulatedCamera::proxyRecord() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->state.proxy;
}

std::vector<std::uint8_t> SimulatedCamera::gb28181Record() const
{
    std::lock_guard lock(impl_->mutex);
    return {impl_->state.gb28181.bytes.begin(), impl_->state.gb28181.bytes.end()};
}

void SimulatedCamera::setGb28181Record(const std::vector<std::uint8_t>& record)
{
    std::lock_guard lock(impl_->mutex);
    impl_->state.gb28181 = {};
    std::copy_n(record.begin(), std::min(record.size(), impl_->state.gb28181.size()),
                impl_->state.gb28181.bytes.begin());
    impl_->saveLocked();
}

std::uint16_t SimulatedCamera::sdkPort() const
{
    return impl_->sdk ? impl_->sdk->port() : 0;
}

void SimulatedCamera::setProxyRecord(const ProxyRecord& record)
{
    std::lock_guard lock(impl_->mutex);
    impl_->state.proxy = record;
    impl_->saveLocked();
}

bool SimulatedCamera::inUDiskMode() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->uDisk;
}

int SimulatedCamera::formatCount() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->formats;
}

int SimulatedCamera::factoryResetCount() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->factoryResets;
}

std::vector<ReceivedFrame> SimulatedCamera::receivedFrames() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->frames;
}

void SimulatedCamera::clearReceivedFrames()
{
    std::lock_guard lock(impl_->mutex);
    impl_->frames.clear();
}

bool SimulatedCamera::waitForFrames(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->frames.size() >= count; });
}

int SimulatedCamera::connectionCount() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->connections;
}

int SimulatedCamera::connectionsHeld() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->held;
}

int SimulatedCamera::mostConnectionsHeld() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->mostHeld;
}

int SimulatedCamera::refusedConnectionCount() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->refused;
}

bool SimulatedCamera::waitUntilConnectionsHeld(int count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(impl_->mutex);
    return impl_->changed.wait_for(lock, timeout, [&] { return impl_->held == count; });
}

void SimulatedCamera::refuseSecondConnection(bool refuse)
{
    std::lock_guard lock(impl_->mutex);
    impl_->oneConnection = refuse;
}

std::string SimulatedCamera::deviceId() const
{
    std::lock_guard lock(impl_->mutex);
    return utf::toUtf8(impl_->state.device.text(DeviceRecord::deviceId));
}

void SimulatedCamera::setReplyDelay(std::chrono::milliseconds delay)
{
    std::lock_guard lock(impl_->mutex);
    impl_->replyDelay = delay;
}

void SimulatedCamera::splitNextReply(std::vector<std::size_t> pieceSizes, std::chrono::milliseconds gap)
{
    std::lock_guard lock(impl_->mutex);
    impl_->splitPieces = std::move(pieceSizes);
    impl_->splitGap = gap;
}

void SimulatedCamera::sendExtraBytes(std::size_t count)
{
    std::lock_guard lock(impl_->mutex);
    impl_->extraBytes = count;
}

void SimulatedCamera::wrongSizeNextReply(long delta)
{
    std::lock_guard lock(impl_->mutex);
    impl_->sizeDelta = delta;
}

void SimulatedCamera::corruptNextReplyHeader(HeaderPart part)
{
    std::lock_guard lock(impl_->mutex);
    impl_->corruptHeader = part;
}

void SimulatedCamera::setReplyFault(ReplyFault fault, std::optional<ConfigType> record, std::chrono::milliseconds trickleGap)
{
    std::lock_guard lock(impl_->mutex);
    impl_->fault = fault;
    impl_->faultRecord = record;
    impl_->trickleGap = trickleGap;
    impl_->changed.notify_all(); // a trickle under way ends
}

void SimulatedCamera::stayQuiet(bool quiet)
{
    std::lock_guard lock(impl_->mutex);
    impl_->quiet = quiet;
    impl_->quietAfterSet.reset();
}

void SimulatedCamera::stayQuietAfterSet(ConfigType type)
{
    std::lock_guard lock(impl_->mutex);
    impl_->quietAfterSet = type;
}

void SimulatedCamera::closeAfterRequest()
{
    std::lock_guard lock(impl_->mutex);
    impl_->closeAfter = true;
}

void SimulatedCamera::refuseConnections(bool refuse)
{
    std::unique_lock lock(impl_->mutex);
    Impl& d = *impl_;
    d.refusing = refuse;
    d.changed.notify_all();
    // Settle before returning, so that the caller's next connect sees the new behaviour.
    d.changed.wait_for(lock, kSettleTimeout,
                       [&] { return !d.running || (refuse ? !d.serving : (d.serving || d.uDisk)); });
}

} // namespace orv::camsim
