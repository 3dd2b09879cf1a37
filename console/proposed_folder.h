#pragma once
// Where the save dialogs propose their files.

#include <QString>

namespace orv {

// `name` in the program folder, as the console always proposed it; in the user's documents folder
// when the settings live in the user's folder, as the program folder then cannot be written. The
// bare name when the program folder cannot be found.
QString proposedFilePath(const QString& name);

} // namespace orv
