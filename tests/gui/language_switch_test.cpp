// Applying the interface texts and switching the language.

#include "console/activity_log.h"
#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "lang/language_texts.h"
#include "persist/ini_file.h"
#include "support/console_fixture.h"

#include <QComboBox>

using namespace orv;
using namespace orv::testing;

namespace {

QString fileText(const QString& languageFile, std::u16string_view section, std::size_t entry)
{
    const IniFile file = IniFile::load(languageFile.toStdU16String());
    return QString::fromStdU16String(file.readString(section, kTextTable[entry].key, kMissingText));
}

QStringList rows(const QComboBox* combo)
{
    QStringList out;
    for (int i = 0; i < combo->count(); ++i) {
        out.append(combo->itemText(i));
    }
    return out;
}

// Every keyed caption and combo row of the console against the section of the language file.
void expectTexts(const COrvCameraDlg& dialog, const QString& languageFile, std::u16string_view section)
{
    for (std::size_t i = 0; i < kTextCount; ++i) {
        const TextEntry& entry = kTextTable[i];
        const QString expected = fileText(languageFile, section, i);
        if (entry.target == TextTarget::Caption) {
            for (int id : entry.controls()) {
                QVERIFY2(dialog.dlgItemText(id) == expected, qPrintable(QStringLiteral("control %1").arg(id)));
            }
        } else {
            const auto* combo = dialog.dlgItem<QComboBox>(entry.controlIds[0]);
            QCOMPARE(combo->itemText(entry.row), expected);
        }
    }
    QCOMPARE(dialog.languageCombo->count(), 3);
    QCOMPARE(dialog.dlgItem<QComboBox>(idc::kPlatform)->count(), 2);
    QCOMPARE(dialog.dlgItem<QComboBox>(idc::kTimeZone)->count(), 25);
    QCOMPARE(dialog.dlgItemText(1084), QStringLiteral("RNDIS"));
    QCOMPARE(dialog.dlgItemText(1089), QStringLiteral("GB28181"));
    QCOMPARE(dialog.dlgItemText(1096), QStringLiteral("Sceen Psk"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("OrvCamera Ver.2018-01-16"));
}

} // namespace

class LanguageSwitchTest : public QObject
{
    Q_OBJECT
private slots:
    void init() { enterSeamTestMode(); }
    void cleanup() { leaveSeamTestMode(); }

    void opensInTheStoredLanguage_data();
    void opensInTheStoredLanguage();
    void choosingEnglishStoresAndRelabelsAtOnce();
    void changeKeepsTimeZoneAndRestoresPlatformChoice();
    void laterLinesUseTheNewLanguage();
    void missingLanguageFileGivesDefault();
    void languageOutsideTheTableLeavesNoRowSelected();
};

void LanguageSwitchTest::opensInTheStoredLanguage_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("section");
    // clang-format off
    QTest::newRow("simplified chinese") << 0 << "SimplifiedChinese";
    QTest::newRow("traditional chinese") << 1 << "TraditionalChinese";
    QTest::newRow("english") << 2 << "English";
    // clang-format on
}

void LanguageSwitchTest::opensInTheStoredLanguage()
{
    QFETCH(int, language);
    QFETCH(QString, section);
    TestSettings settings(language);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    expectTexts(dialog, sourceLanguageFile(), section.toStdU16String());
    QCOMPARE(dialog.languageCombo->currentIndex(), language);
    QCOMPARE(dialog.dlgItem<QComboBox>(idc::kTimeZone)->currentIndex(), 0);
    QCOMPARE(dialog.dlgItem<QComboBox>(idc::kPlatform)->currentIndex(), 0);
}

void LanguageSwitchTest::choosingEnglishStoresAndRelabelsAtOnce()
{
    TestSettings settings(0);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    dialog.show();
    QCOMPARE(dialog.dlgItemText(idc::kLogin), fileText(sourceLanguageFile(), u"SimplifiedChinese", 9));

    // The operator picks the last row.
    QTest::keyClick(dialog.languageCombo, Qt::Key_End);
    QCOMPARE(IniFile::load(settings.settings().setupPath).readInt(u"Lang", u"LangKey", -1), 2);
    expectTexts(dialog, sourceLanguageFile(), u"English");
    QCOMPARE(dialog.dlgItemText(idc::kLogin), QStringLiteral("Log In"));
    QCOMPARE(dialog.languageCombo->currentIndex(), 2);
    QCOMPARE(rows(dialog.languageCombo).size(), 3);
}

void LanguageSwitchTest::changeKeepsTimeZoneAndRestoresPlatformChoice()
{
    TestSettings settings(2);
    IniFile::writeInt(settings.settings().setupPath, u"Proc", u"Platform", 1);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    // The choice in memory stays 1 while the file says 0, as after a Platform Get.
    settings.settings().SavePlatform(0);
    auto* timeZone = dialog.dlgItem<QComboBox>(idc::kTimeZone);
    auto* platform = dialog.dlgItem<QComboBox>(idc::kPlatform);
    QCOMPARE(platform->currentIndex(), 1);
    timeZone->setCurrentIndex(20);
    platform->setCurrentIndex(0);

    dialog.languageCombo->setCurrentIndex(1);
    dialog.OnLanguageChanged();
    QCOMPARE(timeZone->currentIndex(), 20);
    QCOMPARE(platform->currentIndex(), 1);
    QCOMPARE(dialog.languageCombo->currentIndex(), 1);
    expectTexts(dialog, sourceLanguageFile(), u"TraditionalChinese");

    // Without a row, it stays without one.
    timeZone->setCurrentIndex(-1);
    dialog.languageCombo->setCurrentIndex(2);
    dialog.OnLanguageChanged();
    QCOMPARE(timeZone->currentIndex(), -1);
    QCOMPARE(timeZone->count(), 25);
}

void LanguageSwitchTest::laterLinesUseTheNewLanguage()
{
    TestSettings settings(2);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    QCoreApplication::sendPostedEvents(&dialog, kAppendLogEvent);
    dialog.languageCombo->setCurrentIndex(0);
    dialog.OnLanguageChanged();
    PostLog(&dialog, LogMessage::LoginSuccess);
    QCoreApplication::sendPostedEvents(&dialog, kAppendLogEvent);
    const QStringList lines = dialog.dlgItemText(idc::kLog).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines[0].endsWith(QStringLiteral("program startup ...")));
    QVERIFY(lines[1].endsWith(QStringLiteral("登录成功 ...")));
}

void LanguageSwitchTest::missingLanguageFileGivesDefault()
{
    TestSettings settings(2, QStringLiteral("/nonexistent/orv_language.ini"));
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    expectTexts(dialog, QStringLiteral("/nonexistent/orv_language.ini"), u"English");
    QCOMPARE(dialog.dlgItemText(idc::kLogin), QStringLiteral("Default"));
    QCOMPARE(dialog.dlgItemText(1032), QStringLiteral("Default"));
}

void LanguageSwitchTest::languageOutsideTheTableLeavesNoRowSelected()
{
    TestSettings settings(2);
    COrvCameraDlg dialog;
    QVERIFY(dialog.Create());
    settings.settings().SaveLanguage(5);
    dialog.ApplyTexts();
    // No text is read: the English captions stay, and no language row is chosen.
    QCOMPARE(dialog.dlgItemText(idc::kLogin), QStringLiteral("Log In"));
    QCOMPARE(dialog.languageCombo->count(), 3);
    QCOMPARE(dialog.languageCombo->currentIndex(), -1);
}

QTEST_MAIN(LanguageSwitchTest)
#include "language_switch_test.moc"
