// orvctl: the camera from the command line. See `orvctl --help`.
#include "tools/cli/orvctl.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include "lang/utf.h"

#include <windows.h>

#include <shellapi.h>
#endif

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

std::vector<std::string> arguments(int argc, char** argv)
{
#ifdef _WIN32
    // The narrow arguments are in the ANSI code page; take the wide ones and speak UTF-8 inside.
    (void)argc;
    (void)argv;
    std::vector<std::string> args;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; wide && i < count; ++i) {
        const std::wstring_view w(wide[i]);
        args.push_back(orv::utf::toUtf8(std::u16string(w.begin(), w.end())));
    }
    LocalFree(wide);
    SetConsoleOutputCP(CP_UTF8);
    return args;
#else
    return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGINT, onInterrupt);
    const std::vector<std::string> args = arguments(argc, argv);
    orv::cli::CliContext context(std::cin, std::cout, std::cerr);
    context.interrupted = &interrupted;
    context.setInterruptible = [](bool on) { interruptible.store(on); };
    const int code = orv::cli::runOrvctl(args, context);
    std::cout.flush();
    return code;
}
