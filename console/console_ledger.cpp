#include "console/console_ledger.h"

#include "ledger/background_recorder.h"
#include "persist/ledger_location.h"
#include "persist/settings.h"

#include "orv_version.h"

#include <QCoreApplication>

#include <mutex>
#include <set>
#include <utility>

namespace orv {

std::string consoleLedgerLocation(const CSettings& settings)
{
    return ledger::locationOrDefault(rememberedLedgerLocation(searchToolStateFile(settings)));
}

std::string cameraPlace(std::string_view address, std::uint16_t port)
{
    std::string place(address);
    if (port != kCameraPort) {
        place += ':' + std::to_string(port);
    }
    return place;
}

std::string writeResult(provision::CameraOutcome outcome)
{
    switch (outcome) {
        case provision::CameraOutcome::Done:
            return "ok";
        case provision::CameraOutcome::NoReply:
            return "failed: no answer to the read, nothing sent";
        case provision::CameraOutcome::NotSent:
        case provision::CameraOutcome::UnknownPlatform:
        case provision::CameraOutcome::OtherPlatform:
            break;
    }
    return "failed: not sent";
}

// What the recorder's thread shares with the window's.
struct ConsoleLedger::Sink
{
    std::mutex mutex;
    QObject* window = nullptr; // null once the console no longer listens
    std::string location;
    // The causes shown since an event was last recorded (under the mutex: the recorder's
    // appending and forwarding threads both report).
    std::set<std::string> shown;

    std::vector<LedgerLine> pending; // lines not yet taken by the window

    // Under the mutex, so the window cannot go between the look and the post.
    void post(const std::string& text, LogMessage message)
    {
        if (!window) {
            return;
        }
        pending.push_back({message, QString::fromStdString(text).toStdU16String()});
        if (pending.size() == 1) {
            QCoreApplication::postEvent(window, new LedgerProblem);
        }
    }
};

std::string ledgerNewsText(const ledger::SharedLedgerNews& news)
{
    if (news.kind == ledger::SharedLedgerNews::Kind::Forwarded) {
        return std::to_string(news.forwarded);
    }
    // "2026-12-10 14:07:09" in local time: the time alone when it was today.
    std::string since = ledger::localTimeText(news.sinceUtc);
    const std::string today = ledger::localTimeText(ledger::utcNow()).substr(0, 10);
    if (since.size() >= 16 && since[10] == ' ') {
        since = since.starts_with(today) ? since.substr(11, 5) : since.substr(0, 16);
    }
    return news.why.empty() ? since : since + " (" + news.why + ")";
}

ConsoleLedger::ConsoleLedger(std::string location, QObject* window)
    : location_(std::move(location))
    , origin_{std::string(kConsoleToolName), kProgramVersion}
    , sink_(std::make_shared<Sink>())
{
    sink_->window = window;
    sink_->location = location_;
    auto onRecorded = [sink = sink_](const ledger::Event&) {
        std::lock_guard lock(sink->mutex);
        sink->shown.clear();
    };
    auto onProblem = [sink = sink_](const std::string& message) {
        std::string cause = ledger::oneLine(message);
        if (cause.empty()) {
            cause = ledger::oneLine(sink->location);
        }
        std::lock_guard lock(sink->mutex);
        if (sink->shown.insert(cause).second) {
            sink->post(cause, LogMessage::LedgerFail);
        }
    };
    auto onNews = [sink = sink_](const ledger::SharedLedgerNews& news) {
        std::lock_guard lock(sink->mutex);
        sink->post(ledgerNewsText(news), news.kind == ledger::SharedLedgerNews::Kind::Away
                                             ? LogMessage::LedgerAway
                                             : LogMessage::LedgerForwarded);
    };
    // The console signs as the station the search tool and orvctl of this account sign as.
    recorder_ = std::make_unique<ledger::BackgroundRecorder>(location_, std::move(onRecorded), std::move(onProblem),
                                                             ledger::stationSetup(), std::move(onNews));
}

ConsoleLedger::~ConsoleLedger()
{
    {
        std::lock_guard lock(sink_->mutex);
        sink_->window = nullptr;
    }
    recorder_.reset();
}

std::vector<LedgerLine> ConsoleLedger::takeLines()
{
    std::lock_guard lock(sink_->mutex);
    return std::exchange(sink_->pending, {});
}

void ConsoleLedger::loginStarted(std::string place)
{
    place_ = std::move(place);
    deviceId_.clear();
}

void ConsoleLedger::deviceIdRead(std::string deviceId)
{
    deviceId_ = std::move(deviceId);
}

void ConsoleLedger::forgetDeviceId()
{
    deviceId_.clear();
}

ledger::Event ConsoleLedger::event(std::string kind) const
{
    ledger::Event event = provision::startEvent(origin_, std::move(kind));
    event.deviceId = deviceId_;
    event.where = place_;
    return event;
}

void ConsoleLedger::record(ledger::Event event)
{
    recorder_->record(std::move(event));
}

void ConsoleLedger::flush()
{
    recorder_->flush();
}

} // namespace orv
