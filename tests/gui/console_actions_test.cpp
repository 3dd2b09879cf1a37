// Login, device actions, the settings groups and the device-ID export, driven through the
// console's controls against the simulated camera.

#include "console/activity_log.h"
#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/address_text.h"
#include "dialogkit/ip_address_edit.h"
#include "link/camera_link.h"
#include "link/frame.h"
#include "link/socket_io.h"
#include "support/console_fixture.h"
#include "support/log_lines.h"
#include "tests/support/camera_on_loopback.h"
#include "tests/support/misbehaving_cameras.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

using namespace orv;
using namespace orv::testing;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes frame(Command command, const std::uint8_t* payload = nullptr, std::size_t length = 0)
{
    Bytes out(kFrameHeaderSize + length);
    writeFrameHeader(out.data(), static_cast<std::uint16_t>(command), length);
    if (length != 0) {
        std::copy_n(payload, length, out.data() + kFrameHeaderSize);
    }
    return out;
}

template <class Record>
Bytes frame(Command command, const Record& record)
{
    return frame(command, record.data(), Record::kSize);
}

Bytes getConfigFrame(ConfigType type)
{
    ConfigSelector selector;
    selector.bytes[0] = static_cast<std::uint8_t>(type);
    return frame(Command::GetConfig, selector);
}

const Bytes kGetUsers = frame(Command::GetUsers);
const Bytes kGetFunction = getConfigFrame(ConfigType::Function);
const Bytes kGetTime = frame(Command::GetTime);

template <class Record>
Record recordFrom(const Bytes& bytes)
{
    Record record;
    std::copy_n(bytes.begin(), std::min(bytes.size(), Record::kSize), record.bytes.begin());
    return record;
}

Bytes patterned(std::size_t size, std::uint8_t type)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(0x30 + i * 7);
    }
    bytes[0] = type;
    return bytes;
}

// One console logged out, a camera on a loopback address of the running test's own.
class Rig
{
public:
    Rig()
    {
        fixClock(2018, 3, 5, 14, 7, 9);
        dialog.Create();
        takeLog();
    }
    ~Rig() { setFrameTrace({}); }

    bool startCamera(camsim::CameraOptions options = {})
    {
        const QByteArray name = QByteArray(QTest::currentTestFunction()) + "/" + QTest::currentDataTag();
        const std::size_t seed = static_cast<std::size_t>(qHash(name));
        options.log = [](const std::string&) {};
        for (int attempt = 0; attempt < 20; ++attempt) {
            options.listenAddress = test::loopbackAddressFor(seed, attempt);
            camera = std::make_unique<camsim::SimulatedCamera>(options);
            if (camera->start()) {
                setAddress(options.listenAddress);
                return true;
            }
        }
        camera.reset();
        return false;
    }

    void setAddress(const std::string& address)
    {
        dialog.dlgItem<IpAddressEdit>(idc::kCameraIp)
            ->setAddress(parseAddressText(QString::fromStdString(address).toStdU16String()));
    }

    void click(int id) { dialog.dlgItem<QAbstractButton>(id)->click(); }

    bool login()
    {
        click(idc::kLogin);
        const bool in = dialog.link && dialog.link->loggedIn == 1;
        takeLog();
        camera->clearReceivedFrames();
        return in;
    }

    // The log lines posted since the last call, without their timestamps.
    QStringList takeLog() { return orv::testing::takeLog(dialog); }

    std::vector<Bytes> frames(std::size_t atLeast = 0) const
    {
        camera->waitForFrames(atLeast, 5s);
        std::vector<Bytes> out;
        for (const auto& f : camera->receivedFrames()) {
            out.push_back(f.bytes);
        }
        return out;
    }

    // The next frame of `command` the console tries to send finds the connection gone.
    void loseConnectionBefore(Command command)
    {
        CameraLink* link = dialog.link.get();
        setFrameTrace([link, command](FrameDirection direction, const std::uint8_t* bytes, std::size_t) {
            if (direction == FrameDirection::Out &&
                readFrameHeader(bytes).command == static_cast<std::uint16_t>(command)) {
                net::shutdownBoth(link->socket);
            }
        });
    }

    bool enabled(int id) const { return dialog.GetDlgItem(id)->isEnabled(); }
    QComboBox* combo(int id) const { return dialog.dlgItem<QComboBox>(id); }

    TestSettings settings;
    COrvCameraDlg dialog;
    std::unique_ptr<camsim::SimulatedCamera> camera;
};

} // namespace

class ConsoleActionsTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { enterSeamTestMode(); }
    void cleanup() { leaveSeamTestMode(); }

    void loginSuccessSynchronises();
    void loginFailure_data();
    void loginFailure();
    void holdClearedStillRemembers();
    void secondLoginWhileLoggedIn();
    void loadedSetupOverwritesUIdentify();
    void uDiskDisablesAndLoginReconnects();
    void deviceActionFrames();
    void wifiSetSendsBackUneditedBytes();
    void ssidOf40Characters();
    void proxySetZeroesOtherBytes();
    void short4GReplyFails();
    void platformGetFollowsCamera();
    void serverPortConversion_data();
    void serverPortConversion();
    void timeSetBytes();
    void languageSwitchKeepsTheCamerasTimeZone();
    void timeZoneOutsideCombo();
    void loggedOutPreconditions();
    void exportDeviceId_data();
    void exportDeviceId();
    void exportToUnwritableFile();
    void unsentCommandsLogFailure_data();
    void unsentCommandsLogFailure();
    void timeSyncWithoutReadLogsFailure();
    void uIdentifyUnsentRestoresBox();
    void misbehavingCameraFailsTheRead_data();
    void misbehavingCameraFailsTheRead();
};

void ConsoleActionsTest::loginSuccessSynchronises()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    FunctionRecord function = recordFrom<FunctionRecord>(rig.camera->configRecord(ConfigType::Function));
    function.setNumber(FunctionRecord::uIdentify, 1);
    rig.camera->setConfigRecord(ConfigType::Function, Bytes(function.bytes.begin(), function.bytes.end()));

    rig.click(idc::kLogin);
    QCOMPARE(rig.takeLog(), QStringList({"login success ...", "get u identify success ...", "get time success ..."}));
    QCOMPARE(rig.frames(), std::vector<Bytes>({kGetUsers, kGetFunction, kGetTime}));
    QCOMPARE(rig.dialog.link->loggedIn, 1);
    QVERIFY(rig.dialog.isDlgButtonChecked(idc::kUIdentify));
    for (int id : {idc::kChangePasswd, idc::kUDisk, idc::k4GGet, idc::kTimeSet, idc::kExportDeviceId}) {
        QVERIFY2(rig.enabled(id), qPrintable(QString::number(id)));
    }
    QVERIFY(!rig.enabled(idc::kLoadSetup));
}

void ConsoleActionsTest::loginFailure_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("cameraListens");
    QTest::newRow("password in other case") << "WRENQ" << true;
    QTest::newRow("nothing listens") << "wrenq" << false;
}

void ConsoleActionsTest::loginFailure()
{
    QFETCH(QString, password);
    QFETCH(bool, cameraListens);
    Rig rig;
    QVERIFY(rig.startCamera());
    if (!cameraListens) {
        rig.camera->stop();
    }
    rig.dialog.link->connectTimeout = 1000ms;
    rig.dialog.setDlgItemText(idc::kPassword, password);
    for (int id : {idc::kServerIp, idc::kServerPort, idc::kRtsId, idc::kRtsCode}) {
        rig.dialog.GetDlgItem(id)->setEnabled(true);
    }

    rig.click(idc::kLogin);
    QCOMPARE(rig.takeLog(), QStringList({"login fail ..."}));
    QCOMPARE(rig.dialog.link->connected, 0);
    QCOMPARE(rig.dialog.link->socket, net::invalidSocket());
    QCOMPARE(rig.dialog.link->loggedIn, 0);
    for (int id : {idc::kServerIp, idc::kServerPort, idc::kRtsId, idc::kRtsCode, idc::kChangePasswd}) {
        QVERIFY2(!rig.enabled(id), qPrintable(QString::number(id)));
    }
}

void ConsoleActionsTest::holdClearedStillRemembers()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    rig.settings.settings().RememberLogin(true, u"10.9.9.9", u"op", u"secret");
    rig.dialog.checkDlgButton(idc::kHold, false);
    QVERIFY(rig.login());

    rig.settings.settings().LoadUser(); // what the file now holds
    QCOMPARE(rig.settings.settings().login->hold(), 0);
}

void ConsoleActionsTest::secondLoginWhileLoggedIn()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    QVERIFY(rig.login());
    rig.click(idc::kLogin);
    QCOMPARE(rig.takeLog(), QStringList({"login success ...", "get u identify success ...", "get time success ..."}));
    QCOMPARE(rig.frames(), std::vector<Bytes>({kGetUsers, kGetFunction, kGetTime}));
    QCOMPARE(rig.camera->connectionCount(), 2);
    QCOMPARE(rig.dialog.link->loggedIn, 1);
}

void ConsoleActionsTest::loadedSetupOverwritesUIdentify()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    const Bytes before = rig.camera->configRecord(ConfigType::Function);
    QCOMPARE(int(before.at(FunctionRecord::uIdentify.offset)), 0);
    rig.dialog.setupLoaded = 1;
    rig.dialog.checkDlgButton(idc::kUIdentify, true);

    rig.click(idc::kLogin);
    QCOMPARE(rig.takeLog(), QStringList({"login success ...", "set u identify success ...", "get time success ..."}));
    FunctionRecord expected = recordFrom<FunctionRecord>(before);
    expected.setNumber(FunctionRecord::uIdentify, 1);
    QCOMPARE(rig.frames(4),
             std::vector<Bytes>({kGetUsers, kGetFunction, frame(Command::SetConfig, expected), kGetTime}));
    QCOMPARE(rig.camera->configRecord(ConfigType::Function), Bytes(expected.bytes.begin(), expected.bytes.end()));
}

void ConsoleActionsTest::uDiskDisablesAndLoginReconnects()
{
    Rig rig;
    camsim::CameraOptions options;
    options.uDiskPause = 200ms;
    QVERIFY(rig.startCamera(options));
    QVERIFY(rig.login());

    rig.click(idc::kUDisk);
    QCOMPARE(rig.takeLog(), QStringList({"udisk mode startup ..."}));
    const std::uint8_t seven = 7;
    QCOMPARE(rig.frames(1), std::vector<Bytes>({frame(Command::SetConfig, &seven, 1)}));
    for (int id : {idc::kChangePasswd, idc::kUDisk, idc::kPlatformGet, idc::kTimeGet, idc::kUIdentify}) {
        QVERIFY2(!rig.enabled(id), qPrintable(QString::number(id)));
    }
    QCOMPARE(rig.dialog.link->loggedIn, 1);

    // The link still counts as logged in, so only the log tells that the new login worked.
    QVERIFY(rig.camera->waitUntilServing(5s));
    rig.click(idc::kLogin);
    QCOMPARE(rig.takeLog().value(0), QStringLiteral("login success ..."));
    QVERIFY(rig.enabled(idc::kChangePasswd));
}

void ConsoleActionsTest::deviceActionFrames()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    QVERIFY(rig.login());
    rig.dialog.setDlgItemText(idc::kNewPassword, QStringLiteral("n3w"));
    rig.click(idc::kChangePasswd);
    rig.click(idc::kFactory);
    rig.click(idc::kFormatDisk);
    QCOMPARE(rig.takeLog(), QStringList({"change passwd success ...", "factory ...", "format sdcard ..."}));

    PasswordChange change;
    change.setNumber(PasswordChange::operation, PasswordChange::kChangeOperation);
    change.setText(PasswordChange::name, u"admin");
    change.setText(PasswordChange::password, u"n3w");
    const std::uint8_t factory[4] = {2, 0, 0, 0};
    QCOMPARE(rig.frames(3), std::vector<Bytes>({frame(Command::ChangePassword, change),
                                                frame(Command::FactoryReset, factory, 4), frame(Command::FormatCard)}));
}

void ConsoleActionsTest::wifiSetSendsBackUneditedBytes()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    const Bytes stored = patterned(WifiRecord::kSize, 2);
    rig.camera->setConfigRecord(ConfigType::Wifi, stored);
    QVERIFY(rig.login());
    rig.dialog.setDlgItemText(idc::kSsid, QStringLiteral("field-net"));
    rig.dialog.setDlgItemText(idc::kWifiPassword, QStringLiteral("pw"));

    rig.click(idc::kWifiSet);
    QCOMPARE(rig.takeLog(), QStringList({"set wifi success ..."}));
    WifiRecord expected = recordFrom<WifiRecord>(stored);
    expected.setText(WifiRecord::ssid, u"field-net");
    expected.setText(WifiRecord::wifiPassword, u"pw");
    QCOMPARE(rig.frames(2),
             std::vector<Bytes>({getConfigFrame(ConfigType::Wifi), frame(Command::SetConfig, expected)}));
    // Only the two fields differ from what the camera had.
    for (std::size_t i = 65; i < WifiRecord::kSize; ++i) {
        QCOMPARE(expected.bytes[i], stored[i]);
    }
}

void ConsoleActionsTest::ssidOf40Characters()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    QVERIFY(rig.login());
    const QString ssid = QStringLiteral("0123456789abcdefghijklmnopqrstuvwxyzABCD");
    rig.dialog.setDlgItemText(idc::kSsid, ssid);
    rig.dialog.setDlgItemText(idc::kWifiPassword, QStringLiteral("pw"));
    rig.click(idc::kWifiSet);
    rig.frames(2);

    const Bytes stored = rig.camera->configRecord(ConfigType::Wifi);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(stored.data()) + 1, 32), ssid.left(32).toLatin1());
    QCOMPARE(stored.at(33), std::uint8_t('p'));

    rig.dialog.setDlgItemText(idc::kSsid, QString());
    rig.click(idc::kWifiGet);
    QCOMPARE(rig.dialog.dlgItemText(idc::kSsid), ssid.left(32));
    QCOMPARE(rig.takeLog(), QStringList({"set wifi success ...", "get wifi success ..."}));
}

void ConsoleActionsTest::proxySetZeroesOtherBytes()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    ProxyRecord old;
    std::fill(old.bytes.begin(), old.bytes.end(), std::uint8_t{0xEE});
    rig.camera->setProxyRecord(old);
    QVERIFY(rig.login());
    rig.dialog.checkDlgButton(idc::kProxyEnable, true);
    rig.dialog.setDlgItemText(idc::kProxyIp, QStringLiteral("10.1.2.3"));
    rig.dialog.setDlgItemText(idc::kProxyPort, QStringLiteral("-5060x"));

    rig.click(idc::kProxySet);
    QCOMPARE(rig.takeLog(), QStringList({"set gb28181 success ..."}));
    ProxyRecord expected;
    expected.bytes[0] = 1;
    std::copy_n("10.1.2.3", 8, expected.bytes.begin() + 4);
    const std::uint8_t port[4] = {0x3C, 0xEC, 0xFF, 0xFF}; // -5060
    std::copy_n(port, 4, expected.bytes.begin() + 68);
    QCOMPARE(rig.frames(1), std::vector<Bytes>({frame(Command::SetProxy, expected)}));

    rig.dialog.setDlgItemText(idc::kProxyPort, QString());
    rig.click(idc::kProxyGet);
    QCOMPARE(rig.dialog.dlgItemText(idc::kProxyPort), QStringLiteral("-5060"));
}

void ConsoleActionsTest::short4GReplyFails()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    QVERIFY(rig.login());
    rig.dialog.link->replyTimeout = 300ms;
    const QStringList kept{"apn.kept", "user.kept", "pw.kept"};
    const int ids[] = {idc::kApn, idc::kApnUser, idc::kApnPassword};
    for (int i = 0; i < 3; ++i) {
        rig.dialog.setDlgItemText(ids[i], kept[i]);
    }
    rig.camera->wrongSizeNextReply(-1);

    rig.click(idc::k4GGet);
    QCOMPARE(rig.takeLog(), QStringList({"get 4g fail ..."}));
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(rig.dialog.dlgItemText(ids[i]), kept[i]);
    }
}

void ConsoleActionsTest::platformGetFollowsCamera()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    FunctionRecord function = recordFrom<FunctionRecord>(rig.camera->configRecord(ConfigType::Function));
    function.setNumber(FunctionRecord::platformChoice, 1);
    rig.camera->setConfigRecord(ConfigType::Function, Bytes(function.bytes.begin(), function.bytes.end()));
    RtsServerRecord rts = recordFrom<RtsServerRecord>(rig.camera->configRecord(ConfigType::RtsServer));
    rts.setText(RtsServerRecord::rtsId, u"RTS-7");
    rts.setText(RtsServerRecord::rtsCode, u"c0de");
    rig.camera->setConfigRecord(ConfigType::RtsServer, Bytes(rts.bytes.begin(), rts.bytes.end()));
    QVERIFY(rig.login());
    QCOMPARE(rig.combo(idc::kPlatform)->currentIndex(), 0);

    rig.click(idc::kPlatformGet);
    QCOMPARE(rig.takeLog(), QStringList({"get platform success ..."}));
    QCOMPARE(rig.frames(), std::vector<Bytes>({kGetFunction, getConfigFrame(ConfigType::RtsServer)}));
    QCOMPARE(rig.combo(idc::kPlatform)->currentIndex(), 1);
    QCOMPARE(rig.dialog.dlgItemText(idc::kRtsId), QStringLiteral("RTS-7"));
    QCOMPARE(rig.dialog.dlgItemText(idc::kRtsCode), QStringLiteral("c0de"));
    QVERIFY(rig.enabled(idc::kRtsId) && rig.enabled(idc::kRtsCode));
    QVERIFY(!rig.enabled(idc::kServerIp) && !rig.enabled(idc::kServerPort));
    QVERIFY(rig.settings.settings().platform);
    CSettings::GetInstance().LoadUser();
    QCOMPARE(int(*rig.settings.settings().platform), 1);

    // The combo already shows the camera's platform: the file is left alone.
    QVERIFY(QFile::remove(rig.settings.setupFile()));
    rig.click(idc::kPlatformGet);
    QCOMPARE(rig.takeLog(), QStringList({"get platform success ..."}));
    QVERIFY(!QFile::exists(rig.settings.setupFile()));

    // Set writes the camera's platform record whatever the other pair holds.
    rig.camera->clearReceivedFrames();
    rig.dialog.setDlgItemText(idc::kRtsId, QStringLiteral("RTS-8"));
    rig.dialog.setDlgItemText(idc::kServerIp, QStringLiteral("9.9.9.9"));
    rig.click(idc::kPlatformSet);
    rts.setText(RtsServerRecord::rtsId, u"RTS-8");
    QCOMPARE(rig.frames(3),
             std::vector<Bytes>({kGetFunction, getConfigFrame(ConfigType::RtsServer), frame(Command::SetConfig, rts)}));
}

void ConsoleActionsTest::serverPortConversion_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("sent");
    QTest::newRow("above 16 bits wraps") << "70000" << 4464;
    QTest::newRow("no digits") << "abc" << 0;
    QTest::newRow("blanks, sign, trailing text") << "  +8080/tcp" << 8080;
    QTest::newRow("negative keeps low bits") << "-1" << 65535;
}

void ConsoleActionsTest::serverPortConversion()
{
    QFETCH(QString, text);
    QFETCH(int, sent);
    Rig rig;
    QVERIFY(rig.startCamera());
    QVERIFY(rig.login());
    rig.dialog.setDlgItemText(idc::kServerIp, QStringLiteral("203.0.113.9"));
    rig.dialog.setDlgItemText(idc::kServerPort, text);
    rig.click(idc::kPlatformSet);
    QCOMPARE(rig.takeLog(), QStringList({"set platform success ..."}));
    rig.frames(3);

    const auto server = recordFrom<TtxServerRecord>(rig.camera->configRecord(ConfigType::TtxServer));
    QCOMPARE(int(server.number(TtxServerRecord::serverPort)), sent);
    QCOMPARE(server.text(TtxServerRecord::serverAddress), std::u16string(u"203.0.113.9"));

    rig.click(idc::kPlatformGet);
    QCOMPARE(rig.dialog.dlgItemText(idc::kServerPort), QString::number(sent));
}

void ConsoleActionsTest::timeSetBytes()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    QVERIFY(rig.login());
    rig.combo(idc::kTimeZone)->setCurrentIndex(8);
    rig.dialog.checkDlgButton(idc::kSummerTime, true);

    const TimeRecord before = rig.camera->timeRecord();
    rig.click(idc::kTimeSet);
    QCOMPARE(rig.takeLog(), QStringList({"set time success ..."}));
    const auto frames = rig.frames(2);
    QCOMPARE(frames.size(), std::size_t(2));
    QCOMPARE(frames[0], kGetTime);
    const Bytes& set = frames[1];
    QCOMPARE(set.size(), kFrameHeaderSize + TimeRecord::kSize);
    QCOMPARE(readFrameHeader(set.data()).command, std::uint16_t(Command::SetTime));
    const std::uint8_t* payload = set.data() + kFrameHeaderSize;
    QCOMPARE(Bytes(payload, payload + 6), Bytes({9, 7, 14, 5, 3, 118}));
    QCOMPARE(int(payload[71]), 8);
    QCOMPARE(int(payload[72]), 1);
    // Everything else goes back as the camera sent it.
    QCOMPARE(Bytes(payload + 6, payload + 71), Bytes(before.bytes.begin() + 6, before.bytes.begin() + 71));
    QCOMPARE(Bytes(payload + 73, payload + 84), Bytes(before.bytes.begin() + 73, before.bytes.end()));
}

// A camera on UTC+08:00 (row 20), read with Time Get; the operator then picks another language
// and presses Time Set: the camera keeps its zone.
void ConsoleActionsTest::languageSwitchKeepsTheCamerasTimeZone()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    TimeRecord time = rig.camera->timeRecord();
    time.setNumber(TimeRecord::timeZone, 20);
    time.setNumber(TimeRecord::summerTime, 0);
    rig.camera->setTimeRecord(time);
    QVERIFY(rig.login());
    rig.combo(idc::kTimeZone)->setCurrentIndex(3); // the Get below must be what sets it
    rig.click(idc::kTimeGet);
    QCOMPARE(rig.takeLog(), QStringList({"get time success ..."}));
    QCOMPARE(rig.combo(idc::kTimeZone)->currentText(), QStringLiteral("UTC+08:00 Beijing"));

    QTest::keyClick(rig.dialog.languageCombo, Qt::Key_Home);
    QCOMPARE(rig.dialog.languageCombo->currentIndex(), 0);
    QCOMPARE(rig.combo(idc::kTimeZone)->currentIndex(), 20);
    QCOMPARE(rig.combo(idc::kTimeZone)->currentText(), QStringLiteral("UTC+08:00 北京"));
    rig.camera->clearReceivedFrames();

    rig.click(idc::kTimeSet);
    QCOMPARE(rig.takeLog(), QStringList({QStringLiteral("设置 time 成功 ...")}));
    const auto frames = rig.frames(2);
    QCOMPARE(frames.size(), std::size_t(2));
    QCOMPARE(frames[0], kGetTime);
    QCOMPARE(readFrameHeader(frames[1].data()).command, std::uint16_t(Command::SetTime));
    QCOMPARE(int(frames[1].at(kFrameHeaderSize + TimeRecord::timeZone.offset)), 20);
    QCOMPARE(int(rig.camera->timeRecord().number(TimeRecord::timeZone)), 20);
}

void ConsoleActionsTest::timeZoneOutsideCombo()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    TimeRecord time = rig.camera->timeRecord();
    time.setNumber(TimeRecord::timeZone, 30);
    rig.camera->setTimeRecord(time);
    QVERIFY(rig.login());
    QCOMPARE(rig.combo(idc::kTimeZone)->currentIndex(), -1);
    // New captions give no row to a combo that had none.
    QTest::keyClick(rig.dialog.languageCombo, Qt::Key_Up);
    QCOMPARE(rig.dialog.languageCombo->currentIndex(), 1);
    QCOMPARE(rig.combo(idc::kTimeZone)->currentIndex(), -1);
    QCOMPARE(rig.combo(idc::kTimeZone)->count(), 25);
    rig.takeLog();

    rig.click(idc::kTimeSet);
    const auto frames = rig.frames(2);
    QCOMPARE(frames.size(), std::size_t(2));
    QCOMPARE(int(frames[1].at(kFrameHeaderSize + TimeRecord::timeZone.offset)), 255);
}

void ConsoleActionsTest::loggedOutPreconditions()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    rig.dialog.On4GGet();
    rig.dialog.OnWifiSet();
    rig.click(idc::kProxyGet);
    rig.dialog.OnTimeSet();
    rig.dialog.OnUIdentify();
    QCOMPARE(rig.takeLog(), QStringList({"get gb28181 fail ...", "set time fail ...", "set u identify fail ..."}));
    QCOMPARE(rig.camera->connectionCount(), 0);
}

void ConsoleActionsTest::exportDeviceId_data()
{
    QTest::addColumn<QString>("deviceId");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ABC123") << "ABC123"
                            << QByteArray::fromHex("410042004300310032003300"
                                                   "0d000a00");
    QTest::newRow("empty field") << "" << QByteArray::fromHex("0d000a00");
}

void ConsoleActionsTest::exportDeviceId()
{
    QFETCH(QString, deviceId);
    QFETCH(QByteArray, bytes);
    Rig rig;
    QVERIFY(rig.startCamera());
    QVERIFY(rig.login());
    rig.dialog.setDlgItemText(idc::kDeviceId, deviceId);
    const QString path = rig.settings.path(QStringLiteral("ids.txt"));
    FileDialog::instance().setNextFileName(path);
    FileDialog::instance().setNextFileName(path);

    rig.click(idc::kExportDeviceId);
    rig.click(idc::kExportDeviceId);
    QCOMPARE(rig.takeLog(), QStringList({"export device id ...", "export device id ..."}));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), bytes + bytes);

    const FilePrompt& prompt = FileDialog::instance().prompts().last();
    QVERIFY(prompt.proposedName.endsWith(QStringLiteral("deviceid.txt")));
    QCOMPARE(prompt.defaultSuffix, QStringLiteral("txt"));
    QVERIFY(!prompt.confirmOverwrite);
    QVERIFY(rig.camera->receivedFrames().empty());
}

void ConsoleActionsTest::exportToUnwritableFile()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    QVERIFY(rig.login());
    rig.dialog.setDlgItemText(idc::kDeviceId, QStringLiteral("ABC123"));
    const QString unwritable = rig.settings.path(QStringLiteral("missing/folder/ids.txt"));
    FileDialog::instance().setNextFileName(unwritable);
    rig.click(idc::kExportDeviceId);
    const QStringList said = rig.takeLog();
    QCOMPARE(said.size(), 1);
    QVERIFY2(said.front().startsWith(QStringLiteral("export device id fail: ") + QDir::toNativeSeparators(unwritable) +
                                     QStringLiteral(": ")),
             qPrintable(said.front()));

    FileDialog::instance().setNextFileName(QString()); // cancelled: nothing at all
    rig.click(idc::kExportDeviceId);
    QVERIFY(rig.takeLog().isEmpty());
}

void ConsoleActionsTest::unsentCommandsLogFailure_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("line");
    const auto row = [](const char* name, int button, Command command, const char* line) {
        QTest::newRow(name) << button << int(command) << QString::fromLatin1(line);
    };
    row("change passwd", idc::kChangePasswd, Command::ChangePassword, "change passwd fail ...");
    row("u disk", idc::kUDisk, Command::SetConfig, "udisk mode fail ...");
    row("factory", idc::kFactory, Command::FactoryReset, "factory fail ...");
    row("format", idc::kFormatDisk, Command::FormatCard, "format sdcard fail ...");
    row("time sync write", idc::kTimeSync, Command::SetTime, "time sync fail ...");
    row("4g set", idc::k4GSet, Command::SetConfig, "set 4g fail ...");
    row("wifi set", idc::kWifiSet, Command::SetConfig, "set wifi fail ...");
    row("device info set", idc::kDeviceInfoSet, Command::SetConfig, "set device info fail ...");
    row("platform set", idc::kPlatformSet, Command::SetConfig, "set platform fail ...");
    row("time set", idc::kTimeSet, Command::SetTime, "set time fail ...");
    row("gb28181 set", idc::kProxySet, Command::SetProxy, "set gb28181 fail ...");
}

void ConsoleActionsTest::unsentCommandsLogFailure()
{
    QFETCH(int, button);
    QFETCH(int, command);
    QFETCH(QString, line);
    Rig rig;
    QVERIFY(rig.startCamera());
    QVERIFY(rig.login());
    rig.loseConnectionBefore(static_cast<Command>(command));

    rig.click(button);
    QCOMPARE(rig.takeLog(), QStringList({line}));
    for (const Bytes& f : rig.frames()) {
        QVERIFY(readFrameHeader(f.data()).command != command);
    }
    // The console still counts as logged in; after a failed U-disk request nothing was switched off.
    QVERIFY(rig.enabled(idc::kUDisk));
}

void ConsoleActionsTest::timeSyncWithoutReadLogsFailure()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    QVERIFY(rig.login());
    rig.dialog.link->replyTimeout = 300ms;
    rig.camera->stayQuiet(true);
    rig.click(idc::kTimeSync);
    QCOMPARE(rig.takeLog(), QStringList({"time sync fail ..."}));
    QCOMPARE(rig.frames(1), std::vector<Bytes>({kGetTime}));

    rig.camera->stayQuiet(false);
    rig.camera->clearReceivedFrames();
    rig.click(idc::kTimeSync);
    QCOMPARE(rig.takeLog(), QStringList({"time sync ..."}));
    QCOMPARE(rig.frames(2).size(), std::size_t(2));
}

void ConsoleActionsTest::uIdentifyUnsentRestoresBox()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    QVERIFY(rig.login());
    QVERIFY(!rig.dialog.isDlgButtonChecked(idc::kUIdentify));

    rig.loseConnectionBefore(Command::SetConfig);
    rig.click(idc::kUIdentify);
    QCOMPARE(rig.takeLog(), QStringList({"set u identify fail ..."}));
    QVERIFY(!rig.dialog.isDlgButtonChecked(idc::kUIdentify));

    // A read that fails leaves the box as the click put it.
    setFrameTrace({});
    QVERIFY(rig.login());
    rig.dialog.link->replyTimeout = 300ms;
    rig.camera->stayQuiet(true);
    rig.click(idc::kUIdentify);
    QCOMPARE(rig.takeLog(), QStringList({"set u identify fail ..."}));
    QVERIFY(rig.dialog.isDlgButtonChecked(idc::kUIdentify));

    rig.camera->stayQuiet(false);
    rig.dialog.checkDlgButton(idc::kUIdentify, false);
    rig.camera->clearReceivedFrames();
    rig.click(idc::kUIdentify);
    QCOMPARE(rig.takeLog(), QStringList({"set u identify success ..."}));
    QCOMPARE(rig.frames(2).size(), std::size_t(2));
    QCOMPARE(int(rig.camera->configRecord(ConfigType::Function).at(FunctionRecord::uIdentify.offset)), 1);
}

QTEST_MAIN(ConsoleActionsTest)
void ConsoleActionsTest::misbehavingCameraFailsTheRead_data()
{
    QTest::addColumn<int>("fault");
    for (std::size_t n = 0; n < test::kCameraFaults.size(); ++n) {
        QTest::newRow(test::kCameraFaults[n].name) << int(n);
    }
}

// Each way firmware gets its device record wrong fails the read with the usual line, within the
// reply's window, the fields as they were; once the camera answers well again a read succeeds.
void ConsoleActionsTest::misbehavingCameraFailsTheRead()
{
    QFETCH(int, fault);
    const camsim::ReplyFault what = test::kCameraFaults[static_cast<std::size_t>(fault)].fault;
    Rig rig;
    QVERIFY(rig.startCamera());
    test::misbehave(*rig.camera, what);
    // The reset follows the login, so the read meets a connection already gone.
    QVERIFY(rig.login());
    rig.dialog.link->replyTimeout = 400ms;
    rig.dialog.setDlgItemText(idc::kPoliceId, QStringLiteral("KEPT"));

    const auto start = std::chrono::steady_clock::now();
    rig.click(idc::kDeviceInfoGet);
    if (what == camsim::ReplyFault::EndlessStream) {
        // The stream follows a whole reply, which may be taken; the next read cannot be.
        rig.takeLog();
        rig.dialog.setDlgItemText(idc::kPoliceId, QStringLiteral("KEPT"));
        rig.click(idc::kDeviceInfoGet);
    }
    const auto took = std::chrono::steady_clock::now() - start;
    const QStringList said = rig.takeLog();
    QVERIFY2(said == QStringList({"get device info fail ..."}), qPrintable(said.join('|')));
    QCOMPARE(rig.dialog.dlgItemText(idc::kPoliceId), QStringLiteral("KEPT"));
    QVERIFY2(took < 2 * rig.dialog.link->replyTimeout + 300ms, qPrintable(QString::number(
                                                               std::chrono::duration<double>(took).count())));

    rig.camera->setReplyFault(camsim::ReplyFault::None);
    QVERIFY(rig.login());
    rig.click(idc::kDeviceInfoGet);
    QCOMPARE(rig.takeLog(), QStringList({"get device info success ..."}));
}

#include "console_actions_test.moc"
