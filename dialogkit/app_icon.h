#pragma once
// The application icon, drawn rather than shipped as an image so that it is sharp at every size.

#include <QIcon>

namespace orv {

QIcon applicationIcon();

} // namespace orv
