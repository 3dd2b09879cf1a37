#pragma once
// The folder in which the save dialogs propose their file names.

#include <QString>

namespace orv {

// The program folder, as the console always proposed it; the user's documents folder when the
// settings live in the user's folder, as the program folder then cannot be written. Empty when
// the program folder cannot be found.
QString proposedFileFolder();

} // namespace orv
