#include "console/proposed_folder.h"

#include "persist/settings.h"

#include <QDir>
#include <QStandardPaths>

namespace orv {

QString proposedFilePath(const QString& name)
{
    const QString folder = CSettings::GetInstance().perUser
                               ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                               : QString::fromStdU16String(executableFolder().u16string());
    return folder.isEmpty() ? name : QDir(folder).filePath(name);
}

} // namespace orv
