// The template builder, the IP address field and the address parser.

#include "console/about_dlg.h"
#include "dialogkit/address_text.h"
#include "dialogkit/dialog_builder.h"
#include "dialogkit/file_dialog.h"
#include "dialogkit/ip_address_edit.h"
#include "dialogkit/message_box.h"
#include "dialogkit/template_dialog.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

using namespace orv;

class DialogTemplateTest : public QObject
{
    Q_OBJECT
private slots:
    void dialogUnitsScaleWithBaseUnits_data();
    void dialogUnitsScaleWithBaseUnits();
    void baseUnitsFollowTheFont();
    void everyControlInTemplateOrderWithItsId_data();
    void everyControlInTemplateOrderWithItsId();
    void controlsSitInsideTheirGroup();
    void tabOrderIsTemplateOrder();
    void groupBoxesLeaveClicksToTheirControls();
    void aboutBoxOkEndsIt();
    void ipFieldTyping_data();
    void ipFieldTyping();
    void ipFieldEmptyOctetsReadAsZero();
    void addressText_data();
    void addressText();
    void fileFilterForQt_data();
    void fileFilterForQt();
    void seamsAnswerFromTheQueueAndReportTheRest();
};

void DialogTemplateTest::dialogUnitsScaleWithBaseUnits_data()
{
    QTest::addColumn<QRect>("units");
    QTest::addColumn<QSize>("base");
    QTest::addColumn<QRect>("pixels");
    // clang-format off
    QTest::newRow("console client, 6x13") << QRect(0, 0, 628, 373) << QSize(6, 13) << QRect(0, 0, 942, 606);
    QTest::newRow("login button, 6x13") << QRect(102, 89, 70, 14) << QSize(6, 13) << QRect(153, 145, 105, 23);
    QTest::newRow("login button, 7x16") << QRect(102, 89, 70, 14) << QSize(7, 16) << QRect(179, 178, 123, 28);
    QTest::newRow("half rounds up") << QRect(1, 1, 2, 4) << QSize(6, 4) << QRect(2, 1, 3, 2);
    // clang-format on
}

void DialogTemplateTest::dialogUnitsScaleWithBaseUnits()
{
    QFETCH(QRect, units);
    QFETCH(QSize, base);
    QFETCH(QRect, pixels);
    QCOMPARE(dialogUnitsToPixels(units, base), pixels);
}

void DialogTemplateTest::baseUnitsFollowTheFont()
{
    QFont small = QApplication::font();
    small.setPixelSize(10);
    QFont large = small;
    large.setPixelSize(30);
    const QSize s = dialogBaseUnits(small);
    const QSize l = dialogBaseUnits(large);
    QVERIFY(s.width() > 0 && s.height() > 0);
    QVERIFY(l.width() >= 2 * s.width());
    QVERIFY(l.height() >= 2 * s.height());
}

void DialogTemplateTest::everyControlInTemplateOrderWithItsId_data()
{
    QTest::addColumn<int>("templateId");
    QTest::addColumn<int>("count");
    // clang-format off
    QTest::newRow("about 100") << res::kAboutDialog << 4;
    QTest::newRow("console 102") << res::kConsoleDialog << 89;
    QTest::newRow("gb28181 129") << res::kGb28181Dialog << 23;
    QTest::newRow("search tool 131") << res::kSearchToolDialog << 28;
    // clang-format on
}

void DialogTemplateTest::everyControlInTemplateOrderWithItsId()
{
    QFETCH(int, templateId);
    QFETCH(int, count);
    TemplateDialog dialog(templateId);
    const res::DialogTemplate* t = dialog.dialogTemplate();
    QVERIFY(t);
    QCOMPARE(static_cast<int>(t->controls.size()), count);
    QCOMPARE(dialog.controlsInOrder().size(), count);
    QCOMPARE(dialog.size(), dialogUnitsToPixels(QRect(0, 0, t->width, t->height), dialog.baseUnits()).size());
    for (int i = 0; i < count; ++i) {
        const res::ControlTemplate& c = t->controls[static_cast<std::size_t>(i)];
        QWidget* w = dialog.controlsInOrder()[i];
        QCOMPARE(w->property(kControlIdProperty).toInt(), c.id);
        if (c.id != res::kStaticId) {
            QCOMPARE(dialog.GetDlgItem(c.id), w);
        }
        const QRect placed = dialogUnitsToPixels(QRect(c.x, c.y, c.w, c.h), dialog.baseUnits());
        if (w->layoutDirection() == Qt::LeftToRight) {
            QCOMPARE(w->pos(), placed.topLeft());
        } else {
            QCOMPARE(w->geometry().topRight(), placed.topRight());
        }
        QCOMPARE(w->isHidden(), (c.style & res::StyleHidden) != 0);
    }
    QVERIFY(!dialog.GetDlgItem(4242));
}

// The group column names the box whose rectangle holds the control; a typo in a coordinate
// shows up here.
void DialogTemplateTest::controlsSitInsideTheirGroup()
{
    const res::DialogTemplate* t = res::findDialogTemplate(res::kConsoleDialog);
    QVERIFY(t);
    for (const res::ControlTemplate& c : t->controls) {
        if (c.group.empty() || c.group == u"none") {
            continue;
        }
        const res::ControlTemplate* box = nullptr;
        for (const res::ControlTemplate& g : t->controls) {
            if (g.kind == res::ControlKind::GroupBox && g.caption == c.group) {
                box = &g;
            }
        }
        QVERIFY2(box, qPrintable(QString::number(c.id)));
        const int height = c.kind == res::ControlKind::ComboBox ? 14 : c.h;
        QVERIFY2(QRect(box->x, box->y, box->w, box->h).contains(QRect(c.x, c.y, c.w, height)),
                 qPrintable(QString::number(c.id)));
    }
}

void DialogTemplateTest::tabOrderIsTemplateOrder()
{
    TemplateDialog dialog(res::kConsoleDialog);
    QList<QWidget*> expected;
    for (QWidget* w : dialog.controlsInOrder()) {
        if (w->focusPolicy() & Qt::TabFocus) {
            expected.append(w->focusProxy() ? w->focusProxy() : w);
        }
    }
    QCOMPARE(expected.size(), 57);
    QList<QWidget*> chain;
    QWidget* w = expected.first();
    for (int step = 0; step < 1000 && chain.size() < expected.size(); ++step, w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) && !w->focusProxy()) {
            chain.append(w);
        }
    }
    QCOMPARE(chain, expected);
}

void DialogTemplateTest::groupBoxesLeaveClicksToTheirControls()
{
    TemplateDialog dialog(res::kConsoleDialog);
    for (int id : {1078, 1007, 1087, 1042}) {
        QWidget* control = dialog.GetDlgItem(id);
        QCOMPARE(dialog.childAt(control->geometry().center())->property(kControlIdProperty).toInt(), id);
    }
}

void DialogTemplateTest::aboutBoxOkEndsIt()
{
    CAboutDlg about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About OrvCamera"));
    QCOMPARE(qobject_cast<QLabel*>(about.controlsInOrder().at(1))->text(), QStringLiteral("OrvCamera, Version 1.1"));
    QSignalSpy accepted(&about, &QDialog::accepted);
    about.show();
    QTest::keyClick(&about, Qt::Key_Return);
    QCOMPARE(accepted.count(), 1);
}

void DialogTemplateTest::ipFieldTyping_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("address");
    // clang-format off
    QTest::newRow("dots move on") << "10.1.2.3" << "10.1.2.3";
    QTest::newRow("three digits move on") << "192168002158" << "192.168.2.158";
    QTest::newRow("above 255 is 255") << "300.999.1.1" << "255.255.1.1";
    QTest::newRow("dot in an empty octet stays") << "..7" << "7.0.0.0";
    QTest::newRow("letters ignored") << "1a2.b3" << "12.3.0.0";
    // clang-format on
}

void DialogTemplateTest::ipFieldTyping()
{
    QFETCH(QString, typed);
    QFETCH(QString, address);
    QWidget window;
    auto* ip = new IpAddressEdit(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    ip->setFocus();
    for (QChar c : typed) {
        QTest::keyClicks(QApplication::focusWidget(), QString(c));
    }
    QCOMPARE(ip->text(), address);
}

void DialogTemplateTest::ipFieldEmptyOctetsReadAsZero()
{
    IpAddressEdit ip;
    QVERIFY(ip.isBlank());
    QCOMPARE(ip.text(), QStringLiteral("0.0.0.0"));
    ip.setAddress({127, 0, 0, 1});
    QCOMPARE(ip.field(3)->text(), QStringLiteral("1"));
    QCOMPARE(ip.address(), (Octets{127, 0, 0, 1}));
    ip.field(2)->clear();
    QCOMPARE(ip.text(), QStringLiteral("127.0.0.1"));
    QVERIFY(!ip.isBlank());
}

void DialogTemplateTest::addressText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("octets");
    // clang-format off
    QTest::newRow("plain") << "192.168.2.158" << "192.168.2.158";
    QTest::newRow("modulo 256") << "256.257.511.1000" << "0.1.255.232";
    QTest::newRow("leading zeros are decimal") << "010.08.0.001" << "10.8.0.1";
    QTest::newRow("missing parts") << "10.20" << "10.20.0.0";
    QTest::newRow("empty part stops") << "10..30.40" << "10.0.0.0";
    QTest::newRow("sign stops") << "10.-1.30.40" << "10.0.0.0";
    QTest::newRow("blank stops") << " 10.20.30.40" << "0.0.0.0";
    QTest::newRow("junk after digits") << "10x.20y.30.40z" << "10.20.30.40";
    QTest::newRow("seven digits") << "1.9999999.3.4" << "1.127.3.4";
    QTest::newRow("eight digits stop") << "1.99999999.3.4" << "1.0.0.0";
    QTest::newRow("ends at zero unit") << QStringLiteral("1.2") + QChar(0) + QStringLiteral(".3.4") << "1.2.0.0";
    QTest::newRow("empty") << "" << "0.0.0.0";
    QTest::newRow("fifth part ignored") << "1.2.3.4.5" << "1.2.3.4";
    // clang-format on
}

void DialogTemplateTest::addressText()
{
    QFETCH(QString, text);
    QFETCH(QString, octets);
    const auto o = parseAddressText(text.toStdU16String());
    QCOMPARE(QStringLiteral("%1.%2.%3.%4").arg(o[0]).arg(o[1]).arg(o[2]).arg(o[3]), octets);
}

void DialogTemplateTest::fileFilterForQt_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("qt");
    // clang-format off
    QTest::newRow("log file") << "文本文档(*.txt)|*.txt||" << "文本文档(*.txt)";
    QTest::newRow("patterns added") << "XML|*.xml||" << "XML (*.xml)";
    QTest::newRow("two filters") << "Text (*.txt)|*.txt|All|*.*;*||" << "Text (*.txt);;All (*.* *)";
    QTest::newRow("empty") << "" << "";
    // clang-format on
}

void DialogTemplateTest::fileFilterForQt()
{
    QFETCH(QString, filter);
    QFETCH(QString, qt);
    QCOMPARE(qtFileFilter(filter), qt);
}

void DialogTemplateTest::seamsAnswerFromTheQueueAndReportTheRest()
{
    QList<FilePrompt> unansweredFiles;
    QList<MessagePrompt> unansweredBoxes;
    FileDialog& files = FileDialog::instance();
    MessageBox& boxes = MessageBox::instance();
    files.enterTestMode([&](const FilePrompt& p) { unansweredFiles.append(p); });
    boxes.enterTestMode([&](const MessagePrompt& p) { unansweredBoxes.append(p); });

    files.setNextFileName(QStringLiteral("/tmp/a.xml"));
    QCOMPARE(files.getOpenFileName(nullptr, QStringLiteral("Open"), QStringLiteral("b.xml"),
                                   QStringLiteral("XML|*.xml||"), QStringLiteral("xml")),
             QStringLiteral("/tmp/a.xml"));
    QCOMPARE(files.getSaveFileName(nullptr, QString(), QStringLiteral("c.txt"), QString(), QString(), true), QString());
    QCOMPARE(files.prompts().size(), 2);
    QCOMPARE(files.prompts()[0].kind, FilePrompt::Kind::Open);
    QCOMPARE(files.prompts()[0].title, QStringLiteral("Open"));
    QCOMPARE(files.prompts()[0].proposedName, QStringLiteral("b.xml"));
    QCOMPARE(unansweredFiles.size(), 1);
    QCOMPARE(unansweredFiles[0].proposedName, QStringLiteral("c.txt"));
    QVERIFY(unansweredFiles[0].confirmOverwrite);

    boxes.setNextAnswer(QMessageBox::Ok);
    QCOMPARE(boxes.show(nullptr, QStringLiteral("Get NetworkProtocol Error")), QMessageBox::Ok);
    QCOMPARE(boxes.show(nullptr, QStringLiteral("Save NetworkProtocol Fail!")), QMessageBox::NoButton);
    QCOMPARE(boxes.prompts().size(), 2);
    QCOMPARE(boxes.prompts()[0].text, QStringLiteral("Get NetworkProtocol Error"));
    QCOMPARE(unansweredBoxes.size(), 1);
    QCOMPARE(unansweredBoxes[0].text, QStringLiteral("Save NetworkProtocol Fail!"));

    files.leaveTestMode();
    boxes.leaveTestMode();
    QVERIFY(files.prompts().isEmpty());
    QCOMPARE(boxes.queuedAnswers(), 0);
}

QTEST_MAIN(DialogTemplateTest)
#include "dialog_template_test.moc"
