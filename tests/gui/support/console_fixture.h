#pragma once
// What the console's GUI tests share: a settings object of their own in a temporary folder, a
// fixed clock, and the dialog seams switched to test mode so that an unexpected prompt fails the
// test instead of waiting for a click.

#include "dialogkit/file_dialog.h"
#include "dialogkit/message_box.h"
#include "link/local_clock.h"
#include "persist/settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <cstdint>
#include <memory>

namespace orv::testing {

inline QString sourceLanguageFile()
{
    return QStringLiteral(ORV_SOURCE_DIR "/res/orv_language.ini");
}

inline void enterSeamTestMode()
{
    FileDialog::instance().enterTestMode([](const FilePrompt& prompt) {
        const QByteArray what = "unexpected file prompt, proposed name " + prompt.proposedName.toUtf8();
        QTest::qFail(what.constData(), __FILE__, __LINE__);
    });
    MessageBox::instance().enterTestMode([](const MessagePrompt& prompt) {
        const QByteArray what = "unexpected message box: " + prompt.text.toUtf8();
        QTest::qFail(what.constData(), __FILE__, __LINE__);
    });
}

inline void leaveSeamTestMode()
{
    FileDialog::instance().leaveTestMode();
    MessageBox::instance().leaveTestMode();
}

// A fresh settings object whose files live in a temporary folder, with the project's language
// file, loaded as start-up loads it.
class TestSettings
{
public:
    explicit TestSettings(int language = 2, const QString& languageFile = sourceLanguageFile())
    {
        CSettings::ResetForTests();
        CSettings& s = settings();
        s.languagePath = languageFile.toStdU16String();
        s.Init(folder_.path().toStdU16String());
        if (language >= 0) {
            s.SaveLanguage(language);
        }
        s.LoadUser();
        s.LoadTexts();
    }
    ~TestSettings() { CSettings::ResetForTests(); }

    CSettings& settings() const { return CSettings::GetInstance(); }
    QString folder() const { return folder_.path(); }
    QString path(const QString& name) const { return QDir(folder_.path()).filePath(name); }
    QString setupFile() const { return QString::fromStdU16String(settings().setupPath.u16string()); }

private:
    QTemporaryDir folder_;
};

inline void fixClock(int year, int month, int day, int hour, int minute, int second)
{
    setLocalClock([=] { return LocalDateTime{year, month, day, hour, minute, second}; });
}

} // namespace orv::testing
