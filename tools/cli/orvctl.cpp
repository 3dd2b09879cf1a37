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
#include "tools/cli/secrets_file.h"

#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>

namespace orv::cli {
using namespace orv::provision;
namespace {

constexpr std::string_view kHelp = R"(Usage: orvctl [OPTIONS] COMMAND [ARGUMENTS]

Configures a body-worn camera over its USB network link (TCP port 19436), the way the OrvCamera
console does, one command per run.

Commands:
  get GROUP                Print a group's fields. GROUP is platform, 4g, wifi, device, time,
                           proxy, uidentify or all.
  set GROUP FIELD=VALUE... Change only the named fields of a group: the record is read, the
                           fields replaced and the whole record written back, as the console's
                           Set does. "set time" also sets the camera's clock from this computer.
                           The proxy record is rebuilt from the camera's proxy values with the
                           named ones replaced. An unknown field stops before anything is sent.
  passwd NEW|-             Change the password of the --user account to NEW. Give "-" to read
                           it from standard input, or leave NEW out and put a new-password line
                           in --secrets-file; see "Passwords" below.
  timesync                 Set the camera's clock from this computer; zone and summer time stay.
  udisk                    Switch the camera to U-disk mode; it leaves the network.
  uidentify on|off         Switch U-identify on or off.
  factory --yes            Restore the camera's factory settings.
  format --yes             Format the camera's SD card.
  apply SETUP.xml          Send what a setup file saved by the console holds: U-identify,
                           platform, 4g, wifi, the device fields except the device id, time zone
                           and summer time (with the clock from this computer). Groups missing
                           from the file are not sent; the file's "camera" (login) and "language"
                           elements are not used. Then every sent group is read back and each
                           field that differs from the file is reported.
  export-id FILE           Append the camera's device id to FILE as one UTF-16LE line, as the
                           console's Export does.
  provision SETUP.xml --inventory FILE.csv [--count N]
                           One camera after another: wait until a camera answers at the address,
                           log in, apply and verify the setup, append a row (local time, device
                           id, officer id, result) to the inventory, wait until that camera has
                           gone (unplugged or switched to U-disk mode), start over. A camera that
                           fails is recorded as failed and the loop goes on. Runs until N cameras
                           are done or Ctrl+C, which lets the current camera finish first.
  scan                     List the cameras that answer, each with its device id, officer and
                           clock offset: one behind every network interface that is up and has
                           an address in the --ip address's /24 (USB network adapters first), or
                           behind the interfaces named with --interface (one that does not exist
                           is a usage error), or at the --address addresses (simulated cameras).
                           All are tried at once. Cameras reporting the same device id are marked.
  provision SETUP.xml --all --inventory FILE.csv [--roster FILE.csv] [--count N] [--retry-failed]
                           Many cameras at once, found as scan finds them: each camera is logged
                           into, named by its device id, given the setup and its own officer and
                           unit from the roster, read back, and recorded in the inventory (time,
                           interface or address, device id, officer id, result, fields that
                           differ, clock offset). Keeps looking for more cameras, and takes on the
                           next one plugged in where one has gone, until N cameras were taken on
                           or Ctrl+C, which lets every camera finish the step it is in and sends
                           nothing more. The roster is checked whole before anything is sent; with
                           a roster the setup may hold no group (the officers alone are written).
                           Cameras attached at once that report the same device id get no
                           officer: each is recorded as "duplicate device id".
  check SETUP.xml [--all] [--inventory FILE.csv] [--roster FILE.csv] [--count N] [--retry-failed]
                           The audit before cameras are issued: read each camera and compare it
                           with the setup and its roster officer, writing nothing. With --all,
                           every camera found, watching as provision --all does; without, the
                           camera at --ip. Each is recorded as "check: ok" or "check: differs".
  help                     Show this text.

Options:
  --ip ADDR          Camera address (default 192.168.2.158); scan and provision --all: the
                     address every camera answers at behind its own interface.
  --user NAME        Account name (default admin).
  --password-stdin   Read the account password from the first line of standard input.
  --password-file F  Read the account password from the first line of file F.
                     Without either, the camera's factory password is used. The account
                     password is never taken on the command line, and no password is printed.
  --secrets-file F   set and passwd: take the passwords they write from file F (see below).
  --json             Print the result as one JSON object (provision, check: one per line).
  --show-passwords   Show Wi-Fi and 4G passwords instead of ********.
  --yes              Confirm factory and format.
  --inventory FILE   provision, check: the CSV file rows are appended to (UTF-8; a new file
                     gets the header row time,device_id,officer_id,result). With --all and
                     check the header is time,interface_or_address,device_id,officer_id,result,
                     differences,clock_offset_s (a file with the older header without
                     clock_offset_s keeps taking rows in its own form); a file that starts
                     otherwise, or that cannot be created or written, is refused before
                     anything is sent.
  --count N          provision, check --all: stop after N cameras.
  --all              provision, check: every camera found at once (see above).
  --retry-failed     provision --all, check --all: take on only the cameras whose last row in
                     the --inventory is not ok (by device id; by where it was found for a
                     camera that never said its device id); the others are left alone.
  --interface NAME   scan, provision --all, check --all: look behind this interface only; give
                     it again for more.
  --address ADDR     scan, provision --all, check --all: a camera address to look at instead of
                     the interfaces (simulated cameras on loopback addresses); give it again for
                     more.
  --roster FILE      provision --all, check --all: the officers, a CSV file with the columns
                     device_id, police_id, police_name, company_id, company_name (any order,
                     names ignore case; UTF-8 or GBK). A camera's row is found by the device id
                     it reports.
  --not-on-roster skip|setup
                     provision --all, check --all: a camera whose device id is not on the roster
                     is left as it is and recorded as "not on the roster" (skip, the default),
                     or given the setup's own officer fields (setup).
  --timeout-ms N     How long a connection and each reply may take (default 3000).
  --poll-ms N        provision, check --all: how often to look for a camera coming or going
                     (default 500).
  --version          Print the program version and exit.
  --                 Everything after it is an argument, even when it starts with "-".

Fields for set (names ignore case; other accepted names in brackets):
  platform   serverAddress [ip, address, server], serverPort [port]  (camera on platform 0)
             rtsId, rtsCode [authcode, code]                         (camera on platform 1)
  4g         apn, apnUser [username, user], apnPassword [password]
  wifi       ssid, wifiPassword [password]
  device     policeId [officerid], policeName [officername], deviceId, companyId [unitid],
             companyName [unitname], screenPsk [psk]
  time       timeZone [zone, choice_timezone]: a row 0..24 or its name, UTC-12:00 (row 0) to
             UTC+12:00 (row 24), case ignored; any other number is sent as 255 (no zone)
             summerTime [dst]: on or off
  proxy      proxyEnable [enable]: on or off, proxyAddress [ip, address], proxyPort [port]
  uidentify  uIdentify [enable]: on or off
Numbers are whole decimal numbers with an optional sign and nothing else; ports are 0..65535.
Anything else ("abc", "+8x", "80 ", 70000 for a port) is a usage error and nothing is sent (the
console would send 0, 8, 80 or 4464). Texts longer than their field are cut to the field, as the
console does.

Passwords:
  The passwords that set and passwd write (wifiPassword, apnPassword, passwd's NEW) need not
  appear on the command line, where other users of this computer can read them in the process
  list and the shell history:
  - A value of "-" (wifiPassword=-, password=-, passwd -) reads the next line of standard input.
    With --password-stdin, line 1 is the login password and the "-" values follow in the order
    they appear on the command line. No line left for one is a usage error. (A password that
    is "-" itself goes in --secrets-file.)
  - --secrets-file F holds NAME=VALUE lines: new-password (for passwd), wifiPassword (set wifi),
    apnPassword (set 4g); names ignore case, the value is the rest of the line as it is.
    LF or CR LF line ends; empty lines and lines starting with # are skipped. An unknown name, a
    name given twice or a line without "=" is a usage error. The file's password for the group
    being set is written as if named on the command line (which then must not name it too);
    passwords for other groups are not used.
  A password given literally still works, with a warning on standard error.

Exit codes:
  0    done
  1    a file could not be read or written, or the camera's platform choice is unknown or has
       no such field
  2    usage error (also a number field that is not a number, a "-" with no line left on
       standard input, or an --interface that does not exist for scan); nothing was sent
  3    login refused
  4    camera unreachable or silent (or gone during the command); scan: no camera answered
  5    verification or check found a field that differs, or cameras with the same device id
       were left without their officer
  130  provision or check interrupted
)";

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
                c_.out << kHelp;
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

    // Names the address (when the camera was involved) and the step that failed.
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
        return code;
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

    // Reads the password and logs in; kExitDone when logged in.
    int start()
    {
        const std::string error = readPassword();
        if (!error.empty()) {
            return usageError(error);
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
        if (const int code = login()) {
            return code;
        }
        const GroupResult result = writeGroup(link_, group, assignments);
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
        return kExitDone;
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
        if (const int code = login()) {
            return code;
        }
        if (ChangePassword(link_, user_, *newPassword) != 0) {
            return failure(kExitUnreachable, "passwd", std::string(outcomeText(CameraOutcome::NotSent)));
        }
        printDone("passwd", "sent the new password of " + o_.user);
        return kExitDone;
    }

    int timesync()
    {
        if (const int code = start()) {
            return code;
        }
        switch (SyncClock(link_)) {
            case 0:
                printDone("timesync", "sent this computer's clock");
                return kExitDone;
            case -1:
                return failure(kExitUnreachable, "timesync: read the time record",
                               std::string(outcomeText(CameraOutcome::NoReply)) + "; nothing written");
            default:
                return failure(kExitUnreachable, "timesync: write the time record",
                               std::string(outcomeText(CameraOutcome::NotSent)));
        }
    }

    template <class Action>
    int simpleAction(const std::string& name, Action action)
    {
        if (const int code = start()) {
            return code;
        }
        if (action(link_) != 0) {
            return failure(kExitUnreachable, name, std::string(outcomeText(CameraOutcome::NotSent)));
        }
        printDone(name, "sent");
        return kExitDone;
    }

    int uidentify()
    {
        std::string error;
        const std::optional<Assignment> a = parseAssignment(Group::UIdentify, "uIdentify=" + o_.operands[0], error);
        if (const int code = start()) {
            return code;
        }
        const GroupResult result = writeGroup(link_, Group::UIdentify, std::span(&*a, 1));
        if (result.outcome != CameraOutcome::Done) {
            return cameraFailure(Group::UIdentify, result);
        }
        printDone("uidentify", "sent " + o_.operands[0]);
        return kExitDone;
    }

    // Loads and plans a setup file; kExitDone when `plan` is ready.
    int loadPlan(const std::string& file, std::vector<GroupPlan>& plan, bool mayBeEmpty = false)
    {
        const SetupReadResult read = loadSetupFile(pathFromArgument(file));
        if (!read.ok()) {
            return failure(kExitFailed, "read " + file, read.message, false);
        }
        plan = planSetup(read.elements);
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
        if (const int code = start()) {
            return code;
        }
        const ApplyReport report = applySetup(link_, plan);
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
            return kExitDiffers;
        }
        return kExitDone;
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
        return workOnCameras(o_, c_, {user_, password_}, std::move(plan), mode);
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
        const int code = provision(settings, hooks);
        if (c_.setInterruptible) {
            c_.setInterruptible(false);
        }
        return code;
    }

    const CliOptions& o_;
    CliContext& c_;
    CameraLink link_;
    std::u16string user_;
    std::u16string password_;
    std::optional<SecretsFile> secrets_;
};

} // namespace

std::string_view orvctlHelp()
{
    return kHelp;
}

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
