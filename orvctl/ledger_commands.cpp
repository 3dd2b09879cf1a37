#include "orvctl/ledger_commands.h"

#include "ledger/evidence.h"
#include "ledger/independent_witness.h"
#include "ledger/ledger_export.h"
#include "ledger/postgres_ledger.h"
#include "ledger/spooled_ledger.h"
#include "link/program_arguments.h"
#include "orv_version.h"
#include "orvctl/json_writer.h"
#include "persist/atomic_file.h"
#include "provision/camera_identity.h"

#include <chrono>
#include <filesystem>
#include <ostream>

namespace orv::cli {

std::string ledgerLocation(const CliOptions& options)
{
    return ledger::locationOrDefault(options.ledger);
}

std::shared_ptr<ledger::Ledger> openReachableLedger(const std::string& location, std::string& problem)
{
    std::shared_ptr<ledger::Ledger> opened = ledger::openLedger(location, problem);
    if (!opened) {
        problem = ledger::oneLine(problem);
        return nullptr;
    }
    if (!opened->head()) {
        problem = ledgerProblem(*opened);
        return nullptr;
    }
    return opened;
}

std::optional<ledger::Recording> startRecording(const CliOptions& options, CliContext& context, int& code,
                                                std::string_view notDone)
{
    ledger::RecordingStart start =
        ledger::startRecording(ledgerLocation(options), ledger::stationSetup(pathFromUtf8(options.trusted)));
    ledger::refuseWithoutRoomForOutcomes(start);
    if (start.ok()) {
        code = kExitDone;
        if (!start.recording->offline.empty()) {
            context.err << "orvctl: ledger " << start.recording->offline
                        << "; this station goes on and forwards them later (orvctl ledger sync)\n";
        }
        if (!start.recording->notice.empty()) {
            context.err << "orvctl: ledger " << start.recording->notice << "\n";
        }
        return start.recording;
    }
    code = start.refusal == ledger::RecordingStart::Refusal::Forked ? kExitLedgerBroken : kExitFailed;
    const std::string message = start.message + "; " + std::string(notDone);
    context.err << "orvctl: ledger " << message << "\n";
    if (options.json) {
        JsonWriter j;
        j.beginObject().key("error").beginObject().key("step").value("ledger").key("message").value(message);
        if (!start.evidence.empty()) {
            j.key("evidence").value(pathUtf8(start.evidence));
        }
        j.key("exitCode").value(code).endObject().endObject();
        context.out << j.text() << "\n";
    }
    return std::nullopt;
}

int sealRecording(const ledger::Recording& recording, CliContext& context)
{
    ledger::ForwardOutcome forwarded;
    forwarded.reached = true;
    const ledger::Station::Signed sealed = ledger::sealRecording(*recording.ledger, *recording.station, &forwarded);
    if (!forwarded.reached) {
        // Recorded all the same: the events wait in the station's spool.
        context.err << "orvctl: ledger " << forwarded.problem << "; " << forwarded.waiting
                    << (forwarded.waiting == 1 ? " event waits" : " events wait")
                    << " in this station's spool (orvctl ledger sync)\n";
    }
    if (sealed.ok) {
        return kExitDone;
    }
    context.err << "orvctl: ledger " << ledger::oneLine(sealed.message) << "\n";
    return kExitFailed;
}

std::string ledgerProblem(const ledger::Ledger& ledger)
{
    return ledger::oneLine(ledger.location() + ": " + ledger.error());
}

provision::EventOrigin orvctlOrigin()
{
    provision::EventOrigin origin;
    origin.tool = "orvctl";
    origin.toolVersion = kProgramVersion;
    return origin;
}

} // namespace orv::cli
