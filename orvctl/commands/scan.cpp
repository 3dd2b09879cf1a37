// orvctl scan: list the cameras that answer.
#include "orvctl/camera_command.h"
#include "orvctl/command.h"

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

class ScanCommand final : public CameraCommand
{
public:
    using CameraCommand::CameraCommand;

    int scan()
    {
        const std::string error = readPassword();
        if (!error.empty()) {
            return usageError(error);
        }
        return scanCameras(o_, c_, {user_, password_});
    }
};

int action(const CliOptions& o, CliContext& c)
{
    return ScanCommand(o, c).scan();
}

} // namespace

constexpr Command kScanCommand{
    .name = "scan",
    .kind = CommandKind::Scan,
    .minOperands = 0,
    .maxOperands = 0,
    .summary = "List the cameras that answer, with device id, officer and clock offset.",
    .details =
        R"(Looks for one camera behind every network interface that is up and has an address in the --ip
address's /24 (USB network adapters first), or behind the interfaces named with --interface (one
that does not exist is a usage error), or at the --address addresses (simulated cameras). All are
tried at once. Cameras reporting the same device id are marked.)",
    .related = "--interface --address --ip --user --password-stdin --password-file --timeout-ms --json",
    .action = action,
};

} // namespace orv::cli
