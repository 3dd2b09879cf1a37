#include "console/proposed_folder.h"

#include "persist/settings.h"

#include <QStandardPaths>

namespace orv {

QString proposedFileFolder()
{
    if (CSettings::GetInstance().perUser) {
        return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    }
    return QString::fromStdU16String(executableFolder().u16string());
}

} // namespace orv
