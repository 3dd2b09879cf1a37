// orvctl check SETUP.xml: compare cameras with a setup and the roster, writing nothing.
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

class CheckCommand final : public CameraCommand
{
public:
    using CameraCommand::CameraCommand;
    using CameraCommand::workOnAllCameras;
};

int action(const CliOptions& o, CliContext& c)
{
    return CheckCommand(o, c).workOnAllCameras(RunMode::Check);
}

} // namespace

constexpr Command kCheckCommand{
    .name = "check",
    .kind = CommandKind::Check,
    .operands = "SETUP.xml",
    .minOperands = 1,
    .maxOperands = 1,
    .summary = "Compare cameras with a setup and the roster, writing nothing.",
    .details =
        R"(check SETUP.xml [--all] [--inventory FILE.csv] [--roster FILE.csv] [--count N] [--retry-failed]
  The audit before cameras are issued: read each camera and compare it with the setup and its
  roster officer, writing nothing. With --all, every camera found, watching as provision --all
  does; without, the camera at --ip. Each is recorded as "check: ok" or "check: differs".)",
    .related = kManyCameraOptions,
    .action = action,
};

} // namespace orv::cli
