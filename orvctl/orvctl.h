#pragma once
// orvctl: the camera from the command line. main() is a thin shell around runOrvctl, which tests
// call directly with their own streams.

#include "orvctl/provisioner.h"

#include <atomic>
#include <functional>
#include <iosfwd>
#include <span>
#include <string>

namespace orv::cli {

struct CliContext
{
    CliContext(std::istream& input, std::ostream& output, std::ostream& errors)
        : in(input)
        , out(output)
        , err(errors)
    {
    }

    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    // Set when the operator asks provision to stop (Ctrl+C).
    const std::atomic<bool>* interrupted = nullptr;
    // Told true while an interrupt should finish the current camera rather than end the process.
    std::function<void(bool)> setInterruptible;
    // Every provisioning step, after its progress line was printed.
    std::function<void(const ProvisionEvent&)> onProvisionEvent;
};

// Runs one command line (without the program name) and returns the exit code.
int runOrvctl(std::span<const std::string> args, CliContext& context);

} // namespace orv::cli
