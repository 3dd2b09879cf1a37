// The activity log's handlers: appending a posted line, Clear and Save.

#include "console/activity_log.h"
#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "console/proposed_folder.h"
#include "dialogkit/file_dialog.h"
#include "dialogkit/multi_line_edit.h"
#include "link/local_clock.h"

#include <QDir>

namespace orv {
namespace {

// The save dialog's one filter, with the same label in every language.
constexpr char16_t kLogFileFilter[] = u"文本文档(*.txt)|*.txt||";

} // namespace

int COrvCameraDlg::OnAppendLog(LogRequest* request)
{
    if (!request) {
        return 0;
    }
    if (auto* log = dlgItem<MultiLineEdit>(idc::kLog)) {
        log->appendAtEnd(logTimestamp() + request->text);
    }
    return 0;
}

void COrvCameraDlg::OnClearLog()
{
    setDlgItemText(idc::kLog, QString());
}

void COrvCameraDlg::OnSaveLog()
{
    const LocalDateTime today = localNow();
    const QString name = QString::asprintf("log-%04d%02d%02d.txt", today.year, today.month, today.day);
    const QString proposed = proposedFilePath(name);

    const QString path =
        FileDialog::instance().getSaveFileName(this, QString(), QDir::toNativeSeparators(proposed),
                                               QString::fromUtf16(kLogFileFilter), QStringLiteral("txt"), false);
    if (path.isEmpty()) {
        return;
    }
    std::string why;
    if (AppendTextFile(path, dlgItemText(idc::kLog), &why)) {
        PostLog(this, LogMessage::SaveLog);
    } else {
        PostLog(this, LogMessage::SaveLogFail, failedFileArgument(path, why));
    }
}

} // namespace orv
