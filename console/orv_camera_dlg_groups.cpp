// The six settings groups: each Get fills its fields from the camera, each Set writes them back.

#include "console/activity_log.h"
#include "console/console_ledger.h"
#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/busy_cursor.h"
#include "dialogkit/qtext.h"
#include "lang/utf.h"
#include "link/camera_link.h"
#include "link/commands.h"
#include "persist/decimal_text.h"
#include "persist/settings.h"

#include <QComboBox>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace orv {
namespace {

constexpr char16_t kPlatformWord[] = u"platform";
constexpr char16_t k4GWord[] = u"4g";
constexpr char16_t kWifiWord[] = u"wifi";
constexpr char16_t kDeviceInfoWord[] = u"device info";
constexpr char16_t kTimeWord[] = u"time";
constexpr char16_t kProxyWord[] = u"gb28181";

// The groups as the ledger names them, the same for every tool.
constexpr char kPlatformGroup[] = "platform";
constexpr char k4GGroup[] = "4g";
constexpr char kWifiGroup[] = "wifi";
constexpr char kDeviceGroup[] = "device";
constexpr char kTimeGroup[] = "time";
constexpr char kProxyGroup[] = "proxy";

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
// True when the record was read and shown.
template <class Record, std::size_t N>
static bool plainGet(COrvCameraDlg& dlg, const TextBinding (&bindings)[N], const char16_t* word, Record& record)
{
    if (!dlg.link || !dlg.link->loggedIn) {
        return false;
    }
    int read = -1;
    {
        BusyCursor busy;
        read = GetConfig(*dlg.link, record);
    }
    if (read != 0) {
        PostLog(&dlg, LogMessage::GetFail, word);
        return false;
    }
    for (const TextBinding& b : bindings) {
        dlg.setDlgItemText(b.control, qtext(record.text(b.field)));
    }
    PostLog(&dlg, LogMessage::GetSuccess, word);
    return true;
}

// Nothing when logged out; otherwise the outcome, `record` as sent and, when `read` is given,
// the record as the camera sent it before the form's fields went in.
template <class Record, std::size_t N>
static std::optional<WriteOutcome> plainSet(COrvCameraDlg& dlg, const TextBinding (&bindings)[N],
                                            const char16_t* word, Record& record, Record* read = nullptr)
{
    if (!dlg.link || !dlg.link->loggedIn) {
        return std::nullopt;
    }
    WriteOutcome outcome = WriteOutcome::ReadFailed;
    {
        BusyCursor busy;
        // Read first so that the bytes the form does not show go back as the camera has them.
        outcome = ReadModifyWrite(*dlg.link, record, [&](Record& r) {
            if (read) {
                *read = r;
            }
            for (const TextBinding& b : bindings) {
                r.setText(b.field, dlg.dlgItemText(b.control).toStdU16String());
            }
        });
    }
    PostLog(&dlg, outcome == WriteOutcome::Sent ? LogMessage::SetSuccess : LogMessage::SetFail, word);
    return outcome;
}

void COrvCameraDlg::On4GGet()
{
    Net4gRecord record;
    plainGet(*this, kNet4gBindings, k4GWord, record);
}

void COrvCameraDlg::On4GSet()
{
    Net4gRecord record;
    if (const auto outcome = plainSet(*this, kNet4gBindings, k4GWord, record)) {
        recordInLedger("set", k4GGroup, writeResult(*outcome));
    }
}

void COrvCameraDlg::OnWifiGet()
{
    WifiRecord record;
    plainGet(*this, kWifiBindings, kWifiWord, record);
}

void COrvCameraDlg::OnWifiSet()
{
    WifiRecord record;
    if (const auto outcome = plainSet(*this, kWifiBindings, kWifiWord, record)) {
        recordInLedger("set", kWifiGroup, writeResult(*outcome));
    }
}

void COrvCameraDlg::OnDeviceInfoGet()
{
    DeviceRecord record;
    if (plainGet(*this, kDeviceBindings, kDeviceInfoWord, record) && ledger_) {
        ledger_->deviceIdRead(utf::toUtf8(record.text(DeviceRecord::deviceId)));
    }
}

void COrvCameraDlg::OnDeviceInfoSet()
{
    DeviceRecord sent;
    DeviceRecord read;
    const auto outcome = plainSet(*this, kDeviceBindings, kDeviceInfoWord, sent, &read);
    if (!outcome || !ledger_) {
        return;
    }
    const auto text = [](const DeviceRecord& r, const Field& f) { return utf::toUtf8(r.text(f)); };
    if (*outcome != WriteOutcome::ReadFailed) {
        ledger_->deviceIdRead(text(read, DeviceRecord::deviceId));
    }
    ledger::Event event = ledger_->event("set");
    event.groups = kDeviceGroup;
    event.result = writeResult(*outcome);
    if (*outcome != WriteOutcome::ReadFailed) {
        event.officerBefore = text(read, DeviceRecord::policeId);
        event.unitBefore = text(read, DeviceRecord::companyName);
    }
    if (*outcome == WriteOutcome::Sent) {
        event.officerAfter = text(sent, DeviceRecord::policeId);
        event.unitAfter = text(sent, DeviceRecord::companyName);
    }
    ledger_->record(std::move(event));
    // The form's device id went out with the rest: once it differs from the one read, which id the
    // camera carries is not known until it is read again.
    if (*outcome == WriteOutcome::Sent && text(sent, DeviceRecord::deviceId) != ledger_->deviceId()) {
        ledger_->forgetDeviceId();
    }
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
        recordInLedger("set", kPlatformGroup, writeResult(WriteOutcome::ReadFailed));
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
    if (choice != kPlatformTtx && choice != kPlatformRts) {
        recordInLedger("set", kPlatformGroup,
                       "failed: the camera's platform choice " + std::to_string(choice) + " is unknown, nothing sent");
    } else {
        recordInLedger("set", kPlatformGroup, writeResult(outcome));
    }
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
        recordInLedger("set", kTimeGroup, writeResult(WriteOutcome::ReadFailed));
        return;
    }
    putLocalClock(record);
    record.setNumber(TimeRecord::summerTime, isDlgButtonChecked(idc::kSummerTime) ? 1 : 0);
    const auto* zone = dlgItem<QComboBox>(idc::kTimeZone);
    // No row selected (-1) keeps its low byte: 255.
    record.setNumber(TimeRecord::timeZone, static_cast<std::uint8_t>(zone ? zone->currentIndex() : -1));
    const bool sent = SetTime(*link, record) == 0;
    PostLog(this, sent ? LogMessage::SetSuccess : LogMessage::SetFail, kTimeWord);
    recordInLedger("set", kTimeGroup, sendResult(sent));
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
    const bool sent = SetProxy(*link, record) == 0;
    PostLog(this, sent ? LogMessage::SetSuccess : LogMessage::SetFail, kProxyWord);
    recordInLedger("set", kProxyGroup, sendResult(sent));
}

} // namespace orv
