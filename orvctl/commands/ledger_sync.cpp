// orvctl ledger sync: forwards what waits in this station's spool to the shared ledger.
// orvctl ledger status: how many events wait, since when the shared ledger is away, and why.
#include "orvctl/command.h"
#include "orvctl/ledger_action.h"

#include "ledger/spooled_ledger.h"
#include "ledger/station.h"
#include "link/program_arguments.h"
#include "orvctl/ledger_commands.h"
#include "persist/atomic_file.h"

#include <chrono>
#include <filesystem>
#include <ostream>

namespace orv::cli {
namespace {

// The spool of the --ledger location, when it names a shared database; null with the problem
// printed otherwise (kExitUsage for a file, which is its own spool).
std::unique_ptr<ledger::SpooledLedger> openSpooled(const CliOptions& o, CliContext& c, int& code)
{
    const std::string location = ledgerLocation(o);
    if (!ledger::isPostgresLocation(location)) {
        c.err << "orvctl: ledger " << location
              << ": a ledger file is written directly; only a shared database (--ledger postgresql://...) has a "
                 "spool\n";
        code = kExitUsage;
        return nullptr;
    }
    const ledger::StationSetup setup = ledger::stationSetup(pathFromUtf8(o.trusted));
    std::string error;
    if (const std::string secret = ledger::locationSecretProblem(location); !secret.empty()) {
        c.err << "orvctl: ledger " << ledger::oneLine(secret) << "\n";
        code = kExitUsage;
        return nullptr;
    }
    std::unique_ptr<ledger::Spool> spool =
        ledger::Spool::open(ledger::Spool::fileFor(setup.folder, location), error);
    if (!spool) {
        c.err << "orvctl: ledger " << ledger::oneLine(error) << "\n";
        code = kExitFailed;
        return nullptr;
    }
    code = kExitDone;
    return std::make_unique<ledger::SpooledLedger>(location, std::move(spool));
}

void statusInJson(JsonWriter& j, const ledger::SpoolStatus& s, const ledger::Spool& spool)
{
    j.key("spool").value(pathUtf8(spool.file()));
    j.key("waiting").value(s.waiting);
    optionalText(j, "oldestWaiting", s.oldestWaitingUtc);
    optionalText(j, "unreachableSince", s.unreachableSinceUtc);
    optionalText(j, "lastError", s.lastError);
    j.key("refused").value(s.refused);
    optionalText(j, "lastForwarded", s.lastForwardedUtc);
    j.key("forwarded").value(s.forwarded);
}

int status(const CliOptions& o, CliContext& c)
{
    int code = kExitDone;
    const std::unique_ptr<ledger::SpooledLedger> spooled = openSpooled(o, c, code);
    if (!spooled) {
        return code;
    }
    ledger::SpoolStatus s;
    if (!spooled->spool().status(s)) {
        c.err << "orvctl: ledger " << ledger::oneLine(spooled->spool().error()) << "\n";
        return kExitFailed;
    }
    if (o.json) {
        JsonWriter j;
        j.beginObject().key("ledger").value(spooled->location());
        statusInJson(j, s, spooled->spool());
        j.endObject();
        c.out << j.text() << "\n";
        return kExitDone;
    }
    c.out << "shared ledger: " << spooled->location() << "\n";
    c.out << "spool: " << pathUtf8(spooled->spool().file()) << "\n";
    c.out << "waiting: " << s.waiting;
    if (!s.oldestWaitingUtc.empty()) {
        c.out << " (the oldest recorded " << ledger::localTimeText(s.oldestWaitingUtc) << ")";
    }
    c.out << "\n";
    if (!s.unreachableSinceUtc.empty()) {
        c.out << (s.refused ? "refused since: " : "unreachable since: ") << ledger::localTimeText(s.unreachableSinceUtc)
              << "\n";
    }
    if (!s.lastError.empty()) {
        c.out << "last error: " << s.lastError << "\n";
    }
    if (!s.lastForwardedUtc.empty()) {
        c.out << "last forwarded: " << ledger::localTimeText(s.lastForwardedUtc) << " (" << s.forwarded
              << " events in all)\n";
    }
    return kExitDone;
}

int sync(const CliOptions& o, CliContext& c)
{
    int code = kExitDone;
    const std::unique_ptr<ledger::SpooledLedger> spooled = openSpooled(o, c, code);
    if (!spooled) {
        return code;
    }
    const auto progress = [&](std::int64_t done, std::int64_t total) {
        if (!o.json) {
            c.err << "forwarded " << done << " of " << total << " events\n";
        }
    };
    const ledger::ForwardOutcome outcome = spooled->forward(progress);
    // A checkpoint over what was forwarded, signed by this station as after any run.
    std::string signProblem;
    if (outcome.reached && outcome.forwarded > 0) {
        std::string error;
        const std::shared_ptr<ledger::Station> station =
            ledger::Station::open(ledger::stationSetup(pathFromUtf8(o.trusted)), error);
        if (!station) {
            signProblem = ledger::oneLine(error);
        } else if (const ledger::Station::Signed sealed = station->signCheckpoint(*spooled); !sealed.ok) {
            signProblem = ledger::oneLine(sealed.message);
        }
    }
    if (o.json) {
        JsonWriter j;
        j.beginObject().key("ledger").value(spooled->location());
        j.key("forwarded").value(outcome.forwarded).key("waiting").value(outcome.waiting);
        j.key("reached").value(outcome.reached);
        optionalText(j, "problem", outcome.problem);
        optionalText(j, "checkpointProblem", signProblem);
        j.endObject();
        c.out << j.text() << "\n";
    } else {
        c.out << "forwarded " << outcome.forwarded << (outcome.forwarded == 1 ? " event" : " events") << " to "
              << spooled->location() << "; " << outcome.waiting << " waiting\n";
    }
    if (!outcome.problem.empty()) {
        c.err << "orvctl: ledger " << outcome.problem << "\n";
    }
    if (!signProblem.empty()) {
        c.err << "orvctl: ledger " << signProblem << "\n";
    }
    return outcome.reached && signProblem.empty() ? kExitDone : kExitFailed;
}

} // namespace

constexpr Command kLedgerSyncCommand{
    .name = "sync",
    .kind = CommandKind::LedgerSync,
    .minOperands = 0,
    .maxOperands = 0,
    .summary = "Forward to the shared ledger what waits in this station's spool.",
    .details = "Events recorded while the shared database did not answer wait in the station's spool (a file\n"
               "in the station's folder) and are forwarded before and after every command that records;\n"
               "sync forwards them now, in the order recorded, each once, then signs a checkpoint. A line on\n"
               "standard error after each batch says how far it got. Exit 0 once none waits.",
    .related = "--ledger --trusted --json",
    .action = sync,
};

constexpr Command kLedgerStatusCommand{
    .name = "status",
    .kind = CommandKind::LedgerStatus,
    .minOperands = 0,
    .maxOperands = 0,
    .summary = "Say what waits for the shared ledger, and since when it is away.",
    .details = "Reads this station's spool for the shared ledger --ledger names (nothing is sent): the events\n"
               "waiting and the oldest one's time, since when the shared database does not answer or\n"
               "refuses them, the last error, and when events were last forwarded.",
    .related = "--ledger --json",
    .action = status,
};

} // namespace orv::cli
