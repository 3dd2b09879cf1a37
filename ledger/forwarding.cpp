#include "ledger/forwarding.h"

#include <algorithm>

namespace orv::ledger {

void ForwardBackoff::set(std::chrono::milliseconds first, std::chrono::milliseconds longest)
{
    first_ = std::max(first, std::chrono::milliseconds(1));
    longest_ = std::max(longest, first_);
    pause_ = {};
}

std::chrono::milliseconds ForwardBackoff::failed()
{
    pause_ = pause_.count() == 0 ? first_ : std::min(pause_ * 2, longest_);
    return pause_;
}

ForwardSealer::ForwardSealer(std::optional<StationSetup> setup)
    : setup_(std::move(setup))
{
}

bool ForwardSealer::after(const ForwardOutcome& outcome, SpooledLedger& ledger, const Problem& problem)
{
    toSign_ = toSign_ || outcome.forwarded > 0;
    if (!setup_ || !outcome.reached) {
        return !setup_;
    }
    if (!stationTried_) {
        stationTried_ = true;
        std::string error;
        station_ = Station::open(*setup_, error);
        if (!station_) {
            problem(oneLine(error));
        }
    }
    if (!station_) {
        return false;
    }
    if (!checked_) {
        // The station's check before writing, against the shared ledger now that it answers
        // (what waited was forwarded first).
        const std::shared_ptr<Ledger> borrowed(std::shared_ptr<Ledger>(), &ledger);
        const RecordingStart start = startRecording({}, *setup_, station_, borrowed);
        checked_ = start.ok() && start.recording->offline.empty();
        if (!start.ok() && start.refusal != RecordingStart::Refusal::Unreachable) {
            problem(start.message);
        }
        if (!checked_) {
            return false;
        }
    }
    if (toSign_) {
        const Station::Signed sealed = station_->signCheckpoint(ledger);
        toSign_ = !sealed.ok;
        if (!sealed.ok) {
            problem(oneLine(sealed.message));
            return false;
        }
    }
    return true;
}

} // namespace orv::ledger
