// orvctl: the camera from the command line. See `orvctl --help`.
#include "link/program_arguments.h"
#include "orvctl/orvctl.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>


namespace {

std::atomic<bool> interrupted{false};
std::atomic<bool> interruptible{false};

extern "C" void onInterrupt(int)
{
    // Outside provisioning, or at the second Ctrl+C, stop at once as any program would.
    if (!interruptible.load() || interrupted.load()) {
        std::_Exit(130);
    }
    interrupted.store(true);
    std::signal(SIGINT, onInterrupt);
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGINT, onInterrupt);
    const std::vector<std::string> args = orv::programArguments(argc, argv);
    orv::cli::CliContext context(std::cin, std::cout, std::cerr);
    context.interrupted = &interrupted;
    context.setInterruptible = [](bool on) { interruptible.store(on); };
    const int code = orv::cli::runOrvctl(args, context);
    std::cout.flush();
    return code;
}
