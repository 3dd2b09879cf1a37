#include "gb28181/gb28181_dlg.h"

#include "gb28181/camera_sdk.h"
#include "gb28181/network_protocol_config.h"
#include "gb28181/sdk_session.h"

#include "dialogkit/busy_cursor.h"
#include "dialogkit/message_box.h"
#include "link/link_text.h"
#include "persist/decimal_text.h"

#include <QAbstractButton>

namespace orv {

using namespace gb28181;

namespace {

struct TextControl
{
    int id;
    ConfigField field;
};

constexpr TextControl kTextControls[] = {
    {idc::kServerAddress, NetworkProtocolConfig::serverAddress}, {idc::kPassword, NetworkProtocolConfig::password},
    {idc::kServerId, NetworkProtocolConfig::serverId},           {idc::kDeviceId, NetworkProtocolConfig::deviceId},
    {idc::kChannelId, NetworkProtocolConfig::channelId},         {idc::kAlarmInId, NetworkProtocolConfig::alarmInId},
    {idc::kAlarmOutId, NetworkProtocolConfig::alarmOutId},
};

struct NumberControl
{
    int id;
    std::size_t offset;
};

constexpr NumberControl kNumberControls[] = {
    {idc::kServerPort, NetworkProtocolConfig::serverPort},
    {idc::kRegisterInterval, NetworkProtocolConfig::registerInterval},
    {idc::kHeartbeatInterval, NetworkProtocolConfig::heartbeatInterval},
};

std::string addressBytes(const QString& address)
{
    return linkBytes(address.toStdU16String());
}

void showMessage(QWidget* parent, const char* text)
{
    MessageBox::instance().show(parent, QString::fromLatin1(text));
}

} // namespace

CGB28181Dlg::CGB28181Dlg(QWidget* parent, CameraSdk* sdk)
    : TemplateDialog(kGb28181Template, parent)
    , sdk_(sdk)
{
    if (auto* get = dlgItem<QAbstractButton>(idc::kGet)) {
        connect(get, &QAbstractButton::clicked, this, [this] { OnConfigGet(); });
    }
    if (auto* set = dlgItem<QAbstractButton>(idc::kSet)) {
        connect(set, &QAbstractButton::clicked, this, [this] { OnConfigSet(); });
    }
}

CameraSdk& CGB28181Dlg::sdk() const
{
    return sdk_ ? *sdk_ : cameraSdk();
}

// The busy cursor covers the SDK calls, the login's wait of up to 4.35 s above all, and is gone
// before a message box asks for a click. The login is over before the box is shown.
void CGB28181Dlg::OnConfigGet()
{
    NetworkProtocolConfig record;
    const char* failure = nullptr;
    {
        BusyCursor busy;
        ensureSdkReady(sdk());
        SdkSession session(sdk());
        if (!session.Login(addressBytes(cameraAddress))) {
            failure = "Login NetworkProtocol Error";
        } else {
            int size = static_cast<int>(NetworkProtocolConfig::kSize);
            if (sdk().getConfig(session.handle, 0, kGetConfigCommand, record.data(), &size) != 0) {
                failure = "Get NetworkProtocol Error";
            }
            session.Logout();
        }
    }
    if (failure) {
        showMessage(this, failure);
        return;
    }
    checkDlgButton(idc::kEnable, record.data()[NetworkProtocolConfig::enable] != 0);
    for (const TextControl& control : kTextControls) {
        setDlgItemText(control.id, QString::fromStdU16String(record.text(control.field)));
    }
    for (const NumberControl& control : kNumberControls) {
        setDlgItemText(control.id, QString::number(record.number(control.offset)));
    }
}

void CGB28181Dlg::OnConfigSet()
{
    // Built from the form alone: settings the dialog does not show go to the camera as zero.
    NetworkProtocolConfig record;
    record.data()[NetworkProtocolConfig::enable] = isDlgButtonChecked(idc::kEnable) ? 1 : 0;
    for (const TextControl& control : kTextControls) {
        record.setText(control.field, dlgItemText(control.id).toStdU16String());
    }
    for (const NumberControl& control : kNumberControls) {
        const int value = leadingDecimal(dlgItemText(control.id).toStdU16String());
        record.setNumber(control.offset, static_cast<std::uint16_t>(static_cast<unsigned>(value) & 0xFFFFu));
    }
    const char* message = nullptr;
    {
        BusyCursor busy;
        ensureSdkReady(sdk());
        SdkSession session(sdk());
        if (!session.Login(addressBytes(cameraAddress))) {
            message = "Login NetworkProtocol Fail!";
        } else {
            message = session.SaveConfig(record) == 0 ? "Save NetworkProtocol Success!" : "Save NetworkProtocol Fail!";
            session.Logout();
        }
    }
    showMessage(this, message);
}

} // namespace orv
