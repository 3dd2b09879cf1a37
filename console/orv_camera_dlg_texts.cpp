// The language side of the console: captions and combo rows from the interface texts, and the
// language combo's handler.

#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/qtext.h"
#include "lang/language_texts.h"
#include "persist/settings.h"
#include "res/dialog_templates.h"

#include <QComboBox>

namespace orv {
namespace {

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

} // namespace

void COrvCameraDlg::ApplyTexts()
{
    setWindowTitle(QStringLiteral("OrvCamera %1").arg(qtext(res::loadString(res::kStringVersion))));

    CSettings& settings = CSettings::GetInstance();
    settings.LoadTexts();
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
    fillCombo(languageCombo, texts, kLanguageRowsFirst, kLanguageCount, *settings.language);
    fillCombo(dlgItem<QComboBox>(idc::kPlatform), texts, kPlatformRowsFirst, kPlatformRows, *settings.platform);
    fillCombo(dlgItem<QComboBox>(idc::kTimeZone), texts, kTimeZoneRowsFirst, kTimeZoneRows, 0);
}

void COrvCameraDlg::OnLanguageChanged()
{
    CSettings& settings = CSettings::GetInstance();
    settings.SaveLanguage(languageCombo ? languageCombo->currentIndex() : -1);
    ApplyTexts();
}

} // namespace orv
