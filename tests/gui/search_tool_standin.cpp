// A stand-in of the device search tool: one window marked the way the search tool marks its
// window. The marker's value may be given as the one argument; "ready" on standard output says
// the marker is in place.

#include "dialogkit/instance_marker.h"

#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const int value = argc > 1 ? std::atoi(argv[1]) : orv::kMarkerValue;
    // Deleted when closed, so that its marker goes with it.
    auto* window = new QWidget;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(QStringLiteral("SearchTool"));
    window->show();
    orv::setInstanceMarker(window, orv::kSearchToolMarker, value);
    std::puts("ready");
    std::fflush(stdout);
    return application.exec();
}
