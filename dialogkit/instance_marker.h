#pragma once
// Instance markers: a named value on a top-level window by which other programs of the same user
// recognise a running program (the console marks itself, the Batch button looks for the search
// tool). On Windows it is the window property itself. Elsewhere a window carries it as a local
// socket in a folder private to the user, named after the marker and the process, which answers
// the value on connection and closes the window on a "close" request. The window's Qt property of
// the same name holds the value as well.

#include <QString>

#include <optional>

class QWidget;

namespace orv {

inline constexpr char kConsoleMarker[] = "KR20170721100100";
inline constexpr char kSearchToolMarker[] = "ST20170721";
inline constexpr int kMarkerValue = 170721;

// Marks `window` until it is destroyed, or until the marker is cleared.
void setInstanceMarker(QWidget* window, const char* name, int value);
// Unmarks `window` at once: a program whose window has gone but which still finishes work of its
// own is no longer found (a request in hand is still answered).
void clearInstanceMarker(QWidget* window, const char* name);

// A marked window of another program (or of this one).
struct MarkedWindow
{
    QString endpoint;  // the local socket, off Windows
    quintptr handle{}; // the window, on Windows
    int value = 0;
};

// The first window whose marker `name` holds `value`; a marker with another value does not count.
std::optional<MarkedWindow> findMarkedWindow(const char* name, int value);

// Asks the window to close and waits until its program has handled the request.
bool closeMarkedWindow(const MarkedWindow& window);

// Where the markers' sockets live, and the socket of one process's marker.
QString markerFolder();
QString markerEndpoint(const char* name, qint64 processId);

} // namespace orv
