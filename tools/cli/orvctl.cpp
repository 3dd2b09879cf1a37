#include "tools/cli/orvctl.h"

#include "lang/utf.h"
#include "link/commands.h"
#include "orv_version.h"
#include "persist/atomic_file.h"
#include "persist/setup_document.h"
#include "provision/camera_session.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/fleet_commands.h"
#include "tools/cli/json_writer.h"
#include "tools/cli/ledger_commands.h"
#include "tools/cli/secrets_file.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>

namespace orv::cli {
using namespace orv::provision;
namespace {

constexpr std::string_view kHidden = "********";

std::filesystem::path pathFromArgument(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string firstLine(std::string text)
{
    const std::size_t end = text.find_first_of("\r\n");
    if (end != std::string::npos) {
        text.resize(end);
    }
    return text;
}

class Orvctl
{
public:
    Orvctl(const CliOptions& options, CliContext& context)
        : o_(options)
        , c_(context)
    {
        link_.connectTimeout = o_.timeout;
        link_.replyTimeout = o_.timeout;
        user_ = utf::toUtf16(o_.user);
    }

    int run()
    {
        switch (o_.command) {
            case CommandKind::Help:
                c_.out << commandLineHelp(o_.operands);
                return kExitDone;
            case CommandKind::Version:
                c_.out << "orvctl " << kProgramVersion << "\n";
                return kExitDone;
            case CommandKind::Get:
                return get();
            case CommandKind::Set:
                return set();
            case CommandKind::Passwd:
                return passwd();
            case CommandKind::TimeSync:
                return timesync();
            case CommandKind::UDisk:
                return simpleAction("udisk", [](CameraLink& l) { return RequestUDiskMode(l); });
            case CommandKind::UIdentify:
                return uidentify();
            case CommandKind::Factory:
                return simpleAction("factory", [](CameraLink& l) { return FactoryReset(l); });
            case CommandKind::Format:
                return simpleAction("format", [](CameraLink& l) { return FormatCard(l); });
            case CommandKind::Apply:
                return apply();
            case CommandKind::ExportId:
                return exportId();
            case CommandKind::Provision:
                return o_.all ? workOnAllCameras(RunMode::Apply) : provisionCameras();
            case CommandKind::Check:
                return workOnAllCameras(RunMode::Check);
            case CommandKind::Scan:
                return scan();
            case CommandKind::LedgerVerify:
            case CommandKind::LedgerHead:
            case CommandKind::LedgerWho:
            case CommandKind::LedgerHistory:
            case CommandKind::LedgerCameras:
            case CommandKind::LedgerExport:
            case CommandKind::LedgerKey:
            case CommandKind::LedgerCheckpoint:
            case CommandKind::LedgerProve:
            case CommandKind::LedgerWitness:
            case CommandKind::LedgerInitDb:
                return runLedgerCommand(o_, c_);
        }
        return kExitUsage;
    }

private:
    // --- output ---

    int usageError(const std::string& message)
    {
        c_.err << "orvctl: " << message << "\nTry 'orvctl --help'.\n";
        return kExitUsage;
    }

    // Names the address (when the camera was involved) and the step that failed; a command that
    // works on the camera records the failure in the ledger.
    int failure(int code, const std::string& step, const std::string& message, bool atCamera = true)
    {
        c_.err << "orvctl: " << (atCamera ? o_.address + ": " : "") << step << ": " << message << "\n";
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("error").beginObject();
            if (atCamera) {
                j.key("address").value(o_.address);
            }
            j.key("step").value(step).key("message").value(message).key("exitCode").value(code);
            j.endObject().endObject();
            c_.out << j.text() << "\n";
        }
        return atCamera ? finish(code, "failed: " + step + ": " + message) : code;
    }

    // --- the ledger ---

    // Opens the ledger (before anything is sent: a command whose outcome could not be recorded is
    // not started) and begins the command's event; kExitDone when both went well.
    int beginEvent(std::string kind, const std::string* setupFile = nullptr)
    {
        int code = kExitDone;
        recording_ = startRecording(o_, c_, code);
        if (!recording_) {
            return code;
        }
        event_ = startEvent(orvctlOrigin(), std::move(kind));
        event_.where = o_.address;
        if (setupFile) {
            noteSetupFile(event_, pathFromArgument(*setupFile), setupBytes_);
        }
        eventOpen_ = true;
        return kExitDone;
    }

    // Records the command's outcome as its one event and returns `code`, or 1 when the ledger did
    // not take it (the outcome has been printed all the same).
    int finish(int code, std::string result)
    {
        if (!eventOpen_) {
            return code;
        }
        eventOpen_ = false;
        event_.result = std::move(result);
        if (notReadBack_) {
            noteNotReadBack(event_, *notReadBack_);
        }
        stampNow(event_);
        if (recording_->ledger->append(event_)) {
            // The outcome is recorded: a checkpoint of the ledger now holds it too.
            return sealRecording(*recording_, c_) == kExitDone ? code : kExitFailed;
        }
        c_.err << "orvctl: ledger " << ledgerProblem(*recording_->ledger) << "; this outcome is not recorded in it\n";
        return kExitFailed;
    }

    int cameraFailure(Group group, const GroupResult& result)
    {
        const std::string step = std::string(groupName(group)) + ": " + result.step;
        switch (result.outcome) {
            case CameraOutcome::NoReply:
            case CameraOutcome::NotSent:
                return failure(kExitUnreachable, step, std::string(outcomeText(result.outcome)));
            case CameraOutcome::UnknownPlatform:
            case CameraOutcome::OtherPlatform:
                return failure(kExitFailed, step, std::string(outcomeText(result.outcome)));
            case CameraOutcome::Done:
                break;
        }
        return kExitDone;
    }

    std::string shown(const FieldValue& v) const
    {
        if (v.secret && !o_.showPasswords) {
            return std::string(kHidden);
        }
        return v.isText ? utf::toUtf8(v.text) : std::to_string(v.number);
    }

    void addValue(JsonWriter& j, const FieldValue& v) const
    {
        if (v.secret && !o_.showPasswords) {
            j.value(kHidden);
        } else if (v.isText) {
            j.value(std::u16string_view(v.text));
        } else {
            j.value(v.number);
        }
    }

    void printDone(const std::string& command, const std::string& text)
    {
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("command").value(command).key("address").value(o_.address);
            j.key("result").value("sent").endObject();
            c_.out << j.text() << "\n";
        } else {
            c_.out << command << ": " << text << "\n";
        }
    }

    // --- passwords and login ---

    bool readLine(std::string& line)
    {
        if (!std::getline(c_.in, line)) {
            return false;
        }
        line = firstLine(line);
        return true;
    }

    // Empty when read; otherwise the usage error to report.
    std::string readPassword()
    {
        std::string text;
        switch (o_.passwordSource) {
            case PasswordSource::Default:
                text = kDefaultPassword;
                break;
            case PasswordSource::Stdin:
                if (!readLine(text)) {
                    return "--password-stdin: no line on standard input";
                }
                break;
            case PasswordSource::File: {
                const FileContents file = readWholeFile(pathFromArgument(o_.passwordFile));
                if (file.outcome != ReadOutcome::Read) {
                    return "--password-file: cannot read " + o_.passwordFile;
                }
                text = firstLine(file.bytes);
                break;
            }
        }
        password_ = utf::toUtf16(text);
        return {};
    }

    // --- passwords that commands write ---

    // Empty when read or not asked for; otherwise the usage error to report.
    std::string readSecretsFile()
    {
        if (o_.secretsFile.empty()) {
            return {};
        }
        const FileContents file = readWholeFile(pathFromArgument(o_.secretsFile));
        if (file.outcome != ReadOutcome::Read) {
            return "--secrets-file: cannot read " + o_.secretsFile;
        }
        SecretsFileRead read = parseSecretsFile(file.bytes);
        if (!read.file) {
            return "--secrets-file " + o_.secretsFile + ": " + read.error;
        }
        secrets_ = std::move(*read.file);
        return {};
    }

    const std::string* secretFromFile(std::string_view name) const { return secrets_ ? secrets_->find(name) : nullptr; }

    // Scripts written before "-" and --secrets-file keep working, but should hear why to move on.
    void warnLiteralSecret(const std::string& what, const std::string& instead)
    {
        c_.err << "orvctl: warning: " << what
               << " on the command line can be read by other users of this computer (process list, shell "
                  "history); "
               << instead << " reads it from standard input, or use --secrets-file\n";
    }

    // Fills in the "-" passwords from standard input in command-line order, warns of the literal
    // ones and adds the group's password from --secrets-file. Empty when all went well.
    std::string gatherSecrets(Group group, std::vector<Assignment>& assignments)
    {
        const std::string where = "set " + std::string(groupName(group)) + ": ";
        for (Assignment& a : assignments) {
            if (!a.fieldSpec->secret) {
                continue;
            }
            const std::string name(a.fieldSpec->field.name);
            if (a.text == u"-") {
                std::string line;
                if (!readLine(line)) {
                    return where + name + "=-: no line left on standard input";
                }
                a.text = utf::toUtf16(line);
            } else {
                warnLiteralSecret("the " + name, name + "=-");
            }
        }
        if (std::string error = readSecretsFile(); !error.empty()) {
            return error;
        }
        for (const FieldSpec& fieldSpec : fieldSpecs()) {
            const std::string* value =
                fieldSpec.group == group && fieldSpec.secret ? secretFromFile(fieldSpec.field.name) : nullptr;
            if (!value) {
                continue;
            }
            for (const Assignment& a : assignments) {
                if (a.fieldSpec == &fieldSpec) {
                    return where + std::string(fieldSpec.field.name) + " is given both on the command line and in " +
                           o_.secretsFile;
                }
            }
            Assignment a;
            a.fieldSpec = &fieldSpec;
            a.text = utf::toUtf16(*value);
            assignments.push_back(std::move(a));
        }
        if (assignments.empty()) {
            return where + "no FIELD=VALUE given, and " + o_.secretsFile + " has no password for " +
                   std::string(groupName(group));
        }
        return {};
    }

    int login()
    {
        switch (connectAndLogin(link_, o_.address, user_, password_)) {
            case LoginOutcome::LoggedIn:
                return kExitDone;
            case LoginOutcome::Unreachable:
                return failure(kExitUnreachable, "connect", "no camera answers on port 19436");
            case LoginOutcome::Silent:
                return failure(kExitUnreachable, "login", "the camera sent no account table");
            case LoginOutcome::Refused:
                return failure(kExitLoginRefused, "login",
                               "the camera refuses user " + o_.user + " with that password");
        }
        return kExitUnreachable;
    }

    // Reads the password, opens the ledger and begins the event of `kind` (a command that works
    // on the camera), and logs in; kExitDone when logged in.
    int start(const char* kind = nullptr, const std::string* setupFile = nullptr)
    {
        const std::string error = readPassword();
        if (!error.empty()) {
            return usageError(error);
        }
        if (kind) {
            if (const int code = beginEvent(kind, setupFile)) {
                return code;
            }
        }
        return login();
    }

    // --- commands ---

    int get()
    {
        std::vector<Group> groups;
        if (o_.operands[0] == "all") {
            groups.assign(kAllGroups.begin(), kAllGroups.end());
        } else {
            groups.push_back(*groupFromName(o_.operands[0]));
        }
        if (const int code = start()) {
            return code;
        }
        std::vector<GroupValues> read;
        for (const Group group : groups) {
            GroupResult result = readGroup(link_, group);
            if (result.outcome != CameraOutcome::Done) {
                return cameraFailure(group, result);
            }
            read.push_back(std::move(result.values));
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject();
            for (const GroupValues& g : read) {
                j.key(groupName(g.group)).beginObject();
                for (const FieldValue& v : g.fields) {
                    j.key(v.name);
                    addValue(j, v);
                }
                j.endObject();
            }
            j.endObject();
            c_.out << j.text() << "\n";
        } else {
            for (const GroupValues& g : read) {
                for (const FieldValue& v : g.fields) {
                    c_.out << groupName(g.group) << "." << v.name << "=" << shown(v) << "\n";
                }
            }
        }
        return kExitDone;
    }

    int set()
    {
        const Group group = *groupFromName(o_.operands[0]);
        std::vector<Assignment> assignments;
        for (std::size_t i = 1; i < o_.operands.size(); ++i) {
            std::string error;
            std::optional<Assignment> a = parseAssignment(group, o_.operands[i], error);
            if (!a) {
                return usageError("set " + std::string(groupName(group)) + ": " + error);
            }
            assignments.push_back(std::move(*a));
        }
        std::string error = readPassword();
        if (error.empty()) {
            error = gatherSecrets(group, assignments);
        }
        if (!error.empty()) {
            return usageError(error);
        }
        if (const int code = beginEvent("set")) {
            return code;
        }
        // The group's name only: the values may be passwords.
        event_.groups = groupName(group);
        if (const int code = login()) {
            return code;
        }
        const GroupResult result =
            group == Group::Device ? writeDevice(assignments) : writeGroup(link_, group, assignments);
        if (result.outcome != CameraOutcome::Done) {
            return cameraFailure(group, result);
        }
        std::string names;
        for (const Assignment& a : assignments) {
            names += names.empty() ? "" : ", ";
            names += a.fieldSpec->field.name;
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("command").value("set").key("address").value(o_.address);
            j.key("group").value(groupName(group)).key("fields").beginArray();
            for (const Assignment& a : assignments) {
                j.value(a.fieldSpec->field.name);
            }
            j.endArray().key("result").value("sent").endObject();
            c_.out << j.text() << "\n";
        } else {
            c_.out << "set " << groupName(group) << ": sent " << names << "\n";
        }
        return finish(kExitDone, "ok");
    }

    // The device group's read-modify-write, the same two frames writeGroup sends, done here so that
    // the camera's device id and the officer and unit it held before go into the ledger.
    GroupResult writeDevice(std::span<const Assignment> assignments)
    {
        const bool allText = std::all_of(assignments.begin(), assignments.end(), [](const Assignment& a) {
            return a.fieldSpec->conversion == Conversion::Text;
        });
        if (!allText) {
            return writeGroup(link_, Group::Device, assignments);
        }
        GroupResult result;
        result.values.group = Group::Device;
        DeviceRecord record;
        const WriteOutcome outcome = ReadModifyWrite(link_, record, [&](DeviceRecord& r) {
            event_.deviceId = utf::toUtf8(r.text(DeviceRecord::deviceId));
            event_.officerBefore = utf::toUtf8(r.text(DeviceRecord::policeId));
            event_.unitBefore = utf::toUtf8(r.text(DeviceRecord::companyName));
            for (const Assignment& a : assignments) {
                r.setText(a.fieldSpec->field, a.text);
            }
        });
        switch (outcome) {
            case WriteOutcome::Sent:
                event_.officerAfter = utf::toUtf8(record.text(DeviceRecord::policeId));
                event_.unitAfter = utf::toUtf8(record.text(DeviceRecord::companyName));
                break;
            case WriteOutcome::ReadFailed:
                result.outcome = CameraOutcome::NoReply;
                result.step = "read the device record (type 0)";
                break;
            case WriteOutcome::SendFailed:
                result.outcome = CameraOutcome::NotSent;
                result.step = "write the device record (type 0)";
                break;
        }
        return result;
    }

    int passwd()
    {
        const std::string error = readPassword();
        if (!error.empty()) {
            return usageError(error);
        }
        std::optional<std::u16string> newPassword; // unset: from --secrets-file
        const bool onCommandLine = !o_.operands.empty();
        if (onCommandLine && o_.operands[0] == "-") {
            std::string line;
            if (!readLine(line)) {
                return usageError("passwd -: no new password on standard input");
            }
            newPassword = utf::toUtf16(line);
        } else if (onCommandLine) {
            warnLiteralSecret("the new password", "\"passwd -\"");
            newPassword = utf::toUtf16(o_.operands[0]);
        }
        if (const std::string fileError = readSecretsFile(); !fileError.empty()) {
            return usageError(fileError);
        }
        if (const std::string* value = secretFromFile(kNewPasswordSecret)) {
            if (newPassword) {
                return usageError("passwd: the new password is given both on the command line and in " +
                                  o_.secretsFile);
            }
            newPassword = utf::toUtf16(*value);
        }
        if (!newPassword) {
            return usageError("passwd: no NEW given, and " + o_.secretsFile + " has no " +
                              std::string(kNewPasswordSecret) + " line");
        }
        if (const int code = beginEvent("passwd")) {
            return code;
        }
        if (const int code = login()) {
            return code;
        }
        if (ChangePassword(link_, user_, *newPassword) != 0) {
            return failure(kExitUnreachable, "passwd", std::string(outcomeText(CameraOutcome::NotSent)));
        }
        printDone("passwd", "sent the new password of " + o_.user);
        return finish(kExitDone, "ok");
    }

    // SyncClock's two frames, with the camera's clock offset measured from the record it reads
    // (half the round trip allowed for), for the ledger.
    int timesync()
    {
        if (const int code = start("timesync")) {
            return code;
        }
        TimeRecord record;
        const auto asked = std::chrono::steady_clock::now();
        if (GetTime(link_, record) != 0) {
            return failure(kExitUnreachable, "timesync: read the time record",
                           std::string(outcomeText(CameraOutcome::NoReply)) + "; nothing written");
        }
        const auto answered = std::chrono::steady_clock::now();
        const std::optional<std::int64_t> cameraClock = wallClockSeconds(clockOf(record));
        const std::optional<std::int64_t> localClock = wallClockSeconds(localNow());
        if (cameraClock && localClock) {
            const auto halfTrip = std::chrono::round<std::chrono::seconds>((answered - asked) / 2).count();
            event_.clockOffsetSeconds = *cameraClock - (*localClock - halfTrip);
        }
        putLocalClock(record);
        if (SetTime(link_, record) != 0) {
            return failure(kExitUnreachable, "timesync: write the time record",
                           std::string(outcomeText(CameraOutcome::NotSent)));
        }
        printDone("timesync", "sent this computer's clock");
        return finish(kExitDone, "ok");
    }

    template <class Action>
    int simpleAction(const std::string& name, Action action)
    {
        if (const int code = start(name.c_str())) {
            return code;
        }
        if (action(link_) != 0) {
            return failure(kExitUnreachable, name, std::string(outcomeText(CameraOutcome::NotSent)));
        }
        printDone(name, "sent");
        return finish(kExitDone, "ok");
    }

    int uidentify()
    {
        std::string error;
        const std::optional<Assignment> a = parseAssignment(Group::UIdentify, "uIdentify=" + o_.operands[0], error);
        if (const int code = start("uidentify")) {
            return code;
        }
        event_.groups = groupName(Group::UIdentify);
        const GroupResult result = writeGroup(link_, Group::UIdentify, std::span(&*a, 1));
        if (result.outcome != CameraOutcome::Done) {
            return cameraFailure(Group::UIdentify, result);
        }
        printDone("uidentify", "sent " + o_.operands[0]);
        return finish(kExitDone, "ok");
    }

    // Loads and plans a setup file; kExitDone when `plan` is ready.
    int loadPlan(const std::string& file, std::vector<GroupPlan>& plan, bool mayBeEmpty = false)
    {
        const SetupReadResult read = loadSetupFile(pathFromArgument(file));
        if (!read.ok()) {
            return failure(kExitFailed, "read " + file, read.message, false);
        }
        plan = planSetup(read.elements);
        setupBytes_ = read.bytes;
        if (plan.empty() && !mayBeEmpty) {
            return failure(kExitFailed, "read " + file, "the file holds no group to send", false);
        }
        return kExitDone;
    }

    std::string differenceText(const FieldDifference& d) const
    {
        std::string where = std::string(groupName(d.group)) + (d.field.empty() ? "" : "." + d.field);
        if (!d.note.empty()) {
            return where + ": " + d.note;
        }
        if (d.secret && !o_.showPasswords) {
            return where + " differs (values hidden)";
        }
        if (d.isText) {
            return where + " differs: camera has \"" + utf::toUtf8(d.cameraText) + "\", setup has \"" +
                   utf::toUtf8(d.setupText) + "\"";
        }
        return where + " differs: camera has " + std::to_string(d.cameraNumber) + ", setup gives " +
               std::to_string(d.setupNumber);
    }

    int apply()
    {
        std::vector<GroupPlan> plan;
        if (const int code = loadPlan(o_.operands[0], plan)) {
            return code;
        }
        if (const int code = start("apply", &o_.operands[0])) {
            return code;
        }
        const ApplyReport report = applySetup(link_, plan);
        event_.groups = groupList(report.sent);
        event_.differences = differenceList(report.differences);
        notReadBack_ = deviceNotReadBack(plan, report);
        for (const GroupValues& group : report.readBack) {
            if (group.group != Group::Device) {
                continue;
            }
            // As read back: the device id is never sent, the officer and unit as the camera took them.
            const auto text = [&](std::string_view name) {
                const FieldValue* v = group.find(name);
                return v ? utf::toUtf8(v->text) : std::string();
            };
            event_.deviceId = text("deviceId");
            event_.officerAfter = text("policeId");
            event_.unitAfter = text("companyName");
        }
        if (report.outcome != CameraOutcome::Done) {
            GroupResult failed;
            failed.outcome = report.outcome;
            failed.step = report.failedStep;
            return cameraFailure(report.failedGroup, failed);
        }
        std::string sent;
        for (const Group g : report.sent) {
            sent += sent.empty() ? "" : ", ";
            sent += groupName(g);
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("command").value("apply").key("address").value(o_.address);
            j.key("sent").beginArray();
            for (const Group g : report.sent) {
                j.value(groupName(g));
            }
            j.endArray().key("differences").beginArray();
            for (const FieldDifference& d : report.differences) {
                j.beginObject().key("group").value(groupName(d.group));
                if (!d.field.empty()) {
                    j.key("field").value(d.field);
                }
                if (!d.note.empty()) {
                    j.key("note").value(d.note);
                } else if (d.secret && !o_.showPasswords) {
                    j.key("camera").value(kHidden).key("setup").value(kHidden);
                } else if (d.isText) {
                    j.key("camera").value(std::u16string_view(d.cameraText));
                    j.key("setup").value(std::u16string_view(d.setupText));
                } else {
                    j.key("camera").value(d.cameraNumber).key("setup").value(d.setupNumber);
                }
                j.endObject();
            }
            j.endArray().key("result").value(report.verified() ? "verified" : "differs").endObject();
            c_.out << j.text() << "\n";
        } else {
            c_.out << "apply: sent " << (sent.empty() ? "nothing" : sent) << "\n";
            for (const FieldDifference& d : report.differences) {
                c_.out << "verify: " << differenceText(d) << "\n";
            }
            if (report.verified()) {
                c_.out << "verify: every sent field reads back as the setup has it\n";
            }
        }
        if (!report.verified()) {
            c_.err << "orvctl: " << o_.address << ": verify: " << report.differences.size()
                   << (report.differences.size() == 1 ? " field differs" : " fields differ") << "\n";
            return finish(kExitDiffers, "differs");
        }
        return finish(kExitDone, "ok");
    }

    int exportId()
    {
        if (const int code = start()) {
            return code;
        }
        GroupResult result = readGroup(link_, Group::Device);
        if (result.outcome != CameraOutcome::Done) {
            return cameraFailure(Group::Device, result);
        }
        const FieldValue* id = result.values.find("deviceId");
        const std::u16string line = (id ? id->text : std::u16string()) + u"\r\n";
        std::string bytes;
        for (const char16_t unit : line) {
            bytes.push_back(static_cast<char>(unit & 0xFF));
            bytes.push_back(static_cast<char>(unit >> 8));
        }
        const std::string& file = o_.operands[0];
        std::ofstream out(pathFromArgument(file), std::ios::binary | std::ios::app);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            return failure(kExitFailed, "export-id", "cannot append to " + file, false);
        }
        if (o_.json) {
            JsonWriter j;
            j.beginObject().key("command").value("export-id").key("address").value(o_.address);
            j.key("deviceId").value(std::u16string_view(id ? id->text : std::u16string()));
            j.key("file").value(file).endObject();
            c_.out << j.text() << "\n";
        } else {
            c_.out << "export-id: " << utf::toUtf8(id ? id->text : std::u16string()) << " appended to " << file << "\n";
        }
        return kExitDone;
    }

    int scan()
    {
        const std::string error = readPassword();
        if (!error.empty()) {
            return usageError(error);
        }
        return scanCameras(o_, c_, {user_, password_});
    }

    // provision --all, check and check --all.
    int workOnAllCameras(RunMode mode)
    {
        std::vector<GroupPlan> plan;
        // A roster alone is a job: it gives each camera its officer and unit.
        if (const int code = loadPlan(o_.operands[0], plan, !o_.roster.empty())) {
            return code;
        }
        const std::string error = readPassword();
        if (!error.empty()) {
            return usageError(error);
        }
        return workOnCameras(o_, c_, {user_, password_}, std::move(plan), setupBytes_, mode);
    }

    int provisionCameras()
    {
        ProvisionSettings settings;
        if (const int code = loadPlan(o_.operands[0], settings.plan)) {
            return code;
        }
        const std::string error = readPassword();
        if (!error.empty()) {
            return usageError(error);
        }
        settings.address = o_.address;
        settings.user = user_;
        settings.password = password_;
        settings.inventory = pathFromArgument(o_.inventory);
        settings.count = o_.count;
        settings.timeout = o_.timeout;
        settings.poll = o_.poll;
        int code = kExitDone;
        const std::optional<ledger::Recording> recording = startRecording(o_, c_, code);
        if (!recording) {
            return code;
        }
        settings.ledger = recording->ledger;
        settings.eventTemplate = startEvent(orvctlOrigin(), "provision");
        noteSetupFile(settings.eventTemplate, pathFromArgument(o_.operands[0]), setupBytes_);
        ProvisionHooks hooks;
        hooks.interrupted = c_.interrupted;
        hooks.onEvent = [this](const ProvisionEvent& e) {
            if (o_.json) {
                JsonWriter j;
                j.beginObject().key("camera").value(e.camera).key("step").value(provisionStepName(e.step));
                j.key("message").value(e.message);
                if (e.step == ProvisionStep::Failed) {
                    j.key("exitCode").value(e.exitCode);
                }
                j.endObject();
                c_.out << j.text() << std::endl;
            } else {
                c_.out << "[" << e.camera << "] " << e.message << std::endl;
            }
            if (c_.onProvisionEvent) {
                c_.onProvisionEvent(e);
            }
        };
        if (c_.setInterruptible) {
            c_.setInterruptible(true);
        }
        const ProvisionResult result = provision(settings, hooks);
        if (c_.setInterruptible) {
            c_.setInterruptible(false);
        }
        if (!result.ledgerProblem.empty()) {
            c_.err << "orvctl: ledger " << result.ledgerProblem << "; stopped: " << result.inventoryOnly
                   << (result.inventoryOnly == 1 ? " outcome is" : " outcomes are") << " in the inventory only ("
                   << o_.inventory << ")\n";
        }
        if (sealRecording(*recording, c_) != kExitDone) {
            return kExitFailed;
        }
        return result.exitCode;
    }

    const CliOptions& o_;
    CliContext& c_;
    CameraLink link_;
    std::u16string user_;
    std::u16string password_;
    std::optional<SecretsFile> secrets_;
    std::optional<ledger::Recording> recording_;
    ledger::Event event_; // the command's outcome, once begun
    bool eventOpen_ = false;
    std::string setupBytes_; // the setup file as loadPlan read it: planned from, and named in the event
    std::optional<UnconfirmedDevice> notReadBack_; // apply: the device group went out, never read back
};

} // namespace

int runOrvctl(std::span<const std::string> args, CliContext& context)
{
    const ParsedCommandLine parsed = parseCommandLine(args);
    if (!parsed.options) {
        context.err << "orvctl: " << parsed.error << "\nTry 'orvctl --help'.\n";
        return kExitUsage;
    }
    return Orvctl(*parsed.options, context).run();
}

} // namespace orv::cli
