// SearchTool: finds every camera attached to this computer and configures them all at once.
// The console's Batch button starts it without arguments: it then looks behind every network
// interface in the camera address's /24. For demonstrations with simulated cameras, a list of
// addresses stands in for the interfaces (--address, or ORV_CAMERA_ADDRESSES).

#include "dialogkit/app_icon.h"
#include "dialogkit/user_settings_folder.h"
#include "orv_version.h"
#include "persist/settings.h"
#include "searchtool/search_tool_dlg.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QStandardPaths>

#include <cstdio>

namespace {

QStringList listOf(const QStringList& values)
{
    QStringList items;
    for (const QString& v : values) {
        for (const QString& item : v.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            items << item.trimmed();
        }
    }
    return items;
}

std::vector<std::string> utf8List(const QStringList& values)
{
    std::vector<std::string> out;
    for (const QString& v : values) {
        out.push_back(v.toStdString());
    }
    return out;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("SearchTool"));
    QApplication::setApplicationVersion(QString::fromLatin1(orv::kProgramVersion));
    QApplication::setWindowIcon(orv::applicationIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("orvcamera"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Finds every camera attached and configures them all at once."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption address(
        QStringLiteral("address"),
        QStringLiteral("A camera address that stands in for the interfaces (simulated cameras); repeatable, or "
                       "comma-separated. Default: ORV_CAMERA_ADDRESSES."),
        QStringLiteral("A"));
    const QCommandLineOption interfaceName(QStringLiteral("interface"),
                                           QStringLiteral("Look only behind this network interface; repeatable."),
                                           QStringLiteral("NAME"));
    const QCommandLineOption cameraAddress(QStringLiteral("camera-address"),
                                           QStringLiteral("The address every camera answers at (default %1).")
                                               .arg(QString::fromLatin1(orv::kFactoryCameraAddress)),
                                           QStringLiteral("A"));
    const QCommandLineOption port(QStringLiteral("port"), QStringLiteral("The cameras' port (default 19436)."),
                                  QStringLiteral("N"));
    const QCommandLineOption setup(QStringLiteral("setup"), QStringLiteral("The setup file to apply."),
                                   QStringLiteral("FILE"));
    const QCommandLineOption roster(QStringLiteral("roster"), QStringLiteral("The roster of officers (CSV)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption inventory(QStringLiteral("inventory"),
                                       QStringLiteral("The inventory that gains a row per camera (CSV)."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption ledgerLocation(
        QStringLiteral("ledger"),
        QStringLiteral("Where every outcome is recorded: a ledger file, or a PostgreSQL connection URI or key=value "
                       "string (its password from ~/.pgpass or PGPASSWORD, never here). Default: the location chosen "
                       "in the window last, else orv_ledger.db in the user's data folder."),
        QStringLiteral("LOCATION"));
    const QCommandLineOption trustedKeys(
        QStringLiteral("trusted"),
        QStringLiteral("The verifier keys to trust besides this station's own, one a line (what orvctl ledger key "
                       "prints); remembered for later sessions."),
        QStringLiteral("FILE"));
    const QCommandLineOption applyAllWhen(
        QStringLiteral("apply-all-when"),
        QStringLiteral("Press Apply to all by itself once N cameras are ready (unattended use)."), QStringLiteral("N"));
    const QCommandLineOption closeWhenDone(
        QStringLiteral("close-when-done"),
        QStringLiteral("With --apply-all-when: close once that run is over; exit status 0 when every camera was set "
                       "as asked, 1 otherwise. Problems go to standard error instead of message boxes."));
    const QCommandLineOption keepApplying(
        QStringLiteral("keep-applying"),
        QStringLiteral("With --apply-all-when: after that first run, set up every camera plugged in later as soon as "
                       "it is ready, each once while it stays plugged in (a dock station left to itself)."));
    parser.addOptions({address, interfaceName, cameraAddress, port, setup, roster, inventory, ledgerLocation, trustedKeys,
                       applyAllWhen, closeWhenDone, keepApplying});
    parser.process(application);

    orv::search::SearchToolOptions options;
    QStringList addresses = listOf(parser.values(address));
    if (addresses.isEmpty()) {
        addresses = listOf({qEnvironmentVariable("ORV_CAMERA_ADDRESSES")});
    }
    options.plan.cameraAddresses = utf8List(addresses);
    options.plan.interfaceNames = utf8List(listOf(parser.values(interfaceName)));
    if (parser.isSet(cameraAddress)) {
        options.plan.cameraAddress = parser.value(cameraAddress).toStdString();
    }
    if (parser.isSet(port)) {
        bool ok = false;
        const uint value = parser.value(port).toUInt(&ok);
        if (!ok || value == 0 || value > 65535) {
            std::fprintf(stderr, "SearchTool: --port takes 1..65535\n");
            return 2;
        }
        options.port = static_cast<std::uint16_t>(value);
    }

    options.setupFile = parser.value(setup);
    options.rosterFile = parser.value(roster);
    if (parser.isSet(applyAllWhen)) {
        bool ok = false;
        const uint count = parser.value(applyAllWhen).toUInt(&ok);
        if (!ok || count == 0) {
            std::fprintf(stderr, "SearchTool: --apply-all-when takes a number of cameras, 1 or more\n");
            return 2;
        }
        options.applyAllWhen = count;
    }
    options.closeWhenDone = parser.isSet(closeWhenDone);
    options.keepApplying = parser.isSet(keepApplying);
    if ((options.closeWhenDone || options.keepApplying) && options.applyAllWhen == 0) {
        std::fprintf(stderr, "SearchTool: --close-when-done and --keep-applying need --apply-all-when\n");
        return 2;
    }
    if (options.closeWhenDone && options.keepApplying) {
        std::fprintf(stderr, "SearchTool: --keep-applying never ends a run: not with --close-when-done\n");
        return 2;
    }

    // The console's settings file says which language the operator chose.
    orv::CSettings& settings = orv::CSettings::GetInstance();
    settings.Init(orv::executableFolder(), orv::userSettingsFolder());
    settings.LoadTexts();
    options.language = *settings.language;
    options.layoutFile = orv::searchToolStateFile(settings);
    options.trustedKeys = parser.value(trustedKeys);
    if (parser.isSet(ledgerLocation)) {
        options.ledgerLocation = parser.value(ledgerLocation); // for this session: remembered once edited
    } else {
        options.ledgerLocation = QString::fromStdString(orv::rememberedLedgerLocation(options.layoutFile));
    }
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    options.inventoryFile = QDir::toNativeSeparators(
        QDir(documents.isEmpty() ? QDir::currentPath() : documents).filePath(QStringLiteral("orv_inventory.csv")));

    if (parser.isSet(inventory)) {
        options.inventoryFile = parser.value(inventory);
    }

    // The window goes as soon as it is closed; the dialog's end then waits for the cameras at work
    // to finish their step, so the process ends only once they have.
    orv::search::CSearchToolDlg dialog(options);
    dialog.DoModal();
    return options.closeWhenDone ? dialog.exitCode() : 0;
}
