#include "tools/cli/ledger_commands.h"

#include "link/program_arguments.h"
#include "orv_version.h"
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
            !(readTime("--since", o_.since, since_) && readTime("--until", o_.until, until_))) {
            return kExitUsage;
        }
        if (since_ && until_ && *since_ > *until_) {
            return usageError("ledger history: --since is after --until");
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

    bool readTime(const char* option, const std::string& text, std::optional<std::string>& utc)
    {
        if (text.empty()) {
            return true;
        }
        utc = ledger::parseUserTime(text);
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

    int verify()
    {
        const ledger::VerifyReport report = ledger::verifyChain(*ledger_);
        if (!report.intact && report.firstBroken == 0) {
            return problem(ledger::oneLine(ledger_->location() + ": " + report.problem));
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("intact").value(report.intact);
            j.key("eventsChecked").value(report.eventsChecked);
            j.key("firstBroken");
            if (report.intact) {
                j.null();
            } else {
                j.value(report.firstBroken);
            }
            optionalText(j, "problem", report.problem);
            j.key("head").beginObject().key("number").value(report.head.number);
            j.key("hash").value(report.head.hash).endObject();
            j.endObject();
            c_.out << j.text() << "\n";
        } else if (report.intact) {
            c_.out << "intact: " << report.eventsChecked << (report.eventsChecked == 1 ? " event" : " events")
                   << ", head " << report.head.number << " " << report.head.hash << "\n";
        } else {
            c_.out << "broken at event " << report.firstBroken << ": " << report.problem << "\n";
        }
        if (!report.intact) {
            c_.err << "orvctl: ledger " << ledger_->location() << ": broken at event " << report.firstBroken << "\n";
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

    int exportEvents()
    {
        std::vector<ledger::Event> events;
        if (!ledger_->readEvents({}, events)) {
            return readFailed();
        }
        const std::string& file = o_.operands[0];
        std::string error;
        if (!ledger::exportCsv(events, pathFromUtf8(file), error)) {
            c_.err << "orvctl: ledger export: cannot write " << file << ": " << error << "\n";
            return kExitFailed;
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("exported").value(static_cast<std::int64_t>(events.size()));
            j.key("file").value(file).endObject();
            c_.out << j.text() << "\n";
        } else {
            c_.out << "exported " << events.size() << (events.size() == 1 ? " event" : " events") << " to " << file
                   << "\n";
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
