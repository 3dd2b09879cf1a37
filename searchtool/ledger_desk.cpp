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
