// Secrets at rest, the console's side: the console runs as a user whose umask is 022, in a HOME of
// its own, against a simulated camera on loopback. It logs in with the login remembered, changes the
// camera's password, sets 4G and Wi-Fi, saves a setup file, exports the device id and saves its log,
// recording all of it in the default ledger. Then every file and folder under HOME is walked: none
// that holds a secret (a password this test used, a private key, a ledger, a station's key, witness
// file or spool, a setup file with a password) may be readable or writable by group or others.
// Installed (settings in the user's folder), portable (settings beside the program), and installed
// with a shared PostgreSQL ledger (the station's spool), where a server is installed.

#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/address_text.h"
#include "dialogkit/ip_address_edit.h"
#include "dialogkit/user_settings_folder.h"
#include "ledger/background_recorder.h"
#include "link/camera_link.h"
#include "link/records.h"
#include "persist/ledger_location.h"
#include "support/console_fixture.h"
#include "tools/camsim/simulated_camera.h"
#ifdef ORV_WITH_POSTGRES_SERVER
#include "tests/support/postgres_server.h"
#endif

#include <QAbstractButton>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <memory>

#include <sys/stat.h>

using namespace orv;
using namespace orv::testing;

namespace {

const QString kCameraSecret = QStringLiteral("walk-cam-3Hx7");
const QString kNewCameraSecret = QStringLiteral("walk-new-9Rb4");
const QString kApnSecret = QStringLiteral("walk-apn-5Tz9");
const QString kWifiSecret = QStringLiteral("walk-wifi-8Qe2");

// Every way a file of the programs may carry a password: UTF-8, UTF-16LE, and the settings file's
// hexadecimal of UTF-16LE (upper and lower case), itself in an 8-bit or a UTF-16LE file.
QList<QByteArray> needlesFor(const QStringList& secrets)
{
    QList<QByteArray> needles;
    for (const QString& secret : secrets) {
        const QByteArray utf16(reinterpret_cast<const char*>(secret.utf16()), secret.size() * 2);
        const QByteArray hex = utf16.toHex();
        for (const QByteArray& form : {secret.toUtf8(), hex, hex.toUpper()}) {
            needles.append(form);
            const QString wide = QString::fromLatin1(form);
            needles.append(QByteArray(reinterpret_cast<const char*>(wide.utf16()), wide.size() * 2));
        }
    }
    needles.append("PRIVATE KEY");
    return needles;
}

// Why a file is secret, or empty when it is not: by its kind (its name) or by what it holds.
QString secretIn(const QString& path, const QList<QByteArray>& needles)
{
    static const QRegularExpression secretKinds(
        QStringLiteral("^(orv_station\\.key.*|orv_witness.*|orv_spool-.*|orv_ledger\\.db.*|.*\\.key|.*\\.pem)$"));
    const QString name = QFileInfo(path).fileName();
    if (secretKinds.match(name).hasMatch()) {
        return QStringLiteral("a key, witness file, spool or ledger");
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("unreadable to its owner");
    }
    const QByteArray bytes = file.readAll();
    for (const QByteArray& needle : needles) {
        if (bytes.contains(needle)) {
            return QStringLiteral("holds \"%1\"").arg(QString::fromLatin1(needle.left(24)));
        }
    }
    // A setup file with any password in it, whoever typed it.
    static const QRegularExpression setupPassword(QStringLiteral("<(camera|net4g|wifi)\\b[^>]*\\bpassword=\"[^\"]"));
    if (name.endsWith(QStringLiteral(".xml"), Qt::CaseInsensitive) &&
        setupPassword.match(QString::fromUtf8(bytes)).hasMatch()) {
        return QStringLiteral("a setup file with a password");
    }
    return {};
}

struct Walk
{
    QStringList paths; // "0644 path", every one
    QStringList loose; // "0644 path: why"
};

// Every file and folder under `root`, links not followed. OrvCamera's own folders must be 0700.
Walk walk(const QString& root, const QList<QByteArray>& needles)
{
    Walk result;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat st
        {
        };
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
            result.loose.append(QStringLiteral("? %1: vanished during the walk").arg(path));
            continue;
        }
        const auto mode = static_cast<unsigned>(st.st_mode & 07777);
        const QString shown = QStringLiteral("%1 %2").arg(mode, 4, 8, QLatin1Char('0')).arg(path);
        result.paths.append(shown);
        if ((mode & 077) == 0) {
            continue;
        }
        QString why;
        if (S_ISDIR(st.st_mode) && it.fileName().startsWith(QStringLiteral("OrvCamera"), Qt::CaseInsensitive)) {
            why = QStringLiteral("OrvCamera's own folder");
        } else if (S_ISREG(st.st_mode)) {
            why = secretIn(path, needles);
        }
        if (!why.isEmpty()) {
            result.loose.append(shown + QStringLiteral(": ") + why);
        }
    }
    return result;
}

// The process environment for a user whose HOME is `home`; every folder the programs choose
// follows from it.
void becomeUserAt(const QString& home)
{
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home + QStringLiteral("/.local/share")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home + QStringLiteral("/.cache")));
    qputenv("XDG_STATE_HOME", QFile::encodeName(home + QStringLiteral("/.local/state")));
    for (const char* name : {"ORV_STATION_FOLDER", "ORV_MACHINE_SETTINGS", "ORV_CAMERA_ADDRESSES"}) {
        qunsetenv(name);
    }
}

std::unique_ptr<camsim::SimulatedCamera> startCamera(QString& address)
{
    camsim::CameraOptions options;
    options.log = [](const std::string&) {};
    options.sdkPort = 0;
    options.deviceId = "ORV202677001";
    for (int host = 2; host < 60; ++host) {
        address = QStringLiteral("127.77.31.%1").arg(host);
        options.listenAddress = address.toStdString();
        auto camera = std::make_unique<camsim::SimulatedCamera>(options);
        if (camera->start()) {
            UserTable accounts = camera->accounts();
            accounts.setText(UserTable::password(0), kCameraSecret.toStdU16String());
            camera->setAccounts(accounts);
            return camera;
        }
    }
    return nullptr;
}

void click(COrvCameraDlg& dialog, int id)
{
    dialog.dlgItem<QAbstractButton>(id)->click();
}

} // namespace

class ConsoleSecretsWalkTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { oldMask_ = ::umask(022); }
    void cleanupTestCase() { ::umask(oldMask_); }
    void init() { enterSeamTestMode(); }
    void cleanup()
    {
        setLocalClock(nullptr);
        leaveSeamTestMode();
        CSettings::ResetForTests();
    }

    void noFileTheConsoleWritesLeavesASecretOpen_data();
    void noFileTheConsoleWritesLeavesASecretOpen();

private:
    mode_t oldMask_ = 022;
};

void ConsoleSecretsWalkTest::noFileTheConsoleWritesLeavesASecretOpen_data()
{
    QTest::addColumn<bool>("portable");
    QTest::addColumn<bool>("shared");
    QTest::newRow("installed") << false << false;
    QTest::newRow("portable") << true << false;
    QTest::newRow("shared database") << false << true;
}

void ConsoleSecretsWalkTest::noFileTheConsoleWritesLeavesASecretOpen()
{
    QFETCH(bool, portable);
    QFETCH(bool, shared);
    std::string sharedLocation;
    if (shared) {
#ifdef ORV_WITH_POSTGRES_SERVER
        test::PostgresServer& server = test::PostgresServer::shared();
        if (!server.installed()) {
            QSKIP(qPrintable(QStringLiteral("no PostgreSQL server: ") + QString::fromStdString(server.error())));
        }
        QVERIFY2(server.running(), server.error().c_str());
        std::string error;
        const std::string database = server.createDatabase(error);
        QVERIFY2(!database.empty(), error.c_str());
        sharedLocation = server.tcpLocation(database);
#else
        QSKIP("built without the tests' PostgreSQL server");
#endif
    }
    QTemporaryDir top;
    QVERIFY(top.isValid());
    const QString home = top.filePath(QStringLiteral("home"));
    const QString work = home + QStringLiteral("/work"); // where the operator keeps what is saved
    QVERIFY(QDir().mkpath(work));
    becomeUserAt(home);

    // Installed: the program's folder cannot be written, so the settings go to the user's folder.
    const QString programFolder = portable ? home + QStringLiteral("/apps/orv") : top.filePath(QStringLiteral("opt"));
    if (portable) {
        QVERIFY(QDir().mkpath(programFolder));
    }
    CSettings::ResetForTests();
    CSettings& settings = CSettings::GetInstance();
    settings.languagePath = sourceLanguageFile().toStdU16String();
    settings.Init(programFolder.toStdU16String(), userSettingsFolder());
    settings.LoadUser();
    settings.LoadTexts();
    QCOMPARE(settings.perUser, !portable);
    fixClock(2026, 4, 9, 10, 20, 30);
    if (shared) {
        QVERIFY(rememberLedgerLocation(searchToolStateFile(settings), sharedLocation));
    }

    QString address;
    const auto camera = startCamera(address);
    QVERIFY(camera);
    const QString setupFile = work + QStringLiteral("/station setup.xml");
    {
        COrvCameraDlg dialog;
        QVERIFY(dialog.Create());
        dialog.startLedger();
        dialog.dlgItem<IpAddressEdit>(idc::kCameraIp)->setAddress(parseAddressText(address.toStdU16String()));
        dialog.setDlgItemText(idc::kUserName, QStringLiteral("admin"));
        dialog.setDlgItemText(idc::kPassword, kCameraSecret);
        dialog.checkDlgButton(idc::kHold, true);
        click(dialog, idc::kLogin);
        QVERIFY(dialog.link && dialog.link->loggedIn == 1);

        dialog.setDlgItemText(idc::kNewPassword, kNewCameraSecret);
        click(dialog, idc::kChangePasswd);
        dialog.setDlgItemText(idc::kApn, QStringLiteral("walk.apn"));
        dialog.setDlgItemText(idc::kApnUser, QStringLiteral("walker"));
        dialog.setDlgItemText(idc::kApnPassword, kApnSecret);
        click(dialog, idc::k4GSet);
        dialog.setDlgItemText(idc::kSsid, QStringLiteral("Walk Unit"));
        dialog.setDlgItemText(idc::kWifiPassword, kWifiSecret);
        click(dialog, idc::kWifiSet);

        FileDialog::instance().setNextFileName(setupFile);
        click(dialog, idc::kSaveSetup);
        FileDialog::instance().setNextFileName(work + QStringLiteral("/deviceid.txt"));
        click(dialog, idc::kExportDeviceId);
        FileDialog::instance().setNextFileName(work + QStringLiteral("/log.txt"));
        click(dialog, idc::kSaveLog);
        dialog.flushLedger();
    } // the dialog is gone, and its ledger closed
    QTRY_COMPARE_WITH_TIMEOUT(ledger::BackgroundRecorder::forwardersRunning(), 0, 15000);

    const QList<QByteArray> needles = needlesFor({kCameraSecret, kNewCameraSecret, kApnSecret, kWifiSecret});
    // The walk sees the secrets where they are: the setup file and the remembered login.
    const QString settingsFile = QString::fromStdU16String(settings.setupPath.u16string());
    const QString stationFolder = home + QStringLiteral("/.local/share/OrvCamera");
    const QStringList spools = QDir(stationFolder).entryList({QStringLiteral("orv_spool-*.db")}, QDir::Files);
    QCOMPARE(spools.size(), shared ? 1 : 0);
    const QString ledgerFile =
        stationFolder + QLatin1Char('/') + (shared ? spools.constFirst() : QStringLiteral("orv_ledger.db"));
    for (const QString& file : {setupFile, settingsFile, ledgerFile}) {
        QVERIFY2(QFile::exists(file), qPrintable(file));
        QVERIFY2(!secretIn(file, needles).isEmpty(), qPrintable(file));
    }
    for (const QString& file : {QStringLiteral("deviceid.txt"), QStringLiteral("log.txt")}) {
        QVERIFY2(QFile::exists(work + QLatin1Char('/') + file), qPrintable(file));
    }

    const Walk found = walk(top.path(), needles);
    qInfo("walked %lld paths:\n  %s", static_cast<long long>(found.paths.size()),
          qPrintable(found.paths.join(QStringLiteral("\n  "))));
    QVERIFY2(found.loose.isEmpty(), qPrintable(QStringLiteral("readable by others, holding a secret:\n  ") +
                                               found.loose.join(QStringLiteral("\n  "))));
}

QTEST_MAIN(ConsoleSecretsWalkTest)
#include "console_secrets_walk_test.moc"
