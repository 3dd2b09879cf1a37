#include "app/orv_camera_app.h"
#include "console/app_icon.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("OrvCamera"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0.2"));
    QApplication::setWindowIcon(orv::applicationIcon());
    orv::COrvCameraApp app;
    app.InitInstance();
    return 0;
}
