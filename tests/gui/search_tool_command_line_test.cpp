// The search tool's command line: what each option sets of the window's options, the addresses
// from the environment when none is given, and the usage errors that end the program with 2.

#include "searchtool/search_tool_command_line.h"

#include <QTest>

using namespace orv::search;

namespace {

// Reads `arguments` (without the program's name) as the search tool does.
SearchToolCommandLine::Result readLine(QStringList arguments, const QString& environment = {})
{
    SearchToolCommandLine line;
    arguments.prepend(QStringLiteral("SearchTool"));
    if (!line.parser().parse(arguments)) {
        SearchToolCommandLine::Result failed;
        failed.error = line.parser().errorText();
        return failed;
    }
    return line.read(environment);
}

} // namespace

class SearchToolCommandLineTest : public QObject
{
    Q_OBJECT

private slots:
    void withoutArgumentsEveryInterfaceIsLookedBehind()
    {
        const SearchToolCommandLine::Result r = readLine({});
        QVERIFY(r.error.isEmpty());
        QVERIFY(r.options.plan.cameraAddresses.empty());
        QVERIFY(r.options.plan.interfaceNames.empty());
        QCOMPARE(r.options.port, SearchToolOptions().port);
        QCOMPARE(r.options.applyAllWhen, std::size_t{0});
        QVERIFY(!r.options.closeWhenDone && !r.options.keepApplying);
        QVERIFY(!r.ledgerGiven && !r.inventoryGiven);
    }

    void addressesComeFromTheLineElseFromTheEnvironment()
    {
        using Addresses = std::vector<std::string>;
        QCOMPARE(readLine({}, QStringLiteral("127.0.0.2, 127.0.0.3,")).options.plan.cameraAddresses,
                 (Addresses{"127.0.0.2", "127.0.0.3"}));
        const SearchToolCommandLine::Result r =
            readLine({QStringLiteral("--address"), QStringLiteral("127.0.0.4,127.0.0.5"), QStringLiteral("--address"),
                      QStringLiteral("127.0.0.6")},
                     QStringLiteral("127.0.0.2"));
        QCOMPARE(r.options.plan.cameraAddresses, (Addresses{"127.0.0.4", "127.0.0.5", "127.0.0.6"}));
        QCOMPARE(readLine({QStringLiteral("--interface"), QStringLiteral("usb0"), QStringLiteral("--interface"),
                           QStringLiteral("usb1")})
                     .options.plan.interfaceNames,
                 (Addresses{"usb0", "usb1"}));
        QCOMPARE(readLine({QStringLiteral("--camera-address"), QStringLiteral("127.0.0.9")}).options.plan.cameraAddress,
                 std::string("127.0.0.9"));
    }

    void filesAndTheLedgerAreTakenAsGiven()
    {
        const SearchToolCommandLine::Result r = readLine(
            {QStringLiteral("--setup"), QStringLiteral("s.xml"), QStringLiteral("--roster"), QStringLiteral("r.csv"),
             QStringLiteral("--inventory"), QStringLiteral("i.csv"), QStringLiteral("--ledger"),
             QStringLiteral("postgresql://desk/ledger"), QStringLiteral("--trusted"), QStringLiteral("keys.txt"),
             QStringLiteral("--port"), QStringLiteral("6000")});
        QVERIFY(r.error.isEmpty());
        QCOMPARE(r.options.setupFile, QStringLiteral("s.xml"));
        QCOMPARE(r.options.rosterFile, QStringLiteral("r.csv"));
        QVERIFY(r.inventoryGiven);
        QCOMPARE(r.options.inventoryFile, QStringLiteral("i.csv"));
        QVERIFY(r.ledgerGiven);
        QCOMPARE(r.options.ledgerLocation, QStringLiteral("postgresql://desk/ledger"));
        QCOMPARE(r.options.trustedKeys, QStringLiteral("keys.txt"));
        QCOMPARE(r.options.port, std::uint16_t{6000});
    }

    void unattendedUseNeedsACountOfCameras()
    {
        const SearchToolCommandLine::Result r =
            readLine({QStringLiteral("--apply-all-when"), QStringLiteral("3"), QStringLiteral("--close-when-done")});
        QVERIFY(r.error.isEmpty());
        QCOMPARE(r.options.applyAllWhen, std::size_t{3});
        QVERIFY(r.options.closeWhenDone);
        QVERIFY(readLine({QStringLiteral("--apply-all-when"), QStringLiteral("1"), QStringLiteral("--keep-applying")})
                    .options.keepApplying);
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error");
        const QString port = QStringLiteral("--port takes 1..65535");
        const QString count = QStringLiteral("--apply-all-when takes a number of cameras, 1 or more");
        const QString needsCount = QStringLiteral("--close-when-done and --keep-applying need --apply-all-when");
        QTest::newRow("port 0") << QStringList{QStringLiteral("--port"), QStringLiteral("0")} << port;
        QTest::newRow("port 65536") << QStringList{QStringLiteral("--port"), QStringLiteral("65536")} << port;
        QTest::newRow("port text") << QStringList{QStringLiteral("--port"), QStringLiteral("http")} << port;
        QTest::newRow("no cameras") << QStringList{QStringLiteral("--apply-all-when"), QStringLiteral("0")} << count;
        QTest::newRow("count text") << QStringList{QStringLiteral("--apply-all-when"), QStringLiteral("all")} << count;
        QTest::newRow("close alone") << QStringList{QStringLiteral("--close-when-done")} << needsCount;
        QTest::newRow("keep alone") << QStringList{QStringLiteral("--keep-applying")} << needsCount;
        QTest::newRow("close and keep") << QStringList{QStringLiteral("--apply-all-when"), QStringLiteral("2"),
                                                       QStringLiteral("--close-when-done"),
                                                       QStringLiteral("--keep-applying")}
                                        << QStringLiteral(
                                               "--keep-applying never ends a run: not with --close-when-done");
    }

    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        QCOMPARE(readLine(arguments).error, error);
    }
};

QTEST_MAIN(SearchToolCommandLineTest)
#include "search_tool_command_line_test.moc"
