#include "report/report_fonts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QStringList>

#include <cstdio>
#include <mutex>

namespace orv::report {
namespace {

constexpr const char* kFontFileName = "wqy-microhei.ttc";

QStringList candidateFiles()
{
    QStringList files;
    const QByteArray named = qgetenv("ORV_REPORT_FONT");
    if (!named.isEmpty()) {
        files << QString::fromLocal8Bit(named);
    }
    if (QCoreApplication::instance()) {
        files << QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("fonts/") + kFontFileName);
    }
#ifndef Q_OS_WIN
    // Not on Windows: there this path names a folder of whatever drive is current (under Wine the
    // Linux root, which would hide a package that lacks the font beside the program).
    files << QStringLiteral("/usr/share/fonts/truetype/wqy/") + kFontFileName;
#endif
    return files;
}

struct Loaded
{
    std::optional<ReportFonts> fonts;
    std::string error;
};

Loaded load()
{
    Loaded loaded;
    const QStringList files = candidateFiles();
    for (const QString& file : files) {
        if (!QFileInfo::exists(file)) {
            continue;
        }
        const int id = QFontDatabase::addApplicationFont(file);
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        if (id < 0 || families.isEmpty()) {
            continue;
        }
        // The file holds a proportional face and a fixed-pitch one. Their family names may come back
        // in the system's language (Windows' own font engine gives the Chinese ones), so the
        // fixed-pitch face is told by its pitch, not its name.
        ReportFonts fonts;
        fonts.sans = families.front();
        fonts.mono = families.front();
        bool sansFound = false;
        for (const QString& family : families) {
            if (QFontDatabase::isFixedPitch(family)) {
                fonts.mono = family;
            } else if (!sansFound) {
                fonts.sans = family;
                sansFound = true;
            }
        }
        loaded.fonts = fonts;
        return loaded;
    }
    loaded.error = "no font with Chinese characters for the report: looked for " +
                   files.join(QStringLiteral(", ")).toStdString() +
                   " (Debian: fonts-wqy-microhei; or name a font file in ORV_REPORT_FONT)";
    return loaded;
}

} // namespace

std::optional<ReportFonts> reportFonts(std::string& error)
{
    static std::mutex mutex;
    static std::optional<Loaded> loaded;
    const std::lock_guard lock(mutex);
    if (!loaded || !loaded->fonts) {
        loaded = load(); // a font installed meanwhile is found on the next report
    }
    error = loaded->error;
    return loaded->fonts;
}

ReportApplication::ReportApplication()
{
    if (QCoreApplication::instance()) {
        return;
    }
    // Text needs a platform's font machinery, not a screen: the offscreen one serves a terminal.
    // Qt keeps the arguments for the application's life and takes out those it reads.
    // Qt's own warnings about the desktop it does not use (no runtime folder, no display) are no
    // business of a terminal's user; what is critical still goes to standard error.
    previousHandler_ = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg) {
            std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, text)));
        }
    });
    argc_ = 3;
    argv_ = {name_.data(), option_.data(), platform_.data(), nullptr};
    app_ = std::make_unique<QGuiApplication>(argc_, argv_.data());
}

ReportApplication::~ReportApplication()
{
    if (app_) {
        app_.reset();
        qInstallMessageHandler(previousHandler_);
    }
}

} // namespace orv::report
