// The console's Batch, RNDIS and GB28181 buttons: the search tool (the real one, built beside
// the tests) toggled through its marker, the driver installer started, the GB28181 dialog opened
// for the address of the IP field.

#include "console/activity_log.h"
#include "console/control_ids.h"
#include "console/gb28181_opener.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/instance_marker.h"
#include "dialogkit/ip_address_edit.h"
#include "gb28181/camera_sdk.h"
#include "gb28181/gb28181_dlg.h"
#include "gb28181/sdk_session.h"
#include "support/console_fixture.h"
#include "tools/camsim/simulated_camera.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>

using namespace orv;
using namespace orv::testing;

Q_DECLARE_METATYPE(orv::Octets)

namespace {

QString besideTheProgram(const char* name)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QString::fromLatin1(name));
}

QString standInSearchTool()
{
#ifdef _WIN32
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("orv-search-tool-standin.exe"));
#else
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("orv-search-tool-standin"));
#endif
}

// The lines the dialog gained since the last call.
QString newLogLines(COrvCameraDlg& dialog)
{
    static QHash<const COrvCameraDlg*, qsizetype> seen;
    QCoreApplication::sendPostedEvents(&dialog, kAppendLogEvent);
    const QString text = dialog.dlgItemText(idc::kLog);
    const QString added = text.mid(seen.value(&dialog, 0));
    seen[&dialog] = text.size();
    return added;
}

QString logLine(const char* message)
{
    return QStringLiteral("[2018-03-05 14:07:09] %1\r\n").arg(QString::fromLatin1(message));
}

// A console as start-up leaves it, its start-up line already shown.
void openConsole(COrvCameraDlg& dialog)
{
    dialog.Create();
    dialog.setDlgItemText(idc::kLog, QString());
    QCoreApplication::sendPostedEvents(&dialog, kAppendLogEvent);
    newLogLines(dialog);
}

// Records the login address only; refuses the login so that nothing else happens.
class AddressOnlySdk : public gb28181::CameraSdk
{
public:
    QString address;
    int init() override { return 0; }
    int login(const char* a, int, const char*, const char*, gb28181::LoginStatusCallback, void*) override
    {
        address = QString::fromLatin1(a);
        return 0;
    }
    int loginOut(int) override { return 0; }
    int getConfig(int, int, int, void*, int*) override { return -1; }
    int setConfig(int, int, int, const void*, int) override { return -1; }
    int closeStream(int, int, int) override { return 0; }
};

} // namespace

class CompanionProgramsTest : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        settings_ = std::make_unique<TestSettings>(2);
        enterSeamTestMode();
        fixClock(2018, 3, 5, 14, 7, 9);
        QVERIFY(!QFile::exists(besideTheProgram(kRndisInstallerFileName)));
        if (const auto left = findMarkedWindow(kSearchToolMarker, kMarkerValue)) {
            closeMarkedWindow(*left);
        }
    }
    void cleanup()
    {
        if (const auto left = findMarkedWindow(kSearchToolMarker, kMarkerValue)) {
            closeMarkedWindow(*left);
        }
        setCompanionFolderForTests({});
        setGb28181Opener({});
        setLocalClock(nullptr);
        leaveSeamTestMode();
        settings_.reset();
    }

    void batchTogglesTheSearchTool()
    {
        QVERIFY2(QFile::exists(besideTheProgram(kSearchToolFileName)), "the search tool is built beside the tests");
        // The tool inherits the console's environment: it looks at an address where nothing
        // listens instead of the computer's interfaces.
        qputenv("ORV_CAMERA_ADDRESSES", "127.0.83.251");
        COrvCameraDlg dialog;
        openConsole(dialog);

        dialog.OnBatch();
        QCOMPARE(newLogLines(dialog), logLine("open SearchTool success ..."));
        QTRY_VERIFY_WITH_TIMEOUT(findMarkedWindow(kSearchToolMarker, kMarkerValue).has_value(), 20000);

        dialog.OnBatch();
        QTRY_VERIFY_WITH_TIMEOUT(!findMarkedWindow(kSearchToolMarker, kMarkerValue).has_value(), 20000);
        QCOMPARE(newLogLines(dialog), QString());
    }

    void batchClosesTheSearchToolWithoutWaitingForItsCameras()
    {
        // A camera that takes the search tool's login request and says nothing: the tool's watch
        // is waiting for it when Batch is pressed the second time.
        camsim::CameraOptions options;
        options.listenAddress = "127.0.83.252";
        options.sdkPort = 0;
        options.log = [](const std::string&) {};
        camsim::SimulatedCamera camera(options);
        if (!camera.start()) {
            QSKIP("127.0.83.252 is taken");
        }
        camera.stayQuiet(true);
        qputenv("ORV_CAMERA_ADDRESSES", "127.0.83.252");
        COrvCameraDlg dialog;
        openConsole(dialog);
        dialog.OnBatch();
        QTRY_VERIFY_WITH_TIMEOUT(findMarkedWindow(kSearchToolMarker, kMarkerValue).has_value(), 20000);
        QVERIFY(camera.waitForFrames(1, std::chrono::seconds(20)));

        dialog.OnBatch();
        // The window goes (and with it the marker, so the next press starts a new search tool)
        // while the search tool still holds the camera it was reading: its close waited for no
        // camera, and neither did Batch. (On Windows the close request is handled after
        // SendMessage returns, so the marker is awaited rather than looked at once.)
        QTRY_VERIFY_WITH_TIMEOUT(!findMarkedWindow(kSearchToolMarker, kMarkerValue).has_value(), 2000);
        QCOMPARE(camera.connectionsHeld(), 1);
        QCOMPARE(newLogLines(dialog), logLine("open SearchTool success ..."));
        qputenv("ORV_CAMERA_ADDRESSES", "127.0.83.251");
    }

    void aMarkerWithAnotherValueIsNotTheSearchTool()
    {
        QProcess other;
        other.start(standInSearchTool(), {QStringLiteral("170722")});
        QVERIFY(other.waitForStarted());
        QVERIFY(other.waitForReadyRead(20000));
        QTemporaryDir emptyFolder;
        QVERIFY(emptyFolder.isValid());
        setCompanionFolderForTests(emptyFolder.path());
        COrvCameraDlg dialog;
        openConsole(dialog);

        dialog.OnBatch(); // no search tool in the program folder
        QCOMPARE(newLogLines(dialog), logLine("open SearchTool fail ..."));
        QCOMPARE(other.state(), QProcess::Running);
        other.kill();
        other.waitForFinished();
    }

    void rndisLogsEvenWithoutTheInstaller()
    {
        COrvCameraDlg dialog;
        openConsole(dialog);
        dialog.OnRndis();
        QVERIFY2(newLogLines(dialog).startsWith(QStringLiteral("[2018-03-05 14:07:09] open rndis")),
                 qPrintable(dialog.dlgItemText(idc::kLog)));
    }

    void gb28181GetsTheAddressOfTheIpField_data()
    {
        QTest::addColumn<Octets>("field");
        QTest::addColumn<QString>("address");
        QTest::newRow("typed") << Octets{192, 168, 2, 158} << "192.168.2.158";
        QTest::newRow("empty") << Octets{} << "0.0.0.0";
    }
    void gb28181GetsTheAddressOfTheIpField()
    {
        QFETCH(Octets, field);
        QFETCH(QString, address);
        AddressOnlySdk sdk;
        gb28181::SdkSession::setSleeper([](std::chrono::milliseconds) {});
        setGb28181Opener([&sdk](QWidget* parent, const QString& cameraAddress) {
            CGB28181Dlg gb(parent, &sdk);
            gb.cameraAddress = cameraAddress;
            MessageBox::instance().setNextAnswer(QMessageBox::Ok);
            gb.OnConfigGet(); // the SDK only records where it was sent
        });
        COrvCameraDlg dialog;
        openConsole(dialog);
        auto* ip = dialog.dlgItem<IpAddressEdit>(idc::kCameraIp);
        QVERIFY(ip);
        ip->clear();
        if (field != Octets{}) {
            ip->setAddress(field);
        }
        dialog.OnGb28181();
        gb28181::SdkSession::setSleeper(nullptr);
        QCOMPARE(sdk.address, address);
        QCOMPARE(newLogLines(dialog), QString());
    }

private:
    std::unique_ptr<TestSettings> settings_;
};

QTEST_MAIN(CompanionProgramsTest)
#include "companion_programs_test.moc"
