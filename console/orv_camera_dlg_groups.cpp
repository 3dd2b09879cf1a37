// The six settings groups: each Get fills its fields from the camera, each Set writes them back.

#include "console/activity_log.h"
#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/busy_cursor.h"
#include "dialogkit/qtext.h"
#include "link/camera_link.h"
#include "link/commands.h"
#include "persist/decimal_text.h"
#include "persist/settings.h"

#include <QComboBox>

#include <cstdint>
#include <utility>

namespace orv {
namespace {

constexpr char16_t kPlatformWord[] = u"platform";
constexpr char16_t k4GWord[] = u"4g";
constexpr char16_t kWifiWord[] = u"wifi";
constexpr char16_t kDeviceInfoWord[] = u"device info";
constexpr char16_t kTimeWord[] = u"time";
constexpr char16_t kProxyWord[] = u"gb28181";

// Which edit box shows which text field of a record.
struct TextBinding
{
    const Field& field;
    int control;
};

const TextBinding kNet4gBindings[] = {
    {Net4gRecord::apn, idc::kApn},
    {Net4gRecord::apnUser, idc::kApnUser},
    {Net4gRecord::apnPassword, idc::kApnPassword},
};
const TextBinding kWifiBindings[] = {
    {WifiRecord::ssid, idc::kSsid},
    {WifiRecord::wifiPassword, idc::kWifiPassword},
};
const TextBinding kDeviceBindings[] = {
    {DeviceRecord::deviceId, idc::kDeviceId},     {DeviceRecord::policeId, idc::kPoliceId},
    {DeviceRecord::policeName, idc::kPoliceName}, {DeviceRecord::companyId, idc::kCoId},
    {DeviceRecord::companyName, idc::kCoName},    {DeviceRecord::screenPsk, idc::kScreenPsk},
};

constexpr std::int8_t kPlatformTtx = 0;
constexpr std::int8_t kPlatformRts = 1;

} // namespace

// Shared by the plain groups (4G, Wifi, Device Info): the fields follow the table above.
template <class Record, std::size_t N>
static void plainGet(COrvCameraDlg& dlg, const TextBinding (&bindings)[N], const char16_t* word)
{
    if (!dlg.link || !dlg.link->loggedIn) {
        return;
    }
    Record record;
    int read = -1;
    {
        BusyCursor busy;
        read = GetConfig(*dlg.link, record);
    }
    if (read != 0) {
        PostLog(&dlg, LogMessage::GetFail, word);
        return;
    }
    for (const TextBinding& b : bindings) {
        dlg.setDlgItemText(b.control, qtext(record.text(b.field)));
    }
    PostLog(&dlg, LogMessage::GetSuccess, word);
}

template <class Record, std::size_t N>
static void plainSet(COrvCameraDlg& dlg, const TextBinding (&bindings)[N], const char16_t* word)
{
    if (!dlg.link || !dlg.link->loggedIn) {
        return;
    }
    Record record;
    WriteOutcome outcome = WriteOutcome::ReadFailed;
    {
        BusyCursor busy;
        // Read first so that the bytes the form does not show go back as the camera has them.
        outcome = ReadModifyWrite(*dlg.link, record, [&](Record& r) {
            for (const TextBinding& b : bindings) {
                r.setText(b.field, dlg.dlgItemText(b.control).toStdU16String());
            }
        });
    }
    PostLog(&dlg, outcome == WriteOutcome::Sent ? LogMessage::SetSuccess : LogMessage::SetFail, word);
}

void COrvCameraDlg::On4GGet()
{
    plainGet<Net4gRecord>(*this, kNet4gBindings, k4GWord);
}

void COrvCameraDlg::On4GSet()
{
    plainSet<Net4gRecord>(*this, kNet4gBindings, k4GWord);
}

void COrvCameraDlg::OnWifiGet()
{
    plainGet<WifiRecord>(*this, kWifiBindings, kWifiWord);
}

void COrvCameraDlg::OnWifiSet()
{
    plainSet<WifiRecord>(*this, kWifiBindings, kWifiWord);
}

void COrvCameraDlg::OnDeviceInfoGet()
{
    plainGet<DeviceRecord>(*this, kDeviceBindings, kDeviceInfoWord);
}

void COrvCameraDlg::OnDeviceInfoSet()
{
    plainSet<DeviceRecord>(*this, kDeviceBindings, kDeviceInfoWord);
}

void COrvCameraDlg::OnPlatformGet()
{
    if (!link || !link->loggedIn) {
        return;
    }
    BusyCursor busy;
    FunctionRecord function;
    if (GetConfig(*link, function) != 0) {
        PostLog(this, LogMessage::GetFail, kPlatformWord);
        return;
    }
    auto* combo = dlgItem<QComboBox>(idc::kPlatform);
    const int previous = combo ? combo->currentIndex() : -1;
    const auto choice = function.number(FunctionRecord::platformChoice);
    int shownFields[2] = {0, 0};
    if (choice == kPlatformTtx) {
        TtxServerRecord server;
        if (GetConfig(*link, server) != 0) {
            PostLog(this, LogMessage::GetFail, kPlatformWord);
            return;
        }
        setDlgItemText(idc::kServerIp, qtext(server.text(TtxServerRecord::serverAddress)));
        setDlgItemText(idc::kServerPort, QString::number(server.number(TtxServerRecord::serverPort)));
        shownFields[0] = idc::kServerIp;
        shownFields[1] = idc::kServerPort;
    } else if (choice == kPlatformRts) {
        RtsServerRecord server;
        if (GetConfig(*link, server) != 0) {
            PostLog(this, LogMessage::GetFail, kPlatformWord);
            return;
        }
        setDlgItemText(idc::kRtsId, qtext(server.text(RtsServerRecord::rtsId)));
        setDlgItemText(idc::kRtsCode, qtext(server.text(RtsServerRecord::rtsCode)));
        shownFields[0] = idc::kRtsId;
        shownFields[1] = idc::kRtsCode;
    } else {
        PostLog(this, LogMessage::GetFail, kPlatformWord);
        return;
    }
    const int row = static_cast<int>(choice);
    if (combo) {
        combo->setCurrentIndex(row);
    }
    // Only a change of platform touches the settings file.
    if (previous != row) {
        CSettings::GetInstance().SavePlatform(row);
    }
    for (int id : shownFields) {
        if (QWidget* w = GetDlgItem(id)) {
            w->setEnabled(true);
        }
    }
    PostLog(this, LogMessage::GetSuccess, kPlatformWord);
}

void COrvCameraDlg::OnPlatformSet()
{
    if (!link || !link->loggedIn) {
        return;
    }
    BusyCursor busy;
    FunctionRecord function;
    if (GetConfig(*link, function) != 0) {
        PostLog(this, LogMessage::SetFail, kPlatformWord);
        return;
    }
    // The camera's own platform decides which record goes out, whatever the combo shows.
    WriteOutcome outcome = WriteOutcome::ReadFailed;
    const auto choice = function.number(FunctionRecord::platformChoice);
    if (choice == kPlatformTtx) {
        TtxServerRecord server;
        outcome = ReadModifyWrite(*link, server, [this](TtxServerRecord& r) {
            r.setText(TtxServerRecord::serverAddress, dlgItemText(idc::kServerIp).toStdU16String());
            r.setNumber(TtxServerRecord::serverPort,
                        static_cast<std::uint16_t>(leadingDecimal(dlgItemText(idc::kServerPort).toStdU16String())));
        });
    } else if (choice == kPlatformRts) {
        RtsServerRecord server;
        outcome = ReadModifyWrite(*link, server, [this](RtsServerRecord& r) {
            r.setText(RtsServerRecord::rtsId, dlgItemText(idc::kRtsId).toStdU16String());
            r.setText(RtsServerRecord::rtsCode, dlgItemText(idc::kRtsCode).toStdU16String());
        });
    }
    PostLog(this, outcome == WriteOutcome::Sent ? LogMessage::SetSuccess : LogMessage::SetFail, kPlatformWord);
}

void COrvCameraDlg::OnTimeGet()
{
    if (!link || !link->loggedIn) {
        PostLog(this, LogMessage::GetFail, kTimeWord);
        return;
    }
    TimeRecord record;
    int read = -1;
    {
        BusyCursor busy;
        read = GetTime(*link, record);
    }
    if (read != 0) {
        PostLog(this, LogMessage::GetFail, kTimeWord);
        return;
    }
    checkDlgButton(idc::kSummerTime, record.number(TimeRecord::summerTime) != 0);
    if (auto* zone = dlgItem<QComboBox>(idc::kTimeZone)) {
        const auto index = static_cast<int>(record.number(TimeRecord::timeZone));
        zone->setCurrentIndex(index < zone->count() ? index : -1);
    }
    PostLog(this, LogMessage::GetSuccess, kTimeWord);
}

void COrvCameraDlg::OnTimeSet()
{
    if (!link || !link->loggedIn) {
        PostLog(this, LogMessage::SetFail, kTimeWord);
        return;
    }
    BusyCursor busy;
    TimeRecord record;
    if (GetTime(*link, record) != 0) {
        PostLog(this, LogMessage::SetFail, kTimeWord);
        return;
    }
    putLocalClock(record);
    record.setNumber(TimeRecord::summerTime, isDlgButtonChecked(idc::kSummerTime) ? 1 : 0);
    const auto* zone = dlgItem<QComboBox>(idc::kTimeZone);
    // No row selected (-1) keeps its low byte: 255.
    record.setNumber(TimeRecord::timeZone, static_cast<std::uint8_t>(zone ? zone->currentIndex() : -1));
    PostLog(this, SetTime(*link, record) == 0 ? LogMessage::SetSuccess : LogMessage::SetFail, kTimeWord);
}

void COrvCameraDlg::OnProxyGet()
{
    if (!link || !link->loggedIn) {
        PostLog(this, LogMessage::GetFail, kProxyWord);
        return;
    }
    ProxyRecord record;
    int read = -1;
    {
        BusyCursor busy;
        read = GetProxy(*link, record);
    }
    if (read != 0) {
        PostLog(this, LogMessage::GetFail, kProxyWord);
        return;
    }
    checkDlgButton(idc::kProxyEnable, record.number(ProxyRecord::proxyEnable) != 0);
    setDlgItemText(idc::kProxyPort, QString::number(record.number(ProxyRecord::proxyPort)));
    setDlgItemText(idc::kProxyIp, qtext(record.text(ProxyRecord::proxyAddress)));
    PostLog(this, LogMessage::GetSuccess, kProxyWord);
}

void COrvCameraDlg::OnProxySet()
{
    if (!link || !link->loggedIn) {
        PostLog(this, LogMessage::SetFail, kProxyWord);
        return;
    }
    // Built from the form alone: the camera's other bytes are not carried over.
    ProxyRecord record;
    record.setNumber(ProxyRecord::proxyEnable, isDlgButtonChecked(idc::kProxyEnable) ? 1 : 0);
    record.setText(ProxyRecord::proxyAddress, dlgItemText(idc::kProxyIp).toStdU16String());
    record.setNumber(ProxyRecord::proxyPort, leadingDecimal(dlgItemText(idc::kProxyPort).toStdU16String()));
    PostLog(this, SetProxy(*link, record) == 0 ? LogMessage::SetSuccess : LogMessage::SetFail, kProxyWord);
}

} // namespace orv
