#include "searchtool/search_tool_command_line.h"

#include "dialogkit/user_settings_folder.h"
#include "link/frame.h"
#include "persist/ledger_location.h"
#include "persist/settings.h"

#include <QApplication>
#include <QDir>
#include <QStandardPaths>

#include <cstdio>

namespace orv::search {
namespace {

// "a,b" "c" -> a, b, c: repeatable options also take comma-separated lists.
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

SearchToolCommandLine::SearchToolCommandLine()
    : address_(QStringLiteral("address"),
               QStringLiteral("A camera address that stands in for the interfaces (simulated cameras); repeatable, or "
                              "comma-separated. Default: ORV_CAMERA_ADDRESSES."),
               QStringLiteral("A"))
    , interfaceName_(QStringLiteral("interface"),
                     QStringLiteral("Look only behind this network interface; repeatable."), QStringLiteral("NAME"))
    , cameraAddress_(QStringLiteral("camera-address"),
                     QStringLiteral("The address every camera answers at (default %1).")
                         .arg(QString::fromLatin1(kFactoryCameraAddress)),
                     QStringLiteral("A"))
    , port_(QStringLiteral("port"), QStringLiteral("The cameras' port (default 19436)."), QStringLiteral("N"))
    , setup_(QStringLiteral("setup"), QStringLiteral("The setup file to apply."), QStringLiteral("FILE"))
    , roster_(QStringLiteral("roster"), QStringLiteral("The roster of officers (CSV)."), QStringLiteral("FILE"))
    , inventory_(QStringLiteral("inventory"), QStringLiteral("The inventory that gains a row per camera (CSV)."),
                 QStringLiteral("FILE"))
    , ledgerLocation_(
          QStringLiteral("ledger"),
          QStringLiteral("Where every outcome is recorded: a ledger file, or a PostgreSQL connection URI or key=value "
                         "string (its password from ~/.pgpass or PGPASSWORD, never here). Default: the location "
                         "chosen in the window last, else orv_ledger.db in the user's data folder."),
          QStringLiteral("LOCATION"))
    , trustedKeys_(QStringLiteral("trusted"),
                   QStringLiteral("The verifier keys to trust besides this station's own, one a line (what orvctl "
                                  "ledger key prints); remembered for later sessions."),
                   QStringLiteral("FILE"))
    , applyAllWhen_(QStringLiteral("apply-all-when"),
                    QStringLiteral("Press Apply to all by itself once N cameras are ready (unattended use)."),
                    QStringLiteral("N"))
    , closeWhenDone_(QStringLiteral("close-when-done"),
                     QStringLiteral("With --apply-all-when: close once that run is over; exit status 0 when every "
                                    "camera was set as asked, 1 otherwise. Problems go to standard error instead of "
                                    "message boxes."))
    , keepApplying_(QStringLiteral("keep-applying"),
                    QStringLiteral("With --apply-all-when: after that first run, set up every camera plugged in later "
                                   "as soon as it is ready, each once while it stays plugged in (a dock station left "
                                   "to itself)."))
{
    parser_.setApplicationDescription(QStringLiteral("Finds every camera attached and configures them all at once."));
    parser_.addHelpOption();
    parser_.addVersionOption();
    parser_.addOptions({address_, interfaceName_, cameraAddress_, port_, setup_, roster_, inventory_, ledgerLocation_,
                        trustedKeys_, applyAllWhen_, closeWhenDone_, keepApplying_});
}

SearchToolCommandLine::Result SearchToolCommandLine::read(const QString& addressesFromEnvironment) const
{
    Result r;
    SearchToolOptions& options = r.options;
    QStringList addresses = listOf(parser_.values(address_));
    if (addresses.isEmpty()) {
        addresses = listOf({addressesFromEnvironment});
    }
    options.plan.cameraAddresses = utf8List(addresses);
    options.plan.interfaceNames = utf8List(listOf(parser_.values(interfaceName_)));
    if (parser_.isSet(cameraAddress_)) {
        options.plan.cameraAddress = parser_.value(cameraAddress_).toStdString();
    }
    if (parser_.isSet(port_)) {
        bool ok = false;
        const uint value = parser_.value(port_).toUInt(&ok);
        if (!ok || value == 0 || value > 65535) {
            r.error = QStringLiteral("--port takes 1..65535");
            return r;
        }
        options.port = static_cast<std::uint16_t>(value);
    }
    options.setupFile = parser_.value(setup_);
    options.rosterFile = parser_.value(roster_);
    if (parser_.isSet(applyAllWhen_)) {
        bool ok = false;
        const uint count = parser_.value(applyAllWhen_).toUInt(&ok);
        if (!ok || count == 0) {
            r.error = QStringLiteral("--apply-all-when takes a number of cameras, 1 or more");
            return r;
        }
        options.applyAllWhen = count;
    }
    options.closeWhenDone = parser_.isSet(closeWhenDone_);
    options.keepApplying = parser_.isSet(keepApplying_);
    if ((options.closeWhenDone || options.keepApplying) && options.applyAllWhen == 0) {
        r.error = QStringLiteral("--close-when-done and --keep-applying need --apply-all-when");
        return r;
    }
    if (options.closeWhenDone && options.keepApplying) {
        r.error = QStringLiteral("--keep-applying never ends a run: not with --close-when-done");
        return r;
    }
    options.trustedKeys = parser_.value(trustedKeys_);
    r.ledgerGiven = parser_.isSet(ledgerLocation_);
    options.ledgerLocation = parser_.value(ledgerLocation_); // for this session: remembered once edited
    r.inventoryGiven = parser_.isSet(inventory_);
    options.inventoryFile = parser_.value(inventory_);
    return r;
}

int runSearchTool(QApplication& application)
{
    SearchToolCommandLine line;
    line.parser().process(application);
    SearchToolCommandLine::Result given = line.read(qEnvironmentVariable("ORV_CAMERA_ADDRESSES"));
    if (!given.error.isEmpty()) {
        std::fprintf(stderr, "SearchTool: %s\n", given.error.toLocal8Bit().constData());
        return 2;
    }
    SearchToolOptions& options = given.options;

    // The console's settings file says which language the operator chose.
    CSettings& settings = CSettings::GetInstance();
    settings.Init(executableFolder(), userSettingsFolder());
    settings.LoadTexts();
    options.language = *settings.language;
    options.layoutFile = searchToolStateFile(settings);
    if (!given.ledgerGiven) {
        options.ledgerLocation = QString::fromStdString(rememberedLedgerLocation(options.layoutFile));
    }
    if (!given.inventoryGiven) {
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        options.inventoryFile = QDir::toNativeSeparators(
            QDir(documents.isEmpty() ? QDir::currentPath() : documents).filePath(QStringLiteral("orv_inventory.csv")));
    }

    // The window goes as soon as it is closed; the dialog's end then waits for the cameras at work
    // to finish their step, so the process ends only once they have.
    CSearchToolDlg dialog(options);
    dialog.DoModal();
    return options.closeWhenDone ? dialog.exitCode() : 0;
}

} // namespace orv::search
