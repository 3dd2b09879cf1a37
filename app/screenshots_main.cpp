// Renders the console offscreen, as it opens in English and in Simplified Chinese, to
// screenshot-en.png and screenshot-zh.png in the folder given (default: the current one).
//   orv-screenshots [FOLDER]

#include "console/orv_camera_dlg.h"
#include "link/local_clock.h"
#include "persist/settings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

namespace {

bool render(const QString& settingsFolder, int language, const QString& target)
{
    using namespace orv;
    CSettings::ResetForTests();
    CSettings& settings = CSettings::GetInstance();
    settings.languagePath = orv::executableFolder() / kLanguageFileName;
    settings.Init(settingsFolder.toStdU16String());
    settings.SaveLanguage(language);
    settings.LoadUser();
    settings.LoadTexts();

    COrvCameraDlg dialog;
    dialog.Create();
    dialog.show();
    // Lets the start-up line reach the log box.
    QCoreApplication::processEvents();
    const bool saved = dialog.grab().save(target, "PNG");
    dialog.close();
    return saved;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(folder);

    // The same picture every time: a fixed clock and a settings file of its own.
    orv::setLocalClock([] { return orv::LocalDateTime{2018, 3, 5, 14, 7, 9}; });
    QTemporaryDir settingsFolder;
    if (!settingsFolder.isValid()) {
        std::fprintf(stderr, "orv-screenshots: no temporary folder\n");
        return 1;
    }
    struct Shot
    {
        int language;
        const char* file;
    };
    for (const Shot& shot : {Shot{2, "screenshot-en.png"}, Shot{0, "screenshot-zh.png"}}) {
        const QString target = QDir(folder).filePath(QString::fromLatin1(shot.file));
        QFile::remove(QDir(settingsFolder.path()).filePath(QStringLiteral("orv_setup.ini")));
        if (!render(settingsFolder.path(), shot.language, target)) {
            std::fprintf(stderr, "orv-screenshots: cannot write %s\n", qPrintable(target));
            return 1;
        }
        std::printf("%s\n", qPrintable(QDir::toNativeSeparators(target)));
    }
    return 0;
}
