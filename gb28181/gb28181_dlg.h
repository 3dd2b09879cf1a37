#pragma once
// The GB28181 registration settings of the camera, read and written through the camera's SDK.
// Every Get or Set is one whole SDK login; nothing of it outlives the button press.

#include "dialogkit/template_dialog.h"

#include <QString>

namespace orv {

namespace gb28181 {
class CameraSdk;
inline constexpr int kGb28181Template = 129;
namespace idc {
inline constexpr int kServerAddress = 1084;
inline constexpr int kServerPort = 1085;
inline constexpr int kPassword = 1086;
inline constexpr int kRegisterInterval = 1087;
inline constexpr int kHeartbeatInterval = 1088;
inline constexpr int kServerId = 1089;
inline constexpr int kDeviceId = 1045;
inline constexpr int kChannelId = 1091;
inline constexpr int kAlarmInId = 1092;
inline constexpr int kAlarmOutId = 1093;
inline constexpr int kGet = 1094;
inline constexpr int kSet = 1095;
inline constexpr int kEnable = 1106;
} // namespace idc
} // namespace gb28181

class CGB28181Dlg : public TemplateDialog
{
    Q_OBJECT
public:
    // `sdk` null: the SDK installed for the process (the vendor library unless a test chose another).
    explicit CGB28181Dlg(QWidget* parent = nullptr, gb28181::CameraSdk* sdk = nullptr);

    void OnConfigGet();
    void OnConfigSet();

    QString cameraAddress;

private:
    gb28181::CameraSdk& sdk() const;
    gb28181::CameraSdk* sdk_;
};

} // namespace orv
