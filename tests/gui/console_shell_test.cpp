// The console window: login fields, enable rules, routing, keys, the About entry and the
// instance marker.

#include "console/activity_log.h"
#include "console/control_ids.h"
#include "console/gb28181_opener.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/instance_marker.h"
#include "dialogkit/ip_address_edit.h"
#include "dialogkit/multi_line_edit.h"
#include "link/camera_link.h"
#include "support/console_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <future>
#include <set>

#ifdef _WIN32
#include <windows.h>
#else
#include <QLocalSocket>
#endif

using namespace orv;
using namespace orv::testing;

namespace {

// Enabled exactly while logged in.
const std::set<int> kWhenLoggedIn{1018, 1013, 1014, 1016, 1015, 1017, 1032, 1033, 1037, 1038, 1042, 1043,
                                  1054, 1055, 1048, 1068, 1069, 1074, 1078, 1079, 1021, 1034, 1035, 1036,
                                  1039, 1040, 1052, 1053, 1047, 1051, 1041, 1046, 1072, 1080};
const std::set<int> kWhenLoggedOut{1075};
const std::set<int> kNever{1045, 1022};
// Disabled by a logout, left alone by a login.
const std::set<int> kPlatformFields{1094, 1027, 1029, 1031};

struct Routed
{
    int id;
    QString handler;
    friend bool operator==(const Routed&, const Routed&) = default;
};

} // namespace

class ConsoleShellTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { enterSeamTestMode(); }
    void cleanup() { leaveSeamTestMode(); }

    void loginFields_data();
    void loginFields();
    void limitsHiddenWifiListTitleAndLink();
    void uninitialisedSettingsKeepLayoutCaptions();
    void enableRules_data();
    void enableRules();
    void upgradeNeverVisible();
    void everyButtonReachesItsHandler();
    void firstControlHasFocusAndEnterInEditIsIgnored();
    void enterOnFocusedButtonClicksIt();
    void escAndCloseBoxEndTheModalLoop();
    void aboutFromF1AndContextMenu();
    void markerPresentFromInitialisation();
    void markerFindsByValueAndClosesOnRequest();
};

void ConsoleShellTest::loginFields_data()
{
    QTest::addColumn<bool>("remember");
    QTest::addColumn<bool>("hold");
    QTest::addColumn<QString>("storedIp");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    // clang-format off
    QTest::newRow("first run") << false << false << "" << "192.168.2.158" << "admin" << "wrenq";
    QTest::newRow("remembered") << true << true << "10.0.0.7" << "10.0.0.7" << "op" << "secret";
    QTest::newRow("not held shows defaults") << true << false << "10.0.0.7" << "192.168.2.158" << "admin" << "wrenq";
    QTest::newRow("edited address") << true << true << "1.2.3.99999999" << "1.2.3.0" << "op" << "secret";
    // clang-format on
}

void ConsoleShellTest::loginFields()
{
    QFETCH(bool, remember);
    QFETCH(bool, hold);
    QFETCH(QString, storedIp);
    QFETCH(QString, ip);
    QFETCH(QString, user);
    QFETCH(QString, password);
    TestSettings settings;
    if (remember) {
        settings.settings().RememberLogin(true, storedIp.toStdU16String(), u"op", u"secret");
        if (!hold) {
            settings.settings().RememberLogin(false, u"", u"", u"");
        }
    }
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    QCOMPARE(dialog.dlgItem<IpAddressEdit>(idc::kCameraIp)->text(), ip);
    QCOMPARE(dialog.dlgItemText(idc::kUserName), user);
    QCOMPARE(dialog.dlgItemText(idc::kPassword), password);
    QCOMPARE(dialog.isDlgButtonChecked(idc::kHold), hold);
    QCOMPARE(dialog.dlgItem<QLineEdit>(idc::kPassword)->echoMode(), QLineEdit::Normal);
}

void ConsoleShellTest::limitsHiddenWifiListTitleAndLink()
{
    TestSettings settings;
    COrvCameraDlg dialog;
    QVERIFY(!dialog.link);
    QVERIFY(dialog.Create());
    QCOMPARE(dialog.dlgItem<QLineEdit>(idc::kPoliceId)->maxLength(), 12);
    QCOMPARE(dialog.dlgItem<QLineEdit>(idc::kApnUser)->maxLength(), 30);
    QCOMPARE(dialog.dlgItem<QLineEdit>(idc::kApnPassword)->maxLength(), 32);
    QVERIFY(dialog.GetDlgItem(idc::kWifiListLabel)->isHidden());
    QVERIFY(dialog.GetDlgItem(idc::kWifiList)->isHidden());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("OrvCamera Ver.2018-01-16"));
    QVERIFY(dialog.link);
    QCOMPARE(dialog.link->loggedIn, 0);
    QCOMPARE(dialog.link->connected, 0);
    QCOMPARE(dialog.setupLoaded, 0);
    QCOMPARE(dialog.languageCombo, dialog.GetDlgItem(idc::kLanguage));
}

void ConsoleShellTest::uninitialisedSettingsKeepLayoutCaptions()
{
    CSettings::ResetForTests();
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    QCOMPARE(dialog.windowTitle(), QStringLiteral("OrvCamera Ver.2018-01-16"));
    QCOMPARE(dialog.dlgItemText(idc::kLogin), QStringLiteral("Login"));
    QCOMPARE(dialog.languageCombo->count(), 0);
    QCoreApplication::sendPostedEvents(&dialog, kAppendLogEvent);
    QVERIFY(dialog.dlgItemText(idc::kLog).endsWith(QStringLiteral("] Orv工具启动 ...\r\n")));
}

void ConsoleShellTest::enableRules_data()
{
    QTest::addColumn<bool>("loggedIn");
    // clang-format off
    QTest::newRow("logged out") << false;
    QTest::newRow("logged in") << true;
    // clang-format on
}

void ConsoleShellTest::enableRules()
{
    QFETCH(bool, loggedIn);
    TestSettings settings;
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    // What a Platform Get may have enabled must survive a login.
    dialog.GetDlgItem(1094)->setEnabled(true);
    dialog.GetDlgItem(1027)->setEnabled(true);
    dialog.EnableControls(loggedIn);
    for (QWidget* w : dialog.controlsInOrder()) {
        const int id = w->property("controlId").toInt();
        bool expected = true;
        if (kWhenLoggedIn.count(id)) {
            expected = loggedIn;
        } else if (kWhenLoggedOut.count(id)) {
            expected = !loggedIn;
        } else if (kNever.count(id)) {
            expected = false;
        } else if (kPlatformFields.count(id)) {
            expected = loggedIn && (id == 1094 || id == 1027);
        }
        QVERIFY2(w->isEnabled() == expected, qPrintable(QStringLiteral("control %1").arg(id)));
    }
    QVERIFY(dialog.dlgItem<MultiLineEdit>(idc::kLog)->isReadOnly());

    dialog.EnableControls(false);
    for (int id : kPlatformFields) {
        QVERIFY(!dialog.GetDlgItem(id)->isEnabled());
    }
}

void ConsoleShellTest::upgradeNeverVisible()
{
    TestSettings settings;
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    dialog.show();
    for (bool loggedIn : {false, true, false}) {
        dialog.EnableControls(loggedIn);
        QVERIFY(!dialog.GetDlgItem(idc::kUpgrade)->isVisible());
        QCOMPARE(dialog.GetDlgItem(idc::kUpgrade)->isEnabled(), loggedIn);
    }
}

void ConsoleShellTest::everyButtonReachesItsHandler()
{
    const QList<Routed> expected{
        {1009, "OnLogin"},       {1018, "OnChangePasswd"},   {1013, "OnUDisk"},         {1014, "OnTimeSync"},
        {1016, "OnFactory"},     {1015, "OnFormatDisk"},     {1080, "OnUIdentify"},     {1032, "OnPlatformGet"},
        {1033, "OnPlatformSet"}, {1037, "On4GGet"},          {1038, "On4GSet"},         {1042, "OnWifiGet"},
        {1043, "OnWifiSet"},     {1054, "OnDeviceInfoGet"},  {1055, "OnDeviceInfoSet"}, {1078, "OnTimeGet"},
        {1079, "OnTimeSet"},     {1087, "OnProxyGet"},       {1088, "OnProxySet"},      {1068, "OnClearLog"},
        {1069, "OnSaveLog"},     {1048, "OnExportDeviceId"}, {1074, "OnSaveSetup"},     {1075, "OnLoadSetup"},
        {1081, "OnBatch"},       {1084, "OnRndis"},          {1089, "OnGb28181"},
    };
    TestSettings settings;
    // Batch and RNDIS start programs from the companion folder: an empty one here, so that the
    // clicks start nothing (the real search tool would look at this computer's interfaces).
    QTemporaryDir noCompanions;
    QVERIFY(noCompanions.isValid());
    setCompanionFolderForTests(noCompanions.path());
    const auto restore = qScopeGuard([] { setCompanionFolderForTests({}); });
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    dialog.show();
    // Login connects now: aim it at a loopback address where nothing listens.
    dialog.dlgItem<IpAddressEdit>(idc::kCameraIp)->setAddress({127, 255, 255, 254});
    QList<Routed> seen;
    dialog.setRouteObserver([&seen](int id, std::string_view name) {
        seen.append({id, QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()))});
    });
    // Save Log, Save Setup and Load Setup ask for a file: answer "cancel" to each.
    for (int prompt = 0; prompt < 3; ++prompt) {
        FileDialog::instance().setNextFileName(QString());
    }
    for (const Routed& r : expected) {
        QWidget* w = dialog.GetDlgItem(r.id);
        w->setEnabled(true);
        QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center());
    }
    QCOMPARE(seen, expected);

    // Check boxes, edits and the other combo boxes have no handler.
    seen.clear();
    for (int id : {1010, 1072, 1086}) {
        dialog.GetDlgItem(id)->setEnabled(true);
        QTest::mouseClick(dialog.GetDlgItem(id), Qt::LeftButton, {}, dialog.GetDlgItem(id)->rect().center());
    }
    QVERIFY(seen.isEmpty());

    // Filling the combo box is no selection change; the operator's choice is.
    dialog.ApplyTexts();
    QVERIFY(seen.isEmpty());
    QTest::keyClick(dialog.languageCombo, Qt::Key_Up);
    QCOMPARE(seen, (QList<Routed>{{1070, "OnLanguageChanged"}}));
}

void ConsoleShellTest::firstControlHasFocusAndEnterInEditIsIgnored()
{
    TestSettings settings;
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    QSignalSpy finished(&dialog, &QDialog::finished);
    int routed = 0;
    dialog.setRouteObserver([&routed](int, std::string_view) { ++routed; });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QCOMPARE(QApplication::focusWidget(), dialog.GetDlgItem(idc::kLanguage));

    for (int id : {idc::kUserName, idc::kPassword, idc::kProxyIp}) {
        auto* edit = dialog.dlgItem<QLineEdit>(id);
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_Return);
        QTest::keyClick(edit, Qt::Key_Enter, Qt::KeypadModifier);
    }
    QTest::keyClick(dialog.dlgItem<IpAddressEdit>(idc::kCameraIp)->field(2), Qt::Key_Return);
    QVERIFY(dialog.isVisible());
    QCOMPARE(finished.count(), 0);
    QCOMPARE(routed, 0);
}

void ConsoleShellTest::enterOnFocusedButtonClicksIt()
{
    TestSettings settings;
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    QStringList seen;
    dialog.setRouteObserver([&seen](int, std::string_view name) { seen.append(QString::fromLatin1(name.data())); });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    dialog.dlgItem<IpAddressEdit>(idc::kCameraIp)->setAddress({127, 255, 255, 254});
    dialog.GetDlgItem(idc::kLogin)->setFocus();
    QTest::keyClick(dialog.GetDlgItem(idc::kLogin), Qt::Key_Return);
    QCOMPARE(seen, QStringList{QStringLiteral("OnLogin")});
    QVERIFY(dialog.isVisible());
}

void ConsoleShellTest::escAndCloseBoxEndTheModalLoop()
{
    TestSettings settings;
    {
        COrvCameraDlg dialog;
        QTimer::singleShot(0, &dialog,
                           [&dialog] { QTest::keyClick(dialog.GetDlgItem(idc::kUserName), Qt::Key_Escape); });
        QCOMPARE(dialog.DoModal(), static_cast<int>(QDialog::Rejected));
    }
    {
        COrvCameraDlg dialog;
        QTimer::singleShot(0, &dialog, [&dialog] { dialog.close(); });
        QCOMPARE(dialog.DoModal(), static_cast<int>(QDialog::Rejected));
    }
}

void ConsoleShellTest::aboutFromF1AndContextMenu()
{
    TestSettings settings;
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));

    QStringList aboutTitles;
    const auto closeAbout = [&aboutTitles] {
        QWidget* about = QApplication::activeModalWidget();
        QVERIFY(about);
        aboutTitles.append(about->windowTitle());
        about->close();
    };
#ifdef _WIN32
    // Windows has a system menu: the entry goes there, after a separator, and F1 and the context
    // menu stay the desktop's own. Where the window got no system menu the console falls back to
    // them, as elsewhere (seen under Wine, depending on how the window was first created).
    const HWND window = reinterpret_cast<HWND>(dialog.winId());
    const HMENU menu = GetSystemMenu(window, FALSE);
    const int last = menu ? GetMenuItemCount(menu) - 1 : -1;
    if (last > 0 && GetMenuItemID(menu, last) == kIdmAboutBox) {
        wchar_t text[64]{};
        GetMenuStringW(menu, static_cast<UINT>(last), text, 64, MF_BYPOSITION);
        QCOMPARE(QString::fromWCharArray(text), QStringLiteral("&About OrvCamera..."));
        QVERIFY(GetMenuState(menu, static_cast<UINT>(last - 1), MF_BYPOSITION) & MF_SEPARATOR);
        QTimer::singleShot(0, &dialog, closeAbout);
        SendMessageW(window, WM_SYSCOMMAND, kIdmAboutBox, 0);
        QCOMPARE(aboutTitles, QStringList{QStringLiteral("About OrvCamera")});
        return;
    }
#endif
    QTimer::singleShot(0, &dialog, closeAbout);
    QTest::keyClick(&dialog, Qt::Key_F1);
    QCOMPARE(aboutTitles, QStringList{QStringLiteral("About OrvCamera")});

    QStringList entries;
    QTimer::singleShot(0, &dialog, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu);
        for (QAction* a : menu->actions()) {
            entries.append(a->text());
        }
        QTimer::singleShot(0, &dialog, closeAbout);
        menu->actions().constFirst()->trigger();
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), dialog.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&dialog, &event);
    QCOMPARE(entries, QStringList{QStringLiteral("&About OrvCamera...")});
    QCOMPARE(aboutTitles.size(), 2);
}

void ConsoleShellTest::markerPresentFromInitialisation()
{
    TestSettings settings;
    COrvCameraDlg dialog;
    QVERIFY(!dialog.property(kConsoleMarker).isValid());
    QVERIFY(dialog.Create());
    QCOMPARE(dialog.property(kConsoleMarker).toInt(), 170721);

#ifdef _WIN32
    // The property on the real window, where the search tool and other programs look for it.
    const HANDLE value = GetPropW(reinterpret_cast<HWND>(dialog.winId()), L"KR20170721100100");
    QCOMPARE(reinterpret_cast<quintptr>(value), quintptr(170721));
#else
    QLocalSocket socket;
    socket.connectToServer(markerEndpoint(kConsoleMarker, QCoreApplication::applicationPid()));
    QTRY_VERIFY(socket.canReadLine());
    QCOMPARE(socket.readLine(), QByteArray("170721\n"));
#endif
}

void ConsoleShellTest::markerFindsByValueAndClosesOnRequest()
{
    // A marker name of this process alone, so that parallel test programs do not meet.
    const QByteArray name = "ORVTEST" + QByteArray::number(QCoreApplication::applicationPid());
    QWidget window;
    setInstanceMarker(&window, name.constData(), 5);
    window.show();

    auto found = std::async(std::launch::async, [&name] { return findMarkedWindow(name.constData(), 5); });
    QTRY_VERIFY(found.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
    const std::optional<MarkedWindow> marked = found.get();
    QVERIFY(marked);
#ifdef _WIN32
    QCOMPARE(marked->handle, static_cast<quintptr>(window.winId()));
#else
    QCOMPARE(marked->endpoint, markerEndpoint(name.constData(), QCoreApplication::applicationPid()));
#endif

    auto other = std::async(std::launch::async, [&name] { return findMarkedWindow(name.constData(), 6); });
    QTRY_VERIFY(other.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
    QVERIFY(!other.get());

    auto closed = std::async(std::launch::async, [&marked] { return closeMarkedWindow(*marked); });
    QTRY_VERIFY(closed.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
    QVERIFY(closed.get());
    // The request has been handled once it returns; on Windows Qt then delivers the close to the
    // widget through its own event queue.
    QTRY_VERIFY(!window.isVisible());
}

QTEST_MAIN(ConsoleShellTest)
#include "console_shell_test.moc"
