// orvctl ledger history: who held a camera, or which cameras an officer held, over time.
#include "orvctl/command.h"
#include "orvctl/help_texts.h"
#include "orvctl/ledger_action.h"

#include "ledger/custody.h"
#include "ledger/evidence.h"
#include "ledger/independent_witness.h"
#include "ledger/ledger_export.h"
#include "ledger/postgres_ledger.h"
#include "link/program_arguments.h"
#include "orvctl/ledger_commands.h"
#include "persist/atomic_file.h"
#include "provision/camera_identity.h"

#include <filesystem>
#include <ostream>

namespace orv::cli {
namespace {

constexpr OptionDefinition kOptions[] = {kDeviceOption, kOfficerOption, kSinceOption, kUntilOption};

class HistoryAction final : public LedgerAction
{
public:
    using LedgerAction::LedgerAction;

    int run()
    {
        if (const int code = readPeriod("ledger history", since_, until_)) {
            return code;
        }
        if (const int code = open()) {
            return code;
        }
        return history();
    }

private:
    int history()
    {
        ledger::EventFilter filter;
        filter.deviceId = o_.device;
        filter.officerId = o_.officer;
        filter.sinceUtc = since_.value_or("");
        filter.untilUtc = until_.value_or("");
        std::vector<ledger::Event> events;
        if (!ledger_->readEvents(filter, events)) {
            return readFailed();
        }
        // The intervals need every event of the cameras concerned, whatever the time asked about:
        // an interval may have begun before --since.
        ledger::EventFilter whole;
        whole.deviceId = o_.device;
        std::vector<ledger::Event> all;
        if (!ledger_->readEvents(whole, all)) {
            return readFailed();
        }
        warnUnreadable(events);
        std::erase_if(all, [](const ledger::Event& e) { return !e.unreadable.empty(); });
        const std::vector<ledger::Assignment> intervals = ledger::custodyIntervals(
            all, {.deviceId = o_.device, .officerId = o_.officer, .sinceUtc = filter.sinceUtc, .untilUtc = filter.untilUtc});
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("events").beginArray();
            for (const ledger::Event& e : events) {
                eventInJson(j, e);
            }
            j.endArray().key("assignments").beginArray();
            for (const ledger::Assignment& a : intervals) {
                assignmentInJson(j, a);
            }
            j.endArray().endObject();
            c_.out << j.text() << "\n";
            return kExitDone;
        }
        for (const ledger::Event& e : events) {
            c_.out << eventLine(e) << "\n";
        }
        if (!o_.officer.empty()) {
            c_.out << "officer " << o_.officer << " held:" << (intervals.empty() ? " no camera" : "") << "\n";
            for (const ledger::Assignment& a : intervals) {
                c_.out << "  " << a.deviceId << "  from " << ledger::localTimeText(a.fromUtc) << " until "
                       << untilText(a) << "  unit " << orDash(a.unit) << "\n";
            }
        } else {
            c_.out << "camera " << o_.device << " was held by:" << (intervals.empty() ? " no officer recorded" : "")
                   << "\n";
            for (const ledger::Assignment& a : intervals) {
                c_.out << "  " << a.officerId << "  from " << ledger::localTimeText(a.fromUtc) << " until "
                       << untilText(a) << "  unit " << orDash(a.unit) << "\n";
            }
        }
        return kExitDone;
    }

    std::optional<std::string> since_;
    std::optional<std::string> until_;
};

std::string check(CliOptions& o)
{
    return deviceOrOfficerProblem(o, "ledger history");
}

int action(const CliOptions& o, CliContext& c)
{
    return HistoryAction(o, c).run();
}

} // namespace

constexpr Command kLedgerHistoryCommand{
    .name = "history",
    .kind = CommandKind::LedgerHistory,
    .operands = "--device ID|--officer ID",
    .minOperands = 0,
    .maxOperands = 0,
    .summary = "Who held a camera, or which cameras an officer held, over time.",
    .details = "Give the camera (--device) or the officer (--officer), not both; --since and --until narrow\n"
               "the time (a date alone covers that whole day). Prints the events, oldest first, one a line\n"
               "(number, local time, kind, device, officer before -> after, result, station, operator, where),\n"
               "then the intervals in which the camera carried each officer, or in which the officer held each\n"
               "camera.",
    .related = "--ledger --json",
    .options = kOptions,
    .footer = kTimesFooter,
    .check = check,
    .action = action,
};

} // namespace orv::cli
