// The custody report saved from the search tool's History window, with a simulated camera on a
// loopback address of this test's own whose device id the seeded ledger knows: the camera's or an
// officer's report in the tool's language, the outcome in the window's status line, a ledger
// rewritten behind the station's back a warning, a report not written an error, and a window or
// tool closed while the report is being written gone at once.

#include "dialogkit/file_dialog.h"
#include "dialogkit/message_box.h"
#include "ledger/ledger.h"
#include "link/records.h"
#include "search_tool_fleet.h"
#include "searchtool/ledger_history_dlg.h"
#include "searchtool/search_tool_dlg.h"
#include "support/console_fixture.h"
#include "tests/core/report/custody_ledger.h"
#include "tests/support/ledger_tamper.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <atomic>
#include <memory>
#include <optional>

using namespace orv;
using namespace orv::search;
using namespace orv::testing;

namespace {

struct Fleet : SearchToolFleet
{
    Fleet()
        : SearchToolFleet("127.0.93.", 10)
    {
    }
};

// The PDF's text as poppler's pdftotext reads it (page 1 only, or all); nullopt where the tests
// do not read PDFs (Windows).
std::optional<QString> pdfText(const QString& pdf, bool firstPageOnly = false)
{
#ifdef Q_OS_LINUX
    QStringList args{QStringLiteral("-enc"), QStringLiteral("UTF-8")};
    if (firstPageOnly) {
        args << QStringLiteral("-f") << QStringLiteral("1") << QStringLiteral("-l") << QStringLiteral("1");
    }
    args << pdf << QStringLiteral("-");
    QProcess process;
    process.start(QStringLiteral("pdftotext"), args);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        return QStringLiteral("<pdftotext failed (poppler-utils): %1>")
            .arg(QString::fromUtf8(process.readAllStandardError()));
    }
    return QString::fromUtf8(process.readAllStandardOutput());
#else
    Q_UNUSED(pdf);
    Q_UNUSED(firstPageOnly);
    return std::nullopt;
#endif
}

// The ledger file's write lock, held as another station's long write would hold it (closing
// gives it back).
struct WriteLock
{
    test::detail::Database database;
    std::string take(const QString& file)
    {
        if (sqlite3_open(file.toStdString().c_str(), &database.db) != SQLITE_OK) {
            return sqlite3_errmsg(database.db);
        }
        return test::detail::runStatement(database.db, "BEGIN IMMEDIATE");
    }
};

// Well below the ledger's wait for a lock (15 s): a window that waited for the report would take
// that long. Under Wine a window hidden without a window manager takes two seconds.
constexpr qint64 kAtOnceMs = 5000;

// True once the desk has done everything asked of it before.
bool deskIsDone(LedgerDesk& desk)
{
    const auto done = std::make_shared<std::atomic<bool>>(false);
    desk.open([done](const LedgerDesk::Opened&) { *done = true; });
    return QTest::qWaitFor([&] { return done->load(); }, 60000);
}

std::vector<ledger::Event> eventsOf(const QString& file)
{
    std::string error;
    const std::unique_ptr<ledger::Ledger> ledger = ledger::openLedger(file.toStdString(), error);
    std::vector<ledger::Event> events;
    if (ledger) {
        ledger->readEvents({}, events);
    }
    return events;
}

} // namespace

class SearchToolReportTest : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        enterSeamTestMode();
        FileDialog::instance().reset();
        MessageBox::instance().reset();
        // A station of its own (key, witness file) and a ledger of a station's months of work.
        home_.emplace();
        QVERIFY(home_->isValid());
        qputenv("XDG_DATA_HOME", home_->path().toUtf8());
        ledgerFile_ = home_->filePath(QStringLiteral("custody.db"));
        std::string error;
        const std::unique_ptr<ledger::Ledger> ledger = ledger::openLedger(ledgerFile_.toStdString(), error);
        QVERIFY2(ledger, error.c_str());
        QCOMPARE(test::seedCustodyLedger(*ledger, 12), std::string());
        QVERIFY(QDir(home_->path()).mkdir(QStringLiteral("reports")));
    }
    void cleanup()
    {
        leaveSeamTestMode();
        home_.reset();
    }

private:
    QString reportPath(const QString& name) const { return home_->filePath(QStringLiteral("reports/") + name); }

    // The camera that the seeded ledger knows as ORV202600001.
    bool startCamera(Fleet& fleet)
    {
        if (!fleet.start(1)) {
            return false;
        }
        DeviceRecord device = fleet.cameras[0]->config<DeviceRecord>();
        device.setText(DeviceRecord::deviceId, u"ORV202600001");
        fleet.cameras[0]->setConfig(device);
        return true;
    }

    // The window on the camera, its History window open and filled from the ledger.
    LedgerHistoryDlg* openHistory(CSearchToolDlg& dialog, const Fleet& fleet, std::uint8_t language)
    {
        if (!dialog.Create()) {
            return nullptr;
        }
        const std::string& where = fleet.addresses[0];
        const bool ready = QTest::qWaitFor(
            [&] { return cell(dialog, where, ColumnState) == searchText(SearchText::StateReady, language); }, 10000);
        if (!ready) {
            return nullptr;
        }
        dialog.rowOf(QString::fromStdString(where))->setSelected(true);
        qobject_cast<QAbstractButton*>(dialog.GetDlgItem(sid::kHistory))->click();
        auto* history = dialog.findChild<LedgerHistoryDlg*>(QStringLiteral("ledgerHistory"));
        if (!history || !QTest::qWaitFor([&] { return history->officerList()->topLevelItemCount() > 0; }, 10000)) {
            return nullptr;
        }
        return history;
    }

    // Save report, the file dialog answered with `pdf`; true once the outcome is in.
    static bool saveReport(LedgerHistoryDlg& history, const QString& pdf)
    {
        FileDialog::instance().setNextFileName(pdf);
        history.saveReportButton()->click();
        return QTest::qWaitFor([&] { return history.saveReportButton()->isEnabled(); }, 60000);
    }

    std::optional<QTemporaryDir> home_;
    QString ledgerFile_;

private slots:
    void theCamerasOrAnOfficersReportIsSavedInTheToolsLanguage()
    {
        Fleet fleet;
        if (!startCamera(fleet)) {
            QSKIP("no loopback addresses of 127.0.93.0/24 for the simulated camera");
        }
        {
            // Last, an officer id no file name can hold as it is.
            std::string error;
            const std::unique_ptr<ledger::Ledger> ledger = ledger::openLedger(ledgerFile_.toStdString(), error);
            QVERIFY2(ledger, error.c_str());
            ledger::Event e;
            e.timeUtc = "2026-03-01T09:00:00.000Z";
            e.kind = "provision";
            e.deviceId = "ORV202600001";
            e.officerBefore = "P-1002";
            e.officerAfter = "P/7";
            e.result = "ok";
            QVERIFY(ledger->append(e));
        }
        CSearchToolDlg dialog(fleet.options(ledgerFile_, 0));
        LedgerHistoryDlg* history = openHistory(dialog, fleet, 0);
        QVERIFY(history);
        // Whom a report can be about: the camera, first and chosen, then each officer who held it.
        QComboBox* subject = history->subjectChoice();
        QCOMPARE(subject->currentText(), QStringLiteral("摄像机 ORV202600001"));
        QVERIFY(subject->findText(QStringLiteral("警员 P-1001")) > 0);
        QCOMPARE(subject->count(), 1 + history->officerList()->topLevelItemCount());

        const QString camera = reportPath(QStringLiteral("camera.pdf"));
        FileDialog::instance().setNextFileName(camera);
        history->saveReportButton()->click();
        QVERIFY(!history->saveReportButton()->isEnabled());
        QCOMPARE(history->statusText(), QStringLiteral("正在生成报告..."));
        QVERIFY(QTest::qWaitFor([&] { return history->saveReportButton()->isEnabled(); }, 60000));
        const FilePrompt asked = FileDialog::instance().prompts().back();
        QVERIFY2(asked.proposedName.endsWith(QStringLiteral("/ORV202600001-custody.pdf")),
                 qPrintable(asked.proposedName));
        QCOMPARE(asked.title, QStringLiteral("保存监管链报告"));

        // Said in the status line: the file, its pages, its SHA-256, which the ledger recorded.
        const std::vector<ledger::Event> events = eventsOf(ledgerFile_);
        QVERIFY(!events.empty());
        const ledger::Event& recorded = events.back();
        QCOMPARE(recorded.kind, std::string("report"));
        QCOMPARE(recorded.tool, std::string("SearchTool"));
        QCOMPARE(recorded.differences,
                 std::string("asked: camera ORV202600001, from the first event until the last event"));
        QCOMPARE(recorded.setupSha256, ledger::sha256Hex(readFile(camera).toStdString()));
        const QRegularExpression written(QStringLiteral("^已保存 camera\\.pdf: [1-9]\\d* 页, SHA-256 ") +
                                         QString::fromStdString(recorded.setupSha256) + QLatin1Char('$'));
        QVERIFY2(written.match(history->statusText()).hasMatch(), qPrintable(history->statusText()));
        QVERIFY(MessageBox::instance().prompts().isEmpty());
        if (const std::optional<QString> text = pdfText(camera)) {
            for (const char* part : {"执法记录仪监管链报告", "记录仪 ORV202600001", "P-1000", "P-1001", "P-1002",
                                     "一大队", "二大队", "2026-03-01T08:04:00.000Z"}) {
                QVERIFY2(text->contains(QString::fromUtf8(part)), part);
            }
            QVERIFY2(!text->contains(QStringLiteral("ORV202600002")), "another camera's events are not listed");
        }

        // A click on an officer's row makes the next report that officer's, from the day after
        // every seeded event: none of them is listed. Proposed where the last one was saved.
        QTreeWidget* officers = history->officerList();
        for (int row = 0; row < officers->topLevelItemCount(); ++row) {
            officers->topLevelItem(row)->setSelected(officers->topLevelItem(row)->text(0) == QStringLiteral("P-1001"));
        }
        QCOMPARE(subject->currentText(), QStringLiteral("警员 P-1001"));
        const QDate seeded = QDateTime(QDate(2026, 3, 1), QTime(8, 11), Qt::UTC).toLocalTime().date();
        history->sinceCheck()->setChecked(true);
        history->sinceDate()->setDate(seeded.addDays(1));
        const QString officer = reportPath(QStringLiteral("officer.pdf"));
        QVERIFY(saveReport(*history, officer));
        QCOMPARE(FileDialog::instance().prompts().back().proposedName,
                 QDir(home_->filePath(QStringLiteral("reports"))).filePath(QStringLiteral("P-1001-custody.pdf")));
        QVERIFY2(history->statusText().startsWith(QStringLiteral("已保存 officer.pdf")),
                 qPrintable(history->statusText()));
        const ledger::Event officersReport = eventsOf(ledgerFile_).back();
        QCOMPARE(officersReport.kind, std::string("report"));
        const std::optional<std::string> since =
            ledger::parseUserTime(seeded.addDays(1).toString(Qt::ISODate).toStdString());
        QVERIFY(since);
        QCOMPARE(officersReport.differences, "asked: officer P-1001, from " + *since + " until the last event");
        if (const std::optional<QString> text = pdfText(officer)) {
            QVERIFY2(text->contains(QStringLiteral("警员 P-1001")), qPrintable(*text));
            QVERIFY2(!text->contains(QStringLiteral("2026-03-01T08:04:00.000Z")), "an event before the period");
        }

        // A period that ends before it starts is refused before any file is asked for.
        history->untilCheck()->setChecked(true);
        history->untilDate()->setDate(seeded);
        const qsizetype prompts = FileDialog::instance().prompts().size();
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        history->saveReportButton()->click();
        QCOMPARE(MessageBox::instance().prompts().size(), 1);
        QCOMPARE(MessageBox::instance().prompts().front().text, QStringLiteral("开始日期晚于结束日期。"));
        QCOMPARE(FileDialog::instance().prompts().size(), prompts);

        // The officer "P/7" is proposed as "P_7-custody.pdf"; a cancelled file dialog writes nothing.
        history->sinceCheck()->setChecked(false);
        subject->setCurrentIndex(subject->findText(QStringLiteral("警员 P/7")));
        const QString said = history->statusText();
        FileDialog::instance().setNextFileName(QString());
        history->saveReportButton()->click();
        QVERIFY2(FileDialog::instance().prompts().back().proposedName.endsWith(QStringLiteral("/P_7-custody.pdf")),
                 qPrintable(FileDialog::instance().prompts().back().proposedName));
        QVERIFY(history->saveReportButton()->isEnabled());
        QCOMPARE(history->statusText(), said);
    }

    void aRewrittenLedgerIsAWarningAndAReportNotWrittenAnError()
    {
        Fleet fleet;
        if (!startCamera(fleet)) {
            QSKIP("no loopback addresses of 127.0.93.0/24 for the simulated camera");
        }
        CSearchToolDlg dialog(fleet.options(ledgerFile_));
        LedgerHistoryDlg* history = openHistory(dialog, fleet, 2);
        QVERIFY(history);
        // A first report signs the ledger, as the station does after its work.
        QVERIFY(saveReport(*history, reportPath(QStringLiteral("before.pdf"))));
        QVERIFY2(history->statusText().startsWith(QStringLiteral("Wrote before.pdf: ")),
                 qPrintable(history->statusText()));
        const std::string forged = test::rewriteLastEvent(ledgerFile_.toStdString(), "P-9999", "ok");
        QVERIFY2(forged.empty(), forged.c_str());
        const std::size_t before = eventsOf(ledgerFile_).size();

        const QString after = reportPath(QStringLiteral("after.pdf"));
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        QVERIFY(saveReport(*history, after));
        QCOMPARE(MessageBox::instance().prompts().size(), 1);
        const MessagePrompt warned = MessageBox::instance().prompts().front();
        QCOMPARE(warned.icon, QMessageBox::Warning);
        QVERIFY2(warned.text.startsWith(QStringLiteral("The ledger does not hold: ")), qPrintable(warned.text));
        QVERIFY2(warned.text.contains(QStringLiteral("The report after.pdf says so on its first page.")),
                 qPrintable(warned.text));
        QVERIFY(history->statusText().startsWith(warned.text));
        QCOMPARE(eventsOf(ledgerFile_).size(), before);
        if (const std::optional<QString> firstPage = pdfText(after, true)) {
            QVERIFY2(firstPage->contains(QStringLiteral("WARNING")), qPrintable(*firstPage));
        }

        // A folder that is not there: nothing is written, an error box says why.
        MessageBox::instance().reset();
        MessageBox::instance().setNextAnswer(QMessageBox::Ok);
        QVERIFY(saveReport(*history, home_->filePath(QStringLiteral("missing/r.pdf"))));
        QCOMPARE(MessageBox::instance().prompts().size(), 1);
        QCOMPARE(MessageBox::instance().prompts().front().icon, QMessageBox::Critical);
        QVERIFY2(
            MessageBox::instance().prompts().front().text.startsWith(QStringLiteral("The report was not written: ")),
            qPrintable(MessageBox::instance().prompts().front().text));
        QVERIFY(!QFile::exists(home_->filePath(QStringLiteral("missing/r.pdf"))));
    }

    void closingTheWindowOrTheToolWhileAReportIsWrittenReturnsAtOnce()
    {
        Fleet fleet;
        if (!startCamera(fleet)) {
            QSKIP("no loopback addresses of 127.0.93.0/24 for the simulated camera");
        }
        const std::size_t seeded = eventsOf(ledgerFile_).size();
        auto dialog = std::make_unique<CSearchToolDlg>(fleet.options(ledgerFile_));
        QPointer<LedgerHistoryDlg> history = openHistory(*dialog, fleet, 2);
        QVERIFY(history);
        // While another writer holds the ledger, the report cannot sign or record anything: it is
        // still being written whatever the window does meanwhile.
        auto lock = std::make_unique<WriteLock>();
        QCOMPARE(lock->take(ledgerFile_), std::string());
        FileDialog::instance().setNextFileName(reportPath(QStringLiteral("closed.pdf")));
        history->saveReportButton()->click();
        QElapsedTimer closing;
        closing.start();
        history->close();
        QTRY_VERIFY(history.isNull());
        QVERIFY(closing.elapsed() < kAtOnceMs);
        QCOMPARE(eventsOf(ledgerFile_).size(), seeded);
        // The report goes on and is recorded; its outcome, meant for the window, is dropped.
        lock.reset();
        QVERIFY(deskIsDone(dialog->ledgerDesk()));
        QCOMPARE(eventsOf(ledgerFile_).size(), seeded + 1);
        QVERIFY(QFile::exists(reportPath(QStringLiteral("closed.pdf"))));

        // The next History window hears only of its own report: the earlier outcome went nowhere.
        // Asked for before the ledger has answered, the history filling in meanwhile leaves the
        // report's line as it is.
        lock = std::make_unique<WriteLock>();
        QCOMPARE(lock->take(ledgerFile_), std::string());
        qobject_cast<QAbstractButton*>(dialog->GetDlgItem(sid::kHistory))->click();
        history = dialog->findChild<LedgerHistoryDlg*>(QStringLiteral("ledgerHistory"));
        QVERIFY(history);
        FileDialog::instance().setNextFileName(reportPath(QStringLiteral("second.pdf")));
        history->saveReportButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(history->officerList()->topLevelItemCount() > 0, 10000);
        QVERIFY(history->findChild<QLabel*>(QStringLiteral("status"))->isVisibleTo(history));
        QCOMPARE(history->statusText(), QStringLiteral("Writing the report..."));
        QVERIFY(!history->saveReportButton()->isEnabled());
        lock.reset();
        QTRY_VERIFY_WITH_TIMEOUT(history->saveReportButton()->isEnabled(), 60000);
        QVERIFY2(history->statusText().startsWith(QStringLiteral("Wrote second.pdf: ")),
                 qPrintable(history->statusText()));

        // The tool closed while a report is written: gone from the screen at once, no box, no
        // crash; the report in hand is finished before the process ends.
        lock = std::make_unique<WriteLock>();
        QCOMPARE(lock->take(ledgerFile_), std::string());
        FileDialog::instance().setNextFileName(reportPath(QStringLiteral("last.pdf")));
        history->saveReportButton()->click();
        closing.restart();
        dialog->close();
        QVERIFY(closing.elapsed() < kAtOnceMs);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(eventsOf(ledgerFile_).size(), seeded + 2);
        lock.reset();
        dialog.reset();
        QVERIFY(QFile::exists(reportPath(QStringLiteral("last.pdf"))));
        QCOMPARE(eventsOf(ledgerFile_).size(), seeded + 3);
        QVERIFY(MessageBox::instance().prompts().isEmpty());
    }
};

QTEST_MAIN(SearchToolReportTest)
#include "search_tool_report_test.moc"
