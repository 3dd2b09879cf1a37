#include "app/orv_camera_app.h"

#include "console/gb28181_opener.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/user_settings_folder.h"
#include "gb28181/gb28181_dlg.h"
#include "persist/settings.h"

namespace orv {

bool COrvCameraApp::InitInstance()
{
    CSettings& settings = CSettings::GetInstance();
    settings.Init(executableFolder(), userSettingsFolder());
    settings.LoadUser();
    settings.LoadTexts();

    setGb28181Opener([](QWidget* parent, const QString& cameraAddress) {
        CGB28181Dlg gb28181(parent);
        gb28181.cameraAddress = cameraAddress;
        gb28181.DoModal();
    });

    COrvCameraDlg dialog;
    dialog.startLedger();
    dialog.DoModal();
    // Nothing is written at exit: every file was written when the operator acted. The dialog's
    // destructor, the window already gone, waits for the ledger events still on their way.
    return false;
}

} // namespace orv
