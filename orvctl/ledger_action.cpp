#include "orvctl/ledger_action.h"

#include "ledger/evidence.h"
#include "ledger/independent_witness.h"
#include "ledger/ledger_export.h"
#include "ledger/postgres_ledger.h"
#include "link/program_arguments.h"
#include "orv_version.h"
#include "orvctl/json_writer.h"
#include "persist/atomic_file.h"
#include "provision/camera_identity.h"

#include <chrono>
#include <filesystem>
#include <ostream>

namespace orv::cli {

std::string orDash(const std::string& text)
{
    return text.empty() ? "-" : text;
}

void optionalText(JsonWriter& j, std::string_view key, const std::string& text)
{
    j.key(key);
    if (text.empty()) {
        j.null();
    } else {
        j.value(text);
    }
}

void eventInJson(JsonWriter& j, const ledger::Event& e)
{
    j.beginObject();
    j.key("number").value(e.number);
    j.key("timeUtc").value(e.timeUtc).key("localTime").value(ledger::localTimeText(e.timeUtc));
    j.key("utcOffsetMinutes").value(e.utcOffsetMinutes);
    j.key("station").value(e.station).key("operator").value(e.operatorName);
    j.key("tool").value(e.tool).key("toolVersion").value(e.toolVersion);
    j.key("kind").value(e.kind).key("deviceId").value(e.deviceId).key("where").value(e.where);
    j.key("officerBefore").value(e.officerBefore).key("officerAfter").value(e.officerAfter);
    j.key("unitBefore").value(e.unitBefore).key("unitAfter").value(e.unitAfter);
    j.key("setupName").value(e.setupName).key("setupSha256").value(e.setupSha256);
    j.key("groups").value(e.groups).key("result").value(e.result).key("differences").value(e.differences);
    j.key("clockOffsetSeconds");
    if (e.clockOffsetSeconds) {
        j.value(*e.clockOffsetSeconds);
    } else {
        j.null();
    }
    j.key("hash").value(e.hash);
    j.endObject();
}

void assignmentInJson(JsonWriter& j, const ledger::Assignment& a)
{
    j.beginObject();
    j.key("deviceId").value(a.deviceId).key("officer").value(a.officerId).key("unit").value(a.unit);
    j.key("fromUtc").value(a.fromUtc).key("fromLocal").value(ledger::localTimeText(a.fromUtc));
    optionalText(j, "untilUtc", a.untilUtc);
    optionalText(j, "untilLocal", a.untilUtc.empty() ? std::string() : ledger::localTimeText(a.untilUtc));
    j.key("fromEvent").value(a.fromEvent);
    j.key("untilEvent");
    if (a.untilEvent == 0) {
        j.null();
    } else {
        j.value(a.untilEvent);
    }
    j.endObject();
}

// "#12  2026-03-05 14:07:09  provision  ORV202600001  PC4471 -> P-001  ok  desk-3  anna  usb0 192.168.2.158"
std::string eventLine(const ledger::Event& e)
{
    return "#" + std::to_string(e.number) + "  " + ledger::localTimeText(e.timeUtc) + "  " + e.kind + "  " +
           orDash(e.deviceId) + "  " + orDash(e.officerBefore) + " -> " + orDash(e.officerAfter) + "  " +
           orDash(e.result) + "  " + orDash(e.station) + "  " + orDash(e.operatorName) + "  " + orDash(e.where);
}

std::string untilText(const ledger::Assignment& a)
{
    return a.untilUtc.empty() ? std::string("now") : ledger::localTimeText(a.untilUtc);
}

// Whether the interval [from, until) reaches into [sinceUtc, untilUtc] (empty bounds: open).
std::string deviceOrOfficerProblem(const CliOptions& options, std::string_view command)
{
    if (!options.device.empty() && !options.officer.empty()) {
        return std::string(command) + ": give --device or --officer, not both";
    }
    if (options.device.empty() && options.officer.empty()) {
        return std::string(command) + " needs --device ID or --officer ID";
    }
    return {};
}

std::string readMinWitnesses(CliOptions& options)
{
    if (options.minWitnesses.empty()) {
        return {};
    }
    const std::optional<int> k = positiveNumber(options.minWitnesses);
    if (!k) {
        return "--min-witnesses takes a whole number above 0, not \"" + options.minWitnesses + "\"";
    }
    if (options.witnessKeys.empty()) {
        return "--min-witnesses needs --witness-keys FILE: the witnesses it counts";
    }
    options.minWitnessCount = *k;
    return {};
}

int LedgerAction::readPeriod(std::string_view command, std::optional<std::string>& since,
                             std::optional<std::string>& until)
{
    // A time that is no time is a usage error, found before the ledger is opened.
    if (!(readTime("--since", o_.since, since) && readTime("--until", o_.until, until, ledger::DateOnly::EndOfDay))) {
        return kExitUsage;
    }
    if (since && until && *since > *until) {
        return usageError(std::string(command) + ": --since is after --until");
    }
    return kExitDone;
}

LedgerAction::LedgerAction(const CliOptions& options, CliContext& context)
    : o_(options)
    , c_(context)
{
}

int LedgerAction::usageError(const std::string& message)
{
    c_.err << "orvctl: " << message << "\nTry 'orvctl --help'.\n";
    return kExitUsage;
}

// A date alone is the start of that day, or with `EndOfDay` (--until) its end.
bool LedgerAction::readTime(const char* option, const std::string& text, std::optional<std::string>& utc,
                            ledger::DateOnly dateOnly)
{
    if (text.empty()) {
        return true;
    }
    utc = ledger::parseUserTime(text, dateOnly);
    if (!utc) {
        usageError(o_.commandName + ": " + option + " \"" + text +
                   "\" is not a time: give \"2026-03-05 14:07\", \"2026-03-05 14:07:09\" or \"2026-03-05\" "
                   "(local time), or an ISO 8601 time with Z or an offset");
        return false;
    }
    return true;
}

int LedgerAction::problem(const std::string& message)
{
    c_.err << "orvctl: ledger " << message << "\n";
    if (o_.json) {
        JsonWriter j;
        j.beginObject().key("error").beginObject().key("step").value("ledger").key("message").value(message);
        j.key("exitCode").value(kExitFailed).endObject().endObject();
        c_.out << j.text() << "\n";
    }
    return kExitFailed;
}

int LedgerAction::open()
{
    const std::string location = ledgerLocation(o_);
    // Reading never creates a ledger: a mistyped file would otherwise read as an empty, intact one.
    std::error_code ec;
    if (!ledger::isPostgresLocation(location) && !std::filesystem::exists(pathFromUtf8(location), ec)) {
        return problem(location + ": there is no ledger file there (nothing has been recorded in it)");
    }
    std::string why;
    ledger_ = openReachableLedger(location, why);
    return ledger_ ? kExitDone : problem(why);
}

// The keys whose checkpoints count: the trusted keys file and this station's own key (read,
// never made, by a command that only reads). Null with the problem printed.
std::optional<ledger::VerifyPolicy> LedgerAction::policy(std::optional<ledger::WitnessFile>& witness)
{
    ledger::VerifyPolicy p;
    const ledger::StationSetup setup = ledger::stationSetup(pathFromUtf8(o_.trusted));
    std::string why;
    std::optional<ledger::KeyRing> stations = ledger::trustedKeysOf(setup, why);
    if (!stations) {
        problem(why);
        return std::nullopt;
    }
    p.stations = std::move(*stations);
    if (!o_.witnessKeys.empty()) {
        std::optional<ledger::KeyRing> witnesses =
            ledger::readKeyRingFile(pathFromUtf8(o_.witnessKeys), "the witness keys file", why);
        if (!witnesses) {
            problem(why);
            return std::nullopt;
        }
        p.witnesses = std::move(*witnesses);
    }
    p.minWitnesses = o_.minWitnessCount;
    witness = ledger::WitnessFile::open(setup.folder / std::string(ledger::kWitnessFileName), why);
    if (!witness) {
        problem("the witness file " + why);
        return std::nullopt;
    }
    return p;
}

// Events that could not be read are left out of what is shown, each said once.
void LedgerAction::warnUnreadable(std::vector<ledger::Event>& events)
{
    for (const ledger::Event& e : events) {
        if (!e.unreadable.empty()) {
            c_.err << "orvctl: ledger " << ledger_->location() << ": event " << e.number << " cannot be read ("
                   << e.unreadable << "); it is left out (ledger verify names what is wrong)\n";
        }
    }
    std::erase_if(events, [](const ledger::Event& e) { return !e.unreadable.empty(); });
}

// The whole ledger and the keys its checkpoints are judged by; kExitDone when both are in hand.
int LedgerAction::readWithKeys(ledger::LedgerSnapshot& snapshot, std::optional<ledger::VerifyPolicy>& keys)
{
    if (!ledger_->readSnapshot(snapshot)) {
        return readFailed();
    }
    std::optional<ledger::WitnessFile> witness;
    keys = policy(witness);
    return keys ? kExitDone : kExitFailed;
}

} // namespace orv::cli
