#include "app/orv_camera_app.h"
#include "dialogkit/app_icon.h"
#include "orv_version.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>

namespace {

// ORV_REPORT_SHOWN=1 is for bench/console_bench only: once the first window has been exposed
// (and so painted), print "shown WxH" on standard output and close it, which ends the program
// the usual way. Without the variable nothing of this is installed.
class ShownReporter : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!done_ && event->type() == QEvent::Expose && watched->isWindowType() &&
            static_cast<QWindow*>(watched)->isExposed()) {
            done_ = true;
            auto* window = static_cast<QWindow*>(watched);
            // Queued, so that the expose event (the first paint) completes before the report.
            QTimer::singleShot(0, this, [window] {
                for (QWidget* widget : QApplication::topLevelWidgets()) {
                    if (widget->windowHandle() == window) {
                        std::printf("shown %dx%d\n", widget->width(), widget->height());
                        std::fflush(stdout);
                        widget->close();
                    }
                }
            });
        }
        return false;
    }

private:
    bool done_ = false;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("OrvCamera"));
    QApplication::setApplicationVersion(QString::fromLatin1(orv::kProgramVersion));
    QApplication::setWindowIcon(orv::applicationIcon());
    // Lets the desktop match the window to orvcamera.desktop and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("orvcamera"));
    if (qEnvironmentVariable("ORV_REPORT_SHOWN") == QLatin1String("1")) {
        application.installEventFilter(new ShownReporter(&application));
    }
    orv::COrvCameraApp app;
    app.InitInstance();
    return 0;
}
