// orv-camsim: the simulated camera as a program of its own.

#include "tools/camsim/command_line.h"
#include "tools/camsim/simulated_camera.h"

#include "link/program_arguments.h"
#include "link/utf.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <thread>


namespace {

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void onStopSignal(int signal)
{
    stopSignal = signal;
}

std::string timestamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

std::string firstAccount(const orv::UserTable& users)
{
    if (users.number(orv::UserTable::count) == 0) {
        return "no accounts";
    }
    return "account " + orv::utf::toUtf8(users.text(orv::UserTable::name(0))) + " / "
         + orv::utf::toUtf8(users.text(orv::UserTable::password(0)));
}

} // namespace

int main(int argc, char** argv)
{
    using namespace orv::camsim;
    // What it prints is UTF-8 (a state file's name, the accounts), on Windows too.
    const CommandLine commandLine = parseCommandLine(orv::programArguments(argc, argv));
    if (commandLine.action == CommandLine::Action::Help) {
        std::cout << usageText();
        return 0;
    }
    if (commandLine.action == CommandLine::Action::Version) {
        std::cout << versionText();
        return 0;
    }
    if (commandLine.action == CommandLine::Action::Error) {
        std::cerr << "orv-camsim: " << commandLine.error << "\n\n" << usageText();
        return 2;
    }

    CameraOptions options = commandLine.options;
    options.keepFrames = false;
    options.log = [](const std::string& line) {
        std::printf("[%s] %s\n", timestamp().c_str(), line.c_str());
        std::fflush(stdout);
    };
    SimulatedCamera camera(options);
    std::string error;
    if (!camera.start(&error)) {
        std::cerr << "orv-camsim: " << error << "\n";
        return 2;
    }
    camera.setReplyDelay(commandLine.replyDelay);
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);

    std::printf("orv-camsim: simulated camera listening on %s:%u (%s); Ctrl+C stops it\n",
                options.listenAddress.c_str(), static_cast<unsigned>(camera.port()),
                firstAccount(camera.accounts()).c_str());
    std::printf("orv-camsim: device id %s\n", camera.deviceId().c_str());
    if (camera.sdkPort() != 0) {
        std::printf("orv-camsim: GB28181 settings for the stand-in SDK on %s:%u\n", options.listenAddress.c_str(),
                    static_cast<unsigned>(camera.sdkPort()));
    }
    if (!options.stateFile.empty()) {
        std::printf("orv-camsim: state kept in %s\n", options.stateFile.c_str());
    }
    std::fflush(stdout);

    // A signal handler may do next to nothing; the main thread notices the flag soon enough.
    while (stopSignal == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    camera.stop();
    std::printf("orv-camsim: stopped\n");
    return 0;
}
