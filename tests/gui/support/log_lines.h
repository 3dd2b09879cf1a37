#pragma once
// Reading the console's log box in tests.

#include "console/activity_log.h"
#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"

#include <QCoreApplication>
#include <QStringList>

namespace orv::testing {

// The lines posted since the last call, without their timestamps; empties the box.
inline QStringList takeLog(COrvCameraDlg& dialog)
{
    QCoreApplication::sendPostedEvents(&dialog, kAppendLogEvent);
    QStringList lines = dialog.dlgItemText(idc::kLog).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (QString& line : lines) {
        line = line.mid(line.indexOf(QStringLiteral("] ")) + 2);
    }
    dialog.setDlgItemText(idc::kLog, QString());
    return lines;
}

} // namespace orv::testing
