// Handlers whose work arrives with the login, device actions, settings groups, setup files,
// device-ID export and companion programs. Each button already reaches its handler.

#include "console/orv_camera_dlg.h"

namespace orv {

void COrvCameraDlg::OnLogin() {}
void COrvCameraDlg::OnChangePasswd() {}
void COrvCameraDlg::OnUDisk() {}
void COrvCameraDlg::OnTimeSync() {}
void COrvCameraDlg::OnFactory() {}
void COrvCameraDlg::OnFormatDisk() {}
void COrvCameraDlg::OnUIdentify() {}

void COrvCameraDlg::OnPlatformGet() {}
void COrvCameraDlg::OnPlatformSet() {}
void COrvCameraDlg::On4GGet() {}
void COrvCameraDlg::On4GSet() {}
void COrvCameraDlg::OnWifiGet() {}
void COrvCameraDlg::OnWifiSet() {}
void COrvCameraDlg::OnDeviceInfoGet() {}
void COrvCameraDlg::OnDeviceInfoSet() {}
void COrvCameraDlg::OnTimeGet() {}
void COrvCameraDlg::OnTimeSet() {}
void COrvCameraDlg::OnProxyGet() {}
void COrvCameraDlg::OnProxySet() {}

void COrvCameraDlg::OnExportDeviceId() {}
void COrvCameraDlg::OnSaveSetup() {}
void COrvCameraDlg::OnLoadSetup() {}
void COrvCameraDlg::OnBatch() {}
void COrvCameraDlg::OnRndis() {}
void COrvCameraDlg::OnGb28181() {}

} // namespace orv
