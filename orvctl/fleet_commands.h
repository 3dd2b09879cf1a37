#pragma once
// orvctl's commands for many cameras at once: scan, provision --all and check.

#include "orvctl/cli_options.h"
#include "orvctl/orvctl.h"
#include "provision/fleet_runner.h"

#include <string>
#include <vector>

namespace orv::cli {

struct FleetLogin
{
    std::u16string user;
    std::u16string password;
};

// Lists the cameras that answer, each with its device id; the exit code (4 when none answers).
int scanCameras(const CliOptions& options, CliContext& context, const FleetLogin& login);

// provision --all (mode Apply) and check --all (mode Check): works on every camera found at once
// and keeps looking for more until --count cameras were taken on or the operator interrupts;
// check without --all reads the one camera at --ip. `setupBytes` are the setup file's bytes the
// plan was made from, which the events name. The exit code.
int workOnCameras(const CliOptions& options, CliContext& context, const FleetLogin& login,
                  std::vector<provision::GroupPlan> plan, const std::string& setupBytes, provision::RunMode mode);

} // namespace orv::cli
