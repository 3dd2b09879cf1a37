// Appends from several processes (stations) and threads at once stay numbered without gaps and
// chained in one line, on both backends; the processes also race to create the tables.
#include "tests/core/ledger/ledger_fixture.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;
#endif

#include <atomic>
#include <map>
#include <set>
#include <thread>

using namespace orv::ledger;
using namespace orv::ledger::test;

namespace {

using ConcurrencyTest = LedgerBackendTest;

#ifdef _WIN32

// The tool sits beside this test program in bin/ (the build path of the macro is the Linux side's).
std::wstring appendTool()
{
    std::wstring self(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
        if (size < self.size()) {
            self.resize(size);
            break;
        }
        self.resize(self.size() * 2);
    }
    return (std::filesystem::path(self).parent_path() / L"ledger_append_tool.exe").wstring();
}

// One argument as CommandLineToArgvW reads it back: quoted, backslashes before a quote doubled.
std::wstring quoted(const std::wstring& argument)
{
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
}

using Process = HANDLE;

Process startTool(const std::string& location, int count, const std::string& tag)
{
    const std::u8string locationText(location.begin(), location.end());
    std::wstring commandLine = quoted(appendTool());
    for (const std::wstring& a : {std::filesystem::path(locationText).wstring(), std::to_wstring(count),
                                  std::filesystem::path(tag).wstring()}) {
        commandLine += L" " + quoted(a);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return nullptr;
    }
    CloseHandle(info.hThread);
    return info.hProcess;
}

int exitStatus(Process process)
{
    DWORD status = 0;
    const bool ended = WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process, &status);
    CloseHandle(process);
    return ended ? static_cast<int>(status) : -1;
}

bool started(Process process)
{
    return process != nullptr;
}

#else

using Process = pid_t;

Process startTool(const std::string& location, int count, const std::string& tag)
{
    std::vector<std::string> args = {ORV_LEDGER_APPEND_TOOL, location, std::to_string(count), tag};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    return ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : -1;
}

int exitStatus(Process pid)
{
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool started(Process pid)
{
    return pid > 0;
}

#endif

TEST_P(ConcurrencyTest, TwoProcessesAppendingAtOnce)
{
    constexpr int kEach = 40;
    // Neither finds the tables: both also create them at once.
    const Process a = startTool(location_, kEach, "A");
    const Process b = startTool(location_, kEach, "B");
    ASSERT_TRUE(started(a));
    ASSERT_TRUE(started(b));
    EXPECT_EQ(exitStatus(a), 0);
    EXPECT_EQ(exitStatus(b), 0);

    const auto ledger = open();
    ASSERT_TRUE(ledger);
    const VerifyReport report = verifyChain(*ledger);
    EXPECT_TRUE(report.intact) << report.firstBroken << ": " << report.problem;
    EXPECT_EQ(report.eventsChecked, 2 * kEach);
    std::vector<Event> events;
    ASSERT_TRUE(ledger->readEvents({}, events));
    std::map<std::string, int> perStation;
    for (const Event& e : events) {
        ++perStation[e.station];
    }
    EXPECT_EQ(perStation, (std::map<std::string, int>{{"A", kEach}, {"B", kEach}}));
}

TEST_P(ConcurrencyTest, ManyThreadsOnOneLedger)
{
    constexpr int kThreads = 8;
    constexpr int kEach = 15;
    const auto ledger = open();
    ASSERT_TRUE(ledger);
    std::vector<std::vector<std::int64_t>> numbers(kThreads);
    std::atomic<int> failures{0};
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < kEach; ++i) {
                    Event e = sampleEvent("T" + std::to_string(t), "P", "ok");
                    if (ledger->append(e)) {
                        numbers[static_cast<std::size_t>(t)].push_back(e.number);
                    } else {
                        ++failures;
                    }
                }
            });
        }
    }
    EXPECT_EQ(failures.load(), 0);
    std::set<std::int64_t> all;
    for (const auto& list : numbers) {
        EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
        all.insert(list.begin(), list.end());
    }
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
    EXPECT_EQ(*all.rbegin(), kThreads * kEach);
    const VerifyReport report = verifyChain(*ledger);
    EXPECT_TRUE(report.intact) << report.problem;
}

INSTANTIATE_TEST_SUITE_P(Backends, ConcurrencyTest, ::testing::Values(Backend::Sqlite, Backend::Postgres), backendName);

} // namespace
