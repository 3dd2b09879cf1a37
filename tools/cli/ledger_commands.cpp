#include "tools/cli/ledger_commands.h"

#include "ledger/evidence.h"
#include "ledger/independent_witness.h"
#include "ledger/ledger_export.h"
#include "ledger/postgres_ledger.h"
#include "link/program_arguments.h"
#include "orv_version.h"
#include "persist/atomic_file.h"
#include "provision/camera_identity.h"
#include "tools/cli/json_writer.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <ostream>

namespace orv::cli {
namespace {

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
    j.key("timeUtc").value(e.timeUtc).key("localTime").value(localTimeText(e.timeUtc));
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
    j.key("fromUtc").value(a.fromUtc).key("fromLocal").value(localTimeText(a.fromUtc));
    optionalText(j, "untilUtc", a.untilUtc);
    optionalText(j, "untilLocal", a.untilUtc.empty() ? std::string() : localTimeText(a.untilUtc));
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
    return "#" + std::to_string(e.number) + "  " + localTimeText(e.timeUtc) + "  " + e.kind + "  " +
           orDash(e.deviceId) + "  " + orDash(e.officerBefore) + " -> " + orDash(e.officerAfter) + "  " +
           orDash(e.result) + "  " + orDash(e.station) + "  " + orDash(e.operatorName) + "  " + orDash(e.where);
}

std::string untilText(const ledger::Assignment& a)
{
    return a.untilUtc.empty() ? std::string("now") : localTimeText(a.untilUtc);
}

// Whether the interval [from, until) reaches into [sinceUtc, untilUtc] (empty bounds: open).
bool overlaps(const ledger::Assignment& a, const std::string& sinceUtc, const std::string& untilUtc)
{
    const bool startsInTime = untilUtc.empty() || a.fromUtc <= untilUtc;
    const bool endsInTime = sinceUtc.empty() || a.untilUtc.empty() || a.untilUtc > sinceUtc;
    return startsInTime && endsInTime;
}

class LedgerCommand
{
public:
    LedgerCommand(const CliOptions& options, CliContext& context)
        : o_(options)
        , c_(context)
    {
    }

    int run()
    {
        // A time that is no time is a usage error, found before the ledger is opened.
        if (o_.command == CommandKind::LedgerWho && !readTime("--at", o_.at, at_)) {
            return kExitUsage;
        }
        if (o_.command == CommandKind::LedgerHistory &&
            !(readTime("--since", o_.since, since_) &&
              readTime("--until", o_.until, until_, ledger::DateOnly::EndOfDay))) {
            return kExitUsage;
        }
        if (since_ && until_ && *since_ > *until_) {
            return usageError("ledger history: --since is after --until");
        }
        switch (o_.command) {
            case CommandKind::LedgerKey:
                return key();
            case CommandKind::LedgerInitDb:
                return initDb();
            case CommandKind::LedgerVerify:
                if (!o_.file.empty()) {
                    return verifyExport();
                }
                break;
            default:
                break;
        }
        if (const int code = open()) {
            return code;
        }
        switch (o_.command) {
            case CommandKind::LedgerVerify:
                return verify();
            case CommandKind::LedgerHead:
                return head();
            case CommandKind::LedgerWho:
                return who();
            case CommandKind::LedgerHistory:
                return history();
            case CommandKind::LedgerCameras:
                return cameras();
            case CommandKind::LedgerExport:
                return exportEvents();
            case CommandKind::LedgerCheckpoint:
                return checkpoint();
            case CommandKind::LedgerProve:
                return prove();
            case CommandKind::LedgerWitness:
                return witness();
            default:
                break;
        }
        return kExitUsage;
    }

private:
    int usageError(const std::string& message)
    {
        c_.err << "orvctl: " << message << "\nTry 'orvctl --help'.\n";
        return kExitUsage;
    }

    // A date alone is the start of that day, or with `EndOfDay` (--until) its end.
    bool readTime(const char* option, const std::string& text, std::optional<std::string>& utc,
                  ledger::DateOnly dateOnly = ledger::DateOnly::StartOfDay)
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

    int problem(const std::string& message)
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

    int readFailed() { return problem(ledgerProblem(*ledger_)); }

    int open()
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
    std::optional<ledger::VerifyPolicy> policy(std::optional<ledger::WitnessFile>& witness)
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

    int verify()
    {
        ledger::LedgerSnapshot snapshot;
        if (!ledger_->readSnapshot(snapshot)) {
            return readFailed();
        }
        return reportVerification(snapshot, ledger_->place(), ledger_->location());
    }

    int verifyExport()
    {
        std::string why;
        const std::optional<ledger::LedgerSnapshot> snapshot =
            ledger::readJsonLinesExport(pathFromUtf8(o_.file), why);
        if (!snapshot) {
            return problem(why);
        }
        return reportVerification(*snapshot, {}, o_.file);
    }

    int reportVerification(const ledger::LedgerSnapshot& snapshot, const std::string& place, const std::string& where)
    {
        std::optional<ledger::WitnessFile> witness;
        std::optional<ledger::VerifyPolicy> p = policy(witness);
        if (!p) {
            return kExitFailed;
        }
        p->witness = &*witness;
        p->place = place;
        const ledger::EvidenceReport report = ledger::verifyEvidence(snapshot, *p);
        const ledger::ChainHead head = report.chain.head;
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("intact").value(report.intact);
            j.key("eventsChecked").value(report.chain.eventsChecked);
            j.key("firstBroken");
            if (report.firstBroken == 0) {
                j.null();
            } else {
                j.value(report.firstBroken);
            }
            optionalText(j, "problem", report.problem);
            j.key("head").beginObject().key("number").value(head.number);
            j.key("hash").value(head.hash).endObject();
            j.key("origin").value(snapshot.origin);
            j.key("checkpoints").value(report.checkpoints).key("signedUpTo").value(report.signedUpTo);
            j.key("witnessedUpTo").value(report.witnessedUpTo).key("witnesses").beginArray();
            for (const std::string& w : report.witnesses) {
                j.value(w);
            }
            j.endArray().key("witnessFileRecords").value(report.witnessRecordsChecked);
            j.key("findings").beginArray();
            for (const std::string& f : report.findings) {
                j.value(f);
            }
            j.endArray().endObject();
            c_.out << j.text() << "\n";
        } else {
            if (report.intact) {
                c_.out << "intact: " << report.chain.eventsChecked
                       << (report.chain.eventsChecked == 1 ? " event" : " events") << ", head " << head.number << " "
                       << head.hash << "\n";
            } else if (report.firstBroken > 0) {
                c_.out << "broken at event " << report.firstBroken << ": " << report.problem << "\n";
            } else {
                c_.out << "not witnessed enough: " << report.problem << "\n";
            }
            c_.out << "origin " << snapshot.origin << "\n";
            for (const std::string& f : report.findings) {
                c_.out << "  " << f << "\n";
            }
        }
        if (!report.intact) {
            c_.err << "orvctl: ledger " << where << ": "
                   << (report.firstBroken > 0 ? "broken at event " + std::to_string(report.firstBroken)
                                              : "not witnessed enough")
                   << "\n";
            return kExitLedgerBroken;
        }
        return kExitDone;
    }

    int head()
    {
        const std::optional<ledger::ChainHead> h = ledger_->head();
        if (!h) {
            return readFailed();
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("number").value(h->number).key("hash").value(h->hash).endObject();
            c_.out << j.text() << "\n";
        } else {
            c_.out << h->number << " " << h->hash << "\n";
        }
        return kExitDone;
    }

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
            c_.out << found->officerId << "  unit " << orDash(found->unit) << "  from " << localTimeText(found->fromUtc)
                   << " until " << untilText(*found) << "\n";
        }
        if (!found) {
            c_.err << "orvctl: no officer recorded for " << o_.device << " at " << o_.at << "\n";
            return kExitFailed;
        }
        return kExitDone;
    }

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
        std::vector<ledger::Assignment> intervals;
        for (ledger::Assignment& a : ledger::assignmentHistory(all)) {
            if ((o_.officer.empty() || a.officerId == o_.officer) && overlaps(a, filter.sinceUtc, filter.untilUtc)) {
                intervals.push_back(std::move(a));
            }
        }
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
                c_.out << "  " << a.deviceId << "  from " << localTimeText(a.fromUtc) << " until " << untilText(a)
                       << "  unit " << orDash(a.unit) << "\n";
            }
        } else {
            c_.out << "camera " << o_.device << " was held by:" << (intervals.empty() ? " no officer recorded" : "")
                   << "\n";
            for (const ledger::Assignment& a : intervals) {
                c_.out << "  " << a.officerId << "  from " << localTimeText(a.fromUtc) << " until " << untilText(a)
                       << "  unit " << orDash(a.unit) << "\n";
            }
        }
        return kExitDone;
    }

    int cameras()
    {
        std::vector<ledger::Event> events;
        if (!ledger_->readEvents({}, events)) {
            return readFailed();
        }
        warnUnreadable(events);
        const std::vector<ledger::CameraSummary> summaries = ledger::cameraSummaries(events);
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("cameras").beginArray();
            for (const ledger::CameraSummary& s : summaries) {
                j.beginObject().key("deviceId").value(s.deviceId);
                optionalText(j, "officer", s.officerNow);
                optionalText(j, "unit", s.unitNow);
                j.key("last");
                eventInJson(j, s.last);
                j.endObject();
            }
            j.endArray().endObject();
            c_.out << j.text() << "\n";
            return kExitDone;
        }
        for (const ledger::CameraSummary& s : summaries) {
            const ledger::Event& e = s.last;
            c_.out << s.deviceId << "  officer " << orDash(s.officerNow) << " (" << orDash(s.unitNow) << ")  last "
                   << e.kind << " " << localTimeText(e.timeUtc) << " by " << e.operatorName << "@" << e.station
                   << " at " << orDash(e.where) << ": " << orDash(e.result);
            if (e.clockOffsetSeconds) {
                c_.out << "  clock " << provision::clockOffsetText(*e.clockOffsetSeconds);
            }
            c_.out << "\n";
        }
        return kExitDone;
    }

    // Events that could not be read are left out of what is shown, each said once.
    void warnUnreadable(std::vector<ledger::Event>& events)
    {
        for (const ledger::Event& e : events) {
            if (!e.unreadable.empty()) {
                c_.err << "orvctl: ledger " << ledger_->location() << ": event " << e.number << " cannot be read ("
                       << e.unreadable << "); it is left out (ledger verify names what is wrong)\n";
            }
        }
        std::erase_if(events, [](const ledger::Event& e) { return !e.unreadable.empty(); });
    }

    static bool isJsonFile(const std::string& file)
    {
        const std::string ext = pathFromUtf8(file).extension().string();
        return ext == ".jsonl" || ext == ".json" || ext == ".JSONL" || ext == ".JSON";
    }

    int exportEvents()
    {
        const std::string& file = o_.operands[0];
        std::string error;
        std::size_t count = 0;
        std::size_t checkpoints = 0;
        if (isJsonFile(file)) {
            ledger::LedgerSnapshot snapshot;
            if (!ledger_->readSnapshot(snapshot)) {
                return readFailed();
            }
            std::vector<ledger::Event> readable = snapshot.events;
            warnUnreadable(readable);
            count = readable.size();
            checkpoints = snapshot.checkpoints.size();
            if (!ledger::exportJsonLines(snapshot, pathFromUtf8(file), error)) {
                c_.err << "orvctl: ledger export: cannot write " << file << ": " << error << "\n";
                return kExitFailed;
            }
        } else {
            std::vector<ledger::Event> events;
            if (!ledger_->readEvents({}, events)) {
                return readFailed();
            }
            warnUnreadable(events);
            count = events.size();
            if (!ledger::exportCsv(events, pathFromUtf8(file), error)) {
                c_.err << "orvctl: ledger export: cannot write " << file << ": " << error << "\n";
                return kExitFailed;
            }
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("exported").value(static_cast<std::int64_t>(count));
            j.key("checkpoints").value(static_cast<std::int64_t>(checkpoints));
            j.key("file").value(file).endObject();
            c_.out << j.text() << "\n";
        } else {
            c_.out << "exported " << count << (count == 1 ? " event" : " events");
            if (isJsonFile(file)) {
                c_.out << " and " << checkpoints << (checkpoints == 1 ? " checkpoint" : " checkpoints");
            }
            c_.out << " to " << file << "\n";
        }
        return kExitDone;
    }

    int key()
    {
        const bool witnessKey = !o_.operands.empty();
        const std::filesystem::path folder = ledger::defaultStationFolder();
        const std::filesystem::path file =
            folder / std::string(witnessKey ? ledger::kWitnessKeyFileName : ledger::kStationKeyFileName);
        std::string why;
        const std::optional<ledger::SignerKey> signer =
            witnessKey ? ledger::loadOrCreateKey(file, ledger::witnessKeyName(), ledger::KeyType::Cosignature, why)
                       : ledger::loadOrCreateKey(file, ledger::stationKeyName(), ledger::KeyType::Ed25519, why);
        if (!signer) {
            return problem(why);
        }
        const ledger::VerifierKey v = signer->verifier();
        const std::string text = ledger::verifierKeyText(v);
        const std::string fingerprint = ledger::keyFingerprint(v);
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("key").value(text).key("name").value(v.name);
            j.key("keyId").value(ledger::keyLabel("", v.id).substr(1)).key("fingerprint").value(fingerprint);
            j.key("kind").value(witnessKey ? "witness" : "station").key("file").value(pathUtf8(file)).endObject();
            c_.out << j.text() << "\n";
            return kExitDone;
        }
        c_.out << text << "\n";
        c_.out << "# " << v.name << (witnessKey ? ": this account's key as an independent witness (cosignatures)"
                                                 : ": this station's key (it signs the ledger's checkpoints)")
               << "\n";
        c_.out << "# fingerprint (SHA-256 of the public key) " << fingerprint << "\n";
        c_.out << "# kept in " << pathUtf8(file) << "\n";
        return kExitDone;
    }

    // The whole ledger and the keys its checkpoints are judged by; kExitDone when both are in hand.
    int readWithKeys(ledger::LedgerSnapshot& snapshot, std::optional<ledger::VerifyPolicy>& keys)
    {
        if (!ledger_->readSnapshot(snapshot)) {
            return readFailed();
        }
        std::optional<ledger::WitnessFile> witness;
        keys = policy(witness);
        return keys ? kExitDone : kExitFailed;
    }

    int checkpoint()
    {
        ledger::LedgerSnapshot snapshot;
        std::optional<ledger::VerifyPolicy> p;
        if (const int code = readWithKeys(snapshot, p)) {
            return code;
        }
        std::string why;
        const std::optional<std::string> note =
            ledger::mergedCheckpoint(snapshot, p->stations, p->witnesses, o_.treeSize, why);
        if (!note) {
            return problem(ledger_->location() + ": " + why);
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("origin").value(snapshot.origin).key("note").value(*note).endObject();
            c_.out << j.text() << "\n";
        } else {
            c_.out << *note;
        }
        return kExitDone;
    }

    int prove()
    {
        ledger::LedgerSnapshot snapshot;
        std::optional<ledger::VerifyPolicy> p;
        if (const int code = readWithKeys(snapshot, p)) {
            return code;
        }
        std::string why;
        const std::optional<ledger::TlogProof> proof =
            ledger::proveEvent(snapshot, p->stations, p->witnesses, o_.number, why);
        if (!proof) {
            return problem(ledger_->location() + ": " + why);
        }
        const std::string text = ledger::proofText(*proof);
        if (!o_.out.empty() && !replaceFileContents(pathFromUtf8(o_.out), text)) {
            c_.err << "orvctl: ledger prove: cannot write " << o_.out << "; what was there is as it was\n";
            return kExitFailed;
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("number").value(o_.number).key("proof").value(text);
            if (!o_.out.empty()) {
                j.key("file").value(o_.out);
            }
            j.endObject();
            c_.out << j.text() << "\n";
        } else if (o_.out.empty()) {
            c_.out << text;
        } else {
            c_.out << "wrote the proof of event " << o_.number << " to " << o_.out << "\n";
        }
        return kExitDone;
    }

    int witness()
    {
        std::optional<ledger::WitnessFile> own;
        const std::optional<ledger::VerifyPolicy> p = policy(own);
        if (!p) {
            return kExitFailed;
        }
        std::string why;
        const std::filesystem::path keyFile =
            o_.key.empty() ? ledger::defaultStationFolder() / std::string(ledger::kWitnessKeyFileName)
                           : pathFromUtf8(o_.key);
        const std::optional<ledger::SignerKey> key =
            ledger::loadOrCreateKey(keyFile, ledger::witnessKeyName(), ledger::KeyType::Cosignature, why);
        if (!key) {
            return problem(why);
        }
        std::optional<ledger::WitnessFile> state = ledger::WitnessFile::open(pathFromUtf8(o_.state), why);
        if (!state) {
            return problem("the state file " + why);
        }
        const auto now = static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                .count());
        const ledger::WitnessRun run = ledger::witnessLedger(*ledger_, p->stations, *key, *state, now);
        const bool refused = run.outcome == ledger::WitnessRun::Outcome::Refused;
        const bool failed = run.outcome == ledger::WitnessRun::Outcome::Failed;
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("outcome").value(refused ? "refused" : failed ? "failed"
                                                       : run.outcome == ledger::WitnessRun::Outcome::Unchanged
                                                           ? "unchanged"
                                                           : "cosigned");
            j.key("size").value(static_cast<std::int64_t>(run.checkpoint.size));
            j.key("previousSize").value(run.previousSize).key("message").value(run.message).endObject();
            c_.out << j.text() << "\n";
        } else if (!refused && !failed) {
            c_.out << run.message << "\n";
        }
        if (refused || failed) {
            c_.err << "orvctl: ledger witness: " << ledger::oneLine(run.message) << "\n";
            return refused ? kExitLedgerBroken : kExitFailed;
        }
        return kExitDone;
    }

    int initDb()
    {
        const std::string& location = o_.operands[0];
        if (!ledger::isPostgresLocation(location)) {
            return usageError("ledger init-db is for a shared PostgreSQL ledger: give a postgresql:// URI or "
                              "key=value words");
        }
        std::string why;
        const std::unique_ptr<ledger::PostgresLedger> opened = ledger::PostgresLedger::open(location, why);
        if (!opened) {
            return problem(ledger::oneLine(why));
        }
        if (!opened->grantRoles(o_.stationRole, o_.witnessRole, why)) {
            return problem(ledger::oneLine(opened->location() + ": " + why));
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("location").value(opened->location()).key("origin").value(opened->origin());
            j.key("schema").value(static_cast<std::int64_t>(ledger::kSchemaVersion));
            j.key("stationRole").value(o_.stationRole);
            optionalText(j, "witnessRole", o_.witnessRole);
            j.endObject();
            c_.out << j.text() << "\n";
        } else {
            c_.out << "ready: " << opened->location() << ", schema " << ledger::kSchemaVersion << ", origin "
                   << opened->origin() << "\n";
            c_.out << "role " << o_.stationRole << " may read the ledger and append events and checkpoints, nothing "
                   << "more\n";
            if (!o_.witnessRole.empty()) {
                c_.out << "role " << o_.witnessRole << " may read the ledger and add cosignatures\n";
            }
        }
        return kExitDone;
    }

    const CliOptions& o_;
    CliContext& c_;
    std::shared_ptr<ledger::Ledger> ledger_;
    std::optional<std::string> at_;
    std::optional<std::string> since_;
    std::optional<std::string> until_;
};

} // namespace

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
    const ledger::RecordingStart start =
        ledger::startRecording(ledgerLocation(options), ledger::stationSetup(pathFromUtf8(options.trusted)));
    if (start.ok()) {
        code = kExitDone;
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
    const ledger::Station::Signed sealed = recording.station->signCheckpoint(*recording.ledger);
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

std::string localTimeText(const std::string& timeUtc)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (timeUtc.size() < 19 || std::sscanf(timeUtc.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d", &y, &mo, &d, &h, &mi, &s) != 6) {
        return timeUtc;
    }
    using namespace std::chrono;
    const year_month_day date{year(y), month(static_cast<unsigned>(mo)), day(static_cast<unsigned>(d))};
    if (!date.ok()) {
        return timeUtc;
    }
    const sys_seconds when = sys_days(date) + hours(h) + minutes(mi) + seconds(s);
    const std::time_t t = system_clock::to_time_t(when);
    std::tm parts{};
#ifdef _WIN32
    const bool converted = localtime_s(&parts, &t) == 0;
#else
    const bool converted = localtime_r(&t, &parts) != nullptr;
#endif
    char text[32];
    if (!converted || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts) == 0) {
        return timeUtc;
    }
    return text;
}

int runLedgerCommand(const CliOptions& options, CliContext& context)
{
    return LedgerCommand(options, context).run();
}

} // namespace orv::cli
