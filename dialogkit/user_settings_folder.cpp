#include "dialogkit/user_settings_folder.h"

#include <QCoreApplication>
#include <QStandardPaths>

namespace orv {

std::filesystem::path userSettingsFolder()
{
    // Qt names the folder after the application; every program of the family uses the console's.
    const QString ownName = QCoreApplication::applicationName();
    const QString ownOrganisation = QCoreApplication::organizationName();
    QCoreApplication::setApplicationName(QStringLiteral("OrvCamera"));
    QCoreApplication::setOrganizationName(QString());
#ifdef _WIN32
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
#else
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
#endif
    QCoreApplication::setApplicationName(ownName);
    QCoreApplication::setOrganizationName(ownOrganisation);
    return folder.toStdU16String();
}

} // namespace orv
