// orvctl ledger report: the chain of custody of a camera or an officer as a PDF, with the proofs.
#include "orvctl/command.h"
#include "orvctl/help_texts.h"
#include "orvctl/ledger_action.h"

#include "ledger/station.h"
#include "link/program_arguments.h"
#include "persist/atomic_file.h"
#include "report/custody_report.h"
#include "report/report_fonts.h"

#include <ostream>

namespace orv::cli {
namespace {

constexpr OptionDefinition kOptions[] = {
    kDeviceOption,
    kOfficerOption,
    kSinceOption,
    kUntilOption,
    {"--language", "LANG", "needs zh_CN, zh_TW or en",
     "The report's language: zh_CN, zh_TW or en (default: the computer's).", &CliOptions::language},
    {"--pdf", "FILE", "needs a file", "Write the report to FILE (written whole or not at all).", &CliOptions::pdf},
    kWitnessKeysOption,
    kMinWitnessesOption,
};

class ReportAction final : public LedgerAction
{
public:
    using LedgerAction::LedgerAction;

    int run()
    {
        if (const int code = readPeriod("ledger report", since_, until_)) {
            return code;
        }
        if (const int code = open()) {
            return code;
        }
        return report();
    }

private:
    int report()
    {
        const report::ReportApplication qt;
        report::ReportRequest request;
        request.query = {.deviceId = o_.device, .officerId = o_.officer, .sinceUtc = since_.value_or(""),
                         .untilUtc = until_.value_or("")};
        request.language = o_.language.empty() ? report::systemReportLanguage()
                                               : *report::reportLanguageNamed(o_.language);
        request.pdf = pathFromUtf8(o_.pdf);
        request.origin = orvctlOrigin();
        std::string why;
        if (!o_.witnessKeys.empty()) {
            std::optional<ledger::KeyRing> witnesses =
                ledger::readKeyRingFile(pathFromUtf8(o_.witnessKeys), "the witness keys file", why);
            if (!witnesses) {
                return problem(why);
            }
            request.witnesses = std::move(*witnesses);
            request.minWitnesses = o_.minWitnessCount;
        }
        const std::shared_ptr<ledger::Station> station =
            ledger::Station::open(ledger::stationSetup(pathFromUtf8(o_.trusted)), why);
        if (!station) {
            return problem(why);
        }
        const report::ReportOutcome outcome = report::makeCustodyReport(*ledger_, *station, request);
        return said(outcome);
    }

    int said(const report::ReportOutcome& outcome)
    {
        using Status = report::ReportOutcome::Status;
        if (outcome.status == Status::Failed) {
            c_.err << "orvctl: ledger report: " << outcome.message << "\n";
            return kExitFailed;
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject()
                .key("file")
                .value(o_.pdf)
                .key("proofs")
                .value(pathUtf8(outcome.proofs))
                .key("sha256")
                .value(outcome.sha256)
                .key("pages")
                .value(static_cast<std::int64_t>(outcome.pages))
                .key("events")
                .value(static_cast<std::int64_t>(outcome.events))
                .key("proved")
                .value(static_cast<std::int64_t>(outcome.proved))
                .key("sound")
                .value(outcome.status == Status::Sound);
            optionalText(j, "problem", outcome.message);
            if (outcome.reportEvent != 0) {
                j.key("report_event").value(outcome.reportEvent);
            }
            j.endObject();
            c_.out << j.text() << "\n";
        } else {
            const auto count = [](std::size_t n, const char* one, const char* many) {
                return std::to_string(n) + " " + (n == 1 ? one : many);
            };
            c_.out << "wrote " << o_.pdf << " (" << count(static_cast<std::size_t>(outcome.pages), "page", "pages")
                   << ", " << count(outcome.events, "event", "events") << ", " << outcome.proved
                   << " proved; SHA-256 " << outcome.sha256 << ") and its proofs in " << pathUtf8(outcome.proofs)
                   << "\n";
            if (outcome.reportEvent != 0) {
                c_.out << "recorded as event " << outcome.reportEvent << "\n";
            }
        }
        if (!outcome.notRecorded.empty()) {
            c_.err << "orvctl: ledger report: " << outcome.notRecorded << "\n";
        }
        if (outcome.status == Status::NotSound) {
            c_.err << "orvctl: ledger report: the ledger does not hold: " << outcome.message
                   << "; the report says so on its first page\n";
            return kExitLedgerBroken;
        }
        if (!outcome.message.empty()) {
            c_.err << "orvctl: ledger report: " << outcome.message << "\n";
        }
        return kExitDone;
    }

    std::optional<std::string> since_;
    std::optional<std::string> until_;
};

std::string check(CliOptions& o)
{
    if (std::string problem = deviceOrOfficerProblem(o, "ledger report"); !problem.empty()) {
        return problem;
    }
    if (o.pdf.empty()) {
        return "ledger report needs --pdf FILE";
    }
    if (!o.language.empty() && !report::reportLanguageNamed(o.language)) {
        return "--language takes zh_CN, zh_TW or en, not \"" + o.language + "\"";
    }
    return readMinWitnesses(o);
}

int action(const CliOptions& o, CliContext& c)
{
    return ReportAction(o, c).run();
}

} // namespace

constexpr Command kLedgerReportCommand{
    .name = "report",
    .kind = CommandKind::LedgerReport,
    .operands = "--device ID|--officer ID --pdf FILE",
    .minOperands = 0,
    .maxOperands = 0,
    .summary = "Write the chain-of-custody report of a camera or an officer as a PDF.",
    .details = "The report lists what was asked and who asked, the assignment intervals, every event of the\n"
               "period with its proof, what verifying the ledger found, and the signed checkpoint with the keys\n"
               "that signed it; an appendix holds each event's tlog-proof, and FILE.proofs/ beside the report\n"
               "holds them as files (ledger verify-proof checks one). The ledger is signed up to its newest\n"
               "event first, and the report is recorded in it as a \"report\" event with its SHA-256. When the\n"
               "ledger does not verify, or an event listed is not in the signed ledger, the report says so\n"
               "on its first page and orvctl exits 5.",
    .related = "--ledger --trusted --json",
    .options = kOptions,
    .footer = kTimesFooter,
    .check = check,
    .action = action,
};

} // namespace orv::cli
