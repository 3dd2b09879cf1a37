#include "searchtool/ledger_desk.h"

#include <algorithm>

namespace orv::search {

LedgerDesk::LedgerDesk() = default;

LedgerDesk::~LedgerDesk()
{
    close();
}

void LedgerDesk::setLocation(std::string location)
{
    std::lock_guard lock(mutex_);
    location_ = std::move(location);
}

std::string LedgerDesk::location() const
{
    std::lock_guard lock(mutex_);
    return location_;
}

void LedgerDesk::close()
{
    closed_ = true;
}

bool LedgerDesk::post(std::function<void()> task)
{
    if (closed_) {
        return false;
    }
    return pool_.post([this, task = std::move(task)] {
        if (!closed_) {
            task();
        }
    });
}

LedgerDesk::Opened LedgerDesk::openHere()
{
    const std::string wanted = ledger::locationOrDefault(location());
    Opened opened;
    if (!ledger_ || openedAt_ != wanted) {
        ledger_.reset();
        std::string error;
        std::unique_ptr<ledger::Ledger> fresh = ledger::openLedger(wanted, error);
        if (!fresh) {
            opened.where = wanted;
            opened.problem = error;
            return opened;
        }
        ledger_ = std::move(fresh);
        openedAt_ = wanted;
    }
    opened.where = ledger_->location();
    opened.head = ledger_->head();
    if (!opened.head) {
        opened.problem = ledger_->error();
        ledger_.reset(); // lost: opened again next time
        return opened;
    }
    opened.ledger = ledger_;
    return opened;
}

void LedgerDesk::open(std::function<void(const Opened&)> done)
{
    const bool posted = post([this, done = std::move(done)] { done(openHere()); });
    if (!posted && !closed_) {
        Opened refused;
        refused.problem = "no thread for the ledger";
        done(refused);
    }
}

void LedgerDesk::setTrustedKeys(std::filesystem::path file)
{
    std::lock_guard lock(mutex_);
    trustedKeys_ = std::move(file);
}

std::shared_ptr<ledger::Station> LedgerDesk::stationHere(std::string& error)
{
    std::filesystem::path trusted;
    {
        std::lock_guard lock(mutex_);
        trusted = trustedKeys_;
    }
    if (!station_ || stationTrusted_ != trusted) {
        station_ = ledger::Station::open(ledger::stationSetup(trusted), error);
        stationTrusted_ = trusted;
    }
    return station_;
}

void LedgerDesk::prepareRun(std::function<void(const Opened&)> done)
{
    const bool posted = post([this, done = std::move(done)] {
        Opened opened = openHere();
        if (!opened.ok()) {
            done(opened);
            return;
        }
        std::string error;
        const std::shared_ptr<ledger::Station> station = stationHere(error);
        if (!station) {
            opened.refusal = ledger::RecordingStart::Refusal::Station;
            opened.problem = ledger::oneLine(error);
            opened.ledger.reset();
            done(opened);
            return;
        }
        const ledger::RecordingStart start = ledger::startRecording({}, {}, station, opened.ledger);
        if (!start.ok()) {
            opened.refusal = start.refusal;
            opened.problem = start.message;
            const std::u8string evidence = start.evidence.u8string();
            opened.evidence = std::string(evidence.begin(), evidence.end());
            opened.ledger.reset();
            if (start.refusal == ledger::RecordingStart::Refusal::Unreachable) {
                ledger_.reset(); // lost: opened again next time
            }
        } else {
            opened.head = start.recording->head;
        }
        done(opened);
    });
    if (!posted && !closed_) {
        Opened refused;
        refused.problem = "no thread for the ledger";
        done(refused);
    }
}

void LedgerDesk::seal(std::function<void(const Sealed&)> done)
{
    post([this, done = std::move(done)] {
        Sealed sealed;
        const Opened opened = openHere();
        std::string error;
        const std::shared_ptr<ledger::Station> station = opened.ok() ? stationHere(error) : nullptr;
        if (!opened.ok()) {
            sealed.problem = opened.where + ": " + opened.problem;
        } else if (!station) {
            sealed.problem = ledger::oneLine(error);
        } else {
            const ledger::Station::Signed signedNow = station->signCheckpoint(*opened.ledger);
            if (!signedNow.ok) {
                sealed.problem = ledger::oneLine(signedNow.message);
            }
            sealed.head = opened.ledger->head();
        }
        done(sealed);
    });
}

void LedgerDesk::history(std::string deviceId, std::function<void(const History&)> done)
{
    post([this, deviceId = std::move(deviceId), done = std::move(done)] {
        History history;
        const Opened opened = openHere();
        if (!opened.ok()) {
            history.problem = opened.where + ": " + opened.problem;
        } else {
            ledger::EventFilter filter;
            filter.deviceId = deviceId;
            if (!opened.ledger->readEvents(filter, history.events)) {
                history.problem = opened.where + ": " + opened.ledger->error();
            }
        }
        done(history);
    });
}

void LedgerDesk::report(report::ReportRequest request, std::function<void(const report::ReportOutcome&)> done)
{
    auto task = [this, request = std::move(request), done](bool here) {
        report::ReportOutcome outcome;
        if (!here) {
            outcome.message = "no thread for the ledger";
            done(outcome);
            return;
        }
        const Opened opened = openHere();
        std::string error;
        const std::shared_ptr<ledger::Station> station = opened.ok() ? stationHere(error) : nullptr;
        if (!opened.ok()) {
            outcome.message = opened.where + ": " + opened.problem;
        } else if (!station) {
            outcome.message = ledger::oneLine(error);
        } else {
            outcome = report::makeCustodyReport(*opened.ledger, *station, request);
        }
        done(outcome);
    };
    // Not dropped by close(): the operator chose the file, so a report asked for is written (the
    // pool runs it before it ends) even when the tool closes before it has begun.
    if (!pool_.post([task] { task(true); })) {
        task(false);
    }
}

void LedgerDesk::lastConfigured(std::vector<std::string> deviceIds,
                                std::function<void(const std::vector<ledger::Event>&)> done)
{
    post([this, deviceIds = std::move(deviceIds), done = std::move(done)] {
        const Opened opened = openHere();
        if (!opened.ok()) {
            return; // said when a run starts
        }
        std::vector<ledger::Event> last;
        for (const std::string& id : deviceIds) {
            ledger::EventFilter filter;
            filter.deviceId = id;
            std::vector<ledger::Event> events;
            if (!opened.ledger->readEvents(filter, events)) {
                return;
            }
            const auto written = std::find_if(events.rbegin(), events.rend(),
                                              [](const ledger::Event& e) { return !e.groups.empty(); });
            if (written != events.rend()) {
                last.push_back(*written);
            }
        }
        done(last);
    });
}

} // namespace orv::search
