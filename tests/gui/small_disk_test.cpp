// The files the windows write, on a disk that fills: the settings file, the search tool's window
// file, a setup file and a saved log, each written while a small file system of the test's own
// (tests/faults/small_disk_run.sh) is full to the last byte. A file that existed stays byte for
// byte as it was, nothing half made is left behind, the console says the save failed; once room
// is made the same step succeeds. And the search tool's ledger file there, with less room than is
// kept for the outcomes: no camera is sent anything, and the window says why. Skipped unless
// ORV_SMALL_DISK names such a disk.

#include "console/activity_log.h"
#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "persist/atomic_file.h"
#include "persist/ini_file.h"
#include "persist/settings.h"
#include "persist/setup_document.h"
#include "searchtool/search_tool_layout.h"
#include "search_tool_fleet.h"
#include "support/console_fixture.h"
#include "support/log_lines.h"
#include "tests/support/small_disk.h"

#include <QHeaderView>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <filesystem>
#include <set>
#include <string>

using namespace orv;
using namespace orv::testing;
namespace fs = std::filesystem;

namespace {

QString qpath(const fs::path& file)
{
    return QString::fromStdU16String(file.u16string());
}

QByteArray readAll(const fs::path& file)
{
    return readFile(qpath(file));
}

QByteArray utf16Le(const QString& text)
{
    QByteArray bytes;
    for (const QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

QString namesText(const std::set<std::string>& names)
{
    QStringList list;
    for (const std::string& name : names) {
        list << QString::fromStdString(name);
    }
    return list.join(QStringLiteral(", "));
}

} // namespace

class SmallDiskTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        const auto disk = orv::test::smallDisk();
        if (!disk) {
            QSKIP("no small disk of the test's own (tests/faults/small_disk_run.sh gives one)");
        }
        disk_ = *disk;
    }
    void init()
    {
        enterSeamTestMode();
        fixClock(2018, 3, 5, 14, 7, 9);
        orv::test::emptyFolder(disk_);
    }
    void cleanup()
    {
        setLocalClock(nullptr);
        leaveSeamTestMode();
        orv::test::emptyFolder(disk_);
    }

    void settingsFileKeptWholeOnAFullDisk();
    void searchToolWindowFileKeptWholeOnAFullDisk();
    void setupFileSavedWholeOrNotAtAll_data();
    void setupFileSavedWholeOrNotAtAll();
    void logSavedWholeOrNotAtAll_data();
    void logSavedWholeOrNotAtAll();
    void searchToolStartsNoCameraWithoutRoomForItsOutcome();

private:
    // Fills the disk; fails the test when it could not be filled.
    bool fill()
    {
        if (!orv::test::fillDisk(disk_)) {
            QTest::qFail("the small disk could not be filled", __FILE__, __LINE__);
            return false;
        }
        return true;
    }

    fs::path disk_;
};

void SmallDiskTest::settingsFileKeptWholeOnAFullDisk()
{
    CSettings::ResetForTests();
    CSettings& settings = CSettings::GetInstance();
    settings.languagePath = sourceLanguageFile().toStdU16String();
    settings.Init(disk_);
    const fs::path file = settings.setupPath;
    QCOMPARE(file.parent_path(), disk_);
    settings.SaveLanguage(1);
    settings.RememberLogin(true, u"127.0.0.5", u"admin", u"first");
    const QByteArray before = readAll(file);
    QVERIFY(before.contains("LangKey=1"));
    const std::set<std::string> names = orv::test::namesIn(disk_);

    if (!fill()) {
        return;
    }
    settings.SaveLanguage(2);
    settings.SavePlatform(1);
    settings.RememberLogin(true, u"127.0.0.6", u"operator", u"a longer password than before");
    QCOMPARE(readAll(file), before);
    QCOMPARE(namesText(orv::test::namesIn(disk_)), namesText(names));

    orv::test::makeRoom(disk_);
    settings.SaveLanguage(2);
    settings.RememberLogin(true, u"127.0.0.6", u"operator", u"a longer password than before");
    const IniFile ini = IniFile::load(file);
    QCOMPARE(ini.readInt(kLanguageSection, kLanguageKey, -1), 2);
    CSettings::ResetForTests();
    CSettings& reread = CSettings::GetInstance();
    reread.Init(disk_);
    reread.LoadUser();
    QVERIFY(reread.login);
    QCOMPARE(reread.login->ip(), std::u16string(u"127.0.0.6"));
    CSettings::ResetForTests();
}

void SmallDiskTest::searchToolWindowFileKeptWholeOnAFullDisk()
{
    const fs::path file = disk_ / "orv_searchtool.ini";
    QTreeWidget list;
    list.setColumnCount(3);
    list.header()->setStretchLastSection(false);
    for (int i = 0; i < 3; ++i) {
        list.setColumnWidth(i, 100);
    }
    search::ColumnWidthMemory memory(file);
    memory.restoreColumns(list.header());
    list.setColumnWidth(0, 150);
    QVERIFY(memory.save());
    const QByteArray before = readAll(file);
    QVERIFY2(before.contains("ColumnWidths=150,100,100"), before.constData());

    if (!fill()) {
        return;
    }
    list.setColumnWidth(1, 220);
    QVERIFY(!memory.save());
    QCOMPARE(readAll(file), before);
    QCOMPARE(namesText(orv::test::namesIn(disk_)), QStringLiteral("orv_searchtool.ini"));

    orv::test::makeRoom(disk_);
    QVERIFY(memory.save());
    QVERIFY2(readAll(file).contains("ColumnWidths=150,220,100"), readAll(file).constData());
}

void SmallDiskTest::setupFileSavedWholeOrNotAtAll_data()
{
    QTest::addColumn<bool>("existing");
    QTest::newRow("a new file") << false;
    QTest::newRow("a file saved before") << true;
}

void SmallDiskTest::setupFileSavedWholeOrNotAtAll()
{
    QFETCH(bool, existing);
    TestSettings settings(2);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    takeLog(dialog);
    const fs::path file = disk_ / "unit setup.xml";
    dialog.setDlgItemText(idc::kSsid, QStringLiteral("Before"));
    if (existing) {
        FileDialog::instance().setNextFileName(qpath(file));
        dialog.OnSaveSetup();
        QCOMPARE(takeLog(dialog), QStringList{QStringLiteral("save user setup ...")});
    }
    const QByteArray before = readAll(file);
    const std::set<std::string> names = orv::test::namesIn(disk_);

    if (!fill()) {
        return;
    }
    dialog.setDlgItemText(idc::kSsid, QStringLiteral("Full"));
    FileDialog::instance().setNextFileName(qpath(file));
    dialog.OnSaveSetup();
    QCOMPARE(takeLog(dialog), QStringList{QStringLiteral("save user setup fail: %1 ...").arg(qpath(file))});
    QCOMPARE(fs::exists(file), existing);
    QCOMPARE(readAll(file), before);
    QCOMPARE(namesText(orv::test::namesIn(disk_)), namesText(names));

    orv::test::makeRoom(disk_);
    FileDialog::instance().setNextFileName(qpath(file));
    dialog.OnSaveSetup();
    QCOMPARE(takeLog(dialog), QStringList{QStringLiteral("save user setup ...")});
    const SetupReadResult read = loadSetupFile(file);
    QVERIFY2(read.ok(), read.message.c_str());
    SetupValues values;
    applySetupElements(values, read.elements);
    QCOMPARE(QString::fromStdU16String(values.ssid), QStringLiteral("Full"));
}

void SmallDiskTest::logSavedWholeOrNotAtAll_data()
{
    QTest::addColumn<bool>("existing");
    QTest::newRow("a new file") << false;
    QTest::newRow("a file saved to before") << true;
}

void SmallDiskTest::logSavedWholeOrNotAtAll()
{
    QFETCH(bool, existing);
    TestSettings settings(2);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    takeLog(dialog);
    const fs::path file = disk_ / "log-20180305.txt";
    if (existing) {
        // Ends 10 bytes before a page's end: tmpfs keeps whole pages, so the disk takes the first
        // 10 bytes of what is appended (the slack of the last page) and refuses the rest.
        QByteArray earlier = utf16Le(QStringLiteral("[2018-03-04 09:00:00] an earlier shift\r\n"));
        while (earlier.size() < 4086) {
            earlier += utf16Le(QStringLiteral("x"));
        }
        earlier.truncate(4086);
        writeFile(qpath(file), earlier);
    }
    const QByteArray before = readAll(file);
    const std::set<std::string> names = orv::test::namesIn(disk_);
    dialog.setDlgItemText(idc::kLog, QStringLiteral("[2018-03-05 14:07:00] a line of today's work\r\n"));

    if (!fill()) {
        return;
    }
    FileDialog::instance().setNextFileName(qpath(file));
    dialog.OnSaveLog();
    QCOMPARE(takeLog(dialog).last(), QStringLiteral("save log fail: %1: No space left on device ...").arg(qpath(file)));
    QCOMPARE(fs::exists(file), existing);
    QCOMPARE(readAll(file), before);
    QCOMPARE(namesText(orv::test::namesIn(disk_)), namesText(names));

    orv::test::makeRoom(disk_);
    const QString today = QStringLiteral("[2018-03-05 14:07:00] a line of today's work\r\n");
    dialog.setDlgItemText(idc::kLog, today);
    FileDialog::instance().setNextFileName(qpath(file));
    dialog.OnSaveLog();
    QCOMPARE(takeLog(dialog).last(), QStringLiteral("save log ..."));
    QCOMPARE(readAll(file), before + utf16Le(today));
}

void SmallDiskTest::searchToolStartsNoCameraWithoutRoomForItsOutcome()
{
    SearchToolFleet fleet("127.0.88.", 0);
    if (!fleet.start(2)) {
        QSKIP("no loopback addresses of 127.0.88.0/24 for the simulated cameras");
    }
    QTemporaryDir elsewhere; // the setup file, the inventory and the station's files: with room
    QVERIFY(elsewhere.isValid());
    qputenv("XDG_DATA_HOME", elsewhere.path().toUtf8());
    const auto restore = qScopeGuard([] { qunsetenv("XDG_DATA_HOME"); });
    const QString setup = elsewhere.filePath(QStringLiteral("unit.xml"));
    QVERIFY(saveUnitSetup(setup));
    const fs::path ledger = disk_ / "ledger.db";
    search::CSearchToolDlg dialog(fleet.options(qpath(ledger)));
    QVERIFY(openReady(dialog, fleet, setup, elsewhere.filePath(QStringLiteral("inventory.csv"))));

    QVERIFY(orv::test::fillDiskLeaving(disk_, 256 * 1024));
    MessageBox::instance().reset();
    MessageBox::instance().setNextAnswer(QMessageBox::Ok);
    click(dialog, search::sid::kApplyAll);
    QTRY_COMPARE_WITH_TIMEOUT(MessageBox::instance().prompts().size(), 1, 10000);
    const QString said = MessageBox::instance().prompts().last().text;
    QVERIFY2(said.startsWith(QStringLiteral("There is no room to record the outcomes: ") + qpath(ledger) +
                             QStringLiteral(": its disk has ")) &&
                 said.endsWith(QStringLiteral("Nothing was sent; make room on that disk first.")),
             qPrintable(said));
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.running(), 10000);
    QCOMPARE(setConfigFrames(fleet), std::size_t(0));

    orv::test::makeRoom(disk_);
    click(dialog, search::sid::kApplyAll);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.running(), 20000);
    for (const std::string& where : fleet.addresses) {
        QCOMPARE(cell(dialog, where, search::ColumnResult), QStringLiteral("ok"));
    }
}

QTEST_MAIN(SmallDiskTest)
#include "small_disk_test.moc"
