// QtTest's watchdog thread ("QtTest Watchdog", the only QThread these programs have) is waited for
// by QtTest when the tests end, but the thread may still be letting go of its thread data when the
// process exits; LeakSanitizer then reports that data as leaked, now and then. Every window test
// links this: at exit, before the leak check, it waits (two seconds at most) until no such thread
// is left.
#ifdef __linux__

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace {

bool watchdogThreadLeft()
{
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name == "QtTest Watchdog") {
            return true;
        }
    }
    return false;
}

struct WaitForTheWatchdogAtExit
{
    WaitForTheWatchdogAtExit() = default;
    WaitForTheWatchdogAtExit(const WaitForTheWatchdogAtExit&) = delete;
    WaitForTheWatchdogAtExit& operator=(const WaitForTheWatchdogAtExit&) = delete;
    ~WaitForTheWatchdogAtExit()
    {
        for (int i = 0; i < 200 && watchdogThreadLeft(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
} waitForTheWatchdogAtExit;

} // namespace

#endif
