#pragma once
// A substitute camera that speaks the camera link on a TCP port of its own. It keeps the state a
// camera keeps (accounts, configuration records, clock settings, proxy) and, for tests, misbehaves
// on request.

#include "tools/camsim/sdk_protocol.h"

#include "link/frame.h"
#include "link/records.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orv::camsim {

// One frame as the camera received it, header included.
struct ReceivedFrame
{
    std::uint16_t command = 0;
    std::vector<std::uint8_t> bytes;
};

// The part of a reply's 12-byte header that corruptNextReplyHeader() spoils.
enum class HeaderPart { Magic, FixedWord, Length, Command };

// How every matching reply goes wrong, kept until set back to None (a camera of a firmware that
// misbehaves in one way, every time).
enum class ReplyFault : std::uint8_t {
    None,
    AnotherCommandsSize, // the payload another request's reply has (the account table's; for that
                         // table, the device record's), its header saying so
    CutShortThenSilent,  // the first half, then nothing more on that connection
    Trickle,             // one byte at a time, a trickle gap apart
    ClosedMidReply,      // the first half, then the connection closed
    EndlessStream,       // the reply, then bytes without end until the client goes
    ResetAfterLogin,     // the account table's reply (the login) whole, then the connection reset
};

// Why start() failed.
enum class StartFailure { None, AlreadyRunning, BadAddress, StateFile, Listen, DeviceId };

struct CameraOptions
{
    std::string listenAddress = "127.0.0.1";
    std::uint16_t port = kCameraPort;
    std::string stateFile;                 // empty: state lives in memory only
    bool verbose = false;                  // print every frame in and out as hex
    std::chrono::milliseconds uDiskPause{5000}; // how long the camera stays away after U-disk mode
    // Where verbose lines and events go; stderr when empty. Called from the camera's thread (and
    // from the setters), one line at a time; it must not call back into the camera.
    std::function<void(const std::string&)> log;
    // The port on which the stand-in of the maker's SDK reaches the camera; 0: any free port. When it
    // cannot be bound the camera serves the link alone and says so in the log.
    std::uint16_t sdkPort = sdk::kDefaultPort;
    bool keepFrames = true; // keep every received frame for receivedFrames(); a long run may not want to
    // The device record's id (UTF-8; it must pass deviceIdProblem()). It replaces the id of a
    // loaded state file, and is saved there. Empty: a file keeps its id, and new state takes
    // deviceIdForAddress() of the listen address.
    std::string deviceId;
    // Reset a connection that arrives while another is open, instead of letting it replace that one.
    bool oneConnection = false;
};

class SimulatedCamera
{
public:
    explicit SimulatedCamera(CameraOptions options = {});
    ~SimulatedCamera();
    SimulatedCamera(const SimulatedCamera&) = delete;
    SimulatedCamera& operator=(const SimulatedCamera&) = delete;

    // Loads the state file (writing one with the defaults when it is missing), binds and starts
    // serving on a thread of its own. False (with a reason) when the state file is unusable or the
    // address cannot be bound.
    bool start(std::string* error = nullptr);
    StartFailure lastStartFailure() const;
    void stop();
    std::uint16_t port() const; // the bound port once started (options.port may be 0: any free port)
    // Blocks until the camera accepts connections (again, after U-disk mode or refusing).
    bool waitUntilServing(std::chrono::milliseconds timeout) const;

    // --- state, for tests and the state file ---
    void resetToDefaults(); // as a FactoryReset: the device id stays
    void setAccounts(const UserTable& table);
    UserTable accounts() const;
    // The stored configuration record of a type, as the camera would send it.
    std::vector<std::uint8_t> configRecord(ConfigType type) const;
    void setConfigRecord(ConfigType type, const std::vector<std::uint8_t>& record);
    // The same as a typed record of link/records.h (DeviceRecord, WifiRecord, ...).
    template <class Record>
    Record config() const
    {
        Record r;
        const std::vector<std::uint8_t> stored = configRecord(Record::kType);
        std::copy_n(stored.begin(), std::min(stored.size(), r.bytes.size()), r.bytes.begin());
        return r;
    }
    template <class Record>
    void setConfig(const Record& r)
    {
        setConfigRecord(Record::kType, {r.bytes.begin(), r.bytes.end()});
    }
    TimeRecord timeRecord() const;        // the camera's clock now, with zone and summer time
    void setTimeRecord(const TimeRecord&); // as a SetTime would
    ProxyRecord proxyRecord() const;
    // The 844-byte GB28181 record that the SDK reads and writes.
    std::vector<std::uint8_t> gb28181Record() const;
    void setGb28181Record(const std::vector<std::uint8_t>& record);
    std::uint16_t sdkPort() const; // 0 when the SDK port is not served
    void setProxyRecord(const ProxyRecord&);
    bool inUDiskMode() const;
    int formatCount() const;
    int factoryResetCount() const;

    // --- what the camera received ---
    std::vector<ReceivedFrame> receivedFrames() const;
    void clearReceivedFrames();
    // Blocks until at least `count` frames have been received or the timeout passes.
    bool waitForFrames(std::size_t count, std::chrono::milliseconds timeout) const;
    int connectionCount() const; // connections accepted and served so far (refused ones not counted)

    // --- connections held at once ---
    // A connection accepted while another is open counts as two held at once, whether it then
    // replaces the open one or is refused; so a test can hold the most to one to catch a client
    // that opens a second connection before closing the first. Counted from start().
    int connectionsHeld() const;
    int mostConnectionsHeld() const;
    int refusedConnectionCount() const; // reset while another was open
    bool waitUntilConnectionsHeld(int count, std::chrono::milliseconds timeout) const;
    // As CameraOptions::oneConnection, while running; the open connection is left alone.
    void refuseSecondConnection(bool refuse);
    std::string deviceId() const; // the device record's id, as UTF-8

    // --- misbehaviour on request; each applies to the next reply only unless said ---
    void setReplyDelay(std::chrono::milliseconds delay);       // every reply until reset
    void splitNextReply(std::vector<std::size_t> pieceSizes,   // send it in pieces
                        std::chrono::milliseconds gap = std::chrono::milliseconds(20));
    void sendExtraBytes(std::size_t count);                    // append junk to the next reply
    void wrongSizeNextReply(long delta);                       // reply `delta` bytes short/long
    void corruptNextReplyHeader(HeaderPart part);              // same size, that part of the header wrong
    void stayQuiet(bool quiet);                                // answer nothing until reset
    void stayQuietAfterSet(ConfigType type);                   // the same from the next SetConfig of `type` on
    void closeAfterRequest();                                  // drop the connection after the next request
    void refuseConnections(bool refuse);                       // as while in U-disk mode
    // Every reply to a GetConfig of `record` (every reply when none) misbehaves as `fault` says,
    // until set back to None. ResetAfterLogin follows the account table's reply whatever `record` is.
    void setReplyFault(ReplyFault fault, std::optional<ConfigType> record = std::nullopt,
                       std::chrono::milliseconds trickleGap = std::chrono::seconds(1));
    // Requests still take effect while quiet or when the connection is dropped after them; only
    // the reply is missing.

private:
    void startSdkService(std::uint32_t address);
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace orv::camsim
