// Starts as the console starts (settings, texts, the console dialog modally), says "shown WxH" on
// standard output once the console is on screen and ends. Built without the console it shows a
// plain Qt dialog of a given size instead: "bare" is the floor for any Qt program, "text" the
// same with one line of text, which adds the font set-up every dialog with captions pays.
//   console_start_probe console SETTINGS_FOLDER
//   bare_dialog_probe bare|text WIDTH HEIGHT

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef ORV_PROBE_CONSOLE
#include "console/orv_camera_dlg.h"
#include "persist/settings.h"
#endif

namespace {

void reportShown(QDialog& dialog)
{
    std::printf("shown %dx%d\n", dialog.width(), dialog.height());
    std::fflush(stdout);
    dialog.done(0);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
#ifdef ORV_PROBE_CONSOLE
    if (argc == 3 && std::strcmp(argv[1], "console") == 0) {
        orv::CSettings& settings = orv::CSettings::GetInstance();
        settings.languagePath = orv::executableFolder() / orv::kLanguageFileName;
        settings.Init(argv[2]);
        settings.LoadUser();
        settings.LoadTexts();
        orv::COrvCameraDlg dialog;
        QTimer::singleShot(0, &dialog, [&dialog] { reportShown(dialog); });
        dialog.DoModal();
        return 0;
    }
#else
    if (argc == 4 && (std::strcmp(argv[1], "bare") == 0 || std::strcmp(argv[1], "text") == 0)) {
        QDialog dialog;
        dialog.setFixedSize(std::atoi(argv[2]), std::atoi(argv[3]));
        if (std::strcmp(argv[1], "text") == 0) {
            new QLabel(QStringLiteral("program startup ..."), &dialog);
        }
        QTimer::singleShot(0, &dialog, [&dialog] { reportShown(dialog); });
        dialog.exec();
        return 0;
    }
#endif
    std::fprintf(stderr, "usage: console_start_probe console FOLDER | bare_dialog_probe bare|text W H\n");
    return 2;
}
