#pragma once
// What the console records in the ledger: one event for every write and action it sends to the
// camera. Events go to a recorder thread, so the window never waits for the database; a ledger
// that cannot be written reaches the window once per cause, as a LedgerProblem event, and so does
// a shared database that is away (once per outage: the events wait in the station's spool) and
// back (once, when it took them).

#include "console/activity_log.h"
#include "ledger/ledger.h"
#include "link/frame.h"
#include "provision/camera_groups.h"
#include "provision/ledger_events.h"

#include <QEvent>
#include <QString>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QObject;

namespace orv {

class CSettings;

namespace ledger {
class BackgroundRecorder;
struct SharedLedgerNews;
}

// The tool name the console's events carry.
inline constexpr std::string_view kConsoleToolName = "OrvCamera";

// Where the console records (UTF-8): the location remembered for the user beside the settings
// file (persist/ledger_location.h), or the embedded default file when none is.
std::string consoleLedgerLocation(const CSettings& settings);

// The camera's address as events name it: "192.168.2.158", or "127.0.0.5:19500" on a port other
// than the camera's own.
std::string cameraPlace(std::string_view address, std::uint16_t port = kCameraPort);

// An event's result as the console words it: "ok" once the frame went out, else "failed: ...".
std::string writeResult(provision::CameraOutcome outcome);

// Tells the window's thread that the ledger has lines for its log (ConsoleLedger::takeLines): a
// problem (where and why, on one line), or the news of a shared ledger away or back. The lines
// stay with the ConsoleLedger, handed over under its lock.
inline constexpr auto kLedgerProblemEvent = static_cast<QEvent::Type>(0x1401);
class LedgerProblem : public QEvent
{
public:
    LedgerProblem()
        : QEvent(kLedgerProblemEvent)
    {
    }
};

struct LedgerLine
{
    LogMessage message = LogMessage::LedgerFail;
    std::u16string argument;
};

// The argument of the log line of a shared ledger away or back: "14:07 (connection timed out)"
// (the date too when it was not today), or the number of events it took.
std::string ledgerNewsText(const ledger::SharedLedgerNews& news);

class ConsoleLedger
{
public:
    // Starts the recorder thread for `location`; the ledger is opened at the first event. Each
    // cause of failure is posted to `window` once, and again only after an event was recorded
    // in between.
    ConsoleLedger(std::string location, QObject* window);
    // The log lines posted since the last call, oldest first (the window's thread).
    std::vector<LedgerLine> takeLines();

    // Posts nothing more, then waits for what was handed over (into a ledger file or the
    // station's spool), not for a forward to a shared database that does not answer: destroy it
    // where nothing waits for it (the window already hidden).
    ~ConsoleLedger();
    ConsoleLedger(const ConsoleLedger&) = delete;
    ConsoleLedger& operator=(const ConsoleLedger&) = delete;

    const std::string& location() const { return location_; }

    // The login's context, which later events carry: where the camera is, and the device id
    // once this login has read it.
    void loginStarted(std::string place);
    void deviceIdRead(std::string deviceId);
    void forgetDeviceId();
    const std::string& deviceId() const { return deviceId_; }

    // A new event of `kind` (provision::startEvent from the console's origin), with the login's
    // place and device id.
    ledger::Event event(std::string kind) const;
    // Hands the event to the recorder; returns at once.
    void record(ledger::Event event);
    // Returns once every event handed over was recorded or given up, its problem posted (tests).
    void flush();
    ledger::BackgroundRecorder& recorder() { return *recorder_; }

private:
    struct Sink;

    std::string location_;
    provision::EventOrigin origin_;
    std::string place_;
    std::string deviceId_;
    std::shared_ptr<Sink> sink_;
    std::unique_ptr<ledger::BackgroundRecorder> recorder_;
};

} // namespace orv
