// The real program's start-up, process start to the console shown (offscreen), beside two floors
// started the same way from the same folder: an empty dialog of the console's size, and a dialog
// with the console's 89 controls written as plain Qt code. Peak memory of each as counters. And
// the activity log box appending lines when it already holds 100 000.
//   build/bin/console_bench
// prints, after the table, "console / bare dialog: N.NNx" and "console / straight-code dialog: N.NNx".

#include "bench/ratio_reporter.h"
#include "dialogkit/multi_line_edit.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QFile>
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

struct Run
{
    double seconds = 0;
    long peakKb = 0;
    std::string shown; // "WxH"
};

// Spawns the program and times it until it reports its dialog shown; the peak resident size comes
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

// The console and the floor probe copied, with the language file, into a folder of their own: the
// console keeps its settings file beside itself, so every run finds the same one (written by the
// first, untimed run) and the build's bin/ is left alone.
struct ProgramFolder
{
    QTemporaryDir folder;
    bool ready = false;

    ProgramFolder()
    {
        const QDir bin(QCoreApplication::applicationDirPath());
        ready = folder.isValid();
        for (const char* name : {"orvcamera", "bare_dialog_probe", "orv_language.ini"}) {
            const QString file = QString::fromLatin1(name);
            ready = ready && QFile::copy(bin.filePath(file), QDir(folder.path()).filePath(file));
        }
        Run warmUp;
        ready = ready && runProbe({path("orvcamera")}, warmUp);
        if (ready) {
            consoleSize = warmUp.shown;
        }
    }

    std::string path(const char* name) const
    {
        return QDir(folder.path()).filePath(QString::fromLatin1(name)).toStdString();
    }

    std::string consoleSize;
};

ProgramFolder& programFolder()
{
    static ProgramFolder folder;
    return folder;
}

enum class Probe { Console, Bare, Straight };

void startup(benchmark::State& state, Probe probe)
{
    ProgramFolder& programs = programFolder();
    if (!programs.ready) {
        state.SkipWithError("cannot prepare the program folder, or the console did not report itself shown");
        return;
    }
    const std::string& size = programs.consoleSize;
    const auto x = size.find('x');
    std::vector<std::string> args;
    switch (probe) {
        case Probe::Console:
            args = {programs.path("orvcamera")};
            break;
        case Probe::Bare:
            args = {programs.path("bare_dialog_probe"), "bare", size.substr(0, x), size.substr(x + 1)};
            break;
        case Probe::Straight:
            args = {programs.path("bare_dialog_probe"), "straight"};
            break;
    }
    double peak = 0;
    long runs = 0;
    std::string shown;
    for (auto _ : state) {
        Run run;
        if (!runProbe(args, run)) {
            state.SkipWithError("the program did not report a shown dialog");
            return;
        }
        state.SetIterationTime(run.seconds);
        peak += static_cast<double>(run.peakKb);
        shown = run.shown;
        ++runs;
    }
    state.counters["peak_rss_kb"] = runs ? peak / static_cast<double>(runs) : 0;
    state.SetLabel(shown);
}

void BM_ConsoleStartup(benchmark::State& state)
{
    startup(state, Probe::Console);
}
BENCHMARK(BM_ConsoleStartup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_BareDialogStartup(benchmark::State& state)
{
    startup(state, Probe::Bare);
}
BENCHMARK(BM_BareDialogStartup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_StraightCodeDialogStartup(benchmark::State& state)
{
    startup(state, Probe::Straight);
}
BENCHMARK(BM_StraightCodeDialogStartup)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

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
    // Only the console reads it; the floors ignore it.
    qputenv("ORV_REPORT_SHOWN", "1");
    QApplication application(argc, argv);
    orv::bench::RatioReporter reporter({
        {"console / bare dialog", "BM_ConsoleStartup/iterations:20/manual_time",
         "BM_BareDialogStartup/iterations:20/manual_time"},
        {"console / straight-code dialog (target <= 1.2x)", "BM_ConsoleStartup/iterations:20/manual_time",
         "BM_StraightCodeDialogStartup/iterations:20/manual_time"},
    });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
