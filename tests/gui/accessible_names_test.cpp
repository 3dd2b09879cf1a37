// What a screen reader says for each input of the console, the GB28181 dialog and the search
// tool: walked through the windows' accessibility tree as an assistive tool walks it, every edit,
// combo box and check box has a name, the caption of the text that labels it in the form, in the
// window's language, and the names follow a language switch.

#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/control_names.h"
#include "dialogkit/dialog_builder.h"
#include "dialogkit/ip_address_edit.h"
#include "gb28181/gb28181_dlg.h"
#include "searchtool/search_tool_dlg.h"
#include "support/console_fixture.h"

#include <QAccessible>
#include <QComboBox>
#include <QLineEdit>
#include <QTemporaryDir>

#include <functional>
#include <utility>

using namespace orv;
using namespace orv::testing;

namespace {

using Pairs = QList<std::pair<int, int>>; // input id, id of the control whose caption names it

bool isInput(QAccessible::Role role)
{
    return role == QAccessible::EditableText || role == QAccessible::ComboBox || role == QAccessible::CheckBox;
}

// The name a screen reader says. On Linux a combo box's name is the row it shows: its label
// reaches the reader as the label relation.
QString spokenName(QAccessibleInterface* iface)
{
#ifdef Q_OS_UNIX
    if (iface->role() == QAccessible::ComboBox) {
        const auto labels = iface->relations(QAccessible::Label);
        return labels.isEmpty() ? QString() : labels.first().first->text(QAccessible::Name);
    }
#endif
    return iface->text(QAccessible::Name);
}

// Every input of the window's accessibility tree with what is said for it, keyed by the widget.
QHash<QObject*, QString> spokenInputs(QWidget* window)
{
    QHash<QObject*, QString> found;
    const std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* iface) {
        if (!iface) {
            return;
        }
        if (isInput(iface->role())) {
            found.insert(iface->object(), spokenName(iface));
        }
        for (int i = 0; i < iface->childCount(); ++i) {
            walk(iface->child(i));
        }
    };
    walk(QAccessible::queryAccessibleInterface(window));
    return found;
}

QStringList unnamed(const QHash<QObject*, QString>& inputs)
{
    QStringList out;
    for (auto it = inputs.begin(); it != inputs.end(); ++it) {
        if (it.value().trimmed().isEmpty()) {
            out << it.key()->objectName() + "/" + it.key()->parent()->objectName();
        }
    }
    return out;
}

// Each input of `pairs` is said as the caption of its label (check boxes: their own caption); the
// address field's octets with their place.
void expectNames(const TemplateDialog& dialog, const QHash<QObject*, QString>& inputs, const Pairs& pairs)
{
    for (const auto& [input, label] : pairs) {
        QWidget* widget = dialog.GetDlgItem(input);
        QVERIFY2(widget, qPrintable(QString::number(input)));
        const QString caption = dialog.dlgItemText(label);
        QVERIFY2(!caption.isEmpty(), qPrintable(QString::number(label)));
        if (auto* address = qobject_cast<IpAddressEdit*>(widget)) {
            for (int i = 0; i < 4; ++i) {
                QCOMPARE(inputs.value(address->field(i)), QStringLiteral("%1 (%2/4)").arg(caption).arg(i + 1));
            }
            continue;
        }
        QVERIFY2(inputs.contains(widget), qPrintable(QStringLiteral("control %1 not in the tree").arg(input)));
        QCOMPARE(inputs.value(widget), caption);
    }
}

// clang-format off
const Pairs kConsolePairs{
    {idc::kLanguage, 1049}, {idc::kCameraIp, 1083}, {idc::kUserName, 1011}, {idc::kPassword, 1012},
    {idc::kNewPassword, idc::kChangePasswd}, {idc::kHold, idc::kHold}, {idc::kUIdentify, idc::kUIdentify},
    {idc::kPlatform, 1023}, {idc::kServerIp, 1024}, {idc::kServerPort, 1026}, {idc::kRtsId, 1028},
    {idc::kRtsCode, 1030}, {idc::kApn, 1060}, {idc::kApnUser, 1061}, {idc::kApnPassword, 1062},
    {idc::kSsid, 1063}, {idc::kWifiPassword, 1064}, {idc::kWifiList, 1065}, {idc::kDeviceId, 1044},
    {idc::kPoliceId, 1076}, {idc::kPoliceName, 1050}, {idc::kCoId, 1077}, {idc::kCoName, 1082}, {1095, 1096},
    {idc::kSummerTime, idc::kSummerTime}, {idc::kTimeZone, idc::kTimeZoneLabel}, {1086, 1086}, {1093, 1091},
    {1090, 1092},
};
const Pairs kGb28181Pairs{
    {1084, 1096}, {1085, 1097}, {1086, 1098}, {1087, 1099}, {1088, 1100}, {1089, 1101}, {1045, 1102},
    {1091, 1103}, {1092, 1104}, {1093, 1105}, {1106, 1106},
};
const Pairs kSearchToolPairs{
    {search::sid::kSetupFile, search::sid::kSetupLabel}, {search::sid::kRosterFile, search::sid::kRosterLabel},
    {search::sid::kInventoryFile, search::sid::kInventoryLabel},
    {search::sid::kLedgerLocation, search::sid::kLedgerLabel}, {search::sid::kUser, search::sid::kUserLabel},
    {search::sid::kPassword, search::sid::kPasswordLabel}, {search::sid::kNotOnRoster, search::sid::kNotOnRoster},
};
// clang-format on

} // namespace

class AccessibleNamesTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { enterSeamTestMode(); }
    void cleanup() { leaveSeamTestMode(); }

    void layoutNamesEveryInputOnce();
    void consoleNamesFollowTheLanguage();
    void gb28181InputsAreNamed();
    void searchToolInputsAreNamed_data();
    void searchToolInputsAreNamed();
};

// The rule on the templates themselves: no control names two inputs, and nothing is named by a
// control that is no caption of its own line or heading.
void AccessibleNamesTest::layoutNamesEveryInputOnce()
{
    for (int id : {res::kConsoleDialog, res::kGb28181Dialog, res::kSearchToolDialog}) {
        const res::DialogTemplate& dialogTemplate = *res::findDialogTemplate(id);
        QSet<std::size_t> namers;
        for (const ControlNamer& pair : controlNamers(dialogTemplate)) {
            QVERIFY2(!namers.contains(pair.namer), qPrintable(QStringLiteral("%1: control %2 names two inputs")
                                                                  .arg(id)
                                                                  .arg(dialogTemplate.controls[pair.namer].id)));
            namers.insert(pair.namer);
        }
    }
    // The search tool's list is named by the heading above it; the console's log box by no
    // control of the form (the console names it).
    const auto namerOf = [](const res::DialogTemplate& t, int input) {
        for (const ControlNamer& pair : controlNamers(t)) {
            if (t.controls[pair.input].id == input) {
                return t.controls[pair.namer].id;
            }
        }
        return 0;
    };
    QCOMPARE(namerOf(*res::findDialogTemplate(res::kSearchToolDialog), search::sid::kCameraList),
             search::sid::kCamerasLabel);
    QCOMPARE(namerOf(*res::findDialogTemplate(res::kConsoleDialog), idc::kLog), 0);
}

void AccessibleNamesTest::consoleNamesFollowTheLanguage()
{
    TestSettings settings(2);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    dialog.show();

    QHash<QObject*, QString> inputs = spokenInputs(&dialog);
    // 20 edits, the address's 4 octets and the log; 4 combo boxes; 4 check boxes.
    QCOMPARE(inputs.size(), 33);
    QCOMPARE(unnamed(inputs), QStringList());
    expectNames(dialog, inputs, kConsolePairs);
    QCOMPARE(inputs.value(dialog.GetDlgItem(idc::kPassword)), QStringLiteral("Password"));
    QCOMPARE(inputs.value(dialog.GetDlgItem(idc::kNewPassword)), QStringLiteral("Change Password"));
    QCOMPARE(inputs.value(dialog.GetDlgItem(idc::kTimeZone)), QStringLiteral("Time Zone"));
    QCOMPARE(inputs.value(dialog.GetDlgItem(idc::kLog)), QStringLiteral("Log"));

    // The operator picks Simplified Chinese: every name is said in it at once.
    QTest::keyClick(dialog.languageCombo, Qt::Key_Home);
    QCOMPARE(dialog.languageCombo->currentIndex(), 0);
    const QHash<QObject*, QString> before = inputs;
    inputs = spokenInputs(&dialog);
    QCOMPARE(inputs.size(), 33);
    QCOMPARE(unnamed(inputs), QStringList());
    expectNames(dialog, inputs, kConsolePairs);
    QCOMPARE(inputs.value(dialog.GetDlgItem(idc::kPassword)), QStringLiteral("密码"));
    QCOMPARE(inputs.value(dialog.GetDlgItem(idc::kNewPassword)), QStringLiteral("修改密码"));
    QCOMPARE(inputs.value(dialog.GetDlgItem(idc::kTimeZone)), QStringLiteral("时区"));
    QCOMPARE(inputs.value(dialog.GetDlgItem(idc::kLog)), QStringLiteral("日志"));
    QCOMPARE(inputs.value(dialog.GetDlgItem(idc::kLanguage)), QStringLiteral("语言"));
    QVERIFY(inputs.value(dialog.GetDlgItem(idc::kHold)) != before.value(dialog.GetDlgItem(idc::kHold)));
}

void AccessibleNamesTest::gb28181InputsAreNamed()
{
    CGB28181Dlg dialog;
    dialog.show();
    const QHash<QObject*, QString> inputs = spokenInputs(&dialog);
    QCOMPARE(inputs.size(), 11);
    QCOMPARE(unnamed(inputs), QStringList());
    expectNames(dialog, inputs, kGb28181Pairs);
    QCOMPARE(inputs.value(dialog.GetDlgItem(1086)), QStringLiteral("密码"));
}

void AccessibleNamesTest::searchToolInputsAreNamed_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("password");
    QTest::newRow("simplified chinese") << 0 << QStringLiteral("密码");
    QTest::newRow("english") << 2 << QStringLiteral("Password");
}

void AccessibleNamesTest::searchToolInputsAreNamed()
{
    QFETCH(int, language);
    QFETCH(QString, password);
    QTemporaryDir folder;
    search::SearchToolOptions options;
    options.plan.cameraAddresses = {"127.0.84.250"}; // nothing listens there
    options.language = static_cast<std::uint8_t>(language);
    options.ledgerLocation = folder.filePath(QStringLiteral("ledger.db"));
    search::CSearchToolDlg dialog(options);
    QVERIFY(dialog.Create());
    dialog.show();

    const QHash<QObject*, QString> inputs = spokenInputs(&dialog);
    QCOMPARE(inputs.size(), 7);
    QCOMPARE(unnamed(inputs), QStringList());
    expectNames(dialog, inputs, kSearchToolPairs);
    QCOMPARE(inputs.value(dialog.GetDlgItem(search::sid::kPassword)), password);
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(dialog.GetDlgItem(search::sid::kCameraList));
    QCOMPARE(list->text(QAccessible::Name), dialog.dlgItemText(search::sid::kCamerasLabel));
}

QTEST_MAIN(AccessibleNamesTest)
#include "accessible_names_test.moc"
