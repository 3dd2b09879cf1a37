// SearchTool: finds every camera attached to this computer and configures them all at once.
// The console's Batch button starts it without arguments: it then looks behind every network
// interface in the camera address's /24. For demonstrations with simulated cameras, a list of
// addresses stands in for the interfaces (--address, or ORV_CAMERA_ADDRESSES).
// Its command line and start-up are runSearchTool's (search_tool_command_line.h).

#include "dialogkit/app_icon.h"
#include "orv_version.h"
#include "searchtool/search_tool_command_line.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("SearchTool"));
    QApplication::setApplicationVersion(QString::fromLatin1(orv::kProgramVersion));
    QApplication::setWindowIcon(orv::applicationIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("orvcamera"));
    return orv::search::runSearchTool(application);
}
