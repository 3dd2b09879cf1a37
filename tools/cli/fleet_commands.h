#pragma once
// orvctl's commands for many cameras at once: scan, and provision --all.

#include "provision/setup_apply.h"
#include "tools/cli/cli_options.h"
#include "tools/cli/orvctl.h"

#include <string>
#include <vector>

namespace orv::cli {

struct FleetLogin
{
    std::u16string user;
    std::u16string password;
};

// Lists the cameras that answer, each with its device id; the exit code.
int scanCameras(const CliOptions& options, CliContext& context, const FleetLogin& login);

// Works on every camera found at once, and keeps looking for more until --count cameras were
// taken on or the operator interrupts; the exit code.
int provisionAll(const CliOptions& options, CliContext& context, const FleetLogin& login,
                 std::vector<provision::GroupPlan> plan);

} // namespace orv::cli
