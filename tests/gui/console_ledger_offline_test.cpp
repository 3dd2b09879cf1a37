// The console while its shared database is away: events wait in the station's spool, the log
// says so once per outage and once when they were forwarded, and closing the console does not
// wait for a forward held up by a database that does not answer; the next start forwards what
// waits. A real PostgreSQL server, behind a relay that can stop carrying data.

#include "console/console_ledger.h"
#include "console/orv_camera_dlg.h"
#include "ledger/background_recorder.h"
#include "ledger/spool.h"
#include "persist/ledger_location.h"
#include "support/console_fixture.h"
#include "support/relayed_database.h"
#include "support/log_lines.h"

#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

using namespace orv;
using namespace orv::testing;
using namespace std::chrono_literals;

namespace {

const QString kAwayPrefix = QStringLiteral("shared ledger unreachable since ");

// A console recording to `location`, with no camera: its events are handed over as its handlers
// hand them.
class Console
{
public:
    explicit Console(const std::string& location)
    {
        dialog = std::make_unique<COrvCameraDlg>();
        dialog->Create();
        started = rememberLedgerLocation(searchToolStateFile(settings.settings()), location);
        dialog->startLedger();
        started = started && dialog->ledger() && dialog->ledger()->location() == location;
        if (started) {
            dialog->ledger()->recorder().setForwardBackoff(200ms, 400ms);
        }
        takeLog(*dialog);
    }

    void record(const char* kind)
    {
        ledger::Event event = dialog->ledger()->event(kind);
        event.deviceId = "ORV202699001";
        event.result = "ok";
        dialog->ledger()->record(std::move(event));
    }

    // The lines logged so far, the ledger's posts delivered.
    QStringList log()
    {
        QCoreApplication::sendPostedEvents(dialog.get(), kLedgerProblemEvent);
        lines += takeLog(*dialog);
        return lines;
    }

    int count(const QString& prefix)
    {
        int n = 0;
        for (const QString& line : log()) {
            n += line.startsWith(prefix) ? 1 : 0;
        }
        return n;
    }

    TestSettings settings;
    std::unique_ptr<COrvCameraDlg> dialog;
    QStringList lines;
    bool started = false;
};

} // namespace

class ConsoleLedgerOfflineTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        enterSeamTestMode();
        // Each test is a station of its own: its key, witness file and spool.
        home_.emplace();
        QVERIFY(home_->isValid());
        qputenv("ORV_STATION_FOLDER", home_->path().toUtf8());
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
        QTRY_COMPARE_WITH_TIMEOUT(ledger::BackgroundRecorder::forwardersRunning(), 0, 15000);
        leaveSeamTestMode();
        qunsetenv("ORV_STATION_FOLDER");
        home_.reset();
    }

    void awayOnceThenForwardedOnce();
    void closingWhileAwayReturnsAtOnce_data();
    void closingWhileAwayReturnsAtOnce();
    void newsTextSaysSinceWhenAndWhy();

private:
    std::string sharedCount(const std::string& sql) const
    {
        std::string error;
        const std::vector<std::string> rows = db_.server->query(db_.name, sql, error);
        return rows.size() == 1 ? rows[0] : error;
    }
    std::int64_t waitingIn(const std::string& location) const
    {
        std::string error;
        const auto spool = ledger::Spool::open(ledger::Spool::fileFor(ledger::defaultStationFolder(), location), error);
        ledger::SpoolStatus status;
        return spool && spool->status(status) ? status.waiting : -1;
    }
    // The shared ledger's chain is whole and holds `events` events, each once.
    void checkShared(const std::string& location, int events)
    {
        QCOMPARE(sharedCount("SELECT count(*) FROM events"), std::to_string(events));
        QCOMPARE(sharedCount("SELECT count(DISTINCT event_id) FROM events"), std::to_string(events));
        std::string error;
        const auto shared = ledger::openLedger(location, error);
        QVERIFY2(shared, error.c_str());
        const ledger::VerifyReport report = ledger::verifyChain(*shared);
        QVERIFY2(report.intact, report.problem.c_str());
        QCOMPARE(report.eventsChecked, std::int64_t(events));
    }

    std::optional<QTemporaryDir> home_;
    RelayedDatabase db_;
};

void ConsoleLedgerOfflineTest::awayOnceThenForwardedOnce()
{
    const std::string location = db_.locationThroughRelay(2);
    Console console(location);
    QVERIFY(console.started);
    console.record("format");
    QTRY_COMPARE_WITH_TIMEOUT(sharedCount("SELECT count(*) FROM events"), std::string("1"), 10000);
    QCOMPARE(console.log(), QStringList()); // reached all along: nothing to say

    db_.relay->stall(true); // takes what is sent, answers nothing
    console.record("set");
    console.record("set");
    QTRY_COMPARE_WITH_TIMEOUT(console.count(kAwayPrefix), 1, 15000);
    const QString away = console.log().constLast();
    QVERIFY2(away.endsWith(QStringLiteral("); events wait in spool ...")), qPrintable(away));
    QVERIFY2(away.contains(u'('), qPrintable(away)); // why
    QCOMPARE(waitingIn(location), std::int64_t(2));

    // Further events and forwards that fail again in the same outage: no further line.
    console.record("factory");
    QTest::qWait(5000);
    QCOMPARE(console.log().size(), 1);
    QCOMPARE(waitingIn(location), std::int64_t(3));

    db_.relay->stall(false);
    const QString forwarded = QStringLiteral("shared ledger reached; 3 spooled events forwarded ...");
    QTRY_COMPARE_WITH_TIMEOUT(console.log().size(), 2, 15000);
    QCOMPARE(console.log().constLast(), forwarded);
    QCOMPARE(waitingIn(location), std::int64_t(0));
    checkShared(location, 4);

    // A second outage is news again.
    db_.relay->stall(true);
    console.record("reboot");
    QTRY_COMPARE_WITH_TIMEOUT(console.count(kAwayPrefix), 2, 15000);
    db_.relay->stall(false);
    QTRY_COMPARE_WITH_TIMEOUT(console.log().size(), 4, 15000);
    QCOMPARE(console.log().constLast(), QStringLiteral("shared ledger reached; 1 spooled events forwarded ..."));
    console.dialog.reset();
    checkShared(location, 5);
}

void ConsoleLedgerOfflineTest::closingWhileAwayReturnsAtOnce_data()
{
    QTest::addColumn<bool>("stalled");
    QTest::newRow("nothing listens") << false;
    QTest::newRow("accepts and never answers") << true;
}

void ConsoleLedgerOfflineTest::closingWhileAwayReturnsAtOnce()
{
    QFETCH(bool, stalled);
    std::string location;
    if (stalled) {
        // A forward that has begun is stuck in its connect (the startup never answered) well
        // past the close.
        db_.relay->stall(true);
        location = db_.locationThroughRelay(4);
    } else {
        const std::uint16_t port = test::freeLoopbackPort();
        QVERIFY(port != 0);
        location = "host=127.0.0.1 port=" + std::to_string(port) + " user=" + db_.server->role() + " dbname=" + db_.name +
                   " connect_timeout=10";
    }
    auto console = std::make_unique<Console>(location);
    QVERIFY(console->started);
    for (const char* kind : {"format", "set", "timesync"}) {
        console->record(kind);
    }
    console->dialog->flushLedger();
    QCOMPARE(waitingIn(location), std::int64_t(3));
    if (stalled) {
        QTest::qWait(500); // the forward waits for the database's answer
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(console->count(kAwayPrefix), 1, 10000);
        QVERIFY2(console->log().constLast().contains(QStringLiteral("refused")),
                 qPrintable(console->log().constLast()));
    }
    QCOMPARE(ledger::BackgroundRecorder::forwardersRunning(), 1);

    const auto start = std::chrono::steady_clock::now();
    console->dialog.reset(); // as the operator closes it
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    qInfo("closing took %lld ms", static_cast<long long>(took.count()));
    QVERIFY2(took < 1s, qPrintable(QString::number(took.count())));
    console.reset();
    QCOMPARE(waitingIn(location), std::int64_t(3));
    // Between forwards, or in a connect given up when it was asked to stop: the thread has ended,
    // not been let go, and forwarded nothing after the close.
    QCOMPARE(ledger::BackgroundRecorder::forwardersRunning(), 0);
    if (!stalled) {
        return;
    }
    QCOMPARE(waitingIn(location), std::int64_t(3));

    // The next start forwards them, and says so once.
    db_.relay->stall(false);
    Console next(location);
    QVERIFY(next.started);
    QTRY_COMPARE_WITH_TIMEOUT(next.log(), QStringList{"shared ledger reached; 3 spooled events forwarded ..."}, 15000);
    QCOMPARE(waitingIn(location), std::int64_t(0));
    next.dialog.reset();
    checkShared(location, 3);
}

void ConsoleLedgerOfflineTest::newsTextSaysSinceWhenAndWhy()
{
    ledger::SharedLedgerNews news;
    news.sinceUtc = ledger::utcNow();
    news.why = "connection timed out";
    const std::string today = ledger::localTimeText(news.sinceUtc);
    QCOMPARE(ledgerNewsText(news), today.substr(11, 5) + " (connection timed out)");
    news.sinceUtc = "2019-01-02T03:04:05Z";
    news.why.clear();
    QCOMPARE(ledgerNewsText(news), ledger::localTimeText(news.sinceUtc).substr(0, 16));
    news.kind = ledger::SharedLedgerNews::Kind::Forwarded;
    news.forwarded = 12;
    QCOMPARE(ledgerNewsText(news), std::string("12"));
}

QTEST_MAIN(ConsoleLedgerOfflineTest)
#include "console_ledger_offline_test.moc"
