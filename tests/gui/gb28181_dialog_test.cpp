// The GB28181 dialog and its SDK session: against a recording fake SDK whose status comes from
// another thread, against a missing vendor library, and through the stand-in library against
// simulated cameras.

#include "gb28181/camera_sdk.h"
#include "gb28181/gb28181_dlg.h"
#include "gb28181/network_protocol_config.h"
#include "gb28181/sdk_session.h"
#include "gb28181/vendor_sdk_library.h"
#include "support/console_fixture.h"
#include "tools/camsim/sdk_protocol.h"
#include "tools/camsim/simulated_camera.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstring>
#include <thread>

using namespace orv;
using namespace orv::gb28181;
using namespace orv::testing;

namespace {

using Config = NetworkProtocolConfig;

// Records every call with its arguments; reports the login's status from a thread of its own.
class FakeSdk : public CameraSdk
{
public:
    QStringList calls;
    int loginResult = 7;
    std::optional<int> status = 0; // none: no status arrives during the login
    int getResult = 0;
    int setResult = 0;
    Config stored;
    std::vector<std::uint8_t> lastSet;
    LoginStatusCallback callback = nullptr;
    void* context = nullptr;
    QList<int> cursors; // the override cursor's shape at each call after init, -1 for none

    void noteCursor()
    {
        const QCursor* cursor = QApplication::overrideCursor();
        cursors << (cursor ? static_cast<int>(cursor->shape()) : -1);
    }

    int init() override
    {
        calls << QStringLiteral("init");
        return 0;
    }
    int login(const char* address, int port, const char* user, const char* password, LoginStatusCallback cb,
              void* ctx) override
    {
        calls << QStringLiteral("login %1 %2 %3 %4").arg(address).arg(port).arg(user, password);
        noteCursor();
        callback = cb;
        context = ctx;
        if (loginResult > 0 && status) {
            std::thread([cb, ctx, s = *status] { cb(0, s, ctx); }).join();
        }
        return loginResult;
    }
    int loginOut(int handle) override
    {
        calls << QStringLiteral("loginOut %1").arg(handle);
        noteCursor();
        return 0;
    }
    int getConfig(int handle, int channel, int command, void* buffer, int* size) override
    {
        calls << QStringLiteral("getConfig %1 %2 %3 %4").arg(handle).arg(channel).arg(command).arg(*size);
        noteCursor();
        if (getResult == 0) {
            std::memcpy(buffer, stored.data(), Config::kSize);
        }
        return getResult;
    }
    int setConfig(int handle, int channel, int command, const void* buffer, int size) override
    {
        calls << QStringLiteral("setConfig %1 %2 %3 %4").arg(handle).arg(channel).arg(command).arg(size);
        noteCursor();
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        lastSet.assign(bytes, bytes + size);
        return setResult;
    }
    int closeStream(int handle, int channel, int stream) override
    {
        calls << QStringLiteral("closeStream %1 %2 %3").arg(handle).arg(channel).arg(stream);
        return 0;
    }

    // A status delivered now, from another thread, as an SDK that reports late would.
    int reportLate(int lateStatus)
    {
        int result = 0;
        std::thread([&] { result = callback(0, lateStatus, context); }).join();
        return result;
    }
};

void noWait(std::chrono::milliseconds) {}

// The override cursor's shape at each pause of the login's wait, -1 for none.
QList<int> cursorsWhileWaiting;
void noteCursorAndGoOn(std::chrono::milliseconds)
{
    const QCursor* cursor = QApplication::overrideCursor();
    cursorsWhileWaiting << (cursor ? static_cast<int>(cursor->shape()) : -1);
}

// Sets the stand-in's port variable for one test and takes it away again.
class SdkPortVariable
{
public:
    ~SdkPortVariable() { qunsetenv(camsim::sdk::kPortVariable); }
    void set(const QByteArray& value) { qputenv(camsim::sdk::kPortVariable, value); }
    void set(std::uint16_t port) { set(QByteArray::number(port)); }
};

struct FormValues
{
    bool enable;
    QString address, port, password, registerInterval, heartbeat, serverId, deviceId, channelId, alarmIn, alarmOut;
};

void fillForm(CGB28181Dlg& dialog, const FormValues& v)
{
    dialog.checkDlgButton(idc::kEnable, v.enable);
    dialog.setDlgItemText(idc::kServerAddress, v.address);
    dialog.setDlgItemText(idc::kServerPort, v.port);
    dialog.setDlgItemText(idc::kPassword, v.password);
    dialog.setDlgItemText(idc::kRegisterInterval, v.registerInterval);
    dialog.setDlgItemText(idc::kHeartbeatInterval, v.heartbeat);
    dialog.setDlgItemText(idc::kServerId, v.serverId);
    dialog.setDlgItemText(idc::kDeviceId, v.deviceId);
    dialog.setDlgItemText(idc::kChannelId, v.channelId);
    dialog.setDlgItemText(idc::kAlarmInId, v.alarmIn);
    dialog.setDlgItemText(idc::kAlarmOutId, v.alarmOut);
}

const FormValues kSample{true,
                         "10.20.30.40",
                         "5070",
                         "secret",
                         "1800",
                         "45",
                         "34020000002000000009",
                         "34020000001320000042",
                         "34020000001320000043",
                         "34020000001340000044",
                         "34020000001350000045"};

// The record a Set of kSample must send, built byte by byte from the offsets.
std::vector<std::uint8_t> sampleRecord()
{
    std::vector<std::uint8_t> r(844, 0);
    const auto text = [&](std::size_t offset, const char* t) { std::memcpy(r.data() + offset, t, std::strlen(t)); };
    const auto number = [&](std::size_t offset, unsigned v) {
        r[offset] = static_cast<std::uint8_t>(v & 0xFF);
        r[offset + 1] = static_cast<std::uint8_t>(v >> 8);
    };
    r[592] = 1;
    text(593, "10.20.30.40");
    number(658, 5070);
    text(660, "secret");
    number(676, 1800);
    number(678, 45);
    text(680, "34020000002000000009");
    text(712, "34020000001320000042");
    text(744, "34020000001320000043");
    text(776, "34020000001340000044");
    text(808, "34020000001350000045");
    return r;
}

QStringList formTexts(const CGB28181Dlg& dialog)
{
    QStringList out;
    for (int id :
         {idc::kServerAddress, idc::kServerPort, idc::kPassword, idc::kRegisterInterval, idc::kHeartbeatInterval,
          idc::kServerId, idc::kDeviceId, idc::kChannelId, idc::kAlarmInId, idc::kAlarmOutId}) {
        out << dialog.dlgItemText(id);
    }
    out << (dialog.isDlgButtonChecked(idc::kEnable) ? QStringLiteral("on") : QStringLiteral("off"));
    return out;
}

QString lastPrompt()
{
    const auto& prompts = MessageBox::instance().prompts();
    return prompts.isEmpty() ? QString() : prompts.last().text;
}

} // namespace

class Gb28181DialogTest : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        enterSeamTestMode();
        SdkSession::setSleeper(&noWait);
        qunsetenv(camsim::sdk::kPortVariable);
    }
    void cleanup()
    {
        SdkSession::setSleeper(nullptr);
        leaveSeamTestMode();
    }

    void buildsTemplate129WithItsCaptions()
    {
        CGB28181Dlg dialog;
        QCOMPARE(dialog.controlsInOrder().size(), 23);
        QCOMPARE(dialog.dlgItemText(idc::kEnable), QStringLiteral("开关"));
        QCOMPARE(dialog.dlgItemText(idc::kGet), QStringLiteral("Get"));
        QCOMPARE(formTexts(dialog).join(QString()), QStringLiteral("off"));
    }

    // Runs first: the SDK is initialised once per process, whatever the number of presses.
    void twoGetsMakeTwoLoginsAndOneInit()
    {
        FakeSdk sdk;
        sdk.stored.setText(Config::serverId, u"34020000002000000001");
        CGB28181Dlg dialog(nullptr, &sdk);
        dialog.cameraAddress = QStringLiteral("127.0.71.9");
        dialog.OnConfigGet();
        dialog.OnConfigGet();
        const QString login = QStringLiteral("login 127.0.71.9 80 admin wrenq");
        QCOMPARE(sdk.calls, QStringList({QStringLiteral("init"), login, QStringLiteral("getConfig 7 0 32 844"),
                                         QStringLiteral("loginOut 7"), login, QStringLiteral("getConfig 7 0 32 844"),
                                         QStringLiteral("loginOut 7")}));
        QVERIFY(sdkReady());
        QVERIFY(MessageBox::instance().prompts().isEmpty());
        QCOMPARE(dialog.dlgItemText(idc::kServerId), QStringLiteral("34020000002000000001"));
    }

    void setSendsTheFormAndZeroElsewhere()
    {
        FakeSdk sdk;
        CGB28181Dlg dialog(nullptr, &sdk);
        dialog.cameraAddress = QStringLiteral("127.0.71.9");
        fillForm(dialog, kSample);
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        dialog.OnConfigSet();
        QCOMPARE(sdk.calls, QStringList({QStringLiteral("login 127.0.71.9 80 admin wrenq"),
                                         QStringLiteral("setConfig 7 0 33 844"), QStringLiteral("loginOut 7")}));
        QCOMPARE(sdk.lastSet, sampleRecord());
        QCOMPARE(lastPrompt(), QStringLiteral("Save NetworkProtocol Success!"));
        QCOMPARE(MessageBox::instance().prompts().last().title, QString());

        dialog.checkDlgButton(idc::kEnable, false);
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        dialog.OnConfigSet();
        QCOMPARE(sdk.lastSet[592], 0);
    }

    void getShowsTheRecord()
    {
        FakeSdk sdk;
        const std::vector<std::uint8_t> bytes = sampleRecord();
        std::memcpy(sdk.stored.data(), bytes.data(), bytes.size());
        std::memset(sdk.stored.data(), 0x5A, 592); // settings the dialog does not show
        CGB28181Dlg dialog(nullptr, &sdk);
        dialog.OnConfigGet();
        QCOMPARE(formTexts(dialog),
                 QStringList({kSample.address, kSample.port, kSample.password, kSample.registerInterval,
                              kSample.heartbeat, kSample.serverId, kSample.deviceId, kSample.channelId, kSample.alarmIn,
                              kSample.alarmOut, QStringLiteral("on")}));
    }

    void numbersKeepTheirLow16Bits_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("65536") << "65536" << 0 << "0";
        QTest::newRow("70000") << "70000" << 4464 << "4464";
        QTest::newRow("-1") << "-1" << 65535 << "65535";
        QTest::newRow("blanks, sign, tail") << "  +5060abc" << 5060 << "5060";
        QTest::newRow("no digits") << "abc" << 0 << "0";
        QTest::newRow("empty") << "" << 0 << "0";
    }
    void numbersKeepTheirLow16Bits()
    {
        QFETCH(QString, typed);
        QFETCH(int, stored);
        QFETCH(QString, shown);
        FakeSdk sdk;
        CGB28181Dlg dialog(nullptr, &sdk);
        for (int id : {idc::kServerPort, idc::kRegisterInterval, idc::kHeartbeatInterval}) {
            dialog.setDlgItemText(id, typed);
        }
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        dialog.OnConfigSet();
        QCOMPARE(sdk.lastSet.size(), std::size_t{844});
        for (std::size_t offset : {Config::serverPort, Config::registerInterval, Config::heartbeatInterval}) {
            QCOMPARE(sdk.lastSet[offset] | (sdk.lastSet[offset + 1] << 8), stored);
        }
        std::memcpy(sdk.stored.data(), sdk.lastSet.data(), 844);
        dialog.OnConfigGet();
        QCOMPARE(dialog.dlgItemText(idc::kServerPort), shown);
        QCOMPARE(dialog.dlgItemText(idc::kHeartbeatInterval), shown);
    }

    void longTextsStayWithinTheirFields()
    {
        FakeSdk sdk;
        CGB28181Dlg dialog(nullptr, &sdk);
        dialog.setDlgItemText(idc::kServerAddress, QString(100, QLatin1Char('a')));
        dialog.setDlgItemText(idc::kPassword, QString(40, QLatin1Char('p')));
        dialog.setDlgItemText(idc::kServerId, QString(40, QLatin1Char('s')));
        dialog.setDlgItemText(idc::kAlarmOutId, QString(40, QLatin1Char('o')));
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        dialog.OnConfigSet();
        const auto& r = sdk.lastSet;
        QCOMPARE(std::count(r.begin() + 593, r.begin() + 658, 'a'), 64);
        QCOMPARE(r[657], 0);
        QCOMPARE(std::count(r.begin() + 660, r.begin() + 676, 'p'), 15);
        QCOMPARE(r[675], 0);
        QCOMPARE(std::count(r.begin() + 680, r.begin() + 712, 's'), 31);
        QCOMPARE(std::count(r.begin() + 808, r.begin() + 840, 'o'), 31);
        QCOMPARE(std::count(r.begin() + 840, r.end(), 0), 4);

        // A camera that fills a field to its last byte: the text ends there.
        std::memset(sdk.stored.data() + 680, 'x', 32);
        std::memset(sdk.stored.data() + 712, 'y', 32);
        dialog.OnConfigGet();
        QCOMPARE(dialog.dlgItemText(idc::kServerId), QString(32, QLatin1Char('x')));
    }

    void failuresShowTheirMessageAndKeepTheForm_data()
    {
        QTest::addColumn<bool>("set");
        QTest::addColumn<int>("loginResult");
        QTest::addColumn<int>("status"); // -1: none arrives
        QTest::addColumn<int>("sdkResult");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("calls");
        const QString login = QStringLiteral("login 127.0.71.9 80 admin wrenq");
        QTest::newRow("get, login refused")
            << false << 0 << 0 << 0 << "Login NetworkProtocol Error" << QStringList{login};
        QTest::newRow("get, negative handle")
            << false << -3 << 0 << 0 << "Login NetworkProtocol Error" << QStringList{login};
        QTest::newRow("get, status failure")
            << false << 7 << 5 << 0 << "Login NetworkProtocol Error" << QStringList{login};
        QTest::newRow("get, no status") << false << 7 << -1 << 0 << "Login NetworkProtocol Error" << QStringList{login};
        QTest::newRow("get fails") << false << 7 << 0 << -1 << "Get NetworkProtocol Error"
                                   << QStringList{login, "getConfig 7 0 32 844", "loginOut 7"};
        QTest::newRow("set, login refused")
            << true << 0 << 0 << 0 << "Login NetworkProtocol Fail!" << QStringList{login};
        QTest::newRow("set, no status") << true << 7 << -1 << 0 << "Login NetworkProtocol Fail!" << QStringList{login};
        QTest::newRow("set fails") << true << 7 << 0 << 3 << "Save NetworkProtocol Fail!"
                                   << QStringList{login, "setConfig 7 0 33 844", "loginOut 7"};
    }
    void failuresShowTheirMessageAndKeepTheForm()
    {
        QFETCH(bool, set);
        QFETCH(int, loginResult);
        QFETCH(int, status);
        QFETCH(int, sdkResult);
        QFETCH(QString, message);
        QFETCH(QStringList, calls);
        FakeSdk sdk;
        sdk.loginResult = loginResult;
        sdk.status = status < 0 ? std::nullopt : std::optional<int>(status);
        sdk.getResult = sdkResult;
        sdk.setResult = sdkResult;
        std::memset(sdk.stored.data(), '7', 844);
        CGB28181Dlg dialog(nullptr, &sdk);
        dialog.cameraAddress = QStringLiteral("127.0.71.9");
        fillForm(dialog, kSample);
        const QStringList before = formTexts(dialog);
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        set ? dialog.OnConfigSet() : dialog.OnConfigGet();
        QCOMPARE(lastPrompt(), message);
        QCOMPARE(MessageBox::instance().prompts().size(), 1);
        QCOMPARE(formTexts(dialog), before);
        QCOMPARE(sdk.calls, calls);
    }

    // The busy cursor is up for every SDK call and every pause of the login's wait, and gone
    // when the handler returns, whatever became of the login.
    void busyCursorCoversEveryWaitForTheSdk_data()
    {
        QTest::addColumn<bool>("set");
        QTest::addColumn<int>("status"); // -1: none arrives; not 0: the whole wait passes
        QTest::addColumn<int>("sdkCalls");
        QTest::newRow("get") << false << 0 << 3;
        QTest::newRow("get, no status") << false << -1 << 1;
        QTest::newRow("set") << true << 0 << 3;
        QTest::newRow("set, login refused") << true << 1 << 1;
    }
    void busyCursorCoversEveryWaitForTheSdk()
    {
        QFETCH(bool, set);
        QFETCH(int, status);
        QFETCH(int, sdkCalls);
        FakeSdk sdk;
        sdk.status = status < 0 ? std::nullopt : std::optional<int>(status);
        cursorsWhileWaiting.clear();
        SdkSession::setSleeper(&noteCursorAndGoOn);
        CGB28181Dlg dialog(nullptr, &sdk);
        if (set || status != 0) {
            MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        }
        set ? dialog.OnConfigSet() : dialog.OnConfigGet();
        const int busy = static_cast<int>(Qt::WaitCursor);
        QCOMPARE(sdk.cursors, QList<int>(sdkCalls, busy));
        QCOMPARE(cursorsWhileWaiting, QList<int>(status != 0 ? 29 : 0, busy));
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

    // A success reported after the wait still ends with the stream closed and a logout.
    void lateSuccessIsEndedByTheSession()
    {
        FakeSdk sdk;
        sdk.status = std::nullopt;
        {
            SdkSession session(sdk);
            QVERIFY(!session.Login("127.0.71.9"));
            QCOMPARE(sdk.reportLate(0), 0);
            QCOMPARE(session.loggedIn.load(), 1);
        }
        QCOMPARE(sdk.calls.mid(1), QStringList({QStringLiteral("closeStream 7 0 0"), QStringLiteral("loginOut 7")}));
    }

    // After the handler returned its session is gone; a status then must find nothing.
    void statusAfterTheHandlerNeverReachesTheSession()
    {
        FakeSdk sdk;
        CGB28181Dlg dialog(nullptr, &sdk);
        dialog.OnConfigGet();
        const int callsBefore = static_cast<int>(sdk.calls.size());
        QCOMPARE(sdk.reportLate(0), 0);
        QCOMPARE(sdk.reportLate(1), 0);
        QCOMPARE(SdkSession::OnLoginStatus(0, 0, nullptr), -1);
        QCOMPARE(static_cast<int>(sdk.calls.size()), callsBefore);
    }

    void missingVendorLibraryFailsTheLogin()
    {
        QTemporaryDir empty;
        VendorSdkLibrary library(empty.path());
        QVERIFY(!library.isLoaded());
        CGB28181Dlg dialog(nullptr, &library);
        dialog.cameraAddress = QStringLiteral("127.0.71.9");
        fillForm(dialog, kSample);
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        dialog.OnConfigGet();
        QCOMPARE(lastPrompt(), QStringLiteral("Login NetworkProtocol Error"));
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        dialog.OnConfigSet();
        QCOMPARE(lastPrompt(), QStringLiteral("Login NetworkProtocol Fail!"));
        QCOMPARE(dialog.dlgItemText(idc::kServerId), kSample.serverId);
    }

    // The stand-in library beside the test program, against the simulated camera.
    void standInLibraryRoundTripsThroughTheCamera()
    {
        SdkSession::setSleeper(nullptr);
        camsim::CameraOptions options;
        options.listenAddress = "127.0.71.2";
        options.log = [](const std::string&) {};
        camsim::SimulatedCamera camera(options);
        std::string error;
        QVERIFY2(camera.start(&error), error.c_str());
        QVERIFY(camera.sdkPort() != 0);

        VendorSdkLibrary library(QCoreApplication::applicationDirPath());
        QVERIFY2(library.isLoaded(), qPrintable(library.errorText()));
        CGB28181Dlg dialog(nullptr, &library);
        dialog.cameraAddress = QStringLiteral("127.0.71.2");

        dialog.OnConfigGet();
        QVERIFY(MessageBox::instance().prompts().isEmpty());
        QCOMPARE(dialog.dlgItemText(idc::kServerId), QStringLiteral("34020000002000000001"));
        QCOMPARE(dialog.dlgItemText(idc::kServerPort), QStringLiteral("5060"));
        QCOMPARE(dialog.dlgItemText(idc::kRegisterInterval), QStringLiteral("3600"));
        QCOMPARE(dialog.dlgItemText(idc::kHeartbeatInterval), QStringLiteral("60"));

        std::vector<std::uint8_t> other = camera.gb28181Record();
        std::fill(other.begin(), other.begin() + 592, std::uint8_t{0x33});
        camera.setGb28181Record(other);
        fillForm(dialog, kSample);
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        dialog.OnConfigSet();
        QCOMPARE(lastPrompt(), QStringLiteral("Save NetworkProtocol Success!"));
        QCOMPARE(camera.gb28181Record(), sampleRecord());

        fillForm(dialog, FormValues{});
        dialog.OnConfigGet();
        QCOMPARE(formTexts(dialog),
                 QStringList({kSample.address, kSample.port, kSample.password, kSample.registerInterval,
                              kSample.heartbeat, kSample.serverId, kSample.deviceId, kSample.channelId, kSample.alarmIn,
                              kSample.alarmOut, QStringLiteral("on")}));
    }

    // Two cameras on one address, each with its own ports and record: every login goes to the
    // camera whose SDK port the variable names at that moment; a value that is no port fails it.
    void standInReachesTheCameraTheVariableNames()
    {
        SdkSession::setSleeper(nullptr);
        camsim::CameraOptions options;
        options.listenAddress = "127.0.71.4";
        options.port = 0;
        options.sdkPort = 0;
        options.log = [](const std::string&) {};
        camsim::SimulatedCamera first(options);
        camsim::SimulatedCamera second(options);
        std::string error;
        QVERIFY2(first.start(&error), error.c_str());
        QVERIFY2(second.start(&error), error.c_str());
        QVERIFY(first.sdkPort() != 0 && second.sdkPort() != 0 && first.sdkPort() != second.sdkPort());
        std::vector<std::uint8_t> secondRecord = second.gb28181Record();
        std::memcpy(secondRecord.data() + Config::serverId.offset, "34020000002000000002", 20);
        second.setGb28181Record(secondRecord);

        VendorSdkLibrary library(QCoreApplication::applicationDirPath());
        QVERIFY2(library.isLoaded(), qPrintable(library.errorText()));
        CGB28181Dlg dialog(nullptr, &library);
        dialog.cameraAddress = QStringLiteral("127.0.71.4");
        SdkPortVariable variable;

        variable.set(second.sdkPort());
        dialog.OnConfigGet();
        QCOMPARE(dialog.dlgItemText(idc::kServerId), QStringLiteral("34020000002000000002"));
        variable.set(first.sdkPort());
        dialog.OnConfigGet();
        QCOMPARE(dialog.dlgItemText(idc::kServerId), QStringLiteral("34020000002000000001"));
        QVERIFY(MessageBox::instance().prompts().isEmpty());

        const std::vector<std::uint8_t> firstRecord = first.gb28181Record();
        variable.set(second.sdkPort());
        fillForm(dialog, kSample);
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        dialog.OnConfigSet();
        QCOMPARE(lastPrompt(), QStringLiteral("Save NetworkProtocol Success!"));
        QCOMPARE(second.gb28181Record(), sampleRecord());
        QCOMPARE(first.gb28181Record(), firstRecord);

        for (const char* bad : {"0", "65536", "19437x", " 19437", "-1"}) {
            variable.set(QByteArray(bad));
            MessageBox::instance().setNextAnswer(QMessageBox::Ok);
            dialog.OnConfigGet();
            QVERIFY2(lastPrompt() == QStringLiteral("Login NetworkProtocol Error"), bad);
        }
    }

    void standInLibraryWithoutACameraFailsTheLogin()
    {
        SdkSession::setSleeper(nullptr);
        VendorSdkLibrary library(QCoreApplication::applicationDirPath());
        QVERIFY(library.isLoaded());
        CGB28181Dlg dialog(nullptr, &library);
        dialog.cameraAddress = QStringLiteral("127.0.71.3"); // nothing listens there
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        dialog.OnConfigGet();
        QCOMPARE(lastPrompt(), QStringLiteral("Login NetworkProtocol Error"));
    }
};

QTEST_MAIN(Gb28181DialogTest)
#include "gb28181_dialog_test.moc"
