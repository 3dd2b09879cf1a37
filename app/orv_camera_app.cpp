#include "app/orv_camera_app.h"

#include "console/orv_camera_dlg.h"
#include "persist/settings.h"

namespace orv {

bool COrvCameraApp::InitInstance()
{
    CSettings& settings = CSettings::GetInstance();
    settings.Init();
    settings.LoadUser();
    settings.LoadTexts();

    COrvCameraDlg dialog;
    dialog.DoModal();
    // Nothing is written at exit: every file was written when the operator acted.
    return false;
}

} // namespace orv
