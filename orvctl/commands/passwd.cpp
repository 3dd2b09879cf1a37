// orvctl passwd NEW|-: change the password of the --user account.
#include "orvctl/camera_command.h"
#include "orvctl/command.h"
#include "orvctl/help_texts.h"

#include "lang/utf.h"
#include "link/records.h"
#include "orvctl/fleet_commands.h"
#include "orvctl/ledger_commands.h"
#include "persist/atomic_file.h"
#include "persist/setup_document.h"
#include "provision/camera_actions.h"
#include "provision/camera_session.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <ostream>

namespace orv::cli {
using namespace orv::provision;
namespace {

class PasswdCommand final : public CameraCommand
{
public:
    using CameraCommand::CameraCommand;

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
        if (provision::changePassword(link_, user_, *newPassword) != CameraOutcome::Done) {
            return failure(kExitUnreachable, "passwd", std::string(outcomeText(CameraOutcome::NotSent)));
        }
        printDone("passwd", "sent the new password of " + o_.user);
        return finish(kExitDone, "ok");
    }
};

int action(const CliOptions& o, CliContext& c)
{
    return PasswdCommand(o, c).passwd();
}

constexpr std::string_view kPasswdFooter[] = {kPasswords};

} // namespace

constexpr Command kPasswdCommand{
    .name = "passwd",
    .kind = CommandKind::Passwd,
    .operands = "NEW|-",
    .minOperands = 1,
    .maxOperands = 1,
    .summary = "Change the password of the --user account.",
    .details = "Give \"-\" to read NEW from standard input, or leave NEW out and put a new-password line in\n"
               "--secrets-file; see \"Passwords\" below.",
    .related = "--secrets-file --ip --user --password-stdin --password-file --timeout-ms --ledger --trusted --json",
    .footer = kPasswdFooter,
    .action = action,
};

} // namespace orv::cli
