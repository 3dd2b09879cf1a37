// The search tool's runs where something is not as usual: an inventory that cannot be written, a
// roster chosen without a setup file, no worker thread to be had, Retry failed after a camera set
// in this session was plugged in again, and the "Last configured" column, whose text comes from
// the ledger after the window was laid out.

#include "dialogkit/file_dialog.h"
#include "fleet/worker_pool.h"
#include "link/records.h"
#include "persist/setup_document.h"
#include "searchtool/search_tool_dlg.h"
#include "search_tool_fleet.h"
#include "tests/support/misbehaving_cameras.h"
#include "support/console_fixture.h"
#include "tools/camsim/simulated_camera.h"

#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QScopeGuard>
#include <QStyle>
#include <QTemporaryDir>
#include <QTreeWidget>

using namespace orv;
using namespace orv::search;
using namespace orv::testing;
using namespace std::chrono_literals;

namespace {

// Loopback addresses of this test's own.
constexpr int kFirstHost = 40;

struct Fleet : SearchToolFleet
{
    Fleet() : SearchToolFleet("127.0.84.", kFirstHost) {}
};

} // namespace

class SearchToolRunsTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        enterSeamTestMode();
        MessageBox::instance().reset();
        QVERIFY(folder_.isValid());
        setupFile_ = folder_.filePath(QStringLiteral("unit.xml"));
        QVERIFY(saveUnitSetup(setupFile_));
        const QString test = QLatin1String(QTest::currentTestFunction());
        inventoryFile_ = folder_.filePath(QStringLiteral("inventory-%1.csv").arg(test));
        ledger_ = folder_.filePath(QStringLiteral("ledger-%1.db").arg(test));
        qputenv("XDG_DATA_HOME", folder_.path().toUtf8());
    }
    void cleanup()
    {
        fleet::WorkerPool::failThreadStartsForTests(false);
        leaveSeamTestMode();
    }

    void anInventoryThatCannotBeWrittenStopsTheRunNamingTheFile()
    {
        Fleet fleet;
        if (!fleet.start(2)) {
            QSKIP("no loopback addresses of 127.0.84.0/24 for the simulated cameras");
        }
        CSearchToolDlg dialog(fleet.options(ledger_));
        QVERIFY(openReady(dialog, fleet));
        // A folder where the file should be: no one can write it, not even an administrator.
        const QString unwritable = folder_.filePath(QStringLiteral("a folder.csv"));
        QVERIFY(QDir(folder_.path()).mkdir(QStringLiteral("a folder.csv")));
        dialog.setDlgItemText(sid::kInventoryFile, unwritable);
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        click(dialog, sid::kApplyAll);
        QVERIFY(!dialog.running());
        QCOMPARE(MessageBox::instance().prompts().size(), 1);
        const QString said = MessageBox::instance().prompts().last().text;
        QVERIFY2(said.contains(unwritable) && said.contains(QStringLiteral("nothing was sent")), qPrintable(said));
        QTest::qWait(300); // a run that started anyway would have sent by now
        QCOMPARE(setConfigFrames(fleet), std::size_t(0));
    }

    void aRosterAloneGivesEachCameraOnItItsOfficerAndNothingElse()
    {
        Fleet fleet;
        if (!fleet.start(2)) {
            QSKIP("no loopback addresses of 127.0.84.0/24 for the simulated cameras");
        }
        const QString roster = folder_.filePath(QStringLiteral("roster.csv"));
        writeFile(roster,
                  "device_id,police_id,police_name,company_id,company_name\r\nCAM-1,PA,Officer A,U1,Unit One\r\n");
        CSearchToolDlg dialog(fleet.options(ledger_));
        QVERIFY(openReady(dialog, fleet));
        dialog.setDlgItemText(sid::kSetupFile, QString());
        dialog.setDlgItemText(sid::kRosterFile, roster);
        // Ticked, but without a setup file there is nothing to give a camera not on the roster.
        dialog.checkDlgButton(sid::kNotOnRoster, true);
        const WifiRecord wifiBefore = fleet.cameras[0]->config<WifiRecord>();
        click(dialog, sid::kApplyAll);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.running(), 20000);
        QCOMPARE(cell(dialog, fleet.addresses[0], ColumnResult), QStringLiteral("ok"));
        QCOMPARE(cell(dialog, fleet.addresses[1], ColumnResult), QStringLiteral("not on the roster"));
        QCOMPARE(fleet.cameras[0]->config<DeviceRecord>().text(DeviceRecord::policeId), u"PA");
        QCOMPARE(fleet.cameras[0]->config<DeviceRecord>().text(DeviceRecord::policeName), u"Officer A");
        QVERIFY(fleet.cameras[0]->config<WifiRecord>().bytes == wifiBefore.bytes);
        QCOMPARE(setConfigFrames(*fleet.cameras[1]), std::size_t(0));
        QCOMPARE(fleet.cameras[1]->config<DeviceRecord>().text(DeviceRecord::policeId), u"OLD-2");
        QVERIFY(readFile(inventoryFile_).contains(",CAM-1,PA,ok,"));

        // Neither a setup nor a roster: nothing to do, and said so.
        dialog.setDlgItemText(sid::kRosterFile, QString());
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        click(dialog, sid::kApplyAll);
        QVERIFY(!dialog.running());
        QCOMPARE(MessageBox::instance().prompts().size(), 1);
        QCOMPARE(MessageBox::instance().prompts().last().text, QStringLiteral("Choose a setup file or a roster first."));
    }

    void aWorkerThreadThatCannotStartIsSaidAndNothingIsSent()
    {
        Fleet fleet;
        if (!fleet.start(2)) {
            QSKIP("no loopback addresses of 127.0.84.0/24 for the simulated cameras");
        }
        CSearchToolDlg dialog(fleet.options(ledger_));
        QVERIFY(openReady(dialog, fleet));
        fleet::WorkerPool::failThreadStartsForTests(true);
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        click(dialog, sid::kApplyAll);
        QTRY_COMPARE_WITH_TIMEOUT(MessageBox::instance().prompts().size(), 1, 10000);
        const MessagePrompt said = MessageBox::instance().prompts().last();
        QCOMPARE(said.icon, QMessageBox::Critical);
        QVERIFY2(said.text.startsWith(QStringLiteral("No worker thread could be started: ")) &&
                     said.text.endsWith(QStringLiteral("Nothing was sent.")),
                 qPrintable(said.text));
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.running(), 10000);
        QCOMPARE(setConfigFrames(fleet), std::size_t(0));

        // Threads to be had again: the next press works.
        fleet::WorkerPool::failThreadStartsForTests(false);
        click(dialog, sid::kApplyAll);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.running(), 20000);
        QCOMPARE(cell(dialog, fleet.addresses[0], ColumnResult), QStringLiteral("ok"));
    }

    void retryFailedGoesByThisSessionsOutcomeAfterAReplug()
    {
        Fleet fleet;
        if (!fleet.start(2)) {
            QSKIP("no loopback addresses of 127.0.84.0/24 for the simulated cameras");
        }
        // Another inventory says CAM-2 failed; this session sets it (recorded elsewhere).
        const QString older = folder_.filePath(QStringLiteral("older.csv"));
        writeFile(older, "time,interface_or_address,device_id,officer_id,result,differences,clock_offset_s\r\n"
                         "2026-03-05 14:07:10,usb1 192.168.2.158,CAM-2,P2,failed: login refused,,\r\n");
        CSearchToolDlg dialog(fleet.options(ledger_));
        QVERIFY(openReady(dialog, fleet));
        click(dialog, sid::kApplyAll);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.running(), 20000);
        QCOMPARE(cell(dialog, fleet.addresses[1], ColumnResult), QStringLiteral("ok"));

        // Pulled out and plugged in again: the row forgets its result, the session does not.
        fleet.cameras[1]->stop();
        QTRY_COMPARE_WITH_TIMEOUT(cell(dialog, fleet.addresses[1], ColumnState), QStringLiteral("gone"), 10000);
        QVERIFY(fleet.cameras[1]->start());
        QTRY_COMPARE_WITH_TIMEOUT(cell(dialog, fleet.addresses[1], ColumnState), QStringLiteral("ready"), 10000);
        QCOMPARE(cell(dialog, fleet.addresses[1], ColumnResult), QString());
        fleet.cameras[1]->clearReceivedFrames();
        dialog.setDlgItemText(sid::kInventoryFile, older);
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        click(dialog, sid::kRetryFailed);
        QVERIFY(!dialog.running());
        QCOMPARE(MessageBox::instance().prompts().size(), 1);
        QCOMPARE(MessageBox::instance().prompts().last().text,
                 QStringLiteral("No camera attached has a failed last outcome."));
        QCOMPARE(setConfigFrames(*fleet.cameras[1]), std::size_t(0));
    }

    // One camera for each way firmware gets its device record wrong, beside two good ones: the
    // good ones are set up, each bad one ends with what failed, and the run ends.
    void camerasThatMisbehaveEndWithWhatFailedAndHoldUpNoOther()
    {
        Fleet fleet;
        if (!fleet.start(2 + static_cast<int>(test::kCameraFaults.size()))) {
            QSKIP("no loopback addresses of 127.0.84.0/24 for the simulated cameras");
        }
        for (std::size_t n = 0; n < test::kCameraFaults.size(); ++n) {
            test::misbehave(*fleet.cameras[2 + n], test::kCameraFaults[n].fault);
        }
        SearchToolOptions options = fleet.options(ledger_);
        options.timeout = 1000ms;
        CSearchToolDlg dialog(options);
        QVERIFY(dialog.Create());
        for (int n = 0; n < 2; ++n) {
            QTRY_COMPARE_WITH_TIMEOUT(cell(dialog, fleet.addresses[n], ColumnState), QStringLiteral("ready"), 10000);
        }
        dialog.setDlgItemText(sid::kSetupFile, setupFile_);
        dialog.setDlgItemText(sid::kInventoryFile, inventoryFile_);
        click(dialog, sid::kApplyAll);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.running(), 30000);
        for (int n = 0; n < 2; ++n) {
            QCOMPARE(cell(dialog, fleet.addresses[n], ColumnResult), QStringLiteral("ok"));
        }
        const QByteArray inventory = readFile(inventoryFile_);
        for (std::size_t n = 0; n < test::kCameraFaults.size(); ++n) {
            const std::string& where = fleet.addresses[2 + n];
            const QString result = cell(dialog, where, ColumnResult);
            QVERIFY2(result.startsWith(QStringLiteral("failed: ")),
                     qPrintable(QString::fromUtf8(test::kCameraFaults[n].name) + ": " + result));
            // Its row, named by the device id when the camera said it before it failed.
            const qsizetype at = inventory.indexOf(QByteArray::fromStdString("," + where + ","));
            QVERIFY2(at >= 0, inventory.constData());
            const QByteArray row = inventory.mid(at, inventory.indexOf('\n', at) - at);
            QVERIFY2(row.contains(",failed: "), row.constData());
            QCOMPARE(setConfigFrames(*fleet.cameras[2 + n]), std::size_t(0));
        }
    }

    void theLastConfiguredColumnShowsItsWholeText()
    {
        Fleet fleet;
        if (!fleet.start(1)) {
            QSKIP("no loopback addresses of 127.0.84.0/24 for the simulated cameras");
        }
        CSearchToolDlg dialog(fleet.options(ledger_));
        QVERIFY(openReady(dialog, fleet));
        dialog.resize(640, 420); // the columns before it take the width: little is left to stretch
        click(dialog, sid::kApplyAll);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.running(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!cell(dialog, fleet.addresses[0], ColumnConfigured).isEmpty(), 10000);
        QTreeWidget* list = dialog.cameraList();
        const QString shown = cell(dialog, fleet.addresses[0], ColumnConfigured);
        QVERIFY2(shown.contains(QStringLiteral(" by ")), qPrintable(shown));
        // What the view needs to draw the text without "...": the text and the style's margins.
        const int margin = list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
        const int needed = list->fontMetrics().horizontalAdvance(shown) + 2 * margin;
        QVERIFY2(list->columnWidth(ColumnConfigured) >= needed,
                 qPrintable(QStringLiteral("%1 px for \"%2\", which needs %3 px")
                                .arg(list->columnWidth(ColumnConfigured))
                                .arg(shown)
                                .arg(needed)));
    }

private:
    // The window on the fleet, every camera ready, this test's setup file and inventory chosen.
    bool openReady(CSearchToolDlg& dialog, const Fleet& fleet)
    {
        return orv::testing::openReady(dialog, fleet, setupFile_, inventoryFile_);
    }

    QTemporaryDir folder_;
    QString setupFile_;
    QString inventoryFile_;
    QString ledger_;
};

QTEST_MAIN(SearchToolRunsTest)
#include "search_tool_runs_test.moc"
