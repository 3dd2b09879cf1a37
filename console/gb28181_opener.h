#pragma once
// The GB28181 button opens a dialog of another layer: the application installs how, so that the
// console does not depend on the GB28181 layer.

#include <QString>

#include <functional>

class QWidget;

namespace orv {

// Runs the GB28181 dialog modally for the camera at `cameraAddress` (dotted decimal).
using Gb28181Opener = std::function<void(QWidget* parent, const QString& cameraAddress)>;
// An empty opener makes the button do nothing.
void setGb28181Opener(Gb28181Opener opener);

// The programs the console starts from its own folder.
inline constexpr char kSearchToolFileName[] = "SearchTool.exe";
inline constexpr char kRndisInstallerFileName[] = "DPInst64.exe";

} // namespace orv
