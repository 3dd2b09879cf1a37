#pragma once
// What orvctl's commands that work on one camera share: the login (the password from standard
// input or a file), the passwords a command writes, the ledger event each command records after
// its outcome, and the messages of failures. Each command derives from it in its own unit under
// commands/.

#include "ledger/ledger.h"
#include "ledger/station.h"
#include "orvctl/cli_options.h"
#include "orvctl/json_writer.h"
#include "orvctl/orvctl.h"
#include "orvctl/secrets_file.h"
#include "provision/camera_groups.h"
#include "provision/camera_session.h"
#include "provision/fleet_runner.h"
#include "provision/ledger_events.h"
#include "provision/setup_apply.h"

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orv::cli {

// What a password shows as unless --show-passwords.
inline constexpr std::string_view kHidden = "********";

// A file named on the command line (UTF-8) as a path.
std::filesystem::path pathFromArgument(const std::string& utf8);

// A device action that takes no input (udisk, factory, format): logs in, sends it, records the
// outcome under `name`.
int runDeviceAction(const CliOptions& o, CliContext& c, const std::string& name,
                    provision::CameraOutcome (*action)(CameraLink&));

// The check of a command that cannot be undone: nothing runs without --yes.
std::string needsYes(CliOptions& o);

class CameraCommand
{
public:
    CameraCommand(const CliOptions& options, CliContext& context);

protected:
    // --- output ---

    int usageError(const std::string& message);

    // Names the address (when the camera was involved) and the step that failed; a command that
    // works on the camera records the failure in the ledger.
    int failure(int code, const std::string& step, const std::string& message, bool atCamera = true);

    // --- the ledger ---

    // Opens the ledger (before anything is sent: a command whose outcome could not be recorded is
    // not started) and begins the command's event; kExitDone when both went well.
    int beginEvent(std::string kind, const std::string* setupFile = nullptr);

    // Records the command's outcome as its one event and returns `code`, or 1 when the ledger did
    // not take it (the outcome has been printed all the same).
    int finish(int code, std::string result);

    int cameraFailure(provision::Group group, const provision::GroupResult& result);

    std::string shown(const provision::FieldValue& v) const;

    void addValue(JsonWriter& j, const provision::FieldValue& v) const;

    void printDone(const std::string& command, const std::string& text);

    // --- passwords and login ---

    bool readLine(std::string& line);

    // Empty when read; otherwise the usage error to report.
    std::string readPassword();

    // --- passwords that commands write ---

    // Empty when read or not asked for; otherwise the usage error to report.
    std::string readSecretsFile();

    const std::string* secretFromFile(std::string_view name) const { return secrets_ ? secrets_->find(name) : nullptr; }

    // Scripts written before "-" and --secrets-file keep working, but should hear why to move on.
    void warnLiteralSecret(const std::string& what, const std::string& instead);

    // Fills in the "-" passwords from standard input in command-line order, warns of the literal
    // ones and adds the group's password from --secrets-file. Empty when all went well.
    std::string gatherSecrets(provision::Group group, std::vector<provision::Assignment>& assignments);

    int login();

    // Reads the password, opens the ledger and begins the event of `kind` (a command that works
    // on the camera), and logs in; kExitDone when logged in.
    int start(const char* kind = nullptr, const std::string* setupFile = nullptr);

    template <class Action>
    int simpleAction(const std::string& name, Action action)
    {
        if (const int code = start(name.c_str())) {
            return code;
        }
        if (action(link_) != provision::CameraOutcome::Done) {
            return failure(kExitUnreachable, name,
                           std::string(provision::outcomeText(provision::CameraOutcome::NotSent)));
        }
        printDone(name, "sent");
        return finish(kExitDone, "ok");
    }

    // Loads and plans a setup file; kExitDone when `plan` is ready.
    int loadPlan(const std::string& file, std::vector<provision::GroupPlan>& plan, bool mayBeEmpty = false);

    std::string differenceText(const provision::FieldDifference& d) const;

    // provision --all, check and check --all.
    int workOnAllCameras(provision::RunMode mode);

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
    std::optional<provision::UnconfirmedDevice> notReadBack_; // apply: the device group went out, never read back
};

} // namespace orv::cli
