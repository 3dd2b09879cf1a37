#include "ledger/ledger.h"

namespace orv::ledger {

VerifyReport verifyChain(Ledger& ledger)
{
    LedgerSnapshot snapshot;
    if (!ledger.readSnapshot(snapshot)) {
        VerifyReport report;
        report.intact = false;
        report.problem = "cannot read the ledger: " + ledger.error();
        return report;
    }
    return verifyChain(snapshot);
}

VerifyReport verifyChain(const LedgerSnapshot& snapshot)
{
    VerifyReport report;
    const std::vector<Event>& events = snapshot.events;
    const auto broken = [&](std::int64_t number, std::string problem) {
        report.intact = false;
        report.firstBroken = number;
        report.problem = std::move(problem);
        return report;
    };
    for (const Event& event : events) {
        const std::int64_t expected = report.head.number + 1;
        const std::string n = std::to_string(event.number);
        if (event.number != expected) {
            ++report.eventsChecked;
            return broken(expected, "event " + std::to_string(expected) + " is missing: the event after " +
                                        (report.head.number == 0 ? std::string("the start")
                                                                 : "event " + std::to_string(report.head.number)) +
                                        " is numbered " + n);
        }
        ++report.eventsChecked;
        if (!event.unreadable.empty()) {
            return broken(event.number, "event " + n + " cannot be read: " + event.unreadable);
        }
        if (event.previousHash != report.head.hash) {
            return broken(event.number, "event " + n + " does not follow " +
                                            (expected == 1 ? std::string("the chain's start")
                                                           : "event " + std::to_string(report.head.number)) +
                                            ": its previous hash differs from " +
                                            (expected == 1 ? std::string("the start's") : "that event's hash") +
                                            " (an event was removed, inserted or reordered here)");
        }
        if (eventHash(event.previousHash, event) != event.hash) {
            return broken(event.number, "event " + n + " was altered: its hash does not match its contents");
        }
        report.head.number = event.number;
        report.head.hash = event.hash;
    }
    if (!snapshot.head) {
        return report; // an export without the database's head: the events alone
    }
    const ChainHead& recorded = *snapshot.head;
    if (recorded.number != report.head.number) {
        if (recorded.number > report.head.number) {
            return broken(report.head.number + 1, "the chain head records " + std::to_string(recorded.number) +
                                                      " events but the last is " + std::to_string(report.head.number) +
                                                      ": event " + std::to_string(report.head.number + 1) +
                                                      " is missing");
        }
        return broken(recorded.number + 1, "event " + std::to_string(recorded.number + 1) +
                                               " lies beyond the chain head, which records " +
                                               std::to_string(recorded.number) + " events");
    }
    if (recorded.hash != report.head.hash) {
        return broken(report.head.number == 0 ? 1 : report.head.number,
                      "the chain head's hash differs from the last event's (" + std::to_string(report.head.number) +
                          ")");
    }
    return report;
}

} // namespace orv::ledger
