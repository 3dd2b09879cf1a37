// The activity log: message table, PostLog and OnAppendLog, Clear, Save and the text-file writer.

#include "console/activity_log.h"
#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/multi_line_edit.h"
#include "support/console_fixture.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTextCursor>

#include <unistd.h>

using namespace orv;
using namespace orv::testing;

namespace {

QByteArray utf16le(const QString& text)
{
    QByteArray bytes;
    for (QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString logText(const COrvCameraDlg& dialog)
{
    return dialog.dlgItemText(idc::kLog);
}

// Delivers what PostLog queued for the dialog, as its event loop would.
void runLog(COrvCameraDlg& dialog)
{
    QCoreApplication::sendPostedEvents(&dialog, kAppendLogEvent);
}

} // namespace

class ActivityLogTest : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        enterSeamTestMode();
        fixClock(2018, 3, 5, 14, 7, 9);
    }
    void cleanup()
    {
        setLocalClock(nullptr);
        leaveSeamTestMode();
    }

    void messageTableShape();
    void formatting_data();
    void formatting();
    void startupLineOnceTheLoopRuns_data();
    void startupLineOnceTheLoopRuns();
    void getWifiLineAtAFixedTime();
    void postingOrderWithTheTimeOfAppending();
    void emptyArgumentIsNotFormatted();
    void languageOutsideTheTableUsesRowZero();
    void appendGoesToTheEndDroppingTheSelection();
    void clearLogsNothing();
    void saveWritesUtf16WithoutMark();
    void saveTwiceAppends();
    void saveEmptyBoxCreatesTheFile();
    void saveCancelledDoesNothing();
    void saveProposesTheDocumentsFolderWhenSettingsArePerUser_data();
    void saveProposesTheDocumentsFolderWhenSettingsArePerUser();
    void saveToUnwritableTargetLogsTheFailure_data();
    void saveToUnwritableTargetLogsTheFailure();
    void appendTextFileKeepsTheFileOnFailure();
};

void ActivityLogTest::messageTableShape()
{
    QCOMPARE(kLogMessageCount, 39);
    for (std::uint8_t language = 0; language < 3; ++language) {
        for (int n = 0; n < kLogMessageCount; ++n) {
            const std::u16string_view text = logMessageText(language, n);
            QVERIFY(!text.empty());
            QVERIFY(text.size() <= 64); // fits a slot of 65 units with its terminator
            const bool placeholder = text.find(u"%s") != std::u16string_view::npos;
            QCOMPARE(placeholder, (n >= 15 && n <= 18) || n >= static_cast<int>(LogMessage::SaveLogFail));
            if (n == 28) {
                QVERIFY(text.ends_with(u"rndis\n"));
            } else {
                QVERIFY(text.ends_with(u" ...\r\n") || text.ends_with(u"SearchTool...\r\n"));
            }
        }
        QVERIFY(logMessageText(language, -1).empty());
        QVERIFY(logMessageText(language, kLogMessageCount).empty());
    }
    QVERIFY(logMessageText(1, 8) == u"恢復出廠 ...\r\n");
    QVERIFY(logMessageText(2, static_cast<int>(LogMessage::SaveLogFail)) == u"save log fail: %s ...\r\n");
    QVERIFY(logMessageText(0, 1) == u"登录成功 ...\r\n");
}

void ActivityLogTest::formatting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("result");
    // clang-format off
    QTest::newRow("argument in place") << "get %s success ...\r\n" << "device info" << "get device info success ...\r\n";
    QTest::newRow("no argument, verbatim") << "get %s 100% ...\r\n" << "" << "get %s 100% ...\r\n";
    QTest::newRow("percent sign escaped") << "%s at 100%%" << "4g" << "4g at 100%";
    QTest::newRow("argument with percent") << "set %s ok" << "%s%d" << "set %s%d ok";
    QTest::newRow("one argument only") << "%s and %s" << "time" << "time and ";
    QTest::newRow("trailing percent") << "done %" << "x" << "done %";
    // clang-format on
}

void ActivityLogTest::formatting()
{
    QFETCH(QString, text);
    QFETCH(QString, argument);
    QFETCH(QString, result);
    QCOMPARE(formatLogMessage(text.toStdU16String(), argument.toStdU16String()), result);
}

void ActivityLogTest::startupLineOnceTheLoopRuns_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("line");
    // clang-format off
    QTest::newRow("simplified chinese") << 0 << "[2018-03-05 14:07:09] Orv工具启动 ...\r\n";
    QTest::newRow("traditional chinese") << 1 << "[2018-03-05 14:07:09] Orv工具啟動 ...\r\n";
    QTest::newRow("english") << 2 << "[2018-03-05 14:07:09] program startup ...\r\n";
    // clang-format on
}

void ActivityLogTest::startupLineOnceTheLoopRuns()
{
    QFETCH(int, language);
    QFETCH(QString, line);
    TestSettings settings(language);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    QCOMPARE(logText(dialog), QString());
    QTRY_COMPARE(logText(dialog), line);
}

void ActivityLogTest::getWifiLineAtAFixedTime()
{
    TestSettings settings(2);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    runLog(dialog);
    dialog.OnClearLog();
    PostLog(&dialog, LogMessage::GetSuccess, u"wifi");
    runLog(dialog);
    QCOMPARE(logText(dialog), QStringLiteral("[2018-03-05 14:07:09] get wifi success ...\r\n"));
    QCOMPARE(dialog.dlgItem<MultiLineEdit>(idc::kLog)->toPlainText(),
             QStringLiteral("[2018-03-05 14:07:09] get wifi success ...\n"));
}

void ActivityLogTest::postingOrderWithTheTimeOfAppending()
{
    TestSettings settings(2);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    runLog(dialog);
    dialog.OnClearLog();
    int second = 0;
    setLocalClock([&second] { return LocalDateTime{2018, 3, 5, 23, 59, second++}; });
    // Posted within one handler: each line carries the time at which it was appended.
    PostLog(&dialog, LogMessage::LoginSuccess);
    PostLog(&dialog, LogMessage::OpenRndis);
    PostLog(&dialog, LogMessage::SetFail, u"gb28181");
    QCOMPARE(second, 0);
    runLog(dialog);
    QCOMPARE(logText(dialog), QStringLiteral("[2018-03-05 23:59:00] login success ...\r\n"
                                             "[2018-03-05 23:59:01] open rndis\n"
                                             "[2018-03-05 23:59:02] set gb28181 fail ...\r\n"));
}

void ActivityLogTest::emptyArgumentIsNotFormatted()
{
    TestSettings settings(2);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    runLog(dialog);
    dialog.OnClearLog();
    PostLog(&dialog, LogMessage::GetSuccess);
    PostLog(&dialog, 99);
    PostLog(nullptr, LogMessage::LoginFail);
    runLog(dialog);
    QCOMPARE(logText(dialog), QStringLiteral("[2018-03-05 14:07:09] get %s success ...\r\n"));
}

void ActivityLogTest::languageOutsideTheTableUsesRowZero()
{
    TestSettings settings(7);
    QCOMPARE(*settings.settings().language, std::uint8_t{7});
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    runLog(dialog);
    QCOMPARE(logText(dialog), QStringLiteral("[2018-03-05 14:07:09] Orv工具启动 ...\r\n"));
}

void ActivityLogTest::appendGoesToTheEndDroppingTheSelection()
{
    TestSettings settings(2);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    runLog(dialog);
    PostLog(&dialog, LogMessage::TimeSync);
    runLog(dialog);
    auto* box = dialog.dlgItem<MultiLineEdit>(idc::kLog);
    QTextCursor selection(box->document());
    selection.setPosition(3);
    selection.setPosition(12, QTextCursor::KeepAnchor);
    box->setTextCursor(selection);
    QVERIFY(box->textCursor().hasSelection());

    PostLog(&dialog, LogMessage::Factory);
    runLog(dialog);
    QVERIFY(logText(dialog).endsWith(QStringLiteral("] time sync ...\r\n[2018-03-05 14:07:09] factory ...\r\n")));
    QVERIFY(!box->textCursor().hasSelection());
    QCOMPARE(box->textCursor().position(), box->document()->characterCount() - 1);
    QVERIFY(!box->document()->isUndoAvailable());
}

void ActivityLogTest::clearLogsNothing()
{
    TestSettings settings(2);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    runLog(dialog);
    dialog.OnClearLog();
    runLog(dialog);
    QCOMPARE(logText(dialog), QString());
    QCOMPARE(dialog.dlgItem<MultiLineEdit>(idc::kLog)->toPlainText(), QString());
}

void ActivityLogTest::saveWritesUtf16WithoutMark()
{
    TestSettings settings(2);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    runLog(dialog);
    PostLog(&dialog, LogMessage::OpenRndis);
    runLog(dialog);
    const QString before = logText(dialog);

    const QString target = settings.path(QStringLiteral("saved log.txt"));
    FileDialog::instance().setNextFileName(target);
    dialog.OnSaveLog();

    const QByteArray bytes = readAll(target);
    QVERIFY(bytes.startsWith(QByteArray("[\0002\0000\0001\0008\0", 10)));
    QCOMPARE(bytes, utf16le(before));
    runLog(dialog);
    QCOMPARE(logText(dialog), before + QStringLiteral("[2018-03-05 14:07:09] save log ...\r\n"));

    QCOMPARE(FileDialog::instance().prompts().size(), 1);
    const FilePrompt& prompt = FileDialog::instance().prompts().constFirst();
    QCOMPARE(prompt.kind, FilePrompt::Kind::Save);
    QCOMPARE(prompt.filter, QStringLiteral("文本文档(*.txt)|*.txt||"));
    QCOMPARE(prompt.defaultSuffix, QStringLiteral("txt"));
    QVERIFY(!prompt.confirmOverwrite);
    QCOMPARE(QDir::fromNativeSeparators(prompt.proposedName),
             QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("log-20180305.txt")));
}

void ActivityLogTest::saveTwiceAppends()
{
    TestSettings settings(2);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    runLog(dialog);
    const QString text = logText(dialog);
    const QString target = settings.path(QStringLiteral("log.txt"));
    FileDialog::instance().setNextFileName(target);
    FileDialog::instance().setNextFileName(target);
    dialog.OnSaveLog();
    const QString afterFirst = text; // the "save log" line arrives after the save
    dialog.OnSaveLog();
    QCOMPARE(readAll(target), utf16le(afterFirst) + utf16le(afterFirst));
    QCOMPARE(FileDialog::instance().prompts().size(), 2);
}

void ActivityLogTest::saveEmptyBoxCreatesTheFile()
{
    TestSettings settings(2);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    runLog(dialog);
    dialog.OnClearLog();
    const QString target = settings.path(QStringLiteral("empty.txt"));
    FileDialog::instance().setNextFileName(target);
    dialog.OnSaveLog();
    QVERIFY(QFile::exists(target));
    QCOMPARE(QFileInfo(target).size(), 0);
    runLog(dialog);
    QCOMPARE(logText(dialog), QStringLiteral("[2018-03-05 14:07:09] save log ...\r\n"));
}

void ActivityLogTest::saveCancelledDoesNothing()
{
    TestSettings settings(2);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    runLog(dialog);
    const QString before = logText(dialog);
    FileDialog::instance().setNextFileName(QString());
    dialog.OnSaveLog();
    runLog(dialog);
    QCOMPARE(logText(dialog), before);
    QVERIFY(QDir(settings.folder()).entryList({QStringLiteral("*.txt")}).isEmpty());
}

void ActivityLogTest::saveProposesTheDocumentsFolderWhenSettingsArePerUser_data()
{
    QTest::addColumn<bool>("perUser");
    QTest::addColumn<QString>("folder");
    QTest::newRow("program folder") << false << QCoreApplication::applicationDirPath();
    QTest::newRow("installed") << true << QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

void ActivityLogTest::saveProposesTheDocumentsFolderWhenSettingsArePerUser()
{
    QFETCH(bool, perUser);
    QFETCH(QString, folder);
    TestSettings settings(2);
    settings.settings().perUser = perUser;
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    FileDialog::instance().setNextFileName(QString());
    dialog.OnSaveLog();
    QCOMPARE(FileDialog::instance().prompts().size(), 1);
    QCOMPARE(QDir::fromNativeSeparators(FileDialog::instance().prompts().constFirst().proposedName),
             QDir(folder).filePath(QStringLiteral("log-20180305.txt")));
}

void ActivityLogTest::saveToUnwritableTargetLogsTheFailure_data()
{
    QTest::addColumn<QString>("kind");
    // clang-format off
    QTest::newRow("read-only file") << "read-only";
    QTest::newRow("folder") << "folder";
    QTest::newRow("inside a file") << "inside a file";
    // clang-format on
}

void ActivityLogTest::saveToUnwritableTargetLogsTheFailure()
{
    QFETCH(QString, kind);
    TestSettings settings(2);
    const QString existing = settings.path(QStringLiteral("existing.txt"));
    {
        QFile f(existing);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("kept");
    }
    QString target = existing;
    if (kind == QLatin1String("read-only")) {
#ifndef _WIN32
        if (::geteuid() == 0) {
            QSKIP("the superuser writes read-only files");
        }
#endif
        QVERIFY(QFile::setPermissions(existing, QFile::ReadOwner));
        // Wine run by the superuser ignores the read-only attribute as well.
        if (QFile probe(existing); probe.open(QIODevice::Append)) {
            QSKIP("this user writes read-only files");
        }
    } else if (kind == QLatin1String("folder")) {
        target = settings.folder();
    } else {
        target = existing + QStringLiteral("/log.txt");
    }
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    runLog(dialog);
    const QString before = logText(dialog);
    FileDialog::instance().setNextFileName(target);
    dialog.OnSaveLog();
    runLog(dialog);
    // The line names the file and says why, as the system words it.
    const QString added = logText(dialog).mid(before.size());
    const QString named =
        QStringLiteral("[2018-03-05 14:07:09] save log fail: ") + QDir::toNativeSeparators(target) + QStringLiteral(": ");
    QVERIFY2(added.startsWith(named) && added.size() > named.size() + 6 && added.endsWith(QStringLiteral(" ...\r\n")),
             qPrintable(added));
    QCOMPARE(readAll(existing), QByteArray("kept"));
}

void ActivityLogTest::appendTextFileKeepsTheFileOnFailure()
{
    TestSettings settings(2);
    const QString path = settings.path(QStringLiteral("new.txt"));
    QVERIFY(AppendTextFile(path, QStringLiteral("a\r\n")));
    QVERIFY(AppendTextFile(path, QString()));
    QVERIFY(AppendTextFile(path, QStringLiteral("中")));
    QCOMPARE(readAll(path), QByteArray("a\0\r\0\n\0\x2D\x4E", 8));
    QVERIFY(!AppendTextFile(settings.folder(), QStringLiteral("x")));
    QVERIFY(!AppendTextFile(QString(), QStringLiteral("x")));
}

QTEST_MAIN(ActivityLogTest)
#include "activity_log_test.moc"
