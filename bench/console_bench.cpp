// The console's start-up, process start to console shown (offscreen), beside a bare Qt dialog of
// the same size started the same way; peak memory of each as counters. And the activity log box
// appending lines when it already holds 100 000.
//   build/bin/console_bench

#include "console/multi_line_edit.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace {

std::string binFolder()
{
    return QCoreApplication::applicationDirPath().toStdString();
}

struct Run
{
    double seconds = 0;
    long peakKb = 0;
    std::string shown; // "WxH"
};

// Spawns the probe and times it until it reports the dialog shown; the peak resident size comes
// from the ended child.
bool runProbe(const std::vector<std::string>& args, Run& run)
{
    int out[2];
    if (pipe(out) != 0) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        return false;
    }
    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
        line += c;
    }
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(out[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.peakKb = usage.ru_maxrss;
    if (line.rfind("shown ", 0) != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return false;
    }
    run.shown = line.substr(6);
    return true;
}

std::string& consoleSize()
{
    static std::string size;
    return size;
}

enum class Probe { Console, Bare, Text };

void startup(benchmark::State& state, Probe probe)
{
    QTemporaryDir settings;
    double peak = 0;
    long runs = 0;
    for (auto _ : state) {
        Run run;
        std::vector<std::string> args;
        if (probe == Probe::Console) {
            args = {binFolder() + "/console_start_probe", "console", settings.path().toStdString()};
        } else {
            const std::string& size = consoleSize();
            const auto x = size.find('x');
            args = {binFolder() + "/bare_dialog_probe", probe == Probe::Bare ? "bare" : "text", size.substr(0, x),
                    size.substr(x + 1)};
        }
        if (!runProbe(args, run)) {
            state.SkipWithError("the probe did not report a shown dialog");
            return;
        }
        if (probe == Probe::Console) {
            consoleSize() = run.shown;
        }
        state.SetIterationTime(run.seconds);
        peak += static_cast<double>(run.peakKb);
        ++runs;
    }
    state.counters["peak_rss_kb"] = runs ? peak / static_cast<double>(runs) : 0;
    state.SetLabel(consoleSize());
}

void BM_ConsoleStartup(benchmark::State& state)
{
    startup(state, Probe::Console);
}
// The bare dialog takes the console's size, so the console runs first.
BENCHMARK(BM_ConsoleStartup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_BareDialogStartup(benchmark::State& state)
{
    if (consoleSize().empty()) {
        consoleSize() = "1099x653";
    }
    startup(state, Probe::Bare);
}
BENCHMARK(BM_BareDialogStartup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_TextDialogStartup(benchmark::State& state)
{
    if (consoleSize().empty()) {
        consoleSize() = "1099x653";
    }
    startup(state, Probe::Text);
}
BENCHMARK(BM_TextDialogStartup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

// One more line at the end of a log box that holds 100 000 lines already.
void BM_LogAppendAt100k(benchmark::State& state)
{
    orv::MultiLineEdit box;
    box.resize(300, 200);
    const QString line = QStringLiteral("[2018-03-05 14:07:09] get device info success ...\r\n");
    QString many;
    for (int i = 0; i < 100000; ++i) {
        many += line;
    }
    box.appendAtEnd(many);
    for (auto _ : state) {
        box.appendAtEnd(line);
    }
    state.counters["lines"] = static_cast<double>(box.blockCount());
}
BENCHMARK(BM_LogAppendAt100k)->Unit(benchmark::kMicrosecond);

// Filling the box line by line, as 100 000 posted log lines would.
void BM_LogFill100kLines(benchmark::State& state)
{
    const QString line = QStringLiteral("[2018-03-05 14:07:09] get device info success ...\r\n");
    for (auto _ : state) {
        orv::MultiLineEdit box;
        box.resize(300, 200);
        for (int i = 0; i < 100000; ++i) {
            box.appendAtEnd(line);
        }
        benchmark::DoNotOptimize(box.windowText().size());
    }
}
BENCHMARK(BM_LogFill100kLines)->Unit(benchmark::kMillisecond)->Iterations(2);

} // namespace

int main(int argc, char* argv[])
{
    benchmark::Initialize(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
