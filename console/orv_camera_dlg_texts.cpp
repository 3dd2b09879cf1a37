// The language side of the console: captions and combo rows from the interface texts, and the
// language combo's handler.

#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/qt_translation.h"
#include "dialogkit/qtext.h"
#include "lang/language_texts.h"
#include "persist/settings.h"
#include "res/dialog_templates.h"

#include <QComboBox>

#include <array>

namespace orv {
namespace {

// The log box has no caption in the form, and no text of the language file names it; screen
// readers get these, in the words its Clear and Save buttons use.
constexpr std::array<std::u16string_view, kLanguageCount> kLogBoxNames{u"日志", u"記錄", u"Log"};

// Rows go in at explicit positions, in table order; the combo never sorts them.
void fillCombo(QComboBox* combo, const LanguageTexts& texts, std::size_t first, std::size_t count, int selected)
{
    if (!combo) {
        return;
    }
    combo->clear();
    for (std::size_t row = 0; row < count; ++row) {
        combo->insertItem(static_cast<int>(row), qtext(texts[first + row]));
    }
    combo->setCurrentIndex(selected >= 0 && selected < combo->count() ? selected : -1);
}

// The row the combo shows now, or `initial` while it has no rows yet (the window's first texts).
int shownRow(const QComboBox* combo, int initial)
{
    return combo && combo->count() > 0 ? combo->currentIndex() : initial;
}

} // namespace

void COrvCameraDlg::ApplyTexts()
{
    setWindowTitle(QStringLiteral("OrvCamera %1").arg(qtext(res::loadString(res::kStringVersion))));

    CSettings& settings = CSettings::GetInstance();
    settings.LoadTexts();
    // Qt's own texts (message boxes' buttons, file dialogs) follow, here and in the GB28181 dialog.
    if (settings.language) {
        useQtTranslation(*settings.language);
    }
    if (!settings.login || !settings.language || !settings.texts || !settings.platform) {
        return;
    }
    const LanguageTexts& texts = *settings.texts;
    for (std::size_t i = 0; i < kTextCount; ++i) {
        const TextEntry& entry = kTextTable[i];
        if (entry.target != TextTarget::Caption) {
            continue;
        }
        for (int id : entry.controls()) {
            setDlgItemText(id, qtext(texts[i]));
        }
    }
    if (QWidget* log = GetDlgItem(idc::kLog)) {
        log->setAccessibleName(qtext(kLogBoxNames[validLanguage(*settings.language)]));
    }
    fillCombo(languageCombo, texts, kLanguageRowsFirst, kLanguageCount, *settings.language);
    fillCombo(dlgItem<QComboBox>(idc::kPlatform), texts, kPlatformRowsFirst, kPlatformRows, *settings.platform);
    // The zone on show may be a camera's (Time Get) or a setup file's: new captions are no reason
    // to send another one with the next Time Set.
    auto* timeZone = dlgItem<QComboBox>(idc::kTimeZone);
    fillCombo(timeZone, texts, kTimeZoneRowsFirst, kTimeZoneRows, shownRow(timeZone, 0));
}

void COrvCameraDlg::OnLanguageChanged()
{
    CSettings& settings = CSettings::GetInstance();
    settings.SaveLanguage(languageCombo ? languageCombo->currentIndex() : -1);
    ApplyTexts();
}

} // namespace orv
