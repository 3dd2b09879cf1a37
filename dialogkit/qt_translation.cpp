#include "dialogkit/qt_translation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

namespace orv {
namespace {

// The catalogue installed on the application now, and its locale. The translator is a child of
// the application, so it goes with it; the pointer then reads null.
struct Installed
{
    QPointer<QTranslator> translator;
    QString locale;
};

Installed& installed()
{
    static Installed current;
    return current;
}

void removeInstalled()
{
    Installed& current = installed();
    if (current.translator) {
        QCoreApplication::removeTranslator(current.translator);
        delete current.translator.data();
    }
    current.translator = nullptr;
    current.locale.clear();
}

} // namespace

QString qtTranslationLocale(std::uint8_t language)
{
    switch (language) {
        case 1:
            return QStringLiteral("zh_TW");
        case 2:
            return {};
        default:
            return QStringLiteral("zh_CN");
    }
}

QStringList qtTranslationFolders()
{
    QStringList folders;
    if (QCoreApplication::instance()) {
        folders << QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations"));
    }
    const QString qtFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!qtFolder.isEmpty() && !folders.contains(qtFolder)) {
        folders << qtFolder;
    }
    return folders;
}

QString qtTranslationFile(std::uint8_t language)
{
    const QString locale = qtTranslationLocale(language);
    if (locale.isEmpty()) {
        return {};
    }
    const QString name = QStringLiteral("qtbase_%1.qm").arg(locale);
    for (const QString& folder : qtTranslationFolders()) {
        const QFileInfo file(QDir(folder).filePath(name));
        if (file.isFile()) {
            return file.absoluteFilePath();
        }
    }
    return {};
}

bool useQtTranslation(std::uint8_t language)
{
    QCoreApplication* application = QCoreApplication::instance();
    if (!application) {
        return false;
    }
    const QString locale = qtTranslationLocale(language);
    if (locale == installedQtTranslation()) {
        return true; // already so: no language-change event for every window again
    }
    removeInstalled();
    if (locale.isEmpty()) {
        return true;
    }
    // The exact file only: QTranslator::load would otherwise fall back to qtbase_zh.qm or qtbase.qm.
    const QString file = qtTranslationFile(language);
    if (file.isEmpty()) {
        return false;
    }
    auto* translator = new QTranslator(application);
    if (!translator->load(file) || !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    installed() = {translator, locale};
    return true;
}

QString installedQtTranslation()
{
    const Installed& current = installed();
    return current.translator ? current.locale : QString();
}

} // namespace orv
