// Renders the application icon, the same drawing as the window icon, as the PNG files of the
// desktop's icon theme: FOLDER/<n>x<n>/apps/orvcamera.png for every size given. Run offscreen
// at build time.
//   orv-render-icon FOLDER SIZE...

#include "dialogkit/app_icon.h"

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>

#include <cstdio>

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QGuiApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: orv-render-icon FOLDER SIZE...\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QIcon icon = orv::applicationIcon();
    for (int i = 2; i < argc; ++i) {
        bool number = false;
        const int size = QByteArray(argv[i]).toInt(&number);
        if (!number || size < 1 || size > 1024) {
            std::fprintf(stderr, "orv-render-icon: %s is no icon size\n", argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
        const QString file = dir + QStringLiteral("/orvcamera.png");
        if (!QDir().mkpath(dir) || !icon.pixmap(size, size).save(file, "PNG")) {
            std::fprintf(stderr, "orv-render-icon: cannot write %s\n", qPrintable(file));
            return 1;
        }
    }
    return 0;
}
