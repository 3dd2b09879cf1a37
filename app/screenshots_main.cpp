// Renders the console offscreen, as it opens in English and in Simplified Chinese, to
// screenshot-en.png and screenshot-zh.png in the folder given (default: the current one), and
// the search tool after a real run on four simulated cameras to screenshot-searchtool.png.
//   orv-screenshots [FOLDER]

#include "console/orv_camera_dlg.h"
#include "link/local_clock.h"
#include "link/records.h"
#include "persist/settings.h"
#include "persist/setup_document.h"
#include "searchtool/search_tool_dlg.h"
#include "tools/camsim/simulated_camera.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTreeWidgetItem>

#include <cstdio>

namespace {

bool render(const QString& settingsFolder, int language, const QString& target)
{
    using namespace orv;
    CSettings::ResetForTests();
    CSettings& settings = CSettings::GetInstance();
    settings.languagePath = orv::executableFolder() / kLanguageFileName;
    settings.Init(settingsFolder.toStdU16String());
    settings.SaveLanguage(language);
    settings.LoadUser();
    settings.LoadTexts();

    COrvCameraDlg dialog;
    dialog.Create();
    dialog.show();
    // Lets the start-up line reach the log box.
    QCoreApplication::processEvents();
    const bool saved = dialog.grab().save(target, "PNG");
    dialog.close();
    return saved;
}

// Four simulated cameras on loopback addresses, three of them on the roster, one press of Apply
// to all, and the window as the run leaves it.
bool renderSearchTool(const QString& workFolder, const QString& target)
{
    using namespace orv;
    std::vector<std::unique_ptr<camsim::SimulatedCamera>> cameras;
    std::vector<std::string> addresses;
    for (int n = 1; n <= 4; ++n) {
        camsim::CameraOptions options;
        options.listenAddress = "127.0.84." + std::to_string(100 + n);
        options.sdkPort = 0;
        options.log = [](const std::string&) {};
        auto camera = std::make_unique<camsim::SimulatedCamera>(options);
        if (!camera->start()) {
            return false;
        }
        DeviceRecord device = camera->config<DeviceRecord>();
        device.setText(DeviceRecord::deviceId, u"ORV2026000" + std::u16string(1, char16_t(u'0' + n)));
        camera->setConfig(device);
        if (n == 4) {
            // Not on the roster, so left as it is: its clock runs ahead, as its row shows.
            TimeRecord ahead = camera->timeRecord();
            ahead.setNumber(TimeRecord::minute, (ahead.number(TimeRecord::minute) + 7) % 60);
            ahead.setNumber(TimeRecord::second, 1);
            camera->setTimeRecord(ahead);
        }
        addresses.push_back(options.listenAddress);
        cameras.push_back(std::move(camera));
    }
    const QDir work(workFolder);
    SetupValues setup;
    setup.ssid = u"Harbour Unit";
    setup.wifiPassword = u"harbour-secret";
    setup.apn = u"unit.apn";
    if (!saveSetupFile(work.filePath(QStringLiteral("unit.xml")).toStdU16String(), setup)) {
        return false;
    }
    QFile roster(work.filePath(QStringLiteral("roster.csv")));
    if (!roster.open(QIODevice::WriteOnly)) {
        return false;
    }
    roster.write("device_id,police_id,police_name,company_id,company_name\r\n"
                 "ORV20260001,P-1041,Li Wei,U7,Harbour Unit\r\n"
                 "ORV20260002,P-1042,Chen Jing,U7,Harbour Unit\r\n"
                 "ORV20260003,P-1043,Zhao Min,U7,Harbour Unit\r\n");
    roster.close();

    search::SearchToolOptions options;
    options.plan.cameraAddresses = addresses;
    options.poll = std::chrono::milliseconds(100);
    options.language = 2;
    options.setupFile = QDir::toNativeSeparators(work.filePath(QStringLiteral("unit.xml")));
    options.rosterFile = QDir::toNativeSeparators(work.filePath(QStringLiteral("roster.csv")));
    options.inventoryFile = QDir::toNativeSeparators(work.filePath(QStringLiteral("inventory.csv")));
    options.applyAllWhen = 4;
    search::CSearchToolDlg dialog(options);
    dialog.Create();
    dialog.show();
    QElapsedTimer waited;
    waited.start();
    // Until the run is over and every camera was read again.
    auto done = [&] {
        for (const std::string& a : addresses) {
            const QTreeWidgetItem* row = dialog.rowOf(QString::fromStdString(a));
            if (!row || row->text(search::ColumnResult).isEmpty() || dialog.running()) {
                return false;
            }
        }
        return true;
    };
    while (!done() && waited.elapsed() < 20000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    const bool saved = done() && dialog.grab().save(target, "PNG");
    dialog.close();
    return saved;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(folder);

    // The same picture every time: a fixed clock and a settings file of its own.
    orv::setLocalClock([] { return orv::LocalDateTime{2018, 3, 5, 14, 7, 9}; });
    QTemporaryDir settingsFolder;
    if (!settingsFolder.isValid()) {
        std::fprintf(stderr, "orv-screenshots: no temporary folder\n");
        return 1;
    }
    struct Shot
    {
        int language;
        const char* file;
    };
    for (const Shot& shot : {Shot{2, "screenshot-en.png"}, Shot{0, "screenshot-zh.png"}}) {
        const QString target = QDir(folder).filePath(QString::fromLatin1(shot.file));
        QFile::remove(QDir(settingsFolder.path()).filePath(QStringLiteral("orv_setup.ini")));
        if (!render(settingsFolder.path(), shot.language, target)) {
            std::fprintf(stderr, "orv-screenshots: cannot write %s\n", qPrintable(target));
            return 1;
        }
        std::printf("%s\n", qPrintable(QDir::toNativeSeparators(target)));
    }
    const QString searchTarget = QDir(folder).filePath(QStringLiteral("screenshot-searchtool.png"));
    if (!renderSearchTool(settingsFolder.path(), searchTarget)) {
        std::fprintf(stderr, "orv-screenshots: the search tool's run did not finish for %s\n",
                     qPrintable(searchTarget));
        return 1;
    }
    std::printf("%s\n", qPrintable(QDir::toNativeSeparators(searchTarget)));
    return 0;
}
