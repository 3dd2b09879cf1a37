// The search tool while its shared database is away: a run records into the station's spool and
// goes on, the status line says how many events wait and why, the rows and the History window
// show those events marked as not yet in the shared ledger, the forwarder sends them once the
// database answers again, and closing the window does not wait for a forward stuck in a database
// that never answers. A real PostgreSQL server behind a relay that can stop carrying data.

#include "ledger/spool.h"
#include "ledger/spooled_ledger.h"
#include "ledger/station.h"
#include "search_tool_fleet.h"
#include "searchtool/ledger_history_dlg.h"
#include "searchtool/search_tool_dlg.h"
#include "support/console_fixture.h"
#include "support/relayed_database.h"

#include <QTemporaryDir>
#include <QTreeWidget>

#include <chrono>
#include <memory>
#include <optional>

using namespace orv;
using namespace orv::search;
using namespace orv::testing;
using namespace std::chrono_literals;

namespace {

struct Fleet : SearchToolFleet
{
    Fleet()
        : SearchToolFleet("127.0.87.", 10)
    {
    }
};

QString statusLine(CSearchToolDlg& dialog)
{
    return dialog.dlgItemText(sid::kStatus);
}

} // namespace

class SearchToolOfflineTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        enterSeamTestMode();
        MessageBox::instance().reset();
        // Each test is a station of its own: its key, witness file and spool in its own data folder.
        home_.emplace();
        QVERIFY(home_->isValid());
        qputenv("XDG_DATA_HOME", home_->path().toUtf8());
        setupFile_ = home_->filePath(QStringLiteral("unit.xml"));
        QVERIFY(saveUnitSetup(setupFile_));
        QString why;
        const RelayedDatabase::Start started = db_.start(why);
        if (started == RelayedDatabase::Start::NoServer) {
            QSKIP(qPrintable(why));
        }
        QVERIFY2(started == RelayedDatabase::Start::Ready, qPrintable(why));
    }
    void cleanup()
    {
        db_.relay.reset(); // a forward left stuck in it ends now
        QTRY_COMPARE_WITH_TIMEOUT(LedgerDesk::forwardersRunning(), 0, 15000);
        leaveSeamTestMode();
        home_.reset();
    }

    void aRunWhileTheDatabaseIsAwayIsSpooledShownAndForwardedOnce()
    {
        Fleet fleet;
        if (!fleet.start(3)) {
            QSKIP("no loopback addresses of 127.0.87.0/24 for the simulated cameras");
        }
        const QString location = QString::fromStdString(db_.locationThroughRelay(2));
        // This station reached the shared ledger once (a location it never reached is refused).
        {
            std::string error;
            const std::shared_ptr<ledger::Ledger> ledger =
                ledger::openStationLedger(location.toStdString(), ledger::defaultStationFolder(), error);
            QVERIFY2(ledger, error.c_str());
            const ledger::ForwardOutcome forwarded = dynamic_cast<ledger::SpooledLedger&>(*ledger).forward();
            QVERIFY2(forwarded.reached, forwarded.problem.c_str());
        }
        db_.relay->stall(true); // takes connections and never answers
        CSearchToolDlg dialog(fleet.options(location));
        dialog.ledgerDesk().setForwardBackoff(200ms, 1s);
        QVERIFY(dialog.Create());
        for (const std::string& where : fleet.addresses) {
            QTRY_COMPARE_WITH_TIMEOUT(cell(dialog, where, ColumnState), QStringLiteral("ready"), 10000);
        }
        dialog.setDlgItemText(sid::kSetupFile, setupFile_);
        dialog.setDlgItemText(sid::kInventoryFile, home_->filePath(QStringLiteral("inventory.csv")));

        click(dialog, sid::kApplyAll);
        QTRY_VERIFY_WITH_TIMEOUT(!dialog.running(), 30000);
        QCOMPARE(MessageBox::instance().prompts().size(), 0); // neither refused nor a failed checkpoint
        for (const std::string& where : fleet.addresses) {
            QCOMPARE(cell(dialog, where, ColumnResult), QStringLiteral("ok"));
            QTRY_VERIFY2_WITH_TIMEOUT(cell(dialog, where, ColumnConfigured)
                                          .endsWith(QStringLiteral(" (waiting to be sent to the shared ledger)")),
                                      qPrintable(cell(dialog, where, ColumnConfigured)), 10000);
        }
        QTRY_VERIFY2_WITH_TIMEOUT(
            statusLine(dialog).contains(QStringLiteral("Ledger: 3 events waiting, shared database unreachable since ")),
            qPrintable(statusLine(dialog)), 15000);
        QVERIFY2(statusLine(dialog).contains(QStringLiteral("timeout")), qPrintable(statusLine(dialog)));

        // History: the spooled event, marked, under a line saying why the shared ledger was not read.
        QTreeWidgetItem* row = dialog.rowOf(QString::fromStdString(fleet.addresses[0]));
        QVERIFY(row);
        dialog.cameraList()->clearSelection();
        row->setSelected(true);
        click(dialog, sid::kHistory);
        auto* history = dialog.findChild<LedgerHistoryDlg*>(QStringLiteral("ledgerHistory"));
        QVERIFY(history);
        QTRY_VERIFY2_WITH_TIMEOUT(
            history->statusText().startsWith(QStringLiteral("The shared ledger could not be read: ")),
            qPrintable(history->statusText()), 15000);
        QVERIFY2(history->statusText().contains(QStringLiteral("still in this station's spool")),
                 qPrintable(history->statusText()));
        QCOMPARE(history->eventList()->topLevelItemCount(), 1);
        QCOMPARE(history->eventList()->topLevelItem(0)->text(9), QStringLiteral("waiting to be sent"));
        QCOMPARE(history->eventList()->topLevelItem(0)->text(2), QStringLiteral("OLD-1 \u2192 SETUP-P"));
        QCOMPARE(history->officerList()->topLevelItemCount(), 1);
        history->close();

        // The database answers again: the forwarder sends the events, the line clears, the rows
        // lose their mark, and the shared ledger holds each event once.
        db_.relay->stall(false);
        QTRY_VERIFY2_WITH_TIMEOUT(!statusLine(dialog).contains(QStringLiteral("waiting")),
                                  qPrintable(statusLine(dialog)), 20000);
        for (const std::string& where : fleet.addresses) {
            QTRY_VERIFY2_WITH_TIMEOUT(!cell(dialog, where, ColumnConfigured).contains(QStringLiteral("waiting")) &&
                                          cell(dialog, where, ColumnConfigured).contains(QStringLiteral(" by ")),
                                      qPrintable(cell(dialog, where, ColumnConfigured)), 10000);
        }
        std::string error;
        QCOMPARE(db_.server->query(db_.name, "SELECT count(*) FROM events", error), std::vector<std::string>{"3"});
        QCOMPARE(db_.server->query(db_.name, "SELECT string_agg(DISTINCT device_id, ',') FROM events", error),
                 std::vector<std::string>{"CAM-1,CAM-2,CAM-3"});
        QCOMPARE(db_.server->query(db_.name, "SELECT count(DISTINCT event_id) FROM events", error),
                 std::vector<std::string>{"3"});

        // History now reads them from the shared ledger, unmarked.
        click(dialog, sid::kHistory);
        history = dialog.findChild<LedgerHistoryDlg*>(QStringLiteral("ledgerHistory"));
        QVERIFY(history);
        QTRY_COMPARE_WITH_TIMEOUT(history->eventList()->topLevelItemCount(), 1, 15000);
        QVERIFY(history->statusText().isEmpty());
        QCOMPARE(history->eventList()->topLevelItem(0)->text(9), QString());
        history->close();
    }

    void closingWhileAForwardIsStuckReturnsAtOnceAndTheEventsStay()
    {
        // The default connect time (10 s): a forward that has begun is stuck well past the close.
        const std::string location = db_.locationThroughRelay(10);
        const std::filesystem::path folder = ledger::defaultStationFolder();
        {
            std::string error;
            const std::shared_ptr<ledger::Ledger> spooled = ledger::openStationLedger(location, folder, error);
            QVERIFY2(spooled, error.c_str());
            ledger::Event event;
            event.timeUtc = ledger::utcNow();
            event.kind = "apply";
            event.deviceId = "CAM-9";
            event.result = "ok";
            QVERIFY2(spooled->append(event), spooled->error().c_str());
        }
        db_.relay->stall(true);
        SearchToolOptions options;
        options.plan.cameraAddresses = {"127.0.87.250"}; // nothing listens there
        options.language = 2;
        options.ledgerLocation = QString::fromStdString(location);
        auto dialog = std::make_unique<CSearchToolDlg>(options);
        QVERIFY(dialog->Create());
        dialog->show();
        QTest::qWait(700); // the forwarder has begun its forward and waits for the database
        QCOMPARE(LedgerDesk::forwardersRunning(), 1);

        const auto start = std::chrono::steady_clock::now();
        dialog->close(); // as the operator closes it
        dialog.reset();
        const auto took =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        qInfo("closing with a forward stuck took %lld ms", static_cast<long long>(took.count()));
        QVERIFY2(took < 1500ms, qPrintable(QString::number(took.count())));
        // Its connect was given up when it was asked to stop: the thread has ended, not been let go.
        QCOMPARE(LedgerDesk::forwardersRunning(), 0);

        db_.relay.reset();
        QTRY_COMPARE_WITH_TIMEOUT(LedgerDesk::forwardersRunning(), 0, 15000);
        std::string error;
        const std::unique_ptr<ledger::Spool> spool =
            ledger::Spool::open(ledger::Spool::fileFor(folder, location), error);
        QVERIFY2(spool, error.c_str());
        ledger::SpoolStatus status;
        QVERIFY(spool->status(status));
        QCOMPARE(status.waiting, std::int64_t(1));
    }

private:
    std::optional<QTemporaryDir> home_;
    QString setupFile_;
    RelayedDatabase db_;
};

QTEST_MAIN(SearchToolOfflineTest)
#include "search_tool_offline_test.moc"
