#include "orvctl/camera_command.h"

#include "lang/utf.h"
#include "link/records.h"
#include "orv_version.h"
#include "orvctl/fleet_commands.h"
#include "orvctl/ledger_commands.h"
#include "persist/atomic_file.h"
#include "persist/setup_document.h"
#include "provision/camera_actions.h"
#include "provision/camera_session.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>

namespace orv::cli {
using namespace orv::provision;
namespace {

std::string firstLine(std::string text)
{
    const std::size_t end = text.find_first_of("\r\n");
    if (end != std::string::npos) {
        text.resize(end);
    }
    return text;
}

} // namespace

std::filesystem::path pathFromArgument(const std::string& utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

namespace {

// Opens simpleAction to the free function below.
class DeviceActionCommand final : public CameraCommand
{
public:
    using CameraCommand::CameraCommand;
    using CameraCommand::simpleAction;
};

} // namespace

int runDeviceAction(const CliOptions& o, CliContext& c, const std::string& name,
                    provision::CameraOutcome (*action)(CameraLink&))
{
    return DeviceActionCommand(o, c).simpleAction(name, action);
}

std::string needsYes(CliOptions& o)
{
    return o.yes ? std::string() : o.commandName + " cannot be undone; add --yes to run it";
}

CameraCommand::CameraCommand(const CliOptions& options, CliContext& context)
    : o_(options)
    , c_(context)
{
    link_.connectTimeout = o_.timeout;
    link_.replyTimeout = o_.timeout;
    user_ = utf::toUtf16(o_.user);
}

int CameraCommand::usageError(const std::string& message)
{
    c_.err << "orvctl: " << message << "\nTry 'orvctl --help'.\n";
    return kExitUsage;
}

// Names the address (when the camera was involved) and the step that failed; a command that
// works on the camera records the failure in the ledger.
int CameraCommand::failure(int code, const std::string& step, const std::string& message, bool atCamera)
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

// Opens the ledger (before anything is sent: a command whose outcome could not be recorded is
// not started) and begins the command's event; kExitDone when both went well.
int CameraCommand::beginEvent(std::string kind, const std::string* setupFile)
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
int CameraCommand::finish(int code, std::string result)
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

int CameraCommand::cameraFailure(Group group, const GroupResult& result)
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

std::string CameraCommand::shown(const FieldValue& v) const
{
    if (v.secret && !o_.showPasswords) {
        return std::string(kHidden);
    }
    return v.isText ? utf::toUtf8(v.text) : std::to_string(v.number);
}

void CameraCommand::addValue(JsonWriter& j, const FieldValue& v) const
{
    if (v.secret && !o_.showPasswords) {
        j.value(kHidden);
    } else if (v.isText) {
        j.value(std::u16string_view(v.text));
    } else {
        j.value(v.number);
    }
}

void CameraCommand::printDone(const std::string& command, const std::string& text)
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

bool CameraCommand::readLine(std::string& line)
{
    if (!std::getline(c_.in, line)) {
        return false;
    }
    line = firstLine(line);
    return true;
}

// Empty when read; otherwise the usage error to report.
std::string CameraCommand::readPassword()
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

// Empty when read or not asked for; otherwise the usage error to report.
std::string CameraCommand::readSecretsFile()
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

// Scripts written before "-" and --secrets-file keep working, but should hear why to move on.
void CameraCommand::warnLiteralSecret(const std::string& what, const std::string& instead)
{
    c_.err << "orvctl: warning: " << what
           << " on the command line can be read by other users of this computer (process list, shell "
              "history); "
           << instead << " reads it from standard input, or use --secrets-file\n";
}

// Fills in the "-" passwords from standard input in command-line order, warns of the literal
// ones and adds the group's password from --secrets-file. Empty when all went well.
std::string CameraCommand::gatherSecrets(Group group, std::vector<Assignment>& assignments)
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

int CameraCommand::login()
{
    switch (connectAndLogin(link_, o_.address, user_, password_)) {
        case LoginOutcome::LoggedIn:
            return kExitDone;
        case LoginOutcome::Unreachable:
            return failure(kExitUnreachable, "connect", "no camera answers on port 19436");
        case LoginOutcome::Silent:
            return failure(kExitUnreachable, "login", "the camera sent no account table");
        case LoginOutcome::Refused:
            return failure(kExitLoginRefused, "login", "the camera refuses user " + o_.user + " with that password");
    }
    return kExitUnreachable;
}

// Reads the password, opens the ledger and begins the event of `kind` (a command that works
// on the camera), and logs in; kExitDone when logged in.
int CameraCommand::start(const char* kind, const std::string* setupFile)
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

// Loads and plans a setup file; kExitDone when `plan` is ready.
int CameraCommand::loadPlan(const std::string& file, std::vector<GroupPlan>& plan, bool mayBeEmpty)
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

std::string CameraCommand::differenceText(const FieldDifference& d) const
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

// provision --all, check and check --all.
int CameraCommand::workOnAllCameras(RunMode mode)
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

} // namespace orv::cli
