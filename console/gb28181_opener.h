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

// The programs the console starts from its own folder. The search tool is built for every
// platform, under the name that platform's programs have.
#ifdef _WIN32
inline constexpr char kSearchToolFileName[] = "SearchTool.exe";
#else
inline constexpr char kSearchToolFileName[] = "SearchTool";
#endif
inline constexpr char kRndisInstallerFileName[] = "DPInst64.exe";

// Test hook: starts the companion programs from `folder` instead of the program folder; an empty
// folder returns to the program folder.
void setCompanionFolderForTests(const QString& folder);

} // namespace orv
