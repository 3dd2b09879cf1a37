// The buttons that hand work to something outside the console: the search tool, the driver
// installer of the USB network adapter and the GB28181 dialog.

#include "console/activity_log.h"
#include "console/control_ids.h"
#include "console/gb28181_opener.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/instance_marker.h"
#include "dialogkit/ip_address_edit.h"
#include "persist/settings.h"

#include <QDir>
#include <QProcess>

#ifdef _WIN32
// windows.h first: shellapi.h relies on its types.
#include <windows.h>

#include <shellapi.h>
#endif

namespace orv {

namespace {

Gb28181Opener& gb28181Opener()
{
    static Gb28181Opener opener;
    return opener;
}

QString& companionFolderForTests()
{
    static QString folder;
    return folder;
}

QString programPath(const char* fileName)
{
    const QString folder = companionFolderForTests().isEmpty()
                               ? QString::fromStdU16String(executableFolder().u16string())
                               : companionFolderForTests();
    const QString name = QString::fromLatin1(fileName);
    return QDir::toNativeSeparators(folder.isEmpty() ? name : QDir(folder).filePath(name));
}

// Starts the program as the shell's "open" would: no arguments, the console's current directory,
// without waiting for it. False when it could not be started.
bool openProgram(const QString& path)
{
#ifdef _WIN32
    const auto status = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", reinterpret_cast<LPCWSTR>(path.utf16()), nullptr, nullptr, SW_SHOWNORMAL));
    return status >= 32;
#else
    return QProcess::startDetached(path, {}, QString());
#endif
}

} // namespace

void setCompanionFolderForTests(const QString& folder)
{
    companionFolderForTests() = folder;
}

void setGb28181Opener(Gb28181Opener opener)
{
    gb28181Opener() = std::move(opener);
}

void COrvCameraDlg::OnBatch()
{
    if (const auto running = findMarkedWindow(kSearchToolMarker, kMarkerValue)) {
        closeMarkedWindow(*running);
        return;
    }
    PostLog(this, openProgram(programPath(kSearchToolFileName)) ? LogMessage::OpenSearchToolSuccess
                                                                : LogMessage::OpenSearchToolFail);
}

void COrvCameraDlg::OnRndis()
{
    openProgram(programPath(kRndisInstallerFileName));
    PostLog(this, LogMessage::OpenRndis);
}

void COrvCameraDlg::OnGb28181()
{
    Octets octets{};
    if (const auto* field = dlgItem<IpAddressEdit>(idc::kCameraIp)) {
        octets = field->address();
    }
    const QString address = QString::asprintf("%d.%d.%d.%d", octets[0], octets[1], octets[2], octets[3]);
    if (const Gb28181Opener& open = gb28181Opener()) {
        open(this, address);
    }
}

} // namespace orv
