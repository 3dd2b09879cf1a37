#pragma once
// The window system's own menu of a window (the system menu on Windows), kept apart so that
// only this file sees the platform's headers.

#include <QByteArray>
#include <QString>

#include <optional>

class QWidget;

namespace orv {

// Appends a separator and an entry with `command` to the window's system menu. False where the
// window system offers the program no such menu.
bool appendSystemMenuEntry(QWidget* window, unsigned command, const QString& text);

struct SystemCommand
{
    unsigned command;
    qintptr parameter;
};

// The command that a native window message carries when it is a system-menu command.
std::optional<SystemCommand> systemMenuCommand(const QByteArray& eventType, void* message);

} // namespace orv
