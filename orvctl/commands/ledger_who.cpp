// orvctl ledger who DEVICE --at TIME: the officer who held a camera then.
#include "orvctl/command.h"
#include "orvctl/help_texts.h"
#include "orvctl/ledger_action.h"

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

constexpr OptionDefinition kOptions[] = {
    {"--at", "TIME", "needs a time", "The moment asked about.", &CliOptions::at},
};

class WhoAction final : public LedgerAction
{
public:
    using LedgerAction::LedgerAction;

    int run()
    {
        // A time that is no time is a usage error, found before the ledger is opened.
        if (!readTime("--at", o_.at, at_)) {
            return kExitUsage;
        }
        if (const int code = open()) {
            return code;
        }
        return who();
    }

private:
    int who()
    {
        ledger::EventFilter filter;
        filter.deviceId = o_.device;
        std::vector<ledger::Event> events;
        if (!ledger_->readEvents(filter, events)) {
            return readFailed();
        }
        warnUnreadable(events);
        const std::optional<ledger::Assignment> found = ledger::whoHadCamera(events, o_.device, *at_);
        if (o_.json) {
            // An object also when nobody is recorded, so that a script tells "unknown" (officer
            // null) from a ledger that could not be read (an error object).
            JsonWriter j;
            j.beginObject().key("deviceId").value(o_.device).key("atUtc").value(*at_);
            if (found) {
                j.key("officer").value(found->officerId).key("assignment");
                assignmentInJson(j, *found);
            } else {
                j.key("officer").null();
            }
            j.endObject();
            c_.out << j.text() << "\n";
        } else if (found) {
            c_.out << found->officerId << "  unit " << orDash(found->unit) << "  from "
                   << ledger::localTimeText(found->fromUtc) << " until " << untilText(*found) << "\n";
        }
        if (!found) {
            c_.err << "orvctl: no officer recorded for " << o_.device << " at " << o_.at << "\n";
            return kExitFailed;
        }
        return kExitDone;
    }

    std::optional<std::string> at_;
};

std::string check(CliOptions& o)
{
    o.device = o.operands[0];
    if (o.device.empty()) {
        return "ledger who needs a device id";
    }
    if (o.at.empty()) {
        return "ledger who needs --at TIME";
    }
    return {};
}

int action(const CliOptions& o, CliContext& c)
{
    return WhoAction(o, c).run();
}

} // namespace

constexpr Command kLedgerWhoCommand{
    .name = "who",
    .kind = CommandKind::LedgerWho,
    .operands = "DEVICE --at TIME",
    .minOperands = 1,
    .maxOperands = 1,
    .summary = "Print the officer who held camera DEVICE at TIME.",
    .details = "Prints the officer, the unit and the interval (local time) in which the camera carried that\n"
               "officer, as the events show it. When none is recorded for DEVICE at TIME, nothing is printed\n"
               "on standard output (--json: an object whose officer is null) and the exit status is 1.",
    .related = "--ledger --json",
    .options = kOptions,
    .footer = kTimesFooter,
    .check = check,
    .action = action,
};

} // namespace orv::cli
