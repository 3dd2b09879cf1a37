#include "console/system_menu.h"

#include <QWidget>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#endif

namespace orv {

#ifdef _WIN32

bool appendSystemMenuEntry(QWidget* window, unsigned command, const QString& text)
{
    HMENU menu = GetSystemMenu(reinterpret_cast<HWND>(window->winId()), FALSE);
    if (!menu) {
        return false;
    }
    const std::wstring wide = text.toStdWString();
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, command, wide.c_str());
    return true;
}

std::optional<SystemCommand> systemMenuCommand(const QByteArray& eventType, void* message)
{
    if (eventType != "windows_generic_MSG" || !message) {
        return std::nullopt;
    }
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message != WM_SYSCOMMAND) {
        return std::nullopt;
    }
    return SystemCommand{static_cast<unsigned>(msg->wParam), static_cast<qintptr>(msg->lParam)};
}

#else

bool appendSystemMenuEntry(QWidget*, unsigned, const QString&)
{
    return false;
}

std::optional<SystemCommand> systemMenuCommand(const QByteArray&, void*)
{
    return std::nullopt;
}

#endif

} // namespace orv
