// The six settings groups: each Get fills its fields from the camera, each Set writes them back.
// The reading and writing, and every rule of what a field's value means, are provision's (the same
// functions orvctl and the search tool use); this side knows which control shows which field.

#include "console/activity_log.h"
#include "console/console_ledger.h"
#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/busy_cursor.h"
#include "dialogkit/qtext.h"
#include "lang/utf.h"
#include "link/camera_link.h"
#include "link/records.h"
#include "persist/settings.h"
#include "persist/setup_document.h"
#include "provision/camera_groups.h"
#include "provision/setup_apply.h"

#include <QComboBox>

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace orv {
namespace {

using provision::CameraOutcome;
using provision::Group;
using provision::GroupResult;
using provision::GroupValues;

constexpr char16_t kPlatformWord[] = u"platform";
constexpr char16_t k4GWord[] = u"4g";
constexpr char16_t kWifiWord[] = u"wifi";
constexpr char16_t kDeviceInfoWord[] = u"device info";
constexpr char16_t kTimeWord[] = u"time";
constexpr char16_t kProxyWord[] = u"gb28181";

// Which control shows which field of a group; a field the group read does not hold is left as it is.
struct Binding
{
    const Field& field;
    int control;
};

const Binding kNet4gBindings[] = {
    {Net4gRecord::apn, idc::kApn},
    {Net4gRecord::apnUser, idc::kApnUser},
    {Net4gRecord::apnPassword, idc::kApnPassword},
};
const Binding kWifiBindings[] = {
    {WifiRecord::ssid, idc::kSsid},
    {WifiRecord::wifiPassword, idc::kWifiPassword},
};
const Binding kDeviceBindings[] = {
    {DeviceRecord::deviceId, idc::kDeviceId},     {DeviceRecord::policeId, idc::kPoliceId},
    {DeviceRecord::policeName, idc::kPoliceName}, {DeviceRecord::companyId, idc::kCoId},
    {DeviceRecord::companyName, idc::kCoName},    {DeviceRecord::screenPsk, idc::kScreenPsk},
};
// Both platforms' fields; a Get brings those of the platform the camera uses.
const Binding kPlatformBindings[] = {
    {TtxServerRecord::serverAddress, idc::kServerIp},
    {TtxServerRecord::serverPort, idc::kServerPort},
    {RtsServerRecord::rtsId, idc::kRtsId},
    {RtsServerRecord::rtsCode, idc::kRtsCode},
};

void showFields(COrvCameraDlg& dlg, const GroupValues& values, std::span<const Binding> bindings)
{
    for (const Binding& b : bindings) {
        const provision::FieldValue* v = values.find(b.field.name);
        if (v) {
            dlg.setDlgItemText(b.control, v->isText ? qtext(v->text) : QString::number(v->number));
        }
    }
}

bool loggedIn(const COrvCameraDlg& dlg)
{
    return dlg.link && dlg.link->loggedIn;
}

// The group read for a Get, under the busy cursor; nothing when logged out.
std::optional<GroupResult> read(COrvCameraDlg& dlg, Group group)
{
    if (!loggedIn(dlg)) {
        return std::nullopt;
    }
    BusyCursor busy;
    return provision::readGroup(*dlg.link, group);
}

// Shared by the plain groups (4G, Wifi, Device Info): the fields follow the tables above.
std::optional<GroupResult> plainGet(COrvCameraDlg& dlg, Group group, std::span<const Binding> bindings,
                                    const char16_t* word)
{
    std::optional<GroupResult> result = read(dlg, group);
    if (!result) {
        return std::nullopt;
    }
    if (result->outcome != CameraOutcome::Done) {
        PostLog(&dlg, LogMessage::GetFail, word);
        return std::nullopt;
    }
    showFields(dlg, result->values, bindings);
    PostLog(&dlg, LogMessage::GetSuccess, word);
    return result;
}

// Nothing when logged out; otherwise the write's result. A read-modify-write: the bytes the form
// does not show go back as the camera has them.
std::optional<GroupResult> plainSet(COrvCameraDlg& dlg, Group group, std::span<const provision::Assignment> fields,
                                    const char16_t* word)
{
    if (!loggedIn(dlg)) {
        return std::nullopt;
    }
    GroupResult result;
    {
        BusyCursor busy;
        result = provision::writeGroup(*dlg.link, group, fields);
    }
    PostLog(&dlg, result.outcome == CameraOutcome::Done ? LogMessage::SetSuccess : LogMessage::SetFail, word);
    return result;
}

std::string ledgerName(Group group)
{
    return std::string(provision::groupName(group));
}

} // namespace

void COrvCameraDlg::On4GGet()
{
    plainGet(*this, Group::Net4g, kNet4gBindings, k4GWord);
}

void COrvCameraDlg::On4GSet()
{
    const auto fields = provision::formAssignments(Group::Net4g, formValues());
    if (const auto result = plainSet(*this, Group::Net4g, fields, k4GWord)) {
        recordInLedger("set", ledgerName(Group::Net4g), writeResult(result->outcome));
    }
}

void COrvCameraDlg::OnWifiGet()
{
    plainGet(*this, Group::Wifi, kWifiBindings, kWifiWord);
}

void COrvCameraDlg::OnWifiSet()
{
    const auto fields = provision::formAssignments(Group::Wifi, formValues());
    if (const auto result = plainSet(*this, Group::Wifi, fields, kWifiWord)) {
        recordInLedger("set", ledgerName(Group::Wifi), writeResult(result->outcome));
    }
}

void COrvCameraDlg::OnDeviceInfoGet()
{
    const auto result = plainGet(*this, Group::Device, kDeviceBindings, kDeviceInfoWord);
    if (result && ledger_) {
        ledger_->deviceIdRead(utf::toUtf8(result->values.text(DeviceRecord::deviceId.name)));
    }
}

void COrvCameraDlg::OnDeviceInfoSet()
{
    // The console's form also shows the device id and the screen key, which a setup file does not
    // carry: its Set sends them as well.
    std::vector<provision::Assignment> fields = provision::formAssignments(Group::Device, formValues());
    fields.push_back(
        provision::textAssignment(Group::Device, DeviceRecord::deviceId, dlgItemText(idc::kDeviceId).toStdU16String()));
    fields.push_back(provision::textAssignment(Group::Device, DeviceRecord::screenPsk,
                                               dlgItemText(idc::kScreenPsk).toStdU16String()));
    const auto result = plainSet(*this, Group::Device, fields, kDeviceInfoWord);
    if (!result || !ledger_) {
        return;
    }
    const bool read = result->outcome != CameraOutcome::NoReply;
    const bool sent = result->outcome == CameraOutcome::Done;
    const auto text = [](const GroupValues& values, const Field& f) { return utf::toUtf8(values.text(f.name)); };
    if (read) {
        ledger_->deviceIdRead(text(result->before, DeviceRecord::deviceId));
    }
    ledger::Event event = ledger_->event("set");
    event.groups = ledgerName(Group::Device);
    event.result = writeResult(result->outcome);
    if (read) {
        event.officerBefore = text(result->before, DeviceRecord::policeId);
        event.unitBefore = text(result->before, DeviceRecord::companyName);
    }
    if (sent) {
        event.officerAfter = text(result->values, DeviceRecord::policeId);
        event.unitAfter = text(result->values, DeviceRecord::companyName);
    }
    ledger_->record(std::move(event));
    // The form's device id went out with the rest: once it differs from the one read, which id the
    // camera carries is not known until it is read again.
    if (sent && text(result->values, DeviceRecord::deviceId) != ledger_->deviceId()) {
        ledger_->forgetDeviceId();
    }
}

void COrvCameraDlg::OnPlatformGet()
{
    const std::optional<GroupResult> result = read(*this, Group::Platform);
    if (!result) {
        return;
    }
    // A platform choice other than 0 and 1 is a failed Get too.
    if (result->outcome != CameraOutcome::Done) {
        PostLog(this, LogMessage::GetFail, kPlatformWord);
        return;
    }
    const int row = result->platformChoice;
    showFields(*this, result->values, kPlatformBindings);
    auto* combo = dlgItem<QComboBox>(idc::kPlatform);
    const int previous = combo ? combo->currentIndex() : -1;
    if (combo) {
        combo->setCurrentIndex(row);
    }
    // Only a change of platform touches the settings file.
    if (previous != row) {
        CSettings::GetInstance().SavePlatform(row);
    }
    for (const Binding& b : kPlatformBindings) {
        QWidget* w = GetDlgItem(b.control);
        if (w && result->values.find(b.field.name)) {
            w->setEnabled(true);
        }
    }
    PostLog(this, LogMessage::GetSuccess, kPlatformWord);
}

void COrvCameraDlg::OnPlatformSet()
{
    if (!loggedIn(*this)) {
        return;
    }
    BusyCursor busy;
    // The camera's own platform decides which record goes out, whatever the combo shows.
    const GroupResult result =
        provision::writeGroup(*link, Group::Platform, provision::formAssignments(Group::Platform, formValues()),
                              provision::OtherPlatformFields::Skip);
    PostLog(this, result.outcome == CameraOutcome::Done ? LogMessage::SetSuccess : LogMessage::SetFail, kPlatformWord);
    if (result.outcome == CameraOutcome::UnknownPlatform) {
        recordInLedger("set", ledgerName(Group::Platform),
                       "failed: the camera's platform choice " + std::to_string(result.platformChoice) +
                           " is unknown, nothing sent");
    } else {
        recordInLedger("set", ledgerName(Group::Platform), writeResult(result.outcome));
    }
}

void COrvCameraDlg::OnTimeGet()
{
    const std::optional<GroupResult> result = read(*this, Group::Time);
    if (!result || result->outcome != CameraOutcome::Done) {
        PostLog(this, LogMessage::GetFail, kTimeWord);
        return;
    }
    checkDlgButton(idc::kSummerTime, result->values.number(TimeRecord::summerTime.name) != 0);
    if (auto* zone = dlgItem<QComboBox>(idc::kTimeZone)) {
        zone->setCurrentIndex(provision::timeZoneRow(result->values.number(TimeRecord::timeZone.name)));
    }
    PostLog(this, LogMessage::GetSuccess, kTimeWord);
}

void COrvCameraDlg::OnTimeSet()
{
    if (!loggedIn(*this)) {
        PostLog(this, LogMessage::SetFail, kTimeWord);
        return;
    }
    BusyCursor busy;
    // The computer's clock, and the zone and summer time from the form.
    const GroupResult result =
        provision::writeGroup(*link, Group::Time, provision::formAssignments(Group::Time, formValues()));
    PostLog(this, result.outcome == CameraOutcome::Done ? LogMessage::SetSuccess : LogMessage::SetFail, kTimeWord);
    recordInLedger("set", ledgerName(Group::Time), writeResult(result.outcome));
}

void COrvCameraDlg::OnProxyGet()
{
    const std::optional<GroupResult> result = read(*this, Group::Proxy);
    if (!result || result->outcome != CameraOutcome::Done) {
        PostLog(this, LogMessage::GetFail, kProxyWord);
        return;
    }
    checkDlgButton(idc::kProxyEnable, result->values.number(ProxyRecord::proxyEnable.name) != 0);
    setDlgItemText(idc::kProxyPort, QString::number(result->values.number(ProxyRecord::proxyPort.name)));
    setDlgItemText(idc::kProxyIp, qtext(result->values.text(ProxyRecord::proxyAddress.name)));
    PostLog(this, LogMessage::GetSuccess, kProxyWord);
}

void COrvCameraDlg::OnProxySet()
{
    if (!loggedIn(*this)) {
        PostLog(this, LogMessage::SetFail, kProxyWord);
        return;
    }
    // Built from the form alone, with no read first: the camera's other bytes are not carried over.
    const std::vector<provision::Assignment> fields =
        provision::proxyAssignments(isDlgButtonChecked(idc::kProxyEnable), dlgItemText(idc::kProxyIp).toStdU16String(),
                                    dlgItemText(idc::kProxyPort).toStdU16String());
    const GroupResult result = provision::writeGroupFromForm(*link, Group::Proxy, fields);
    PostLog(this, result.outcome == CameraOutcome::Done ? LogMessage::SetSuccess : LogMessage::SetFail, kProxyWord);
    recordInLedger("set", ledgerName(Group::Proxy), writeResult(result.outcome));
}

} // namespace orv
