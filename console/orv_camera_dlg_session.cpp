// The "User" and "Function" groups: login with its post-login synchronisation, the password
// change and the device actions.

#include "console/activity_log.h"
#include "console/console_ledger.h"
#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/busy_cursor.h"
#include "dialogkit/ip_address_edit.h"
#include "link/camera_link.h"
#include "link/commands.h"
#include "persist/settings.h"

#include <QCheckBox>

namespace orv {
namespace {

constexpr char16_t kUIdentifyWord[] = u"u identify";
// The U-identify switch is the function record's one field the console writes.
constexpr char kUIdentifyKind[] = "uidentify";

} // namespace

void COrvCameraDlg::OnLogin()
{
    CSettings& settings = CSettings::GetInstance();
    const std::u16string user = dlgItemText(idc::kUserName).toStdU16String();
    const std::u16string password = dlgItemText(idc::kPassword).toStdU16String();
    const auto* addressEdit = dlgItem<IpAddressEdit>(idc::kCameraIp);
    const QString address = addressEdit ? addressEdit->text() : QStringLiteral("0.0.0.0");

    // Remembered before connecting, so the operator's entry survives a failed attempt.
    settings.RememberLogin(isDlgButtonChecked(idc::kHold), address.toStdU16String(), user, password);
    // Whatever the earlier login read belongs to that login.
    if (ledger_) {
        ledger_->loginStarted(cameraPlace(address.toStdString()));
    }

    bool loggedInNow = false;
    if (link && socketsReady) {
        BusyCursor busy;
        loggedInNow = link->Open() && link->Connect(address.toStdString()) && CheckLogin(*link, user, password) == 1;
    }
    if (loggedInNow) {
        EnableControls(true);
        PostLog(this, LogMessage::LoginSuccess);
        SyncAfterLogin();
        return;
    }
    if (link) {
        link->Close();
    }
    EnableControls(false);
    PostLog(this, LogMessage::LoginFail);
}

void COrvCameraDlg::SyncAfterLogin()
{
    FunctionRecord record;
    int read = -1;
    {
        BusyCursor busy;
        read = GetConfig(*link, record);
    }
    if (read != 0) {
        PostLog(this, setupLoaded == 1 ? LogMessage::SetFail : LogMessage::GetFail, kUIdentifyWord);
        if (setupLoaded == 1) {
            recordInLedger(kUIdentifyKind, kUIdentifyKind, writeResult(WriteOutcome::ReadFailed));
        }
    } else if (setupLoaded == 1) {
        // The form came from a setup file: its switch wins over the camera's.
        record.setNumber(FunctionRecord::uIdentify, isDlgButtonChecked(idc::kUIdentify) ? 1 : 0);
        const int sent = SetConfig(*link, record);
        PostLog(this, sent == 0 ? LogMessage::SetSuccess : LogMessage::SetFail, kUIdentifyWord);
        recordInLedger(kUIdentifyKind, kUIdentifyKind, sendResult(sent == 0));
    } else {
        checkDlgButton(idc::kUIdentify, record.number(FunctionRecord::uIdentify) != 0);
        PostLog(this, LogMessage::GetSuccess, kUIdentifyWord);
    }
    OnTimeGet();
}

void COrvCameraDlg::OnChangePasswd()
{
    if (!link || !link->loggedIn) {
        return;
    }
    const int sent = ChangePassword(*link, dlgItemText(idc::kUserName).toStdU16String(),
                                    dlgItemText(idc::kNewPassword).toStdU16String());
    PostLog(this, sent == 0 ? LogMessage::ChangePasswdSuccess : LogMessage::ChangePasswdFail);
    // Neither the account's name nor its password goes into the ledger.
    recordInLedger("passwd", {}, sendResult(sent == 0));
}

void COrvCameraDlg::OnUDisk()
{
    if (!link || !link->loggedIn) {
        return;
    }
    if (RequestUDiskMode(*link) != 0) {
        // The camera never got the request, so it is still in network mode and usable.
        PostLog(this, LogMessage::UDiskModeFail);
        recordInLedger("udisk", {}, sendResult(false));
        return;
    }
    EnableControls(false);
    PostLog(this, LogMessage::UDiskModeStartup);
    recordInLedger("udisk", {}, sendResult(true));
    // The camera has left the network: this login is over.
    if (ledger_) {
        ledger_->forgetDeviceId();
    }
}

void COrvCameraDlg::OnTimeSync()
{
    if (!link || !link->loggedIn) {
        return;
    }
    int result = -1;
    {
        BusyCursor busy;
        result = SyncClock(*link);
    }
    PostLog(this, result == 0 ? LogMessage::TimeSync : LogMessage::TimeSyncFail);
    recordInLedger("timesync", {},
                   writeResult(result == 0    ? WriteOutcome::Sent
                               : result == -1 ? WriteOutcome::ReadFailed
                                              : WriteOutcome::SendFailed));
}

void COrvCameraDlg::OnFactory()
{
    if (!link || !link->loggedIn) {
        return;
    }
    const bool sent = FactoryReset(*link) == 0;
    PostLog(this, sent ? LogMessage::Factory : LogMessage::FactoryFail);
    recordInLedger("factory", {}, sendResult(sent));
}

void COrvCameraDlg::OnFormatDisk()
{
    if (!link || !link->loggedIn) {
        return;
    }
    const bool sent = FormatCard(*link) == 0;
    PostLog(this, sent ? LogMessage::FormatSdcard : LogMessage::FormatSdcardFail);
    recordInLedger("format", {}, sendResult(sent));
}

void COrvCameraDlg::OnUIdentify()
{
    if (!link || !link->loggedIn) {
        PostLog(this, LogMessage::SetFail, kUIdentifyWord);
        return;
    }
    const bool wanted = isDlgButtonChecked(idc::kUIdentify);
    FunctionRecord record;
    WriteOutcome outcome = WriteOutcome::ReadFailed;
    {
        BusyCursor busy;
        outcome = ReadModifyWrite(
            *link, record, [wanted](FunctionRecord& r) { r.setNumber(FunctionRecord::uIdentify, wanted ? 1 : 0); });
    }
    if (outcome == WriteOutcome::SendFailed) {
        // The camera kept its old setting; the box must not claim otherwise.
        checkDlgButton(idc::kUIdentify, !wanted);
    }
    PostLog(this, outcome == WriteOutcome::Sent ? LogMessage::SetSuccess : LogMessage::SetFail, kUIdentifyWord);
    recordInLedger(kUIdentifyKind, kUIdentifyKind, writeResult(outcome));
}

} // namespace orv
