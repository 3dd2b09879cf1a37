// What the console records in the ledger, driven through its controls against the simulated
// camera: the events and their context, the frames (the same with the ledger on or off), and a
// ledger that cannot be written.

#include "console/activity_log.h"
#include "console/console_ledger.h"
#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/address_text.h"
#include "dialogkit/ip_address_edit.h"
#include "lang/utf.h"
#include "ledger/ledger.h"
#include "link/camera_link.h"
#include "link/frame.h"
#include "link/socket_io.h"
#include "persist/ledger_location.h"
#include "support/console_fixture.h"
#include "support/log_lines.h"
#include "tests/support/camera_on_loopback.h"

#include "orv_version.h"

#include <QAbstractButton>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

using namespace orv;
using namespace orv::testing;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr char16_t kCameraId[] = u"ORV202699001";

// One console logged out, a camera on a loopback address of the running test's own.
class Rig
{
public:
    explicit Rig(int language = 2)
        : settings(language)
    {
        fixClock(2018, 3, 5, 14, 7, 9);
        dialog.Create();
        takeLog();
    }
    ~Rig() { setFrameTrace({}); }

    bool startCamera()
    {
        const QByteArray name = QByteArray(QTest::currentTestFunction()) + "/" + QTest::currentDataTag();
        const std::size_t seed = static_cast<std::size_t>(qHash(name));
        camsim::CameraOptions options;
        options.log = [](const std::string&) {};
        options.sdkPort = 0;
        options.uDiskPause = 200ms;
        // The device record goes out in the Device Set: the same id wherever the camera listens.
        options.deviceId = utf::toUtf8(kCameraId);
        for (int attempt = 0; attempt < 20; ++attempt) {
            options.listenAddress = test::loopbackAddressFor(seed, attempt);
            camera = std::make_unique<camsim::SimulatedCamera>(options);
            if (camera->start()) {
                address = options.listenAddress;
                dialog.dlgItem<IpAddressEdit>(idc::kCameraIp)
                    ->setAddress(parseAddressText(QString::fromStdString(address).toStdU16String()));
                return true;
            }
        }
        camera.reset();
        return false;
    }

    // Remembers `location` for the user, where the search tool keeps it, and starts the ledger.
    bool recordTo(const QString& location)
    {
        if (!rememberLedgerLocation(searchToolStateFile(settings.settings()), location.toStdString())) {
            return false;
        }
        dialog.startLedger();
        return dialog.ledger() && dialog.ledger()->location() == location.toStdString();
    }

    void click(int id) { dialog.dlgItem<QAbstractButton>(id)->click(); }
    void setText(int id, const char* text) { dialog.setDlgItemText(id, QString::fromUtf8(text)); }

    QStringList takeLog() { return orv::testing::takeLog(dialog); }

    // The log once the ledger has done what it was given.
    QStringList settledLog()
    {
        dialog.flushLedger();
        return takeLog();
    }

    std::vector<std::uint16_t> commands() const
    {
        std::vector<std::uint16_t> out;
        for (const auto& f : camera->receivedFrames()) {
            out.push_back(f.command);
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

    TestSettings settings;
    COrvCameraDlg dialog;
    std::unique_ptr<camsim::SimulatedCamera> camera;
    std::string address;
};

std::vector<ledger::Event> eventsIn(const QString& location)
{
    std::string error;
    std::vector<ledger::Event> events;
    const auto ledger = ledger::openLedger(location.toStdString(), error);
    if (!ledger) {
        QTest::qFail(("cannot open the ledger: " + error).c_str(), __FILE__, __LINE__);
        return events;
    }
    if (!ledger->readEvents({}, events)) {
        QTest::qFail(("cannot read the ledger: " + ledger->error()).c_str(), __FILE__, __LINE__);
    }
    return events;
}

// kind, groups and device id of each event: what the tests compare in one go.
QStringList outline(const std::vector<ledger::Event>& events)
{
    QStringList lines;
    for (const ledger::Event& e : events) {
        lines.append(QString::fromStdString(e.kind + "|" + e.groups + "|" + e.deviceId));
    }
    return lines;
}

bool isLedgerLine(const QString& line)
{
    return line.startsWith(QStringLiteral("ledger write fail: ")) || line.startsWith(QStringLiteral("写入台账失败: "));
}

QStringList withoutLedgerLines(QStringList lines)
{
    lines.removeIf(isLedgerLine);
    return lines;
}

enum class LedgerMode { Off, File, Unwritable };

struct Session
{
    std::vector<camsim::ReceivedFrame> frames;
    int connections = 0;
    QStringList log;
    std::vector<ledger::Event> events;
    std::string address;
};

bool sameFrames(const std::vector<camsim::ReceivedFrame>& a, const std::vector<camsim::ReceivedFrame>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const auto& x, const auto& y) { return x.bytes == y.bytes; });
}

// Every write and action of the console, in one order, on a fresh camera.
Session pressEverything(LedgerMode mode)
{
    Session session;
    Rig rig;
    if (!rig.startCamera()) {
        QTest::qFail("no loopback address for the camera", __FILE__, __LINE__);
        return session;
    }
    const QString file = rig.settings.path(QStringLiteral("ledger.db"));
    QFile plain(rig.settings.path(QStringLiteral("plain-file")));
    if (!plain.open(QIODevice::WriteOnly)) {
        QTest::qFail("cannot create a plain file", __FILE__, __LINE__);
        return session;
    }
    plain.close();
    if (mode == LedgerMode::File && !rig.recordTo(file)) {
        QTest::qFail("the ledger did not start", __FILE__, __LINE__);
    }
    if (mode == LedgerMode::Unwritable && !rig.recordTo(plain.fileName() + QStringLiteral("/ledger.db"))) {
        QTest::qFail("the ledger did not start", __FILE__, __LINE__);
    }

    rig.click(idc::kLogin);
    rig.click(idc::kDeviceInfoGet);
    rig.setText(idc::kPoliceId, "PC9002");
    rig.setText(idc::kCoName, "Ridge Unit");
    rig.click(idc::kDeviceInfoSet);
    rig.setText(idc::kSsid, "field-net");
    rig.setText(idc::kWifiPassword, "wifi-secret-7");
    rig.click(idc::kWifiSet);
    rig.setText(idc::kApnPassword, "apn-secret-7");
    rig.click(idc::k4GSet);
    rig.setText(idc::kServerIp, "203.0.113.9");
    rig.setText(idc::kServerPort, "6608");
    rig.click(idc::kPlatformSet);
    rig.click(idc::kTimeSet);
    rig.setText(idc::kProxyIp, "10.1.2.3");
    rig.click(idc::kProxySet);
    rig.dialog.checkDlgButton(idc::kUIdentify, true);
    rig.click(idc::kUIdentify);
    rig.click(idc::kTimeSync);
    rig.click(idc::kFormatDisk);
    // As after Load Setup: the new login writes the form's U-identify switch.
    rig.dialog.setupLoaded = 1;
    rig.click(idc::kLogin);
    rig.setText(idc::kNewPassword, "new-secret-7");
    rig.click(idc::kChangePasswd);
    rig.click(idc::kFactory);
    rig.click(idc::kUDisk);
    // The U-disk request is the last frame and has no reply.
    if (!QTest::qWaitFor([&] { return rig.camera->inUDiskMode(); }, 5000)) {
        QTest::qFail("the camera never got the U-disk request", __FILE__, __LINE__);
    }

    session.log = rig.settledLog();
    session.frames = rig.camera->receivedFrames();
    session.connections = rig.camera->connectionCount();
    session.address = rig.address;
    if (mode == LedgerMode::File) {
        session.events = eventsIn(file);
    }
    return session;
}

} // namespace

class ConsoleLedgerTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { enterSeamTestMode(); }
    void cleanup() { leaveSeamTestMode(); }

    void deviceSetAndTheWritesAfterIt();
    void failedDeviceSet_data();
    void failedDeviceSet();
    void sameFramesWithTheLedgerOnOrOff();
    void unwritableLedgerShowsOneLine_data();
    void unwritableLedgerShowsOneLine();
};

void ConsoleLedgerTest::deviceSetAndTheWritesAfterIt()
{
    Rig rig;
    QVERIFY(rig.startCamera());
    const QString file = rig.settings.path(QStringLiteral("ledger.db"));
    QVERIFY(rig.recordTo(file));
    const std::string id = utf::toUtf8(kCameraId);

    rig.click(idc::kLogin);
    rig.click(idc::kFormatDisk); // before any read of the device record
    rig.click(idc::kDeviceInfoGet);
    rig.click(idc::kWifiSet);
    // A new login knows no device id until it reads one: here the Device Set's own read.
    rig.click(idc::kLogin);
    rig.click(idc::kUIdentify);
    rig.setText(idc::kPoliceId, "PC9001");
    rig.setText(idc::kCoName, "Ridge Unit");
    rig.click(idc::kDeviceInfoSet);
    rig.click(idc::k4GSet);
    const QStringList log = rig.settledLog();
    QCOMPARE(withoutLedgerLines(log), log);

    const std::vector<ledger::Event> events = eventsIn(file);
    QCOMPARE(outline(events), QStringList({"format||", QString::fromStdString("set|wifi|" + id), "uidentify|uidentify|",
                                           QString::fromStdString("set|device|" + id),
                                           QString::fromStdString("set|4g|" + id)}));
    for (const ledger::Event& e : events) {
        QCOMPARE(e.where, rig.address);
        QCOMPARE(e.tool, std::string("OrvCamera"));
        QCOMPARE(e.toolVersion, std::string(kProgramVersion));
        QCOMPARE(e.station, ledger::stationName());
        QCOMPARE(e.operatorName, ledger::operatorName());
        QCOMPARE(e.result, std::string("ok"));
        QVERIFY(!e.timeUtc.empty());
    }
    const ledger::Event& device = events.at(3);
    QCOMPARE(device.officerBefore, std::string("PC4471"));
    QCOMPARE(device.officerAfter, std::string("PC9001"));
    QCOMPARE(device.unitBefore, std::string("Harbour District Patrol"));
    QCOMPARE(device.unitAfter, std::string("Ridge Unit"));
    QCOMPARE(rig.camera->config<DeviceRecord>().text(DeviceRecord::policeId), std::u16string(u"PC9001"));
    // Only the Device Set knows the officer.
    for (const ledger::Event& e : events) {
        if (&e != &device) {
            QVERIFY(e.officerBefore.empty() && e.officerAfter.empty() && e.unitBefore.empty() && e.unitAfter.empty());
        }
    }
}

void ConsoleLedgerTest::failedDeviceSet_data()
{
    QTest::addColumn<bool>("readAnswered");
    QTest::newRow("write not sent") << true;
    QTest::newRow("read unanswered") << false;
}

void ConsoleLedgerTest::failedDeviceSet()
{
    QFETCH(bool, readAnswered);
    Rig rig;
    QVERIFY(rig.startCamera());
    const QString file = rig.settings.path(QStringLiteral("ledger.db"));
    QVERIFY(rig.recordTo(file));
    rig.click(idc::kLogin);
    rig.takeLog();
    rig.setText(idc::kDeviceId, "ORV202699001");
    rig.setText(idc::kPoliceId, "PC9001");
    if (readAnswered) {
        rig.loseConnectionBefore(Command::SetConfig);
    } else {
        rig.dialog.link->replyTimeout = 300ms;
        rig.camera->stayQuiet(true);
    }
    rig.click(idc::kDeviceInfoSet);
    QCOMPARE(rig.settledLog(), QStringList{"set device info fail ..."});

    const std::vector<ledger::Event> events = eventsIn(file);
    QCOMPARE(events.size(), std::size_t(1));
    const ledger::Event& e = events[0];
    QCOMPARE(e.kind + "|" + e.groups, std::string("set|device"));
    QVERIFY2(e.result.starts_with("failed: "), e.result.c_str());
    // What was read is known; what the camera holds now is not.
    QCOMPARE(e.deviceId, readAnswered ? utf::toUtf8(kCameraId) : std::string());
    QCOMPARE(e.officerBefore, readAnswered ? std::string("PC4471") : std::string());
    QCOMPARE(e.unitBefore, readAnswered ? std::string("Harbour District Patrol") : std::string());
    QVERIFY(e.officerAfter.empty() && e.unitAfter.empty());
    QCOMPARE(e.where, rig.address);
}

void ConsoleLedgerTest::sameFramesWithTheLedgerOnOrOff()
{
    const Session off = pressEverything(LedgerMode::Off);
    const Session on = pressEverything(LedgerMode::File);
    const Session unwritable = pressEverything(LedgerMode::Unwritable);
    QVERIFY(off.frames.size() > 20);
    QVERIFY(sameFrames(on.frames, off.frames));
    QVERIFY(sameFrames(unwritable.frames, off.frames));
    QCOMPARE(on.connections, off.connections);
    QCOMPARE(unwritable.connections, off.connections);
    QCOMPARE(on.log, off.log);
    QCOMPARE(withoutLedgerLines(unwritable.log), off.log);
    QCOMPARE(unwritable.log.size(), off.log.size() + 1);

    // Every write and action, with the device id this login read.
    const QString id = QString::fromStdU16String(kCameraId);
    QStringList expected;
    for (const char* group : {"device", "wifi", "4g", "platform", "time", "proxy"}) {
        expected.append(QStringLiteral("set|%1|%2").arg(QLatin1String(group), id));
    }
    expected << "uidentify|uidentify|" + id << "timesync||" + id << "format||" + id;
    // The second login has read no device record.
    expected << "uidentify|uidentify|" << "passwd||" << "factory||" << "udisk||";
    QCOMPARE(outline(on.events), expected);
    for (const ledger::Event& e : on.events) {
        QCOMPARE(e.result, std::string("ok"));
        QCOMPARE(e.where, on.address);
        const std::string fields[] = {e.station,        e.operatorName, e.tool,       e.toolVersion, e.kind,
                                      e.deviceId,       e.where,        e.officerBefore, e.officerAfter,
                                      e.unitBefore,     e.unitAfter,    e.setupName,  e.groups,      e.result,
                                      e.differences};
        for (const std::string& field : fields) {
            for (const char* secret : {"wrenq", "wifi-secret-7", "apn-secret-7", "new-secret-7", "2468"}) {
                QVERIFY2(field.find(secret) == std::string::npos, field.c_str());
            }
        }
    }
}

void ConsoleLedgerTest::unwritableLedgerShowsOneLine_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("prefix");
    QTest::newRow("a plain file in the path") << 2 << "plain-file/ledger.db" << "ledger write fail: ";
    // A shared database that does not answer is no write failure: its events wait in the
    // station's spool (console_ledger_offline_test.cpp).
    QTest::newRow("a plain file in the path, in Chinese") << 0 << "plain-file/ledger.db" << "写入台账失败: ";
}

void ConsoleLedgerTest::unwritableLedgerShowsOneLine()
{
    QFETCH(int, language);
    QFETCH(QString, location);
    QFETCH(QString, prefix);
    Rig rig(language);
    QVERIFY(rig.startCamera());
    QFile plain(rig.settings.path(QStringLiteral("plain-file")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    if (location.startsWith(QStringLiteral("plain-file"))) {
        location = rig.settings.path(location);
    }
    QVERIFY(rig.recordTo(location));

    rig.click(idc::kLogin);
    rig.takeLog();
    rig.camera->clearReceivedFrames();
    rig.click(idc::kFormatDisk);
    rig.click(idc::kWifiSet);
    QStringList log = rig.settledLog();
    QCOMPARE(log.size(), 3);
    QVERIFY2(log.last().startsWith(prefix), qPrintable(log.last()));
    QVERIFY(log.last().size() > prefix.size() + 4); // where and why
    QVERIFY(!log.last().contains(u'\n'));

    // The same cause again: the log stays quiet, the camera still gets its frames.
    rig.click(idc::kFactory);
    QCOMPARE(rig.settledLog().size(), 1);
    // The factory reset has no answer: the camera may still be reading it.
    QVERIFY(rig.camera->waitForFrames(4, 5s));
    const auto c = [](Command command) { return static_cast<std::uint16_t>(command); };
    QCOMPARE(rig.commands(), std::vector<std::uint16_t>({c(Command::FormatCard), c(Command::GetConfig),
                                                         c(Command::SetConfig), c(Command::FactoryReset)}));
}

QTEST_MAIN(ConsoleLedgerTest)
#include "console_ledger_test.moc"
