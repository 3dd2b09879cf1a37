#pragma once
// Shows the busy cursor for as long as it lives: wrap every wait for the camera in one.

#include <QApplication>
#include <QCursor>

namespace orv {

class BusyCursor
{
public:
    BusyCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
    ~BusyCursor() { QApplication::restoreOverrideCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
};

} // namespace orv
