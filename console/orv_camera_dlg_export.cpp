// The Device Info group's Export: the shown device id, appended as one line to a text file.

#include "console/activity_log.h"
#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "console/proposed_folder.h"
#include "dialogkit/file_dialog.h"
#include "link/camera_link.h"

#include <QDir>

namespace orv {
namespace {

constexpr char16_t kDeviceIdFileFilter[] = u"文本文档(*.txt)|*.txt||";

} // namespace

void COrvCameraDlg::OnExportDeviceId()
{
    if (!link || !link->loggedIn) {
        return;
    }
    const QString name = QStringLiteral("deviceid.txt");
    const QString proposed = proposedFilePath(name);
    // No overwrite question: the export appends, so choosing an existing list is the normal case.
    const QString path =
        FileDialog::instance().getSaveFileName(this, QString(), QDir::toNativeSeparators(proposed),
                                               QString::fromUtf16(kDeviceIdFileFilter), QStringLiteral("txt"), false);
    if (path.isEmpty()) {
        return;
    }
    std::string why;
    if (AppendTextFile(path, dlgItemText(idc::kDeviceId) + QStringLiteral("\r\n"), &why)) {
        PostLog(this, LogMessage::ExportDeviceId);
    } else {
        PostLog(this, LogMessage::ExportDeviceIdFail, failedFileArgument(path, why));
    }
}

} // namespace orv
