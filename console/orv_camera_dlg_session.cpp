// The "User" and "Function" groups: login with its post-login synchronisation, the password
// change and the device actions.

#include "console/activity_log.h"
#include "console/console_ledger.h"
#include "console/control_ids.h"
#include "console/orv_camera_dlg.h"
#include "dialogkit/busy_cursor.h"
#include "dialogkit/ip_address_edit.h"
#include "link/camera_link.h"
#include "persist/settings.h"
#include "persist/setup_document.h"
#include "provision/camera_actions.h"
#include "provision/camera_groups.h"
#include "provision/camera_session.h"
#include "provision/setup_apply.h"

#include <QCheckBox>

namespace orv {
namespace {

using provision::CameraOutcome;
using provision::Group;

constexpr char16_t kUIdentifyWord[] = u"u identify";
// The U-identify switch is the function record's one field the console writes.
const std::string kUIdentifyKind(provision::groupName(Group::UIdentify));

bool loggedIn(const COrvCameraDlg& dlg)
{
    return dlg.link && dlg.link->loggedIn;
}

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
        loggedInNow = provision::openAndConnect(*link, address.toStdString()) &&
                      provision::checkLoginOnLink(*link, user, password) == provision::LoginOutcome::LoggedIn;
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
    if (setupLoaded == 1) {
        // The form came from a setup file: its switch wins over the camera's.
        provision::GroupResult result;
        {
            BusyCursor busy;
            result = provision::writeGroup(*link, Group::UIdentify,
                                           provision::formAssignments(Group::UIdentify, formValues()));
        }
        PostLog(this, result.outcome == CameraOutcome::Done ? LogMessage::SetSuccess : LogMessage::SetFail,
                kUIdentifyWord);
        recordInLedger(kUIdentifyKind, kUIdentifyKind, writeResult(result.outcome));
    } else {
        provision::GroupResult result;
        {
            BusyCursor busy;
            result = provision::readGroup(*link, Group::UIdentify);
        }
        if (result.outcome != CameraOutcome::Done) {
            PostLog(this, LogMessage::GetFail, kUIdentifyWord);
        } else {
            checkDlgButton(idc::kUIdentify, result.values.number(FunctionRecord::uIdentify.name) != 0);
            PostLog(this, LogMessage::GetSuccess, kUIdentifyWord);
        }
    }
    OnTimeGet();
}

void COrvCameraDlg::OnChangePasswd()
{
    if (!loggedIn(*this)) {
        return;
    }
    const CameraOutcome outcome = provision::changePassword(*link, dlgItemText(idc::kUserName).toStdU16String(),
                                                            dlgItemText(idc::kNewPassword).toStdU16String());
    PostLog(this, outcome == CameraOutcome::Done ? LogMessage::ChangePasswdSuccess : LogMessage::ChangePasswdFail);
    // Neither the account's name nor its password goes into the ledger.
    recordInLedger("passwd", {}, writeResult(outcome));
}

void COrvCameraDlg::OnUDisk()
{
    if (!loggedIn(*this)) {
        return;
    }
    const CameraOutcome outcome = provision::requestUDiskMode(*link);
    recordInLedger("udisk", {}, writeResult(outcome));
    if (outcome != CameraOutcome::Done) {
        // The camera never got the request, so it is still in network mode and usable.
        PostLog(this, LogMessage::UDiskModeFail);
        return;
    }
    EnableControls(false);
    PostLog(this, LogMessage::UDiskModeStartup);
    // The camera has left the network: this login is over.
    if (ledger_) {
        ledger_->forgetDeviceId();
    }
}

void COrvCameraDlg::OnTimeSync()
{
    if (!loggedIn(*this)) {
        return;
    }
    provision::ClockSyncResult result;
    {
        BusyCursor busy;
        result = provision::syncClock(*link);
    }
    PostLog(this, result.outcome == CameraOutcome::Done ? LogMessage::TimeSync : LogMessage::TimeSyncFail);
    recordInLedger("timesync", {}, writeResult(result.outcome));
}

void COrvCameraDlg::OnFactory()
{
    if (!loggedIn(*this)) {
        return;
    }
    const CameraOutcome outcome = provision::factoryReset(*link);
    PostLog(this, outcome == CameraOutcome::Done ? LogMessage::Factory : LogMessage::FactoryFail);
    recordInLedger("factory", {}, writeResult(outcome));
}

void COrvCameraDlg::OnFormatDisk()
{
    if (!loggedIn(*this)) {
        return;
    }
    const CameraOutcome outcome = provision::formatCard(*link);
    PostLog(this, outcome == CameraOutcome::Done ? LogMessage::FormatSdcard : LogMessage::FormatSdcardFail);
    recordInLedger("format", {}, writeResult(outcome));
}

void COrvCameraDlg::OnUIdentify()
{
    if (!loggedIn(*this)) {
        PostLog(this, LogMessage::SetFail, kUIdentifyWord);
        return;
    }
    const bool wanted = isDlgButtonChecked(idc::kUIdentify);
    provision::GroupResult result;
    {
        BusyCursor busy;
        result = provision::writeGroup(*link, Group::UIdentify,
                                       provision::formAssignments(Group::UIdentify, formValues()));
    }
    if (result.outcome == CameraOutcome::NotSent) {
        // The camera kept its old setting; the box must not claim otherwise.
        checkDlgButton(idc::kUIdentify, !wanted);
    }
    PostLog(this, result.outcome == CameraOutcome::Done ? LogMessage::SetSuccess : LogMessage::SetFail,
            kUIdentifyWord);
    recordInLedger(kUIdentifyKind, kUIdentifyKind, writeResult(result.outcome));
}

} // namespace orv
