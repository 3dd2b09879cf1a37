#pragma once
// Qt's own texts in the operator's language: the standard buttons of message boxes ("OK",
// "Cancel"), the file dialogs, the edit fields' context menus. Qt keeps them in a catalogue per
// language, qtbase_<locale>.qm, looked for in translations/ beside the program first (the Windows
// packages and a portable folder ship it there), then in Qt's own translations folder (on Debian,
// from qt6-translations-l10n). English needs none. A catalogue that cannot be found is no error:
// Qt's texts then stay English.

#include <QString>
#include <QStringList>

#include <cstdint>

namespace orv {

// The catalogue's locale for a language index: "zh_CN" for 0 (and for an index outside 0..2, which
// the program treats as Simplified Chinese everywhere), "zh_TW" for 1, empty for English (2).
QString qtTranslationLocale(std::uint8_t language);

// The folders searched for a catalogue, in the order they are searched.
QStringList qtTranslationFolders();

// The catalogue file of a language: the one in the first folder that has it; empty for English
// and when no folder has it.
QString qtTranslationFile(std::uint8_t language);

// Puts Qt's texts in `language` for the whole application: installs that language's catalogue in
// place of the one this function installed before, or, for English, removes it. True when Qt's
// texts are now in that language; false when its catalogue is missing or unreadable (none is
// installed then) or there is no application object. Calling it again with the same language
// changes nothing.
bool useQtTranslation(std::uint8_t language);

// The locale of the catalogue that useQtTranslation installed and that is still in place; empty
// when none is.
QString installedQtTranslation();

} // namespace orv
